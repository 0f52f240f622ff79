// Utils.ExitApplication ends the process with exit code 0 while other threads
// are inside members of the component, runs the unload sequence of the
// loaded libraries, and flushes nothing of the application's own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "MorvalaFrameworkUiWinPRT.h"
#include "scripted_service.h"
#include "support/component_loader.h"

namespace morvala::test {
namespace {

using namespace std::chrono_literals;
namespace abi = MorvalaFrameworkUiWinPRT;

std::string FileText(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class ExitApplicationTest : public ComponentTest {
protected:
    std::string probeLog_ = root().Path() + "/probe.log";
    ScopedEnvironment probeLogVariable_{"MORVALA_PROBE_LOG", probeLog_.c_str()};
    std::string unflushed_ = root().Path() + "/unflushed.txt";
};

// Loops `work` on a new thread until the process ends; `rounds` counts the
// finished calls.
void Busy(std::vector<std::thread>& threads, std::atomic<int>& rounds, std::function<void()> work) {
    threads.emplace_back([&rounds, work] {
        for (;;) {
            work();
            ++rounds;
        }
    });
}

// Runs in the child: everything below ends by the process exit.
[[noreturn]] void ExitWhileOtherThreadsAreInMembers(const std::string& unflushedPath) {
    // A library loaded through the loader, whose detach is logged.
    if (RoRegisterActivatableClass("Probe.Class", MORVALA_PROBE_PATH) != S_OK) std::_Exit(10);
    platform::ComPtr<IActivationFactory> probe;
    GetFactory(u"Probe.Class", IActivationFactory::IID_, probe.put_void());

    auto rpcFactory = GetFactory<IActivationFactory>(abi::RuntimeClass_RpcWrapper);
    auto registry = GetFactory<abi::__IRegistryManagerStatics>(abi::RuntimeClass_RegistryManager);
    auto utils = GetFactory<abi::__IUtilsStatics>(abi::RuntimeClass_Utils);
    platform::ComPtr<IInspectable> instance;
    platform::ComPtr<abi::__IRpcWrapperPublicNonVirtuals> rpc;
    if (!rpcFactory || !registry || !utils || rpcFactory->ActivateInstance(instance.put()) != S_OK ||
        instance.As(rpc) != S_OK) {
        std::_Exit(11);
    }

    // A service whose text procedure keeps its callers waiting.
    services::ScriptedService service;
    service.Answer(services::Service::Connection, 3,
                    services::Reply{.status = 1, .bytes = {'x'}, .delay = 1500ms});
    if (service.Start() != RPC_S_OK) std::_Exit(12);

    std::vector<std::thread> threads;
    std::atomic<int> rpcRounds{0};
    std::atomic<int> registryRounds{0};
    for (int i = 0; i < 2; ++i) {
        Busy(threads, rpcRounds, [rpc] {
            HSTRING text = nullptr;
            rpc->GetConnectionServiceText(&text);
            WindowsDeleteString(text);
        });
        Busy(threads, rpcRounds, [rpc] {
            boolean flag = 0;
            rpc->GetAccessoryServiceFlag(&flag);
        });
        Busy(threads, registryRounds, [registry] {
            boolean exists = 0;
            registry->DeviceExists(nullptr, &exists);
            INT32 found = 0;
            HSTRING value = nullptr;
            registry->GetRegistryValue(nullptr, nullptr, &found, &value);
            WindowsDeleteString(value);
        });
    }
    // Wait until callers are blocked inside the service call and the other
    // loops are running.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while ((service.CallCount() < 2 || rpcRounds.load() < 10 || registryRounds.load() < 10) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    if (service.CallCount() < 2) std::_Exit(13);

    // Buffered application output that only a normal exit would flush.
    std::FILE* pending = std::fopen(unflushedPath.c_str(), "w");
    if (pending == nullptr) std::_Exit(14);
    static char buffer[4096];
    std::setvbuf(pending, buffer, _IOFBF, sizeof buffer);
    std::fputs("written but not flushed", pending);

    utils->ExitApplication();
    std::_Exit(15);  // ExitApplication came back
}

TEST_F(ExitApplicationTest, EndsTheProcessWithCodeZeroWhileOtherThreadsAreInMembers) {
    EXPECT_EXIT(ExitWhileOtherThreadsAreInMembers(unflushed_), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(FileText(probeLog_), "attach\ndetach exit\n") << "the loaded libraries' unload sequence";
    EXPECT_EQ(FileText(unflushed_), "") << "the application's buffered output was flushed";
}

}  // namespace
}  // namespace morvala::test
