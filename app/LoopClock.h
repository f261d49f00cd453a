// The clock of the worker's loops: monotonic time and sleeping until a deadline. Tests switch it
// to a manual clock, on which sleeping moves the time forward at once.
#pragma once

#include <chrono>

namespace qmt {

using LoopTime = std::chrono::steady_clock::time_point;

LoopTime gf_loopNow();
// Sleeps until the time (returns at once when it has passed).
void gf_loopSleepUntil(LoopTime TIME);
void gf_loopSleepFor(std::chrono::milliseconds DURATION);

// Switches to the manual clock, starting at an arbitrary fixed time.
void gf_useManualLoopClockForTests();
// Moves the manual clock forward (a slow step, a stall).
void gf_advanceLoopClockForTests(std::chrono::nanoseconds DURATION);
// Back to the real clock.
void gf_useRealLoopClock();

}  // namespace qmt
