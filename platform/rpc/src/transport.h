// Stream sockets for the runtime: non-blocking connect with a bounded wait,
// whole-PDU reads and writes with deadlines, peer credentials.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
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

// A point in time a whole exchange must finish by.
class Deadline {
public:
    explicit Deadline(int timeoutMs)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}
    // Milliseconds left, 0 once passed.
    int RemainingMs() const;

private:
    std::chrono::steady_clock::time_point end_;
};

enum class Io {
    Ok,
    Closed,     // the peer closed before the first byte of a PDU
    Broken,     // the peer closed mid-PDU, or the socket failed
    Timeout,    // the deadline passed
    Malformed,  // a header that is not a DCE/RPC PDU we accept
    Stopped,    // the stop descriptor became readable
};

// Writes all of data without ever blocking in the kernel, whatever the
// socket's mode. timeoutMs bounds the whole write; stopFd may be -1.
Io SendAll(int fd, const std::vector<uint8_t>& data, int timeoutMs, int stopFd = -1);

// Reads the PDUs of one connection through a buffer: each receive takes all
// that has arrived, so a PDU that came whole costs one system call however
// it splits into header and body, and bytes of the next PDU that came with
// it wait here for the next Read. One reader per connection, used by one
// thread at a time; nothing else may read from that socket.
class PduReader {
public:
    PduReader() = default;
    // A moved-from reader is empty, as a new one is.
    PduReader(PduReader&& other) noexcept { *this = std::move(other); }
    PduReader& operator=(PduReader&& other) noexcept {
        buffer_ = std::move(other.buffer_);
        capacity_ = std::exchange(other.capacity_, 0);
        begin_ = std::exchange(other.begin_, 0);
        end_ = std::exchange(other.end_, 0);
        return *this;
    }

    // How the first bytes of the next PDU are waited for. Waits are in poll,
    // never in a blocking receive: the kernel wakes a thread blocked in a
    // receive on a Unix socket also whenever the peer reads what this side
    // sent (room to write again), a wake-up for nothing that costs a
    // cross-CPU interrupt, while poll is woken for incoming data only.
    enum class Arrival {
        Likely,   // probably there already: receive first, wait if nothing came
        Awaited,  // the answer to something just sent: wait for the socket, then receive
    };

    // Reads one PDU (header checked with maxFrag) into pdu, whatever the
    // socket's blocking mode. timeoutMs bounds the whole PDU, so a peer that
    // stalls mid-PDU times out.
    Io Read(int fd, uint16_t maxFrag, int timeoutMs, int stopFd, Arrival arrival, std::vector<uint8_t>& pdu,
            wire::Header& header);

private:
    // Makes at least `need` bytes buffered. started: a PDU is under way, so
    // an end of stream is Broken rather than Closed.
    Io Fill(int fd, size_t need, bool started, Arrival arrival, const Deadline& deadline, int stopFd);
    // Makes room for `need` unread bytes from begin_ on.
    void MakeRoom(size_t need);
    size_t Buffered() const { return end_ - begin_; }

    std::unique_ptr<uint8_t[]> buffer_;  // left uninitialised: only received bytes are read
    size_t capacity_ = 0;
    size_t begin_ = 0;  // first unread byte
    size_t end_ = 0;    // one past the last received byte
};

// Connects a non-blocking stream socket. Returns RPC_S_OK; RPC_S_SERVER_UNAVAILABLE
// at once when nothing listens (missing or stale socket, refused port) or
// when the connection is not made within timeoutMs; RPC_S_INVALID_ENDPOINT_FORMAT
// for a path too long for a socket address; RPC_S_OUT_OF_RESOURCES.
RPC_STATUS ConnectLocal(const std::string& path, int timeoutMs, UniqueFd& fd);
RPC_STATUS ConnectTcp(uint32_t ipv4HostOrder, uint16_t port, int timeoutMs, UniqueFd& fd);

// The kernel's record of the process at the other end of a Unix socket.
bool PeerCredentials(int fd, struct ucred& credentials);

}  // namespace platform::rpc::transport
