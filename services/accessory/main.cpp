// morvala-accessory-service: serves the accessory service interface on the
// device's local RPC folder until SIGTERM or SIGINT.
#include <CLI/CLI.hpp>

#include <optional>

#include "accessory_service.h"
#include "ansi_text.h"
#include "contracts/accessory_service.h"
#include "daemon.h"

int main(int argc, char** argv) {
    CLI::App app{"The accessory service: serves bf9dc6fe-9b52-4853-8a12-5fb75155ab63 v1.0 over local RPC."};
    morvala::services::DaemonOptions options;
    morvala::services::AddDaemonOptions(app, options);
    int32_t flag = 1;
    std::string versionText = "2.4.0.7";
    app.add_option("--flag", flag, "value answered by GetFlag")->capture_default_str();
    app.add_option("--version-text", versionText, "text answered by GetText, sent in the ANSI code page")
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    std::optional<morvala::services::AccessoryService> service;
    auto prepare = [&] {
        // The ANSI code page is the device's: read it once the root is set.
        service.emplace(flag, morvala::services::EncodeAnsi(morvala::services::Utf8ToUtf16(versionText)));
    };
    auto registerInterfaces = [&](platform::rpc::RpcServer& server) {
        return server.RegisterInterface(contracts::kAccessoryServiceId, contracts::kAccessoryServiceProcedures,
                                        service->Handlers());
    };
    return morvala::services::RunDaemon("morvala-accessory-service", options, prepare, registerInterfaces);
}
