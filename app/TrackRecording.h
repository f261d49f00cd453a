// Flight states and the scenario's clock into the track recording of the simulated simulator.
#pragma once

#include <functional>

namespace qmt {

// While the simulated simulator records tracks, notes each live aircraft's flight state in the
// recording whenever it changed, so that a drawing of the recording can colour the tracks by it,
// and once a second the scenario's clock, so that a comparison with the scenario knows the time of
// every frame. Once per tick, after the engine's tick.
void gf_recordFlightStates();
// The clock of the scenario being played, in its seconds (none: no clock notes).
void gf_setRecordingClock(std::function<double()> SCENARIO_SECONDS);

}  // namespace qmt
