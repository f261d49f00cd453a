// The clock of the worker's loops: monotonic time and sleeping until a deadline. Tests switch it
// to the settable clock of core, on which sleeping moves the time forward at once (whole
// milliseconds).
#pragma once

#include <chrono>

namespace qmt {

using LoopTime = std::chrono::steady_clock::time_point;

LoopTime gf_loopNow();
// Sleeps until the time (returns at once when it has passed).
void gf_loopSleepUntil(LoopTime TIME);
void gf_loopSleepFor(std::chrono::milliseconds DURATION);

// Switches to core's settable clock, set to a fixed Monday noon (UTC).
void gf_useManualLoopClockForTests();
// Moves the settable clock forward (a slow step, a stall).
void gf_advanceLoopClockForTests(std::chrono::nanoseconds DURATION);
// Back to the real clock (and core's clock back to the system clock).
void gf_useRealLoopClock();

}  // namespace qmt
