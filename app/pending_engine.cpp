#include "app/pending_engine.h"

namespace qmt {

// Replaced when birth and spawn are built.
bool gf_removeFarthestLiveAc(double) { return true; }
// Replaced when the removal rules are built.
void gf_removeStaticTwinsOf(LiveAc&) {}
// Replaced when the removal rules are built.
void gf_removeStaticInWayAll() {}
// Replaced when the removal rules are built.
void gf_removeStaticSameReg() {}
// Replaced when the removal rules are built.
void gf_removeLiveTooClose() {}
// Replaced when the removal rules are built.
void gf_removeLiveInUserPath() {}
// Replaced when the removal rules are built.
void gf_removeAcAtStand(const std::string&) {}

}  // namespace qmt
