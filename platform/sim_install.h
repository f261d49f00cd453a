#pragma once
// Where the simulator keeps its user settings file UserCfg.opt. On Windows it lies in the
// roaming AppData folder, below "Microsoft Flight Simulator" (2020) or "Microsoft Flight
// Simulator 2024". The simulated installation of the sample data names its own folder.

#include <filesystem>

namespace qmt {

// The UserCfg.opt of the simulator (2020 or 2024): in the simulated installation's folder when
// one is set, else below the AppData folder of the environment; empty when neither is known.
std::filesystem::path gf_simUserCfgPath(int SIM);
// The folder of the simulated installation's UserCfg.opt (empty: none).
void gf_setSimUserFolder(const std::filesystem::path& FOLDER);

} // namespace qmt
