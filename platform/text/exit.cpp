// Immediate process exit. The platform ends every other thread before the
// libraries' unload sequences run, so that nothing else runs inside a
// library while it is torn down; here the other threads are parked in a
// signal handler instead. A watchdog ends the process with the same code if an
// unload step cannot finish (a parked thread may hold a lock it needs).
#include <dirent.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "platform/activation.h"
#include "platform/text.h"

namespace {

constexpr unsigned kWatchdogSeconds = 3;
constexpr auto kParkWait = std::chrono::milliseconds(500);

std::atomic<int> exitCodeForWatchdog{0};
std::atomic<int> parkedThreads{0};

extern "C" void Park(int) {
    parkedThreads.fetch_add(1);
    for (;;) pause();
}

extern "C" void WatchdogExpired(int) { _exit(exitCodeForWatchdog.load()); }

int ParkSignal() { return SIGRTMIN + 3; }

void ArmWatchdog(UINT exitCode) {
    exitCodeForWatchdog.store(static_cast<int>(exitCode));
    struct sigaction action {};
    action.sa_handler = WatchdogExpired;
    sigaction(SIGALRM, &action, nullptr);
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    alarm(kWatchdogSeconds);
}

// Signals every thread of the process but this one that has not been
// signalled yet; returns how many were signalled.
int SignalOtherThreads(std::set<pid_t>& signalled) {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return 0;
    pid_t self = gettid();
    int count = 0;
    while (dirent* entry = readdir(tasks)) {
        pid_t thread = static_cast<pid_t>(std::atoi(entry->d_name));
        if (thread <= 0 || thread == self || !signalled.insert(thread).second) continue;
        if (syscall(SYS_tgkill, getpid(), thread, ParkSignal()) == 0) ++count;
    }
    closedir(tasks);
    return count;
}

void ParkOtherThreads() {
    struct sigaction action {};
    action.sa_handler = Park;
    sigfillset(&action.sa_mask);
    sigaction(ParkSignal(), &action, nullptr);
    std::set<pid_t> signalled;
    int expected = 0;
    // A thread may start while the first pass runs: look again until none is new.
    for (int pass = 0; pass < 4; ++pass) {
        int added = SignalOtherThreads(signalled);
        expected += added;
        if (added == 0 && pass > 0) break;
    }
    auto deadline = std::chrono::steady_clock::now() + kParkWait;
    while (parkedThreads.load() < expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

extern "C" [[noreturn]] void ExitProcess(UINT exitCode) {
    ArmWatchdog(exitCode);
    ParkOtherThreads();
    RoUninitializeLibrariesForExit();
    _exit(static_cast<int>(exitCode));
}
