// The clock of the program's loops: monotonic time, sleeping until a deadline and waiting on a
// condition with a time-out. Every clock the program reads goes through here (the wall time of
// core/Clock.h follows it), so that one switch runs the whole program in virtual time:
//  - real: the steady clock and real sleeps;
//  - virtual at N times real time: the same, with every duration divided by N;
//  - virtual as fast as the work allows: time stands while any thread that keeps time works,
//    and jumps to the earliest wake-up once all of them sleep;
//  - manual, for tests: core's settable clock, on which sleeping moves the time forward at once
//    (whole milliseconds).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace qmt {

using LoopTime = std::chrono::steady_clock::time_point;

LoopTime gf_loopNow();
// Sleeps until the time (returns at once when it has passed).
void gf_loopSleepUntil(LoopTime TIME);
void gf_loopSleepFor(std::chrono::milliseconds DURATION);
// Waits on CV (LOCK held) until DONE holds or DURATION has passed on the loop clock; answers
// DONE(). Whoever makes DONE true notifies CV and then calls gf_loopWake.
bool gf_loopWaitFor(std::unique_lock<std::mutex>& LOCK, std::condition_variable& CV,
                    std::chrono::nanoseconds DURATION, const std::function<bool()>& DONE);
// Wakes the waits of gf_loopWaitFor, so that they test their condition again.
void gf_loopWake();

// Virtual time from now on: SCALE times real time, or as fast as the work allows when SCALE
// is 0. Called once, before the threads that keep time start. The wall time goes on from
// WALL_START (seconds since 1970), else from the real time of the call.
void gf_startVirtualTime(double SCALE, std::optional<double> WALL_START = std::nullopt);
bool gf_virtualTimeOn();
// The wall time of the virtual clock (core/Clock.h's gf_unshiftedNow reads it).
std::chrono::system_clock::time_point gf_virtualWallNow();
// Steps of the as-fast clock taken although a thread that keeps time did not sleep (it waited
// on something the clock does not see, longer than a moment of real time).
std::uint64_t gf_forcedVirtualSteps();
// Seconds of loop time and of real time since virtual time started.
double gf_virtualSecondsRun();
double gf_realSecondsRun();

// A thread that keeps time with the loops (the window's, the worker's, the simulator link's,
// the readers'), for its lifetime. Without virtual time it does nothing.
class LoopThread
{
public:
    // Called by the thread that starts one that keeps time, before it starts it: the clock
    // waits for the new thread from then on.
    static void announce();
    LoopThread();
    ~LoopThread();
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

private:
    bool m_counted = false;
};

// A thread that keeps time waits for another one without the clock (joins it): meanwhile it
// counts as asleep.
class LoopBlocked
{
public:
    LoopBlocked();
    ~LoopBlocked();
    LoopBlocked(const LoopBlocked&) = delete;
    LoopBlocked& operator=(const LoopBlocked&) = delete;

private:
    bool m_counted = false;
    std::uint64_t m_endings = 0;
};

// Switches to core's settable clock, set to a fixed Monday noon (UTC).
void gf_useManualLoopClockForTests();
// Moves the settable clock forward (a slow step, a stall).
void gf_advanceLoopClockForTests(std::chrono::nanoseconds DURATION);
// Back to the real clock (and core's clock back to the system clock); ends virtual time.
void gf_useRealLoopClock();

}  // namespace qmt
