#include "json.h"

#include <cstdio>

#include "unicode.h"

namespace morvala::cli {
namespace {

void DumpString(std::string& out, std::u16string_view units) {
    out += '"';
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t unit = units[i];
        if (unit == u'"') {
            out += "\\\"";
        } else if (unit == u'\\') {
            out += "\\\\";
        } else if (IsSurrogatePair(units, i)) {
            out += Utf16ToUtf8(units.substr(i, 2));
            ++i;
        } else if (unit < 0x20 || unit == 0x7F || (unit >= 0xD800 && unit <= 0xDFFF)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
            out += escaped;
        } else {
            out += Utf16ToUtf8(units.substr(i, 1));
        }
    }
    out += '"';
}

}  // namespace

Json::Json(const char* value) : value_(Utf8ToUtf16(value).value_or(u"")) {}
Json::Json(const std::string& value) : value_(Utf8ToUtf16(value).value_or(u"")) {}

Json& Json::Set(const std::string& key, Json value) { return Set(U16(key), std::move(value)); }

Json& Json::Set(std::u16string key, Json value) {
    if (!std::holds_alternative<Object>(value_)) value_ = Object{};
    Object& object = std::get<Object>(value_);
    for (auto& member : object) {
        if (member.first == key) {
            member.second = std::move(value);
            return *this;
        }
    }
    object.emplace_back(std::move(key), std::move(value));
    return *this;
}

std::string Json::Dump() const {
    std::string out;
    DumpTo(out);
    return out;
}

void Json::DumpTo(std::string& out) const {
    if (std::holds_alternative<std::monostate>(value_)) {
        out += "null";
    } else if (const bool* flag = std::get_if<bool>(&value_)) {
        out += *flag ? "true" : "false";
    } else if (const int64_t* number = std::get_if<int64_t>(&value_)) {
        out += std::to_string(*number);
    } else if (const std::u16string* text = std::get_if<std::u16string>(&value_)) {
        DumpString(out, *text);
    } else if (const Array* array = std::get_if<Array>(&value_)) {
        out += '[';
        for (size_t i = 0; i < array->size(); ++i) {
            if (i > 0) out += ',';
            (*array)[i].DumpTo(out);
        }
        out += ']';
    } else {
        const Object& object = std::get<Object>(value_);
        out += '{';
        for (size_t i = 0; i < object.size(); ++i) {
            if (i > 0) out += ',';
            DumpString(out, object[i].first);
            out += ':';
            object[i].second.DumpTo(out);
        }
        out += '}';
    }
}

}  // namespace morvala::cli
