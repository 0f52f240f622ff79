// The built component, reached the way an application reaches it: through
// the loader, with a manifest that names the library for its three classes.
// The library stays loaded across the tests of one process (the loader keeps
// it until it is unloaded), so tests that need a fresh module state unload it
// first or run in a child process.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/activation.h"
#include "platform/comptr.h"
#include "support/device_root.h"
#include "support/hstring.h"

namespace morvala::test {

// Path of the built libMorvalaFrameworkUiWinPRT.so.
const char* ComponentPath();

// A manifest file in `folder` that names the built component for its three
// classes, set as MORVALA_MANIFEST while the object lives.
class ComponentManifest {
public:
    explicit ComponentManifest(const std::string& folder);
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::optional<ScopedEnvironment> variable_;
};

// RoGetActivationFactory for a class name given as text.
HRESULT GetFactory(std::u16string_view className, REFIID iid, void** factory);

// The factory of className queried for Interface; null (and a test failure)
// when the loader answers a failure.
template <typename Interface>
platform::ComPtr<Interface> GetFactory(std::u16string_view className) {
    platform::ComPtr<Interface> factory;
    HRESULT hr = GetFactory(className, IidOf<Interface>(), factory.put_void());
    EXPECT_EQ(hr, S_OK) << "RoGetActivationFactory";
    return factory;
}

// The component's DllCanUnloadNow answer (S_OK or S_FALSE), through the
// loader; HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when it is not loaded.
HRESULT ComponentCanUnloadNow();

// Fixture: a fresh device root with the component's manifest in it.
class ComponentTest : public DeviceRootTest {
protected:
    ComponentManifest manifest_{root().Path()};
};

}  // namespace morvala::test
