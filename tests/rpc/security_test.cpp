// The server descriptor of "InteropRPC\Server" and the client's refusal to
// bind to a service run by anyone it does not admit.
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>

#include "contracts/connection_service.h"
#include "platform/rpc_server.h"
#include "rpc_test_support.h"

namespace {

constexpr uid_t kNobody = 65534;

class SecurityTest : public ::testing::Test {
protected:
    rpctest::TempDeviceRoot root_;
};

TEST_F(SecurityTest, RpcServerDescriptorAdmitsRootAndTheRpcFolderOwner) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(QueryTransientObjectSecurityDescriptor(9, u"InteropRPC\\Server", &descriptor), 0u);
    EXPECT_TRUE(SecurityDescriptorAdmitsUid(descriptor, 0));
    EXPECT_FALSE(SecurityDescriptorAdmitsUid(descriptor, kNobody)) << "no RPC folder yet: root only";
    EXPECT_EQ(FreeTransientObjectSecurityDescriptor(descriptor), 0u);

    std::filesystem::create_directories(root_.RpcFolder());
    ASSERT_EQ(::chown(root_.RpcFolder().c_str(), kNobody, kNobody), 0);
    platform::UniqueSecurityDescriptor owned;
    ASSERT_EQ(QueryTransientObjectSecurityDescriptor(9, u"InteropRPC\\Server", &descriptor), 0u);
    owned.reset(descriptor);
    EXPECT_TRUE(SecurityDescriptorAdmitsUid(owned.get(), 0));
    EXPECT_TRUE(SecurityDescriptorAdmitsUid(owned.get(), kNobody));
    EXPECT_FALSE(SecurityDescriptorAdmitsUid(owned.get(), 1000));

    // The folder's owner counts as it is at the check, not as it was when
    // the descriptor was made.
    ASSERT_EQ(::chown(root_.RpcFolder().c_str(), 1000, 1000), 0);
    EXPECT_FALSE(SecurityDescriptorAdmitsUid(owned.get(), kNobody));
    EXPECT_TRUE(SecurityDescriptorAdmitsUid(owned.get(), 1000));
    EXPECT_TRUE(SecurityDescriptorAdmitsUid(owned.get(), 0));
}

TEST_F(SecurityTest, UnknownObjectsAndBadArgumentsAreRefused) {
    PSECURITY_DESCRIPTOR descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(0x1);
    EXPECT_EQ(QueryTransientObjectSecurityDescriptor(8, u"InteropRPC\\Server", &descriptor), 2u);
    EXPECT_EQ(descriptor, nullptr);
    EXPECT_EQ(QueryTransientObjectSecurityDescriptor(9, u"InteropRPC\\Other", &descriptor), 2u);
    EXPECT_EQ(QueryTransientObjectSecurityDescriptor(9, nullptr, &descriptor), 87u);
    EXPECT_EQ(QueryTransientObjectSecurityDescriptor(9, u"InteropRPC\\Server", nullptr), 87u);
    EXPECT_EQ(FreeTransientObjectSecurityDescriptor(nullptr), 0u);
    MORVALA_SECURITY_DESCRIPTOR notOurs{};
    EXPECT_EQ(FreeTransientObjectSecurityDescriptor(&notOurs), 87u);
    EXPECT_FALSE(SecurityDescriptorAdmitsUid(&notOurs, 0));

    // A binding refuses a descriptor that is not one.
    RPC_BINDING_HANDLE_TEMPLATE_V1_W templ{};
    templ.Version = 1;
    templ.ProtocolSequence = RPC_PROTSEQ_LRPC;
    RPC_SECURITY_QOS_V5_W qos{};
    qos.Version = 5;
    qos.ServerSecurityDescriptor = &notOurs;
    RPC_BINDING_HANDLE_SECURITY_V1_W security{1, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_AUTHN_WINNT, nullptr,
                                              reinterpret_cast<RPC_SECURITY_QOS*>(&qos)};
    RPC_BINDING_HANDLE handle = nullptr;
    EXPECT_EQ(RpcBindingCreateW(&templ, &security, nullptr, &handle), RPC_S_INVALID_ARG);
    EXPECT_EQ(handle, nullptr);
}

// Runs, as nobody, a raw listener on the connection service's endpoint. It
// accepts one connection and reports through `report` how many bytes the
// client sent before closing.
pid_t ForkNobodyListener(const std::string& path, int& report, int& ready) {
    int reportPipe[2], readyPipe[2];
    if (::pipe(reportPipe) != 0 || ::pipe(readyPipe) != 0) return -1;
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) ::_exit(4);
        char one = 1;
        (void)!::write(readyPipe[1], &one, 1);
        int connection = ::accept(fd, nullptr, nullptr);
        timeval wait{5, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[256];
        ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);  // 0: the client closed without a word
        int received = static_cast<int>(got);
        (void)!::write(reportPipe[1], &received, sizeof received);
        ::_exit(0);
    }
    ::close(reportPipe[1]);
    ::close(readyPipe[1]);
    report = reportPipe[0];
    ready = readyPipe[0];
    return child;
}

TEST_F(SecurityTest, ClientRefusesAServiceRunByAnAccountTheDescriptorDoesNotAdmit) {
    // The device root and its RPC folder belong to root; the folder lets
    // anyone create a socket in it (sticky, like /tmp), so nobody can squat
    // the connection service's endpoint.
    ASSERT_EQ(::chmod(root_.path().c_str(), 0755), 0);
    std::filesystem::create_directories(root_.RpcFolder());
    ASSERT_EQ(::chmod(root_.RpcFolder().c_str(), 01777), 0);
    std::string path = root_.RpcFolder() + "/" + platform::rpc::RpcServer::EndpointName(contracts::kConnectionServiceId);

    int report = -1, ready = -1;
    pid_t child = ForkNobodyListener(path, report, ready);
    ASSERT_GT(child, 0);
    char one = 0;
    ASSERT_EQ(::read(ready, &one, 1), 1) << "the nobody listener did not start";

    RPC_BINDING_HANDLE handle = nullptr;
    EXPECT_EQ(rpctest::CreateAndBind({}, contracts::ConnectionServiceIfHandle(), &handle), RPC_S_ACCESS_DENIED);
    EXPECT_EQ(handle, nullptr);

    int received = -1;
    ASSERT_EQ(::read(report, &received, sizeof received), static_cast<ssize_t>(sizeof received));
    EXPECT_EQ(received, 0) << "the client sent nothing to the squatter";
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(report);
    ::close(ready);
}

TEST_F(SecurityTest, ServerRunByTheRpcFolderOwnerIsAdmitted) {
    // Same setup, but the folder belongs to nobody: nobody is then the
    // account that runs the device's services, and the bind goes ahead (the
    // raw listener never answers, so it ends as an unreachable service, not
    // as a refusal, and the listener saw the bind PDU).
    ASSERT_EQ(::chmod(root_.path().c_str(), 0755), 0);
    std::filesystem::create_directories(root_.RpcFolder());
    ASSERT_EQ(::chown(root_.RpcFolder().c_str(), kNobody, kNobody), 0);
    std::string path = root_.RpcFolder() + "/" + platform::rpc::RpcServer::EndpointName(contracts::kConnectionServiceId);
    int report = -1, ready = -1;
    pid_t child = ForkNobodyListener(path, report, ready);
    ASSERT_GT(child, 0);
    char one = 0;
    ASSERT_EQ(::read(ready, &one, 1), 1);
    RPC_BINDING_HANDLE handle = nullptr;
    rpctest::BindingRequest request;
    request.callTimeoutMs = 300;
    EXPECT_EQ(rpctest::CreateAndBind(request, contracts::ConnectionServiceIfHandle(), &handle),
              RPC_S_SERVER_UNAVAILABLE);
    int received = -1;
    ASSERT_EQ(::read(report, &received, sizeof received), static_cast<ssize_t>(sizeof received));
    EXPECT_EQ(received, 72) << "the bind PDU reached the admitted server";
    ::waitpid(child, nullptr, 0);
    ::close(report);
    ::close(ready);
}

}  // namespace
