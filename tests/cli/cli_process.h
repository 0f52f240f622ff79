// Runs the built `morvala` (or another program) as a child process with
// pipes on stdin, stdout and stderr, bounded in time, in the caller's
// environment (so the test's MORVALA_ROOT applies).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace morvala::test {

struct ProcessResult {
    int exitCode = -1;  // 128 + signal when killed; -1 when it had to be killed for the time limit
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts program with args; with `uid`, the child drops to that user first.
    bool Start(const std::string& program, const std::vector<std::string>& args, std::optional<uid_t> uid = std::nullopt);
    void Write(const std::string& text);
    void CloseStdin();
    // Reads stdout until it holds `text` or `seconds` pass; true when found.
    bool WaitForOutput(const std::string& text, int seconds);
    void Signal(int signal);
    // Closes stdin, reads everything and reaps the child; kills it after `seconds`.
    ProcessResult Finish(int seconds);

private:
    bool Pump(int timeoutMs);  // reads what is there; false when both pipes ended
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    ProcessResult result_;
};

// Path of the built morvala.
const char* MorvalaPath();

// Runs morvala with args (and stdin text), at most `seconds`.
ProcessResult RunMorvala(const std::vector<std::string>& args, const std::string& input = "", int seconds = 60);

}  // namespace morvala::test
