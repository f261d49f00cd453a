#include "TestFolder.h"
#include "app/Worker.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Reset.h"
#include "core/StatusLine.h"
#include "core/WeekTime.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "feed/TrafficFeed.h"
#include "parking/ParkAirport.h"
#include "parking/ParkChange.h"
#include "parking/Reconcile.h"
#include "simlink/SimClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qmt {
void lf_resetMainLoopForTests();
void lf_tickStep();
namespace {

// The real periodic work of the shell, driven mark by mark.
class PeriodicWorkTest : public ::testing::Test {
protected:
    void SetUp() override { lf_reset(); }
    void TearDown() override { lf_reset(); }
    void lf_reset()
    {
        gf_resetCoreForTests();
        gf_resetEngineForTests();
        gf_resetSimLinkForTests();
        gf_resetFeedForTests();
        gf_resetParkAirportForTests();
        gf_resetWindowForTests();
        gf_resetStatusForTests();
        lf_resetMainLoopForTests();
        g_parkChangeRequested = false;
        g_parkChangeArmed = false;
        g_parkRenewAll = false;
        g_renewalMinutes = 20;
        g_reservedStand.clear();
    }
    LiveAc& addLiveAc(std::uint32_t ID, const std::string& CALLSIGN, AcState STATE)
    {
        AcProfile profile;
        profile.id = ID;
        profile.callsign = CALLSIGN;
        g_liveAcs.emplace_back(StreamPos{}, profile, 0.0);
        g_liveAcs.back().state = STATE;
        return g_liveAcs.back();
    }
};

TEST_F(PeriodicWorkTest, EverySecondKeepsTheWeekTimeFromTheShiftedClock)
{
    // Monday 2026-12-07 13:45 UTC.
    gf_setClockForTests(TimePoint(std::chrono::seconds(1796651100)));
    gf_runPeriodicWork(1);
    EXPECT_EQ(g_weekTime.load(), (WeekTime{1, 27}));
    gf_setTimeShift(std::chrono::hours(-14));  // back to Sunday 23:45
    gf_runPeriodicWork(2);
    EXPECT_EQ(g_weekTime.load(), (WeekTime{7, 47}));
}

TEST_F(PeriodicWorkTest, OneTwinCheckIdASecondMarksTheLearnedStandLookup)
{
    LiveAc& ac = addLiveAc(0x484B2C, "KLM1723", AcState::active);
    g_twinCheckIds = {0x484B2C, 0x999999, 0x484B2C};
    gf_runPeriodicWork(1);
    EXPECT_EQ(g_liveAcs.front().learnedStandChecked, 1);
    EXPECT_EQ(g_twinCheckIds.size(), 2u);
    gf_runPeriodicWork(2);  // an id no longer live is dropped
    EXPECT_EQ(g_twinCheckIds.size(), 1u);
    (void)ac;
}

// The closing down tells how many live aircraft were active at once at most, beside how many
// were asked for, so that a measurement can check it had them.
TEST_F(PeriodicWorkTest, TheMostLiveAircraftActiveAtOnceAreLogged)
{
    const std::filesystem::path folder = test::gf_testFolder("periodic");
    std::filesystem::create_directories(folder);
    gf_logMostActiveLive();  // what earlier tests counted, before the log is open
    ASSERT_TRUE(gf_openLog(folder / "Log.txt", "test"));
    MAX_LIVE_SEL.set(3);
    addLiveAc(1, "A1", AcState::active);
    addLiveAc(2, "A2", AcState::active);
    addLiveAc(3, "A3", AcState::adding2sim);
    gf_runPeriodicWork(1);
    g_liveAcs[2].state = AcState::active;
    gf_runPeriodicWork(2);
    g_liveAcs[0].state = AcState::removingfromsim;
    gf_runPeriodicWork(3);
    gf_logMostActiveLive();
    gf_logMostActiveLive();  // counted again from nothing
    gf_closeLog();
    std::ifstream in(folder / "Log.txt");
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("Live aircraft: at most 3 active at once (MAX_LIVE_SEL 3)\nLive aircraft: at most 0 active"),
              std::string::npos)
        << log;
    std::filesystem::remove_all(folder);
}

TEST_F(PeriodicWorkTest, TheChosenCallsignGivesItsObjectId)
{
    addLiveAc(0x484B2C, "KLM1723", AcState::adding2sim).objectId = 0;
    addLiveAc(0x484B2D, "KLM1723", AcState::active).objectId = 77;
    CALLSIGN_2_OBJECTID.choose("KLM1723");
    gf_runPeriodicWork(1);
    EXPECT_EQ(g_callsignObjectId, 77u);
}

TEST_F(PeriodicWorkTest, TheLiveTwinOfTheUserAircraftIsRemoved)
{
    addLiveAc(0x484B2C, "PH-QLN", AcState::active).objectId = 12;
    addLiveAc(0x484B2D, "KLM1", AcState::active).objectId = 13;
    g_userCallsign = "PH-QLN";
    gf_runPeriodicWork(1);
    EXPECT_EQ(g_liveAcs[0].state, AcState::removingfromsim);
    EXPECT_EQ(g_liveAcs[1].state, AcState::active);
}

TEST_F(PeriodicWorkTest, AParkChangeIsArmedAtOneFifteenSecondMarkAndCarriedOutAtTheNext)
{
    g_parkChangeRequested = true;
    gf_runPeriodicWork(14);
    EXPECT_FALSE(g_parkChangeArmed);
    gf_runPeriodicWork(15);
    EXPECT_TRUE(g_parkChangeArmed);
    EXPECT_TRUE(g_parkBusy);
    EXPECT_TRUE(g_buffersLoaded);
    EXPECT_FALSE(gf_controlState("MAX_PARK_SEL").enabled);
    {
        std::lock_guard lock(g_bufferMutex);
        g_bufferCallsigns.insert("KLM1723");
    }
    gf_runPeriodicWork(30);
    EXPECT_FALSE(g_parkChangeArmed);
    EXPECT_FALSE(g_parkChangeRequested);
    // Without a park airport nothing is reconciled: the gathering stops and the controls come back.
    EXPECT_FALSE(g_buffersLoaded);
    EXPECT_TRUE(g_bufferCallsigns.empty());
    EXPECT_FALSE(g_parkBusy);
}

TEST_F(PeriodicWorkTest, TheRenewalCountdownRunsOnlyWhileAParkAirportIsLoadedAndIdle)
{
    g_renewalMinutes = 2;
    gf_runPeriodicWork(60);
    EXPECT_EQ(g_renewalMinutes, 2);  // nothing loaded

    g_parkLoaded = 1;
    gf_runPeriodicWork(120);
    EXPECT_EQ(g_renewalMinutes, 1);
    EXPECT_EQ(gf_windowValues().renewalMinutes, 1);
    gf_runPeriodicWork(180);
    EXPECT_EQ(g_renewalMinutes, 20);
    EXPECT_TRUE(g_parkChangeRequested);  // the renewal asks for a park change
    g_parkChangeRequested = false;
    g_parkChangeArmed = false;

    g_parkBusy = true;
    gf_runPeriodicWork(300);  // not a 16-second mark: the manager would free an idle park
    EXPECT_EQ(g_renewalMinutes, 20);
    g_parkBusy = false;

    g_parkChangeRequested = true;
    gf_runPeriodicWork(360);  // also a 15-second mark: the request is armed
    EXPECT_EQ(g_renewalMinutes, 20);
    g_parkChangeRequested = false;
    g_parkChangeArmed = false;

    INITIAL_LOAD_ONLY.set(true);
    gf_runPeriodicWork(420);
    EXPECT_EQ(g_renewalMinutes, 20);
}

TEST_F(PeriodicWorkTest, TheQueryBoxFollowsTheUserEveryFiveSeconds)
{
    g_userAc.latitude = 52.3;
    g_userAc.longitude = 4.76;
    g_userAc.dataArrived = true;
    gf_runPeriodicWork(4);
    g_trafficRangeNm = 10.0;
    gf_runPeriodicWork(5);
    const QueryBox box = gf_trafficQueryBox();
    EXPECT_TRUE(box.contains(52.3, 4.76));
    EXPECT_FALSE(box.contains(53.3, 4.76));
}


TEST_F(PeriodicWorkTest, WithoutAFlightTheTickIsHeldBackAndSaysSoOnce)
{
    const auto ticked = g_tickCounter.load();
    g_simFlightRunning = false;
    g_addingStack.push_back(1); // a tick would take it
    for (int i = 0; i < 3; ++i)
        lf_tickStep();
    EXPECT_EQ(g_tickCounter.load(), ticked);
    EXPECT_EQ(gf_statusText(), "No flight runs in the simulator: the traffic waits for one");
    gf_clearStatus();
    lf_tickStep();
    EXPECT_EQ(gf_statusText(), "");
    g_addingStack.clear();
    g_simFlightRunning = true;
    lf_tickStep();
    EXPECT_EQ(g_tickCounter.load(), ticked + 1);
}

}  // namespace
}  // namespace qmt
