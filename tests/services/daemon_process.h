// A service daemon (or a peer script) run as a real child process for a
// test: started with its command line (optionally as another user), waited
// for until it prints its ready line, and stopped with a signal or by closing
// its stdin.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace morvala::test {

class DaemonProcess {
public:
    DaemonProcess() = default;
    ~DaemonProcess();  // SIGKILL if still running
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    // Starts `program` with `args`; when `uid` is set the child drops to that
    // uid (and gid) before exec. Waits up to 10 s for the first stdout line.
    // Returns true when it began with "ready" (or `readyWord`); the line is kept.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               std::optional<uid_t> uid = std::nullopt, const std::string& readyWord = "ready");

    // Sends `signal` and waits up to 10 s for the exit. Returns the exit
    // code, 128 + signal number when a signal ended it, or -1 when it had to
    // be killed.
    int Stop(int signal);

    // Waits up to 10 s for an exit without signalling; the code as for Stop.
    int WaitForExit();

    // Closes the child's stdin (a pipe), which ends a peer script.
    void CloseStdin();
    // Reads the rest of the child's stdout until it closes it (at most 10 s).
    std::string ReadRest();

    pid_t Pid() const { return pid_; }
    const std::string& ReadyLine() const { return readyLine_; }
    // The tcp-port= value of the ready line, 0 when absent.
    int TcpPort() const;

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string readyLine_;
};

// Path of a built daemon, from the build (compile definitions).
std::string ConnectionServicePath();
std::string AccessoryServicePath();

// Number of open file descriptors of this process.
int OpenDescriptorCount();

}  // namespace morvala::test
