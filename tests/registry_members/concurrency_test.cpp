// Several threads and two processes calling the members on the same keys: no
// value is lost or torn, every call answers S_OK, no handle is left open.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "members_fixture.h"
#include "support/hstring.h"

namespace members_test {
namespace {

using morvala::test::MakeHString;
using morvala::test::ToU16;

constexpr int kRounds = 150;
constexpr size_t kTextUnits = 200;

// Writer w's text of round r: 200 copies of one unit that names both, so that
// a text mixed from two writes is recognisable.
std::u16string WriterText(int writer, int round) {
    return std::u16string(kTextUnits, static_cast<char16_t>(u'A' + writer * 1000 + round));
}

// A whole text of some writer: 200 equal units.
bool IsWhole(const std::u16string& text) {
    return text.size() == kTextUnits && text.find_first_not_of(text[0]) == std::u16string::npos;
}

// Writes `rounds` texts to the shared value and to the writer's own value of
// the shared device, checking after each write that the device reads whole.
void Writer(MorvalaFrameworkUiWinPRT::__IRegistryManagerStatics* statics, int writer, std::atomic<int>& failures) {
    platform::UniqueHString device = MakeHString(u"Shared"), shared = MakeHString(u"shared");
    platform::UniqueHString own = MakeHString(u"own" + std::u16string(1, static_cast<char16_t>(u'0' + writer)));
    for (int round = 0; round < kRounds; ++round) {
        platform::UniqueHString text = MakeHString(WriterText(writer, round));
        if (statics->SetDeviceValue(device.get(), shared.get(), text.get()) != S_OK) ++failures;
        if (statics->SetDeviceValue(device.get(), own.get(), text.get()) != S_OK) ++failures;
        platform::ComPtr<IMap_String_String> map;
        if (statics->GetDeviceValues(device.get(), map.put()) != S_OK || !map) {
            ++failures;
            continue;
        }
        for (const auto& [name, value] : MapContents(map.get()))
            if (!IsWhole(value)) ++failures;
        boolean exists = 0;
        if (statics->DeviceExists(device.get(), &exists) != S_OK || exists != 1) ++failures;
    }
}

// Creates and deletes a device of its own while the others write.
void Churner(MorvalaFrameworkUiWinPRT::__IRegistryManagerStatics* statics, std::atomic<int>& failures) {
    platform::UniqueHString device = MakeHString(u"Transient"), name = MakeHString(u"n"), text = MakeHString(u"t");
    for (int round = 0; round < kRounds; ++round) {
        if (statics->SetDeviceValue(device.get(), name.get(), text.get()) != S_OK) ++failures;
        platform::ComPtr<IVector_String> ids;
        if (statics->GetDeviceIds(ids.put()) != S_OK || !ids) ++failures;
        if (statics->DeleteDevice(device.get()) != S_OK) ++failures;
    }
}

class ConcurrencyTest : public MembersTest {
protected:
    // Runs writers [first, first + count) and one churner on threads.
    void RunThreads(int first, int count, std::atomic<int>& failures) {
        std::vector<std::thread> threads;
        for (int w = first; w < first + count; ++w) threads.emplace_back(Writer, statics(), w, std::ref(failures));
        threads.emplace_back(Churner, statics(), std::ref(failures));
        for (auto& t : threads) t.join();
    }

    // Every writer's own value holds its last text; the shared one a whole text.
    void ExpectFinalValues(int writers) {
        Pairs values = DeviceValues(u"Shared");
        ASSERT_EQ(values.size(), static_cast<size_t>(writers) + 1);
        for (int w = 0; w < writers; ++w)
            EXPECT_EQ(values[w], (std::pair{u"own" + std::u16string(1, static_cast<char16_t>(u'0' + w)),
                                            WriterText(w, kRounds - 1)}));
        EXPECT_EQ(values.back().first, u"shared");
        EXPECT_TRUE(IsWhole(values.back().second));
    }
};

TEST_F(ConcurrencyTest, ThreadsOnTheSameKeys) {
    std::atomic<int> failures{0};
    RunThreads(0, 4, failures);
    EXPECT_EQ(failures.load(), 0);
    ExpectFinalValues(4);
    EXPECT_FALSE(DeviceExists(u"Transient"));
}

TEST_F(ConcurrencyTest, TwoProcessesOnTheSameKeys) {
    // The child is made before any thread starts, and runs writers 3..5.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::atomic<int> failures{0};
        RunThreads(3, 3, failures);
        ::_exit(failures.load() == 0 && !::testing::Test::HasFailure() ? 0 : 1);
    }
    std::atomic<int> failures{0};
    RunThreads(0, 3, failures);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child process failed, status " << status;
    EXPECT_EQ(failures.load(), 0);
    ExpectFinalValues(6);
}

}  // namespace
}  // namespace members_test
