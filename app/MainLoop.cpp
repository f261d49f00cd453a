// The worker's 10 ms deadline loop and the dispatch of its periodic work.
#include "app/MainWindow.h"
#include "app/Worker.h"
#include "core/Log.h"
#include "core/LoopClock.h"
#include "core/StopFlags.h"

#include <array>
#include <mutex>
#include <string>

#include <fmt/format.h>

namespace qmt {

namespace {

constexpr std::chrono::milliseconds TICK{10};
constexpr std::chrono::milliseconds kMaxBehind{100};
constexpr std::chrono::seconds kOneSecond{1};

// The steps the loop calls; replaced by tests. Written only while no loop runs.
MainLoopSteps s_steps;
bool s_stepsSet = false;

std::atomic<std::uint64_t> s_loopSeconds{0};

MainLoopTimes s_times;
// The loop's times count for the steady part (set by gf_noteAllLiveActive, worker only).
bool s_steady = false;

long long lf_micros(std::chrono::microseconds D)
{
    return static_cast<long long>(D.count());
}

std::string lf_loopFigures(const DurationHistogram& LATENESS, const DurationHistogram& TICK_WORK)
{
    return fmt::format("{} ticks started late by {} us median, {} us p99, {} us at most; tick work {} us median, {} "
                       "us p99, {} us at most",
                       LATENESS.count(), lf_micros(LATENESS.percentile(0.5)), lf_micros(LATENESS.percentile(0.99)),
                       lf_micros(LATENESS.longest()), lf_micros(TICK_WORK.percentile(0.5)),
                       lf_micros(TICK_WORK.percentile(0.99)), lf_micros(TICK_WORK.longest()));
}

void lf_logLoopTimes()
{
    const MainLoopTimes& t = s_times;
    if (t.lateness.count() == 0)
        return;
    gf_logLine("Main loop: {}; deadline moved {} times to the simulator's second, {} times after falling behind",
               lf_loopFigures(t.lateness, t.tickWork), t.realignedToSimulator, t.realignedBehind);
    if (!t.steadyFromSecond)
        return;
    if (t.rampLateness.count() != 0)
        gf_logLine("Main loop, ramp (until second {}): {}", *t.steadyFromSecond,
                   lf_loopFigures(t.rampLateness, t.rampTickWork));
    gf_logLine("Main loop, steady part with MAX_LIVE_SEL live aircraft active (from second {} on): {}",
               *t.steadyFromSecond, lf_loopFigures(t.steadyLateness, t.steadyTickWork));
}

struct Mark
{
    PeriodicWork work;
    std::uint64_t period;  // seconds
};

// In the order they run at a second that is a multiple of several periods.
constexpr std::array<Mark, 7> kMarks{{
    {PeriodicWork::every5s, 5},
    {PeriodicWork::every15s, 15},
    {PeriodicWork::every16s, 16},
    {PeriodicWork::everyMinute, 60},
    {PeriodicWork::every61s, 61},
    {PeriodicWork::every1200s, 1200},
    {PeriodicWork::every86400s, 86400},
}};

const MainLoopSteps& lf_steps()
{
    if (!s_stepsSet) {
        s_steps = gf_defaultMainLoopSteps();
        s_stepsSet = true;
    }
    return s_steps;
}

}  // namespace

void gf_setMainLoopStepsForTests(MainLoopSteps STEPS)
{
    s_steps = std::move(STEPS);
    s_stepsSet = true;
}

std::uint64_t gf_loopSeconds()
{
    return s_loopSeconds.load();
}

const MainLoopTimes& gf_mainLoopTimes()
{
    return s_times;
}

void gf_noteAllLiveActive()
{
    if (s_steady)
        return;
    s_steady = true;
    s_times.steadyFromSecond = s_loopSeconds.load();
}

void lf_dispatchSecond(const MainLoopSteps& STEPS, std::uint64_t SECONDS)
{
    STEPS.periodic(PeriodicWork::everySecond, SECONDS);
    for (const Mark& mark : kMarks) {
        if (SECONDS % mark.period == 0)
            STEPS.periodic(mark.work, SECONDS);
    }
}

void lf_mainLoop()
{
    const MainLoopSteps& steps = lf_steps();
    s_loopSeconds = 0;
    s_times = MainLoopTimes{};
    s_steady = false;
    LoopTime deadline = gf_loopNow() + TICK;
    LoopTime nextSecond = gf_loopNow() + kOneSecond;

    while (!gf_stopRequested()) {
        gf_loopSleepUntil(deadline);
        if (gf_stopRequested())
            break;

        const LoopTime woke = gf_loopNow();
        const bool steady = s_steady;
        s_times.lateness.add(woke - deadline);
        (steady ? s_times.steadyLateness : s_times.rampLateness).add(woke - deadline);
        gf_carryOutWindowRequests();
        steps.tick();

        LoopTime now = gf_loopNow();
        s_times.tickWork.add(now - woke);
        (steady ? s_times.steadyTickWork : s_times.rampTickWork).add(now - woke);
        if (gf_takeDeadlineRealign()) {
            deadline = now;
            ++s_times.realignedToSimulator;
        }
        while (now >= nextSecond && !gf_stopRequested()) {
            nextSecond += kOneSecond;
            // A loop held up for long does not catch up second by second.
            if (now - nextSecond > kOneSecond)
                nextSecond = now + kOneSecond;
            if (steps.secondDue && !steps.secondDue())
                continue;
            const std::uint64_t seconds = ++s_loopSeconds;
            lf_dispatchSecond(steps, seconds);
            now = gf_loopNow();
        }

        deadline += TICK;
        if (now - deadline > kMaxBehind) {
            deadline = now + TICK;
            ++s_times.realignedBehind;
        }
    }
    lf_logLoopTimes();
}

void gf_runPeriodicWork(std::uint64_t SECONDS)
{
    lf_dispatchSecond(lf_steps(), SECONDS);
}

void lf_resetMainLoopForTests()
{
    s_steps = MainLoopSteps{};
    s_stepsSet = false;
    s_loopSeconds = 0;
    s_times = MainLoopTimes{};
    s_steady = false;
    gf_takeDeadlineRealign();
}

}  // namespace qmt
