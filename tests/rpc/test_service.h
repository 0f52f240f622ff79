// A small service over the real contracts, for loopback tests: each
// procedure answers something a test can predict from its inputs.
#pragma once

#include <unistd.h>

#include <memory>
#include <numeric>

#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"
#include "platform/errors.h"
#include "platform/rpc_server.h"

namespace rpctest {

using platform::rpc::RpcCall;
using platform::rpc::RpcHandler;

// Connection service: 0,7,8 status = text length (7: "deny", "app", "bound",
// "drop" misbehave on purpose); 1 returns the block's byte sum, status = its
// length; 2 returns "hello"; 3 returns "abcdefghi", status 1; 4 value = caller
// pid; 5 echoes its text with a NUL; 6 value = caller uid; 9 returns 1 for
// "ab", else 2.
inline std::vector<RpcHandler> ConnectionHandlers() {
    auto textLength = [](RpcCall& call) {
        call.args[1].value = static_cast<uint32_t>(call.args[0].text.size());
        return RPC_S_OK;
    };
    std::vector<RpcHandler> handlers(10);
    handlers[0] = textLength;
    handlers[1] = [](RpcCall& call) {
        const auto& block = call.args[1].bytes;
        call.returnValue = std::accumulate(block.begin(), block.end(), 0);
        call.args[3].value = static_cast<uint32_t>(block.size());
        return RPC_S_OK;
    };
    handlers[2] = [](RpcCall& call) {
        call.args[0].units = u"hello";
        call.args[2].value = 1;
        return RPC_S_OK;
    };
    handlers[3] = [](RpcCall& call) {
        call.args[0].bytes = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'};
        call.args[2].value = 1;
        return RPC_S_OK;
    };
    handlers[4] = [](RpcCall& call) {
        call.args[0].value = static_cast<uint32_t>(call.caller.pid);
        return RPC_S_OK;
    };
    handlers[5] = [](RpcCall& call) {
        call.args[1].units = call.args[0].text + u'\0';
        call.args[3].value = 1;
        return RPC_S_OK;
    };
    handlers[6] = [](RpcCall& call) {
        call.args[0].value = static_cast<uint32_t>(call.caller.uid);
        return RPC_S_OK;
    };
    handlers[7] = [](RpcCall& call) -> RPC_STATUS {
        const std::u16string& text = call.args[0].text;
        if (text == u"deny") return RPC_S_ACCESS_DENIED;
        if (text == u"app") return 0x12345;
        if (text == u"bound") throw platform::RpcException(RPC_S_INVALID_BOUND);
        if (text == u"drop") call.dropConnection = true;
        call.args[1].value = static_cast<uint32_t>(text.size());
        return RPC_S_OK;
    };
    handlers[8] = textLength;
    handlers[9] = [](RpcCall& call) {
        call.returnValue = call.args[0].text == u"ab" ? 1 : 2;
        return RPC_S_OK;
    };
    return handlers;
}

// Accessory service: 0 remembers nothing; 1 flag 7; 2 status = total text
// length + 1; 3 returns "v1.2".
inline std::vector<RpcHandler> AccessoryHandlers() {
    std::vector<RpcHandler> handlers(4);
    handlers[0] = [](RpcCall&) { return RPC_S_OK; };
    handlers[1] = [](RpcCall& call) {
        call.args[0].value = 7;
        return RPC_S_OK;
    };
    handlers[2] = [](RpcCall& call) {
        size_t total = call.args[0].text.size() + call.args[1].text.size() + call.args[2].text.size();
        call.args[3].value = static_cast<uint32_t>(total + 1);
        return RPC_S_OK;
    };
    handlers[3] = [](RpcCall& call) {
        call.args[0].bytes = {'v', '1', '.', '2'};
        call.args[2].value = 1;
        return RPC_S_OK;
    };
    return handlers;
}

inline std::unique_ptr<platform::rpc::RpcServer> StartTestServer(platform::rpc::RpcServerOptions options = {},
                                                                 bool withAccessory = true) {
    auto server = std::make_unique<platform::rpc::RpcServer>(options);
    if (server->RegisterInterface(contracts::kConnectionServiceId, contracts::kConnectionServiceProcedures,
                                  ConnectionHandlers()) != RPC_S_OK) {
        return nullptr;
    }
    if (withAccessory && server->RegisterInterface(contracts::kAccessoryServiceId,
                                                   contracts::kAccessoryServiceProcedures,
                                                   AccessoryHandlers()) != RPC_S_OK) {
        return nullptr;
    }
    return server->Start() == RPC_S_OK ? std::move(server) : nullptr;
}

}  // namespace rpctest
