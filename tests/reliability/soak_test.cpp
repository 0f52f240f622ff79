// Soak: two processes with four threads each call every member of the
// component for a bounded time (about 20 s in CI, minutes in long mode):
// RegistryManager's statics, the disconnection-logging flag with handlers
// registered and removed, and RpcWrapper against the real daemons. Each
// answer is checked; at the end each process has released everything it
// was given, the component answers that it can unload once its exit handlers
// have released the shared RegistryManager instance, and the key handles
// and descriptors are back at their starting counts. Meant to run under the
// ASan and TSan builds as well.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "MorvalaFrameworkUiWinPRT.h"
#include "MorvalaFrameworkUiWinPRT_delegates.h"
#include "campaign.h"
#include "daemon_process.h"
#include "platform/collections.h"
#include "platform/registry.h"
#include "support/component_loader.h"

namespace {

namespace abi = MorvalaFrameworkUiWinPRT;
using morvala::test::MakeHString;
using morvala::test::ToU16;
using Clock = std::chrono::steady_clock;

constexpr int kThreads = 4;
constexpr int kOperations = 16;

// Counts of one process's run; a wrong answer is recorded with its first few names.
struct Tally {
    std::atomic<uint64_t> calls{0}, wrong{0}, events{0};
    std::mutex mutex;
    std::string firstWrong;

    void Check(bool holds, const char* what) {
        ++calls;
        if (holds) return;
        if (++wrong <= 5) {
            std::lock_guard lock(mutex);
            firstWrong += std::string(what) + "; ";
        }
    }
};

std::u16string U16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// One thread's work: operation after operation, every member in turn, until the deadline.
class Worker {
public:
    Worker(int process, int thread, Tally& tally) : tally_(tally), own_(U16("Soak" + std::to_string(process) + "_" +
                                                                            std::to_string(thread))) {}

    // Returns false when the objects could not be had.
    bool Acquire() {
        statics_ = morvala::test::GetFactory<abi::__IRegistryManagerStatics>(abi::RuntimeClass_RegistryManager);
        auto factory = morvala::test::GetFactory<IActivationFactory>(abi::RuntimeClass_RpcWrapper);
        platform::ComPtr<IInspectable> instance;
        if (!statics_ || !factory || factory->ActivateInstance(instance.put()) != S_OK) return false;
        return instance.As(rpc_) == S_OK;
    }

    void Release() {
        if (handler_) statics_->remove_GPSLoggingSettingsChanged(token_);
        handler_.reset();
        rpc_.reset();
        statics_.reset();
    }

    void Run(Clock::time_point deadline) {
        for (uint64_t i = 0; Clock::now() < deadline; ++i) Operation(static_cast<int>(i % kOperations), i);
    }

    void Operation(int op, uint64_t i) {
        Tally& t = tally_;
        switch (op) {
            case 0: {
                const std::u16string value = U16("value " + std::to_string(i));
                Set(own_, u"v", value);
                t.Check(DeviceValue(own_, u"v") == value, "GetDeviceValues after SetDeviceValue");
                exists_ = true;
                break;
            }
            case 1: {
                platform::ComPtr<IVector_String> ids;
                t.Check(statics_->GetDeviceIds(ids.put()) == S_OK && ids, "GetDeviceIds");
                break;
            }
            case 2: {
                boolean result = 2;
                platform::UniqueHString id = MakeHString(own_);
                t.Check(statics_->DeviceExists(id.get(), &result) == S_OK && result == (exists_ ? 1 : 0),
                        "DeviceExists");
                break;
            }
            case 3: {
                platform::UniqueHString id = MakeHString(own_);
                t.Check(statics_->DeleteDevice(id.get()) == S_OK, "DeleteDevice");
                exists_ = false;
                break;
            }
            case 4: {
                platform::UniqueHString path = MakeHString(u"Software\\OEM\\MORVALA\\MorvalaAccessories"),
                                        name = MakeHString(u"Version"), text;
                INT32 found = -1;
                t.Check(statics_->GetRegistryValue(path.get(), name.get(), &found, text.put()) == S_OK &&
                            (found == 0 || found == 1),
                        "GetRegistryValue");
                break;
            }
            case 5: {
                platform::UniqueHString version = MakeHString(u"1.2.3");
                t.Check(statics_->SetAccessoriesVersion(version.get()) == S_OK, "SetAccessoriesVersion");
                break;
            }
            case 6: {
                platform::UniqueHString name = MakeHString(u"Level"), value = MakeHString(U16(std::to_string(i % 100)));
                t.Check(statics_->SetBrightnessValue(name.get(), value.get()) == S_OK, "SetBrightnessValue");
                break;
            }
            case 7: {
                platform::ComPtr<abi::__IRegistryManagerPublicNonVirtuals> instance;
                t.Check(statics_->GetInstance(instance.put()) == S_OK && instance, "GetInstance");
                break;
            }
            case 8: {
                boolean result = 2, now = 2;
                t.Check(statics_->SetDisconnectionLoggingNeeded(i % 2, &result) == S_OK && result == 1,
                        "SetDisconnectionLoggingNeeded");
                t.Check(statics_->GetDisconnectionLoggingNeeded(&now) == S_OK && now <= 1,
                        "GetDisconnectionLoggingNeeded");
                break;
            }
            case 9:
                Churn();
                break;
            case 10: {
                const std::u16string text = own_ + U16(" " + std::to_string(i));
                platform::UniqueHString h = MakeHString(text);
                t.Check(rpc_->SendConnectionServiceText(h.get()) == S_OK, "SendConnectionServiceText");
                boolean seen = 2;
                t.Check(rpc_->CheckConnectionServiceText(h.get(), &seen) == S_OK && seen == 1,
                        "CheckConnectionServiceText after sending it");
                break;
            }
            case 11:
                t.Check(Text(&abi::__IRpcWrapperPublicNonVirtuals::GetConnectionServiceText) == u"10.0.2.1",
                        "GetConnectionServiceText");
                break;
            case 12:
                t.Check(Text(&abi::__IRpcWrapperPublicNonVirtuals::GetAccessoryServiceText) == u"2.4.0.7",
                        "GetAccessoryServiceText");
                break;
            case 13: {
                boolean flag = 2;
                t.Check(rpc_->GetAccessoryServiceFlag(&flag) == S_OK && flag == 1, "GetAccessoryServiceFlag");
                break;
            }
            case 14: {
                platform::UniqueHString a = MakeHString(u"a"), b = MakeHString(u"b"), c = MakeHString(u"c");
                boolean sent = 2;
                t.Check(rpc_->SendAccessoryServiceTexts(a.get(), b.get(), c.get(), &sent) == S_OK && sent == 1,
                        "SendAccessoryServiceTexts");
                break;
            }
            default: {
                platform::UniqueHString text = MakeHString(u"x");
                t.Check(rpc_->SendConnectionServiceNonEmptyText(text.get()) == S_OK,
                        "SendConnectionServiceNonEmptyText");
                break;
            }
        }
    }

private:
    void Set(const std::u16string& device, const char16_t* name, const std::u16string& value) {
        platform::UniqueHString id = MakeHString(device), n = MakeHString(name), v = MakeHString(value);
        tally_.Check(statics_->SetDeviceValue(id.get(), n.get(), v.get()) == S_OK, "SetDeviceValue");
    }

    std::u16string DeviceValue(const std::u16string& device, const char16_t* name) {
        platform::ComPtr<IMap_String_String> map;
        platform::UniqueHString id = MakeHString(device), key = MakeHString(name), value;
        if (statics_->GetDeviceValues(id.get(), map.put()) != S_OK || !map) return u"(no map)";
        boolean has = 0;
        if (map->HasKey(key.get(), &has) != S_OK || !has || map->Lookup(key.get(), value.put()) != S_OK) return {};
        return ToU16(value.get());
    }

    template <typename Member>
    std::u16string Text(Member member) {
        platform::UniqueHString text;
        HRESULT hr = (rpc_.get()->*member)(text.put());
        return hr == S_OK ? ToU16(text.get()) : u"(failed)";
    }

    // Registers a handler when none is, else removes it.
    void Churn() {
        if (handler_) {
            tally_.Check(statics_->remove_GPSLoggingSettingsChanged(token_) == S_OK, "remove handler");
            handler_.reset();
            return;
        }
        Tally* tally = &tally_;
        HRESULT made = abi::MakeGPSLoggingSettingsCallback([tally](bool) { ++tally->events; }, handler_.put());
        tally_.Check(made == S_OK && statics_->add_GPSLoggingSettingsChanged(handler_.get(), &token_) == S_OK,
                     "add handler");
    }

    Tally& tally_;
    std::u16string own_;
    bool exists_ = false;
    platform::ComPtr<abi::__IRegistryManagerStatics> statics_;
    platform::ComPtr<abi::__IRpcWrapperPublicNonVirtuals> rpc_;
    platform::ComPtr<abi::GPSLoggingSettingsCallback> handler_;
    EventRegistrationToken token_{};
};

// What one process found at the end.
struct ProcessResult {
    uint64_t calls = 0, wrong = 0, events = 0;
    int handlesLeft = 0, fdsLeft = 0;
    HRESULT canUnload = E_FAIL;
};

// One process's share: a warm-up pass (the store and the RPC runtime open
// what they keep), the starting counts, four threads until the deadline,
// then everything released and the counts taken again.
ProcessResult RunProcess(int process, Clock::duration length, std::string& firstWrong) {
    Tally tally;
    ProcessResult result;
    {
        Worker warmUp(process, 9, tally);
        if (!warmUp.Acquire()) return result;
        for (int op = 0; op < kOperations; ++op) warmUp.Operation(op, 0);
        warmUp.Release();
    }
    const uint32_t handles = platform::RegistryOpenHandleCount();
    const int fds = reliability::OpenFdCount();
    {
        std::vector<Worker> workers;
        for (int t = 0; t < kThreads; ++t) workers.emplace_back(process, t, tally);
        for (Worker& worker : workers) {
            if (!worker.Acquire()) return result;
        }
        const Clock::time_point deadline = Clock::now() + length;
        std::vector<std::thread> threads;
        for (Worker& worker : workers) threads.emplace_back([&worker, deadline] { worker.Run(deadline); });
        for (std::thread& thread : threads) thread.join();
        for (Worker& worker : workers) worker.Release();
    }
    result.calls = tally.calls;
    result.wrong = tally.wrong;
    result.events = tally.events;
    result.handlesLeft = static_cast<int>(platform::RegistryOpenHandleCount()) - static_cast<int>(handles);
    result.fdsLeft = reliability::OpenFdCount() - fds;
    // The shared RegistryManager instance lives until the library's exit
    // handlers run; anything else still alive keeps the answer at S_FALSE.
    RoUninitializeLibrariesForExit();
    result.canUnload = morvala::test::ComponentCanUnloadNow();
    firstWrong = tally.firstWrong;
    return result;
}

class Soak : public morvala::test::ComponentTest {};

TEST_F(Soak, TwoProcessesFourThreadsEveryMember) {
    using morvala::test::DaemonProcess;
    DaemonProcess connection, accessory;
    ASSERT_TRUE(connection.Start(morvala::test::ConnectionServicePath(), {"--root", root().Path(), "--foreground"}));
    ASSERT_TRUE(accessory.Start(morvala::test::AccessoryServicePath(), {"--root", root().Path(), "--foreground"}));
    {
        // The connection service's key, so that the logging flag can be written.
        platform::UniqueHkey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM\\MORVALA\\MorCgSvc", 0, nullptr, 0, KEY_WRITE,
                                  nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    const auto length = reliability::ScaledSeconds(20, 240);

    // The second process, forked while this one has no threads; it reports
    // through a pipe.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        ::close(fds[0]);
        std::string firstWrong;
        ProcessResult result = RunProcess(1, length, firstWrong);
        bool written = ::write(fds[1], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
        if (!firstWrong.empty()) std::fprintf(stderr, "second process: %s\n", firstWrong.c_str());
        ::_exit(written ? 0 : 1);
    }
    ::close(fds[1]);
    std::string firstWrong;
    ProcessResult mine = RunProcess(0, length, firstWrong);
    ProcessResult theirs;
    bool reported = ::read(fds[0], &theirs, sizeof theirs) == static_cast<ssize_t>(sizeof theirs);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(other, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second process ended with status " << status;
    EXPECT_TRUE(reported) << "the second process sent no result";

    for (const ProcessResult* r : {&mine, &theirs}) {
        SCOPED_TRACE(r == &mine ? "first process" : "second process");
        EXPECT_GT(r->calls, 0u);
        EXPECT_EQ(r->wrong, 0u) << firstWrong;
        EXPECT_EQ(r->handlesLeft, 0) << "key handles left open";
        EXPECT_EQ(r->fdsLeft, 0) << "descriptors left open";
        EXPECT_EQ(r->canUnload, S_OK) << "objects of the component still alive";
    }
    EXPECT_EQ(connection.Stop(SIGTERM), 0) << "the connection daemon survived the soak";
    EXPECT_EQ(accessory.Stop(SIGTERM), 0) << "the accessory daemon survived the soak";
    reliability::Print({"soak", mine.calls + theirs.calls, 0, mine.wrong + theirs.wrong,
                        WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0u : 1u,
                        "seconds=" + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(length).count()) +
                            " events=" + std::to_string(mine.events + theirs.events)});
}

}  // namespace
