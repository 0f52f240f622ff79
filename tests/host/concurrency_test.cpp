// Many threads activating, querying and releasing at once; afterwards no
// object of the component is alive. Meant to run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/combase.h"
#include "support/component_loader.h"

namespace {

namespace abi = MorvalaFrameworkUiWinPRT;
using morvala::test::ComponentCanUnloadNow;
using morvala::test::GetFactory;

// One round of an application thread's work with one class; counts failures.
void Round(std::u16string_view className, bool activatable, std::atomic<int>& failures) {
    platform::ComPtr<IActivationFactory> factory;
    if (GetFactory(className, IActivationFactory::IID_, factory.put_void()) != S_OK) {
        ++failures;
        return;
    }
    ULONG count = 0;
    IID* iids = nullptr;
    if (factory->GetIids(&count, &iids) != S_OK) ++failures;
    CoTaskMemFree(iids);
    platform::ComPtr<IInspectable> instance;
    if (factory->ActivateInstance(instance.put()) != (activatable ? S_OK : E_NOTIMPL)) ++failures;
    if (!instance) return;
    platform::ComPtr<IWeakReferenceSource> source;
    platform::ComPtr<IWeakReference> weak;
    if (instance.As(source) != S_OK || source->GetWeakReference(weak.put()) != S_OK) {
        ++failures;
        return;
    }
    HSTRING name = nullptr;
    if (instance->GetRuntimeClassName(&name) != S_OK) ++failures;
    WindowsDeleteString(name);
    instance.reset();
    source.reset();
    platform::ComPtr<IInspectable> resolved;
    if (weak->Resolve(IInspectable::IID_, resolved.put()) != S_OK || resolved) ++failures;
}

class ComponentConcurrencyTest : public morvala::test::ComponentTest {};

TEST_F(ComponentConcurrencyTest, ManyThreadsLeaveNoLiveObject) {
    const std::u16string_view classes[] = {abi::RuntimeClass_RegistryManager, abi::RuntimeClass_RpcWrapper,
                                           abi::RuntimeClass_Utils};
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                size_t which = static_cast<size_t>(t + i) % 3;
                Round(classes[which], which != 0, failures);
            }
        });
    }
    // The unload check drops idle cached factories while others take them.
    std::thread checker([&] {
        while (!done.load()) ComponentCanUnloadNow();
    });
    for (auto& thread : threads) thread.join();
    done = true;
    checker.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(ComponentCanUnloadNow(), S_OK);
}

}  // namespace
