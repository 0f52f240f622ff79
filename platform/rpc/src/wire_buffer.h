// The two primitives every encoder and decoder of the runtime stands on: a
// writer that appends little-endian values with zero gap bytes, and a reader
// that checks what remains before every read. Alignment is relative to the
// start of the buffer (a PDU, or a reassembled stub).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace platform::rpc::wire {

class Writer {
public:
    // Room for a typical PDU from the start, so that writing one grows the
    // buffer once rather than at every doubling.
    Writer() { bytes_.reserve(kTypicalSize); }

    void U8(uint8_t value) { bytes_.push_back(value); }
    void U16(uint16_t value);
    void U32(uint32_t value);
    void Bytes(const void* data, size_t size);
    void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    // Appends zero bytes up to the next multiple of n (a power of two).
    void Align(size_t n) { Zeros((n - bytes_.size() % n) % n); }
    // Overwrites a value written earlier. REQUIRES: at + 2 (4) <= size().
    void PatchU16(size_t at, uint16_t value);
    void PatchU32(size_t at, uint32_t value);

    size_t size() const { return bytes_.size(); }
    std::vector<uint8_t>& bytes() { return bytes_; }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    static constexpr size_t kTypicalSize = 256;
    std::vector<uint8_t> bytes_;
};

// Reads from a buffer it does not own. Every operation returns false, and
// reads nothing, when the buffer does not hold enough bytes.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Need(size_t count) const { return count <= size_ - at_; }
    bool Align(size_t n);
    bool Skip(size_t count);
    bool U8(uint8_t& value);
    bool U16(uint16_t& value);
    bool U32(uint32_t& value);
    bool I32(int32_t& value);
    bool Bytes(void* out, size_t count);
    // Points at the next count bytes and moves past them.
    bool View(const uint8_t*& at, size_t count);

    size_t offset() const { return at_; }
    size_t remaining() const { return size_ - at_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace platform::rpc::wire
