#pragma once

// The engine's 10 ms heartbeat: simulator notifications, the update of every live
// aircraft, the position hand-over, the pacing of creations and removals, and intake.

#include "engine/AcLists.h"

namespace qmt {

// One tick of the engine; called by the main loop every 10 ms while a flight runs.
void lf_handleAddingStack();
// Moves one live aircraft a tick along its stream; true when it is to be erased.
bool updateLiveAc(LiveAc& AC);
// Drains the simulator's notifications and runs the activation pass.
void gf_handleSimNotifications();
// Activates created aircraft 200 ticks after the simulator reported them.
void lf_activateCreated();
// One removal every 10 ticks, one creation every 50 (live before static).
void gf_paceAddingStack();
// The static parking's creation step, which queues the next static aircraft's create request when
// its time has come; the pacing runs it at every 50th tick that moves no live creation. Static
// parking sits above the engine and registers it at start-up; while none is registered no static
// aircraft is made.
using StaticCreationStep = void (*)();
void gf_setStaticCreationStep(StaticCreationStep STEP);

} // namespace qmt
