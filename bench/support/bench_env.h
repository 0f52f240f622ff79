// What every benchmark program needs around the component: a fresh device
// root with a manifest that names the built library, the component's
// factories through the loader, Strings, CPU pinning and the data set that
// the registry benchmarks read.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/comptr.h"
#include "platform/winstring.h"

namespace bench {

// A new temporary device root, set as MORVALA_ROOT, with a manifest naming the
// built component for its three classes (MORVALA_MANIFEST). The folder is
// removed when the object goes. Aborts the program when the folder cannot be
// made: no figure would mean anything then.
class DeviceRoot {
public:
    DeviceRoot();
    ~DeviceRoot();
    DeviceRoot(const DeviceRoot&) = delete;
    DeviceRoot& operator=(const DeviceRoot&) = delete;
    const std::string& Path() const { return path_; }
    std::string StorePath() const { return path_ + "/registry.db"; }

private:
    std::string path_;
};

// A new String of exactly `text`; aborts when it cannot be made.
platform::UniqueHString MakeString(std::u16string_view text);
std::u16string ToU16(HSTRING string);

// The factory of className through the loader, queried for Interface; aborts
// on failure.
void* Factory(const char16_t* className, const IID& iid);
template <typename Interface>
platform::ComPtr<Interface> FactoryOf(const char16_t* className) {
    return platform::ComPtr<Interface>::Attach(static_cast<Interface*>(Factory(className, Interface::IID_)));
}

// Aborts with message when hr is not S_OK.
void Check(HRESULT hr, const char* what);

// Pins the calling thread to one CPU; UnpinThread gives back the mask it had
// before the first pin.
void PinThread(int cpu);
void UnpinThread();
// Pins every thread of process pid to one CPU (threads made later inherit it).
void PinProcess(pid_t pid, int cpu);

// Starts the connection-service daemon in the foreground on the device root
// `root`, as a child with its standard output on a pipe, and returns once it
// said "ready"; ends the benchmark when it does not. Stop it with SIGTERM.
pid_t StartConnectionService(const std::string& root);

// The median of samples (reordered); 0 for none.
double Median(std::vector<double>& samples);

// The data set: `devices` device keys under the devices key, named
// DeviceName(i), each with `values` values (every third a REG_DWORD, the rest
// REG_SZ of 20 to 40 characters), written through the registry functions.
constexpr int kDevices = 200;
constexpr int kValuesPerDevice = 30;
inline constexpr char16_t kDevicesKey[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\Devices\\";
inline constexpr char16_t kConnectionServiceKey[] = u"Software\\OEM\\MORVALA\\MorCgSvc";
std::u16string DeviceName(int index);
std::u16string ValueName(int index);
std::u16string DevicePath(int index);
void Populate(int devices, int values);

// Resident set size in kB and open descriptors of this process.
long ResidentKb();
int OpenFds();

}  // namespace bench
