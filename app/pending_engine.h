// Engine calls of the shell whose owners are not built yet.
#pragma once

#include "engine/AcRecords.h"

#include <string>

namespace qmt {

// Removes the farthest live aircraft beyond the distance (-1: any); true when none was removed.
bool gf_removeFarthestLiveAc(double DISTANCE_NM);
// Removal rules run by the periodic work.
void gf_removeStaticTwinsOf(LiveAc& AC);
void gf_removeStaticInWayAll();
void gf_removeStaticSameReg();
void gf_removeLiveTooClose();
void gf_removeLiveInUserPath();
void gf_removeAcAtStand(const std::string& NAME);

}  // namespace qmt
