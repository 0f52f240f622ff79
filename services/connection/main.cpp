// morvala-connection-service: serves the connection service interface on
// the device's local RPC folder until SIGTERM or SIGINT.
#include <CLI/CLI.hpp>

#include <optional>

#include "ansi_text.h"
#include "connection_service.h"
#include "contracts/connection_service.h"
#include "daemon.h"

int main(int argc, char** argv) {
    CLI::App app{"The connection service: serves 9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa v1.0 over local RPC."};
    morvala::services::DaemonOptions options;
    morvala::services::AddDaemonOptions(app, options);
    std::string versionText = "10.0.2.1";
    app.add_option("--version-text", versionText, "text answered by GetText, sent in the ANSI code page")
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    std::optional<morvala::services::ConnectionService> service;
    auto prepare = [&] {
        // The ANSI code page is the device's: read it once the root is set.
        service.emplace(morvala::services::EncodeAnsi(morvala::services::Utf8ToUtf16(versionText)));
    };
    auto registerInterfaces = [&](platform::rpc::RpcServer& server) {
        return server.RegisterInterface(contracts::kConnectionServiceId, contracts::kConnectionServiceProcedures,
                                        service->Handlers());
    };
    return morvala::services::RunDaemon("morvala-connection-service", options, prepare, registerInterfaces);
}
