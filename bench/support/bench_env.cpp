#include "support/bench_env.h"

#include <ftw.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/activation.h"
#include "platform/registry.h"

namespace bench {

namespace {

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "bench: %s\n", message.c_str());
    std::abort();
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

cpu_set_t g_savedMask;
bool g_saved = false;

}  // namespace

DeviceRoot::DeviceRoot() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/morvala-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Die("cannot make " + pattern);
    path_ = pattern;
    ::setenv("MORVALA_ROOT", path_.c_str(), 1);
    const std::string manifest = path_ + "/app.manifest";
    std::ofstream out(manifest);
    for (const char* name : {"MorvalaFrameworkUiWinPRT.RegistryManager", "MorvalaFrameworkUiWinPRT.RpcWrapper",
                             "MorvalaFrameworkUiWinPRT.WinPRTUtils.Utils"}) {
        out << name << "=" << MORVALA_COMPONENT_PATH << "\n";
    }
    if (!out.good()) Die("cannot write " + manifest);
    ::setenv("MORVALA_MANIFEST", manifest.c_str(), 1);
}

DeviceRoot::~DeviceRoot() { ::nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

platform::UniqueHString MakeString(std::u16string_view text) {
    platform::UniqueHString string;
    Check(WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), string.put()), "WindowsCreateString");
    return string;
}

std::u16string ToU16(HSTRING string) {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(string, &length);
    return std::u16string(units, length);
}

void* Factory(const char16_t* className, const IID& iid) {
    platform::UniqueHString name = MakeString(className);
    void* factory = nullptr;
    Check(RoGetActivationFactory(name.get(), iid, &factory), "RoGetActivationFactory");
    return factory;
}

void Check(HRESULT hr, const char* what) {
    if (hr != S_OK) {
        char text[128];
        std::snprintf(text, sizeof text, "%s answered 0x%08X", what, static_cast<unsigned>(hr));
        Die(text);
    }
}

void PinThread(int cpu) {
    if (!g_saved) {
        sched_getaffinity(0, sizeof g_savedMask, &g_savedMask);
        g_saved = true;
    }
    cpu_set_t mask;
    CPU_ZERO(&mask);
    CPU_SET(cpu, &mask);
    if (sched_setaffinity(0, sizeof mask, &mask) != 0) Die("sched_setaffinity");
}

void UnpinThread() {
    if (g_saved) sched_setaffinity(0, sizeof g_savedMask, &g_savedMask);
}

double Median(std::vector<double>& samples) {
    if (samples.empty()) return 0;
    auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}

pid_t StartConnectionService(const std::string& root) {
    int out[2];
    if (::pipe(out) != 0) Die("pipe");
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl(MORVALA_CONNECTION_SERVICE_PATH, MORVALA_CONNECTION_SERVICE_PATH, "--root", root.c_str(),
                "--foreground", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    char line[128] = {};
    ssize_t got = ::read(out[0], line, sizeof line - 1);
    ::close(out[0]);
    if (got <= 0 || std::strncmp(line, "ready", 5) != 0) Die("the connection service did not start");
    return pid;
}

void PinProcess(pid_t pid, int cpu) {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    CPU_SET(cpu, &mask);
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr) Die("cannot list " + tasks);
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        sched_setaffinity(static_cast<pid_t>(std::atoi(entry->d_name)), sizeof mask, &mask);
    }
    ::closedir(dir);
}

std::u16string DeviceName(int index) {
    char16_t digits[5];
    for (int i = 3; i >= 0; --i, index /= 10) digits[i] = static_cast<char16_t>(u'0' + index % 10);
    digits[4] = u'\0';
    return std::u16string(u"Device-") + digits + u"-a1b2c3";
}

std::u16string ValueName(int index) {
    return std::u16string(u"Value") + static_cast<char16_t>(u'0' + index / 10) +
           static_cast<char16_t>(u'0' + index % 10);
}

std::u16string DevicePath(int index) { return std::u16string(kDevicesKey) + DeviceName(index); }

void Populate(int devices, int values) {
    for (int d = 0; d < devices; ++d) {
        platform::UniqueHkey key;
        const std::u16string path = DevicePath(d);
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                            nullptr) != ERROR_SUCCESS) {
            Die("cannot create a device key");
        }
        for (int v = 0; v < values; ++v) {
            const std::u16string name = ValueName(v);
            LONG status;
            if (v % 3 == 2) {
                const DWORD number = static_cast<DWORD>(d * 1000 + v);
                status = RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD,
                                        reinterpret_cast<const BYTE*>(&number), sizeof number);
            } else {
                std::u16string text = u"text of value ";
                text += name;
                text.append(static_cast<size_t>(v % 20), u'x');
                status = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                        static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
            }
            if (status != ERROR_SUCCESS) Die("cannot write a value");
        }
    }
    // The connection service's key, so that the logging flag can be written.
    platform::UniqueHkey service;
    const DWORD zero = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kConnectionServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        service.put(), nullptr) != ERROR_SUCCESS ||
        RegSetValueExW(service.get(), u"DisconnectionLoggingNeeded", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&zero), sizeof zero) != ERROR_SUCCESS) {
        Die("cannot write the connection service's key");
    }
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

int OpenFds() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(dir);
    return count - 1;  // the listing's own descriptor
}

}  // namespace bench
