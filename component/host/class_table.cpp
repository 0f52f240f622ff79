#include "class_table.h"

#include <array>
#include <string>

#include "MorvalaFrameworkUiWinPRT.h"

namespace component {
namespace {

namespace abi = MorvalaFrameworkUiWinPRT;

constexpr std::array<ClassEntry, kClassCount> kClassTable{{
    {0, abi::RuntimeClass_RegistryManager, CreateRegistryManagerFactory},
    {1, abi::RuntimeClass_RpcWrapper, CreateRpcWrapperFactory},
    {2, abi::RuntimeClass_Utils, CreateUtilsFactory},
}};

}  // namespace

const ClassEntry* FindClass(HSTRING name) noexcept {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(name, &length);
    std::u16string_view requested(units, length);
    for (const ClassEntry& entry : kClassTable) {
        if (requested == std::u16string_view(entry.fullName)) return &entry;
    }
    return nullptr;
}

}  // namespace component
