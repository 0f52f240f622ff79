// Writers killed with SIGKILL in mid-stream, round after round: every write a
// writer saw acknowledged is in the store afterwards, no value is half
// written, and the database passes SQLite's integrity check.
#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "registry_fixture.h"

using namespace registry_test;
using platform::UniqueHkey;

namespace {

constexpr int kRounds = 6;
constexpr int kWriters = 3;
constexpr size_t kTokens = 32;

std::u16string WriterKey(int writer) { return u"Crash\\W" + std::u16string(1, char16_t(u'0' + writer)); }

std::vector<BYTE> BlobOf(uint64_t seq) {
    std::vector<BYTE> blob(kTokens * 8);
    for (size_t i = 0; i < kTokens; ++i) std::memcpy(blob.data() + i * 8, &seq, 8);
    return blob;
}

// Runs in a child until killed: writes ever larger sequence numbers, starting
// after what the store holds, and reports each one through fd once acknowledged.
[[noreturn]] void WriteForever(int writer, int fd) {
    UniqueHkey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, WriterKey(writer).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
        ::_exit(2);
    }
    uint64_t seq = 0;
    DWORD size = sizeof seq;
    RegQueryValueExW(key.get(), u"seq", nullptr, nullptr, reinterpret_cast<BYTE*>(&seq), &size);
    for (;;) {
        ++seq;
        std::vector<BYTE> blob = BlobOf(seq);
        if (SetBytes(key.get(), u"blob", REG_BINARY, blob) != ERROR_SUCCESS) ::_exit(3);
        if (RegSetValueExW(key.get(), u"seq", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&seq), 8) != 0) ::_exit(3);
        if (::write(fd, &seq, sizeof seq) != static_cast<ssize_t>(sizeof seq)) ::_exit(4);
    }
}

struct Child {
    pid_t pid;
    int fd;
};

std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return result;
}

class RegCrash : public RegistryTest {};

TEST_F(RegCrash, AcknowledgedWritesSurviveKillNine) {
    std::mt19937 random(12345);
    uint64_t lastAck[kWriters] = {};
    uint64_t totalAcks = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<Child> children;
        for (int writer = 0; writer < kWriters; ++writer) {
            int fds[2];
            ASSERT_EQ(::pipe(fds), 0);
            pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                ::close(fds[0]);
                WriteForever(writer, fds[1]);
            }
            ::close(fds[1]);
            children.push_back({pid, fds[0]});
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 300));
        for (const Child& child : children) ::kill(child.pid, SIGKILL);
        for (int writer = 0; writer < kWriters; ++writer) {
            int status = 0;
            ::waitpid(children[writer].pid, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                << "writer " << writer << " stopped by itself, status " << status;
            uint64_t ack = 0;
            while (::read(children[writer].fd, &ack, sizeof ack) == static_cast<ssize_t>(sizeof ack)) {
                lastAck[writer] = ack;
                ++totalAcks;
            }
            ::close(children[writer].fd);
        }

        for (int writer = 0; writer < kWriters; ++writer) {
            SCOPED_TRACE(testing::Message() << "round " << round << " writer " << writer);
            LONG status = ERROR_SUCCESS;
            UniqueHkey key = Open(WriterKey(writer), KEY_READ, status);
            if (lastAck[writer] == 0 && status == ERROR_FILE_NOT_FOUND) continue;  // killed before its first write
            ASSERT_EQ(status, ERROR_SUCCESS);
            uint64_t seq = 0;
            DWORD size = sizeof seq;
            status = RegQueryValueExW(key.get(), u"seq", nullptr, nullptr, reinterpret_cast<BYTE*>(&seq), &size);
            // Killed after making its key but before its first sequence number.
            if (lastAck[writer] == 0 && status == ERROR_FILE_NOT_FOUND) continue;
            ASSERT_EQ(status, ERROR_SUCCESS);
            EXPECT_GE(seq, lastAck[writer]) << "an acknowledged write was lost";
            DWORD type = 0;
            std::vector<BYTE> blob;
            ASSERT_EQ(GetBytes(key.get(), u"blob", type, blob), ERROR_SUCCESS);
            uint64_t token = 0;
            std::memcpy(&token, blob.data(), 8);
            EXPECT_EQ(blob, BlobOf(token)) << "a value was half written";
            EXPECT_TRUE(token == seq || token == seq + 1) << "blob " << token << " seq " << seq;
        }
        ASSERT_EQ(IntegrityCheck(StorePath()), "ok");
    }
    EXPECT_GT(totalAcks, 100u) << "the writers hardly wrote; the test proved little";
    std::printf("acknowledged writes over %d rounds: %llu\n", kRounds, static_cast<unsigned long long>(totalAcks));
}

}  // namespace
