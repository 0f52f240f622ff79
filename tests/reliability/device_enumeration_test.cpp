// A finding of the soak: DeviceExists and GetDeviceIds enumerate the devices
// key by index, so a device deleted or added ahead of another one while the
// enumeration runs shifted the indexes and the other device could be missed
// (DeviceExists answered false for a device that existed all along) or
// listed twice. Here one thread adds and deletes devices that sort before
// "Stays" while another asks about "Stays" again and again.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "MorvalaFrameworkUiWinPRT.h"
#include "campaign.h"
#include "platform/collections.h"
#include "support/component_loader.h"

namespace {

namespace abi = MorvalaFrameworkUiWinPRT;
using morvala::test::MakeHString;
using morvala::test::ToU16;

class DeviceEnumerationTest : public morvala::test::ComponentTest {
protected:
    void SetUp() override {
        statics_ = morvala::test::GetFactory<abi::__IRegistryManagerStatics>(abi::RuntimeClass_RegistryManager);
        ASSERT_TRUE(statics_);
    }
    void Set(const std::u16string& device) {
        platform::UniqueHString id = MakeHString(device), name = MakeHString(u"v"), value = MakeHString(u"1");
        ASSERT_EQ(statics_->SetDeviceValue(id.get(), name.get(), value.get()), S_OK);
    }
    platform::ComPtr<abi::__IRegistryManagerStatics> statics_;
};

TEST_F(DeviceEnumerationTest, DeviceIsFoundAndListedOnceWhileOthersComeAndGo) {
    for (const char16_t* id : {u"A0", u"A1", u"A2", u"A3", u"Stays", u"Z0", u"Z1"}) Set(id);
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        for (int k = 0; !stop.load(); ++k) {
            platform::UniqueHString id = MakeHString(u"A" + std::u16string(1, char16_t(u'0' + k % 4)));
            if (k % 8 < 4) {
                EXPECT_EQ(statics_->DeleteDevice(id.get()), S_OK);
            } else {
                platform::UniqueHString name = MakeHString(u"v"), value = MakeHString(u"1");
                EXPECT_EQ(statics_->SetDeviceValue(id.get(), name.get(), value.get()), S_OK);
            }
        }
    });
    platform::UniqueHString stays = MakeHString(u"Stays");
    int missed = 0, listedWrong = 0, asked = 0;
    const auto until = std::chrono::steady_clock::now() + reliability::ScaledSeconds(3, 30);
    while (std::chrono::steady_clock::now() < until) {
        boolean exists = 0;
        ASSERT_EQ(statics_->DeviceExists(stays.get(), &exists), S_OK);
        missed += exists == 1 ? 0 : 1;
        platform::ComPtr<IVector_String> ids;
        ASSERT_EQ(statics_->GetDeviceIds(ids.put()), S_OK);
        UINT32 size = 0, found = 0;
        ids->get_Size(&size);
        for (UINT32 i = 0; i < size; ++i) {
            platform::UniqueHString item;
            ids->GetAt(i, item.put());
            found += ToU16(item.get()) == u"Stays" ? 1 : 0;
        }
        listedWrong += found == 1 ? 0 : 1;
        ++asked;
    }
    stop = true;
    churn.join();
    EXPECT_EQ(missed, 0) << "DeviceExists missed a device that existed throughout, in " << asked << " asks";
    EXPECT_EQ(listedWrong, 0) << "GetDeviceIds listed it other than once, in " << asked << " lists";
}

}  // namespace
