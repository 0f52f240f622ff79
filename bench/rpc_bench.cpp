// RpcWrapper's connection-service members against the real daemon, beside a
// raw Unix-socket exchange of the same shape (connect, a bind-sized and a
// request-sized round trip, close) against a minimal serial server in another
// process. Both run with client and server pinned to one vCPU and to two, as
// waking a halted vCPU dominates a cross-vCPU hand-off on this machine. The
// unreachable-service path is timed beside a bare connect to a missing socket.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/bench_env.h"

namespace {

using namespace MorvalaFrameworkUiWinPRT;

// PDU sizes of one GetConnectionServiceText call on the wire (bind, bind_ack,
// request, response with the 8-byte default version text).
constexpr size_t kBindBytes = 72;
constexpr size_t kBindAckBytes = 96;
constexpr size_t kRequestBytes = 28;
constexpr size_t kResponseBytes = 44;

// ---- processes -----------------------------------------------------------

// The connection-service daemon on the benchmark's device root, in the
// foreground as a child; stopped with SIGTERM.
class Daemon {
public:
    explicit Daemon(const std::string& root) : pid_(bench::StartConnectionService(root)) {}
    ~Daemon() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_;
};

bool ReadAll(int fd, char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t got = ::read(fd, buffer + done, size - done);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const char* buffer, size_t size) {
    return ::write(fd, buffer, size) == static_cast<ssize_t>(size);
}

sockaddr_un AddressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// The minimal server: one process, one thread, blocking I/O; accept, answer
// the bind-sized and the request-sized message, wait for the close.
class RawServer {
public:
    explicit RawServer(const std::string& path) : path_(path) {
        int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = AddressOf(path);
        ::unlink(path.c_str());
        pid_ = ::fork();
        if (pid_ == 0) {
            // The listener is made in the server process itself.
            if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                ::listen(listener, 64) != 0)
                ::_exit(1);
            Serve(listener);
        }
        ::close(listener);
        for (int i = 0; i < 1000 && ::access(path.c_str(), F_OK) != 0; ++i) ::usleep(1000);
    }
    ~RawServer() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        ::unlink(path_.c_str());
    }
    pid_t pid() const { return pid_; }

private:
    [[noreturn]] static void Serve(int listener) {
        char in[256], out[256] = {};
        for (;;) {
            int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0) continue;
            if (ReadAll(fd, in, kBindBytes) && WriteAll(fd, out, kBindAckBytes) && ReadAll(fd, in, kRequestBytes) &&
                WriteAll(fd, out, kResponseBytes)) {
                while (::read(fd, in, sizeof in) > 0) {
                }
            }
            ::close(fd);
        }
    }

    std::string path_;
    pid_t pid_;
};

// One exchange of the floor's shape; false when any step fails.
bool RawExchange(const sockaddr_un& address) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    char buffer[256] = {};
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
              WriteAll(fd, buffer, kBindBytes) && ReadAll(fd, buffer, kBindAckBytes) &&
              WriteAll(fd, buffer, kRequestBytes) && ReadAll(fd, buffer, kResponseBytes);
    ::close(fd);
    return ok;
}

struct World {
    bench::DeviceRoot root;
    std::unique_ptr<Daemon> daemon;
    std::unique_ptr<RawServer> raw;
    platform::ComPtr<__IRpcWrapperPublicNonVirtuals> wrapper;
    platform::UniqueHString text;
};

World* g_world = nullptr;

// Client thread on CPU 0, the server process on serverCpu, for the scope.
class Placement {
public:
    Placement(pid_t server, int serverCpu) {
        bench::PinThread(0);
        bench::PinProcess(server, serverCpu);
    }
    ~Placement() { bench::UnpinThread(); }
};

// ---- members and floors ------------------------------------------------

void GetTextMember(benchmark::State& state, int serverCpu) {
    World& w = *g_world;
    Placement placement(w.daemon->pid(), serverCpu);
    for (auto _ : state) {
        HSTRING text = nullptr;
        bench::Check(w.wrapper->GetConnectionServiceText(&text), "GetConnectionServiceText");
        WindowsDeleteString(text);
    }
}

void CheckTextMember(benchmark::State& state, int serverCpu) {
    World& w = *g_world;
    Placement placement(w.daemon->pid(), serverCpu);
    for (auto _ : state) {
        boolean result = 0;
        bench::Check(w.wrapper->CheckConnectionServiceText(w.text.get(), &result), "CheckConnectionServiceText");
        benchmark::DoNotOptimize(result);
    }
}

void RawFloor(benchmark::State& state, int serverCpu) {
    World& w = *g_world;
    Placement placement(w.raw->pid(), serverCpu);
    const sockaddr_un address = AddressOf(w.root.Path() + "/raw.sock");
    for (auto _ : state) {
        if (!RawExchange(address)) {
            state.SkipWithError("raw exchange failed");
            break;
        }
    }
}

// The member and its floor in turns, in blocks of a few calls, each call
// timed on its own: both see the same moments of the machine (on a shared
// host the cost of waking a vCPU drifts from second to second), so their
// per-call medians compare closely where separate runs may not. Blocks
// rather than single turns, so that the tail of one side's call (its server
// closing the connection) falls on the other side's first call of a block
// only, which the median passes over. Reported as counters.
template <typename Member>
void Paired(benchmark::State& state, int serverCpu, Member member) {
    constexpr int kBlock = 8;
    World& w = *g_world;
    Placement placement(w.daemon->pid(), serverCpu);
    bench::PinProcess(w.raw->pid(), serverCpu);
    const sockaddr_un address = AddressOf(w.root.Path() + "/raw.sock");
    std::vector<double> memberNs, floorNs;
    using Clock = std::chrono::steady_clock;
    auto elapsedNs = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double, std::nano>(to - from).count();
    };
    for (auto _ : state) {
        for (int k = 0; k < kBlock; ++k) {
            auto start = Clock::now();
            member(w);
            memberNs.push_back(elapsedNs(start, Clock::now()));
        }
        for (int k = 0; k < kBlock; ++k) {
            auto start = Clock::now();
            if (!RawExchange(address)) {
                state.SkipWithError("raw exchange failed");
                return;
            }
            floorNs.push_back(elapsedNs(start, Clock::now()));
        }
    }
    state.counters["member_ns"] = bench::Median(memberNs);
    state.counters["floor_ns"] = bench::Median(floorNs);
}

void PairedGetText(benchmark::State& state, int serverCpu) {
    Paired(state, serverCpu, [](World& w) {
        HSTRING text = nullptr;
        bench::Check(w.wrapper->GetConnectionServiceText(&text), "GetConnectionServiceText");
        WindowsDeleteString(text);
    });
}

void PairedCheckText(benchmark::State& state, int serverCpu) {
    Paired(state, serverCpu, [](World& w) {
        boolean result = 0;
        bench::Check(w.wrapper->CheckConnectionServiceText(w.text.get(), &result), "CheckConnectionServiceText");
        benchmark::DoNotOptimize(result);
    });
}

// The member with no service listening: the device root is switched to an
// empty one for the benchmark.
void UnreachableMember(benchmark::State& state) {
    World& w = *g_world;
    bench::DeviceRoot empty;
    for (auto _ : state) {
        HSTRING text = nullptr;
        bench::Check(w.wrapper->GetConnectionServiceText(&text), "GetConnectionServiceText");
        WindowsDeleteString(text);
    }
    ::setenv("MORVALA_ROOT", w.root.Path().c_str(), 1);
    ::setenv("MORVALA_MANIFEST", (w.root.Path() + "/app.manifest").c_str(), 1);
}

void UnreachableFloor(benchmark::State& state) {
    World& w = *g_world;
    const sockaddr_un address = AddressOf(w.root.Path() + "/nothing-listens-here");
    for (auto _ : state) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        benchmark::DoNotOptimize(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
        ::close(fd);
    }
}

void Register() {
    struct Placing {
        const char* name;
        int serverCpu;
    };
    for (Placing p : {Placing{"[same vCPU]", 0}, Placing{"[two vCPUs]", 1}}) {
        const std::string get = std::string("GetConnectionServiceText") + p.name;
        const std::string check = std::string("CheckConnectionServiceText") + p.name;
        benchmark::RegisterBenchmark((get + "/member").c_str(), GetTextMember, p.serverCpu)->UseRealTime();
        benchmark::RegisterBenchmark((get + "/floor_socket").c_str(), RawFloor, p.serverCpu)->UseRealTime();
        benchmark::RegisterBenchmark((check + "/member").c_str(), CheckTextMember, p.serverCpu)->UseRealTime();
        benchmark::RegisterBenchmark((check + "/floor_socket").c_str(), RawFloor, p.serverCpu)->UseRealTime();
        benchmark::RegisterBenchmark((get + "/paired").c_str(), PairedGetText, p.serverCpu)->UseRealTime();
        benchmark::RegisterBenchmark((check + "/paired").c_str(), PairedCheckText, p.serverCpu)->UseRealTime();
    }
    benchmark::RegisterBenchmark("GetConnectionServiceText[unreachable]/member", UnreachableMember)->UseRealTime();
    benchmark::RegisterBenchmark("GetConnectionServiceText[unreachable]/floor_connect", UnreachableFloor)
        ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    World world;
    g_world = &world;
    world.daemon = std::make_unique<Daemon>(world.root.Path());
    world.raw = std::make_unique<RawServer>(world.root.Path() + "/raw.sock");
    auto factory = bench::FactoryOf<IActivationFactory>(RuntimeClass_RpcWrapper);
    platform::ComPtr<IInspectable> instance;
    bench::Check(factory->ActivateInstance(instance.put()), "ActivateInstance");
    bench::Check(instance->QueryInterface(__IRpcWrapperPublicNonVirtuals::IID_, world.wrapper.put_void()),
                 "QueryInterface");
    world.text = bench::MakeString(u"a text the service has not seen");
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    world.wrapper.reset();
    return 0;
}
