// The faces every class of the component shows besides its members, with bad
// input: the library's DllGetActivationFactory, each factory's
// IActivationFactory and IInspectable. Utils' one member, ExitApplication,
// takes no argument and has no out-parameter, so the only bad input it can
// meet is through these faces (its exit is tested in tests/utils).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "MorvalaFrameworkUiWinPRT.h"
#include "bad_input_support.h"
#include "platform/activation.h"
#include "support/component_loader.h"

namespace {

using namespace bad_input;

// CLASS_E_CLASSNOTAVAILABLE: the library serves no class of that name.
constexpr HRESULT kClassNotAvailable = static_cast<HRESULT>(0x80040111);

constexpr const char16_t* kClasses[] = {MorvalaFrameworkUiWinPRT::RuntimeClass_RegistryManager,
                                         MorvalaFrameworkUiWinPRT::RuntimeClass_RpcWrapper,
                                         MorvalaFrameworkUiWinPRT::RuntimeClass_Utils};

class FactoriesBadInput : public morvala::test::ComponentTest {};

TEST_F(FactoriesBadInput, DllGetActivationFactoryRefusesNullAndUnknownNames) {
    void* library = dlopen(morvala::test::ComponentPath(), RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    auto get = reinterpret_cast<PFN_DllGetActivationFactory>(dlsym(library, "DllGetActivationFactory"));
    ASSERT_NE(get, nullptr);
    const std::u16string utils = MorvalaFrameworkUiWinPRT::RuntimeClass_Utils;
    struct Case {
        const char* name;
        std::u16string className;
        bool absent;
    } cases[] = {
        {"absent name", u"", true},
        {"unknown name", u"MorvalaFrameworkUiWinPRT.Nothing", false},
        {"known name with more after a NUL", utils + std::u16string(u"\0x", 2), false},
        {"known name cut short", utils.substr(0, utils.size() - 1), false},
        {"known name in other case", u"morvalaframeworkuiwinprt.winprtutils.utils", false},
        {"16,384 units", Letters(16384), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IActivationFactory* factory = reinterpret_cast<IActivationFactory*>(uintptr_t{0x10});
        EXPECT_EQ(get(c.absent ? nullptr : S(c.className).get(), &factory), kClassNotAvailable);
        EXPECT_EQ(factory, nullptr);
    }
    EXPECT_EQ(get(S(utils).get(), nullptr), E_POINTER);
    dlclose(library);
}

TEST_F(FactoriesBadInput, FactoryFacesAnswerEPointerForNullOutParameters) {
    for (const char16_t* className : kClasses) {
        SCOPED_TRACE(::testing::PrintToString(std::u16string(className)));
        auto factory = morvala::test::GetFactory<IActivationFactory>(className);
        ASSERT_TRUE(factory);
        EXPECT_EQ(factory->ActivateInstance(nullptr), E_POINTER);
        EXPECT_EQ(factory->QueryInterface(IActivationFactory::IID_, nullptr), E_POINTER);
        ULONG count = 0;
        IID* iids = nullptr;
        EXPECT_EQ(factory->GetIids(nullptr, &iids), E_POINTER);
        EXPECT_EQ(factory->GetIids(&count, nullptr), E_POINTER);
        EXPECT_EQ(factory->GetRuntimeClassName(nullptr), E_POINTER);
        EXPECT_EQ(factory->GetTrustLevel(nullptr), E_POINTER);

        void* unknown = reinterpret_cast<void*>(uintptr_t{0x10});
        const IID never{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
        EXPECT_EQ(factory->QueryInterface(never, &unknown), E_NOINTERFACE);
        EXPECT_EQ(unknown, nullptr);
    }
}

}  // namespace
