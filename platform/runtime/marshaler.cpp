// The free-threaded marshaler. Objects of this runtime may be called from any
// thread, so "marshalling" one to another thread of the same process means
// handing over the pointer itself: the stream carries the pointer, holding
// one reference until it is unmarshalled or released.
#include <atomic>
#include <new>

#include "platform/combase.h"

namespace {

constexpr DWORD kContextInProcess = 3;
constexpr DWORD kContextCrossContext = 4;

bool IsInProcess(DWORD context) { return context == kContextInProcess || context == kContextCrossContext; }

HRESULT WritePointer(IStream* stream, IUnknown* pointer) {
    ULONG written = 0;
    HRESULT hr = stream->Write(&pointer, sizeof pointer, &written);
    if (FAILED(hr)) return hr;
    return written == sizeof pointer ? S_OK : E_FAIL;
}

HRESULT ReadPointer(IStream* stream, IUnknown** pointer) {
    ULONG read = 0;
    HRESULT hr = stream->Read(pointer, sizeof *pointer, &read);
    if (FAILED(hr)) return hr;
    return read == sizeof *pointer && *pointer != nullptr ? S_OK : E_INVALIDARG;
}

// Reads the marshalled pointer, queries it for riid and drops the reference
// the stream held.
HRESULT UnmarshalPointer(IStream* stream, REFIID riid, void** object) {
    if (stream == nullptr || object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    IUnknown* marshalled = nullptr;
    HRESULT hr = ReadPointer(stream, &marshalled);
    if (FAILED(hr)) return hr;
    hr = marshalled->QueryInterface(riid, object);
    marshalled->Release();
    return hr;
}

// Drops the reference that marshalled data holds.
HRESULT ReleasePointer(IStream* stream) {
    if (stream == nullptr) return E_INVALIDARG;
    IUnknown* marshalled = nullptr;
    HRESULT hr = ReadPointer(stream, &marshalled);
    if (FAILED(hr)) return hr;
    marshalled->Release();
    return S_OK;
}

// The IMarshal face: its IUnknown calls go to the outer object.
class MarshalFace final : public IMarshal {
public:
    explicit MarshalFace(IUnknown* outer) : outer_(outer) {}

    HRESULT QueryInterface(REFIID riid, void** object) override { return outer_->QueryInterface(riid, object); }
    ULONG AddRef() override { return outer_->AddRef(); }
    ULONG Release() override { return outer_->Release(); }

    HRESULT GetUnmarshalClass(REFIID, void*, DWORD context, void*, DWORD, CLSID* clsid) override {
        if (clsid == nullptr) return E_POINTER;
        if (!IsInProcess(context)) return E_INVALIDARG;  // only in-process contexts exist here
        *clsid = CLSID_InProcFreeMarshaler;
        return S_OK;
    }
    HRESULT GetMarshalSizeMax(REFIID, void*, DWORD context, void*, DWORD, DWORD* size) override {
        if (size == nullptr) return E_POINTER;
        if (!IsInProcess(context)) return E_INVALIDARG;
        *size = sizeof(IUnknown*);
        return S_OK;
    }
    HRESULT MarshalInterface(IStream* stream, REFIID riid, void* pv, DWORD context, void*, DWORD) override {
        if (stream == nullptr || pv == nullptr) return E_INVALIDARG;
        if (!IsInProcess(context)) return E_INVALIDARG;
        IUnknown* reference = nullptr;
        HRESULT hr = static_cast<IUnknown*>(pv)->QueryInterface(riid, reinterpret_cast<void**>(&reference));
        if (FAILED(hr)) return hr;
        hr = WritePointer(stream, reference);
        if (FAILED(hr)) reference->Release();
        return hr;
    }
    HRESULT UnmarshalInterface(IStream* stream, REFIID riid, void** pv) override {
        return UnmarshalPointer(stream, riid, pv);
    }
    HRESULT ReleaseMarshalData(IStream* stream) override { return ReleasePointer(stream); }
    HRESULT DisconnectObject(DWORD) override { return S_OK; }

private:
    IUnknown* outer_;  // not counted: the outer object owns this marshaler
};

// The non-delegating IUnknown that the outer object holds.
class FreeThreadedMarshaler final : public IUnknown {
public:
    explicit FreeThreadedMarshaler(IUnknown* outer) : marshal_(outer) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IUnknown::IID_) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IMarshal::IID_) {
            *object = static_cast<IMarshal*>(&marshal_);
            marshal_.AddRef();
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

private:
    ~FreeThreadedMarshaler() = default;

    std::atomic<ULONG> references_{1};
    MarshalFace marshal_;
};

}  // namespace

extern "C" {

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler) {
    if (marshaler == nullptr) return E_INVALIDARG;
    *marshaler = nullptr;
    if (outer == nullptr) return E_INVALIDARG;
    auto* created = new (std::nothrow) FreeThreadedMarshaler(outer);
    if (created == nullptr) return E_OUTOFMEMORY;
    *marshaler = created;
    return S_OK;
}

HRESULT CoMarshalInterface(IStream* stream, REFIID riid, IUnknown* object, DWORD destContext,
                           void* destContextData, DWORD flags) {
    if (stream == nullptr || object == nullptr) return E_INVALIDARG;
    IMarshal* marshal = nullptr;
    HRESULT hr = object->QueryInterface(IMarshal::IID_, reinterpret_cast<void**>(&marshal));
    if (FAILED(hr)) return hr;
    CLSID unmarshaller{};
    hr = marshal->GetUnmarshalClass(riid, object, destContext, destContextData, flags, &unmarshaller);
    ULONG written = 0;
    if (SUCCEEDED(hr)) hr = stream->Write(&unmarshaller, sizeof unmarshaller, &written);
    if (SUCCEEDED(hr)) hr = marshal->MarshalInterface(stream, riid, object, destContext, destContextData, flags);
    marshal->Release();
    return hr;
}

HRESULT CoUnmarshalInterface(IStream* stream, REFIID riid, void** object) {
    if (stream == nullptr || object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    CLSID unmarshaller{};
    ULONG read = 0;
    HRESULT hr = stream->Read(&unmarshaller, sizeof unmarshaller, &read);
    if (FAILED(hr)) return hr;
    if (read != sizeof unmarshaller) return E_INVALIDARG;
    if (!(unmarshaller == CLSID_InProcFreeMarshaler)) return REGDB_E_CLASSNOTREG;
    return UnmarshalPointer(stream, riid, object);
}

HRESULT CoReleaseMarshalData(IStream* stream) {
    if (stream == nullptr) return E_INVALIDARG;
    CLSID unmarshaller{};
    ULONG read = 0;
    HRESULT hr = stream->Read(&unmarshaller, sizeof unmarshaller, &read);
    if (FAILED(hr)) return hr;
    if (read != sizeof unmarshaller) return E_INVALIDARG;
    if (!(unmarshaller == CLSID_InProcFreeMarshaler)) return REGDB_E_CLASSNOTREG;
    return ReleasePointer(stream);
}

}  // extern "C"
