// Store crash campaign: writer processes killed with SIGKILL at random
// moments, round after round. Two write through the component's
// RegistryManager members (SetDeviceValue), one through the Reg* functions
// directly (new keys, an 8 KiB value spanning several pages, a counter).
// After every round: each write a writer saw acknowledged is in the store, no
// value is torn, the members read back what the store holds, and the database
// passes SQLite's integrity check.
//
// tests/registry/registry_crash_test.cpp kills Reg* writers for a few rounds;
// this campaign adds the component's members as writers and a long mode.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "MorvalaFrameworkUiWinPRT.h"
#include "campaign.h"
#include "platform/collections.h"
#include "platform/registry.h"
#include "support/component_loader.h"

namespace {

namespace abi = MorvalaFrameworkUiWinPRT;
using morvala::test::MakeHString;
using morvala::test::ToU16;
using platform::UniqueHkey;

constexpr int kMemberWriters = 2;
constexpr int kWriters = kMemberWriters + 1;  // the last one writes through Reg*
constexpr uint64_t kKeyRing = 64;             // the Reg* writer cycles through this many keys
constexpr size_t kBlobTokens = 1024;          // 8 KiB

std::u16string DeviceId(int writer) { return u"CrashDev" + std::u16string(1, char16_t(u'0' + writer)); }
constexpr char16_t kDevicesPath[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\Devices\\";
constexpr char16_t kRegWriterPath[] = u"Crash\\Reg";

std::u16string Decimal(uint64_t number) {
    std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

// The member writer's long value: the sequence number, 12 digits wide, 20 times.
std::u16string TokenText(uint64_t seq) {
    std::u16string token = Decimal(seq);
    token.insert(0, 12 - token.size(), u'0');
    std::u16string text;
    for (int k = 0; k < 20; ++k) text += token;
    return text;
}

std::vector<BYTE> TokenBlob(uint64_t seq) {
    std::vector<BYTE> blob(kBlobTokens * 8);
    for (size_t k = 0; k < kBlobTokens; ++k) std::memcpy(blob.data() + k * 8, &seq, 8);
    return blob;
}

// A REG_SZ value's text without its terminator; empty when missing.
std::u16string ReadText(const std::u16string& path, const char16_t* name) {
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
    char16_t buffer[512] = {};
    DWORD size = sizeof buffer - 2;
    if (RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != 0) return {};
    return std::u16string(buffer);
}

uint64_t ReadQword(HKEY key, const char16_t* name) {
    uint64_t value = 0;
    DWORD size = sizeof value;
    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    return value;
}

void Ack(int fd, uint64_t seq) {
    if (::write(fd, &seq, sizeof seq) != static_cast<ssize_t>(sizeof seq)) ::_exit(4);
}

// Runs in a child until killed: the long value first, then the counter, then
// the acknowledgement. Starts after what the store holds.
[[noreturn]] void MemberWriter(abi::__IRegistryManagerStatics* statics, int writer, int fd) {
    const std::u16string id = DeviceId(writer);
    std::u16string stored = ReadText(kDevicesPath + id, u"seq");
    uint64_t seq = stored.empty() ? 0 : std::stoull(std::string(stored.begin(), stored.end()));
    platform::UniqueHString device = MakeHString(id), blobName = MakeHString(u"blob"), seqName = MakeHString(u"seq");
    for (;;) {
        ++seq;
        platform::UniqueHString blob = MakeHString(TokenText(seq)), counter = MakeHString(Decimal(seq));
        if (statics->SetDeviceValue(device.get(), blobName.get(), blob.get()) != S_OK) ::_exit(3);
        if (statics->SetDeviceValue(device.get(), seqName.get(), counter.get()) != S_OK) ::_exit(3);
        Ack(fd, seq);
    }
}

// Runs in a child until killed: key K<seq % 64> made (or opened) and given
// the number, the 8 KiB blob, then the counter on the parent key.
[[noreturn]] void RegWriter(int fd) {
    UniqueHkey parent;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRegWriterPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, parent.put(),
                        nullptr) != ERROR_SUCCESS) {
        ::_exit(2);
    }
    uint64_t seq = ReadQword(parent.get(), u"seq");
    for (;;) {
        ++seq;
        UniqueHkey ring;
        std::u16string name = u"K" + Decimal(seq % kKeyRing);
        if (RegCreateKeyExW(parent.get(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, ring.put(), nullptr) !=
            ERROR_SUCCESS) {
            ::_exit(3);
        }
        std::vector<BYTE> blob = TokenBlob(seq);
        if (RegSetValueExW(ring.get(), u"v", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&seq), 8) != 0 ||
            RegSetValueExW(parent.get(), u"blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size())) != 0 ||
            RegSetValueExW(parent.get(), u"seq", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&seq), 8) != 0) {
            ::_exit(3);
        }
        Ack(fd, seq);
    }
}

struct Child {
    pid_t pid = -1;
    int fd = -1;
};

class StoreCrashCampaign : public morvala::test::ComponentTest {
protected:
    void SetUp() override {
        statics_ = morvala::test::GetFactory<abi::__IRegistryManagerStatics>(abi::RuntimeClass_RegistryManager);
        ASSERT_TRUE(statics_);
    }

    Child Spawn(int writer) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            if (writer < kMemberWriters) MemberWriter(statics_.get(), writer, fds[1]);
            RegWriter(fds[1]);
        }
        ::close(fds[1]);
        return {pid, fds[0]};
    }

    // The member writer's values as GetDeviceValues returns them.
    std::pair<std::u16string, std::u16string> MemberValues(int writer) {
        platform::ComPtr<IMap_String_String> map;
        platform::UniqueHString id = MakeHString(DeviceId(writer));
        EXPECT_EQ(statics_->GetDeviceValues(id.get(), map.put()), S_OK);
        std::u16string seq, blob;
        for (const char16_t* name : {u"seq", u"blob"}) {
            platform::UniqueHString key = MakeHString(name), value;
            boolean has = 0;
            if (map && map->HasKey(key.get(), &has) == S_OK && has && map->Lookup(key.get(), value.put()) == S_OK) {
                (name[0] == u's' ? seq : blob) = ToU16(value.get());
            }
        }
        return {seq, blob};
    }

    // Counts what is missing or torn for a member writer after a round.
    uint64_t CheckMemberWriter(int writer, uint64_t lastAck) {
        auto [seqText, blob] = MemberValues(writer);
        if (seqText.empty()) {
            if (lastAck == 0) return 0;  // killed before its first write
            ADD_FAILURE() << "counter missing after " << lastAck << " acknowledged writes";
            return 1;
        }
        uint64_t seq = std::stoull(std::string(seqText.begin(), seqText.end()));
        uint64_t lost = 0;
        if (seq < lastAck) {
            ADD_FAILURE() << "acknowledged " << lastAck << " but the store holds " << seq;
            ++lost;
        }
        if (blob != TokenText(seq) && blob != TokenText(seq + 1)) {
            ADD_FAILURE() << "the long value is neither write " << seq << " nor the next one";
            ++lost;
        }
        return lost;
    }

    uint64_t CheckRegWriter(uint64_t lastAck) {
        UniqueHkey parent;
        LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRegWriterPath, 0, KEY_READ, parent.put());
        if (status == ERROR_FILE_NOT_FOUND && lastAck == 0) return 0;
        if (status != ERROR_SUCCESS) {
            ADD_FAILURE() << "the writer's key does not open: " << status;
            return 1;
        }
        uint64_t lost = 0;
        uint64_t seq = ReadQword(parent.get(), u"seq");
        if (seq < lastAck) {
            ADD_FAILURE() << "acknowledged " << lastAck << " but the store holds " << seq;
            ++lost;
        }
        std::vector<BYTE> blob(kBlobTokens * 8 + 8);
        DWORD size = static_cast<DWORD>(blob.size());
        RegQueryValueExW(parent.get(), u"blob", nullptr, nullptr, blob.data(), &size);
        blob.resize(size);
        if (seq != 0 && blob != TokenBlob(seq) && blob != TokenBlob(seq + 1)) {
            ADD_FAILURE() << "the 8 KiB value is torn or stale at counter " << seq;
            ++lost;
        }
        // The ring key of the counter holds it (or a later write to the same key).
        if (seq != 0) {
            UniqueHkey ring;
            std::u16string name = u"K" + Decimal(seq % kKeyRing);
            uint64_t value = 0;
            if (RegOpenKeyExW(parent.get(), name.c_str(), 0, KEY_READ, ring.put()) == ERROR_SUCCESS)
                value = ReadQword(ring.get(), u"v");
            if (value < seq || value % kKeyRing != seq % kKeyRing) {
                ADD_FAILURE() << "key " << ToPrintable(name) << " holds " << value << " after counter " << seq;
                ++lost;
            }
        }
        return lost;
    }

    static std::string ToPrintable(const std::u16string& text) { return std::string(text.begin(), text.end()); }

    platform::ComPtr<abi::__IRegistryManagerStatics> statics_;
};

TEST_F(StoreCrashCampaign, AcknowledgedWritesSurviveWritersKilledAtRandomMoments) {
    const int rounds = reliability::Scaled(20, 400);
    std::mt19937 random(20240611);
    uint64_t lastAck[kWriters] = {};
    uint64_t acks = 0, lost = 0, crashes = 0;
    for (int round = 0; round < rounds; ++round) {
        std::vector<Child> children;
        for (int writer = 0; writer < kWriters; ++writer) children.push_back(Spawn(writer));
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + random() % 300));
        // Each writer at its own moment, a few milliseconds apart.
        for (const Child& child : children) {
            ::kill(child.pid, SIGKILL);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        }
        for (int writer = 0; writer < kWriters; ++writer) {
            int status = 0;
            ::waitpid(children[writer].pid, &status, 0);
            if (!(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) {
                ++crashes;
                ADD_FAILURE() << "round " << round << " writer " << writer << " ended by itself, status " << status;
            }
            uint64_t ack = 0;
            while (::read(children[writer].fd, &ack, sizeof ack) == static_cast<ssize_t>(sizeof ack)) {
                lastAck[writer] = ack;
                ++acks;
            }
            ::close(children[writer].fd);
        }
        SCOPED_TRACE(testing::Message() << "round " << round);
        for (int writer = 0; writer < kMemberWriters; ++writer) lost += CheckMemberWriter(writer, lastAck[writer]);
        lost += CheckRegWriter(lastAck[kMemberWriters]);
        std::string integrity = reliability::IntegrityCheck(root().Path() + "/registry.db");
        EXPECT_EQ(integrity, "ok");
        if (integrity != "ok") ++lost;
        if (HasFatalFailure()) break;
    }
    for (int writer = 0; writer < kWriters; ++writer) {
        EXPECT_GT(lastAck[writer], 0u) << "writer " << writer << " never got a write acknowledged";
    }
    EXPECT_EQ(lost, 0u);
    EXPECT_EQ(platform::RegistryOpenHandleCount(), 0u);
    reliability::Print({"store-crash", static_cast<uint64_t>(rounds), static_cast<uint64_t>(rounds) * kWriters, lost,
                        crashes, "acknowledged-writes=" + std::to_string(acks)});
}

}  // namespace
