#pragma once

// Identity changes, respawns and ghosts of live aircraft.

#include "engine/AcLists.h"
#include "records/TrafficRecords.h"

namespace qmt {

// False when the record is not to be decoded (the aircraft respawns, or the new callsign
// is a blocked ghost).
bool lf_checkRespawn(LiveAc& AC, LiveTrafficRecord& RECORD);

} // namespace qmt
