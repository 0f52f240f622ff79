// Our wire format against peers we did not write: python3-impacket as a
// client of both daemons and as a server for our client classes, and
// tshark's DCE/RPC dissector over a recorded session. Skipped (with the
// reason) only where /usr/bin/python3 cannot import impacket or tshark is
// missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "accessory_service_client.h"
#include "connection_service_client.h"
#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"
#include "daemon_process.h"
#include "fresh_root.h"
#include "platform/rpc_server.h"
#include "recording_relay.h"

namespace {

using morvala::test::DaemonProcess;
using morvala::test::RecordingRelay;

const std::string kPython = "/usr/bin/python3";
const std::string kTshark = "/usr/bin/tshark";
const std::string kPeers = MORVALA_PEERS_DIR;

bool HaveImpacket() { return std::system((kPython + " -c 'import impacket' >/dev/null 2>&1").c_str()) == 0; }
bool HaveTshark() { return access(kTshark.c_str(), X_OK) == 0; }

// Runs a shell command (bounded by `timeout`), returns its stdout and sets exitCode.
// The command redirects its own stderr where wanted.
std::string RunCommand(const std::string& command, int& exitCode) {
    std::string output;
    FILE* pipe = popen(("timeout 120 " + command).c_str(), "r");
    if (pipe == nullptr) {
        exitCode = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int status = pclose(pipe);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string Endpoint(const std::string& root, const RPC_SYNTAX_IDENTIFIER& id) {
    return root + "/rpc/" + platform::rpc::RpcServer::EndpointName(id);
}

class PeerTest : public morvala::test::FreshRootTest {
protected:
    void SetUp() override {
        FreshRootTest::SetUp();
        std::filesystem::create_directories(root() + "/rpc");
    }
};

TEST_F(PeerTest, ImpacketClientCallsEveryProcedureOfBothDaemonsOverTcp) {
    if (!HaveImpacket()) GTEST_SKIP() << kPython << " cannot import impacket (Debian package python3-impacket)";
    DaemonProcess connection;
    DaemonProcess accessory;
    ASSERT_TRUE(connection.Start(morvala::test::ConnectionServicePath(),
                                 {"--root", root(), "--foreground", "--tcp-port", "0"}));
    ASSERT_TRUE(accessory.Start(morvala::test::AccessoryServicePath(),
                                {"--root", root(), "--foreground", "--tcp-port", "0", "--flag", "7"}));
    ASSERT_GT(connection.TcpPort(), 0);
    ASSERT_GT(accessory.TcpPort(), 0);

    int exitCode = 0;
    std::string output = RunCommand(kPython + " " + kPeers + "/impacket_client.py --connection-port " +
                                 std::to_string(connection.TcpPort()) + " --accessory-port " +
                                 std::to_string(accessory.TcpPort()) + " --flag 7 2>&1",
                             exitCode);
    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_NE(output.find("14 procedures checked"), std::string::npos) << output;
    EXPECT_EQ(connection.Stop(SIGTERM), 0);
    EXPECT_EQ(accessory.Stop(SIGTERM), 0);
}

TEST_F(PeerTest, OurClientClassesAgainstAnImpacketServer) {
    if (!HaveImpacket()) GTEST_SKIP() << kPython << " cannot import impacket (Debian package python3-impacket)";
    DaemonProcess server;
    ASSERT_TRUE(server.Start(kPython, {"-u", kPeers + "/impacket_server.py"}, std::nullopt, "listening"))
        << server.ReadyLine();
    int port = std::stoi(server.ReadyLine().substr(10));

    // The client binds only over local RPC: relay its endpoints to the peer's TCP port.
    RecordingRelay toConnection(Endpoint(root(), contracts::kConnectionServiceId), {"", port});
    RecordingRelay toAccessory(Endpoint(root(), contracts::kAccessoryServiceId), {"", port});
    ASSERT_TRUE(toConnection.Start());
    ASSERT_TRUE(toAccessory.Start());

    LONG status = 0;
    char bytes[300];
    ULONG count = sizeof bytes;
    CMorCgSvcRpc().GetText(bytes, &count, &status);
    EXPECT_EQ(count, 9u);
    EXPECT_EQ(std::string(bytes, count), "abcdefghi");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(CMorCgSvcRpc().CheckText(u"known", &status), 1);
    EXPECT_EQ(status, 5);
    EXPECT_EQ(CMorCgSvcRpc().CheckText(u"other", &status), 2);
    CMorCgSvcRpc().SendText(u"hello \u00e9", &status);
    EXPECT_EQ(status, 1);
    const BYTE block[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(CMorCgSvcRpc().Proc1(u"b", block, &status), 120);
    EXPECT_EQ(status, 16);

    CMorvalaAccObaRpc().Proc0(u"p", u"q", 1, 2);
    LONG flag = 0;
    CMorvalaAccObaRpc().GetFlag(&flag);
    EXPECT_EQ(flag, 7);
    CMorvalaAccObaRpc().SendTexts(u"a", u"b", u"c", &status);
    EXPECT_EQ(status, 1);
    CMorvalaAccObaRpc().SendTexts(u"", u"", u"", &status);
    EXPECT_EQ(status, 0);
    count = sizeof bytes;
    CMorvalaAccObaRpc().GetText(bytes, &count, &status);
    EXPECT_EQ(std::string(bytes, count), "2.0");

    toConnection.Stop();
    toAccessory.Stop();
    server.CloseStdin();
    std::string received = server.ReadRest();
    EXPECT_EQ(server.WaitForExit(), 0);
    for (const char* line : {"text 9 known", "text 0 hello \xC3\xA9", "text 1 b", "text 0 p", "text 0 q", "text 2 c"}) {
        EXPECT_NE(received.find(line), std::string::npos) << line << " not in:\n" << received;
    }
}

TEST_F(PeerTest, TsharkDissectsAFullSessionWithoutMalformedPdus) {
    if (!HaveTshark()) GTEST_SKIP() << kTshark << " is missing (Debian package tshark)";
    // The daemons live on their own device root; the client reaches them
    // through recording relays at the endpoints of the test's root.
    std::string serviceRoot = root() + "/services";
    DaemonProcess connection;
    DaemonProcess accessory;
    ASSERT_TRUE(connection.Start(morvala::test::ConnectionServicePath(), {"--root", serviceRoot, "--foreground"}));
    ASSERT_TRUE(accessory.Start(morvala::test::AccessoryServicePath(), {"--root", serviceRoot, "--foreground"}));
    RecordingRelay toConnection(Endpoint(root(), contracts::kConnectionServiceId),
                                {Endpoint(serviceRoot, contracts::kConnectionServiceId), 0});
    RecordingRelay toAccessory(Endpoint(root(), contracts::kAccessoryServiceId),
                               {Endpoint(serviceRoot, contracts::kAccessoryServiceId), 0});
    ASSERT_TRUE(toConnection.Start());
    ASSERT_TRUE(toAccessory.Start());

    // Every procedure once, on one connection per service.
    LONG status = 0, value = 0;
    WCHAR units[32];
    char bytes[300];
    ULONG count = 0;
    const BYTE block[16] = {};
    {
        CMorCgSvcRpc client;
        client.SendText(u"session", &status);
        client.Proc1(u"x", block, &status);
        count = 32;
        client.Proc2(units, &count, &status);
        count = 300;
        client.GetText(bytes, &count, &status);
        client.Proc4(&value);
        count = 32;
        client.Proc5(u"echo", units, &count, &status);
        client.Proc6(&value);
        client.Proc7(u"seven", &status);
        client.SendNonEmptyText(u"eight", &status);
        EXPECT_EQ(client.CheckText(u"session", &status), 1);
    }
    {
        CMorvalaAccObaRpc client;
        client.Proc0(u"a", u"", 5, 7);
        client.GetFlag(&value);
        client.SendTexts(u"", u"", u"", &status);
        count = 300;
        client.GetText(bytes, &count, &status);
    }
    toConnection.Stop();
    toAccessory.Stop();
    std::vector<morvala::test::RelayConnection> sessions = toConnection.Connections();
    for (const auto& session : toAccessory.Connections()) sessions.push_back(session);
    ASSERT_EQ(sessions.size(), 2u);
    std::string pcap = root() + "/session.pcap";
    ASSERT_TRUE(morvala::test::WritePcap(pcap, sessions, 5555));

    const std::string read = kTshark + " -r " + pcap + " -d tcp.port==5555,dcerpc ";
    int exitCode = 0;
    std::string problems =
        RunCommand(read + "-Y '_ws.malformed || _ws.expert.severity >= \"warning\"' -T fields -e frame.number -e _ws.col.Info"
                   " 2>/dev/null",
            exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(problems, "") << "tshark found malformed PDUs or warnings";

    // Every PDU dissected as the expected type, every procedure seen.
    std::string fields =
        RunCommand(read + "-Y dcerpc -T fields -e dcerpc.pkt_type -e dcerpc.opnum -e dcerpc.stub_data 2>/dev/null",
            exitCode);
    std::map<int, int> types;
    std::set<int> opnums;
    std::set<std::string> requestStubs;
    std::istringstream lines(fields);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream parts(line);
        int type = -1;
        if (!(parts >> type)) continue;
        ++types[type];
        int opnum;
        std::string stub;
        if (type == 0 && parts >> opnum) opnums.insert(opnum);
        if (type == 0 && parts >> stub) requestStubs.insert(stub);
    }
    EXPECT_EQ(types[11], 2) << fields;  // bind
    EXPECT_EQ(types[12], 2) << fields;  // bind_ack
    EXPECT_EQ(types[0], 14) << fields;  // request
    EXPECT_EQ(types[2], 14) << fields;  // response
    EXPECT_EQ(types[3], 0) << fields;   // no fault
    EXPECT_EQ(opnums, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9})) << fields;
    // GetText's capacity 300, and SendTexts with three empty texts: each a
    // string of one unit, the terminator (gap bytes between them are zero).
    EXPECT_EQ(requestStubs.count("2c010000"), 1u) << fields;
    EXPECT_EQ(requestStubs.count("0100000000000000010000000000000001000000000000000100000000000000"
                                 "0100000000000000010000000000"),
              1u)
        << fields;

    EXPECT_EQ(connection.Stop(SIGTERM), 0);
    EXPECT_EQ(accessory.Stop(SIGTERM), 0);
}

}  // namespace
