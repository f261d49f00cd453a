#include "core/LoopClock.h"

#include "core/Clock.h"

#include <atomic>
#include <thread>

namespace qmt {

namespace {
// While set, the loops run on core's test clock: sleeping moves that clock forward at once.
std::atomic<bool> s_manual{false};
// A fixed Monday noon, so that tests see a known time of week.
const TimePoint MANUAL_START_TIME = TimePoint(std::chrono::seconds(1796644800));
const LoopTime MANUAL_START = LoopTime{} + std::chrono::hours(1000);
}  // namespace

LoopTime gf_loopNow()
{
    if (s_manual.load())
        return MANUAL_START
            + std::chrono::duration_cast<LoopTime::duration>(gf_unshiftedNow() - MANUAL_START_TIME);
    return std::chrono::steady_clock::now();
}

void gf_loopSleepUntil(LoopTime TIME)
{
    if (s_manual.load()) {
        gf_advanceLoopClockForTests(TIME - gf_loopNow());
        return;
    }
    std::this_thread::sleep_until(TIME);
}

void gf_loopSleepFor(std::chrono::milliseconds DURATION)
{
    gf_loopSleepUntil(gf_loopNow() + DURATION);
}

void gf_useManualLoopClockForTests()
{
    gf_setClockForTests(MANUAL_START_TIME);
    s_manual = true;
}

void gf_advanceLoopClockForTests(std::chrono::nanoseconds DURATION)
{
    const auto step = std::chrono::duration_cast<std::chrono::milliseconds>(DURATION);
    if (step.count() > 0)
        gf_advanceClockForTests(step);
}

void gf_useRealLoopClock()
{
    if (s_manual.exchange(false))
        gf_resetClockForTests();
}

}  // namespace qmt
