#include "core/LoopClock.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/WindowState.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace qmt {
namespace {

class ExitReasonTest : public ::testing::Test {
protected:
    void SetUp() override { gf_clearExitReason(); g_exitRequested = false; }
    void TearDown() override { gf_clearExitReason(); g_exitRequested = false; }
};

TEST_F(ExitReasonTest, TextsFollowTheNumbers)
{
    EXPECT_STREQ(gf_exitReasonText(ExitReason::notYetSet), "NOT YET SET");
    EXPECT_STREQ(gf_exitReasonText(ExitReason::simWasClosed), "SIM WAS CLOSED");
    EXPECT_STREQ(gf_exitReasonText(ExitReason::newFlight), "NEW FLIGHT");
    EXPECT_STREQ(gf_exitReasonText(ExitReason::newSettings), "NEW SETTINGS");
    EXPECT_STREQ(gf_exitReasonText(ExitReason::userClosedSim), "USER CLOSED SIM");
    EXPECT_STREQ(gf_exitReasonText(ExitReason::simConnectError), "SIMCONNECT ERROR");
    EXPECT_STREQ(gf_exitReasonText(ExitReason::readerError), "READER ERROR");
    EXPECT_STREQ(gf_exitReasonText(ExitReason::systemError), "SYSTEM ERROR");
    EXPECT_STREQ(gf_exitReasonText(ExitReason::newVersion), "NEW VERSION");
    EXPECT_STREQ(gf_exitReasonText(static_cast<ExitReason>(42)), "NOT YET SET");
}

TEST_F(ExitReasonTest, OnlyThreeReasonsRestart)
{
    for (int r = 0; r <= 8; ++r) {
        const auto reason = static_cast<ExitReason>(r);
        const bool restarts = reason == ExitReason::newSettings || reason == ExitReason::simConnectError
            || reason == ExitReason::readerError;
        EXPECT_EQ(gf_isRestartReason(reason), restarts) << r;
        EXPECT_EQ(gf_defaultRestartDelay(reason) > 0, restarts) << r;
    }
    EXPECT_EQ(gf_defaultRestartDelay(ExitReason::readerError), 15);
    EXPECT_EQ(gf_defaultRestartDelay(ExitReason::simConnectError), 9);
    EXPECT_NE(gf_exitCodeOf(ExitReason::systemError), 0);
    EXPECT_EQ(gf_exitCodeOf(ExitReason::simWasClosed), 0);
}

TEST_F(ExitReasonTest, TheFirstReasonWinsWithItsDelay)
{
    EXPECT_EQ(gf_exitReason(), ExitReason::notYetSet);
    EXPECT_FALSE(gf_setExitReason(ExitReason::notYetSet));
    EXPECT_TRUE(gf_setExitReason(ExitReason::simConnectError, 9));
    EXPECT_FALSE(gf_setExitReason(ExitReason::readerError));
    gf_requestExit(ExitReason::systemError);
    EXPECT_TRUE(g_exitRequested);
    EXPECT_EQ(gf_exitReason(), ExitReason::simConnectError);
    EXPECT_EQ(gf_restartDelaySeconds(), 9);
}

TEST_F(ExitReasonTest, AmongRacingThreadsExactlyOneReasonIsSet)
{
    std::vector<std::thread> threads;
    std::atomic<int> winners{0};
    for (int r = 1; r <= 8; ++r)
        threads.emplace_back([r, &winners] {
            if (gf_setExitReason(static_cast<ExitReason>(r)))
                ++winners;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(winners, 1);
    EXPECT_NE(gf_exitReason(), ExitReason::notYetSet);
    EXPECT_EQ(gf_restartDelaySeconds(), gf_defaultRestartDelay(gf_exitReason()));
}

class StatusTest : public ::testing::Test {
protected:
    void SetUp() override { gf_resetStatusForTests(); gf_resetWindowForTests(); }
    void TearDown() override { gf_resetStatusForTests(); gf_resetWindowForTests(); }
};

TEST_F(StatusTest, AnErrorLineHoldsTheStatusLineBack)
{
    gf_setStatus("Scanning for liveries ...");
    EXPECT_EQ(gf_statusText(), "Scanning for liveries ...");
    const auto repaints = g_repaintCount.load();
    gf_setError("reading data files failed!");
    EXPECT_GT(g_repaintCount.load(), repaints);
    gf_setStatus("something else");
    gf_clearStatus();
    EXPECT_EQ(gf_statusText(), "Scanning for liveries ...");
    EXPECT_EQ(gf_errorText(), "reading data files failed!");
}

TEST_F(StatusTest, ClearingAndRepaint)
{
    gf_setStatus("a");
    const auto repaints = g_repaintCount.load();
    gf_clearStatus();
    EXPECT_EQ(gf_statusText(), "");
    EXPECT_EQ(g_repaintCount.load(), repaints + 1);
}

TEST_F(StatusTest, TheStatusLineIsClearedTwentyFiveSecondsAfterItWasSet)
{
    using namespace std::chrono_literals;
    gf_useManualLoopClockForTests();
    gf_setStatus("first");
    gf_advanceLoopClockForTests(20s);
    gf_setStatus("second");  // a new line restarts the 25 s
    gf_advanceLoopClockForTests(24s);
    gf_expireStatus();
    EXPECT_EQ(gf_statusText(), "second");
    gf_advanceLoopClockForTests(1s);
    gf_expireStatus();
    EXPECT_EQ(gf_statusText(), "");
    gf_useRealLoopClock();
}

}  // namespace
}  // namespace qmt
