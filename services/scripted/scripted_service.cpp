#include "scripted_service.h"

#include <thread>

#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"

namespace morvala::services {
namespace {

using platform::rpc::RpcArgument;
using platform::rpc::RpcCall;

platform::rpc::RpcServerOptions ServerOptions(std::string folder, bool tcp) {
    platform::rpc::RpcServerOptions options;
    options.localFolder = std::move(folder);
    options.listenTcp = tcp;
    return options;
}

// Fills the handler's outputs from the reply.
void FillOutputs(const Reply& reply, RpcCall& call) {
    for (RpcArgument& argument : call.args) {
        if (argument.direction == RPC_FC_DIR_IN) continue;
        if (argument.kind == RPC_FC_INT32_REF) argument.value = static_cast<uint32_t>(reply.status);
        if (argument.kind == RPC_FC_BYTE_ARRAY) argument.bytes = reply.bytes;
        if (argument.kind == RPC_FC_WCHAR_ARRAY) argument.units = reply.units;
    }
    call.returnValue = reply.returnValue;
    call.rawResponseStub = reply.rawResponseStub;
    call.dropConnection = reply.dropConnection;
}

}  // namespace

StubWriter& StubWriter::U32(uint32_t value) {
    Align4();
    for (int shift = 0; shift < 32; shift += 8) stub_.push_back(static_cast<uint8_t>(value >> shift));
    return *this;
}

StubWriter& StubWriter::Bytes(const std::vector<uint8_t>& bytes) {
    stub_.insert(stub_.end(), bytes.begin(), bytes.end());
    return *this;
}

StubWriter& StubWriter::Units(const std::u16string& units) {
    for (char16_t unit : units) {
        stub_.push_back(static_cast<uint8_t>(unit & 0xFF));
        stub_.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return *this;
}

StubWriter& StubWriter::Align4() {
    while (stub_.size() % 4 != 0) stub_.push_back(0);
    return *this;
}

ScriptedService::ScriptedService(std::string folder, bool tcp) : server_(ServerOptions(std::move(folder), tcp)) {
    server_.RegisterInterface(contracts::kConnectionServiceId, contracts::kConnectionServiceProcedures,
                              HandlersFor(Service::Connection, contracts::kConnectionServiceProcedureCount));
    server_.RegisterInterface(contracts::kAccessoryServiceId, contracts::kAccessoryServiceProcedures,
                              HandlersFor(Service::Accessory, contracts::kAccessoryServiceProcedureCount));
}

ScriptedService::~ScriptedService() { Stop(); }

RPC_STATUS ScriptedService::Start() { return server_.Start(); }

void ScriptedService::Stop() { server_.Stop(); }

std::vector<platform::rpc::RpcHandler> ScriptedService::HandlersFor(Service service, size_t count) {
    std::vector<platform::rpc::RpcHandler> handlers;
    for (size_t k = 0; k < count; ++k) {
        handlers.emplace_back([this, service](RpcCall& call) { return Handle(service, call); });
    }
    return handlers;
}

RPC_STATUS ScriptedService::Handle(Service service, RpcCall& call) {
    Reply reply;
    {
        std::lock_guard guard(mutex_);
        received_.push_back(ReceivedCall{service, call.opnum, call.caller, call.args});
        auto scripted = replies_.find({service, call.opnum});
        if (scripted != replies_.end()) reply = scripted->second;
    }
    if (reply.delay.count() > 0) std::this_thread::sleep_for(reply.delay);
    if (reply.fault != RPC_S_OK) return reply.fault;
    FillOutputs(reply, call);
    return RPC_S_OK;
}

void ScriptedService::Answer(Service service, uint16_t opnum, Reply reply) {
    std::lock_guard guard(mutex_);
    replies_[{service, opnum}] = std::move(reply);
}

std::vector<ReceivedCall> ScriptedService::Received() const {
    std::lock_guard guard(mutex_);
    return received_;
}

size_t ScriptedService::CallCount() const {
    std::lock_guard guard(mutex_);
    return received_.size();
}

void ScriptedService::ClearReceived() {
    std::lock_guard guard(mutex_);
    received_.clear();
}

}  // namespace morvala::services
