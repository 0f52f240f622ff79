#include "reg_file.h"

#include <cstdio>
#include <optional>

#include "platform/registry.h"
#include "unicode.h"

namespace morvala::cli {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHive = "HKEY_LOCAL_MACHINE";
constexpr size_t kWrapColumn = 76;
constexpr size_t kMaxKeyNameUnits = 255;
constexpr size_t kMaxValueNameUnits = 16383;

// ---- Writing --------------------------------------------------------------

bool IsControl(char16_t unit) { return unit < 0x20 || unit == 0x7F; }
bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Whether every unit can stand in quotes without an escape other than \\ and \".
bool PlainText(std::u16string_view units) {
    for (size_t i = 0; i < units.size(); ++i) {
        if (IsSurrogatePair(units, i)) {
            ++i;
        } else if (IsControl(units[i]) || IsSurrogate(units[i])) {
            return false;
        }
    }
    return true;
}

std::string Quote(std::u16string_view units) {
    std::string out = "\"";
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t unit = units[i];
        if (unit == u'\\') {
            out += "\\\\";
        } else if (unit == u'"') {
            out += "\\\"";
        } else if (IsSurrogatePair(units, i)) {
            out += Utf16ToUtf8(units.substr(i, 2));
            ++i;
        } else if (IsControl(unit) || IsSurrogate(unit)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
            out += escaped;
        } else {
            out += Utf16ToUtf8(units.substr(i, 1));
        }
    }
    return out + "\"";
}

std::u16string Units(const std::vector<uint8_t>& data) {
    std::u16string units(data.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return units;
}

// REG_SZ data that a quoted text gives back exactly: whole units, one
// terminating NUL and no other, nothing that needs a \u escape.
bool WritableAsText(const RegValue& value) {
    if (value.type != REG_SZ || value.data.size() < 2 || value.data.size() % 2 != 0) return false;
    std::u16string units = Units(value.data);
    if (units.back() != u'\0') return false;
    units.pop_back();
    return units.find(u'\0') == std::u16string::npos && PlainText(units);
}

void WriteHex(std::string& out, std::string prefix, const std::vector<uint8_t>& data) {
    std::string line = std::move(prefix);
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        line += byte;
        if (i + 1 < data.size()) {
            line += ',';
            if (line.size() >= kWrapColumn) {
                out += line + "\\\n";
                line = "  ";
            }
        }
    }
    out += line + "\n";
}

void WriteValue(std::string& out, const RegValue& value) {
    std::string name = value.name.empty() ? "@" : Quote(value.name);
    if (WritableAsText(value)) {
        std::u16string units = Units(value.data);
        units.pop_back();
        out += name + "=" + Quote(units) + "\n";
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        char number[16];
        uint32_t dword = static_cast<uint32_t>(value.data[0]) | (static_cast<uint32_t>(value.data[1]) << 8) |
                         (static_cast<uint32_t>(value.data[2]) << 16) | (static_cast<uint32_t>(value.data[3]) << 24);
        std::snprintf(number, sizeof number, "%08x", dword);
        out += name + "=dword:" + number + "\n";
    } else if (value.type == REG_BINARY) {
        WriteHex(out, name + "=hex:", value.data);
    } else {
        char type[24];
        std::snprintf(type, sizeof type, "=hex(%x):", static_cast<unsigned>(value.type));
        WriteHex(out, name + type, value.data);
    }
}

// ---- Reading --------------------------------------------------------------

struct Line {
    int number;
    std::string text;
};

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return text;
}

std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses 1..maxDigits hex digits that make up all of `text`.
std::optional<uint32_t> ParseHexNumber(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

class Parser {
public:
    explicit Parser(std::vector<Line> lines) : lines_(std::move(lines)) {}

    std::vector<RegChange> Run() {
        size_t index = SkipToHeader();
        for (++index; index < lines_.size(); ++index) {
            std::string_view text = TrimLeft(lines_[index].text);
            line_ = lines_[index].number;
            if (text.empty() || text.front() == ';') continue;
            if (text.front() == '[') {
                Section(TrimRight(text));
            } else if (text.front() == '"' || text.front() == '@') {
                std::string logical = Join(index);
                Value(TrimLeft(logical));
            } else {
                Fail("expected a [key] line, a \"name\"=value line, @=value or a ; comment");
            }
        }
        return std::move(changes_);
    }

private:
    [[noreturn]] void Fail(const std::string& message) const { throw RegParseError(line_, message); }

    // Finds the header line; returns its index.
    size_t SkipToHeader() {
        for (size_t index = 0; index < lines_.size(); ++index) {
            std::string_view text = TrimRight(TrimLeft(lines_[index].text));
            line_ = lines_[index].number;
            if (text.empty()) continue;
            if (text == kHeader) return index;
            if (text == "REGEDIT4") Fail("REGEDIT4 (8-bit) files are not supported; expected \"" + std::string(kHeader) + "\"");
            Fail("the first line must be \"" + std::string(kHeader) + "\"");
        }
        line_ = lines_.empty() ? 1 : lines_.back().number;
        Fail("the file is empty; expected \"" + std::string(kHeader) + "\"");
    }

    // A value line with its continuation lines (trailing backslash) joined.
    std::string Join(size_t& index) {
        std::string logical = lines_[index].text;
        // Only hex data can end in a backslash: a text ends with its quote.
        while (!TrimRight(logical).empty() && TrimRight(logical).back() == '\\') {
            logical = std::string(TrimRight(logical));
            logical.pop_back();
            if (++index >= lines_.size() || TrimLeft(lines_[index].text).empty()) {
                Fail("no data follows the continuation backslash");
            }
            logical += TrimLeft(lines_[index].text);
        }
        return logical;
    }

    std::u16string ToUtf16(std::string_view text, const char* what) const {
        std::optional<std::u16string> units = Utf8ToUtf16(text);
        if (!units) Fail(std::string(what) + " is not valid UTF-8");
        return *units;
    }

    void Section(std::string_view text) {
        if (text.size() < 2 || text.back() != ']') Fail("a key line must end with ]");
        std::string_view inside = text.substr(1, text.size() - 2);
        bool remove = !inside.empty() && inside.front() == '-';
        if (remove) inside.remove_prefix(1);
        size_t slash = inside.find('\\');
        std::string_view hive = inside.substr(0, slash);
        if (!EqualsNoCase(hive, kHive)) {
            Fail("only HKEY_LOCAL_MACHINE is served, not \"" + std::string(hive) + "\"");
        }
        std::u16string path = slash == std::string_view::npos ? u"" : ToUtf16(inside.substr(slash + 1), "the key path");
        CheckPath(path);
        if (remove && path.empty()) Fail("refusing to delete the whole HKEY_LOCAL_MACHINE hive");
        sectionIsDeletion_ = remove;
        inSection_ = true;
        currentPath_ = path;
        changes_.push_back({remove ? RegChange::Kind::DeleteKey : RegChange::Kind::OpenKey, line_, path, {}});
    }

    void CheckPath(std::u16string& path) const {
        while (!path.empty() && path.back() == u'\\') path.pop_back();
        size_t start = 0;
        while (start < path.size()) {
            size_t end = path.find(u'\\', start);
            if (end == std::u16string::npos) end = path.size();
            if (end == start) Fail("the key path has an empty component (two backslashes in a row)");
            if (end - start > kMaxKeyNameUnits) Fail("a key name is longer than 255 characters");
            if (path.substr(start, end - start).find(u'\0') != std::u16string::npos) Fail("a key name holds a NUL");
            start = end + 1;
        }
    }

    // Reads a quoted text at text[0] == '"'; advances past the closing quote.
    std::u16string QuotedText(std::string_view& text, const char* what) const {
        std::string raw;
        std::u16string units;
        size_t i = 1;
        for (;; ++i) {
            if (i >= text.size()) Fail(std::string(what) + ": missing closing quote");
            char c = text[i];
            if (c == '"') break;
            if (c != '\\') {
                raw += c;
                continue;
            }
            units += ToUtf16(raw, what);
            raw.clear();
            if (++i >= text.size()) Fail(std::string(what) + ": a backslash ends the line");
            char escaped = text[i];
            if (escaped == '\\' || escaped == '"') {
                units += static_cast<char16_t>(escaped);
            } else if (escaped == 'n') {
                units += u'\n';
            } else if (escaped == 'r') {
                units += u'\r';
            } else if (escaped == 'u') {
                std::optional<uint32_t> unit = i + 4 < text.size() ? ParseHexNumber(text.substr(i + 1, 4), 4) : std::nullopt;
                if (!unit) Fail(std::string(what) + ": \\u needs four hex digits");
                units += static_cast<char16_t>(*unit);
                i += 4;
            } else {
                Fail(std::string(what) + ": unknown escape \\" + std::string(1, escaped) +
                     " (write a backslash as \\\\ and a quote as \\\")");
            }
        }
        units += ToUtf16(raw, what);
        text.remove_prefix(i + 1);
        return units;
    }

    void Value(std::string_view text) {
        if (!inSection_) Fail("a value line before any [key] line");
        if (sectionIsDeletion_) Fail("a value line in a [-key] deletion section");
        RegValue value;
        if (text.front() == '@') {
            text.remove_prefix(1);
        } else {
            value.name = QuotedText(text, "the value name");
            if (value.name.empty()) Fail("an empty value name; write the default value as @");
            if (value.name.find(u'\0') != std::u16string::npos) Fail("the value name holds a NUL");
            if (value.name.size() > kMaxValueNameUnits) Fail("the value name is longer than 16383 characters");
        }
        text = TrimLeft(text);
        if (text.empty() || text.front() != '=') Fail("expected = after the value name");
        text = TrimRight(TrimLeft(text.substr(1)));
        if (text == "-") {
            changes_.push_back({RegChange::Kind::DeleteValue, line_, currentPath_, std::move(value)});
            return;
        }
        Data(text, value);
        changes_.push_back({RegChange::Kind::SetValue, line_, currentPath_, std::move(value)});
    }

    void Data(std::string_view text, RegValue& value) const {
        if (!text.empty() && text.front() == '"') {
            std::u16string units = QuotedText(text, "the text");
            if (!TrimLeft(text).empty()) Fail("unexpected characters after the closing quote");
            units += u'\0';
            value.type = REG_SZ;
            for (char16_t unit : units) {
                value.data.push_back(static_cast<uint8_t>(unit & 0xFF));
                value.data.push_back(static_cast<uint8_t>(unit >> 8));
            }
        } else if (EqualsNoCase(text.substr(0, 6), "dword:")) {
            std::optional<uint32_t> number = ParseHexNumber(text.substr(6), 8);
            if (!number) Fail("dword: needs 1 to 8 hex digits, e.g. dword:0000002a");
            value.type = REG_DWORD;
            for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<uint8_t>(*number >> shift));
        } else if (EqualsNoCase(text.substr(0, 4), "hex:") || EqualsNoCase(text.substr(0, 4), "hex(")) {
            HexData(text.substr(3), value);
        } else {
            Fail("unknown value form; expected \"text\", dword:, hex:, hex(N): or -");
        }
    }

    void HexData(std::string_view text, RegValue& value) const {
        value.type = REG_BINARY;
        if (text.front() == '(') {
            size_t close = text.find(')');
            std::optional<uint32_t> type =
                close == std::string_view::npos ? std::nullopt : ParseHexNumber(text.substr(1, close - 1), 8);
            if (!type) Fail("hex(N): needs a type N of 1 to 8 hex digits");
            value.type = *type;
            text.remove_prefix(close + 1);
        }
        if (text.empty() || text.front() != ':') Fail("expected : after hex or hex(N)");
        text.remove_prefix(1);
        text = TrimRight(TrimLeft(text));
        while (!text.empty()) {
            size_t comma = text.find(',');
            std::string_view byte = TrimRight(TrimLeft(text.substr(0, comma)));
            std::optional<uint32_t> number = ParseHexNumber(byte, 2);
            if (!number) Fail("bad hex byte \"" + std::string(byte) + "\" (expected two hex digits)");
            value.data.push_back(static_cast<uint8_t>(*number));
            if (comma == std::string_view::npos) break;
            text = TrimLeft(text.substr(comma + 1));
        }
    }

    std::vector<Line> lines_;
    std::vector<RegChange> changes_;
    int line_ = 1;
    bool inSection_ = false;
    bool sectionIsDeletion_ = false;
    std::u16string currentPath_;
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    int number = 1;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back({number++, line});
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::string WriteRegFile(const std::vector<RegKeyEntry>& keys) {
    std::string out = std::string(kHeader) + "\n\n";
    for (const RegKeyEntry& key : keys) {
        if (!PlainText(key.path)) {
            throw std::invalid_argument("the key name \"" + Printable(key.path) +
                                        "\" holds a control character or a lone surrogate, which the format cannot hold");
        }
        out += "[" + std::string(kHive) + (key.path.empty() ? "" : "\\" + Utf16ToUtf8(key.path)) + "]\n";
        for (const RegValue& value : key.values) WriteValue(out, value);
        out += "\n";
    }
    return out;
}

std::vector<RegChange> ParseRegFile(std::string_view text) {
    if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
        throw RegParseError(1, "UTF-16 files are not supported; convert with: iconv -f UTF-16 -t UTF-8");
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (text.find('\0') != std::string_view::npos) {
        int line = 1;
        for (char c : text.substr(0, text.find('\0'))) line += c == '\n';
        throw RegParseError(line, "a NUL byte in the text (a UTF-16 file? convert with: iconv -f UTF-16 -t UTF-8)");
    }
    return Parser(SplitLines(text)).Run();
}

}  // namespace morvala::cli
