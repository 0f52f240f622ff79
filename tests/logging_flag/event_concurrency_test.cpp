// Eight threads adding, removing and raising at once. Each thread owns its
// handlers and counts the raises it makes while they are registered; a
// handler counts only the calls made on its own thread, so the two counts
// must agree exactly, whatever the other threads do meanwhile. Bounded by a
// round count and a deadline; meant to run under ThreadSanitizer too.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "MorvalaFrameworkUiWinPRT_delegates.h"
#include "flag_fixture.h"

namespace logging_flag_test {
namespace {

constexpr int kThreads = 8;
constexpr int kMaxRounds = 2000;
constexpr auto kDeadline = std::chrono::seconds(3);

thread_local int currentThread = -1;
thread_local bool currentValue = false;

struct ThreadCounts {
    std::atomic<long> ownCalls{0};        // the thread's handler, called on the thread
    std::atomic<long> otherCalls{0};      // the thread's handler, called by another thread's raise
    std::atomic<long> wrongValues{0};     // own calls that saw another value than the one set
    std::atomic<long> droppedCalls{0};    // the disconnecting handler, called on the thread
    long expectedOwnCalls = 0;            // written by the thread alone
    long expectedDroppedCalls = 0;
    long failures = 0;
    long rounds = 0;
};

using EventConcurrencyTest = LoggingFlagTest;

TEST_F(EventConcurrencyTest, HandlersAreCalledExactlyForTheRaisesTheirRegistrationsSpanned) {
    CreateServiceKey();
    auto alive = std::make_shared<int>(0);  // copied into every handler: counts those not yet freed
    std::vector<ThreadCounts> counts(kThreads);
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    Statics* statics = statics_.get();

    auto makeHandler = [&](int owner) {
        Callback* raw = nullptr;
        ThreadCounts& mine = counts[owner];
        EXPECT_EQ(abi::MakeGPSLoggingSettingsCallback(
                      [&mine, owner, alive](bool value) {
                          static_cast<void>(alive);
                          if (currentThread != owner) {
                              ++mine.otherCalls;
                              return;
                          }
                          ++mine.ownCalls;
                          if (value != currentValue) ++mine.wrongValues;
                      },
                      &raw),
                  S_OK);
        return platform::ComPtr<Callback>::Attach(raw);
    };
    // Answers RPC_E_DISCONNECTED on its owner's thread only, so that only its
    // owner's raise drops it: exactly one own call per registration.
    auto makeDroppedHandler = [&](int owner) {
        Callback* raw = nullptr;
        ThreadCounts& mine = counts[owner];
        EXPECT_EQ(abi::MakeGPSLoggingSettingsCallback(
                      [&mine, owner, alive](bool) -> HRESULT {
                          static_cast<void>(alive);
                          if (currentThread != owner) return S_OK;
                          ++mine.droppedCalls;
                          return RPC_E_DISCONNECTED;
                      },
                      &raw),
                  S_OK);
        return platform::ComPtr<Callback>::Attach(raw);
    };

    auto work = [&](int self) {
        currentThread = self;
        ThreadCounts& mine = counts[self];
        auto handler = makeHandler(self);
        auto dropped = makeDroppedHandler(self);
        auto raise = [&](bool value, long registrations) {
            currentValue = value;
            boolean result = 0;
            if (statics->SetDisconnectionLoggingNeeded(value ? 1 : 0, &result) != S_OK || result != 1) ++mine.failures;
            mine.expectedOwnCalls += registrations;
        };
        for (int round = 0; round < kMaxRounds && std::chrono::steady_clock::now() < deadline; ++round) {
            long registrations = 1 + round % 2;  // every other round the same handler twice
            std::vector<EventRegistrationToken> tokens;
            for (long i = 0; i < registrations; ++i) {
                EventRegistrationToken token{0};
                if (statics->add_GPSLoggingSettingsChanged(handler.get(), &token) != S_OK) ++mine.failures;
                tokens.push_back(token);
            }
            raise(round % 3 == 0, registrations);
            if (round % 4 == 0) {
                EventRegistrationToken token{0};
                if (statics->add_GPSLoggingSettingsChanged(dropped.get(), &token) != S_OK) ++mine.failures;
                raise(true, registrations);  // drops it
                mine.expectedDroppedCalls += 1;
                raise(false, registrations);  // not called again
            }
            // Remove one by one, raising in between: newest first on odd rounds.
            if (round % 2 == 1) std::swap(tokens.front(), tokens.back());
            while (!tokens.empty()) {
                if (statics->remove_GPSLoggingSettingsChanged(tokens.back()) != S_OK) ++mine.failures;
                tokens.pop_back();
                raise(round % 2 == 0, static_cast<long>(tokens.size()));
            }
            ++mine.rounds;
        }
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
    for (auto& thread : threads) thread.join();

    long otherCalls = 0;
    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE("thread " + std::to_string(t));
        const ThreadCounts& c = counts[t];
        EXPECT_GT(c.rounds, 0);
        EXPECT_EQ(c.failures, 0);
        EXPECT_EQ(c.ownCalls.load(), c.expectedOwnCalls);
        EXPECT_EQ(c.wrongValues.load(), 0);
        EXPECT_EQ(c.droppedCalls.load(), c.expectedDroppedCalls);
        otherCalls += c.otherCalls.load();
    }
    RecordProperty("other_thread_calls", static_cast<int>(otherCalls));
    EXPECT_EQ(alive.use_count(), 1) << "a registration still holds a handler";

    // Nothing stays registered: a last raise calls nobody.
    auto last = TestHandler::Make(1, log_);
    EventRegistrationToken token = Add(last.get());
    EXPECT_TRUE(SetOk(true));
    EXPECT_EQ(log_.Take(), (std::vector<Call>{{1, true}}));
    Remove(token);
    // TearDown checks that no object of the component is left alive.
}

}  // namespace
}  // namespace logging_flag_test
