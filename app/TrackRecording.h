// Flight states into the track recording of the simulated simulator.
#pragma once

namespace qmt {

// While the simulated simulator records tracks, notes each live aircraft's flight state in the
// recording whenever it changed, so that a drawing of the recording can colour the tracks by it.
// Once per tick, after the engine's tick.
void gf_recordFlightStates();
// Forgets the states noted so far (tests).
void gf_resetFlightStateNotesForTests();

}  // namespace qmt
