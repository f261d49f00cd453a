#include "app/Worker.h"
#include "core/LoopClock.h"
#include "core/StopFlags.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace qmt {
void lf_resetMainLoopForTests();
namespace {

using namespace std::chrono_literals;

class MainLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gf_useManualLoopClockForTests();
        lf_resetMainLoopForTests();
        g_stopSession = false;
        g_exitRequested = false;
        gf_clearExitReason();
    }
    void TearDown() override
    {
        lf_resetMainLoopForTests();
        g_stopSession = false;
        g_exitRequested = false;
        gf_clearExitReason();
        gf_useRealLoopClock();
    }

    // Runs the loop with counting steps until the seconds counter reaches STOP_AT.
    void runCounting(std::uint64_t STOP_AT)
    {
        gf_setMainLoopStepsForTests(MainLoopSteps{
            [this] {
                ++tickCount;
                tickTimes.push_back(gf_loopNow());
            },
            [this, STOP_AT](PeriodicWork WORK, std::uint64_t SECONDS) {
                marks[WORK].push_back(SECONDS);
                if (WORK == PeriodicWork::everySecond && SECONDS == STOP_AT)
                    g_stopSession = true;
            }});
        start = gf_loopNow();
        lf_mainLoop();
    }

    int tickCount = 0;
    std::vector<LoopTime> tickTimes;
    std::map<PeriodicWork, std::vector<std::uint64_t>> marks;
    LoopTime start;
};

TEST_F(MainLoopTest, SixtyOneSecondsGiveSixThousandOneHundredTicksAndEachMark)
{
    runCounting(61);

    EXPECT_EQ(tickCount, 6100);
    EXPECT_EQ(gf_loopNow() - start, 61s);
    EXPECT_EQ(marks[PeriodicWork::everySecond].size(), 61u);
    EXPECT_EQ(marks[PeriodicWork::every5s],
              (std::vector<std::uint64_t>{5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60}));
    EXPECT_EQ(marks[PeriodicWork::every15s], (std::vector<std::uint64_t>{15, 30, 45, 60}));
    EXPECT_EQ(marks[PeriodicWork::every16s], (std::vector<std::uint64_t>{16, 32, 48}));
    EXPECT_EQ(marks[PeriodicWork::everyMinute], (std::vector<std::uint64_t>{60}));
    EXPECT_EQ(marks[PeriodicWork::every61s], (std::vector<std::uint64_t>{61}));
    EXPECT_TRUE(marks[PeriodicWork::every1200s].empty());
    EXPECT_EQ(gf_loopSeconds(), 61u);
    // Ticks keep their 10 ms spacing.
    for (std::size_t i = 1; i < tickTimes.size(); ++i)
        ASSERT_EQ(tickTimes[i] - tickTimes[i - 1], 10ms) << "tick " << i;
}

TEST_F(MainLoopTest, LateTicksAndMovedDeadlinesAreCounted)
{
    int tick = 0;
    gf_setMainLoopStepsForTests(MainLoopSteps{
        [&tick] {
            ++tick;
            if (tick == 5)
                gf_advanceLoopClockForTests(15ms);  // the next tick starts 5 ms late
            if (tick == 10)
                gf_advanceLoopClockForTests(150ms); // far behind: the deadline moves on
            if (tick == 20)
                g_realignDeadline = true;
            if (tick == 100)
                g_stopSession = true;
        },
        [](PeriodicWork, std::uint64_t) {},
        {}});
    lf_mainLoop();

    const MainLoopTimes& t = gf_mainLoopTimes();
    EXPECT_EQ(t.lateness.count(), 100u);
    EXPECT_EQ(t.lateness.percentile(0.5), 0us);
    EXPECT_EQ(t.lateness.longest(), 5000us);
    EXPECT_EQ(t.tickWork.longest(), 150000us);
    EXPECT_EQ(t.realignedBehind, 1u);
    EXPECT_EQ(t.realignedToSimulator, 1u);
}

// The ramp's slow ticks stay out of the steady part's figures, which begin with the first tick
// after the second at which all live aircraft were active.
TEST_F(MainLoopTest, TheSteadyPartStartsAtTheSecondAllLiveAircraftAreActive)
{
    bool steady = false;
    gf_setMainLoopStepsForTests(MainLoopSteps{
        [&steady] { gf_advanceLoopClockForTests(steady ? 1ms : 3ms); },
        [&steady](PeriodicWork WORK, std::uint64_t SECONDS) {
            if (WORK != PeriodicWork::everySecond)
                return;
            if (SECONDS == 3) {
                gf_noteAllLiveActive();
                steady = true;
            }
            if (SECONDS == 5)
                gf_noteAllLiveActive(); // said again: the part goes on from second 3
            if (SECONDS == 8)
                g_stopSession = true;
        }});
    lf_mainLoop();

    const MainLoopTimes& t = gf_mainLoopTimes();
    ASSERT_TRUE(t.steadyFromSecond.has_value());
    EXPECT_EQ(*t.steadyFromSecond, 3u);
    EXPECT_EQ(t.rampTickWork.count(), 300u);
    EXPECT_EQ(t.rampTickWork.percentile(0.99), 3000us);
    EXPECT_EQ(t.steadyTickWork.count(), 500u);
    EXPECT_EQ(t.steadyTickWork.longest(), 1000us);
    EXPECT_EQ(t.steadyLateness.count() + t.rampLateness.count(), t.lateness.count());
    EXPECT_EQ(t.tickWork.count(), 800u);
}

TEST_F(MainLoopTest, LongMarksComeAtTheirSeconds)
{
    runCounting(1200);
    EXPECT_EQ(marks[PeriodicWork::every1200s], (std::vector<std::uint64_t>{1200}));
    EXPECT_EQ(marks[PeriodicWork::every61s].size(), 19u);
    EXPECT_EQ(tickCount, 120000);
}

TEST_F(MainLoopTest, PeriodicDispatchAtADaysSecondRunsEveryMark)
{
    std::vector<PeriodicWork> order;
    gf_setMainLoopStepsForTests(MainLoopSteps{
        [] {}, [&order](PeriodicWork WORK, std::uint64_t) { order.push_back(WORK); }});
    // 86400 is a multiple of 5, 15, 16, 60 and 1200 but not of 61.
    gf_runPeriodicWork(86400);
    EXPECT_EQ(order, (std::vector<PeriodicWork>{PeriodicWork::everySecond, PeriodicWork::every5s,
                                               PeriodicWork::every15s, PeriodicWork::every16s,
                                               PeriodicWork::everyMinute, PeriodicWork::every1200s,
                                               PeriodicWork::every86400s}));
}

TEST_F(MainLoopTest, AStallOfMoreThanATenthMovesTheDeadlineToNowPlusTen)
{
    int ticks = 0;
    std::vector<LoopTime> times;
    gf_setMainLoopStepsForTests(MainLoopSteps{
        [&] {
            ++ticks;
            times.push_back(gf_loopNow());
            if (ticks == 10)
                gf_advanceLoopClockForTests(500ms);  // this tick took half a second
            if (ticks == 20)
                gf_advanceLoopClockForTests(95ms);   // slow, but within the 100 ms
            if (ticks == 40)
                g_exitRequested = true;
        },
        [](PeriodicWork, std::uint64_t) {}});
    lf_mainLoop();

    // After the long stall the next tick comes 10 ms after the stalled one ended: no burst.
    EXPECT_EQ(times[10] - times[9], 510ms);
    // A short delay is caught up: the deadlines stay on the 10 ms grid, ticks come at once.
    EXPECT_EQ(times[20] - times[19], 95ms);
    EXPECT_EQ(times[21] - times[19], 95ms);
    EXPECT_EQ(times[30] - times[10], 200ms);
}

TEST_F(MainLoopTest, AStopFlagSetBeforeTheLoopEndsItWithoutATick)
{
    int ticks = 0;
    gf_setMainLoopStepsForTests(MainLoopSteps{[&] { ++ticks; }, [](PeriodicWork, std::uint64_t) {}});
    g_stopSession = true;
    lf_mainLoop();
    EXPECT_EQ(ticks, 0);
}

TEST_F(MainLoopTest, TheExitFlagEndsTheLoopAfterTheTickThatSetIt)
{
    int ticks = 0;
    gf_setMainLoopStepsForTests(MainLoopSteps{
        [&] {
            if (++ticks == 250)
                gf_requestExit(ExitReason::readerError);
        },
        [](PeriodicWork, std::uint64_t) {}});
    lf_mainLoop();
    EXPECT_EQ(ticks, 250);
    EXPECT_EQ(gf_loopSeconds(), 2u);
    EXPECT_EQ(gf_exitReason(), ExitReason::readerError);
}

TEST_F(MainLoopTest, ARealignmentPutsTheNextTickTenMillisecondsAfterNow)
{
    std::vector<LoopTime> times;
    gf_setMainLoopStepsForTests(MainLoopSteps{
        [&] {
            times.push_back(gf_loopNow());
            if (times.size() == 5) {
                gf_advanceLoopClockForTests(3ms);
                g_realignDeadline = true;
            }
            if (times.size() == 8)
                g_stopSession = true;
        },
        [](PeriodicWork, std::uint64_t) {}});
    lf_mainLoop();
    EXPECT_EQ(times[5] - times[4], 13ms);
    EXPECT_EQ(times[6] - times[5], 10ms);
}


// The per-second work follows the simulator's one-second flag: while the simulator is paused
// (no fresh user data) the work and its seconds wait; the ticks go on.
TEST_F(MainLoopTest, SecondsWithoutTheSimulatorsFlagAreNotWorked)
{
    int ticks = 0;
    std::vector<std::uint64_t> worked;
    gf_setMainLoopStepsForTests(MainLoopSteps{
        [&] {
            if (++ticks == 1000)
                g_stopSession = true;
        },
        [&](PeriodicWork WORK, std::uint64_t SECONDS) {
            if (WORK == PeriodicWork::everySecond)
                worked.push_back(SECONDS);
        },
        [&] { return ticks < 300 || ticks > 700; }});
    lf_mainLoop();
    EXPECT_EQ(ticks, 1000);
    // Loop seconds 1 and 2 are worked, 3 to 7 wait, 8 and 9 are the third and fourth.
    EXPECT_EQ(worked, (std::vector<std::uint64_t>{1, 2, 3, 4}));
    EXPECT_EQ(gf_loopSeconds(), 4u);
}

}  // namespace
}  // namespace qmt
