// The simulator's UserCfg.opt of any bytes: the packages path taken from it is a path the
// platform can have, and the install path set from it stays below what a path may be.
#include "FuzzSupport.h"

#include "core/Parameters.h"
#include "platform/sim_install.h"
#include "simlink/Install.h"

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    const auto folder = g_workPath / "simulator";
    fuzz::writeBytes(folder / "UserCfg.opt", fuzz::bytesOf(DATA, SIZE));
    const std::filesystem::path packages = gf_packagesPathFromUserCfg(folder / "UserCfg.opt");
    fuzz::require(packages.native().size() <= kMaxPathChars, "a packages path longer than a path can be");
    gf_setSimUserFolder(folder);
    gf_findInstallPath();
    const std::string install = SIM_CHOICE.value() == 2020 ? MSFS_INSTALL_PATH.value() : MSFS2024_INSTALL_PATH.value();
    fuzz::require(install.size() <= kMaxPathChars + folder.native().size() + 1, "an install path too long");
    gf_setSimUserFolder({});
    return 0;
}
