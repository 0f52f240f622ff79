// The connection service's behaviour: what each of its ten procedures does
// with its arguments. Kept apart from the daemon so tests can also serve it
// in-process. Thread-safe: handlers may run on several workers at once.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/rpc_server.h"

namespace morvala::services {

class ConnectionService {
public:
    // The most texts remembered for CheckText; older ones are forgotten.
    static constexpr size_t kRememberedTexts = 256;

    // versionAnsi: the bytes GetText answers (the version text in the ANSI
    // code page, no NUL).
    explicit ConnectionService(std::string versionAnsi);

    // One handler per procedure, in procedure order, for RegisterInterface.
    // The handlers refer to this object, which must outlive the server.
    std::vector<platform::rpc::RpcHandler> Handlers();

private:
    RPC_STATUS SendText(platform::rpc::RpcCall& call);
    RPC_STATUS Proc1(platform::rpc::RpcCall& call);
    RPC_STATUS Proc2(platform::rpc::RpcCall& call);
    RPC_STATUS GetText(platform::rpc::RpcCall& call);
    RPC_STATUS Proc4(platform::rpc::RpcCall& call);
    RPC_STATUS Proc5(platform::rpc::RpcCall& call);
    RPC_STATUS Proc6(platform::rpc::RpcCall& call);
    RPC_STATUS SendNonEmptyText(platform::rpc::RpcCall& call);
    RPC_STATUS CheckText(platform::rpc::RpcCall& call);

    // Remembers a received text (the last one and the known set).
    void Remember(const std::u16string& text);

    const std::string versionAnsi_;
    std::mutex mutex_;
    std::u16string lastText_;
    bool haveText_ = false;
    std::deque<std::u16string> known_;
    int32_t textsReceived_ = 0;
    int32_t callsServed_ = 0;
};

}  // namespace morvala::services
