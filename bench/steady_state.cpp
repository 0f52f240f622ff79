// Runs a million member calls (a mix of every RegistryManager member, the
// static event's add and remove, activation, and RpcWrapper calls against the
// connection-service daemon) and prints the process's resident memory and
// open descriptors before and after. The first "before" figure is taken after
// a warm-up round, when the store's connection, the loaded libraries and the
// allocator's pools exist; the run then shows whether anything keeps growing.
//
//   steady_state [calls]     (default 1000000)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MorvalaFrameworkUiWinPRT_delegates.h"
#include "platform/collections.h"
#include "support/bench_env.h"

namespace {

using namespace MorvalaFrameworkUiWinPRT;

struct Members {
    platform::ComPtr<__IRegistryManagerStatics> statics;
    platform::ComPtr<IActivationFactory> wrapperFactory;
    platform::ComPtr<__IRpcWrapperPublicNonVirtuals> wrapper;
    platform::UniqueHString ids[8];
    platform::UniqueHString paths[8];
    platform::UniqueHString name = bench::MakeString(u"Value01");
    platform::UniqueHString missing = bench::MakeString(u"NoSuchValue");
    platform::UniqueHString text = bench::MakeString(u"steady state text");
    platform::UniqueHString className = bench::MakeString(RuntimeClass_RpcWrapper);
};

// One call of the member numbered `which`; returns how many member calls it made.
int Call(Members& m, int which, int64_t round) {
    const int d = static_cast<int>(round % 8);
    switch (which) {
        case 0: {
            INT32 found = 0;
            HSTRING result = nullptr;
            bench::Check(m.statics->GetRegistryValue(m.paths[d].get(), m.name.get(), &found, &result), "read");
            WindowsDeleteString(result);
            return 1;
        }
        case 1: {
            INT32 found = 0;
            HSTRING result = nullptr;
            bench::Check(m.statics->GetRegistryValue(m.paths[d].get(), m.missing.get(), &found, &result), "read");
            WindowsDeleteString(result);
            return 1;
        }
        case 2: {
            platform::ComPtr<IMap_String_String> map;
            bench::Check(m.statics->GetDeviceValues(m.ids[d].get(), map.put()), "GetDeviceValues");
            return 1;
        }
        case 3: {
            platform::ComPtr<IVector_String> ids;
            bench::Check(m.statics->GetDeviceIds(ids.put()), "GetDeviceIds");
            return 1;
        }
        case 4: {
            boolean exists = 0;
            bench::Check(m.statics->DeviceExists(m.ids[d].get(), &exists), "DeviceExists");
            return 1;
        }
        case 5:
            bench::Check(m.statics->SetDeviceValue(m.ids[d].get(), m.name.get(), m.text.get()), "SetDeviceValue");
            return 1;
        case 6: {
            GPSLoggingSettingsCallback* handler = nullptr;
            bench::Check(MakeGPSLoggingSettingsCallback([](bool) {}, &handler), "handler");
            EventRegistrationToken token{};
            bench::Check(m.statics->add_GPSLoggingSettingsChanged(handler, &token), "add");
            handler->Release();
            boolean written = 0;
            bench::Check(m.statics->SetDisconnectionLoggingNeeded(round % 2 == 0, &written), "SetLogging");
            boolean value = 0;
            bench::Check(m.statics->GetDisconnectionLoggingNeeded(&value), "GetLogging");
            bench::Check(m.statics->remove_GPSLoggingSettingsChanged(token), "remove");
            return 4;
        }
        case 7: {
            IInspectable* instance = nullptr;
            bench::Check(m.wrapperFactory->ActivateInstance(&instance), "ActivateInstance");
            instance->Release();
            __IRegistryManagerPublicNonVirtuals* shared = nullptr;
            bench::Check(m.statics->GetInstance(&shared), "GetInstance");
            shared->Release();
            return 2;
        }
        default: {
            // RPC calls are slow (tens of microseconds), so one round in 64 makes them.
            if (round % 64 != 0) return 0;
            HSTRING text = nullptr;
            bench::Check(m.wrapper->GetConnectionServiceText(&text), "GetConnectionServiceText");
            WindowsDeleteString(text);
            boolean seen = 0;
            bench::Check(m.wrapper->CheckConnectionServiceText(m.text.get(), &seen), "CheckConnectionServiceText");
            return 2;
        }
    }
}

int64_t RunCalls(Members& m, int64_t calls) {
    int64_t made = 0;
    for (int64_t round = 0; made < calls; ++round) {
        for (int which = 0; which <= 8; ++which) made += Call(m, which, round);
    }
    return made;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t calls = argc > 1 ? std::atoll(argv[1]) : 1000000;
    bench::DeviceRoot root;
    const long rssAtStart = bench::ResidentKb();
    const int fdsAtStart = bench::OpenFds();
    bench::Populate(8, 10);
    pid_t daemon = bench::StartConnectionService(root.Path());
    int64_t made = 0;
    {
        Members m;
        for (int d = 0; d < 8; ++d) {
            m.ids[d] = bench::MakeString(bench::DeviceName(d));
            m.paths[d] = bench::MakeString(bench::DevicePath(d));
        }
        m.statics = bench::FactoryOf<__IRegistryManagerStatics>(RuntimeClass_RegistryManager);
        m.wrapperFactory = bench::FactoryOf<IActivationFactory>(RuntimeClass_RpcWrapper);
        platform::ComPtr<IInspectable> instance;
        bench::Check(m.wrapperFactory->ActivateInstance(instance.put()), "ActivateInstance");
        bench::Check(instance->QueryInterface(__IRpcWrapperPublicNonVirtuals::IID_, m.wrapper.put_void()), "QI");

        RunCalls(m, 20000);  // warm-up
        const long rssBefore = bench::ResidentKb();
        const int fdsBefore = bench::OpenFds();
        made = RunCalls(m, calls);
        const long rssAfter = bench::ResidentKb();
        const int fdsAfter = bench::OpenFds();
        std::printf("process start         : rss %6ld kB, fds %d\n", rssAtStart, fdsAtStart);
        std::printf("after warm-up (20000) : rss %6ld kB, fds %d\n", rssBefore, fdsBefore);
        std::printf("after %lld calls : rss %6ld kB, fds %d\n", static_cast<long long>(made), rssAfter, fdsAfter);
        std::printf("change                : rss %+ld kB, fds %+d\n", rssAfter - rssBefore, fdsAfter - fdsBefore);
    }
    ::kill(daemon, SIGTERM);
    ::waitpid(daemon, nullptr, 0);
    return 0;
}
