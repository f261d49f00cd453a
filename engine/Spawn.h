#pragma once

// Birth and spawn of live aircraft.

#include "engine/AcLists.h"

namespace qmt {

// Decides each tick whether an aircraft in state buffer may be created now, waits,
// loses its front point or is given up; spawns it when it may be created.
void lf_birthStage(LiveAc& AC);
// Gives the aircraft a livery, a starting flight state and attitude, and puts it on the adding stack.
void spawnLiveAc(LiveAc& AC);

} // namespace qmt
