// Calls that fail after the binding was made: the member returns the RPC
// failure's status code with its result at the zero value, frees its
// binding, and the next call works again. A service that dies mid-call, and
// two members of one object in flight at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "rpc_wrapper_fixture.h"

namespace morvala::test {
namespace {

using namespace std::chrono_literals;
using services::Reply;
using services::Service;
using services::StubWriter;

class RpcWrapperFailureTest : public RpcWrapperTest {};

using T = RpcWrapperTest;

// A member call that should fail; `result` is what it gave besides the
// status (a Boolean or text member's result, false/empty when failed).
struct Failing {
    const char* member;
    Service service;
    uint16_t opnum;
    std::function<HRESULT(T&, bool& nonZeroResult)> call;
};

const Failing kConnectionText{"GetConnectionServiceText", Service::Connection, 3, [](T& t, bool& nonZero) {
                                  auto outcome = t.GetConnectionServiceText();
                                  nonZero = !outcome.result.empty();
                                  return outcome.hr;
                              }};
const Failing kAccessoryText{"GetAccessoryServiceText", Service::Accessory, 3, [](T& t, bool& nonZero) {
                                 auto outcome = t.GetAccessoryServiceText();
                                 nonZero = !outcome.result.empty();
                                 return outcome.hr;
                             }};
const Failing kCheck{"CheckConnectionServiceText", Service::Connection, 9, [](T& t, bool& nonZero) {
                         auto outcome = t.CheckConnectionServiceText(u"x");
                         nonZero = outcome.result;
                         return outcome.hr;
                     }};
const Failing kFlag{"GetAccessoryServiceFlag", Service::Accessory, 1, [](T& t, bool& nonZero) {
                        auto outcome = t.GetAccessoryServiceFlag();
                        nonZero = outcome.result;
                        return outcome.hr;
                    }};
const Failing kTexts{"SendAccessoryServiceTexts", Service::Accessory, 2, [](T& t, bool& nonZero) {
                         auto outcome = t.SendAccessoryServiceTexts(u"a", u"b", u"c");
                         nonZero = outcome.result;
                         return outcome.hr;
                     }};
const Failing kSend{"SendConnectionServiceText", Service::Connection, 0, [](T& t, bool& nonZero) {
                        nonZero = false;
                        return t.SendConnectionServiceText(u"x");
                    }};

// A reply whose count (301) passes the 300-byte capacity the member sent.
Reply CountAboveCapacity() {
    const uint32_t over = 301;
    return Reply{.rawResponseStub =
                     StubWriter().U32(over).Bytes(std::vector<uint8_t>(over, 'x')).U32(over).U32(1).Take()};
}

struct FailureCase {
    const char* name;
    const Failing* target;
    Reply reply;
    HRESULT expected;
};

TEST_F(RpcWrapperFailureTest, FailedCallReturnsItsStatusWithAZeroResultAndFreesItsBinding) {
    StartService();
    const size_t baseline = FdsWithRegistryStoreOpen();
    const FailureCase cases[] = {
        {"count above the capacity", &kConnectionText, CountAboveCapacity(), HRESULT_FROM_WIN32(RPC_X_BAD_STUB_DATA)},
        {"count above the capacity", &kAccessoryText, CountAboveCapacity(), HRESULT_FROM_WIN32(RPC_X_BAD_STUB_DATA)},
        {"fault with a status", &kCheck, {.returnValue = 1, .fault = RPC_S_ACCESS_DENIED}, E_ACCESSDENIED},
        {"fault with an nca code", &kFlag, {.status = 1, .fault = RPC_S_PROCNUM_OUT_OF_RANGE},
         HRESULT_FROM_WIN32(RPC_S_PROCNUM_OUT_OF_RANGE)},
        {"fault carrying a failure code", &kSend, {.fault = static_cast<RPC_STATUS>(E_FAIL)}, E_FAIL},
        {"dropped connection", &kTexts, {.status = 1, .dropConnection = true}, HRESULT_FROM_WIN32(RPC_S_CALL_FAILED)},
        {"dropped connection", &kConnectionText, {.status = 1, .bytes = {'a'}, .dropConnection = true},
         HRESULT_FROM_WIN32(RPC_S_CALL_FAILED)},
        // The minimum communication timeout waits 2 s for a reply.
        {"reply slower than the timeout", &kAccessoryText, {.status = 1, .bytes = {'a'}, .delay = 3s},
         HRESULT_FROM_WIN32(RPC_S_CALL_FAILED)},
    };
    for (const FailureCase& c : cases) {
        const Failing& target = *c.target;
        SCOPED_TRACE(std::string(target.member) + ": " + c.name);
        service_.Answer(target.service, target.opnum, c.reply);
        bool nonZeroResult = true;
        EXPECT_EQ(target.call(*this, nonZeroResult), c.expected);
        EXPECT_FALSE(nonZeroResult);
        EXPECT_EQ(WaitForOpenFds(baseline), baseline) << "a binding was left open";

        // The same member works again once the service answers properly.
        service_.Answer(target.service, target.opnum, Reply{.status = 1, .returnValue = 1, .bytes = {'o', 'k'}});
        EXPECT_EQ(target.call(*this, nonZeroResult), S_OK);
        EXPECT_TRUE(nonZeroResult || &target == &kSend);
    }
}

// Serves both interfaces from a child process that ends (as if killed) as
// soon as its first call arrives, before answering it. Returns the child's
// pid once it listens; -1 on failure.
pid_t StartServiceThatDiesMidCall() {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        services::ScriptedService service;
        service.Answer(Service::Connection, 3, Reply{.status = 1, .bytes = {'a'}, .delay = 1500ms});
        char started = service.Start() == RPC_S_OK ? 'y' : 'n';
        if (write(ready[1], &started, 1) != 1 || started != 'y') _exit(2);
        while (service.CallCount() == 0) std::this_thread::sleep_for(1ms);
        _exit(0);  // sockets close with the process, the call unanswered
    }
    close(ready[1]);
    char started = 'n';
    ssize_t got = read(ready[0], &started, 1);
    close(ready[0]);
    if (child > 0 && (got != 1 || started != 'y')) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return -1;
    }
    return child;
}

// Waits for the child; one that has not ended after a while (it never got
// the call it waits for) is killed. Returns whether it ended by itself.
bool Reap(pid_t child, int& status) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &status, WNOHANG) == child) return true;
        std::this_thread::sleep_for(5ms);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return false;
}

TEST_F(RpcWrapperFailureTest, ServiceThatDiesDuringTheCallGivesAStatusAndTheNextServiceIsReached) {
    const size_t baseline = FdsWithRegistryStoreOpen();
    pid_t child = StartServiceThatDiesMidCall();
    ASSERT_GT(child, 0);

    auto failed = GetConnectionServiceText();
    EXPECT_EQ(failed.hr, HRESULT_FROM_WIN32(RPC_S_CALL_FAILED));
    EXPECT_EQ(failed.result, u"");
    int status = -1;
    ASSERT_TRUE(Reap(child, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the service did not see the call";
    EXPECT_EQ(OpenFdCount(), baseline) << "a binding was left open";

    // With the service gone, the member is back at its default.
    auto unreachable = GetConnectionServiceText();
    EXPECT_EQ(unreachable.hr, S_OK);
    EXPECT_EQ(unreachable.result, u"0.0.0.0");

    // A service started in its place (over the dead one's socket) is reached.
    StartService();
    service_.Answer(Service::Connection, 3, Reply{.status = 1, .bytes = {'b', 'a', 'c', 'k'}});
    auto back = GetConnectionServiceText();
    EXPECT_EQ(back.hr, S_OK);
    EXPECT_EQ(back.result, u"back");
}

// Number of connected sockets on the Unix socket at `path` as this process
// sees them: the accepted ends of the service, one per connection.
size_t AcceptedConnections(const std::string& path) {
    std::ifstream table("/proc/net/unix");
    std::string line;
    size_t count = 0;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, refs, protocol, flags, type, state, inode, name;
        fields >> slot >> refs >> protocol >> flags >> type >> state >> inode >> name;
        if (name == path && state == "03") ++count;  // SS_CONNECTED
    }
    return count;
}

TEST_F(RpcWrapperFailureTest, TwoMembersInFlightOnOneObjectUseTwoConnections) {
    StartService();
    service_.Answer(Service::Connection, 3, Reply{.status = 1, .bytes = {'t'}, .delay = 1s});
    service_.Answer(Service::Connection, 9, Reply{.returnValue = 1, .delay = 1s});
    std::atomic<int> finished{0};
    Outcome<std::u16string> text{E_FAIL, u""};
    Outcome<bool> check{E_FAIL, false};
    std::thread first([&] {
        text = GetConnectionServiceText();
        ++finished;
    });
    std::thread second([&] {
        check = CheckConnectionServiceText(u"c");
        ++finished;
    });
    // Both calls reach the service while both are still waiting for their
    // replies, which one shared connection could not carry.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (service_.CallCount() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    const int finishedWhenBothArrived = finished.load();
    const std::string endpoint = root().Path() + "/rpc/9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa_1.0";
    const size_t connections = AcceptedConnections(endpoint);
    first.join();
    second.join();

    EXPECT_EQ(service_.CallCount(), 2u);
    EXPECT_EQ(finishedWhenBothArrived, 0);
    EXPECT_EQ(connections, 2u);
    EXPECT_EQ(text.hr, S_OK);
    EXPECT_EQ(text.result, u"t");
    EXPECT_EQ(check.hr, S_OK);
    EXPECT_TRUE(check.result);
}

}  // namespace
}  // namespace morvala::test
