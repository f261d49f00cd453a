#include "simlink/Install.h"

#include "core/Parameters.h"
#include "core/Text.h"

#include <fstream>

namespace qmt {

std::filesystem::path gf_installSubfolder(const std::string& FOLDER_NAME)
{
    const std::string install =
        SIM_CHOICE.value() == 2020 ? MSFS_INSTALL_PATH.value() : MSFS2024_INSTALL_PATH.value();
    if (install.empty()) {
        return {};
    }
    return std::filesystem::path(install) / FOLDER_NAME;
}

std::filesystem::path gf_packagesPathFromUserCfg(const std::filesystem::path& USER_CFG)
{
    std::ifstream in(USER_CFG, std::ios::binary);
    std::string line;
    constexpr std::string_view key = "InstalledPackagesPath";
    while (std::getline(in, line)) {
        const std::string trimmed = gf_trim(line);
        if (!trimmed.starts_with(key)) {
            continue;
        }
        std::string rest = gf_trim(trimmed.substr(key.size()));
        if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
            rest = rest.substr(1, rest.size() - 2);
        }
        return std::filesystem::path(rest);
    }
    return {};
}

} // namespace qmt
