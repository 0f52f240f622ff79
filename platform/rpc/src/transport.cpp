#include "transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform::rpc::transport {

namespace {

// A reader's buffer holds at least this much, so that small PDUs and what
// follows them arrive in one receive.
constexpr size_t kMinBuffer = 8192;

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

int Deadline::RemainingMs() const {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

Io SendAll(int fd, const std::vector<uint8_t>& data, int timeoutMs, int stopFd) {
    Deadline deadline(timeoutMs);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t sent = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
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

void PduReader::MakeRoom(size_t need) {
    if (capacity_ - begin_ >= need) return;
    // Too little room after the unread bytes: move them to the front, into a
    // larger buffer when even that is not enough.
    size_t capacity = std::max({capacity_, need, kMinBuffer});
    if (capacity != capacity_) {
        auto larger = std::unique_ptr<uint8_t[]>(new uint8_t[capacity]);
        if (Buffered() > 0) std::memcpy(larger.get(), buffer_.get() + begin_, Buffered());
        buffer_ = std::move(larger);
        capacity_ = capacity;
    } else if (Buffered() > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, Buffered());
    }
    end_ -= begin_;
    begin_ = 0;
}

Io PduReader::Fill(int fd, size_t need, bool started, Arrival arrival, const Deadline& deadline, int stopFd) {
    MakeRoom(need);
    bool wait = arrival == Arrival::Awaited;
    while (Buffered() < need) {
        if (wait) {
            if (Io waited = WaitFor(fd, POLLIN, deadline, stopFd); waited != Io::Ok) return waited;
        }
        ssize_t got = ::recv(fd, buffer_.get() + end_, capacity_ - end_, MSG_DONTWAIT);
        if (got > 0) {
            end_ += static_cast<size_t>(got);
            wait = false;
            continue;
        }
        if (got == 0) return started || Buffered() > 0 ? Io::Broken : Io::Closed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Io::Broken;
        wait = true;
    }
    return Io::Ok;
}

Io PduReader::Read(int fd, uint16_t maxFrag, int timeoutMs, int stopFd, Arrival arrival, std::vector<uint8_t>& pdu,
                   wire::Header& header) {
    Deadline deadline(timeoutMs);
    if (Buffered() > 0) arrival = Arrival::Likely;  // part of it, at least, is here
    if (Io io = Fill(fd, wire::kHeaderSize, false, arrival, deadline, stopFd); io != Io::Ok) return io;
    if (!wire::DecodeHeader(buffer_.get() + begin_, wire::kHeaderSize, maxFrag, header)) return Io::Malformed;
    if (Io io = Fill(fd, header.fragLength, true, Arrival::Likely, deadline, stopFd); io != Io::Ok) return io;
    pdu.assign(buffer_.get() + begin_, buffer_.get() + begin_ + header.fragLength);
    begin_ += header.fragLength;
    if (begin_ == end_) begin_ = end_ = 0;
    return Io::Ok;
}

RPC_STATUS ConnectLocal(const std::string& path, int timeoutMs, UniqueFd& fd) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return RPC_S_INVALID_ENDPOINT_FORMAT;
    std::memcpy(address.sun_path, path.data(), path.size());
    // A service that is not running has no socket file: one path lookup
    // tells, without making and closing a socket. A file left by a service
    // that is gone still fails at the connect.
    if (::access(address.sun_path, F_OK) != 0 && errno == ENOENT) return RPC_S_SERVER_UNAVAILABLE;
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
