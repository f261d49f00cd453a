#pragma once

// Who may use a stand of the park airport: the rules that a live aircraft parking or spawning at
// a stand applies to the live and static aircraft on it and on its neighbours. Each removes other
// aircraft only through removeAircraftFromSim. Worker thread only.

#include <cstdint>
#include <string>

#include "engine/AcLists.h"

namespace qmt {

struct Stand;

// A cargo aircraft that claimed a stand not marked cargo takes the cargo mark off the cargo
// stand it is recorded on.
void lf_markCargoStand(LiveAc& AC);
// True when the stand may be taken by an aircraft with this callsign; may remove the live
// aircraft that stands there.
bool lf_removeForStand(uint32_t STAND_ID, const std::string& CALLSIGN);
// True when the live aircraft on the adjacent stand is no conflict for AC at STAND.
bool lf_adjacentConflict(uint32_t ADJACENT_ID, const LiveAc& AC, const Stand& STAND);
// Removes the live aircraft on the adjacent stand when it would touch AC parking at STAND.
void lf_removeAdjacentForParking(uint32_t ADJACENT_ID, const LiveAc& AC, const Stand& STAND);
// Static aircraft on the stand, and on adjacent stands too close to it, make way for AC.
void lf_makeWay(const LiveAc& AC, const Stand& STAND);
// The first active static aircraft on the adjacent stand that is too close to STAND makes way.
void lf_makeWayAtExcludedStand(const LiveAc& AC, uint32_t ADJACENT_ID, const Stand& STAND);

} // namespace qmt
