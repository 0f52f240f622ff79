// morvala: a command-line host of libMorvalaFrameworkUiWinPRT.so. It loads
// the component through the loader as an application does and offers every
// member of its three classes as a subcommand, plus the service daemons, the
// registry as .reg text, and a guided demo.
#include <cstdio>
#include <cstdlib>

#include "host.h"

namespace {

constexpr const char* kFooter =
    "Exit codes: 0 done; 1 a member answered a failure status (printed in hex with its name) or the operation "
    "failed; 2 bad usage; 3 the component or a service program could not be found or loaded.\n"
    "The component is found through --library, else MORVALA_MANIFEST, else ../lib next to this program. "
    "The device root (registry store, RPC endpoints, service pid files) is --root, else MORVALA_ROOT.";

// The words of the command line that are not options (at most two), for
// the "command" member of a usage failure under --json.
std::string UsageName(int argc, char** argv) {
    std::string name;
    int words = 0;
    for (int i = 1; i < argc && words < 2; ++i) {
        if (argv[i][0] == '-') continue;
        name += (name.empty() ? "" : " ") + std::string(argv[i]);
        ++words;
    }
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace morvala::cli;
    Host host;
    CLI::App app{"morvala: call the members of the Morvala framework component from the command line."};
    app.footer(kFooter);
    app.require_subcommand(1);
    app.fallthrough();
    app.add_flag("--json", host.options.json, "print one JSON object per command result (and per event)");
    app.add_option("--root", host.options.root, "device root folder (exported as MORVALA_ROOT)");
    app.add_option("--library", host.options.library, "the component library to load");

    AddRegistryCommands(app, host);
    AddLoggingCommands(app, host);
    AddRpcCommands(app, host);
    AddServiceCommands(app, host);
    AddRegCommands(app, host);
    AddDemoCommand(app, host);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        app.exit(error);  // CLI11's message and the hint to --help, on stderr
        if (host.options.json) {
            Json object;
            object.Set("command", UsageName(argc, argv)).Set("ok", false).Set("exit_code", int{kExitUsage});
            object.Set("error", error.what());
            std::printf("%s\n", object.Dump().c_str());
        }
        return kExitUsage;
    }
    if (!host.options.root.empty()) setenv("MORVALA_ROOT", host.options.root.c_str(), 1);
    try {
        Result result = host.ChosenWork()();
        result.Print(host.options.json);
        return kExitDone;
    } catch (const CommandFailure& failure) {
        PrintFailure(host.ChosenName(), failure, host.options.json);
        return failure.exitCode();
    }
}
