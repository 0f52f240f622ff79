// Registry paths and names through the Reg* functions, over a device root of
// this process's own in /tmp. Each input is a short program of operations on
// keys below HKLM\Fuzz: create, open, set, query, enumerate and delete, with
// names built from letters whose case differs, backslashes (leading, doubled,
// trailing), NULs, non-ASCII and lone surrogate units, and lengths at the
// limits (255/256 units for key names, 16,383/16,384 for value names).
//
// Checks: the path rules (a leading backslash is ERROR_BAD_PATHNAME, a key
// name over 255 units fails, a value name over 16,383 fails), a key that was
// created opens, a value that was set reads back with its type and bytes and
// is listed, and no key handle outlives its operation. Everything below
// HKLM\Fuzz is deleted after each input, so the store stays small.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "casefold.h"
#include "fuzz_support.h"
#include "platform/registry.h"

namespace {

using platform::UniqueHkey;

std::string g_root;

// Units the fuzzer picks from by index: case pairs, separators, NUL,
// non-ASCII letters with simple case mappings, surrogates.
constexpr char16_t kAlphabet[] = {u'a', u'A', u'z', u'Z', u'\\', u'\\', u'\0', u'.', u' ', u'-',
                                  0x00E9, 0x00C9, 0x00DF, 0x0131, 0x0130, 0x03C3, 0x03A3, 0x01C5,
                                  0xD800, 0xDC00, 0xFFFF, 0xFF41, 0xFF21};
constexpr size_t kLimitLengths[] = {254, 255, 256, 16383, 16384};

struct Name {
    bool null = false;
    std::u16string units;  // what is passed, NUL-terminated by the string itself
    const char16_t* get() const { return null ? nullptr : units.c_str(); }
    // The units up to the first NUL: what the registry reads.
    std::u16string_view Read() const {
        if (null) return {};
        return std::u16string_view(units.c_str());
    }
};

Name MakeName(FuzzedDataProvider& in) {
    Name name;
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: name.null = true; break;
        case 1: {  // one unit repeated to a length at a limit, maybe with a separator before it
            char16_t unit = kAlphabet[in.ConsumeIntegralInRange<size_t>(0, 3)];
            if (in.ConsumeBool()) name.units = u"k\\";
            name.units.append(kLimitLengths[in.ConsumeIntegralInRange<size_t>(0, 4)], unit);
            break;
        }
        default: {
            size_t length = in.ConsumeIntegralInRange<size_t>(0, 12);
            for (size_t k = 0; k < length; ++k) {
                uint8_t pick = in.ConsumeIntegral<uint8_t>();
                name.units.push_back(pick < sizeof kAlphabet / sizeof kAlphabet[0] ? kAlphabet[pick]
                                                                                    : static_cast<char16_t>(u'a' + pick % 26));
            }
        }
    }
    return name;
}

bool StartsWithBackslash(std::u16string_view path) { return !path.empty() && path[0] == u'\\'; }

bool HasLongComponent(std::u16string_view path, size_t limit) {
    size_t run = 0;
    for (char16_t unit : path) {
        run = unit == u'\\' ? 0 : run + 1;
        if (run > limit) return true;
    }
    return false;
}

void CreateKey(HKEY base, const Name& path) {
    UniqueHkey key;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExW(base, path.get(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), &disposition);
    std::u16string_view read = path.Read();
    if (StartsWithBackslash(read)) FUZZ_CHECK(rc == ERROR_BAD_PATHNAME);
    if (HasLongComponent(read, 255)) FUZZ_CHECK(rc != ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) {
        FUZZ_CHECK(!key);
        return;
    }
    FUZZ_CHECK(key && (disposition == REG_CREATED_NEW_KEY || disposition == REG_OPENED_EXISTING_KEY));
    UniqueHkey again;
    FUZZ_CHECK(RegOpenKeyExW(base, path.get(), 0, KEY_READ, again.put()) == ERROR_SUCCESS);
    DWORD subkeys = 0, values = 0;
    FUZZ_CHECK(RegQueryInfoKeyW(again.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
}

void OpenKey(HKEY base, const Name& path) {
    UniqueHkey key;
    LONG rc = RegOpenKeyExW(base, path.get(), 0, KEY_READ, key.put());
    if (StartsWithBackslash(path.Read())) FUZZ_CHECK(rc == ERROR_BAD_PATHNAME);
    FUZZ_CHECK((rc == ERROR_SUCCESS) == static_cast<bool>(key));
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        if (platform::registry::FoldUnit(a[k]) != platform::registry::FoldUnit(b[k])) return false;
    }
    return true;
}

// True when `name` (compared without regard to case) is among the values
// RegEnumValueW lists on key.
bool Listed(HKEY key, std::u16string_view name) {
    std::vector<char16_t> buffer(16384 + 1);
    for (DWORD index = 0;; ++index) {
        DWORD chars = static_cast<DWORD>(buffer.size());
        LONG rc = RegEnumValueW(key, index, buffer.data(), &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return false;
        FUZZ_CHECK(rc == ERROR_SUCCESS);
        FUZZ_CHECK(chars < buffer.size() && buffer[chars] == 0);
        if (SameName(std::u16string_view(buffer.data(), chars), name)) return true;
    }
}

void SetValue(HKEY base, const Name& path, const Name& name, FuzzedDataProvider& in) {
    DWORD type = in.ConsumeIntegralInRange<DWORD>(0, 12);
    std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64));
    UniqueHkey key;
    if (RegCreateKeyExW(base, path.get(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != 0) return;
    LONG rc = RegSetValueExW(key.get(), name.get(), 0, type, bytes.empty() ? nullptr : bytes.data(),
                             static_cast<DWORD>(bytes.size()));
    if (name.Read().size() > 16383) FUZZ_CHECK(rc != ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) return;

    DWORD readType = 0, size = 0;
    FUZZ_CHECK(RegQueryValueExW(key.get(), name.get(), nullptr, &readType, nullptr, &size) == ERROR_SUCCESS);
    FUZZ_CHECK(readType == type && size == bytes.size());
    std::vector<uint8_t> back(size + 2, 0xEE);
    DWORD capacity = static_cast<DWORD>(back.size());
    FUZZ_CHECK(RegQueryValueExW(key.get(), name.get(), nullptr, &readType, back.data(), &capacity) == ERROR_SUCCESS);
    FUZZ_CHECK(capacity == bytes.size() && std::equal(bytes.begin(), bytes.end(), back.begin()));
    if (size > 0) {  // one byte short: ERROR_MORE_DATA with the size, the buffer untouched
        std::vector<uint8_t> small(size, 0xEE);  // never empty: a null buffer asks only for the size
        DWORD shortCapacity = size - 1;
        FUZZ_CHECK(RegQueryValueExW(key.get(), name.get(), nullptr, nullptr, small.data(), &shortCapacity) ==
                   ERROR_MORE_DATA);
        FUZZ_CHECK(shortCapacity == size);
        for (uint8_t b : small) FUZZ_CHECK(b == 0xEE);
    }
    FUZZ_CHECK(Listed(key.get(), name.Read()));
}

void DeleteValue(HKEY base, const Name& path, const Name& name) {
    UniqueHkey key;
    if (RegOpenKeyExW(base, path.get(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
    if (RegDeleteValueW(key.get(), name.get()) != ERROR_SUCCESS) return;
    DWORD size = 0;
    FUZZ_CHECK(RegQueryValueExW(key.get(), name.get(), nullptr, nullptr, nullptr, &size) == ERROR_FILE_NOT_FOUND);
    FUZZ_CHECK(!Listed(key.get(), name.Read()));
}

void DeleteTree(HKEY base, const Name& path) {
    std::u16string_view read = path.Read();
    bool onlySeparators = read.find_first_not_of(u'\\') == std::u16string_view::npos;
    if (onlySeparators) return;  // that would be the base key's whole content: done after each input anyway
    LONG rc = RegDeleteTreeW(base, path.get());
    if (rc != ERROR_SUCCESS) return;
    UniqueHkey key;
    FUZZ_CHECK(RegOpenKeyExW(base, path.get(), 0, KEY_READ, key.put()) == ERROR_FILE_NOT_FOUND);
}

void EnumKeys(HKEY base, FuzzedDataProvider& in) {
    std::vector<char16_t> name(in.ConsumeIntegralInRange<size_t>(1, 300), u'#');
    for (DWORD index = 0; index < 64; ++index) {
        DWORD chars = static_cast<DWORD>(name.size());
        LONG rc = RegEnumKeyExW(base, index, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return;
        FUZZ_CHECK(rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA);
        if (rc == ERROR_SUCCESS) FUZZ_CHECK(chars < name.size() && name[chars] == 0 && chars <= 255);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/morvala-fuzz-registry-XXXXXX";
    if (::mkdtemp(folder) == nullptr) std::abort();
    g_root = folder;
    ::setenv("MORVALA_ROOT", folder, 1);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(g_root, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t handlesBefore = platform::RegistryOpenHandleCount();
    {
        UniqueHkey base;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Fuzz", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, base.put(),
                            nullptr) != ERROR_SUCCESS) {
            std::abort();  // the store itself failed: nothing below means anything
        }
        FuzzedDataProvider in(data, size);
        for (int step = 0; step < 12 && in.remaining_bytes() > 0; ++step) {
            int op = in.ConsumeIntegralInRange<int>(0, 5);
            Name path = MakeName(in);
            switch (op) {
                case 0: CreateKey(base.get(), path); break;
                case 1: OpenKey(base.get(), path); break;
                case 2: SetValue(base.get(), path, MakeName(in), in); break;
                case 3: DeleteValue(base.get(), path, MakeName(in)); break;
                case 4: DeleteTree(base.get(), path); break;
                default: EnumKeys(base.get(), in); break;
            }
        }
        FUZZ_CHECK(RegDeleteTreeW(base.get(), nullptr) == ERROR_SUCCESS);
    }
    FUZZ_CHECK(platform::RegistryOpenHandleCount() == handlesBefore);
    return 0;
}
