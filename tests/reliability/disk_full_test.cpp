// The store on a full file system: a small tmpfs mounted by the test as the
// device root and filled with a ballast file, and a file-size limit
// (RLIMIT_FSIZE) that makes writes fail with an I/O error instead. While
// full: Reg* writes fail with their error and change nothing, the members
// return normally (a value lands whole or not at all), reads go on, and the
// database stays sound. Once space returns, writes succeed again.
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
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

constexpr char16_t kPhonePath[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\Devices\\Phone";

// Writes a value of `size` bytes named fill<index> under HKLM\Fill; the code.
LONG WriteFill(int index, size_t size) {
    UniqueHkey key;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Fill", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                  nullptr);
    if (status != ERROR_SUCCESS) return status;
    std::vector<BYTE> data(size, static_cast<BYTE>(index));
    std::string digits = std::to_string(index);
    std::u16string name = u"fill" + std::u16string(digits.begin(), digits.end());
    return RegSetValueExW(key.get(), name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

// Writes fill values until one fails (at most `limit`); the failing code, or
// ERROR_SUCCESS when none failed. `written` counts the ones that succeeded.
LONG FillUntilRefused(int& written, int limit) {
    for (int k = 0; k < limit; ++k) {
        LONG status = WriteFill(1000 + written, 16 * 1024);
        if (status != ERROR_SUCCESS) return status;
        ++written;
    }
    return ERROR_SUCCESS;
}

class FullStoreTest : public morvala::test::ComponentTest {
protected:
    void SetUp() override {
        statics_ = morvala::test::GetFactory<abi::__IRegistryManagerStatics>(abi::RuntimeClass_RegistryManager);
        ASSERT_TRUE(statics_);
    }

    void SetDevice(const std::u16string& name, const std::u16string& value) {
        platform::UniqueHString id = MakeHString(u"Phone"), n = MakeHString(name), v = MakeHString(value);
        EXPECT_EQ(statics_->SetDeviceValue(id.get(), n.get(), v.get()), S_OK) << "a setter must absorb the failure";
    }

    // The Phone device's value through GetDeviceValues; empty when absent.
    std::u16string Device(const std::u16string& name) {
        platform::ComPtr<IMap_String_String> map;
        platform::UniqueHString id = MakeHString(u"Phone"), key = MakeHString(name), value;
        EXPECT_EQ(statics_->GetDeviceValues(id.get(), map.put()), S_OK);
        boolean has = 0;
        if (!map || map->HasKey(key.get(), &has) != S_OK || !has) return {};
        EXPECT_EQ(map->Lookup(key.get(), value.put()), S_OK);
        return ToU16(value.get());
    }

    // Members while writes fail: every setter returns S_OK and each value is
    // either the one before or the one written, whole. Returns how many of
    // `tries` writes did not land.
    int MembersWhileFull(int tries) {
        int refused = 0;
        std::u16string previous = Device(u"name");
        for (int k = 0; k < tries; ++k) {
            std::u16string text = u"during-" + std::u16string(200, char16_t(u'a' + k % 26));
            SetDevice(u"name", text);
            std::u16string now = Device(u"name");
            EXPECT_TRUE(now == previous || now == text) << "a value is torn while the store is full";
            if (now != text) ++refused;
            previous = now;
        }
        platform::UniqueHString version = MakeHString(u"9.9");
        EXPECT_EQ(statics_->SetAccessoriesVersion(version.get()), S_OK);
        boolean exists = 0;
        platform::UniqueHString id = MakeHString(u"Phone");
        EXPECT_EQ(statics_->DeviceExists(id.get(), &exists), S_OK);
        EXPECT_EQ(exists, 1) << "reads go on while the store is full";
        return refused;
    }

    platform::ComPtr<abi::__IRegistryManagerStatics> statics_;
};

// A tmpfs of `size` at a new folder under the test's root; unmounted at the end.
class TmpfsMount {
public:
    explicit TmpfsMount(const std::string& path, const char* size) : path_(path) {
        ::mkdir(path_.c_str(), 0700);
        std::string options = std::string("size=") + size + ",mode=0700";
        if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) != 0) error_ = std::strerror(errno);
    }
    ~TmpfsMount() {
        if (error_.empty()) ::umount2(path_.c_str(), MNT_DETACH);
    }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string error_;
};

// Fills the file system holding `path` with one file until ENOSPC.
void WriteBallast(const std::string& path) {
    std::ofstream ballast(path, std::ios::binary);
    std::vector<char> block(4096, 'b');
    while (ballast.write(block.data(), block.size())) {}
}

TEST_F(FullStoreTest, SmallTmpfsFilledUpKeepsTheStoreSoundAndRecoversWhenSpaceReturns) {
    TmpfsMount mount(root().Path() + "/small", "1m");
    if (!mount.error().empty()) GTEST_SKIP() << "cannot mount a tmpfs here (" << mount.error() << "); needs root";
    morvala::test::ScopedEnvironment deviceRoot("MORVALA_ROOT", mount.path().c_str());

    SetDevice(u"name", u"before");
    ASSERT_EQ(Device(u"name"), u"before");
    WriteBallast(mount.path() + "/ballast");

    int written = 0;
    LONG refusal = FillUntilRefused(written, 2000);
    EXPECT_EQ(refusal, ERROR_DISK_FULL) << "after " << written << " fill values";
    uint64_t faults = refusal != ERROR_SUCCESS ? 1 : 0;
    EXPECT_EQ(WriteFill(1, 16 * 1024), ERROR_DISK_FULL) << "the file system is still full";
    ++faults;
    int refused = MembersWhileFull(20);
    EXPECT_GT(refused, 0) << "no member write met the full file system; the test proved nothing";
    faults += refused;
    EXPECT_EQ(reliability::IntegrityCheck(mount.path() + "/registry.db"), "ok");
    EXPECT_EQ(platform::RegistryOpenHandleCount(), 0u);

    ASSERT_EQ(::unlink((mount.path() + "/ballast").c_str()), 0);
    EXPECT_EQ(WriteFill(2, 16 * 1024), ERROR_SUCCESS) << "writes succeed once space returns";
    SetDevice(u"name", u"after");
    EXPECT_EQ(Device(u"name"), u"after");
    EXPECT_EQ(reliability::IntegrityCheck(mount.path() + "/registry.db"), "ok");
    reliability::Print({"disk-full-tmpfs", 1, faults, 0, 0,
                        "fill-values-before-full=" + std::to_string(written) +
                            " member-writes-refused=" + std::to_string(refused) + "/20"});
}

// Restores the process's file-size limit and SIGXFSZ disposition.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t soft) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);  // else the kernel ends the process
        rlimit limit = saved_;
        limit.rlim_cur = soft;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
};

off_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : 0;
}

TEST_F(FullStoreTest, FileSizeLimitFailsWritesAsIoErrorsAndLiftingItRecovers) {
    SetDevice(u"name", u"before");
    const std::string db = root().Path() + "/registry.db";
    int written = 0;
    LONG refusal = ERROR_SUCCESS;
    int refused = 0;
    {
        FileSizeLimit limit(std::max(FileSize(db), FileSize(db + "-wal")) + 64 * 1024);
        refusal = FillUntilRefused(written, 2000);
        refused = MembersWhileFull(20);
        EXPECT_EQ(WriteFill(1, 16 * 1024), ERROR_REGISTRY_IO_FAILED);
    }
    EXPECT_EQ(refusal, ERROR_REGISTRY_IO_FAILED) << "after " << written << " fill values";
    EXPECT_GT(refused, 0) << "no member write met the limit; the test proved nothing";
    EXPECT_EQ(reliability::IntegrityCheck(db), "ok");
    EXPECT_EQ(WriteFill(2, 16 * 1024), ERROR_SUCCESS) << "writes succeed once the limit is lifted";
    SetDevice(u"name", u"after");
    EXPECT_EQ(Device(u"name"), u"after");
    EXPECT_EQ(platform::RegistryOpenHandleCount(), 0u);
    reliability::Print({"disk-full-rlimit-fsize", 1, static_cast<uint64_t>(2 + refused), 0, 0,
                        "fill-values-before-limit=" + std::to_string(written) +
                            " member-writes-refused=" + std::to_string(refused) + "/20"});
}

}  // namespace
