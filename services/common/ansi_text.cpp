#include "ansi_text.h"

#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <memory>

#include "platform/text.h"

namespace morvala::services {
namespace {

struct ConverterClose {
    void operator()(UConverter* converter) const noexcept { ucnv_close(converter); }
};
using UniqueConverter = std::unique_ptr<UConverter, ConverterClose>;

// The ICU converter name of a Windows code page: ICU knows them as
// "windows-<n>" except the DOS and UTF-8 ones.
std::string ConverterName(UINT codePage) {
    if (codePage == CP_UTF8) return "UTF-8";
    if (codePage == 437) return "ibm-437";
    return "windows-" + std::to_string(codePage);
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    return std::u16string(unicode.getBuffer(), static_cast<size_t>(unicode.length()));
}

std::string Utf16ToUtf8(std::u16string_view text) {
    icu::UnicodeString unicode(text.data(), static_cast<int32_t>(text.size()));
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

std::string EncodeAnsi(std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    UniqueConverter converter(ucnv_open(ConverterName(GetACP()).c_str(), &status));
    if (U_FAILURE(status) || !converter) return {};
    auto length = static_cast<int32_t>(text.size());
    std::string bytes(static_cast<size_t>(UCNV_GET_MAX_BYTES_FOR_STRING(length, ucnv_getMaxCharSize(converter.get()))), '\0');
    status = U_ZERO_ERROR;
    int32_t written = ucnv_fromUChars(converter.get(), bytes.data(), static_cast<int32_t>(bytes.size()), text.data(),
                                      length, &status);
    if (U_FAILURE(status)) return {};
    bytes.resize(static_cast<size_t>(written));
    return bytes;
}

}  // namespace morvala::services
