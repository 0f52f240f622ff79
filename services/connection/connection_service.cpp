#include "connection_service.h"

#include <algorithm>

#include "contracts/connection_service.h"

namespace morvala::services {
namespace {

using platform::rpc::RpcArgument;
using platform::rpc::RpcCall;

constexpr uint32_t kProc1BlockLength = 16;

void SetOutput(RpcArgument& argument, int32_t value) { argument.value = static_cast<uint32_t>(value); }

// FNV-1a over the block: a checksum the caller can compute too.
int32_t Checksum(const std::vector<uint8_t>& block) {
    uint32_t hash = 2166136261u;
    for (uint8_t byte : block) {
        hash ^= byte;
        hash *= 16777619u;
    }
    return static_cast<int32_t>(hash);
}

// Puts `text` into an out array of UTF-16 units, cut to the client's
// capacity (count sizes the array); returns whether it all fit.
bool PutUnits(RpcArgument& buffer, const RpcArgument& count, const std::u16string& text) {
    size_t fits = std::min<size_t>(text.size(), count.capacity);
    buffer.units.assign(text, 0, fits);
    return fits == text.size();
}

}  // namespace

ConnectionService::ConnectionService(std::string versionAnsi) : versionAnsi_(std::move(versionAnsi)) {}

std::vector<platform::rpc::RpcHandler> ConnectionService::Handlers() {
    auto bind = [this](RPC_STATUS (ConnectionService::*member)(RpcCall&)) {
        return [this, member](RpcCall& call) {
            {
                std::lock_guard guard(mutex_);
                ++callsServed_;
            }
            return (this->*member)(call);
        };
    };
    return {bind(&ConnectionService::SendText), bind(&ConnectionService::Proc1),
            bind(&ConnectionService::Proc2),    bind(&ConnectionService::GetText),
            bind(&ConnectionService::Proc4),    bind(&ConnectionService::Proc5),
            bind(&ConnectionService::Proc6),    bind(&ConnectionService::SendText),  // Proc7 stores as SendText does
            bind(&ConnectionService::SendNonEmptyText), bind(&ConnectionService::CheckText)};
}

void ConnectionService::Remember(const std::u16string& text) {
    std::lock_guard guard(mutex_);
    lastText_ = text;
    haveText_ = true;
    ++textsReceived_;
    if (std::find(known_.begin(), known_.end(), text) == known_.end()) {
        known_.push_back(text);
        if (known_.size() > kRememberedTexts) known_.pop_front();
    }
}

// 0 SendText, 7 Proc7: (text, status). Stores the text; status 1.
RPC_STATUS ConnectionService::SendText(RpcCall& call) {
    Remember(call.args[0].text);
    SetOutput(call.args[1], 1);
    return RPC_S_OK;
}

// 1 Proc1: (text, block, length, status) -> checksum. Status 1 when the
// block has the 16 bytes the procedure is defined for, else 0; the result is
// the FNV-1a checksum of the block as received.
RPC_STATUS ConnectionService::Proc1(RpcCall& call) {
    const std::vector<uint8_t>& block = call.args[1].bytes;
    SetOutput(call.args[3], block.size() == kProc1BlockLength ? 1 : 0);
    call.returnValue = Checksum(block);
    return RPC_S_OK;
}

// 2 Proc2: (buffer, count, status). The last text received, cut to the
// capacity; status 1 when a text was received and it fit whole, else 0.
RPC_STATUS ConnectionService::Proc2(RpcCall& call) {
    std::lock_guard guard(mutex_);
    bool whole = PutUnits(call.args[0], call.args[1], haveText_ ? lastText_ : std::u16string());
    SetOutput(call.args[2], haveText_ && whole ? 1 : 0);
    return RPC_S_OK;
}

// 3 GetText: (buffer, count, status). The version text in the ANSI code
// page without NUL, cut to the capacity; status 1.
RPC_STATUS ConnectionService::GetText(RpcCall& call) {
    size_t fits = std::min<size_t>(versionAnsi_.size(), call.args[1].capacity);
    call.args[0].bytes.assign(versionAnsi_.begin(), versionAnsi_.begin() + static_cast<std::ptrdiff_t>(fits));
    SetOutput(call.args[2], 1);
    return RPC_S_OK;
}

// 4 Proc4: (value). How many texts procedures 0, 7 and 8 have stored.
RPC_STATUS ConnectionService::Proc4(RpcCall& call) {
    std::lock_guard guard(mutex_);
    SetOutput(call.args[0], textsReceived_);
    return RPC_S_OK;
}

// 5 Proc5: (text, buffer, count, status). Echoes the text, cut to the
// capacity; status 1 when it fit whole, else 0.
RPC_STATUS ConnectionService::Proc5(RpcCall& call) {
    bool whole = PutUnits(call.args[1], call.args[2], call.args[0].text);
    SetOutput(call.args[3], whole ? 1 : 0);
    return RPC_S_OK;
}

// 6 Proc6: (value). How many calls the service has served, this one included.
RPC_STATUS ConnectionService::Proc6(RpcCall& call) {
    std::lock_guard guard(mutex_);
    SetOutput(call.args[0], callsServed_);
    return RPC_S_OK;
}

// 8 SendNonEmptyText: (text, status). Stores a non-empty text, status 1; an
// empty one is not stored, status 0.
RPC_STATUS ConnectionService::SendNonEmptyText(RpcCall& call) {
    bool empty = call.args[0].text.empty();
    if (!empty) Remember(call.args[0].text);
    SetOutput(call.args[1], empty ? 0 : 1);
    return RPC_S_OK;
}

// 9 CheckText: (text, status) -> 1 when a non-empty text equal to this one
// was stored before (among the last kRememberedTexts distinct texts), else
// 0; status 1.
RPC_STATUS ConnectionService::CheckText(RpcCall& call) {
    const std::u16string& text = call.args[0].text;
    std::lock_guard guard(mutex_);
    bool known = !text.empty() && std::find(known_.begin(), known_.end(), text) != known_.end();
    call.returnValue = known ? 1 : 0;
    SetOutput(call.args[1], 1);
    return RPC_S_OK;
}

}  // namespace morvala::services
