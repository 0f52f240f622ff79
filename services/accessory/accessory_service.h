// The accessory service's behaviour: what each of its four procedures does.
// Kept apart from the daemon so tests can also serve it in-process.
// Thread-safe: handlers may run on several workers at once.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/rpc_server.h"

namespace morvala::services {

class AccessoryService {
public:
    // flag: what GetFlag answers; versionAnsi: the bytes GetText answers (the
    // accessory version text in the ANSI code page, no NUL).
    AccessoryService(int32_t flag, std::string versionAnsi);

    // One handler per procedure, in procedure order, for RegisterInterface.
    // The handlers refer to this object, which must outlive the server.
    std::vector<platform::rpc::RpcHandler> Handlers();

private:
    RPC_STATUS Proc0(platform::rpc::RpcCall& call);
    RPC_STATUS GetFlag(platform::rpc::RpcCall& call);
    RPC_STATUS SendTexts(platform::rpc::RpcCall& call);
    RPC_STATUS GetText(platform::rpc::RpcCall& call);

    const int32_t flag_;
    const std::string versionAnsi_;
    std::mutex mutex_;
    std::array<std::u16string, 2> proc0Texts_;
    std::array<uint32_t, 2> proc0Values_{};
    std::array<std::u16string, 3> sentTexts_;
};

}  // namespace morvala::services
