// The host's command table: each subcommand registers its options with
// CLI11 and binds the work that runs once the command line is parsed.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "component_session.h"
#include "context.h"

namespace morvala::cli {

class Host {
public:
    GlobalOptions options;

    // The component session, made on first use with the parsed options.
    ComponentSession& Session();

    // Makes `command` run `work` when it is the one chosen on the command
    // line. `name` is the command's full name for messages and --json.
    void Bind(CLI::App* command, std::string name, std::function<Result()> work);

    // The chosen command's name and work; empty when none was chosen.
    const std::string& ChosenName() const { return chosenName_; }
    const std::function<Result()>& ChosenWork() const { return chosenWork_; }

private:
    std::optional<ComponentSession> session_;
    std::string chosenName_;
    std::function<Result()> chosenWork_;
};

// A positional UTF-8 argument converted to UTF-16; throws
// CommandFailure(kExitUsage) naming the argument when it is not UTF-8.
std::u16string ArgumentText(const std::string& value, const char* what);

// Adds a required positional argument and returns where its value lands.
std::shared_ptr<std::string> AddText(CLI::App* command, const char* name, const char* description);

// The command groups; each adds its subcommands to `app`.
void AddRegistryCommands(CLI::App& app, Host& host);
void AddLoggingCommands(CLI::App& app, Host& host);
void AddRpcCommands(CLI::App& app, Host& host);
void AddServiceCommands(CLI::App& app, Host& host);
void AddRegCommands(CLI::App& app, Host& host);
void AddDemoCommand(CLI::App& app, Host& host);

}  // namespace morvala::cli
