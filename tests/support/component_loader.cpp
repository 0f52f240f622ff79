#include "support/component_loader.h"

#include <fstream>

#include "MorvalaFrameworkUiWinPRT.h"

namespace morvala::test {

const char* ComponentPath() { return MORVALA_COMPONENT_PATH; }

ComponentManifest::ComponentManifest(const std::string& folder) : path_(folder + "/app.manifest") {
    std::ofstream manifest(path_);
    manifest << "# classes of the component under test\n";
    for (const char* name : {"MorvalaFrameworkUiWinPRT.RegistryManager", "MorvalaFrameworkUiWinPRT.RpcWrapper",
                             "MorvalaFrameworkUiWinPRT.WinPRTUtils.Utils"}) {
        manifest << name << "=" << ComponentPath() << "\n";
    }
    EXPECT_TRUE(manifest.good()) << "cannot write " << path_;
    variable_.emplace("MORVALA_MANIFEST", path_.c_str());
}

HRESULT GetFactory(std::u16string_view className, REFIID iid, void** factory) {
    platform::UniqueHString name = MakeHString(className);
    return RoGetActivationFactory(name.get(), iid, factory);
}

HRESULT ComponentCanUnloadNow() { return RoQueryLibraryCanUnloadNow(ComponentPath()); }

}  // namespace morvala::test
