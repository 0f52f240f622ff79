// The library's three exports: the load and unload sequence (DllMain), the
// activation lookup and the unload check.
#include "boundary.h"
#include "class_table.h"
#include "exit_handlers.h"
#include "load_steps.h"
#include "module.h"
#include "platform/activation.h"

namespace {

// CLASS_E_CLASSNOTAVAILABLE: this library serves no class of that name.
constexpr HRESULT kClassNotAvailable = static_cast<HRESULT>(0x80040111);

// The activation lookup: the class's factory (cached or new), queried for
// IActivationFactory. Raises the query's failure as its error kind.
platform::ComPtr<IActivationFactory> LookUpFactory(HSTRING activatableClassId) {
    const component::ClassEntry* entry = component::FindClass(activatableClassId);
    if (entry == nullptr) throw platform::COMException(kClassNotAvailable);
    component::Module* module = component::CurrentModule();
    if (module == nullptr) throw platform::COMException(E_UNEXPECTED);  // not attached
    platform::ComPtr<IActivationFactory> factory = module->Factory(*entry);
    platform::ComPtr<IActivationFactory> answer;
    platform::ThrowIfFailed(factory.As(answer));
    return answer;
}

BOOL OnProcessAttach(HINSTANCE instance) noexcept {
    if (!component::RunLoadSteps()) return 0;
    DisableThreadLibraryCalls(instance);
    return 1;
}

}  // namespace

extern "C" {

// Load: the load steps in stage order (per-module data, module object, static
// event storage), then thread notifications off. FALSE when a step failed
// (its predecessors are torn down again). Unload and process exit: the exit
// handlers in reverse order of registration.
BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: return OnProcessAttach(instance);
        case DLL_PROCESS_DETACH: component::RunExitHandlers(); return 1;
        default: return 1;
    }
}

// S_OK with the class's factory (one reference for the caller) in *factory;
// CLASS_E_CLASSNOTAVAILABLE for a name not in the class table; E_POINTER for
// a null factory; otherwise the status of making or querying the factory.
// *factory is null on failure.
HRESULT DllGetActivationFactory(HSTRING activatableClassId, IActivationFactory** factory) {
    return component::Invoke(factory, [&] { return LookUpFactory(activatableClassId); });
}

// S_OK when no object of the component is alive (factories held only by the
// module's cache do not count: they are dropped here), S_FALSE otherwise.
HRESULT DllCanUnloadNow() {
    component::Module* module = component::CurrentModule();
    bool canUnload = module != nullptr ? module->CanUnloadNow() : component::LiveObjects().Count() == 0;
    return canUnload ? S_OK : S_FALSE;
}

}  // extern "C"
