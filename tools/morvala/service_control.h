// Start, stop and status of the two service daemons for one device root.
// Each daemon runs detached and keeps its pid file in the device root
// (<root>/<program>.pid) while it serves; its stderr goes to
// <root>/<program>.log. Its endpoint is <root>/rpc/<interface id>_1.0.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace morvala::cli {

struct ServiceInfo {
    const char* shortName;    // "connection" or "accessory"
    const char* program;      // the daemon's program name
    const char* interfaceId;  // its RPC interface id (version 1.0)
};

// The connection service first, then the accessory service.
const std::vector<ServiceInfo>& KnownServices();

struct ServiceState {
    bool running = false;
    pid_t pid = 0;
    std::string pidFile;
    std::string endpoint;
    bool endpointPresent = false;
    std::string note;  // "already running", "stale pid file removed", ...
};

class ServiceControl {
public:
    // `root`: the device root; `programFolder`: where the daemons are.
    ServiceControl(std::string root, std::string programFolder);

    // Reads the pid file and checks that the process is that daemon.
    ServiceState Status(const ServiceInfo& service) const;

    // Starts the daemon and waits (at most 15 s) until it listens. Returns
    // its state; a daemon that already runs is left alone (note says so).
    // Throws CommandFailure with the daemon's own message when it cannot start.
    ServiceState Start(const ServiceInfo& service) const;

    // Sends SIGTERM and waits (at most 10 s) until the daemon has removed
    // its pid file and ended. Returns the state before the stop (running
    // false when it was not running). Throws CommandFailure on timeout.
    ServiceState Stop(const ServiceInfo& service) const;

private:
    std::string PidFile(const ServiceInfo& service) const;
    std::string LogFile(const ServiceInfo& service) const;
    std::string Endpoint(const ServiceInfo& service) const;

    std::string root_;
    std::string programFolder_;
};

}  // namespace morvala::cli
