// The registry editor's text format ("Windows Registry Editor Version 5.00"),
// written and read as UTF-8 text (regedit itself writes UTF-16LE; convert
// such files with iconv first). Lossless for every value type and byte count:
//
//   [HKEY_LOCAL_MACHINE\Software\OEM]   a key (created with missing parents)
//   [-HKEY_LOCAL_MACHINE\Software\Old]  delete that key with everything below
//   "Name"="text"                        REG_SZ stored with one terminating NUL
//   @="text"                             the default value
//   "Count"=dword:0000002a               REG_DWORD of exactly 4 bytes
//   "Blob"=hex:01,02                     REG_BINARY
//   "Raw"=hex(1):41,00                   any type N (hex digits) with its bytes:
//                                        REG_SZ without terminator, odd counts,
//                                        short DWORDs, hex(2) REG_EXPAND_SZ,
//                                        hex(7) REG_MULTI_SZ, hex(b) REG_QWORD
//   "Gone"=-                             delete that value
//   ; comment
//
// Long hex data continue on the next line after a trailing backslash. In
// quoted names and texts \\ is a backslash, \" a quote, \n and \r a line
// feed and carriage return, \uXXXX any UTF-16 unit (the exporter writes
// control characters and lone surrogates that way).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace morvala::cli {

struct RegValue {
    std::u16string name;  // empty: the default value
    DWORD type = 0;
    std::vector<uint8_t> data;
};

// One key with its values; path relative to HKEY_LOCAL_MACHINE ("" is the hive's root).
struct RegKeyEntry {
    std::u16string path;
    std::vector<RegValue> values;
};

// The text of a .reg file holding `keys` in the given order. Throws
// std::invalid_argument when a key name cannot be written in the format
// (a control character or a lone surrogate in it).
std::string WriteRegFile(const std::vector<RegKeyEntry>& keys);

// One change a .reg file asks for, with the line it came from.
struct RegChange {
    enum class Kind { DeleteKey, OpenKey, SetValue, DeleteValue };
    Kind kind;
    int line;
    std::u16string path;  // the key (DeleteKey, OpenKey) or the key the value belongs to
    RegValue value;       // SetValue: name, type, data; DeleteValue: name
};

// A .reg text that cannot be read: the 1-based line and what is wrong there.
class RegParseError : public std::runtime_error {
public:
    RegParseError(int line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}
    int line() const { return line_; }

private:
    int line_;
};

// Every change of a .reg text in file order, after checking the whole text.
// Throws RegParseError at the first fault; nothing is applied by this call.
std::vector<RegChange> ParseRegFile(std::string_view text);

}  // namespace morvala::cli
