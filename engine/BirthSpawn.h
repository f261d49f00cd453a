#pragma once

// Birth and spawn of live aircraft: the per-tick decision of an aircraft in state buffer,
// the start at a stand, on a taxiway or in the air, and the limit on live aircraft.

#include <cstdint>
#include <string_view>

#include "engine/AcLists.h"
#include "engine/Spawn.h"

namespace qmt {

struct Stand;

// True when it dropped the front point because the aircraft would start too close to, or in
// the path of, the user aircraft (the aircraft waits, or is removed on a conflict).
bool lf_spawnCheckNearUser(LiveAc& AC);
// Removes the active live aircraft farthest from the user when it lies more than 0.1 nm
// beyond DISTANCE_NM (a negative distance: any one). True when none was removed.
bool gf_removeFarthestLiveAc(double DISTANCE_NM);
// The free stand an aircraft starting on the ground stands at, or nullptr. Sets the remove flag
// when the stand's rules refuse the aircraft.
Stand* lf_findSpawnStand(LiveAc& AC);
// The position block at creation, from the front point.
void lf_attitudeFromStream(LiveAc& AC);
// Not empty, not "@@@@@@@@", at most 8 characters.
bool lf_hasUsableCallsign(const SimAc& AC);

// Current time on the 100 ns clock that parkStart is kept on.
uint64_t gf_nowTicks100ns();
// The text ends with "_" (the mark of a ghost callsign).
inline bool gf_endsWithGhostMark(std::string_view TEXT)
{
    return !TEXT.empty() && TEXT.back() == '_';
}

} // namespace qmt
