#include "simlink/Install.h"

#include "core/Files.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/Text.h"
#include "platform/sim_install.h"

#include <string_view>
#include <system_error>
#include <vector>

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
    std::string bytes;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(USER_CFG, ec);
    if (!ec && size > kMaxUserCfgBytes) {
        gf_logWarning("{} of {} bytes is larger than the simulator's settings ever are ({}), not read",
                      USER_CFG.string(), size, kMaxUserCfgBytes);
        return {};
    }
    if (!gf_readFileBytes(USER_CFG, bytes, kMaxUserCfgBytes)) {
        return {};
    }
    std::vector<std::string_view> lines;
    gf_splitTextLines(bytes, lines);
    constexpr std::string_view key = "InstalledPackagesPath";
    for (const std::string_view line : lines) {
        const std::string_view trimmed = gf_trimView(line);
        // The key is a whole word: a longer key that begins with it is another setting.
        if (!trimmed.starts_with(key) ||
            (trimmed.size() > key.size() && trimmed[key.size()] != ' ' && trimmed[key.size()] != '\t' &&
             trimmed[key.size()] != '"')) {
            continue;
        }
        std::string_view rest = gf_trimView(trimmed.substr(key.size()));
        if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
            rest = rest.substr(1, rest.size() - 2);
        }
        if (rest.size() > kMaxPathChars) {
            gf_logWarning("{}: InstalledPackagesPath of {} bytes is longer than a path can be, not taken: {}",
                          USER_CFG.string(), rest.size(), gf_excerpt(rest));
            return {};
        }
        return std::filesystem::path(std::string(rest));
    }
    return {};
}

void gf_findInstallPath()
{
    StringParameter& install = SIM_CHOICE.value() == 2020 ? MSFS_INSTALL_PATH : MSFS2024_INSTALL_PATH;
    if (!install.value().empty())
        return;
    const std::filesystem::path userCfg = gf_simUserCfgPath(SIM_CHOICE.value());
    if (userCfg.empty())
        return;
    std::filesystem::path packages = gf_packagesPathFromUserCfg(userCfg);
    if (packages.empty()) {
        gf_logLine("No InstalledPackagesPath in {}", userCfg.string());
        return;
    }
    if (packages.is_relative())
        packages = userCfg.parent_path() / packages;
    install.set(packages.lexically_normal().string());
    gf_logLine("{}={} (from {})", install.name(), install.value(), userCfg.string());
}

} // namespace qmt
