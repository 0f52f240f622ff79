#include "rpc_wrapper_fixture.h"

#include <dirent.h>

#include <thread>

#include "platform/registry.h"
#include "platform/text.h"
#include "support/hstring.h"

namespace morvala::test {

void RpcWrapperTest::SetUp() {
    auto factory = GetFactory<IActivationFactory>(MorvalaFrameworkUiWinPRT::RuntimeClass_RpcWrapper);
    ASSERT_TRUE(factory);
    platform::ComPtr<IInspectable> instance;
    ASSERT_EQ(factory->ActivateInstance(instance.put()), S_OK);
    ASSERT_EQ(instance.As(rpc_), S_OK);
}

HRESULT RpcWrapperTest::SendConnectionServiceText(std::u16string_view text) {
    return rpc_->SendConnectionServiceText(MakeHString(text).get());
}

Outcome<bool> RpcWrapperTest::GetAccessoryServiceFlag() {
    boolean result = 2;
    HRESULT hr = rpc_->GetAccessoryServiceFlag(&result);
    EXPECT_LE(result, 1) << "a Boolean travels as 0 or 1";
    return {hr, result != 0};
}

Outcome<bool> RpcWrapperTest::SendAccessoryServiceTexts(std::u16string_view first, std::u16string_view second,
                                                        std::u16string_view third) {
    boolean result = 2;
    HRESULT hr = rpc_->SendAccessoryServiceTexts(MakeHString(first).get(), MakeHString(second).get(),
                                                 MakeHString(third).get(), &result);
    EXPECT_LE(result, 1) << "a Boolean travels as 0 or 1";
    return {hr, result != 0};
}

HRESULT RpcWrapperTest::SendConnectionServiceNonEmptyText(std::u16string_view text) {
    return rpc_->SendConnectionServiceNonEmptyText(MakeHString(text).get());
}

Outcome<bool> RpcWrapperTest::CheckConnectionServiceText(std::u16string_view text) {
    boolean result = 2;
    HRESULT hr = rpc_->CheckConnectionServiceText(MakeHString(text).get(), &result);
    EXPECT_LE(result, 1) << "a Boolean travels as 0 or 1";
    return {hr, result != 0};
}

namespace {

// Calls a String-returning member with a non-null junk handle in the
// out-parameter (the boundary must overwrite it) and takes the result.
template <typename Member>
Outcome<std::u16string> TakeString(Member member) {
    HSTRING result = reinterpret_cast<HSTRING>(static_cast<uintptr_t>(0x1));
    HRESULT hr = member(&result);
    if (FAILED(hr)) {
        EXPECT_EQ(result, nullptr) << "a failed member leaves its result null";
        return {hr, u""};
    }
    std::u16string text = ToU16(result);
    WindowsDeleteString(result);
    return {hr, text};
}

}  // namespace

Outcome<std::u16string> RpcWrapperTest::GetConnectionServiceText() {
    return TakeString([&](HSTRING* result) { return rpc_->GetConnectionServiceText(result); });
}

Outcome<std::u16string> RpcWrapperTest::GetAccessoryServiceText() {
    return TakeString([&](HSTRING* result) { return rpc_->GetAccessoryServiceText(result); });
}

void RpcWrapperTest::StartService() { ASSERT_EQ(service_.Start(), RPC_S_OK); }

void RpcWrapperTest::SetAnsiCodePage(std::u16string_view codePage) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0, nullptr,
                              0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::u16string data(codePage);
    LONG status = RegSetValueExW(key, u"ACP", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS);
}

size_t OpenFdCount() {
    size_t count = 0;
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(fds)) {
            if (entry->d_name[0] != '.') ++count;
        }
        closedir(fds);
        --count;  // the descriptor of the listing itself
    }
    return count;
}

size_t FdsWithRegistryStoreOpen() {
    GetACP();
    return OpenFdCount();
}

size_t WaitForOpenFds(size_t expected, std::chrono::milliseconds patience) {
    auto deadline = std::chrono::steady_clock::now() + patience;
    size_t count = OpenFdCount();
    while (count > expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        count = OpenFdCount();
    }
    return count;
}

}  // namespace morvala::test
