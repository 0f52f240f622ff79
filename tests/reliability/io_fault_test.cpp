// I/O errors at every write point: a fault-injecting VFS under the registry
// store fails the Nth write, sync or truncate of a fixed sequence of
// operations (store creation, keys, small and multi-page values, members,
// deletes, a flush), once or from then on, for every N the sequence reaches.
// After each run: the database is sound, a Reg* call either succeeded and its
// change is there or failed with a registry error and changed nothing, a
// member returned S_OK with its value whole or absent, and the same
// operations succeed as soon as the faults stop.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MorvalaFrameworkUiWinPRT.h"
#include "campaign.h"
#include "fault_vfs.h"
#include "platform/collections.h"
#include "platform/registry.h"
#include "support/component_loader.h"

namespace {

namespace abi = MorvalaFrameworkUiWinPRT;
using morvala::test::MakeHString;
using morvala::test::ToU16;
using platform::UniqueHkey;
using reliability::FaultKind;
using reliability::FaultMode;
using reliability::FaultVfs;

constexpr char16_t kDevices[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\Devices\\";
constexpr char16_t kAccessories[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories";
constexpr size_t kBigValue = 20 * 1024;  // several pages

std::vector<BYTE> Pattern(size_t size, int seed) {
    std::vector<BYTE> bytes(size);
    for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<BYTE>(k * 31 + seed);
    return bytes;
}

// A value's bytes; false when it is missing.
bool Value(const std::u16string& path, const char16_t* name, std::vector<BYTE>& data) {
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, 0);
    if (RegQueryValueExW(key.get(), name, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS) return false;
    data.resize(size);
    return true;
}

bool KeyExists(const std::u16string& path) {
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::vector<BYTE> Utf16(const std::u16string& text, bool terminator) {
    std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(text.data()),
                            reinterpret_cast<const BYTE*>(text.data() + text.size()));
    if (terminator) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// What the Reg* calls of one run answered, in order.
struct Results {
    LONG createA = -1, small = -1, big = -1, createB = -1, deleteSmall = -1, deleteB = -1, flush = -1;
    HRESULT setDevice = -1, setVersion = -1;
};

class IoFaultCampaign : public morvala::test::ComponentTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(FaultVfs::Install());
        statics_ = morvala::test::GetFactory<abi::__IRegistryManagerStatics>(abi::RuntimeClass_RegistryManager);
        ASSERT_TRUE(statics_);
    }
    void TearDown() override { FaultVfs::Disarm(); }

    // A new device root (so that the run creates its store too), current
    // until the next one.
    void FreshRoot(const std::string& name) {
        current_.reset();
        path_ = root().Path() + "/" + name;
        std::filesystem::create_directory(path_);
        current_.emplace("MORVALA_ROOT", path_.c_str());
    }

    // The operations every run makes, in order.
    Results Run(const std::u16string& tag) {
        Results r;
        UniqueHkey a, b;
        const std::u16string base = u"Faults\\" + tag;
        r.createA = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (base + u"\\A").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, a.put(), nullptr);
        const DWORD number = 0x5A5A0000u + static_cast<DWORD>(tag.size());
        if (a) {
            r.small = RegSetValueExW(a.get(), u"small", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
            std::vector<BYTE> big = Pattern(kBigValue, static_cast<int>(tag.size()));
            r.big = RegSetValueExW(a.get(), u"big", 0, REG_BINARY, big.data(), static_cast<DWORD>(big.size()));
        }
        platform::UniqueHString device = MakeHString(u"Dev" + tag), name = MakeHString(u"name"),
                                text = MakeHString(u"value of " + tag), version = MakeHString(u"v-" + tag);
        r.setDevice = statics_->SetDeviceValue(device.get(), name.get(), text.get());
        r.createB = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (base + u"\\B\\C").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, b.put(), nullptr);
        if (b) RegSetValueExW(b.get(), u"x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
        r.setVersion = statics_->SetAccessoriesVersion(version.get());
        if (a) r.deleteSmall = RegDeleteValueW(a.get(), u"small");
        r.deleteB = RegDeleteTreeW(HKEY_LOCAL_MACHINE, (base + u"\\B").c_str());
        if (a) r.flush = RegFlushKey(a.get());
        return r;
    }

    // A Reg* result is success or a registry error; counts the failures.
    static void ExpectRegistryAnswer(LONG status, const char* what, uint64_t& failures) {
        if (status == -1 || status == ERROR_SUCCESS) return;
        ++failures;
        EXPECT_TRUE(status == ERROR_REGISTRY_IO_FAILED || status == ERROR_DISK_FULL)
            << what << " answered " << status << " for an I/O error";
    }

    // The store after a run with faults: every change acknowledged is there,
    // every refused one is not, the members' values are whole or absent.
    // Returns the count of broken promises; adds failures for each.
    uint64_t Verify(const std::u16string& tag, const Results& r, uint64_t& refused, uint64_t& absorbed) {
        uint64_t broken = 0;
        auto expect = [&](bool holds, const char* what) {
            if (!holds) {
                ++broken;
                ADD_FAILURE() << what;
            }
        };
        const std::u16string base = u"Faults\\" + tag;
        // A delete of what a refused write never made finds nothing.
        const LONG deleteSmall =
            r.small != ERROR_SUCCESS && r.deleteSmall == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r.deleteSmall;
        const LONG deleteB = r.createB != ERROR_SUCCESS && r.deleteB == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r.deleteB;
        for (auto [status, what] : {std::pair{r.createA, "create A"}, {r.small, "set small"}, {r.big, "set big"},
                                    {r.createB, "create B"}, {deleteSmall, "delete small"}, {deleteB, "delete B"},
                                    {r.flush, "flush"}}) {
            ExpectRegistryAnswer(status, what, refused);
        }
        expect(r.setDevice == S_OK && r.setVersion == S_OK, "a member reported the store's failure");
        expect(KeyExists(base + u"\\A") == (r.createA == ERROR_SUCCESS), "key A against its create's answer");
        std::vector<BYTE> data;
        bool smallThere = Value(base + u"\\A", u"small", data);
        bool smallExpected = r.small == ERROR_SUCCESS && r.deleteSmall != ERROR_SUCCESS;
        expect(smallThere == smallExpected, "value small against its set and delete answers");
        bool bigThere = Value(base + u"\\A", u"big", data);
        expect(bigThere == (r.big == ERROR_SUCCESS), "value big against its set's answer");
        if (bigThere) expect(data == Pattern(kBigValue, static_cast<int>(tag.size())), "value big is torn");
        bool bThere = KeyExists(base + u"\\B");
        expect(bThere == (r.createB == ERROR_SUCCESS && r.deleteB != ERROR_SUCCESS), "key B against its answers");
        if (r.deleteB == ERROR_SUCCESS) expect(!KeyExists(base + u"\\B\\C"), "a subkey outlived its tree's delete");

        bool deviceThere = Value(kDevices + (u"Dev" + tag), u"name", data);
        if (deviceThere) expect(data == Utf16(u"value of " + tag, true), "a member's value is torn");
        bool versionThere = Value(kAccessories, u"Version", data) && data == Utf16(u"v-" + tag, false);
        absorbed += !deviceThere + !versionThere;
        // A run whose first write failed may have left no store file at all.
        if (std::filesystem::exists(path_ + "/registry.db")) {
            std::string integrity = reliability::IntegrityCheck(path_ + "/registry.db");
            expect(integrity == "ok", ("integrity check: " + integrity).c_str());
        }
        return broken;
    }

    // With faults off the same operations all succeed and land.
    void ExpectRecovered(const std::u16string& tag) {
        Results r = Run(tag + u"-again");
        EXPECT_EQ(r.createA, ERROR_SUCCESS);
        EXPECT_EQ(r.small, ERROR_SUCCESS);
        EXPECT_EQ(r.big, ERROR_SUCCESS);
        EXPECT_EQ(r.createB, ERROR_SUCCESS);
        EXPECT_EQ(r.deleteSmall, ERROR_SUCCESS);
        EXPECT_EQ(r.deleteB, ERROR_SUCCESS);
        EXPECT_EQ(r.flush, ERROR_SUCCESS);
        std::vector<BYTE> data;
        EXPECT_TRUE(Value(kDevices + (u"Dev" + tag + u"-again"), u"name", data)) << "member write after the faults";
        EXPECT_EQ(reliability::IntegrityCheck(path_ + "/registry.db"), "ok");
    }

    platform::ComPtr<abi::__IRegistryManagerStatics> statics_;
    std::optional<morvala::test::ScopedEnvironment> current_;
    std::string path_;
};

TEST_F(IoFaultCampaign, EveryWriteSyncAndTruncatePointFailsSafely) {
    // How many operations of each kind a clean run makes, store creation included.
    FreshRoot("clean");
    FaultVfs::Disarm();
    Results clean = Run(u"clean");
    reliability::FaultCounts points = FaultVfs::Seen();
    ASSERT_EQ(clean.flush, ERROR_SUCCESS);
    ASSERT_GT(points.writes, 10u) << "the shim saw no writes: the store does not use the default VFS";
    ExpectRecovered(u"clean");

    uint64_t runs = 0, injected = 0, refused = 0, absorbed = 0, broken = 0;
    const std::pair<FaultKind, uint64_t> kinds[] = {
        {FaultKind::Write, points.writes}, {FaultKind::Sync, points.syncs}, {FaultKind::Truncate, points.truncates}};
    for (auto [kind, count] : kinds) {
        for (FaultMode mode : {FaultMode::Once, FaultMode::Persistent}) {
            // One past the last point as well: a run the fault never reaches.
            for (uint64_t n = 1; n <= count + 1; ++n) {
                const std::string name = "k" + std::to_string(static_cast<int>(kind)) + "m" +
                                         std::to_string(static_cast<int>(mode)) + "n" + std::to_string(n);
                SCOPED_TRACE(name);
                FreshRoot(name);
                const std::u16string tag(name.begin(), name.end());
                FaultVfs::Arm(kind, n, mode);
                Results r = Run(tag);
                injected += FaultVfs::Injected();
                FaultVfs::Disarm();
                broken += Verify(tag, r, refused, absorbed);
                ExpectRecovered(tag);
                ++runs;
                if (HasFailure()) break;
            }
        }
    }
    EXPECT_EQ(platform::RegistryOpenHandleCount(), 0u);
    EXPECT_EQ(broken, 0u);
    EXPECT_GT(refused, 0u) << "no call saw a fault; the campaign proved nothing";
    reliability::Print({"io-errors", runs, injected, broken, 0,
                        "points(write/sync/truncate)=" + std::to_string(points.writes) + "/" +
                            std::to_string(points.syncs) + "/" + std::to_string(points.truncates) +
                            " reg-calls-refused=" + std::to_string(refused) +
                            " member-writes-absorbed=" + std::to_string(absorbed)});
}

}  // namespace
