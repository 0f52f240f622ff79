// Start and stop of a service daemon: the common command-line options, the
// device root, going to the background, the RPC server, the "ready" line,
// the pid file, and a clean stop on SIGTERM or SIGINT.
#pragma once

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "platform/rpc_server.h"

namespace morvala::services {

struct DaemonOptions {
    std::string root;      // --root: the device root; empty keeps MORVALA_ROOT / the default
    int tcpPort = -1;      // --tcp-port: also listen on 127.0.0.1 (0: any free port); -1: not
    bool foreground = false;  // --foreground: stay attached to the terminal
    std::string pidFile;   // --pid-file: write the pid there while serving
};

// Adds --root, --tcp-port, --foreground and --pid-file to `app`.
void AddDaemonOptions(CLI::App& app, DaemonOptions& options);

// Registers the daemon's interfaces on a server that is not started yet.
// Returns RPC_S_OK or the status of the failed registration.
using RegisterInterfaces = std::function<RPC_STATUS(platform::rpc::RpcServer& server)>;

// Runs a daemon until SIGTERM or SIGINT: applies --root (exported as
// MORVALA_ROOT), creates the device root, goes to the background unless
// --foreground, calls `prepare` (after the root is set, before serving),
// registers and starts the server, then prints one line to stdout:
// "ready pid=<pid>" plus " tcp-port=<port>" when listening on TCP (in the
// background mode the starting process prints it and exits 0). On a stop
// signal it stops the server (its sockets are removed) and removes the pid
// file. Returns the process exit code: 0 after a clean stop, 1 when it could
// not start (the reason on stderr).
int RunDaemon(const char* name, const DaemonOptions& options, const std::function<void()>& prepare,
              const RegisterInterfaces& registerInterfaces);

}  // namespace morvala::services
