#include "accessory_service.h"

#include <algorithm>

namespace morvala::services {

using platform::rpc::RpcCall;

AccessoryService::AccessoryService(int32_t flag, std::string versionAnsi)
    : flag_(flag), versionAnsi_(std::move(versionAnsi)) {}

std::vector<platform::rpc::RpcHandler> AccessoryService::Handlers() {
    auto bind = [this](RPC_STATUS (AccessoryService::*member)(RpcCall&)) {
        return [this, member](RpcCall& call) { return (this->*member)(call); };
    };
    return {bind(&AccessoryService::Proc0), bind(&AccessoryService::GetFlag), bind(&AccessoryService::SendTexts),
            bind(&AccessoryService::GetText)};
}

// 0 Proc0: (text, text, value, value). Stores the two texts and two values;
// answers nothing.
RPC_STATUS AccessoryService::Proc0(RpcCall& call) {
    std::lock_guard guard(mutex_);
    proc0Texts_ = {call.args[0].text, call.args[1].text};
    proc0Values_ = {call.args[2].value, call.args[3].value};
    return RPC_S_OK;
}

// 1 GetFlag: (value). The configured flag.
RPC_STATUS AccessoryService::GetFlag(RpcCall& call) {
    call.args[0].value = static_cast<uint32_t>(flag_);
    return RPC_S_OK;
}

// 2 SendTexts: (text, text, text, status). Stores the three texts; status 1
// when all three are non-empty, else 0.
RPC_STATUS AccessoryService::SendTexts(RpcCall& call) {
    bool allSet = !call.args[0].text.empty() && !call.args[1].text.empty() && !call.args[2].text.empty();
    {
        std::lock_guard guard(mutex_);
        sentTexts_ = {call.args[0].text, call.args[1].text, call.args[2].text};
    }
    call.args[3].value = allSet ? 1u : 0u;
    return RPC_S_OK;
}

// 3 GetText: (buffer, count, status). The accessory version text in the
// ANSI code page without NUL, cut to the capacity; status 1.
RPC_STATUS AccessoryService::GetText(RpcCall& call) {
    size_t fits = std::min<size_t>(versionAnsi_.size(), call.args[1].capacity);
    call.args[0].bytes.assign(versionAnsi_.begin(), versionAnsi_.begin() + static_cast<std::ptrdiff_t>(fits));
    call.args[2].value = 1;
    return RPC_S_OK;
}

}  // namespace morvala::services
