#pragma once

// Stand rules and the user-conflict check of the motion code that birth, respawn and the
// removal rules call, until the motion code is built.

#include <cstdint>
#include <string>

#include "engine/AcRecords.h"

namespace qmt {

struct Stand;

// True when the aircraft was removed because it conflicts with the user aircraft; ROW 0 is the
// ground row (4 nm, 1000 ft, 700 ft), ROW 1 the spawn row (6 nm, 3000 ft, 4000 ft).
bool lf_checkUserConflict(LiveAc& AC, uint32_t ROW);
// A cargo aircraft that claimed a stand not marked cargo.
void lf_markCargoStand(LiveAc& AC);
// True when the stand may be taken by an aircraft with this callsign.
bool lf_removeForStand(uint32_t STAND_ID, const std::string& CALLSIGN);
// True when the aircraft on the adjacent stand is no conflict.
bool lf_adjacentConflict(uint32_t ADJACENT_ID, const LiveAc& AC, const Stand& STAND);
// Static aircraft on the stand and too close to it make way.
void lf_makeWay(LiveAc& AC, const Stand& STAND);

} // namespace qmt
