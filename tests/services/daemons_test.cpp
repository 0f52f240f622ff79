// The two service daemons as real processes on a fresh device root: every
// procedure through the client classes, start and stop in both modes, a
// second instance, a server of another user, and descriptors after many calls.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "accessory_service_client.h"
#include "connection_service_client.h"
#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"
#include "daemon_process.h"
#include "fresh_root.h"
#include "platform/rpc_server.h"
#include "tcp_call.h"

namespace {

using morvala::test::AccessoryServicePath;
using morvala::test::ConnectionServicePath;
using morvala::test::DaemonProcess;

std::string Socket(const std::string& root, const RPC_SYNTAX_IDENTIFIER& id) {
    return root + "/rpc/" + platform::rpc::RpcServer::EndpointName(id);
}

int32_t Fnv1a(const BYTE* data, size_t size) {
    uint32_t hash = 2166136261u;
    for (size_t k = 0; k < size; ++k) hash = (hash ^ data[k]) * 16777619u;
    return static_cast<int32_t>(hash);
}

// Waits up to 10 s for a path to disappear.
bool Gone(const std::string& path) {
    for (int k = 0; k < 1000 && std::filesystem::exists(path); ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !std::filesystem::exists(path);
}

class DaemonTest : public morvala::test::FreshRootTest {};

TEST_F(DaemonTest, ConnectionServiceServesEveryProcedureAndStopsOnSigterm) {
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.Start(ConnectionServicePath(), {"--root", root(), "--foreground"})) << daemon.ReadyLine();
    std::string socket = Socket(root(), contracts::kConnectionServiceId);
    ASSERT_TRUE(std::filesystem::exists(socket));

    CMorCgSvcRpc client;
    char bytes[300];
    ULONG count = sizeof bytes;
    LONG status = 0;
    client.GetText(bytes, &count, &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(std::string(bytes, count), "10.0.2.1");

    WCHAR units[64];
    count = 64;
    client.Proc2(units, &count, &status);  // nothing stored yet
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(status, 0);

    client.SendText(u"alpha", &status);
    EXPECT_EQ(status, 1);
    client.Proc7(u"beta", &status);
    EXPECT_EQ(status, 1);
    client.SendNonEmptyText(u"gamma", &status);
    EXPECT_EQ(status, 1);
    for (const char16_t* known : {u"alpha", u"beta", u"gamma"}) EXPECT_EQ(client.CheckText(known, &status), 1);
    EXPECT_EQ(client.CheckText(u"delta", &status), 0);
    EXPECT_EQ(status, 1);

    LONG value = 0;
    client.Proc4(&value);
    EXPECT_EQ(value, 3);  // texts stored

    const BYTE block[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(client.Proc1(u"x", block, &status), Fnv1a(block, sizeof block));
    EXPECT_EQ(status, 1);

    count = 3;
    client.Proc2(units, &count, &status);  // the last text, cut to the capacity
    EXPECT_EQ(std::u16string(units, count), u"gam");
    EXPECT_EQ(status, 0);
    count = 64;
    client.Proc2(units, &count, &status);
    EXPECT_EQ(std::u16string(units, count), u"gamma");
    EXPECT_EQ(status, 1);

    count = 64;
    client.Proc5(u"echo \u00e9", units, &count, &status);
    EXPECT_EQ(std::u16string(units, count), u"echo \u00e9");
    EXPECT_EQ(status, 1);

    client.Proc6(&value);
    EXPECT_EQ(value, 15);  // every call so far, this one included

    EXPECT_EQ(daemon.Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));
}

TEST_F(DaemonTest, AccessoryServiceServesEveryProcedureAndStopsOnSigint) {
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.Start(AccessoryServicePath(), {"--root", root(), "--foreground", "--flag", "7",
                                                      "--version-text", "Acc \u00e9 1"}));
    CMorvalaAccObaRpc client;
    client.Proc0(u"first", u"second", 5, 7);

    LONG value = 0;
    client.GetFlag(&value);
    EXPECT_EQ(value, 7);

    LONG status = 9;
    client.SendTexts(u"a", u"b", u"c", &status);
    EXPECT_EQ(status, 1);
    client.SendTexts(u"a", u"", u"c", &status);
    EXPECT_EQ(status, 0);

    char bytes[300];
    ULONG count = sizeof bytes;
    client.GetText(bytes, &count, &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(std::string(bytes, count), "Acc \xE9 1");  // code page 1252, the default ANSI code page

    count = 3;
    client.GetText(bytes, &count, &status);
    EXPECT_EQ(std::string(bytes, count), "Acc");

    EXPECT_EQ(daemon.Stop(SIGINT), 0);
    EXPECT_FALSE(std::filesystem::exists(Socket(root(), contracts::kAccessoryServiceId)));
}

TEST_F(DaemonTest, BackgroundStartReturnsWhenListeningAndSigtermRemovesSocketAndPidFile) {
    std::string pidFile = root() + "/accessory.pid";
    DaemonProcess starter;
    ASSERT_TRUE(starter.Start(AccessoryServicePath(), {"--root", root(), "--pid-file", pidFile, "--flag", "3"}));
    EXPECT_EQ(starter.WaitForExit(), 0);

    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_NE(starter.ReadyLine().find("pid=" + std::to_string(pid)), std::string::npos);
    LONG value = 0;
    CMorvalaAccObaRpc().GetFlag(&value);
    EXPECT_EQ(value, 3);

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_TRUE(Gone(pidFile));
    EXPECT_TRUE(Gone(Socket(root(), contracts::kAccessoryServiceId)));
}

TEST_F(DaemonTest, SecondInstanceOnTheSameRootDoesNotStartAndTheFirstKeepsServing) {
    DaemonProcess first;
    ASSERT_TRUE(first.Start(ConnectionServicePath(), {"--root", root(), "--foreground"}));
    DaemonProcess second;
    EXPECT_FALSE(second.Start(ConnectionServicePath(), {"--root", root(), "--foreground"}));
    EXPECT_EQ(second.WaitForExit(), 1);

    LONG status = 0;
    CMorCgSvcRpc().SendText(u"still here", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(first.Stop(SIGTERM), 0);
}

TEST_F(DaemonTest, ServerOfAnotherUserIsRefusedAndTheTextNeverReachesIt) {
    constexpr uid_t kNobody = 65534;
    // The RPC folder belongs to root (so the descriptor admits root only) but
    // anyone may create a socket in it.
    ASSERT_EQ(chmod(root().c_str(), 0755), 0);
    std::string folder = root() + "/rpc";
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);

    DaemonProcess squatter;
    ASSERT_TRUE(squatter.Start(ConnectionServicePath(), {"--root", root(), "--foreground", "--tcp-port", "0"},
                               kNobody))
        << squatter.ReadyLine();
    struct stat info{};
    ASSERT_EQ(stat(Socket(root(), contracts::kConnectionServiceId).c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kNobody);

    CMorCgSvcRpc client;
    LONG status = 5;
    client.SendText(u"secret", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(client.m_hBinding, nullptr);
    EXPECT_EQ(client.CheckText(u"secret", &status), 0);

    // Ask the squatter itself, over TCP, what it received: nothing.
    platform::UniqueRpcBinding tcp = morvala::test::BindConnectionServiceOverTcp(squatter.TcpPort());
    ASSERT_TRUE(tcp);
    LONG texts = -1;
    NdrClientCall2(&contracts::kConnectionServiceStubDesc, contracts::ConnectionServiceProcFormat(contracts::kConnProc4),
                   tcp.get(), &texts);
    EXPECT_EQ(texts, 0);
    LONG calls = -1;
    NdrClientCall2(&contracts::kConnectionServiceStubDesc, contracts::ConnectionServiceProcFormat(contracts::kConnProc6),
                   tcp.get(), &calls);
    EXPECT_EQ(calls, 2);  // the two TCP calls alone
    tcp.reset();
    EXPECT_EQ(squatter.Stop(SIGTERM), 0);
}

TEST_F(DaemonTest, TenThousandClientCallsLeaveNoDescriptorOpen) {
    DaemonProcess connection;
    DaemonProcess accessory;
    ASSERT_TRUE(connection.Start(ConnectionServicePath(), {"--root", root(), "--foreground"}));
    ASSERT_TRUE(accessory.Start(AccessoryServicePath(), {"--root", root(), "--foreground"}));
    LONG status = 0;
    CMorCgSvcRpc().SendText(u"warm", &status);  // first-use allocations of the runtime
    int before = morvala::test::OpenDescriptorCount();

    int answered = 0;
    for (int k = 0; k < 5000; ++k) {
        CMorCgSvcRpc connectionClient;
        answered += connectionClient.CheckText(u"warm", &status);
        CMorvalaAccObaRpc accessoryClient;
        LONG flag = 0;
        accessoryClient.GetFlag(&flag);
        answered += flag;
    }
    EXPECT_EQ(answered, 10000);
    EXPECT_EQ(morvala::test::OpenDescriptorCount(), before);
    EXPECT_EQ(connection.Stop(SIGTERM), 0);
    EXPECT_EQ(accessory.Stop(SIGTERM), 0);
}

}  // namespace
