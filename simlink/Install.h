#pragma once
// The simulator's install path and its package folders.

#include <cstdint>
#include <filesystem>
#include <string>

namespace qmt {

// The named subfolder ("Official", "Community", "StreamedPackages") under the configured
// simulator's install path; empty when no install path is known.
std::filesystem::path gf_installSubfolder(const std::string& FOLDER_NAME);

// The largest UserCfg.opt that is read (the simulator's own are some kilobytes).
inline constexpr std::uintmax_t kMaxUserCfgBytes = 4u << 20;

// Reads the package path of a simulator from its UserCfg.opt ("InstalledPackagesPath" line);
// empty when the file or the line is missing, or the file is larger than kMaxUserCfgBytes.
std::filesystem::path gf_packagesPathFromUserCfg(const std::filesystem::path& USER_CFG);

// Start-up: when the chosen simulator's install path is not set, takes it from the packages path
// that its UserCfg.opt names (a relative one lies beside that file). Logs what it found.
void gf_findInstallPath();

} // namespace qmt
