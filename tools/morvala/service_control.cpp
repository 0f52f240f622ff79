#include "service_control.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "context.h"

namespace morvala::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStartLimit = std::chrono::seconds(15);
constexpr auto kStopLimit = std::chrono::seconds(10);

bool PathExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Whether `pid` is a live (not zombie) process whose program is `program`.
bool IsLiveDaemon(pid_t pid, const char* program) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z') return false;
    std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
    std::string argv0;
    std::getline(cmdline, argv0, '\0');
    std::string base = argv0.substr(argv0.rfind('/') + 1);
    return base == program;
}

pid_t ReadPid(const std::string& pidFile) {
    std::ifstream in(pidFile);
    long pid = 0;
    if (!(in >> pid) || pid <= 0) return 0;
    return static_cast<pid_t>(pid);
}

// The last non-empty line of a file, for an error message.
std::string LastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (!line.empty()) last = line;
    }
    return last;
}

// Runs the daemon's starting command with stdout on a pipe and reads what it
// prints until it exits (it exits once the detached daemon listens).
std::string RunStarter(const std::vector<std::string>& args, const std::string& logFile) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw CommandFailure(kExitFailed, "pipe failed");
    pid_t child = fork();
    if (child < 0) throw CommandFailure(kExitFailed, "fork failed");
    if (child == 0) {
        int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(devNull, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        if (log >= 0) dup2(log, STDERR_FILENO);
        close_range(3, ~0U, 0);  // the daemon keeps none of our descriptors
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    auto deadline = Clock::now() + kStartLimit;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd waiting{out[0], POLLIN, 0};
        if (left <= 0 || poll(&waiting, 1, static_cast<int>(left)) <= 0) {
            kill(child, SIGKILL);
            break;
        }
        char buffer[256];
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    waitpid(child, nullptr, 0);
    return text;
}

}  // namespace

const std::vector<ServiceInfo>& KnownServices() {
    static const std::vector<ServiceInfo> services = {
        {"connection", "morvala-connection-service", "9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa"},
        {"accessory", "morvala-accessory-service", "bf9dc6fe-9b52-4853-8a12-5fb75155ab63"},
    };
    return services;
}

ServiceControl::ServiceControl(std::string root, std::string programFolder)
    : root_(std::move(root)), programFolder_(std::move(programFolder)) {}

std::string ServiceControl::PidFile(const ServiceInfo& service) const { return root_ + "/" + service.program + ".pid"; }
std::string ServiceControl::LogFile(const ServiceInfo& service) const { return root_ + "/" + service.program + ".log"; }
std::string ServiceControl::Endpoint(const ServiceInfo& service) const {
    return root_ + "/rpc/" + service.interfaceId + "_1.0";
}

ServiceState ServiceControl::Status(const ServiceInfo& service) const {
    ServiceState state;
    state.pidFile = PidFile(service);
    state.endpoint = Endpoint(service);
    state.endpointPresent = PathExists(state.endpoint);
    pid_t pid = ReadPid(state.pidFile);
    if (pid > 0 && IsLiveDaemon(pid, service.program)) {
        state.running = true;
        state.pid = pid;
    } else if (PathExists(state.pidFile)) {
        state.note = "stale pid file";
    }
    return state;
}

ServiceState ServiceControl::Start(const ServiceInfo& service) const {
    ServiceState state = Status(service);
    if (state.running) {
        state.note = "already running";
        return state;
    }
    if (!state.note.empty()) unlink(state.pidFile.c_str());
    std::string program = programFolder_ + "/" + service.program;
    if (access(program.c_str(), X_OK) != 0) {
        throw CommandFailure(kExitEnvironment, "cannot find the service program " + program);
    }
    mkdir(root_.c_str(), 0755);
    std::string output = RunStarter({program, "--root", root_, "--pid-file", PidFile(service)}, LogFile(service));
    if (output.rfind("ready pid=", 0) != 0) {
        std::string reason = LastLine(LogFile(service));
        throw CommandFailure(kExitFailed, std::string(service.program) + " did not start" +
                                              (reason.empty() ? std::string() : ": " + reason));
    }
    state = Status(service);
    state.pid = static_cast<pid_t>(std::stol(output.substr(10)));
    state.running = true;
    return state;
}

ServiceState ServiceControl::Stop(const ServiceInfo& service) const {
    ServiceState before = Status(service);
    if (!before.running) {
        if (!before.note.empty()) {
            unlink(before.pidFile.c_str());
            before.note = "stale pid file removed";
        }
        return before;
    }
    if (kill(before.pid, SIGTERM) != 0 && errno != ESRCH) {
        throw CommandFailure(kExitFailed, std::string("cannot signal ") + service.program + " (pid " +
                                              std::to_string(before.pid) + ")");
    }
    auto deadline = Clock::now() + kStopLimit;
    while (IsLiveDaemon(before.pid, service.program)) {
        if (Clock::now() > deadline) {
            throw CommandFailure(kExitFailed, std::string(service.program) + " (pid " + std::to_string(before.pid) +
                                                  ") did not stop within 10 s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    unlink(before.pidFile.c_str());  // a clean stop removed it already; a crash did not
    return before;
}

}  // namespace morvala::cli
