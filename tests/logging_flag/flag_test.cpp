// The flag itself: what each stored state reads as, what a write leaves in
// the store, and that other writers (another process, a refused access) are
// seen only through the registry.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "flag_fixture.h"

namespace logging_flag_test {
namespace {

using FlagReadTest = LoggingFlagTest;
using FlagWriteTest = LoggingFlagTest;

struct ReadCase {
    const char* name;
    bool keyExists;
    std::optional<StoredValue> stored;
    bool expected;
};

TEST_F(FlagReadTest, StoredStatesReadAsTrueOnlyForTheNumberOne) {
    const ReadCase cases[] = {
        {"key missing", false, std::nullopt, false},
        {"value missing", true, std::nullopt, false},
        {"REG_DWORD 1", true, Dword(1), true},
        {"REG_DWORD 0", true, Dword(0), false},
        {"REG_DWORD 2", true, Dword(2), false},
        {"REG_DWORD 0xFFFFFFFF", true, Dword(0xFFFFFFFFu), false},
        {"REG_DWORD 0x101", true, Dword(0x101), false},
        {"bytes 00 00 00 01 (big-endian 1)", true, StoredValue{REG_DWORD, {0, 0, 0, 1}}, false},
        {"REG_SZ \"1\"", true, StoredValue{REG_SZ, {0x31, 0x00, 0x00, 0x00}}, false},
        {"one byte 01, REG_BINARY", true, StoredValue{REG_BINARY, {0x01}}, true},
        {"one byte 01, REG_SZ", true, StoredValue{REG_SZ, {0x01}}, true},
        {"two bytes 01 00", true, StoredValue{REG_BINARY, {0x01, 0x00}}, true},
        {"no data", true, StoredValue{REG_BINARY, {}}, false},
        // Longer than the four-byte buffer: the read fails and leaves it at 0.
        {"REG_QWORD 1 (eight bytes)", true, StoredValue{REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}, false},
        {"five bytes 01 00 00 00 00", true, StoredValue{REG_BINARY, {1, 0, 0, 0, 0}}, false},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteServiceKey();
        if (c.keyExists) CreateServiceKey();
        if (c.stored) StoreFlag(*c.stored);
        EXPECT_EQ(Get(), c.expected);
        EXPECT_EQ(ReadFlag(), c.stored) << "a read must not change the store";
    }
    EXPECT_EQ(platform::RegistryOpenHandleCount(), 0u) << "every key the reads opened is closed";
}

struct WriteCase {
    const char* name;
    bool keyExists;
    std::optional<StoredValue> before;
    boolean argument;
    bool expectedResult;
    std::optional<StoredValue> after;
    bool raisedWith;
    bool readsAs;
};

TEST_F(FlagWriteTest, WriteStoresADwordAndRaisesWhateverItReported) {
    const WriteCase cases[] = {
        // The key is the connection service's: it is never created.
        {"key missing, set true", false, std::nullopt, 1, false, std::nullopt, true, false},
        {"key missing, set false", false, std::nullopt, 0, false, std::nullopt, false, false},
        {"value missing, set false", true, std::nullopt, 0, true, Dword(0), false, false},
        {"value missing, set true", true, std::nullopt, 1, true, Dword(1), true, true},
        {"REG_DWORD 1, set false", true, Dword(1), 0, true, Dword(0), false, false},
        {"REG_SZ \"1\" replaced by REG_DWORD", true, StoredValue{REG_SZ, {0x31, 0, 0, 0}}, 1, true, Dword(1), true,
         true},
        {"eight bytes replaced by four", true, StoredValue{REG_QWORD, {9, 9, 9, 9, 9, 9, 9, 9}}, 0, true, Dword(0),
         false, false},
        // Any non-zero byte at the boundary is true.
        {"argument byte 2", true, std::nullopt, 2, true, Dword(1), true, true},
    };
    auto handler = TestHandler::Make(1, log_);
    Add(handler.get());
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteServiceKey();
        if (c.keyExists) CreateServiceKey();
        if (c.before) StoreFlag(*c.before);
        boolean result = 7;
        EXPECT_EQ(Set(c.argument, &result), S_OK);
        EXPECT_EQ(result, c.expectedResult ? 1 : 0);
        EXPECT_EQ(ReadFlag(), c.after);
        EXPECT_EQ(ServiceKeyExists(), c.keyExists);
        EXPECT_EQ(log_.Take(), (std::vector<Call>{{1, c.raisedWith}}));
        EXPECT_EQ(Get(), c.readsAs);
    }
    EXPECT_EQ(platform::RegistryOpenHandleCount(), 0u);
}

TEST_F(FlagWriteTest, WithoutHandlersTheWriteStillHappens) {
    CreateServiceKey();
    EXPECT_TRUE(SetOk(true));
    EXPECT_EQ(ReadFlag(), Dword(1));
    EXPECT_TRUE(SetOk(false));
    EXPECT_EQ(ReadFlag(), Dword(0));
}

// Runs `body` in a child process and gives its exit code (-1 when it did not
// exit normally). The child inherits the loaded component and its handlers.
template <typename Body>
int ExitCodeOfChild(Body body) {
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(FlagReadTest, AnotherProcessChangesTheStoreAndNothingIsRaisedHere) {
    CreateServiceKey();
    ASSERT_TRUE(SetOk(false));
    auto handler = TestHandler::Make(1, log_);
    Add(handler.get());
    log_.Take();
    // The other writer goes to the store directly, as the connection service would.
    int code = ExitCodeOfChild([] {
        platform::UniqueHkey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM\\MORVALA\\MorCgSvc", 0, KEY_SET_VALUE, key.put()) != 0)
            return 2;
        const BYTE one[4] = {1, 0, 0, 0};
        return RegSetValueExW(key.get(), u"DisconnectionLoggingNeeded", 0, REG_DWORD, one, 4) == 0 ? 0 : 3;
    });
    ASSERT_EQ(code, 0);
    EXPECT_TRUE(Get()) << "every read goes to the store";
    EXPECT_TRUE(log_.Take().empty()) << "the component does not watch the store";
}

TEST_F(FlagWriteTest, RefusedWriteReportsFalseAndStillRaises) {
    StoreFlag(Dword(1));
    auto handler = TestHandler::Make(1, log_);
    Add(handler.get());
    // The device root becomes readable by others; the child, dropped to
    // nobody, may read the store but not write it.
    ASSERT_EQ(chmod(root().Path().c_str(), 0755), 0);
    int code = ExitCodeOfChild([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0) return 10;
        boolean result = 7;
        if (statics_->SetDisconnectionLoggingNeeded(0, &result) != S_OK) return 11;
        if (result != 0) return 12;
        if (log_.Take() != std::vector<Call>{{1, false}}) return 13;  // raised with the caller's value
        boolean read = 0;
        if (statics_->GetDisconnectionLoggingNeeded(&read) != S_OK || read != 1) return 14;  // unchanged
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFlag(), Dword(1));
}

}  // namespace
}  // namespace logging_flag_test
