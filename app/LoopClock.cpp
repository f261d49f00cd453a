#include "app/LoopClock.h"

#include <atomic>
#include <thread>

namespace qmt {

namespace {
std::atomic<bool> s_manual{false};
// Ticks of the manual clock since its start.
std::atomic<LoopTime::rep> s_manualTicks{0};
const LoopTime MANUAL_START = LoopTime{} + std::chrono::hours(1000);
}  // namespace

LoopTime gf_loopNow()
{
    if (s_manual.load())
        return MANUAL_START + LoopTime::duration(s_manualTicks.load());
    return std::chrono::steady_clock::now();
}

void gf_loopSleepUntil(LoopTime TIME)
{
    if (s_manual.load()) {
        const LoopTime::rep target = (TIME - MANUAL_START).count();
        LoopTime::rep current = s_manualTicks.load();
        while (current < target && !s_manualTicks.compare_exchange_weak(current, target)) {
        }
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
    s_manualTicks = 0;
    s_manual = true;
}

void gf_advanceLoopClockForTests(std::chrono::nanoseconds DURATION)
{
    s_manualTicks += std::chrono::duration_cast<LoopTime::duration>(DURATION).count();
}

void gf_useRealLoopClock()
{
    s_manual = false;
}

}  // namespace qmt
