#pragma once

// What the engine does when the simulator created or removed an aircraft, its few direct
// simulator requests, AI flight plans, refused liveries and the list of active aircraft.

#include <cstdint>

#include "engine/AcLists.h"

namespace qmt {

// The simulator created the live aircraft; true when it is to be activated.
bool lf_onLiveAcCreated(LiveAc& AC, const SimNotification& NOTE);
// A live aircraft created on the ground: gear down, and at a stand the stand taken over.
void lf_parkOnCreate(LiveAc& AC);
// Writes the aircraft's flight plan file and, with MSFS 2020, assigns it.
void lf_setAiFlightPlan(LiveAc& AC);
// The simulator removed an object: a respawning aircraft goes back to buffer, any other
// record is erased (with its flight plan file).
void gf_removeFlightPlan(uint32_t OBJECT_ID);
// The simulator could not create the aircraft's livery. Throws UserErrorException 81 once
// 20 different titles failed.
void lf_liveryNotCreated(const SimAc& AC);
// Rewrites "ObjectIdList.txt" with one line per active live aircraft.
void gf_writeActiveLiveAcFile();
// Direct write of spoilers and both throttle levers (percent), outside the queues.
void gf_setSpoilersAndThrottle(const SimAc& AC, double SPOILERS_PERCENT, double THROTTLE_PERCENT);

} // namespace qmt
