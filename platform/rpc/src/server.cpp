// RpcServer: listeners and a fixed pool of workers for each, every worker
// accepting a connection itself and serving it to its end. Idle workers wait
// in a blocking accept on their listener, where the kernel wakes exactly one
// of them per arriving connection, so a call crosses no thread hand-off
// inside the server and costs no readiness wait or re-arming besides the
// accept. Connections that find every worker busy wait in the listen queue.
// Stopping shuts the listeners down, which ends every waiting accept, and
// signals the stop event, which every serving worker watches.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>

#include "endpoint.h"
#include "platform/deviceroot.h"
#include "platform/rpc_server.h"
#include "server_connection.h"

namespace platform::rpc {

namespace {

using transport::UniqueFd;

// The listen queue: connections waiting for a worker.
int Backlog(unsigned maxPending) { return static_cast<int>(std::clamp(maxPending, 1u, 4096u)); }

struct Listener {
    UniqueFd fd;
    bool local = true;
    std::string path;  // local: the socket file we made
    ino_t inode = 0;
    std::string secondaryAddress;
};

// A live server already accepts on path.
bool SomeoneListens(const std::string& path) {
    UniqueFd probe;
    return transport::ConnectLocal(path, 200, probe) == RPC_S_OK;
}

RPC_STATUS StatusForErrno(int error) {
    return error == EACCES || error == EPERM || error == EROFS ? RPC_S_ACCESS_DENIED : RPC_S_OUT_OF_RESOURCES;
}

RPC_STATUS ListenLocal(const std::string& folder, const RPC_SYNTAX_IDENTIFIER& id, int backlog, Listener& listener) {
    listener.secondaryAddress = EndpointNameOf(id);
    listener.path = folder + "/" + listener.secondaryAddress;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listener.path.size() >= sizeof address.sun_path) return RPC_S_INVALID_ENDPOINT_FORMAT;
    std::memcpy(address.sun_path, listener.path.c_str(), listener.path.size());
    if (SomeoneListens(listener.path)) return RPC_S_DUPLICATE_ENDPOINT;
    ::unlink(listener.path.c_str());  // a stale socket file of a server that is gone
    listener.fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener.fd) return RPC_S_OUT_OF_RESOURCES;
    if (::bind(listener.fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return StatusForErrno(errno);
    ::chmod(listener.path.c_str(), 0666);  // anyone may call; handlers see who did
    struct stat info {};
    if (::stat(listener.path.c_str(), &info) == 0) listener.inode = info.st_ino;
    return ::listen(listener.fd.get(), backlog) == 0 ? RPC_S_OK : StatusForErrno(errno);
}

RPC_STATUS ListenTcp(uint16_t port, int backlog, Listener& listener) {
    listener.local = false;
    listener.fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener.fd) return RPC_S_OUT_OF_RESOURCES;
    int one = 1;
    ::setsockopt(listener.fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener.fd.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener.fd.get(), backlog) != 0 ||
        ::getsockname(listener.fd.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return errno == EADDRINUSE ? RPC_S_DUPLICATE_ENDPOINT : StatusForErrno(errno);
    }
    listener.secondaryAddress = std::to_string(ntohs(address.sin_port));
    return RPC_S_OK;
}

// Removes the socket file if it is still the one this listener made.
void RemoveSocketFile(const Listener& listener) {
    struct stat info {};
    if (listener.local && ::stat(listener.path.c_str(), &info) == 0 && info.st_ino == listener.inode) {
        ::unlink(listener.path.c_str());
    }
}

// TCP connections send each PDU at once.
void SetNoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

class RpcServer::Impl {
public:
    explicit Impl(RpcServerOptions options) : options_(std::move(options)) {}

    RPC_STATUS Register(const RPC_SYNTAX_IDENTIFIER& id, const RPC_PROCEDURE_TABLE& table,
                        std::vector<RpcHandler> handlers);
    RPC_STATUS Start();
    void Stop();
    uint16_t TcpPort() const;
    std::vector<std::string> LocalEndpoints() const;

private:
    RPC_STATUS OpenListeners();
    void WorkerLoop(const Listener& listener);
    void Serve(UniqueFd socket, const Listener& listener);
    // After a failed accept: true when the worker should accept again.
    bool AcceptAgain(int error) const;

    RpcServerOptions options_;
    std::vector<RegisteredInterface> interfaces_;
    std::vector<Listener> listeners_;
    UniqueFd stopEvent_;
    ServerShared shared_;
    std::vector<std::thread> workers_;
    std::atomic<bool> stopping_ = false;
    bool started_ = false;
};

RPC_STATUS RpcServer::Impl::Register(const RPC_SYNTAX_IDENTIFIER& id, const RPC_PROCEDURE_TABLE& table,
                                     std::vector<RpcHandler> handlers) {
    if (started_) return RPC_S_ALREADY_LISTENING;
    auto shapes = ParseProcedureTable(table);
    if (!shapes || shapes->size() != handlers.size()) return RPC_S_INVALID_ARG;
    for (const auto& known : interfaces_) {
        if (known.id.SyntaxGUID == id.SyntaxGUID) return RPC_S_DUPLICATE_ENDPOINT;
    }
    interfaces_.push_back(RegisteredInterface{id, std::move(*shapes), std::move(handlers)});
    return RPC_S_OK;
}

RPC_STATUS RpcServer::Impl::OpenListeners() {
    if (options_.listenLocal) {
        std::string folder = options_.localFolder.empty() ? RpcFolder() : options_.localFolder;
        if (int error = platform::MakeFolders(folder); error != 0) return StatusForErrno(error);
        for (const auto& iface : interfaces_) {
            Listener& listener = listeners_.emplace_back();
            if (RPC_STATUS status = ListenLocal(folder, iface.id, Backlog(options_.maxPendingConnections), listener);
                status != RPC_S_OK)
                return status;
        }
    }
    if (options_.listenTcp)
        return ListenTcp(options_.tcpPort, Backlog(options_.maxPendingConnections), listeners_.emplace_back());
    return RPC_S_OK;
}

RPC_STATUS RpcServer::Impl::Start() {
    if (started_) return RPC_S_ALREADY_LISTENING;
    if (interfaces_.empty() || options_.workers == 0 || (!options_.listenLocal && !options_.listenTcp)) {
        return RPC_S_INVALID_ARG;
    }
    stopEvent_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    RPC_STATUS status = stopEvent_ ? OpenListeners() : RPC_S_OUT_OF_RESOURCES;
    if (status != RPC_S_OK) {
        for (const auto& listener : listeners_) RemoveSocketFile(listener);
        listeners_.clear();
        return status;
    }
    shared_ = ServerShared{&options_, &interfaces_, stopEvent_.get(), static_cast<uint32_t>(::getpid()) | 1u};
    started_ = true;
    stopping_ = false;
    for (const auto& listener : listeners_) {
        for (unsigned k = 0; k < options_.workers; ++k) workers_.emplace_back([this, &listener] { WorkerLoop(listener); });
    }
    return RPC_S_OK;
}

void RpcServer::Impl::Stop() {
    if (!started_) return;
    // A shut-down listener fails every accept, waiting or to come; the stop
    // event stays readable, so every worker that serves a connection sees it.
    stopping_ = true;
    uint64_t one = 1;
    (void)!::write(stopEvent_.get(), &one, sizeof one);
    for (const auto& listener : listeners_) ::shutdown(listener.fd.get(), SHUT_RDWR);
    for (auto& worker : workers_) worker.join();
    workers_.clear();
    for (const auto& listener : listeners_) RemoveSocketFile(listener);
    listeners_.clear();
    stopEvent_.reset();
    started_ = false;
}

bool RpcServer::Impl::AcceptAgain(int error) const {
    if (stopping_) return false;
    if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
        // Out of descriptors or memory: give others a moment to close some
        // rather than spin; the stop event cuts the pause short.
        pollfd stop{stopEvent_.get(), POLLIN, 0};
        ::poll(&stop, 1, 50);
        return !stopping_;
    }
    // Interrupted, or a connection that went away before it was accepted;
    // anything else means the listener is unusable.
    return error == EINTR || error == ECONNABORTED || error == EPROTO || error == EPERM || error == EAGAIN;
}

void RpcServer::Impl::WorkerLoop(const Listener& listener) {
    for (;;) {
        UniqueFd fd(::accept4(listener.fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!fd) {
            if (AcceptAgain(errno)) continue;
            return;
        }
        Serve(std::move(fd), listener);
    }
}

void RpcServer::Impl::Serve(UniqueFd socket, const Listener& listener) {
    if (!listener.local) SetNoDelay(socket.get());
    ServerConnection(shared_, std::move(socket), ServerConnection::Accepted{listener.local}, listener.secondaryAddress)
        .Serve();
}

uint16_t RpcServer::Impl::TcpPort() const {
    for (const auto& listener : listeners_) {
        if (!listener.local) return static_cast<uint16_t>(std::stoul(listener.secondaryAddress));
    }
    return 0;
}

std::vector<std::string> RpcServer::Impl::LocalEndpoints() const {
    std::vector<std::string> paths;
    for (const auto& listener : listeners_) {
        if (listener.local) paths.push_back(listener.path);
    }
    return paths;
}

RpcServer::RpcServer(RpcServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
RpcServer::~RpcServer() { Stop(); }

RPC_STATUS RpcServer::RegisterInterface(const RPC_SYNTAX_IDENTIFIER& id, const RPC_PROCEDURE_TABLE& procedures,
                                        std::vector<RpcHandler> handlers) {
    return impl_->Register(id, procedures, std::move(handlers));
}

RPC_STATUS RpcServer::Start() { return impl_->Start(); }
void RpcServer::Stop() { impl_->Stop(); }
uint16_t RpcServer::TcpPort() const { return impl_->TcpPort(); }
std::vector<std::string> RpcServer::LocalEndpoints() const { return impl_->LocalEndpoints(); }
std::string RpcServer::EndpointName(const RPC_SYNTAX_IDENTIFIER& id) { return EndpointNameOf(id); }

}  // namespace platform::rpc
