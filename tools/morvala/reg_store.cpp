#include "reg_store.h"

#include "context.h"
#include "platform/registry.h"
#include "status_names.h"
#include "unicode.h"

namespace morvala::cli {
namespace {

std::string KeyText(const std::u16string& path) {
    return "HKEY_LOCAL_MACHINE" + (path.empty() ? std::string() : "\\" + Printable(path));
}

[[noreturn]] void ReadFailed(const char* call, LONG code, const std::u16string& path) {
    throw CommandFailure(kExitFailed, std::string(call) + " on " + KeyText(path) + " answered " + DescribeWin32Error(code));
}

std::u16string Child(const std::u16string& path, const std::u16string& name) {
    return path.empty() ? name : path + u"\\" + name;
}

std::vector<RegValue> ReadValues(HKEY key, const std::u16string& path, DWORD count, DWORD maxName, DWORD maxData) {
    std::vector<RegValue> values;
    for (DWORD index = 0; index < count; ++index) {
        for (;;) {
            std::u16string name(maxName + 1, u'\0');
            std::vector<uint8_t> data(maxData == 0 ? 1 : maxData);
            DWORD nameLength = maxName + 1;
            DWORD dataSize = static_cast<DWORD>(data.size());
            DWORD type = 0;
            LONG rc = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
            if (rc == ERROR_MORE_DATA) {  // the key changed meanwhile: grow and read again
                maxName = maxName * 2 + 16;
                maxData = std::max(maxData * 2, dataSize);
                continue;
            }
            if (rc != ERROR_SUCCESS) ReadFailed("RegEnumValueW", rc, path);
            name.resize(nameLength);
            data.resize(dataSize);
            values.push_back({std::move(name), type, std::move(data)});
            break;
        }
    }
    return values;
}

void ReadKey(const std::u16string& path, std::vector<RegKeyEntry>& out) {
    platform::UniqueHkey key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put());
    if (rc == ERROR_FILE_NOT_FOUND) throw CommandFailure(kExitFailed, "the key " + KeyText(path) + " does not exist");
    if (rc != ERROR_SUCCESS) ReadFailed("RegOpenKeyExW", rc, path);
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
    rc = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, &maxName,
                          &maxData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) ReadFailed("RegQueryInfoKeyW", rc, path);
    out.push_back({path, ReadValues(key.get(), path, values, maxName, maxData)});

    std::vector<std::u16string> names;
    for (DWORD index = 0; index < subkeys; ++index) {
        std::u16string name(256, u'\0');
        DWORD length = 256;
        rc = RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) ReadFailed("RegEnumKeyExW", rc, path);
        name.resize(length);
        names.push_back(std::move(name));
    }
    key.reset();
    for (const std::u16string& name : names) ReadKey(Child(path, name), out);
}

const char* KindText(RegChange::Kind kind) {
    switch (kind) {
        case RegChange::Kind::DeleteKey: return "delete key";
        case RegChange::Kind::OpenKey: return "create key";
        case RegChange::Kind::SetValue: return "set value";
        case RegChange::Kind::DeleteValue: return "delete value";
    }
    return "change";
}

// Opens (creating when missing) the key a section names.
LONG OpenSection(const std::u16string& path, platform::UniqueHkey& key) {
    if (path.empty()) return RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"", 0, KEY_WRITE, key.put());
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
}

// Applies one change; returns the registry's answer and the call's name.
LONG ApplyOne(const RegChange& change, platform::UniqueHkey& current, const char*& call) {
    switch (change.kind) {
        case RegChange::Kind::DeleteKey: {
            current.reset();
            call = "RegDeleteTreeW";
            LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, change.path.c_str());
            return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;  // already absent
        }
        case RegChange::Kind::OpenKey:
            call = "RegCreateKeyExW";
            return OpenSection(change.path, current);
        case RegChange::Kind::SetValue:
            call = "RegSetValueExW";
            return RegSetValueExW(current.get(), change.value.name.c_str(), 0, change.value.type,
                                  change.value.data.data(), static_cast<DWORD>(change.value.data.size()));
        case RegChange::Kind::DeleteValue: {
            call = "RegDeleteValueW";
            LONG rc = RegDeleteValueW(current.get(), change.value.name.c_str());
            return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
        }
    }
    return ERROR_INVALID_PARAMETER;
}

// What a failure after `applied` changes leaves behind, in words.
std::string Consequence(size_t applied) {
    if (applied == 0) return "; nothing was imported";
    return ". The import is INCOMPLETE: the first " + std::to_string(applied) +
           " change(s) were applied and stay in the store (it has no transaction across calls)";
}

}  // namespace

std::u16string NormalizeKeyPath(std::u16string path) {
    for (std::u16string prefix : {std::u16string(u"HKEY_LOCAL_MACHINE"), std::u16string(u"HKLM")}) {
        if (path.size() >= prefix.size()) {
            bool same = true;
            for (size_t i = 0; i < prefix.size(); ++i) {
                char16_t c = path[i] >= u'a' && path[i] <= u'z' ? static_cast<char16_t>(path[i] - 32) : path[i];
                same = same && c == prefix[i];
            }
            if (same && (path.size() == prefix.size() || path[prefix.size()] == u'\\')) {
                path.erase(0, prefix.size());
                break;
            }
        }
    }
    while (!path.empty() && path.front() == u'\\') path.erase(0, 1);
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    return path;
}

std::vector<RegKeyEntry> ReadTree(const std::u16string& path) {
    std::vector<RegKeyEntry> keys;
    ReadKey(path, keys);
    return keys;
}

size_t ApplyChanges(const std::vector<RegChange>& changes) {
    // A store that this process may not write refuses before anything changes.
    platform::UniqueHkey probe;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"", 0, KEY_WRITE, probe.put());
    if (rc != ERROR_SUCCESS) {
        throw CommandFailure(kExitFailed, "the registry cannot be written (" + DescribeWin32Error(rc) + "); nothing was imported");
    }
    probe.reset();
    platform::UniqueHkey current;
    for (size_t i = 0; i < changes.size(); ++i) {
        const char* call = "";
        rc = ApplyOne(changes[i], current, call);
        if (rc != ERROR_SUCCESS) {
            throw CommandFailure(kExitFailed,
                                 "change " + std::to_string(i + 1) + " of " + std::to_string(changes.size()) + " (" +
                                     KindText(changes[i].kind) + ", line " + std::to_string(changes[i].line) + ", " +
                                     KeyText(changes[i].path) + ") failed: " + call + " answered " +
                                     DescribeWin32Error(rc) + Consequence(i));
        }
    }
    return changes.size();
}

}  // namespace morvala::cli
