// A store that refuses writes: the setters write nothing and still answer
// S_OK; the readers still read. The refusal comes from running the members
// in a forked child that has dropped to the unprivileged user 65534 over a
// store that root owns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "members_fixture.h"

namespace members_test {
namespace {

class ReadOnlyStoreTest : public MembersTest {
protected:
    // Runs body in a child as user 65534 and expects it to pass every check.
    template <typename Body>
    void RunAsNobody(Body body) {
        ASSERT_EQ(::chmod(root().Path().c_str(), 0755), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            body();
            ::_exit(::testing::Test::HasFailure() ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "the child ended abnormally, status " << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a check failed in the child (see its output); 2: could not drop to 65534";
    }

    void Populate() {
        Put(std::u16string(kDevices) + u"Phone", u"Name", REG_SZ, Utf16(u"My phone", true));
        Put(kAccessories, u"Version", REG_SZ, Utf16(u"1.0", false));
        Put(kBrightness, u"Level", REG_DWORD, Dword(5));
    }

    void ExpectUnchanged() {
        EXPECT_EQ(DeviceIds(), std::vector<std::u16string>{u"Phone"});
        EXPECT_EQ(DeviceValues(u"Phone"), (Pairs{{u"Name", u"My phone"}}));
        EXPECT_EQ(RegistryValue(kAccessories, u"Version"), (Read{1, u"1.0"}));
        EXPECT_EQ(RegistryValue(kBrightness, u"Level"), (Read{1, std::u16string{u'\x0005', u'\0'}}));
        EXPECT_FALSE(KeyExists(std::u16string(kDevices) + u"Tablet"));
    }
};

TEST_F(ReadOnlyStoreTest, SettersWriteNothingAndReadersStillRead) {
    Populate();
    RunAsNobody([&] {
        SetDeviceValue(u"Phone", u"Name", u"changed");
        SetDeviceValue(u"Tablet", u"Name", u"new device");
        SetVersion(u"2.0");
        SetBrightness(u"Level", u"9");
        SetBrightness(u"Other", u"9");
        DeleteDevice(u"Phone");
        // Everything above answered S_OK (checked by the helpers) and changed nothing.
        ExpectUnchanged();
        EXPECT_TRUE(DeviceExists(u"Phone"));
    });
    ExpectUnchanged();
}

TEST_F(ReadOnlyStoreTest, SettersOnAStoreWithoutTheirKeysCreateNothing) {
    Put(u"Software\\Other", u"v", REG_SZ, Utf16(u"x", true));  // the store exists, the settings keys do not
    RunAsNobody([&] {
        SetDeviceValue(u"Phone", u"Name", u"x");
        SetVersion(u"2.0");
        SetBrightness(u"Level", u"9");
        EXPECT_EQ(DeviceIds(), std::vector<std::u16string>{});
        EXPECT_EQ(RegistryValue(u"Software\\Other", u"v"), (Read{1, std::u16string(u"x\0", 2)}));
    });
    EXPECT_FALSE(KeyExists(u"Software\\OEM"));
}

}  // namespace
}  // namespace members_test
