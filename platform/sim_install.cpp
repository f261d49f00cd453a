#include "platform/sim_install.h"

#include <cstdlib>
#include <mutex>

namespace qmt {
namespace {

std::mutex s_folderMutex; // guards s_folder
std::filesystem::path s_folder;

} // namespace

std::filesystem::path gf_simUserCfgPath(int SIM)
{
    {
        std::lock_guard lock(s_folderMutex);
        if (!s_folder.empty())
            return s_folder / "UserCfg.opt";
    }
    const char* appData = std::getenv("APPDATA");
    if (appData == nullptr || *appData == '\0')
        return {};
    return std::filesystem::path(appData) /
           (SIM == 2020 ? "Microsoft Flight Simulator" : "Microsoft Flight Simulator 2024") / "UserCfg.opt";
}

void gf_setSimUserFolder(const std::filesystem::path& FOLDER)
{
    std::lock_guard lock(s_folderMutex);
    s_folder = FOLDER;
}

} // namespace qmt
