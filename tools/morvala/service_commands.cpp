// services start | stop | status [SERVICE]: the two daemons of the device root.
#include "host.h"
#include "platform/deviceroot.h"
#include "service_control.h"

namespace morvala::cli {
namespace {

std::vector<ServiceInfo> Selected(const std::string& which) {
    std::vector<ServiceInfo> selected;
    for (const ServiceInfo& service : KnownServices()) {
        if (which.empty() || which == "all" || which == service.shortName) selected.push_back(service);
    }
    if (selected.empty()) throw CommandFailure(kExitUsage, "SERVICE must be connection, accessory or all, not \"" + which + "\"");
    return selected;
}

Json StateJson(const ServiceInfo& service, const ServiceState& state) {
    Json object;
    object.Set("service", service.shortName).Set("program", service.program).Set("running", state.running);
    object.Set("pid", static_cast<int>(state.pid)).Set("pid_file", state.pidFile).Set("endpoint", state.endpoint);
    object.Set("endpoint_present", state.endpointPresent);
    if (!state.note.empty()) object.Set("note", state.note);
    return object;
}

std::string StateLine(const ServiceInfo& service, const ServiceState& state, const char* verb) {
    std::string line = std::string(service.shortName) + " service (" + service.program + "): ";
    if (state.running) {
        line += std::string(verb) + ", pid " + std::to_string(state.pid) + ", endpoint " + state.endpoint;
    } else {
        line += "not running";
    }
    if (!state.note.empty()) line += " (" + state.note + ")";
    return line;
}

enum class Action { Start, Stop, Status };

Result RunServices(Action action, const std::string& which) {
    std::vector<ServiceInfo> services = Selected(which);
    std::string root = platform::DeviceRoot();
    ServiceControl control(root, ProgramFolder());
    const char* name = action == Action::Start ? "services start" : action == Action::Stop ? "services stop" : "services status";
    Result result(name);
    result.Line("device root: " + root);
    result.Set("root", root);
    Json::Array states;
    for (const ServiceInfo& service : services) {
        if (action == Action::Start) {
            ServiceState state = control.Start(service);
            result.Line(StateLine(service, state, "ready"));
            states.push_back(StateJson(service, state));
        } else if (action == Action::Stop) {
            ServiceState before = control.Stop(service);
            std::string line = std::string(service.shortName) + " service (" + service.program + "): ";
            line += before.running ? "stopped (pid " + std::to_string(before.pid) + ")" : "was not running";
            if (!before.note.empty()) line += " (" + before.note + ")";
            result.Line(line);
            Json object = StateJson(service, before);
            object.Set("stopped", before.running);
            states.push_back(std::move(object));
        } else {
            ServiceState state = control.Status(service);
            result.Line(StateLine(service, state, "running"));
            states.push_back(StateJson(service, state));
        }
    }
    result.Set("services", std::move(states));
    return result;
}

}  // namespace

void AddServiceCommands(CLI::App& app, Host& host) {
    CLI::App* services = app.add_subcommand(
        "services", "the connection and accessory service daemons of the device root (pid files and logs in the root)");
    services->require_subcommand(1);
    struct Entry {
        const char* name;
        Action action;
        const char* help;
    };
    const Entry entries[] = {
        {"start", Action::Start, "start the daemons and wait until they listen"},
        {"stop", Action::Stop, "stop the daemons (SIGTERM) and wait until they ended"},
        {"status", Action::Status, "show whether each daemon runs, its pid and endpoint"},
    };
    for (const Entry& entry : entries) {
        CLI::App* command = services->add_subcommand(entry.name, entry.help);
        auto which = std::make_shared<std::string>();
        command->add_option("SERVICE", *which, "connection, accessory or all (default all)");
        Action action = entry.action;
        host.Bind(command, std::string("services ") + entry.name, [which, action] { return RunServices(action, *which); });
    }
}

}  // namespace morvala::cli
