#include "registry_fixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace registry_test {

void RegistryTest::SetUp() {
    char pattern[] = "/tmp/morvala-registry-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    ::setenv("MORVALA_ROOT", root_.c_str(), 1);
}

void RegistryTest::TearDown() {
    EXPECT_EQ(platform::RegistryOpenHandleCount(), 0u) << "key handles left open";
    ::unsetenv("MORVALA_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

platform::UniqueHkey RegistryTest::Create(const std::u16string& path, REGSAM access) {
    platform::UniqueHkey key;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, access, nullptr, key.put(), nullptr);
    EXPECT_EQ(status, ERROR_SUCCESS) << "creating a key";
    return key;
}

platform::UniqueHkey RegistryTest::Open(const std::u16string& path, REGSAM access, LONG& status) {
    platform::UniqueHkey key;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key.put());
    return key;
}

std::vector<BYTE> Utf16Bytes(std::u16string_view text, bool terminator) {
    std::vector<BYTE> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    if (terminator) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

LONG SetBytes(HKEY key, const char16_t* name, DWORD type, const std::vector<BYTE>& bytes) {
    return RegSetValueExW(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

LONG GetBytes(HKEY key, const char16_t* name, DWORD& type, std::vector<BYTE>& bytes) {
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    bytes.assign(size, 0);
    status = RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size);
    bytes.resize(size);
    return status;
}

std::vector<std::u16string> SubkeyNames(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD chars = 256;
        LONG status = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
            break;
        }
        names.emplace_back(name, chars);
    }
    return names;
}

std::vector<std::u16string> ValueNames(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD chars = 256;
        LONG status = RegEnumValueW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
            break;
        }
        names.emplace_back(name, chars);
    }
    return names;
}

std::vector<LONG> RunInChild(void (*body)(std::vector<LONG>& results), bool dropToNobody) {
    int fds[2];
    if (::pipe(fds) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::vector<LONG> results;
        bool dropped = !dropToNobody || (::setgid(65534) == 0 && ::setuid(65534) == 0);
        if (dropped) body(results);
        ssize_t written = ::write(fds[1], results.data(), results.size() * sizeof(LONG));
        ::_exit(dropped && written == static_cast<ssize_t>(results.size() * sizeof(LONG)) ? 0 : 1);
    }
    ::close(fds[1]);
    std::vector<LONG> results;
    LONG code;
    while (::read(fds[0], &code, sizeof code) == static_cast<ssize_t>(sizeof code)) results.push_back(code);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child failed, status " << status;
    return results;
}

}  // namespace registry_test
