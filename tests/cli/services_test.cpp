// services start / status / stop over a fresh device root, and the demo end
// to end.
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "cli_process.h"
#include "support/device_root.h"

namespace morvala::test {
namespace {

// Whether pid is a process that has not ended (a zombie has ended).
bool Alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

pid_t ReadPid(const std::string& path) {
    std::ifstream in(path);
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
}

class CliServices : public DeviceRootTest {
protected:
    // Whatever a failed test left running is stopped.
    ~CliServices() override { RunMorvala({"services", "stop"}); }

    std::string PidFile(const char* program) const { return root().Path() + "/" + program + ".pid"; }
};

TEST_F(CliServices, StartStatusStop) {
    ProcessResult started = RunMorvala({"services", "start"});
    ASSERT_EQ(started.exitCode, 0) << started.err;
    EXPECT_NE(started.out.find("connection service (morvala-connection-service): ready, pid "), std::string::npos)
        << started.out;
    EXPECT_NE(started.out.find(root().Path() + "/rpc/bf9dc6fe-9b52-4853-8a12-5fb75155ab63_1.0"), std::string::npos);
    pid_t connection = ReadPid(PidFile("morvala-connection-service"));
    pid_t accessory = ReadPid(PidFile("morvala-accessory-service"));
    ASSERT_GT(connection, 0);
    ASSERT_GT(accessory, 0);
    EXPECT_TRUE(Alive(connection));
    EXPECT_NE(started.out.find("pid " + std::to_string(connection)), std::string::npos);

    ProcessResult status = RunMorvala({"--json", "services", "status"});
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_NE(status.out.find(R"("service":"connection","program":"morvala-connection-service","running":true,"pid":)" +
                              std::to_string(connection)),
              std::string::npos)
        << status.out;
    EXPECT_NE(status.out.find(R"("endpoint_present":true)"), std::string::npos);
    EXPECT_EQ(RunMorvala({"rpc", "connection-text"}).out, "10.0.2.1\n");
    EXPECT_EQ(RunMorvala({"rpc", "accessory-text"}).out, "2.4.0.7\n");

    ProcessResult again = RunMorvala({"services", "start", "connection"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_NE(again.out.find("(already running)"), std::string::npos) << again.out;
    EXPECT_EQ(ReadPid(PidFile("morvala-connection-service")), connection);

    ProcessResult stoppedOne = RunMorvala({"services", "stop", "accessory"});
    EXPECT_EQ(stoppedOne.exitCode, 0) << stoppedOne.err;
    EXPECT_FALSE(Alive(accessory));
    EXPECT_FALSE(Exists(PidFile("morvala-accessory-service")));
    EXPECT_EQ(RunMorvala({"rpc", "accessory-text"}).out, "0.0.0.0\n");
    EXPECT_EQ(RunMorvala({"rpc", "connection-text"}).out, "10.0.2.1\n");

    ProcessResult stopped = RunMorvala({"services", "stop"});
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
    EXPECT_NE(stopped.out.find("connection service (morvala-connection-service): stopped (pid " +
                               std::to_string(connection) + ")"),
              std::string::npos)
        << stopped.out;
    EXPECT_NE(stopped.out.find("accessory service (morvala-accessory-service): was not running"), std::string::npos);
    EXPECT_FALSE(Alive(connection));
    EXPECT_FALSE(Exists(root().Path() + "/rpc/9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa_1.0"));
    ProcessResult after = RunMorvala({"services", "status"});
    EXPECT_NE(after.out.find("connection service (morvala-connection-service): not running"), std::string::npos);
    EXPECT_EQ(RunMorvala({"rpc", "connection-text"}).out, "0.0.0.0\n");
}

TEST_F(CliServices, StalePidFileIsNotTakenForARunningService) {
    // A pid file left by a crash, naming a process that is no service (ourselves).
    std::ofstream(PidFile("morvala-connection-service")) << getpid() << "\n";
    ProcessResult status = RunMorvala({"services", "status", "connection"});
    EXPECT_NE(status.out.find("not running (stale pid file)"), std::string::npos) << status.out;
    ProcessResult stop = RunMorvala({"services", "stop", "connection"});
    EXPECT_EQ(stop.exitCode, 0);
    EXPECT_NE(stop.out.find("was not running (stale pid file removed)"), std::string::npos) << stop.out;
    EXPECT_FALSE(Exists(PidFile("morvala-connection-service")));
    EXPECT_TRUE(Alive(getpid()));  // and nobody was signalled

    std::ofstream(PidFile("morvala-connection-service")) << "garbage\n";
    ProcessResult start = RunMorvala({"services", "start", "connection"});
    EXPECT_EQ(start.exitCode, 0) << start.err;
    EXPECT_TRUE(Alive(ReadPid(PidFile("morvala-connection-service"))));
}

TEST_F(CliServices, SecondDaemonOnTheSameEndpointIsReported) {
    ASSERT_EQ(RunMorvala({"services", "start", "connection"}).exitCode, 0);
    // The pid file is gone but the daemon still serves: a new start must fail, not hang.
    std::string pidFile = PidFile("morvala-connection-service");
    pid_t pid = ReadPid(pidFile);
    std::remove(pidFile.c_str());
    ProcessResult second = RunMorvala({"services", "start", "connection"});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("morvala-connection-service did not start"), std::string::npos) << second.err;
    kill(pid, SIGTERM);
}

TEST_F(CliServices, DemoRunsEndToEnd) {
    ProcessResult demo = RunMorvala({"demo"}, "", 120);
    EXPECT_EQ(demo.exitCode, 0) << demo.out << demo.err;
    for (const char* line : {"GetDeviceIds: Headset-01, HeartStrap-02", "handler called: GPSLoggingSettingsChanged(true)",
                             "GetConnectionServiceText: 10.0.2.1", "GetAccessoryServiceText: 2.4.0.7",
                             "GetAccessoryServiceText: 0.0.0.0", "demo finished: every step answered as expected"}) {
        EXPECT_NE(demo.out.find(line), std::string::npos) << line << "\n" << demo.out;
    }
    EXPECT_EQ(demo.out.find("UNEXPECTED"), std::string::npos) << demo.out;
    // The demo used the given root and left no service running there.
    EXPECT_NE(demo.out.find("Device root " + root().Path() + " (from MORVALA_ROOT)"), std::string::npos);
    EXPECT_NE(RunMorvala({"services", "status"}).out.find("accessory service (morvala-accessory-service): not running"),
              std::string::npos);
}

}  // namespace
}  // namespace morvala::test
