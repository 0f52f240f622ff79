#include "wire_buffer.h"

#include <cstring>

namespace platform::rpc::wire {

void Writer::U16(uint16_t value) {
    U8(static_cast<uint8_t>(value));
    U8(static_cast<uint8_t>(value >> 8));
}

void Writer::U32(uint32_t value) {
    U16(static_cast<uint16_t>(value));
    U16(static_cast<uint16_t>(value >> 16));
}

void Writer::Bytes(const void* data, size_t size) {
    const auto* first = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), first, first + size);
}

void Writer::PatchU16(size_t at, uint16_t value) {
    bytes_[at] = static_cast<uint8_t>(value);
    bytes_[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Writer::PatchU32(size_t at, uint32_t value) {
    PatchU16(at, static_cast<uint16_t>(value));
    PatchU16(at + 2, static_cast<uint16_t>(value >> 16));
}

bool Reader::Align(size_t n) { return Skip((n - at_ % n) % n); }

bool Reader::Skip(size_t count) {
    if (!Need(count)) return false;
    at_ += count;
    return true;
}

bool Reader::U8(uint8_t& value) {
    if (!Need(1)) return false;
    value = data_[at_++];
    return true;
}

bool Reader::U16(uint16_t& value) {
    if (!Need(2)) return false;
    value = static_cast<uint16_t>(data_[at_] | (data_[at_ + 1] << 8));
    at_ += 2;
    return true;
}

bool Reader::U32(uint32_t& value) {
    if (!Need(4)) return false;
    value = static_cast<uint32_t>(data_[at_]) | (static_cast<uint32_t>(data_[at_ + 1]) << 8) |
            (static_cast<uint32_t>(data_[at_ + 2]) << 16) | (static_cast<uint32_t>(data_[at_ + 3]) << 24);
    at_ += 4;
    return true;
}

bool Reader::I32(int32_t& value) {
    uint32_t raw = 0;
    if (!U32(raw)) return false;
    value = static_cast<int32_t>(raw);
    return true;
}

bool Reader::Bytes(void* out, size_t count) {
    const uint8_t* at = nullptr;
    if (!View(at, count)) return false;
    if (count != 0) std::memcpy(out, at, count);
    return true;
}

bool Reader::View(const uint8_t*& at, size_t count) {
    if (!Need(count)) return false;
    at = data_ + at_;
    at_ += count;
    return true;
}

}  // namespace platform::rpc::wire
