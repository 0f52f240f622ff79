#include "daemon_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace morvala::test {
namespace {

constexpr int kWaitMs = 10000;

// Reads one line from fd within the time limit; empty on timeout or EOF.
std::string ReadLine(int fd, int timeoutMs) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd waiting{fd, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (poll(&waiting, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) break;
        char c;
        if (read(fd, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    return line;
}

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

DaemonProcess::~DaemonProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    CloseStdin();
    if (stdout_ >= 0) close(stdout_);
}

void DaemonProcess::CloseStdin() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
}

std::string DaemonProcess::ReadRest() {
    std::string text;
    for (;;) {
        std::string line = ReadLine(stdout_, kWaitMs);
        if (line.empty()) return text;
        text += line + "\n";
    }
}

bool DaemonProcess::Start(const std::string& program, const std::vector<std::string>& args,
                          std::optional<uid_t> uid, const std::string& readyWord) {
    int out[2];
    int in[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(in[0], STDIN_FILENO);
        if (uid && (setgroups(0, nullptr) != 0 || setgid(*uid) != 0 || setuid(*uid) != 0)) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    stdout_ = out[0];
    stdin_ = in[1];
    if (pid_ < 0) return false;
    readyLine_ = ReadLine(stdout_, kWaitMs);
    return readyLine_.rfind(readyWord, 0) == 0;
}

int DaemonProcess::WaitForExit() {
    if (pid_ <= 0) return -1;
    for (int waited = 0; waited < kWaitMs; waited += 10) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return ExitCode(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return -1;
}

int DaemonProcess::Stop(int signal) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    return WaitForExit();
}

int DaemonProcess::TcpPort() const {
    size_t at = readyLine_.find("tcp-port=");
    return at == std::string::npos ? 0 : std::stoi(readyLine_.substr(at + 9));
}

std::string ConnectionServicePath() { return MORVALA_CONNECTION_SERVICE; }
std::string AccessoryServicePath() { return MORVALA_ACCESSORY_SERVICE; }

int OpenDescriptorCount() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) return -1;
    while (readdir(folder) != nullptr) ++count;
    closedir(folder);
    return count - 3;  // ".", ".." and the folder's own descriptor
}

}  // namespace morvala::test
