#include "component_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/activation.h"
#include "status_names.h"
#include "unicode.h"

namespace morvala::cli {
namespace {

const char* const kClassNames[] = {"MorvalaFrameworkUiWinPRT.RegistryManager", "MorvalaFrameworkUiWinPRT.RpcWrapper",
                                   "MorvalaFrameworkUiWinPRT.WinPRTUtils.Utils"};

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

platform::UniqueHString MakeHString(std::u16string_view text) {
    platform::UniqueHString string;
    HRESULT hr = WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), string.put());
    if (FAILED(hr)) throw CommandFailure(kExitFailed, "WindowsCreateString answered " + DescribeStatus(hr), hr);
    return string;
}

std::u16string ToU16(HSTRING string) {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(string, &length);
    return std::u16string(units, length);
}

std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string program(path, static_cast<size_t>(length));
    return program.substr(0, program.rfind('/'));
}

void ComponentSession::Register() {
    if (registered_) return;
    registered_ = true;
    std::string library = options_.library;
    const char* manifest = std::getenv("MORVALA_MANIFEST");
    if (library.empty() && manifest != nullptr && *manifest != '\0') {
        source_ = std::string("manifest ") + manifest;
        return;
    }
    if (library.empty()) library = ProgramFolder() + "/../lib/libMorvalaFrameworkUiWinPRT.so";
    if (!FileExists(library)) {
        throw CommandFailure(kExitEnvironment, "cannot find the component at " + library +
                                                   " (give --library PATH or set MORVALA_MANIFEST)");
    }
    char resolved[PATH_MAX];
    if (realpath(library.c_str(), resolved) != nullptr) library = resolved;
    for (const char* className : kClassNames) {
        HRESULT hr = RoRegisterActivatableClass(className, library.c_str());
        if (FAILED(hr)) throw CommandFailure(kExitEnvironment, "RoRegisterActivatableClass answered " + DescribeStatus(hr), hr);
    }
    source_ = library;
}

std::string ComponentSession::Source() {
    Register();
    return source_;
}

template <typename Interface>
void ComponentSession::Load(const char16_t* className, platform::ComPtr<Interface>& slot) {
    if (slot) return;
    Register();
    platform::UniqueHString name = MakeHString(className);
    HRESULT hr = RoGetActivationFactory(name.get(), Interface::IID_, slot.put_void());
    if (FAILED(hr)) {
        throw CommandFailure(kExitEnvironment,
                             "cannot load " + Utf16ToUtf8(className) + " from " + source_ + ": " + DescribeStatus(hr), hr);
    }
}

abi::__IRegistryManagerStatics& ComponentSession::Registry() {
    Load(abi::RuntimeClass_RegistryManager, registry_);
    return *registry_.get();
}

abi::__IUtilsStatics& ComponentSession::Utils() {
    Load(abi::RuntimeClass_Utils, utils_);
    return *utils_.get();
}

platform::ComPtr<abi::__IRpcWrapperPublicNonVirtuals> ComponentSession::NewRpcWrapper() {
    Load(abi::RuntimeClass_RpcWrapper, rpcWrapperFactory_);
    platform::ComPtr<IInspectable> instance;
    CheckMember(rpcWrapperFactory_->ActivateInstance(instance.put()), "RpcWrapper ActivateInstance");
    platform::ComPtr<abi::__IRpcWrapperPublicNonVirtuals> wrapper;
    CheckMember(instance->QueryInterface(abi::__IRpcWrapperPublicNonVirtuals::IID_, wrapper.put_void()),
                "RpcWrapper QueryInterface");
    return wrapper;
}

std::vector<std::pair<std::u16string, std::u16string>> MapEntries(IMap_String_String* map) {
    std::vector<std::pair<std::u16string, std::u16string>> entries;
    platform::ComPtr<IIterable_KeyValuePair_String_String> iterable;
    CheckMember(map->QueryInterface(IIterable_KeyValuePair_String_String::IID_, iterable.put_void()),
                "map QueryInterface(IIterable)");
    platform::ComPtr<IIterator_KeyValuePair_String_String> iterator;
    CheckMember(iterable->First(iterator.put()), "map First");
    boolean hasCurrent = 0;
    CheckMember(iterator->get_HasCurrent(&hasCurrent), "map iterator HasCurrent");
    while (hasCurrent) {
        platform::ComPtr<IKeyValuePair_String_String> pair;
        CheckMember(iterator->get_Current(pair.put()), "map iterator Current");
        platform::UniqueHString key;
        platform::UniqueHString value;
        CheckMember(pair->get_Key(key.put()), "pair Key");
        CheckMember(pair->get_Value(value.put()), "pair Value");
        entries.emplace_back(ToU16(key.get()), ToU16(value.get()));
        CheckMember(iterator->MoveNext(&hasCurrent), "map iterator MoveNext");
    }
    return entries;
}

std::vector<std::u16string> VectorItems(IVector_String* vector) {
    std::vector<std::u16string> items;
    UINT32 size = 0;
    CheckMember(vector->get_Size(&size), "vector Size");
    for (UINT32 i = 0; i < size; ++i) {
        platform::UniqueHString item;
        CheckMember(vector->GetAt(i, item.put()), "vector GetAt");
        items.push_back(ToU16(item.get()));
    }
    return items;
}

}  // namespace morvala::cli
