// reg export [KEYPATH] and reg import FILE: the device's registry as .reg text.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "host.h"
#include "reg_store.h"
#include "unicode.h"

namespace morvala::cli {
namespace {

constexpr const char* kFormatHelp =
    "Format: \"Windows Registry Editor Version 5.00\" as UTF-8 text (not the UTF-16 files regedit writes; "
    "convert those with iconv -f UTF-16 -t UTF-8). [HKEY_LOCAL_MACHINE\\path] sections, \"name\"=\"text\" "
    "(REG_SZ with its terminator), @= the default value, dword:xxxxxxxx (4-byte REG_DWORD), hex: REG_BINARY, "
    "hex(N): any other type or byte count (REG_SZ without terminator as hex(1), hex(2) REG_EXPAND_SZ, "
    "hex(7) REG_MULTI_SZ), a trailing backslash continues hex data, [-path] deletes a key, \"name\"=- a value. "
    "In quotes: \\\\ \\\" \\n \\r and \\uXXXX.";

Result Export(const std::string& keyPath, const std::string& outputFile, bool json) {
    std::u16string path = NormalizeKeyPath(ArgumentText(keyPath, "KEYPATH"));
    std::vector<RegKeyEntry> keys = ReadTree(path);
    std::string text;
    try {
        text = WriteRegFile(keys);
    } catch (const std::invalid_argument& error) {
        throw CommandFailure(kExitFailed, std::string("cannot export: ") + error.what());
    }
    size_t values = 0;
    for (const RegKeyEntry& key : keys) values += key.values.size();
    Result result("reg export");
    result.Set("keys", static_cast<uint32_t>(keys.size())).Set("values", static_cast<uint32_t>(values));
    if (outputFile.empty() || outputFile == "-") {
        if (json) {
            result.Set("text", text);
        } else {
            std::string body = text;
            if (!body.empty() && body.back() == '\n') body.pop_back();
            result.Line(body);
        }
        return result;
    }
    std::ofstream out(outputFile, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw CommandFailure(kExitFailed, "cannot write " + outputFile);
    result.Set("file", outputFile);
    result.Line("exported " + std::to_string(keys.size()) + " key(s) and " + std::to_string(values) + " value(s) to " +
                outputFile);
    return result;
}

std::string ReadInput(const std::string& file) {
    if (file == "-") return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    std::ifstream in(file, std::ios::binary);
    if (!in) throw CommandFailure(kExitFailed, "cannot read " + file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Result Import(const std::string& file, bool checkOnly) {
    std::string text = ReadInput(file);
    std::vector<RegChange> changes;
    try {
        changes = ParseRegFile(text);
    } catch (const RegParseError& error) {
        throw CommandFailure(kExitFailed, file + ": " + error.what() + "; nothing was imported");
    }
    Result result(checkOnly ? "reg import --check" : "reg import");
    result.Set("file", file).Set("changes", static_cast<uint32_t>(changes.size()));
    if (checkOnly) {
        result.Line(file + ": well-formed, " + std::to_string(changes.size()) + " change(s); nothing applied");
        return result;
    }
    ApplyChanges(changes);
    result.Line("imported " + file + ": " + std::to_string(changes.size()) + " change(s) applied");
    return result;
}

}  // namespace

void AddRegCommands(CLI::App& app, Host& host) {
    CLI::App* reg = app.add_subcommand("reg", "the device's registry as .reg text, through the Reg* functions");
    reg->require_subcommand(1);
    reg->footer(kFormatHelp);

    CLI::App* exportCommand = reg->add_subcommand("export", "write a key and everything below it as .reg text");
    exportCommand->footer(kFormatHelp);
    auto keyPath = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    exportCommand->add_option("KEYPATH", *keyPath, "key below HKEY_LOCAL_MACHINE (default: the whole hive)");
    exportCommand->add_option("-o,--output", *output, "write to FILE instead of stdout");
    host.Bind(exportCommand, "reg export", [&host, keyPath, output] { return Export(*keyPath, *output, host.options.json); });

    CLI::App* importCommand = reg->add_subcommand(
        "import", "apply a .reg file: the whole file is read and checked first, then applied in one pass; "
                  "a bad file changes nothing and the error names its line");
    importCommand->footer(kFormatHelp);
    auto file = AddText(importCommand, "FILE", ".reg file (- for stdin)");
    auto check = std::make_shared<bool>(false);
    importCommand->add_flag("--check", *check, "only check the file; apply nothing");
    host.Bind(importCommand, "reg import", [file, check] { return Import(*file, *check); });
}

}  // namespace morvala::cli
