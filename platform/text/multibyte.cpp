// MultiByteToWideChar over ICU's converters, whose windows-* tables are the
// platform's own code pages. Code page 932 is walked character by character
// here, because the platform maps a few single bytes that ICU's table leaves
// unassigned and turns a lead byte without its trail byte into the default
// character.
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "platform/text.h"

namespace {

constexpr WCHAR kDefault932 = 0x30FB;  // the platform's default character of code page 932

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterHandle = std::unique_ptr<UConverter, ConverterCloser>;

const char* IcuName(UINT codePage) {
    switch (codePage) {
        case 874: return "windows-874";
        case 932: return "windows-932";
        case 936: return "windows-936";
        case 949: return "windows-949";
        case 950: return "windows-950";
        case 1250: return "windows-1250";
        case 1251: return "windows-1251";
        case 1252: return "windows-1252";
        case 1253: return "windows-1253";
        case 1254: return "windows-1254";
        case 1255: return "windows-1255";
        case 1256: return "windows-1256";
        case 1257: return "windows-1257";
        case 1258: return "windows-1258";
        case 437: return "ibm-437";
        case CP_UTF8: return "UTF-8";
        default: return nullptr;
    }
}

// A converter for the code page, kept per thread; null for an unknown page.
UConverter* ConverterFor(UINT codePage) {
    thread_local std::map<UINT, ConverterHandle> converters;
    auto found = converters.find(codePage);
    if (found != converters.end()) return found->second.get();
    const char* name = IcuName(codePage);
    if (name == nullptr) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    ConverterHandle converter(ucnv_open(name, &status));
    if (U_FAILURE(status) || !converter) return nullptr;
    return converters.emplace(codePage, std::move(converter)).first->second.get();
}

// Converts with ICU; `strict` stops at the first byte sequence the page does
// not define. False when the page is unknown or (strict) the input invalid.
bool ConvertWithIcu(UConverter* converter, const char* source, size_t length, bool strict, std::u16string& out) {
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(converter);
    ucnv_setToUCallBack(converter, strict ? UCNV_TO_U_CALLBACK_STOP : UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr,
                        nullptr, nullptr, &status);
    out.resize(length * 2 + 2);
    auto* target = reinterpret_cast<UChar*>(out.data());
    UChar* end = target + out.size();
    const char* input = source;
    status = U_ZERO_ERROR;
    ucnv_toUnicode(converter, &target, end, &input, source + length, nullptr, true, &status);
    out.resize(static_cast<size_t>(target - reinterpret_cast<UChar*>(out.data())));
    return U_SUCCESS(status);
}

bool IsLead932(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// One single byte of code page 932 that is not a lead byte.
WCHAR Single932(unsigned char byte) {
    if (byte < 0x80) return byte;
    if (byte == 0x80) return 0x0080;
    if (byte == 0xA0) return 0xF8F0;
    if (byte >= 0xA1 && byte <= 0xDF) return static_cast<WCHAR>(0xFF61 + (byte - 0xA1));
    return static_cast<WCHAR>(0xF8F1 + (byte - 0xFD));  // 0xFD..0xFF
}

bool Convert932(UConverter* converter, const char* source, size_t length, bool strict, std::u16string& out) {
    out.clear();
    std::u16string pair;
    for (size_t i = 0; i < length; ++i) {
        auto byte = static_cast<unsigned char>(source[i]);
        if (!IsLead932(byte)) {
            out.push_back(Single932(byte));
            continue;
        }
        bool hasTrail = i + 1 < length && source[i + 1] != 0;
        if (!hasTrail) {
            if (strict) return false;
            out.push_back(kDefault932);  // a NUL after it is converted on its own
            continue;
        }
        bool defined = ConvertWithIcu(converter, source + i, 2, true, pair) && pair.size() == 1 && pair[0] != 0x1A;
        if (!defined && strict) return false;
        out.push_back(defined ? pair[0] : kDefault932);
        ++i;
    }
    return true;
}

UINT Resolve(UINT codePage) {
    if (codePage == CP_ACP) return GetACP();
    if (codePage == CP_OEMCP) return GetOEMCP();
    return codePage;
}

int Fail(LONG code) {
    SetLastError(static_cast<DWORD>(code));
    return 0;
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int byteCount, WCHAR* destination,
                                   int capacity) {
    if ((flags & ~(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS)) != 0) return Fail(ERROR_INVALID_FLAGS);
    if (source == nullptr || byteCount == 0 || capacity < 0 || (destination == nullptr && capacity != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t length = byteCount < 0 ? std::strlen(source) + 1 : static_cast<size_t>(byteCount);
    UINT page = Resolve(codePage);
    UConverter* converter = ConverterFor(page);
    if (converter == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    std::u16string converted;
    try {
        bool ok = page == 932 ? Convert932(converter, source, length, strict, converted)
                              : ConvertWithIcu(converter, source, length, strict, converted);
        if (!ok) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (capacity == 0) return static_cast<int>(converted.size());
    size_t fitting = converted.size() < static_cast<size_t>(capacity) ? converted.size() : static_cast<size_t>(capacity);
    std::memcpy(destination, converted.data(), fitting * sizeof(WCHAR));
    if (fitting < converted.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(fitting);
}
