// A library for the loader's tests. Its DllMain appends what happens to the
// file named by MORVALA_PROBE_LOG ("attach", "detach unload", "detach exit")
// and refuses to attach when MORVALA_PROBE_REFUSE is set; DllCanUnloadNow
// answers S_FALSE while MORVALA_PROBE_BUSY is set; it serves no class
// (DllGetActivationFactory answers CLASS_E_CLASSNOTAVAILABLE).
#include <cstdio>
#include <cstdlib>

#include "platform/activation.h"

namespace {

void Log(const char* event) {
    const char* path = std::getenv("MORVALA_PROBE_LOG");
    if (path == nullptr) return;
    if (std::FILE* log = std::fopen(path, "a")) {
        std::fprintf(log, "%s\n", event);
        std::fclose(log);
    }
}

}  // namespace

extern "C" {

BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        if (std::getenv("MORVALA_PROBE_REFUSE") != nullptr) {
            Log("refuse");
            return 0;
        }
        Log(DisableThreadLibraryCalls(instance) ? "attach" : "attach (instance unknown to the loader)");
    } else if (reason == DLL_PROCESS_DETACH) {
        Log(reserved != nullptr ? "detach exit" : "detach unload");
    }
    return 1;
}

HRESULT DllGetActivationFactory(HSTRING, IActivationFactory** factory) {
    *factory = nullptr;
    return static_cast<HRESULT>(0x80040111);  // CLASS_E_CLASSNOTAVAILABLE
}

HRESULT DllCanUnloadNow() { return std::getenv("MORVALA_PROBE_BUSY") != nullptr ? S_FALSE : S_OK; }

}  // extern "C"
