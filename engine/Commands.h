#pragma once

// The operations by which the engine changes an aircraft in the simulator. They only
// queue records for the simulator thread; none talks to the simulator itself.

#include <cstdint>
#include <deque>
#include <string_view>

#include "engine/AcLists.h"

namespace qmt {

// The one way an aircraft, live or static, leaves the simulator, whatever its state. REASON names
// the rule that removes it; the log says it of a live aircraft ("{callsign} removed: {reason}").
void removeAircraftFromSim(SimAc& AC, std::string_view REASON);

// Withdraws the queued create request of the aircraft with this id; true when one was
// there. By id, not callsign: two aircraft may share a callsign.
bool gf_removeFromAddingDeque(std::deque<AiCreateRequest>& DEQUE, uint32_t AIRCRAFT_ID);

// Throttle and flaps to 0, engines off, lights of a parked aircraft.
void lf_setParkedConfig(SimAc& AC);

// Refreshes the blocked-callsign edit and the CALLSIGN_2_OBJECTID list.
void gf_refreshBlockedCallsigns();

void gf_setFlaps(SimAc& AC, uint32_t FLAPS_INDEX);  // 0..3 (4 = up, as 0)
void gf_setGear(SimAc& AC, uint32_t VALUE);         // 0 up, 1 down
void gf_setSpoilers(SimAc& AC, bool ON);
void gf_setThrottle(SimAc& AC, uint32_t THROTTLE_INDEX); // 0..4; 5 = unset, sends nothing
// The throttle index for the aircraft: INDEX, or full power for a rotorcraft, whose rotor turns
// at full power on the ground and in the air.
inline uint32_t gf_throttleFor(const SimAc& AC, uint32_t INDEX)
{
    return AC.category == kAcCategoryRotorcraft ? 4 : INDEX;
}

} // namespace qmt
