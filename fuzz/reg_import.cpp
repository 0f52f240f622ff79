// The `reg import` parser on any text: it either returns the changes or
// throws RegParseError, nothing else. Keys and values it read are written
// back with the exporter and read again: the second reading must give the
// same keys, names, types and bytes (the format is lossless).
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "reg_file.h"

namespace {

using namespace morvala::cli;

// The keys and values of changes, in order, as the exporter takes them.
std::vector<RegKeyEntry> KeysOf(const std::vector<RegChange>& changes) {
    std::vector<RegKeyEntry> keys;
    for (const auto& change : changes) {
        if (change.kind == RegChange::Kind::OpenKey) keys.push_back(RegKeyEntry{change.path, {}});
        if (change.kind == RegChange::Kind::SetValue) {
            if (keys.empty() || keys.back().path != change.path) keys.push_back(RegKeyEntry{change.path, {}});
            keys.back().values.push_back(change.value);
        }
    }
    return keys;
}

bool SameKeys(const std::vector<RegKeyEntry>& a, const std::vector<RegKeyEntry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].path != b[k].path || a[k].values.size() != b[k].values.size()) return false;
        for (size_t v = 0; v < a[k].values.size(); ++v) {
            const RegValue& x = a[k].values[v];
            const RegValue& y = b[k].values[v];
            if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<RegChange> changes;
    try {
        changes = ParseRegFile(text);
    } catch (const RegParseError& error) {
        FUZZ_CHECK(error.line() >= 1);
        return 0;
    }
    std::vector<RegKeyEntry> keys = KeysOf(changes);
    std::string written;
    try {
        written = WriteRegFile(keys);
    } catch (const std::invalid_argument&) {
        return 0;  // a key name the format cannot carry (a control character, a lone surrogate)
    }
    std::vector<RegChange> again;
    try {
        again = ParseRegFile(written);
    } catch (const RegParseError& error) {
        std::fprintf(stderr, "exported text does not parse: %s\n%s\n", error.what(), written.c_str());
        std::abort();
    }
    FUZZ_CHECK(SameKeys(keys, KeysOf(again)));
    return 0;
}
