// Stream sockets for the runtime: non-blocking connect with a bounded wait,
// whole-PDU reads and writes with deadlines, peer credentials.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pdu.h"
#include "platform/handle.h"
#include "platform/rpc.h"

namespace platform::rpc::transport {

struct FdTraits {
    using Type = int;
    static Type Invalid() noexcept { return -1; }
    static void Close(Type fd) noexcept;
};
using UniqueFd = UniqueHandle<FdTraits>;

enum class Io {
    Ok,
    Closed,     // the peer closed before the first byte of a PDU
    Broken,     // the peer closed mid-PDU, or the socket failed
    Timeout,    // the deadline passed
    Malformed,  // a header that is not a DCE/RPC PDU we accept
    Stopped,    // the stop descriptor became readable
};

// Writes all of data. timeoutMs bounds the whole write; stopFd may be -1.
Io SendAll(int fd, const std::vector<uint8_t>& data, int timeoutMs, int stopFd = -1);

// Reads exactly one PDU (header checked with maxFrag) into pdu.
// timeoutMs bounds the whole PDU, so a peer that stalls mid-PDU times out.
Io ReadPdu(int fd, uint16_t maxFrag, int timeoutMs, int stopFd, std::vector<uint8_t>& pdu, wire::Header& header);

// Connects a non-blocking stream socket. Returns RPC_S_OK; RPC_S_SERVER_UNAVAILABLE
// at once when nothing listens (missing or stale socket, refused port) or
// when the connection is not made within timeoutMs; RPC_S_INVALID_ENDPOINT_FORMAT
// for a path too long for a socket address; RPC_S_OUT_OF_RESOURCES.
RPC_STATUS ConnectLocal(const std::string& path, int timeoutMs, UniqueFd& fd);
RPC_STATUS ConnectTcp(uint32_t ipv4HostOrder, uint16_t port, int timeoutMs, UniqueFd& fd);

// The kernel's record of the process at the other end of a Unix socket.
bool PeerCredentials(int fd, struct ucred& credentials);

}  // namespace platform::rpc::transport
