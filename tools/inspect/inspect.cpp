// morvala-inspect [library]
//
// Loads libMorvalaFrameworkUiWinPRT.so through the loader, as an application
// does, activates its three classes and prints, for each factory and each
// instance, its runtime class name, interface list and trust level, and the
// library's unload answer before loading, while the objects are held and
// after they are released. The classes are registered with the loader for
// the given library, or for the one built with this tool.
//
// Exit codes: 0 when everything answered as expected, 1 when a call failed,
// 2 for bad usage.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/activation.h"
#include "platform/combase.h"
#include "platform/comptr.h"
#include "platform/winstring.h"

namespace {

namespace abi = MorvalaFrameworkUiWinPRT;

const char* const kClasses[] = {"MorvalaFrameworkUiWinPRT.RegistryManager", "MorvalaFrameworkUiWinPRT.RpcWrapper",
                                "MorvalaFrameworkUiWinPRT.WinPRTUtils.Utils"};

struct KnownInterface {
    IID iid;
    const char* name;
};

const KnownInterface kKnown[] = {
    {abi::__IRegistryManagerStatics::IID_, "__IRegistryManagerStatics"},
    {abi::__IRegistryManagerPublicNonVirtuals::IID_, "__IRegistryManagerPublicNonVirtuals"},
    {abi::__IRpcWrapperPublicNonVirtuals::IID_, "__IRpcWrapperPublicNonVirtuals"},
    {abi::__IUtilsStatics::IID_, "__IUtilsStatics"},
    {abi::__IUtilsPublicNonVirtuals::IID_, "__IUtilsPublicNonVirtuals"},
    {IActivationFactory::IID_, "IActivationFactory"},
    {IWeakReferenceSource::IID_, "IWeakReferenceSource"},
};

std::string Status(HRESULT hr) {
    if (hr == S_OK) return "S_OK";
    if (hr == S_FALSE) return "S_FALSE";
    if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)) return "not loaded";
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string IidText(const IID& iid) {
    for (const KnownInterface& known : kKnown) {
        if (known.iid == iid) return known.name;
    }
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", iid.Data1, iid.Data2,
                  iid.Data3, iid.Data4[0], iid.Data4[1], iid.Data4[2], iid.Data4[3], iid.Data4[4], iid.Data4[5],
                  iid.Data4[6], iid.Data4[7]);
    return text;
}

std::string Utf8(HSTRING string) {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(string, &length);
    std::string out;
    for (UINT32 i = 0; i < length; ++i) out += units[i] < 0x80 ? static_cast<char>(units[i]) : '?';
    return out;
}

// Prints one object's face; false when one of its calls failed.
bool Describe(const char* role, IInspectable* object) {
    HSTRING name = nullptr;
    HRESULT nameStatus = object->GetRuntimeClassName(&name);
    ULONG count = 0;
    IID* iids = nullptr;
    HRESULT iidsStatus = object->GetIids(&count, &iids);
    TrustLevel trust = BaseTrust;
    HRESULT trustStatus = object->GetTrustLevel(&trust);

    std::printf("  %s\n    runtime class name: %s\n    interfaces:", role,
                SUCCEEDED(nameStatus) ? Utf8(name).c_str() : Status(nameStatus).c_str());
    for (ULONG i = 0; i < count; ++i) std::printf("%s %s", i == 0 ? "" : ",", IidText(iids[i]).c_str());
    if (FAILED(iidsStatus)) std::printf(" (%s)", Status(iidsStatus).c_str());
    std::printf("\n    trust level: %s\n", SUCCEEDED(trustStatus) ? std::to_string(trust).c_str()
                                                                  : Status(trustStatus).c_str());
    WindowsDeleteString(name);
    CoTaskMemFree(iids);
    return SUCCEEDED(nameStatus) && SUCCEEDED(iidsStatus) && SUCCEEDED(trustStatus);
}

// Prints the class's factory and instance and keeps them in `held`; false
// when a call failed.
bool InspectClass(const char* className, std::vector<platform::ComPtr<IInspectable>>& held) {
    std::printf("%s\n", className);
    std::u16string name(className, className + std::char_traits<char>::length(className));
    platform::UniqueHString classId;
    HRESULT hr = WindowsCreateString(name.data(), static_cast<UINT32>(name.size()), classId.put());
    platform::ComPtr<IActivationFactory> factory;
    if (SUCCEEDED(hr)) hr = RoGetActivationFactory(classId.get(), IActivationFactory::IID_, factory.put_void());
    if (FAILED(hr)) {
        std::printf("  factory: %s\n", Status(hr).c_str());
        return false;
    }
    bool ok = Describe("factory", factory.get());
    platform::ComPtr<IInspectable> instance;
    hr = factory->ActivateInstance(instance.put());
    held.push_back(platform::ComPtr<IInspectable>::Copy(factory.get()));
    if (FAILED(hr)) {
        std::printf("  instance: activation answers %s\n", Status(hr).c_str());
        return ok;
    }
    ok = Describe("instance", instance.get()) && ok;
    held.push_back(std::move(instance));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: morvala-inspect [library]\n");
        return 2;
    }
    const char* library = argc == 2 ? argv[1] : MORVALA_DEFAULT_COMPONENT;
    for (const char* className : kClasses) RoRegisterActivatableClass(className, library);
    std::printf("library: %s\n", library);
    std::printf("DllCanUnloadNow before loading: %s\n", Status(RoQueryLibraryCanUnloadNow(library)).c_str());

    bool ok = true;
    std::vector<platform::ComPtr<IInspectable>> held;
    for (const char* className : kClasses) {
        if (!InspectClass(className, held)) ok = false;
    }
    std::printf("DllCanUnloadNow while held: %s\n", Status(RoQueryLibraryCanUnloadNow(library)).c_str());
    held.clear();
    std::printf("DllCanUnloadNow after release: %s\n", Status(RoQueryLibraryCanUnloadNow(library)).c_str());
    return ok ? 0 : 1;
}
