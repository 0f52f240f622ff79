// The server's side of one connection, fed by a fuzzed client: the PDU
// reader, bind and alter_context, request reassembly, dispatch and the
// request decoder of every procedure of both interfaces, over a socket pair.
// The first input byte may put a valid bind in front of the rest (0: none,
// 1: connection service, 2: accessory service, 3: both as contexts 0 and 1),
// so that the fuzzer spends its time past the bind.
//
// What the server sends back must be a stream of whole PDUs that our own
// decoders accept, each no longer than the server's fragment limit.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "rpc_procedures.h"
#include "pdu.h"
#include "server_connection.h"

namespace {

using namespace platform::rpc;

constexpr uint16_t kMaxFragment = 5840;

// Fills every output from the call: 4-byte outputs, out arrays of up to 40
// elements within the capacity sent, or one past it when the first text is
// "over" (the runtime must fault that rather than send it). Procedure 4
// fails with a status, procedure 6 throws, a first text "drop" drops.
RPC_STATUS Handle(const ProcedureShape& shape, RpcCall& call) {
    if (call.opnum == 4) return RPC_S_ACCESS_DENIED;
    if (call.opnum == 6) throw std::runtime_error("handler failure");
    std::u16string first;
    for (const auto& arg : call.args) {
        if (arg.kind == RPC_FC_WSTRING) {
            first = arg.text;
            break;
        }
    }
    if (first == u"drop") call.dropConnection = true;
    for (unsigned char k = 0; k < shape.count; ++k) {
        RpcArgument& arg = call.args[k];
        if (arg.kind == RPC_FC_INT32_REF) arg.value = 0x1234u + k;
        if (!shape.params[k].IsOutArray()) continue;
        uint32_t capacity = call.args[shape.params[k].sizedBy].capacity;
        uint32_t count = capacity < 40 ? capacity : 40;
        if (first == u"over" && capacity < 64) count = capacity + 1;
        if (arg.kind == RPC_FC_WCHAR_ARRAY) {
            arg.units.assign(count, u'w');
        } else {
            arg.bytes.assign(count, 'b');
        }
    }
    call.returnValue = 7;
    return RPC_S_OK;
}

std::vector<RegisteredInterface> MakeInterfaces() {
    std::vector<RegisteredInterface> interfaces;
    for (const auto& procedure : fuzz::AllProcedures()) {
        if (interfaces.empty() || !(interfaces.back().id.SyntaxGUID == procedure.interfaceId->SyntaxGUID)) {
            interfaces.push_back(RegisteredInterface{*procedure.interfaceId, {}, {}});
        }
        ProcedureShape shape = procedure.shape;
        interfaces.back().shapes.push_back(shape);
        interfaces.back().handlers.push_back([shape](RpcCall& call) { return Handle(shape, call); });
    }
    return interfaces;
}

std::vector<uint8_t> BindPrefix(uint8_t choice) {
    wire::BindBody body;
    body.maxXmitFrag = kMaxFragment;
    body.maxRecvFrag = kMaxFragment;
    if (choice == 1 || choice == 3) {
        body.contexts.push_back(wire::ContextElement{0, contracts::kConnectionServiceId, {kNdr20TransferSyntax}});
    }
    if (choice == 2 || choice == 3) {
        auto id = static_cast<uint16_t>(choice == 3 ? 1 : 0);
        body.contexts.push_back(wire::ContextElement{id, contracts::kAccessoryServiceId, {kNdr20TransferSyntax}});
    }
    if (body.contexts.empty()) return {};
    return wire::EncodeBind(wire::kBind, 1, body);
}

// Writes input to fd while reading what comes back, until the server closes.
std::vector<uint8_t> Exchange(int fd, const std::vector<uint8_t>& input) {
    std::vector<uint8_t> output;
    size_t written = 0;
    bool writing = true;
    for (;;) {
        if (writing && written == input.size()) {
            ::shutdown(fd, SHUT_WR);
            writing = false;
        }
        pollfd poller{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
        int ready = ::poll(&poller, 1, 10000);
        if (ready < 0 && errno == EINTR) continue;  // libFuzzer's watchdog signal
        FUZZ_CHECK(ready > 0);                      // the server hung
        if (writing && (poller.revents & (POLLOUT | POLLERR)) != 0) {
            ssize_t sent = ::send(fd, input.data() + written, input.size() - written, MSG_NOSIGNAL);
            if (sent > 0) written += static_cast<size_t>(sent);
            if (sent < 0 && errno != EAGAIN && errno != EINTR) writing = false;  // the server closed first
        }
        if ((poller.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            uint8_t buffer[8192];
            ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return output;
            if (got > 0) output.insert(output.end(), buffer, buffer + got);
        }
    }
}

void CheckAnswers(const std::vector<uint8_t>& output) {
    size_t at = 0;
    while (at < output.size()) {
        wire::Header header;
        FUZZ_CHECK(wire::DecodeHeader(output.data() + at, output.size() - at, kMaxFragment, header));
        FUZZ_CHECK(header.fragLength <= output.size() - at);
        std::vector<uint8_t> pdu(output.begin() + static_cast<std::ptrdiff_t>(at),
                                 output.begin() + static_cast<std::ptrdiff_t>(at + header.fragLength));
        wire::BindAckBody ack;
        wire::ResponseBody response;
        wire::FaultBody fault;
        uint16_t reason = 0;
        switch (header.type) {
            case wire::kBindAck:
            case wire::kAlterContextResp: FUZZ_CHECK(wire::DecodeBindAck(pdu, ack)); break;
            case wire::kBindNak: FUZZ_CHECK(wire::DecodeBindNak(pdu, reason)); break;
            case wire::kResponse: FUZZ_CHECK(wire::DecodeResponse(pdu, response)); break;
            case wire::kFault: FUZZ_CHECK(wire::DecodeFault(pdu, fault)); break;
            default: FUZZ_CHECK(!"the server sent a PDU of a type it never sends");
        }
        at += header.fragLength;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const std::vector<RegisteredInterface> interfaces = MakeInterfaces();
    static RpcServerOptions options = [] {
        RpcServerOptions o;
        o.idleTimeoutMs = 2000;
        o.maxFragment = kMaxFragment;
        o.maxRequestBytes = 16384;  // small, so that the limit is within the fuzzer's reach
        return o;
    }();
    ServerShared shared;
    shared.options = &options;
    shared.interfaces = &interfaces;

    std::vector<uint8_t> input = BindPrefix(data[0] & 3);
    input.insert(input.end(), data + 1, data + size);

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    CallerIdentity caller{::getuid(), ::getgid(), ::getpid(), true};
    std::thread server([&] {
        ServerConnection connection(shared, transport::UniqueFd(fds[0]), caller, "fuzz_endpoint");
        connection.Serve();
    });
    std::vector<uint8_t> output = Exchange(fds[1], input);
    server.join();
    ::close(fds[1]);
    CheckAnswers(output);
    return 0;
}
