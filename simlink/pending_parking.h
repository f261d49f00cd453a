#pragma once
// Calls of the simulator link into the park-airport manager.

namespace qmt {

// Looks at the stand under the user aircraft and reserves it at the park airport.
void gf_noteUserParkAirport();

} // namespace qmt
