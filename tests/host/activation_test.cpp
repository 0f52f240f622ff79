// The component through the loader and its vtable slots, as an application
// reaches it: factories and instances, their identities, lists, names and
// trust level, lifetime and the unload check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/combase.h"
#include "support/component_loader.h"

namespace {

namespace abi = MorvalaFrameworkUiWinPRT;
using morvala::test::ComponentCanUnloadNow;
using morvala::test::ComponentPath;
using morvala::test::GetFactory;
using morvala::test::ToU16;

std::string Text(const IID& iid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", iid.Data1, iid.Data2,
                  iid.Data3, iid.Data4[0], iid.Data4[1], iid.Data4[2], iid.Data4[3], iid.Data4[4], iid.Data4[5],
                  iid.Data4[6], iid.Data4[7]);
    return text;
}

std::vector<std::string> InterfaceList(IInspectable* object) {
    ULONG count = 0;
    IID* iids = nullptr;
    EXPECT_EQ(object->GetIids(&count, &iids), S_OK);
    std::vector<std::string> list;
    for (ULONG i = 0; i < count; ++i) list.push_back(Text(iids[i]));
    CoTaskMemFree(iids);
    return list;
}

std::u16string ClassName(IInspectable* object) {
    HSTRING name = nullptr;
    EXPECT_EQ(object->GetRuntimeClassName(&name), S_OK);
    std::u16string text = ToU16(name);
    WindowsDeleteString(name);
    return text;
}

platform::ComPtr<IInspectable> Activate(std::u16string_view className) {
    platform::ComPtr<IActivationFactory> factory = GetFactory<IActivationFactory>(className);
    platform::ComPtr<IInspectable> instance;
    if (factory) {
        EXPECT_EQ(factory->ActivateInstance(instance.put()), S_OK);
    }
    return instance;
}

class ComponentActivationTest : public morvala::test::ComponentTest {};

TEST_F(ComponentActivationTest, UnloadCheckRightAfterLoadAnswersYes) {
    RoUnloadLibrary(ComponentPath());  // a fresh load, whatever earlier tests left
    ASSERT_EQ(RoRegisterActivatableClass("MorvalaFrameworkUiWinPRT.Unserved", ComponentPath()), S_OK);
    platform::ComPtr<IActivationFactory> factory;
    EXPECT_EQ(GetFactory(u"MorvalaFrameworkUiWinPRT.Unserved", IActivationFactory::IID_, factory.put_void()),
              static_cast<HRESULT>(0x80040111))
        << "a name outside the class table: CLASS_E_CLASSNOTAVAILABLE";
    EXPECT_FALSE(factory);
    EXPECT_EQ(ComponentCanUnloadNow(), S_OK) << "loaded, and no object alive";
    RoRevokeActivatableClass("MorvalaFrameworkUiWinPRT.Unserved");
}

struct ObjectCase {
    const char* name;
    std::u16string_view fullName;
    bool instance;  // the instance made by ActivateInstance, else the factory
    std::u16string_view runtimeClassName;
    std::vector<std::string> interfaces;
};

class ObjectFaceTest : public morvala::test::ComponentTest, public ::testing::WithParamInterface<ObjectCase> {};

TEST_P(ObjectFaceTest, NameInterfaceListAndTrustLevel) {
    const ObjectCase& c = GetParam();
    platform::ComPtr<IInspectable> object =
        c.instance ? Activate(c.fullName)
                   : platform::ComPtr<IInspectable>::Copy(GetFactory<IActivationFactory>(c.fullName).get());
    ASSERT_TRUE(object);
    EXPECT_EQ(ClassName(object.get()), c.runtimeClassName);
    EXPECT_EQ(InterfaceList(object.get()), c.interfaces);
    TrustLevel trust = FullTrust;
    EXPECT_EQ(object->GetTrustLevel(&trust), S_OK);
    EXPECT_EQ(trust, BaseTrust);

    // Every listed interface, IAgileObject and IMarshal are answered.
    std::vector<IID> answered{IUnknown::IID_, IInspectable::IID_, IAgileObject::IID_, IMarshal::IID_};
    for (const std::string& listed : c.interfaces) {
        for (const IID& known : {abi::__IRegistryManagerStatics::IID_, IActivationFactory::IID_,
                                 abi::__IUtilsStatics::IID_, abi::__IRegistryManagerPublicNonVirtuals::IID_,
                                 abi::__IRpcWrapperPublicNonVirtuals::IID_, abi::__IUtilsPublicNonVirtuals::IID_,
                                 IWeakReferenceSource::IID_}) {
            if (Text(known) == listed) answered.push_back(known);
        }
    }
    EXPECT_EQ(answered.size(), 4 + c.interfaces.size());
    for (const IID& iid : answered) {
        platform::ComPtr<IUnknown> face;
        EXPECT_EQ(object->QueryInterface(iid, face.put_void()), S_OK) << Text(iid);
    }
    // Factories are not weak-reference sources; instances are not factories.
    platform::ComPtr<IUnknown> refused;
    const IID& other = c.instance ? IActivationFactory::IID_ : IWeakReferenceSource::IID_;
    EXPECT_EQ(object->QueryInterface(other, refused.put_void()), E_NOINTERFACE);
    EXPECT_FALSE(refused);
}

const std::string kFactory = Text(IActivationFactory::IID_);
const std::string kWeakSource = Text(IWeakReferenceSource::IID_);

INSTANTIATE_TEST_SUITE_P(
    Objects, ObjectFaceTest,
    ::testing::Values(
        ObjectCase{"RegistryManagerFactory", abi::RuntimeClass_RegistryManager, false,
                   abi::FactoryClass_RegistryManager, {Text(abi::__IRegistryManagerStatics::IID_), kFactory}},
        ObjectCase{"RpcWrapperFactory", abi::RuntimeClass_RpcWrapper, false, abi::FactoryClass_RpcWrapper,
                   {kFactory}},
        ObjectCase{"UtilsFactory", abi::RuntimeClass_Utils, false, abi::FactoryClass_Utils,
                   {Text(abi::__IUtilsStatics::IID_), kFactory}},
        ObjectCase{"RpcWrapperInstance", abi::RuntimeClass_RpcWrapper, true, abi::RuntimeClass_RpcWrapper,
                   {Text(abi::__IRpcWrapperPublicNonVirtuals::IID_), kWeakSource}},
        ObjectCase{"UtilsInstance", abi::RuntimeClass_Utils, true, abi::RuntimeClass_Utils,
                   {Text(abi::__IUtilsPublicNonVirtuals::IID_), kWeakSource}}),
    [](const auto& info) { return std::string(info.param.name); });

// The RegistryManager instance cannot be activated; it is reached through
// GetInstance, which this test runs in a child process because the shared
// instance then lives until the library is unloaded.
TEST_F(ComponentActivationTest, SharedRegistryManagerInstance) {
    EXPECT_EXIT(
        {
            auto statics = GetFactory<abi::__IRegistryManagerStatics>(abi::RuntimeClass_RegistryManager);
            platform::ComPtr<abi::__IRegistryManagerPublicNonVirtuals> first;
            platform::ComPtr<abi::__IRegistryManagerPublicNonVirtuals> second;
            if (statics->GetInstance(first.put()) != S_OK || statics->GetInstance(second.put()) != S_OK) std::_Exit(2);
            if (!first || first.get() != second.get()) std::_Exit(3);
            if (ClassName(first.get()) != abi::RuntimeClass_RegistryManager) std::_Exit(4);
            if (InterfaceList(first.get()) !=
                std::vector<std::string>{Text(abi::__IRegistryManagerPublicNonVirtuals::IID_), kWeakSource})
                std::_Exit(5);
            first.reset();
            second.reset();
            statics.reset();
            if (ComponentCanUnloadNow() != S_FALSE) std::_Exit(6);  // the component still holds its instance
            if (RoUnloadLibrary(ComponentPath()) != S_FALSE) std::_Exit(7);
            RoUninitializeLibrariesForExit();  // the exit handlers release it
            if (ComponentCanUnloadNow() != S_OK) std::_Exit(8);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ComponentActivationTest, RegistryManagerActivationIsRefused) {
    auto factory = GetFactory<IActivationFactory>(abi::RuntimeClass_RegistryManager);
    ASSERT_TRUE(factory);
    IInspectable* instance = reinterpret_cast<IInspectable*>(0x1);
    EXPECT_EQ(factory->ActivateInstance(&instance), E_NOTIMPL);
    EXPECT_EQ(instance, nullptr);
}

TEST_F(ComponentActivationTest, FactoryIsOneObjectPerClassWhileHeld) {
    auto first = GetFactory<IActivationFactory>(abi::RuntimeClass_Utils);
    auto second = GetFactory<IActivationFactory>(abi::RuntimeClass_Utils);
    auto other = GetFactory<IActivationFactory>(abi::RuntimeClass_RpcWrapper);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_NE(first.get(), other.get());
}

TEST_F(ComponentActivationTest, UnloadCheckFollowsEveryHeldReference) {
    // A factory.
    auto factory = GetFactory<IActivationFactory>(abi::RuntimeClass_RpcWrapper);
    EXPECT_EQ(ComponentCanUnloadNow(), S_FALSE);
    platform::ComPtr<IInspectable> instance;
    ASSERT_EQ(factory->ActivateInstance(instance.put()), S_OK);
    factory.reset();
    EXPECT_EQ(ComponentCanUnloadNow(), S_FALSE) << "an instance is held";

    // A weak reference alone.
    platform::ComPtr<IWeakReferenceSource> source;
    ASSERT_EQ(instance.As(source), S_OK);
    platform::ComPtr<IWeakReference> weak;
    ASSERT_EQ(source->GetWeakReference(weak.put()), S_OK);
    source.reset();
    instance.reset();
    EXPECT_EQ(ComponentCanUnloadNow(), S_FALSE) << "a weak reference is held";

    platform::ComPtr<IInspectable> resolved;
    EXPECT_EQ(weak->Resolve(abi::__IRpcWrapperPublicNonVirtuals::IID_, resolved.put()), S_OK);
    EXPECT_FALSE(resolved) << "the object is gone";
    weak.reset();
    EXPECT_EQ(ComponentCanUnloadNow(), S_OK);
    EXPECT_EQ(RoUnloadLibrary(ComponentPath()), S_OK);

    // After an unload, the next request loads the library afresh.
    EXPECT_TRUE(GetFactory<IActivationFactory>(abi::RuntimeClass_Utils));
    EXPECT_EQ(ComponentCanUnloadNow(), S_OK);
}

}  // namespace
