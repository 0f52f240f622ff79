#include "transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform::rpc::transport {

namespace {

using Clock = std::chrono::steady_clock;

class Deadline {
public:
    explicit Deadline(int timeoutMs) : end_(Clock::now() + std::chrono::milliseconds(timeoutMs)) {}
    int RemainingMs() const {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

private:
    Clock::time_point end_;
};

// Waits for events on fd. Returns Ok, Timeout, Stopped or Broken.
Io WaitFor(int fd, short events, const Deadline& deadline, int stopFd) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        int ready = ::poll(fds, stopFd >= 0 ? 2 : 1, deadline.RemainingMs());
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Io::Broken;
        if (ready == 0) return Io::Timeout;
        if (stopFd >= 0 && (fds[1].revents & POLLIN) != 0) return Io::Stopped;
        return Io::Ok;  // readable, writable, or hung up: the next read or write tells which
    }
}

// Reads exactly size bytes. `started` says whether a PDU is under way, which
// makes an end of stream Broken rather than Closed.
Io ReadExactly(int fd, uint8_t* out, size_t size, bool started, const Deadline& deadline, int stopFd) {
    size_t done = 0;
    while (done < size) {
        ssize_t got = ::recv(fd, out + done, size - done, 0);
        if (got > 0) {
            done += static_cast<size_t>(got);
            continue;
        }
        if (got == 0) return started || done > 0 ? Io::Broken : Io::Closed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Io::Broken;
        if (Io waited = WaitFor(fd, POLLIN, deadline, stopFd); waited != Io::Ok) return waited;
    }
    return Io::Ok;
}

RPC_STATUS StatusForConnectError(int error) {
    switch (error) {
        case ENOMEM:
        case ENOBUFS:
        case EMFILE:
        case ENFILE: return RPC_S_OUT_OF_RESOURCES;
        default: return RPC_S_SERVER_UNAVAILABLE;
    }
}

RPC_STATUS FinishConnect(int fd, const sockaddr* address, socklen_t size, int timeoutMs) {
    if (::connect(fd, address, size) == 0) return RPC_S_OK;
    if (errno != EINPROGRESS && errno != EAGAIN && errno != EINTR) return StatusForConnectError(errno);
    if (WaitFor(fd, POLLOUT, Deadline(timeoutMs), -1) != Io::Ok) return RPC_S_SERVER_UNAVAILABLE;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        return StatusForConnectError(error);
    }
    return RPC_S_OK;
}

}  // namespace

void FdTraits::Close(int fd) noexcept { ::close(fd); }

Io SendAll(int fd, const std::vector<uint8_t>& data, int timeoutMs, int stopFd) {
    Deadline deadline(timeoutMs);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t sent = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (sent >= 0) {
            done += static_cast<size_t>(sent);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Io::Broken;
        if (Io waited = WaitFor(fd, POLLOUT, deadline, stopFd); waited != Io::Ok) return waited;
    }
    return Io::Ok;
}

Io ReadPdu(int fd, uint16_t maxFrag, int timeoutMs, int stopFd, std::vector<uint8_t>& pdu, wire::Header& header) {
    Deadline deadline(timeoutMs);
    pdu.resize(wire::kHeaderSize);
    if (Io io = ReadExactly(fd, pdu.data(), wire::kHeaderSize, false, deadline, stopFd); io != Io::Ok) return io;
    if (!wire::DecodeHeader(pdu.data(), pdu.size(), maxFrag, header)) return Io::Malformed;
    pdu.resize(header.fragLength);
    return ReadExactly(fd, pdu.data() + wire::kHeaderSize, header.fragLength - wire::kHeaderSize, true, deadline,
                       stopFd);
}

RPC_STATUS ConnectLocal(const std::string& path, int timeoutMs, UniqueFd& fd) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return RPC_S_INVALID_ENDPOINT_FORMAT;
    std::memcpy(address.sun_path, path.data(), path.size());
    fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) return RPC_S_OUT_OF_RESOURCES;
    RPC_STATUS status = FinishConnect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address, timeoutMs);
    if (status != RPC_S_OK) fd.reset();
    return status;
}

RPC_STATUS ConnectTcp(uint32_t ipv4HostOrder, uint16_t port, int timeoutMs, UniqueFd& fd) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(ipv4HostOrder);
    fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) return RPC_S_OUT_OF_RESOURCES;
    int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    RPC_STATUS status = FinishConnect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address, timeoutMs);
    if (status != RPC_S_OK) fd.reset();
    return status;
}

bool PeerCredentials(int fd, struct ucred& credentials) {
    socklen_t length = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 && length == sizeof credentials;
}

}  // namespace platform::rpc::transport
