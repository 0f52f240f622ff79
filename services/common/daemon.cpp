#include "daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/deviceroot.h"
#include "platform/errors.h"

namespace morvala::services {
namespace {

// Blocks the stop signals in this thread (and every thread started later),
// so that only the sigwait of the main thread receives them.
sigset_t BlockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

void WaitForStopSignal(const sigset_t& set) {
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
}

// The line that tells a starter the service is listening.
std::string ReadyLine(uint16_t tcpPort) {
    std::string line = "ready pid=" + std::to_string(getpid());
    if (tcpPort != 0) line += " tcp-port=" + std::to_string(tcpPort);
    return line + "\n";
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Goes to the background: the starting process waits on a pipe for the
// child's ready line, prints it and exits 0 (1 when the child failed to
// start). Returns, in the child, the pipe's write end for the ready line.
int Detach() {
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        std::exit(1);
    }
    if (child > 0) {
        close(fds[1]);
        std::string line;
        char buffer[128];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0) line.append(buffer, static_cast<size_t>(n));
        if (line.rfind("ready", 0) != 0) std::_Exit(1);
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        std::_Exit(0);
    }
    close(fds[0]);
    setsid();
    int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        if (devNull > STDERR_FILENO) close(devNull);
    }
    return fds[1];
}

bool ApplyRoot(const DaemonOptions& options, const char* name) {
    if (!options.root.empty()) setenv("MORVALA_ROOT", options.root.c_str(), 1);
    try {
        platform::EnsureDeviceRoot();
        return true;
    } catch (const platform::RuntimeError& error) {
        std::fprintf(stderr, "%s: cannot create the device root %s (0x%08x)\n", name, platform::DeviceRoot().c_str(),
                     static_cast<unsigned>(error.code()));
        return false;
    }
}

}  // namespace

void AddDaemonOptions(CLI::App& app, DaemonOptions& options) {
    app.add_option("--root", options.root, "device root folder (default: $MORVALA_ROOT or the platform default)");
    app.add_option("--tcp-port", options.tcpPort, "also listen on 127.0.0.1:PORT (0: any free port), for peer tests")
        ->check(CLI::Range(0, 65535));
    app.add_flag("--foreground", options.foreground, "stay in the foreground");
    app.add_option("--pid-file", options.pidFile, "write the process id to this file while serving");
}

int RunDaemon(const char* name, const DaemonOptions& options, const std::function<void()>& prepare,
              const RegisterInterfaces& registerInterfaces) {
    if (!ApplyRoot(options, name)) return 1;
    int readyFd = options.foreground ? STDOUT_FILENO : Detach();
    sigset_t stopSignals = BlockStopSignals();
    prepare();

    platform::rpc::RpcServerOptions serverOptions;
    serverOptions.listenTcp = options.tcpPort >= 0;
    serverOptions.tcpPort = static_cast<uint16_t>(options.tcpPort >= 0 ? options.tcpPort : 0);
    platform::rpc::RpcServer server(serverOptions);
    RPC_STATUS status = registerInterfaces(server);
    if (status == RPC_S_OK) status = server.Start();
    if (status != RPC_S_OK) {
        std::fprintf(stderr, "%s: cannot listen in %s/rpc (RPC status %d)\n", name, platform::DeviceRoot().c_str(),
                     static_cast<int>(status));
        return 1;
    }
    if (!options.pidFile.empty()) std::ofstream(options.pidFile) << getpid() << '\n';
    WriteAll(readyFd, ReadyLine(server.TcpPort()));
    if (readyFd != STDOUT_FILENO) close(readyFd);

    WaitForStopSignal(stopSignals);
    server.Stop();
    if (!options.pidFile.empty()) unlink(options.pidFile.c_str());
    return 0;
}

}  // namespace morvala::services
