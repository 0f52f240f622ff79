#include "cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>

namespace morvala::test {
namespace {

using Clock = std::chrono::steady_clock;

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

const char* MorvalaPath() { return MORVALA_CLI; }

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
        if (fd >= 0) close(fd);
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args, std::optional<uid_t> uid) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return false;
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : strings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        if (uid && (setgid(*uid) != 0 || setuid(*uid) != 0)) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    signal(SIGPIPE, SIG_IGN);
    return true;
}

void ChildProcess::Write(const std::string& text) {
    size_t done = 0;
    while (in_ >= 0 && done < text.size()) {
        ssize_t n = write(in_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void ChildProcess::CloseStdin() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

bool ChildProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0) return false;
    if (poll(fds, 2, timeoutMs) <= 0) return true;
    int* ends[2] = {&out_, &err_};
    std::string* texts[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; ++i) {
        if (*ends[i] < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char buffer[4096];
        ssize_t n = read(*ends[i], buffer, sizeof buffer);
        if (n > 0) {
            texts[i]->append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return out_ >= 0 || err_ >= 0;
}

bool ChildProcess::WaitForOutput(const std::string& text, int seconds) {
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (result_.out.find(text) == std::string::npos) {
        if (Clock::now() > deadline || !Pump(100)) return result_.out.find(text) != std::string::npos;
    }
    return true;
}

ProcessResult ChildProcess::Finish(int seconds) {
    CloseStdin();
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    bool killed = false;
    while (Pump(100)) {
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            killed = true;
            break;
        }
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    result_.exitCode = killed ? -1 : ExitCode(status);
    return result_;
}

ProcessResult RunMorvala(const std::vector<std::string>& args, const std::string& input, int seconds) {
    ChildProcess child;
    if (!child.Start(MorvalaPath(), args)) return {};
    child.Write(input);
    return child.Finish(seconds);
}

}  // namespace morvala::test
