// What every command of the host shares: the global options, the way a
// result is printed (plain lines or one JSON object), and the failure that a
// command throws to end with a meaningful exit code.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "json.h"
#include "platform/types.h"

namespace morvala::cli {

// Exit codes of morvala.
enum ExitCode : int {
    kExitDone = 0,         // the command did its work
    kExitFailed = 1,       // a member answered a failure status, or the operation failed
    kExitUsage = 2,        // bad usage: unknown command or option, wrong or malformed arguments
    kExitEnvironment = 3,  // the component or a service program could not be found or loaded
};

struct GlobalOptions {
    bool json = false;     // --json: one JSON object per command result on stdout
    std::string root;      // --root: the device root (exported as MORVALA_ROOT)
    std::string library;   // --library: the component to load (else the manifest or ../lib)
};

// A failure that ends the command: its exit code, a message that says what
// was wrong, and the status a member answered, when one did.
class CommandFailure : public std::runtime_error {
public:
    CommandFailure(int exitCode, const std::string& message, std::optional<HRESULT> status = std::nullopt)
        : std::runtime_error(message), exitCode_(exitCode), status_(status) {}
    int exitCode() const { return exitCode_; }
    std::optional<HRESULT> status() const { return status_; }

private:
    int exitCode_;
    std::optional<HRESULT> status_;
};

// Throws CommandFailure(kExitFailed) naming the member and the status when
// `status` is a failure; returns otherwise.
void CheckMember(HRESULT status, const char* member);

// One command's result: plain lines for a terminal, members for --json.
class Result {
public:
    explicit Result(std::string command);
    void Line(const std::string& text) { lines_.push_back(text); }
    Result& Set(const std::string& key, Json value) {
        json_.Set(key, std::move(value));
        return *this;
    }
    // Prints the result to stdout in the chosen form and flushes.
    void Print(bool json) const;

private:
    std::vector<std::string> lines_;
    Json json_;
};

// Prints a failure: a message on stderr, and with --json also an object
// {"command", "ok": false, "error", "status"?, "status_name"?} on stdout.
void PrintFailure(const std::string& command, const CommandFailure& failure, bool json);

// Prints one progress line at once (plain) or one JSON event object, for
// commands that report while they run (logging watch, demo).
void PrintEvent(bool json, const std::string& text, Json event);

}  // namespace morvala::cli
