#pragma once
// Static parked aircraft, created one at a time from the static positions by the pacing of
// the engine, removed all at once when the park airport goes; and the live aircraft parked at
// the park airport. Worker thread only, no lock.

#include <cstdint>
#include <string>
#include <string_view>

namespace qmt {

// A replacement waits this long for the aircraft it replaces to leave the stand (10 ms ticks).
inline constexpr int32_t kReplacementWaitTicks = 3000;

// Creates the static aircraft of the last static position, or refuses the position.
void lf_detcs();
// The callsign a static aircraft is shown under: trailing '_' removed, '*' appended once.
std::string lf_staticCallsign(std::string_view TEXT);
// The next free static id, 1..9999 (0 when every one is taken).
uint32_t lf_nextStaticId();
// Removes every static aircraft (created or still waiting to be).
void gf_removeAllStaticAc();
// Fills g_liveParked with the live aircraft parked at their stands, removing those parked too long.
void gf_collectLiveParked();

// Attaches static parking to the floors below it, as the start-up does: the engine's pacing runs
// lf_detcs, and the simulator link's request for the user's stand runs gf_noteUserParkAirport.
void gf_attachStaticParking();

// Back to the state of a fresh start (tests).
void gf_resetStaticAircraftForTests();

} // namespace qmt
