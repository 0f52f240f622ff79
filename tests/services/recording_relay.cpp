#include "recording_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace morvala::test {
namespace {

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

sockaddr_un UnixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    return address;
}

}  // namespace

RecordingRelay::RecordingRelay(std::string listenPath, RelayTarget target)
    : listenPath_(std::move(listenPath)), target_(std::move(target)) {}

RecordingRelay::~RecordingRelay() { Stop(); }

bool RecordingRelay::Start() {
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = UnixAddress(listenPath_);
    unlink(listenPath_.c_str());
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 || pipe2(stopPipe_, O_CLOEXEC) != 0) {
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void RecordingRelay::Stop() {
    if (thread_.joinable()) {
        char stop = 1;
        (void)!write(stopPipe_[1], &stop, 1);
        thread_.join();
    }
    for (int* fd : {&listener_, &stopPipe_[0], &stopPipe_[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    unlink(listenPath_.c_str());
}

std::vector<RelayConnection> RecordingRelay::Connections() const {
    std::lock_guard guard(mutex_);
    return connections_;
}

int RecordingRelay::ConnectTarget() const {
    if (!target_.unixPath.empty()) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = UnixAddress(target_.unixPath);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
        if (fd >= 0) close(fd);
        return -1;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(target_.tcpPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

void RecordingRelay::Run() {
    for (;;) {
        pollfd waiting[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (poll(waiting, 2, -1) < 0) continue;
        if (waiting[1].revents != 0) return;
        int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        Relay(client);
        close(client);
    }
}

void RecordingRelay::Relay(int client) {
    int server = ConnectTarget();
    if (server < 0) return;
    {
        std::lock_guard guard(mutex_);
        connections_.emplace_back();
    }
    uint8_t buffer[65536];
    for (bool open = true; open;) {
        pollfd waiting[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (poll(waiting, 3, -1) < 0) continue;
        if (waiting[2].revents != 0) break;
        for (int side = 0; side < 2 && open; ++side) {
            if (waiting[side].revents == 0) continue;
            int from = side == 0 ? client : server;
            int to = side == 0 ? server : client;
            ssize_t n = recv(from, buffer, sizeof buffer, 0);
            if (n <= 0 || !WriteAll(to, buffer, static_cast<size_t>(n))) {
                open = false;
                break;
            }
            std::lock_guard guard(mutex_);
            connections_.back().push_back(RelayChunk{side == 0, std::vector<uint8_t>(buffer, buffer + n)});
        }
    }
    close(server);
}

// ---- pcap -----------------------------------------------------------------

namespace {

constexpr uint32_t kClientAddress = 0x7F000002;  // 127.0.0.2
constexpr uint32_t kServerAddress = 0x7F000001;  // 127.0.0.1
constexpr uint8_t kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10;

void Put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, static_cast<uint16_t>(value >> 16));
    Put16(out, static_cast<uint16_t>(value));
}

uint16_t HeaderChecksum(const uint8_t* header, size_t size) {
    uint32_t sum = 0;
    for (size_t k = 0; k < size; k += 2) sum += static_cast<uint32_t>(header[k] << 8 | header[k + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// One TCP endpoint's view of a connection: addresses, ports, next sequence numbers.
struct Flow {
    uint32_t address;
    uint16_t port;
    uint32_t seq;
};

class PcapFile {
public:
    explicit PcapFile(const std::string& path) : out_(path, std::ios::binary) {
        // Global header in host (little-endian) order: magic, version 2.4,
        // zone 0, accuracy 0, snap length, link type 101 (raw IPv4).
        const uint32_t magic = 0xA1B2C3D4u;
        const uint16_t version[] = {2, 4};
        const uint32_t rest[] = {0, 0, 65535, 101};
        out_.write(reinterpret_cast<const char*>(&magic), sizeof magic);
        out_.write(reinterpret_cast<const char*>(version), sizeof version);
        out_.write(reinterpret_cast<const char*>(rest), sizeof rest);
    }
    bool ok() const { return out_.good(); }

    // Writes one segment from `from` to `to` and advances from.seq.
    void Segment(Flow& from, const Flow& to, uint8_t flags, const uint8_t* data, size_t size) {
        std::vector<uint8_t> packet;
        Put16(packet, 0x4500);
        Put16(packet, static_cast<uint16_t>(40 + size));
        Put32(packet, 0x00004000);  // id 0, don't fragment
        Put16(packet, 0x4006);      // ttl 64, TCP
        Put16(packet, 0);
        Put32(packet, from.address);
        Put32(packet, to.address);
        uint16_t checksum = HeaderChecksum(packet.data(), 20);
        packet[10] = static_cast<uint8_t>(checksum >> 8);
        packet[11] = static_cast<uint8_t>(checksum);
        Put16(packet, from.port);
        Put16(packet, to.port);
        Put32(packet, from.seq);
        Put32(packet, (flags & kAck) ? to.seq : 0);
        Put16(packet, static_cast<uint16_t>(0x5000 | flags));
        Put16(packet, 65535);
        Put32(packet, 0);  // checksum (not validated by tshark by default), urgent pointer
        packet.insert(packet.end(), data, data + size);
        from.seq += static_cast<uint32_t>(size) + ((flags & (kSyn | kFin)) ? 1 : 0);

        ++micros_;
        const uint32_t record[] = {static_cast<uint32_t>(1700000000 + micros_ / 1000000),
                                   static_cast<uint32_t>(micros_ % 1000000), static_cast<uint32_t>(packet.size()),
                                   static_cast<uint32_t>(packet.size())};
        out_.write(reinterpret_cast<const char*>(record), sizeof record);
        out_.write(reinterpret_cast<const char*>(packet.data()), static_cast<std::streamsize>(packet.size()));
    }

private:
    std::ofstream out_;
    uint64_t micros_ = 0;
};

}  // namespace

bool WritePcap(const std::string& path, const std::vector<RelayConnection>& connections, uint16_t serverPort) {
    PcapFile file(path);
    for (size_t index = 0; index < connections.size(); ++index) {
        Flow client{kClientAddress, static_cast<uint16_t>(40000 + index), 1000};
        Flow server{kServerAddress, serverPort, 5000};
        file.Segment(client, server, kSyn, nullptr, 0);
        file.Segment(server, client, kSyn | kAck, nullptr, 0);
        file.Segment(client, server, kAck, nullptr, 0);
        for (const RelayChunk& chunk : connections[index]) {
            Flow& from = chunk.fromClient ? client : server;
            const Flow& to = chunk.fromClient ? server : client;
            file.Segment(from, to, kPsh | kAck, chunk.bytes.data(), chunk.bytes.size());
        }
        file.Segment(client, server, kFin | kAck, nullptr, 0);
        file.Segment(server, client, kFin | kAck, nullptr, 0);
        file.Segment(client, server, kAck, nullptr, 0);
    }
    return file.ok();
}

}  // namespace morvala::test
