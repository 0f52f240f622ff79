#include "unicode.h"

#include <cstdio>

namespace morvala::cli {
namespace {

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t code) {
    if (code < 0x10000) {
        out += static_cast<char16_t>(code);
    } else {
        code -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (code >> 10));
        out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    }
}

// Decodes one UTF-8 sequence at text[i]; advances i. nullopt when malformed.
std::optional<char32_t> DecodeOne(std::string_view text, size_t& i) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    int extra;
    char32_t code;
    char32_t minimum;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, code = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (i + static_cast<size_t>(extra) >= text.size()) return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
    i += static_cast<size_t>(extra) + 1;
    return code;
}

}  // namespace

bool IsSurrogatePair(std::u16string_view units, size_t i) {
    return i + 1 < units.size() && IsHigh(units[i]) && IsLow(units[i + 1]);
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        std::optional<char32_t> code = DecodeOne(text, i);
        if (!code) return std::nullopt;
        AppendUtf16(out, *code);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        if (IsSurrogatePair(units, i)) {
            AppendUtf8(out, 0x10000 + ((units[i] - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (IsHigh(units[i]) || IsLow(units[i])) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, units[i]);
        }
    }
    return out;
}

std::string Printable(std::u16string_view units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t unit = units[i];
        if (IsSurrogatePair(units, i)) {
            out += Utf16ToUtf8(units.substr(i, 2));
            ++i;
        } else if (unit < 0x20 || unit == 0x7F || IsHigh(unit) || IsLow(unit)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            out += escaped;
        } else {
            out += Utf16ToUtf8(units.substr(i, 1));
        }
    }
    return out;
}

std::u16string U16(std::string_view ascii) { return Utf8ToUtf16(ascii).value_or(u""); }

}  // namespace morvala::cli
