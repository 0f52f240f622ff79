#include "context.h"

#include <cstdio>

#include "status_names.h"

namespace morvala::cli {

void CheckMember(HRESULT status, const char* member) {
    if (FAILED(status)) throw CommandFailure(kExitFailed, std::string(member) + " answered " + DescribeStatus(status), status);
}

Result::Result(std::string command) {
    json_.Set("command", command);
    json_.Set("ok", true);
}

void Result::Print(bool json) const {
    if (json) {
        std::printf("%s\n", json_.Dump().c_str());
    } else {
        for (const std::string& line : lines_) std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

void PrintFailure(const std::string& command, const CommandFailure& failure, bool json) {
    std::fprintf(stderr, "morvala %s: %s\n", command.c_str(), failure.what());
    if (!json) return;
    Json object;
    object.Set("command", command).Set("ok", false).Set("exit_code", failure.exitCode()).Set("error", failure.what());
    if (failure.status()) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(*failure.status()));
        object.Set("status", hex).Set("status_name", StatusName(*failure.status()));
    }
    std::printf("%s\n", object.Dump().c_str());
    std::fflush(stdout);
}

void PrintEvent(bool json, const std::string& text, Json event) {
    if (json) {
        std::printf("%s\n", event.Dump().c_str());
    } else {
        std::printf("%s\n", text.c_str());
    }
    std::fflush(stdout);
}

}  // namespace morvala::cli
