#pragma once

// Identity changes of live aircraft, their respawn with another look, and ghosts: an aircraft
// whose callsign is another's followed by "_".

#include <string>
#include <string_view>

#include "engine/AcLists.h"
#include "engine/Respawn.h"
#include "records/TrafficRecords.h"

namespace qmt {

// An aircraft not yet created takes over the route, callsign and registration of the record.
void lf_copyIdentity(LiveAc& AC, const LiveTrafficRecord& RECORD);
// True when the route is unchanged.
bool lf_updateRoute(LiveAc& AC, const LiveTrafficRecord& RECORD);
// True when the identity is unchanged. FORGET_LIVERY is raised when the new identity needs
// another livery: the livery is forgotten only if the aircraft really respawns.
bool lf_updateIdentity(LiveAc& AC, const LiveTrafficRecord& RECORD, bool& FORGET_LIVERY);
// True when the record's registration gives the aircraft another livery or kind.
bool lf_registrationChanged(LiveAc& AC, const LiveTrafficRecord& RECORD, bool& FORGET_LIVERY);
// Drops the livery chosen for the aircraft so that its next spawn matches again.
void lf_forgetLivery(LiveAc& AC);
// Removes the object from the simulator to create it again at its present position.
void liveryRespawn(LiveAc& AC);
// The simulator removed the object of the active aircraft in the air by itself: it is created
// again at once at its present position (its record and stream are kept).
void gf_createAgainAfterRemoval(LiveAc& AC);
// Removes and blocks the live ghost of the callsign (the callsign followed by "_").
void lf_removeGhostOf(const std::string& CALLSIGN);
// The ghost callsign's real aircraft (the callsign without its trailing "_") is live.
bool lf_isBlockedGhost(std::string_view GHOST_CALLSIGN);

} // namespace qmt
