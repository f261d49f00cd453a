#include "SimTestSupport.h"

#include "core/Parameters.h"
#include "platform/sim_install.h"
#include "simlink/Install.h"

#include <fstream>

namespace qmt::test {
namespace {

// The install path comes from the packages path that the simulator's UserCfg.opt names, as on
// a user's machine; a path set by the user wins.
TEST_F(SimLinkTest, InstallPathIsFoundThroughUserCfg)
{
    std::filesystem::create_directories(m_dir / "sim");
    std::ofstream(m_dir / "sim" / "UserCfg.opt") << "{Graphics\n\tPreset Custom\n}\nInstalledPackagesPath \"Packages\"\n";
    gf_setSimUserFolder(m_dir / "sim");
    SIM_CHOICE.set(2024);
    MSFS2024_INSTALL_PATH.set("");
    gf_findInstallPath();
    EXPECT_EQ(gf_installSubfolder("Community"), m_dir / "sim" / "Packages" / "Community");

    MSFS2024_INSTALL_PATH.set("/mine");
    gf_findInstallPath();
    EXPECT_EQ(MSFS2024_INSTALL_PATH.value(), "/mine");

    std::ofstream(m_dir / "sim" / "UserCfg.opt") << "{Graphics\n}\n";
    MSFS2024_INSTALL_PATH.set("");
    gf_findInstallPath();
    EXPECT_EQ(MSFS2024_INSTALL_PATH.value(), "");
    gf_setSimUserFolder({});
}

} // namespace
} // namespace qmt::test
