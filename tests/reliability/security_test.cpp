// Who may reach or replace what. The RPC folder a root daemon makes keeps
// other users from removing or replacing its endpoint (even when the daemon
// was started with a permissive umask), and a caller's identity reaches a
// service from the kernel, whatever the caller claims in its PDUs.
//
// Covered elsewhere and not repeated here: a squatted endpoint is refused
// (tests/rpc/security_test.cpp, tests/services/daemons_test.cpp), privacy
// over TCP is refused (tests/rpc/loopback_test.cpp), registry writes to a
// store the process may not write are refused (tests/registry/
// registry_store_test.cpp, tests/registry_members/read_only_test.cpp).
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "campaign.h"
#include "contracts/connection_service.h"
#include "daemon_process.h"
#include "pdu.h"
#include "platform/rpc_server.h"
#include "scripted_service.h"
#include "support/device_root.h"

namespace {

namespace wire = platform::rpc::wire;
using morvala::test::ConnectionServicePath;
using morvala::test::DaemonProcess;
constexpr uid_t kNobody = 65534;

// Runs body in a child as user nobody; returns its exit code (-1 when it
// could not drop privileges or died).
template <typename Body>
int AsNobody(Body body, pid_t* childPid = nullptr) {
    pid_t pid = ::fork();
    if (childPid != nullptr) *childPid = pid;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(255);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

class EndpointFolderTest : public morvala::test::DeviceRootTest {};

TEST_F(EndpointFolderTest, OtherUsersCannotRemoveOrReplaceARootDaemonsEndpoint) {
    // The test's folder lets everyone walk in; the daemon makes the device
    // root and its RPC folder itself, under each umask.
    ASSERT_EQ(::chmod(root().Path().c_str(), 0755), 0);
    uint64_t attempts = 0;
    for (mode_t mask : {mode_t{022}, mode_t{0}}) {
        SCOPED_TRACE(testing::Message() << "umask " << std::oct << mask);
        const std::string device = root().Path() + "/device" + std::to_string(mask);
        const std::string folder = device + "/rpc";
        const std::string socket =
            folder + "/" + platform::rpc::RpcServer::EndpointName(contracts::kConnectionServiceId);
        mode_t saved = ::umask(mask);
        DaemonProcess daemon;
        bool started = daemon.Start(ConnectionServicePath(), {"--root", device, "--foreground"});
        ::umask(saved);
        ASSERT_TRUE(started) << daemon.ReadyLine();

        // Each attempt that works sets its bit.
        int broken = AsNobody([&] {
            int bits = 0;
            if (::unlink(socket.c_str()) == 0) bits |= 1;
            if (::rename(socket.c_str(), (socket + ".moved").c_str()) == 0) bits |= 2;
            int fd = ::open((folder + "/planted").c_str(), O_CREAT | O_WRONLY, 0666);
            if (fd >= 0) bits |= 4, ::close(fd);
            if (::rename(folder.c_str(), (device + "/rpc.old").c_str()) == 0) bits |= 8;
            fd = ::open((device + "/registry.db").c_str(), O_CREAT | O_WRONLY, 0666);
            if (fd >= 0) bits |= 16, ::close(fd);
            return bits;
        });
        attempts += 5;
        EXPECT_EQ(broken, 0) << "bits: 1 unlink socket, 2 rename socket, 4 file in the RPC folder, "
                                "8 rename the RPC folder, 16 file in the device root";
        struct stat info {};
        ASSERT_EQ(::stat(folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0755u) << "the RPC folder's mode";
        ASSERT_EQ(::stat(device.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 022, 0u) << "the device root may be written by others: mode " << std::oct
                                          << (info.st_mode & 07777);
        EXPECT_TRUE(std::filesystem::exists(socket)) << "the endpoint is still there";
        EXPECT_EQ(daemon.Stop(SIGTERM), 0);
    }
    reliability::Print({"security-endpoint-folder", 2, attempts, 0, 0, "attempts as uid 65534, all refused"});
}

// The bytes of a bind for the connection service.
std::vector<uint8_t> Bind(uint32_t callId) {
    return wire::EncodeBind(
        wire::kBind, callId,
        wire::BindBody{5840, 5840, 0, {wire::ContextElement{0, contracts::kConnectionServiceId, {kNdr20TransferSyntax}}}});
}

void PutU16(std::vector<uint8_t>& pdu, size_t at, uint16_t value) {
    pdu[at] = static_cast<uint8_t>(value);
    pdu[at + 1] = static_cast<uint8_t>(value >> 8);
}

// A bind that carries an authentication verifier naming root: an identity
// claimed in the PDU.
std::vector<uint8_t> BindClaimingRoot() {
    std::vector<uint8_t> pdu = Bind(1);
    const char token[16] = "user=root uid=0";
    const uint8_t verifier[8] = {10 /* NTLM */, 6 /* privacy */, 0, 0, 0, 0, 0, 0};
    pdu.insert(pdu.end(), verifier, verifier + 8);
    pdu.insert(pdu.end(), token, token + sizeof token);
    PutU16(pdu, 8, static_cast<uint16_t>(pdu.size()));
    PutU16(pdu, 10, sizeof token);
    return pdu;
}

// SendText("uid=0") with an object UUID in the request header that says root.
std::vector<uint8_t> SendTextClaimingRoot() {
    const std::u16string text = u"uid=0";
    std::vector<uint8_t> stub;
    auto u32 = [&](uint32_t v) {
        for (int k = 0; k < 4; ++k) stub.push_back(static_cast<uint8_t>(v >> (8 * k)));
    };
    u32(text.size() + 1);
    u32(0);
    u32(text.size() + 1);
    for (char16_t unit : text + u'\0') stub.push_back(static_cast<uint8_t>(unit)), stub.push_back(0);
    while (stub.size() % 4 != 0) stub.push_back(0);
    std::vector<uint8_t> pdu =
        wire::EncodeRequest(2, wire::kSingleFrag | 0x80 /* object UUID */, 0, 0, 0, stub.data(), stub.size());
    const uint8_t object[16] = {'r', 'o', 'o', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    pdu.insert(pdu.begin() + 24, object, object + 16);
    PutU16(pdu, 8, static_cast<uint16_t>(pdu.size()));
    return pdu;
}

// In the child: connects, sends `first`, and when `second` is not empty reads
// one PDU then sends `second`. Returns the type of the last PDU read, or 200
// when the server closed the connection instead.
int Exchange(const std::string& path, const std::vector<uint8_t>& first, const std::vector<uint8_t>& second) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 254;
    int type = 200;
    for (const auto* pdu : {&first, &second}) {
        if (pdu->empty()) break;
        if (::send(fd, pdu->data(), pdu->size(), MSG_NOSIGNAL) != static_cast<ssize_t>(pdu->size())) return 253;
        pollfd entry{fd, POLLIN, 0};
        uint8_t header[16] = {};
        if (::poll(&entry, 1, 3000) != 1 || ::recv(fd, header, sizeof header, MSG_WAITALL) != 16) return 200;
        type = header[2];
        std::vector<uint8_t> rest(static_cast<size_t>(header[8] | header[9] << 8) - 16);
        ::recv(fd, rest.data(), rest.size(), MSG_WAITALL);
    }
    ::close(fd);
    return type;
}

TEST(CallerIdentity, ComesFromTheKernelWhateverTheCallerClaims) {
    morvala::test::ScopedDeviceRoot root;
    ASSERT_EQ(::chmod(root.Path().c_str(), 0755), 0);
    morvala::services::ScriptedService service;
    ASSERT_EQ(service.Start(), RPC_S_OK);
    const std::string path =
        root.Path() + "/rpc/" + platform::rpc::RpcServer::EndpointName(contracts::kConnectionServiceId);
    const std::vector<uint8_t> claimingBind = BindClaimingRoot(), bind = Bind(1), call = SendTextClaimingRoot();

    int refusedBind = AsNobody([&] { return Exchange(path, claimingBind, {}); });
    EXPECT_TRUE(refusedBind == wire::kBindNak || refusedBind == 200)
        << "a bind carrying credentials must be refused, got PDU type " << refusedBind;
    EXPECT_EQ(service.CallCount(), 0u);

    pid_t child = 0;
    int answered = AsNobody([&] { return Exchange(path, bind, call); }, &child);
    EXPECT_EQ(answered, wire::kResponse);
    auto calls = service.Received();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].caller.uid, kNobody) << "the service must see the caller's real uid";
    EXPECT_EQ(calls[0].caller.gid, kNobody);
    EXPECT_TRUE(calls[0].caller.local);
    EXPECT_EQ(calls[0].caller.pid, child) << "the service must see the calling process";
    ASSERT_EQ(calls[0].args.size(), 2u);
    EXPECT_EQ(calls[0].args[0].text, u"uid=0") << "the claim arrives as plain data";
    reliability::Print({"security-identity", 2, 2, 0, 0, "claims in the bind and the request; uid seen 65534"});
}

}  // namespace
