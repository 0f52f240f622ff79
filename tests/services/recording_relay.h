// A relay for peer tests: it listens on a Unix socket where a client expects
// a service, forwards each connection byte for byte to the real server (a
// Unix socket or a TCP port on 127.0.0.1), and records what each side sent,
// so that a session can be handed to tshark as a capture file.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvala::test {

struct RelayTarget {
    std::string unixPath;  // used when not empty
    int tcpPort = 0;       // else 127.0.0.1:tcpPort
};

// What one side sent in one read.
struct RelayChunk {
    bool fromClient = true;
    std::vector<uint8_t> bytes;
};
using RelayConnection = std::vector<RelayChunk>;

class RecordingRelay {
public:
    RecordingRelay(std::string listenPath, RelayTarget target);
    ~RecordingRelay();  // Stop()
    RecordingRelay(const RecordingRelay&) = delete;
    RecordingRelay& operator=(const RecordingRelay&) = delete;

    // Listens and starts relaying on a thread, one connection at a time.
    // Returns false when the socket could not be made.
    bool Start();
    // Stops relaying and removes the socket; idempotent.
    void Stop();

    // The connections relayed so far, each as its chunks in order.
    std::vector<RelayConnection> Connections() const;

private:
    void Run();
    void Relay(int client);
    int ConnectTarget() const;

    std::string listenPath_;
    RelayTarget target_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<RelayConnection> connections_;
};

// Writes the connections as a pcap file of IPv4/TCP packets between
// 127.0.0.2 (client, port 40000 + index) and 127.0.0.1 (server, serverPort),
// each with a handshake, one segment per chunk and a closing exchange.
// Returns false when the file could not be written.
bool WritePcap(const std::string& path, const std::vector<RelayConnection>& connections, uint16_t serverPort);

}  // namespace morvala::test
