// A growable memory stream: enough of IStream for marshalling and for tests.
#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#include "platform/combase.h"

namespace {

constexpr DWORD kSeekSet = 0;
constexpr DWORD kSeekCurrent = 1;
constexpr DWORD kSeekEnd = 2;
constexpr HRESULT kStgInvalidFunction = static_cast<HRESULT>(0x80030001);

class MemoryStream final : public IStream {
public:
    MemoryStream(const BYTE* initial, UINT32 size) {
        if (initial != nullptr) bytes_.assign(initial, initial + size);
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IUnknown::IID_ || riid == ISequentialStream::IID_ || riid == IStream::IID_) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG remaining = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (remaining == 0) delete this;
        return remaining;
    }

    HRESULT Read(void* buffer, ULONG size, ULONG* read) override {
        std::lock_guard guard(mutex_);
        size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
        size_t count = size < available ? size : available;
        if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        if (read != nullptr) *read = static_cast<ULONG>(count);
        return count == size ? S_OK : S_FALSE;
    }
    HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
        std::lock_guard guard(mutex_);
        if (position_ + size > bytes_.size()) bytes_.resize(position_ + size);
        if (size > 0) std::memcpy(bytes_.data() + position_, buffer, size);
        position_ += size;
        if (written != nullptr) *written = size;
        return S_OK;
    }
    HRESULT Seek(int64_t move, DWORD origin, uint64_t* newPosition) override {
        std::lock_guard guard(mutex_);
        int64_t base = origin == kSeekSet       ? 0
                       : origin == kSeekCurrent ? static_cast<int64_t>(position_)
                       : origin == kSeekEnd     ? static_cast<int64_t>(bytes_.size())
                                                : -1;
        if (base < 0 || base + move < 0) return kStgInvalidFunction;
        position_ = static_cast<size_t>(base + move);
        if (newPosition != nullptr) *newPosition = position_;
        return S_OK;
    }
    HRESULT SetSize(uint64_t newSize) override {
        std::lock_guard guard(mutex_);
        bytes_.resize(static_cast<size_t>(newSize));
        return S_OK;
    }
    HRESULT CopyTo(IStream* target, uint64_t size, uint64_t* read, uint64_t* written) override {
        std::vector<BYTE> chunk(static_cast<size_t>(size));
        ULONG got = 0;
        Read(chunk.data(), static_cast<ULONG>(chunk.size()), &got);
        ULONG put = 0;
        HRESULT hr = target->Write(chunk.data(), got, &put);
        if (read != nullptr) *read = got;
        if (written != nullptr) *written = put;
        return hr;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(uint64_t, uint64_t, DWORD) override { return kStgInvalidFunction; }
    HRESULT UnlockRegion(uint64_t, uint64_t, DWORD) override { return kStgInvalidFunction; }
    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return E_POINTER;
        std::lock_guard guard(mutex_);
        *stat = STATSTG{};
        stat->type = 2;  // a stream
        stat->cbSize = bytes_.size();
        return S_OK;
    }
    HRESULT Clone(IStream** clone) override {
        if (clone == nullptr) return E_POINTER;
        std::lock_guard guard(mutex_);
        auto* copy = new (std::nothrow) MemoryStream(bytes_.data(), static_cast<UINT32>(bytes_.size()));
        if (copy == nullptr) return E_OUTOFMEMORY;
        copy->position_ = position_;
        *clone = copy;
        return S_OK;
    }

private:
    ~MemoryStream() = default;

    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    std::vector<BYTE> bytes_;
    size_t position_ = 0;
};

}  // namespace

extern "C" IStream* SHCreateMemStream(const BYTE* initial, UINT32 size) {
    return new (std::nothrow) MemoryStream(initial, size);
}
