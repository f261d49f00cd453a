#pragma once
// Test support: the whole static-parking state back to its start.

namespace qmt {

// The stand table, the airport-file and learned-file readers' state, the park airport, the
// static positions and aircraft counter, the park-change flags and the stand-table marks; static
// parking attached to the engine and the simulator link as the start-up does.
void gf_resetParkingForTests();

} // namespace qmt
