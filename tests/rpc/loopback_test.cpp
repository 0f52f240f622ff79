// A client and a server of this runtime over a real socket: every parameter
// kind, fragmentation both ways, faults and their statuses, unreachable and
// refused services, TCP, and no descriptor left open after many calls.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>
#include <random>
#include <thread>

#include "platform/errors.h"
#include "rpc_test_support.h"
#include "test_service.h"

namespace {

using namespace contracts;
using platform::RpcException;
using platform::rpc::RpcServer;
using platform::rpc::RpcServerOptions;

template <typename F>
RPC_STATUS StatusOf(F&& call) {
    try {
        call();
        return RPC_S_OK;
    } catch (const RpcException& error) {
        return error.rpcStatus();
    }
}

class LoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = rpctest::StartTestServer(options_);
        ASSERT_NE(server_, nullptr);
    }
    void TearDown() override {
        if (binding_ != nullptr) RpcBindingFree(&binding_);
    }
    // Binds to the connection service as the component does.
    void BindConnection() {
        ASSERT_EQ(rpctest::CreateAndBind({}, ConnectionServiceIfHandle(), &binding_), RPC_S_OK);
        RpcMgmtSetComTimeout(binding_, RPC_C_BINDING_MIN_TIMEOUT);
    }
    LONG CheckText(const WCHAR* text) {
        LONG status = -1;
        return static_cast<LONG>(
            NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(9), binding_, text, &status)
                .Simple);
    }
    LONG Proc7(const WCHAR* text) {
        LONG status = -1;
        NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(7), binding_, text, &status);
        return status;
    }

    rpctest::TempDeviceRoot root_;
    RpcServerOptions options_;
    std::unique_ptr<RpcServer> server_;
    RPC_BINDING_HANDLE binding_ = nullptr;
};

TEST_F(LoopbackTest, EveryConnectionProcedureCarriesItsParameters) {
    BindConnection();
    LONG status = -1;
    NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(0), binding_, u"four", &status);
    EXPECT_EQ(status, 4);

    BYTE block[16];
    for (int k = 0; k < 16; ++k) block[k] = static_cast<BYTE>(k);
    LONG sum = static_cast<LONG>(
        NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(1), binding_, u"x", block, 16u, &status)
            .Simple);
    EXPECT_EQ(sum, 120);
    EXPECT_EQ(status, 16);

    WCHAR units[8] = {};
    ULONG count = 8;
    NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(2), binding_, units, &count, &status);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(std::u16string(units, 5), u"hello");

    char text[300];
    std::memset(text, 'z', sizeof text);
    count = 300;
    NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(3), binding_, text, &count, &status);
    EXPECT_EQ(count, 9u);
    EXPECT_EQ(std::string(text, 9), "abcdefghi");
    EXPECT_EQ(text[9], 'z') << "nothing written past the returned count";

    LONG value = 0;
    NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(4), binding_, &value);
    EXPECT_EQ(value, ::getpid()) << "the server learns the caller's pid from the kernel";
    NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(6), binding_, &value);
    EXPECT_EQ(value, static_cast<LONG>(::getuid()));

    WCHAR echo[8] = {};
    count = 8;
    NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(5), binding_, u"key", echo, &count, &status);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(std::u16string(echo, 4), std::u16string(u"key\0", 4));

    EXPECT_EQ(CheckText(u"ab"), 1);
    EXPECT_EQ(CheckText(u"abc"), 2);
    EXPECT_EQ(CheckText(u""), 2) << "an empty text travels as its terminator alone";
}

TEST_F(LoopbackTest, AccessoryProceduresIncludingByValueIntegers) {
    ASSERT_EQ(rpctest::CreateAndBind({}, AccessoryServiceIfHandle(), &binding_), RPC_S_OK);
    NdrClientCall2(&kAccessoryServiceStubDesc, AccessoryServiceProcFormat(0), binding_, u"a", u"", 5u, 0xFFFFFFFFu);
    LONG flag = 0, status = 0;
    NdrClientCall2(&kAccessoryServiceStubDesc, AccessoryServiceProcFormat(1), binding_, &flag);
    EXPECT_EQ(flag, 7);
    NdrClientCall2(&kAccessoryServiceStubDesc, AccessoryServiceProcFormat(2), binding_, u"", u"", u"", &status);
    EXPECT_EQ(status, 1);
    char version[300];
    ULONG count = 300;
    NdrClientCall2(&kAccessoryServiceStubDesc, AccessoryServiceProcFormat(3), binding_, version, &count, &status);
    EXPECT_EQ(std::string(version, count), "v1.2");
}

class SmallFragmentTest : public LoopbackTest {
protected:
    void SetUp() override {
        options_.maxFragment = 1024;
        LoopbackTest::SetUp();
    }
};

TEST_F(SmallFragmentTest, LargeArgumentsAreFragmentedAndReassembledBothWays) {
    BindConnection();
    std::mt19937 random(7);
    std::vector<BYTE> block(20000);
    for (auto& b : block) b = static_cast<BYTE>(random());
    LONG status = 0;
    auto sum = NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(1), binding_, u"x",
                              block.data(), static_cast<unsigned>(block.size()), &status)
                   .Simple;
    EXPECT_EQ(sum, std::accumulate(block.begin(), block.end(), 0));
    EXPECT_EQ(status, 20000);

    std::u16string text(3000, u'q');
    for (size_t k = 0; k < text.size(); ++k) text[k] = static_cast<char16_t>(0x100 + k);
    std::vector<WCHAR> echo(4000, 0);
    ULONG count = 4000;
    NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(5), binding_, text.c_str(), echo.data(),
                   &count, &status);
    ASSERT_EQ(count, 3001u);
    EXPECT_EQ(std::u16string(echo.data(), 3000), text);
}

TEST_F(LoopbackTest, FaultsReachTheCallerAsTheirStatusesAndTheBindingStaysUsable) {
    BindConnection();
    struct Case {
        const char16_t* text;
        RPC_STATUS expected;
    };
    const Case cases[] = {
        {u"deny", RPC_S_ACCESS_DENIED},
        {u"app", 0x12345},                // an application status passes as it is
        {u"bound", RPC_S_INVALID_BOUND},  // travels as nca_s_fault_invalid_bound
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatusOf([&] { Proc7(c.text); }), c.expected);
        EXPECT_EQ(Proc7(u"ok"), 2) << "after the fault, the next call works";
    }
    WCHAR units[3];
    ULONG count = 3;
    LONG status = -1;
    EXPECT_EQ(StatusOf([&] {
                  NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(2), binding_, units, &count,
                                 &status);
              }),
              RPC_X_BAD_STUB_DATA)
        << "the service refuses to send more than the capacity";
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(status, -1);
}

TEST_F(LoopbackTest, UnknownProcedureNumberIsOutOfRange) {
    BindConnection();
    // A client table with one procedure more than the service has.
    static const unsigned char format[] = {RPC_FC_PROC, 0, 0, 0, 0, RPC_FC_PROC, 1, 0, 0, 0, RPC_FC_PROC, 2, 0, 0, 0,
                                           RPC_FC_PROC, 3, 0, 0, 0, RPC_FC_PROC, 4, 0, 0, 0, RPC_FC_PROC, 5, 0, 0, 0,
                                           RPC_FC_PROC, 6, 0, 0, 0, RPC_FC_PROC, 7, 0, 0, 0, RPC_FC_PROC, 8, 0, 0, 0,
                                           RPC_FC_PROC, 9, 0, 0, 0, RPC_FC_PROC, 10, 0, 0, 0};
    static const unsigned short offsets[] = {0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50};
    static const RPC_PROCEDURE_TABLE table = {format, offsets, 11};
    const MIDL_STUB_DESC stub = {&kConnectionServiceClientInterface, std::malloc, std::free, &table};
    EXPECT_EQ(StatusOf([&] { NdrClientCall2(&stub, format + 50, binding_); }), RPC_S_PROCNUM_OUT_OF_RANGE);
    EXPECT_EQ(CheckText(u"ab"), 1);
}

TEST_F(LoopbackTest, ServiceThatDropsTheCallFailsItAndLaterCallsOnTheBinding) {
    BindConnection();
    EXPECT_EQ(StatusOf([&] { Proc7(u"drop"); }), RPC_S_CALL_FAILED);
    EXPECT_EQ(StatusOf([&] { Proc7(u"ok"); }), RPC_S_CALL_FAILED_DNE);
}

TEST_F(LoopbackTest, CallerErrorsAreRaisedBeforeAnythingIsSent) {
    LONG status = 0;
    RPC_BINDING_HANDLE unbound = nullptr;
    ASSERT_EQ(rpctest::CreateBinding({}, &unbound), RPC_S_OK);
    EXPECT_EQ(StatusOf([&] {
                  NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(9), unbound, u"ab", &status);
              }),
              RPC_S_INVALID_BINDING);
    EXPECT_EQ(RpcBindingFree(&unbound), RPC_S_OK);
    EXPECT_EQ(unbound, nullptr);
    EXPECT_EQ(RpcBindingFree(&unbound), RPC_S_INVALID_BINDING);

    BindConnection();
    EXPECT_EQ(StatusOf([&] {
                  NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(9), binding_, nullptr,
                                 &status);
              }),
              RPC_X_NULL_REF_POINTER);
    EXPECT_EQ(StatusOf([&] {
                  NdrClientCall2(&kConnectionServiceStubDesc, AccessoryServiceProcFormat(1), binding_, &status);
              }),
              RPC_S_INTERNAL_ERROR)
        << "a description that is not one of the stub's procedures";
    EXPECT_EQ(StatusOf([&] { NdrClientCall2(&kAccessoryServiceStubDesc, AccessoryServiceProcFormat(1), binding_, &status); }),
              RPC_S_UNKNOWN_IF)
        << "a procedure of another interface than the one bound";
    EXPECT_EQ(RpcMgmtSetComTimeout(binding_, 11), RPC_S_INVALID_TIMEOUT);
    EXPECT_EQ(RpcBindingBind(nullptr, binding_, ConnectionServiceIfHandle()), RPC_S_ALREADY_LISTENING);
    EXPECT_EQ(CheckText(u"ab"), 1);
}

TEST_F(LoopbackTest, ConcurrentCallersOnSeparateBindings) {
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < 50; ++k) {
                RPC_BINDING_HANDLE h = nullptr;
                if (rpctest::CreateAndBind({}, ConnectionServiceIfHandle(), &h) != RPC_S_OK) continue;
                LONG status = 0;
                if (NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(9), h, u"ab", &status)
                        .Simple == 1) {
                    ++answered;
                }
                RpcBindingFree(&h);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(answered.load(), 300);
}

TEST_F(LoopbackTest, InterfaceTheServerDoesNotServeIsUnknown) {
    server_.reset();
    server_ = rpctest::StartTestServer(options_, false);
    ASSERT_NE(server_, nullptr);
    // Aim the accessory interface at the connection service's socket.
    rpctest::BindingRequest request;
    request.endpoint = u"9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa_1.0";
    EXPECT_EQ(rpctest::CreateAndBind(request, AccessoryServiceIfHandle(), &binding_), RPC_S_UNKNOWN_IF);
    EXPECT_EQ(binding_, nullptr);
}

TEST_F(LoopbackTest, TcpServesTheSameCallsWithoutIdentityAndRefusesPrivacy) {
    server_.reset();
    options_.listenLocal = false;
    options_.listenTcp = true;
    server_ = rpctest::StartTestServer(options_);
    ASSERT_NE(server_, nullptr);
    ASSERT_NE(server_->TcpPort(), 0);
    std::string port = std::to_string(server_->TcpPort());

    rpctest::BindingRequest request;
    request.protocolSequence = RPC_PROTSEQ_TCP;
    request.address = u"127.0.0.1";
    request.endpoint = std::u16string(port.begin(), port.end());
    RPC_BINDING_HANDLE refused = nullptr;
    EXPECT_EQ(rpctest::CreateBinding(request, &refused), RPC_S_PROTSEQ_NOT_SUPPORTED) << "privacy over TCP";
    request.authnLevel = RPC_C_AUTHN_LEVEL_NONE;
    EXPECT_EQ(rpctest::CreateBinding(request, &refused), RPC_S_PROTSEQ_NOT_SUPPORTED)
        << "a server identity check over TCP";
    EXPECT_EQ(refused, nullptr);

    request.withServerDescriptor = false;
    ASSERT_EQ(rpctest::CreateAndBind(request, ConnectionServiceIfHandle(), &binding_), RPC_S_OK);
    EXPECT_EQ(CheckText(u"ab"), 1);
    LONG uid = 0;
    NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(6), binding_, &uid);
    EXPECT_EQ(uid, -1) << "TCP tells the server nothing about its caller";
}

class NoServerTest : public ::testing::Test {
protected:
    rpctest::TempDeviceRoot root_;
};

TEST_F(NoServerTest, MissingOrStaleEndpointIsUnavailableAndLeavesNoBinding) {
    RPC_BINDING_HANDLE h = nullptr;
    EXPECT_EQ(rpctest::CreateAndBind({}, ConnectionServiceIfHandle(), &h), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(h, nullptr);

    // A socket file nobody accepts on any more.
    std::filesystem::create_directories(root_.RpcFolder());
    std::string path = root_.RpcFolder() + "/" + RpcServer::EndpointName(kConnectionServiceId);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(rpctest::CreateAndBind({}, ConnectionServiceIfHandle(), &h), RPC_S_SERVER_UNAVAILABLE);

    // A server started later replaces the stale file.
    auto server = rpctest::StartTestServer();
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(rpctest::CreateAndBind({}, ConnectionServiceIfHandle(), &h), RPC_S_OK);
    RpcBindingFree(&h);
    server->Stop();
    EXPECT_FALSE(std::filesystem::exists(path)) << "a stopped server removes its socket file";
}

// Forks a process that serves the test interfaces until the pipe closes.
pid_t ForkServer(int& stopWrite) {
    int ready[2], stop[2];
    if (::pipe(ready) != 0 || ::pipe(stop) != 0) return -1;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        ::close(stop[1]);
        auto server = rpctest::StartTestServer();
        char ok = server != nullptr ? 1 : 0;
        (void)!::write(ready[1], &ok, 1);
        char ignored;
        (void)!::read(stop[0], &ignored, 1);
        server.reset();
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(stop[0]);
    char ok = 0;
    (void)!::read(ready[0], &ok, 1);
    ::close(ready[0]);
    stopWrite = stop[1];
    return ok == 1 ? child : -1;
}

TEST_F(NoServerTest, TenThousandCallsLeaveNoDescriptorOpen) {
    int stopWrite = -1;
    pid_t child = ForkServer(stopWrite);
    ASSERT_GT(child, 0);
    size_t before = rpctest::OpenFileDescriptors();
    int answered = 0;
    for (int k = 0; k < 10000; ++k) {
        RPC_BINDING_HANDLE h = nullptr;
        ASSERT_EQ(rpctest::CreateAndBind({}, ConnectionServiceIfHandle(), &h), RPC_S_OK) << "call " << k;
        RpcMgmtSetComTimeout(h, RPC_C_BINDING_MIN_TIMEOUT);
        LONG status = 0;
        answered += NdrClientCall2(&kConnectionServiceStubDesc, ConnectionServiceProcFormat(9), h, u"ab", &status)
                        .Simple == 1;
        ASSERT_EQ(RpcBindingFree(&h), RPC_S_OK);
    }
    EXPECT_EQ(answered, 10000);
    EXPECT_EQ(rpctest::OpenFileDescriptors(), before);
    ::close(stopWrite);
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
}

}  // namespace
