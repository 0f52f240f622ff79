// Two processes with several threads each, writing and reading the same keys
// while another thread deletes and remakes a subtree under them: every value
// read is whole, every last write is kept, only the expected codes appear, and
// no handle is left open.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <source_location>
#include <string>
#include <thread>

#include "registry_fixture.h"

using namespace registry_test;
using platform::UniqueHkey;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 300;
constexpr size_t kTokens = 32;  // a shared value is 32 copies of one 8-byte token

std::u16string Own(int process, int thread) {
    return u"p" + std::u16string(1, char16_t(u'0' + process)) + u"t" + std::u16string(1, char16_t(u'0' + thread));
}

// Counts what went wrong in one worker.
struct Tally {
    std::atomic<int> failures{0};
    void Expect(bool ok, std::source_location where = std::source_location::current()) {
        if (ok) return;
        failures.fetch_add(1);
        std::fprintf(stderr, "process %d: unexpected result at line %u\n", static_cast<int>(::getpid()),
                     static_cast<unsigned>(where.line()));
    }
};

// A shared value is torn when its tokens differ.
bool Whole(const std::vector<BYTE>& data) {
    if (data.size() != kTokens * 8) return false;
    for (size_t i = 8; i < data.size(); ++i) {
        if (data[i] != data[i % 8]) return false;
    }
    return true;
}

void Writer(int process, int thread, Tally& tally) {
    std::u16string own = Own(process, thread);
    for (int round = 1; round <= kRounds; ++round) {
        UniqueHkey key;
        tally.Expect(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Shared\\Key", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                     key.put(), nullptr) == ERROR_SUCCESS);
        uint64_t token = (uint64_t(process) << 48) | (uint64_t(thread) << 32) | uint64_t(round);
        std::vector<BYTE> shared(kTokens * 8);
        for (size_t i = 0; i < kTokens; ++i) std::memcpy(shared.data() + i * 8, &token, 8);
        tally.Expect(SetBytes(key.get(), u"shared", REG_BINARY, shared) == ERROR_SUCCESS);
        std::vector<BYTE> mine(4);
        std::memcpy(mine.data(), &round, 4);
        tally.Expect(SetBytes(key.get(), own.c_str(), REG_DWORD, mine) == ERROR_SUCCESS);

        DWORD type = 0;
        std::vector<BYTE> read;
        tally.Expect(GetBytes(key.get(), u"shared", type, read) == ERROR_SUCCESS && Whole(read));
        tally.Expect(GetBytes(key.get(), own.c_str(), type, read) == ERROR_SUCCESS && read == mine);
    }
}

// Deletes and remakes Shared\Volatile while readers walk it.
void Churner(Tally& tally) {
    for (int round = 0; round < kRounds; ++round) {
        UniqueHkey key;
        tally.Expect(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Shared\\Volatile\\Leaf", 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, key.put(), nullptr) == ERROR_SUCCESS);
        // The other process's churner may delete the key between the two calls.
        LONG status = SetBytes(key.get(), u"v", REG_BINARY, {1, 2, 3});
        tally.Expect(status == ERROR_SUCCESS || status == ERROR_KEY_DELETED);
        status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"Shared\\Volatile");
        tally.Expect(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
    }
}

void Reader(Tally& tally) {
    for (int round = 0; round < kRounds; ++round) {
        UniqueHkey key;
        LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Shared\\Volatile", 0, KEY_READ, key.put());
        tally.Expect(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
        if (status != ERROR_SUCCESS) continue;
        WCHAR name[16];
        DWORD chars = 16;
        status = RegEnumKeyExW(key.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr);
        tally.Expect(status == ERROR_SUCCESS || status == ERROR_NO_MORE_ITEMS || status == ERROR_KEY_DELETED);
        UniqueHkey leaf;
        status = RegOpenKeyExW(key.get(), u"Leaf", 0, KEY_READ, leaf.put());
        tally.Expect(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED);
        if (status != ERROR_SUCCESS) continue;
        DWORD type = 0;
        std::vector<BYTE> data;
        status = GetBytes(leaf.get(), u"v", type, data);
        tally.Expect((status == ERROR_SUCCESS && data == std::vector<BYTE>{1, 2, 3}) ||
                     status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED);
    }
}

// One process's share of the work; returns the number of failures.
int RunProcess(int process) {
    Tally tally;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] { Writer(process, thread, tally); });
    }
    threads.emplace_back([&] { Churner(tally); });
    threads.emplace_back([&] { Reader(tally); });
    for (std::thread& thread : threads) thread.join();
    tally.Expect(platform::RegistryOpenHandleCount() == 0);
    return tally.failures.load();
}

class RegConcurrency : public RegistryTest {};

TEST_F(RegConcurrency, ProcessesAndThreadsShareKeysSafely) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(std::min(RunProcess(1), 100));
    EXPECT_EQ(RunProcess(0), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failures in the other process";

    // Every writer's last value is there.
    LONG opened = ERROR_SUCCESS;
    UniqueHkey key = Open(u"Shared\\Key", KEY_READ, opened);
    ASSERT_EQ(opened, ERROR_SUCCESS);
    for (int process = 0; process < 2; ++process) {
        for (int thread = 0; thread < kThreads; ++thread) {
            DWORD type = 0;
            std::vector<BYTE> data;
            ASSERT_EQ(GetBytes(key.get(), Own(process, thread).c_str(), type, data), ERROR_SUCCESS);
            int last = 0;
            std::memcpy(&last, data.data(), 4);
            EXPECT_EQ(last, kRounds) << "process " << process << " thread " << thread;
        }
    }
    DWORD type = 0;
    std::vector<BYTE> shared;
    ASSERT_EQ(GetBytes(key.get(), u"shared", type, shared), ERROR_SUCCESS);
    EXPECT_TRUE(Whole(shared));
}

}  // namespace
