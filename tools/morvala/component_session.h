// The component, reached as an application reaches it: through the loader,
// by class name, then by vtable calls on the factories and instances.
#pragma once

#include <string>
#include <string_view>

#include "MorvalaFrameworkUiWinPRT.h"
#include "context.h"
#include "platform/collections.h"
#include "platform/comptr.h"
#include "platform/winstring.h"

namespace morvala::cli {

namespace abi = MorvalaFrameworkUiWinPRT;

// A new String holding `text`; throws CommandFailure when it cannot be made.
platform::UniqueHString MakeHString(std::u16string_view text);

// All units of a String (empty for null).
std::u16string ToU16(HSTRING string);

// The folder of the running program, without a trailing slash.
std::string ProgramFolder();

// Finds and registers the component once, then hands out its factories.
// Where the component comes from, in order: --library; else the manifest
// named by MORVALA_MANIFEST (the loader reads it); else
// <program folder>/../lib/libMorvalaFrameworkUiWinPRT.so. The factories live
// as long as the session.
class ComponentSession {
public:
    explicit ComponentSession(const GlobalOptions& options) : options_(options) {}

    // The factories; throw CommandFailure(kExitEnvironment) when the
    // component cannot be found or loaded.
    abi::__IRegistryManagerStatics& Registry();
    abi::__IUtilsStatics& Utils();
    // A new RpcWrapper instance (ActivateInstance on its factory).
    platform::ComPtr<abi::__IRpcWrapperPublicNonVirtuals> NewRpcWrapper();

    // Where the classes were registered from ("manifest ..." or the library path).
    std::string Source();

private:
    void Register();
    template <typename Interface>
    void Load(const char16_t* className, platform::ComPtr<Interface>& slot);

    GlobalOptions options_;
    bool registered_ = false;
    std::string source_;
    platform::ComPtr<abi::__IRegistryManagerStatics> registry_;
    platform::ComPtr<abi::__IUtilsStatics> utils_;
    platform::ComPtr<IActivationFactory> rpcWrapperFactory_;
};

// The entries of a map result as (name, text) pairs in the map's order.
std::vector<std::pair<std::u16string, std::u16string>> MapEntries(IMap_String_String* map);

// The items of a vector result in order.
std::vector<std::u16string> VectorItems(IVector_String* vector);

}  // namespace morvala::cli
