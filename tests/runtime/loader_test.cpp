// The loader: registration table (programmatic and manifest), load with
// DllMain attach, refusal, unload, and the process-exit detach. Uses a probe
// library that logs its DllMain calls to a file.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/activation.h"
#include "support/component_loader.h"
#include "support/device_root.h"

namespace {

using morvala::test::GetFactory;
using morvala::test::ScopedEnvironment;

constexpr HRESULT kProbeAnswer = static_cast<HRESULT>(0x80040111);  // what the probe's DllGetActivationFactory says
const char* const kProbe = MORVALA_PROBE_PATH;

bool IsMapped(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

class LoaderTest : public morvala::test::DeviceRootTest {
protected:
    LoaderTest() : log_(root().Path() + "/probe.log") {}
    ~LoaderTest() override {
        busy_.reset();
        RoUnloadLibrary(kProbe);
        RoRevokeActivatableClass("Probe.Class");
    }

    std::string Log() const {
        std::ifstream file(log_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    HRESULT ActivateProbe(std::u16string_view name = u"Probe.Class") {
        platform::ComPtr<IActivationFactory> factory;
        HRESULT hr = GetFactory(name, IActivationFactory::IID_, factory.put_void());
        EXPECT_FALSE(factory);
        return hr;
    }

    void WriteManifest(const std::string& text) {
        std::ofstream(root().Path() + "/app.manifest") << text;
        manifest_.emplace("MORVALA_MANIFEST", (root().Path() + "/app.manifest").c_str());
    }

    std::string log_;
    ScopedEnvironment logVariable_{"MORVALA_PROBE_LOG", log_.c_str()};
    std::optional<ScopedEnvironment> manifest_;
    std::optional<ScopedEnvironment> busy_;
};

TEST_F(LoaderTest, RegisteredClassLoadsItsLibraryOnceAndRunsAttach) {
    ASSERT_EQ(RoRegisterActivatableClass("Probe.Class", kProbe), S_OK);
    EXPECT_EQ(ActivateProbe(), kProbeAnswer);
    EXPECT_EQ(ActivateProbe(), kProbeAnswer);
    EXPECT_EQ(Log(), "attach\n") << "one load, and DisableThreadLibraryCalls knew the instance";
    EXPECT_EQ(RoQueryLibraryCanUnloadNow(kProbe), S_OK);
}

TEST_F(LoaderTest, UnregisteredOrMisspelledClassIsNotRegistered) {
    ASSERT_EQ(RoRegisterActivatableClass("Probe.Class", kProbe), S_OK);
    EXPECT_EQ(ActivateProbe(u"Probe.Other"), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ActivateProbe(u"probe.class"), REGDB_E_CLASSNOTREG) << "names compare exactly";
    EXPECT_EQ(ActivateProbe(std::u16string(u"Probe.Class\0x", 13)), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ActivateProbe(u""), E_INVALIDARG);
    EXPECT_EQ(Log(), "");
}

TEST_F(LoaderTest, BadArgumentsAreRefused) {
    EXPECT_EQ(RoGetActivationFactory(nullptr, IActivationFactory::IID_, nullptr), E_POINTER);
    EXPECT_EQ(RoRegisterActivatableClass("", kProbe), E_INVALIDARG);
    EXPECT_EQ(RoRegisterActivatableClass("Probe.Class", nullptr), E_INVALIDARG);
    EXPECT_EQ(RoRevokeActivatableClass("Never.Registered"), S_FALSE);
}

TEST_F(LoaderTest, ManifestLinesAreParsedAsDocumented) {
    std::filesystem::copy_file(kProbe, root().Path() + "/libprobe.so");
    WriteManifest(
        "# Probe.Commented=" + std::string(kProbe) +
        "\n"
        "\n"
        "no equals sign on this line\n"
        "=no name\n"
        "Probe.NoPath=\n"
        "   Probe.Class   =   libprobe.so   \n"
        "Probe.Class=/nonexistent/second-line-loses.so\n"
        "Probe.Missing=/nonexistent/libmissing.so\n");
    EXPECT_EQ(ActivateProbe(u"Probe.Commented"), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ActivateProbe(u"Probe.NoPath"), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ActivateProbe(u"Probe.Missing"), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(ActivateProbe(u"Probe.Class"), kProbeAnswer) << "relative path, blanks trimmed, first line wins";
    EXPECT_EQ(Log(), "attach\n");
    EXPECT_EQ(RoUnloadLibrary((root().Path() + "/libprobe.so").c_str()), S_OK);
}

TEST_F(LoaderTest, ProgrammaticRegistrationTakesPrecedenceOverTheManifest) {
    WriteManifest("Probe.Class=/nonexistent/libmissing.so\n");
    EXPECT_EQ(ActivateProbe(), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    ASSERT_EQ(RoRegisterActivatableClass("Probe.Class", kProbe), S_OK);
    EXPECT_EQ(ActivateProbe(), kProbeAnswer);
    ASSERT_EQ(RoRevokeActivatableClass("Probe.Class"), S_OK);
    EXPECT_EQ(ActivateProbe(), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
}

TEST_F(LoaderTest, LibraryWithoutEntryPointsIsNotLoaded) {
    // The runtime library itself exports neither entry point.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&RoGetActivationFactory), &info), 0);
    ASSERT_EQ(RoRegisterActivatableClass("Probe.NoEntryPoints", info.dli_fname), S_OK);
    EXPECT_EQ(ActivateProbe(u"Probe.NoEntryPoints"), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(RoQueryLibraryCanUnloadNow(info.dli_fname), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    RoRevokeActivatableClass("Probe.NoEntryPoints");
}

TEST_F(LoaderTest, LibraryWhoseDllMainRefusesIsNotLoaded) {
    ASSERT_EQ(RoRegisterActivatableClass("Probe.Class", kProbe), S_OK);
    {
        ScopedEnvironment refuse("MORVALA_PROBE_REFUSE", "1");
        EXPECT_EQ(ActivateProbe(), HRESULT_FROM_WIN32(ERROR_DLL_INIT_FAILED));
    }
    EXPECT_EQ(RoQueryLibraryCanUnloadNow(kProbe), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(IsMapped(kProbe)) << "a refused library is closed again";
    EXPECT_EQ(ActivateProbe(), kProbeAnswer) << "a later request loads it afresh";
    EXPECT_EQ(Log(), "refuse\nattach\n");
}

TEST_F(LoaderTest, UnloadWaitsForTheLibrarysConsent) {
    ASSERT_EQ(RoRegisterActivatableClass("Probe.Class", kProbe), S_OK);
    EXPECT_EQ(RoUnloadLibrary(kProbe), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(ActivateProbe(), kProbeAnswer);

    busy_.emplace("MORVALA_PROBE_BUSY", "1");
    EXPECT_EQ(RoQueryLibraryCanUnloadNow(kProbe), S_FALSE);
    EXPECT_EQ(RoUnloadLibrary(kProbe), S_FALSE);
    RoFreeUnusedLibraries();
    EXPECT_TRUE(IsMapped(kProbe));
    EXPECT_EQ(Log(), "attach\n");

    busy_.reset();
    EXPECT_EQ(RoUnloadLibrary(kProbe), S_OK);
    EXPECT_FALSE(IsMapped(kProbe));
    EXPECT_EQ(Log(), "attach\ndetach unload\n");
    EXPECT_EQ(ActivateProbe(), kProbeAnswer);
    RoFreeUnusedLibraries();
    EXPECT_EQ(Log(), "attach\ndetach unload\nattach\ndetach unload\n");
}

TEST_F(LoaderTest, ExitRoutineDetachesOnceAndStopsActivation) {
    ASSERT_EQ(RoRegisterActivatableClass("Probe.Class", kProbe), S_OK);
    EXPECT_EXIT(
        {
            if (ActivateProbe() != kProbeAnswer) std::_Exit(2);
            RoUninitializeLibrariesForExit();
            RoUninitializeLibrariesForExit();
            if (ActivateProbe() != HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED)) std::_Exit(3);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(Log(), "attach\ndetach exit\n");
}

TEST_F(LoaderTest, NormalProcessExitRunsTheDetach) {
    ASSERT_EQ(RoRegisterActivatableClass("Probe.Class", kProbe), S_OK);
    EXPECT_EXIT(
        {
            if (ActivateProbe() != kProbeAnswer) std::_Exit(2);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(Log(), "attach\ndetach exit\n");
}

TEST(DisableThreadLibraryCalls, UnknownInstanceIsRefused) {
    int notALibrary = 0;
    EXPECT_FALSE(DisableThreadLibraryCalls(reinterpret_cast<HMODULE>(&notALibrary)));
}

}  // namespace
