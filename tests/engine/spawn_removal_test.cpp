#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "core/Clock.h"
#include "core/WeekTime.h"
#include "core/WindowState.h"
#include "spawn_fixture.h"

namespace qmt::test {
namespace {

class RemovalTest : public SpawnTest {
protected:
    void SetUp() override
    {
        SpawnTest::SetUp();
        gf_resetWindowForTests();
        gf_setClockForTests(TimePoint{} + std::chrono::hours(24 * 20000));
    }

    // A live aircraft parked at stand STAND_ID for MINUTES minutes.
    LiveAc& parkedLive(uint32_t HEX, const std::string& CALLSIGN, uint32_t STAND_ID, int MINUTES)
    {
        LiveAc& ac = activeAc(HEX, CALLSIGN, 0.3, true);
        ac.flightState = FlightState::parked;
        ac.standId = STAND_ID;
        ac.parkStart = gf_nowTicks100ns() - static_cast<uint64_t>(MINUTES) * 60 * 10'000'000;
        return ac;
    }
};

TEST_F(RemovalTest, TheStaticTwinOfALiveAircraftGoes)
{
    LiveAc& live = activeAc(0x484001, "KLM1", 0.2, true);
    live.registration = "PH-BXA";
    SimAc& other = staticAc(1, "TRA5*", "PH-HZA", away(0.3));
    SimAc& twin = staticAc(2, "KLM9*", "PH-BXA", away(0.4));
    gf_removeStaticTwinsOf(live);
    EXPECT_EQ(other.state, AcState::active);
    EXPECT_EQ(twin.state, AcState::removingfromsim);

    // the same parked-traffic report
    SimAc& reported = staticAc(3, "XXX1*", "", away(0.5));
    reported.notFromParkedTraffic = 0;
    reported.parkedTrafficId = 0x484002;
    LiveAc& second = activeAc(0x484002, "KLM2", 0.2, true);
    second.registration.clear();
    gf_removeStaticTwinsOf(second);
    EXPECT_EQ(reported.state, AcState::removingfromsim);
}

TEST_F(RemovalTest, AGhostCallsignRemovesTheStaticOfItsRealCallsign)
{
    SimAc& s = staticAc(1, "EZY12*", "G-EZAB", away(0.3));
    s.callsignCopy = "EZY12";
    LiveAc& ghost = activeAc(0x484001, "EZY12_", 0.2, true);
    ghost.registration.clear();
    gf_removeStaticTwinsOf(ghost);
    EXPECT_EQ(s.state, AcState::removingfromsim);

    SimAc& t = staticAc(2, "EZY34*", "G-EZAC", away(0.3));
    t.callsignCopy = "EZY3";
    LiveAc& notGhost = activeAc(0x484002, "EZY34", 0.2, true);
    notGhost.registration.clear();
    gf_removeStaticTwinsOf(notGhost);
    EXPECT_EQ(t.state, AcState::active);
}

TEST_F(RemovalTest, AStarredStaticGoesOnceItsLiveAircraftIsOnTheGround)
{
    SimAc& s = staticAc(1, "KLM1*", "", away(0.3));
    LiveAc& live = activeAc(0x484001, "KLM1", 4.0);
    live.registration = "PH-BXA";
    gf_removeStaticSameReg();
    EXPECT_EQ(s.state, AcState::active);
    live.onGround = 1;
    gf_removeStaticSameReg();
    EXPECT_EQ(s.state, AcState::removingfromsim);
}

TEST_F(RemovalTest, AStaticInTheWayOfATaxiingAircraftGoesOnlyWhenItMoved)
{
    LiveAc& live = activeAc(0x484001, "KLM1", 0.5, true);
    const LatLon at{live.block[kBlockLat], live.block[kBlockLon]};
    SimAc& near = staticAc(1, "TRA5*", "PH-HZA", away(0.035, 0.0, at));   // 65 m: beyond 1.1 x 35.8 m
    SimAc& closeBy = staticAc(2, "TRA6*", "PH-HZB", away(0.02, 0.0, at));   // 37 m
    live.checkLat = at.lat;
    live.checkLon = at.lon;
    gf_removeStaticInWayAll();
    EXPECT_EQ(closeBy.state, AcState::active); // it has not moved since the last check

    live.checkLat = 0.0;
    gf_removeStaticInWayAll();
    EXPECT_EQ(near.state, AcState::active);
    EXPECT_EQ(closeBy.state, AcState::removingfromsim);
    EXPECT_DOUBLE_EQ(live.checkLat, at.lat);

    live.landingRoll = 1;
    SimAc& third = staticAc(3, "TRA7*", "PH-HZC", at);
    lf_removeStaticInWay(live);
    EXPECT_EQ(third.state, AcState::active);
}

TEST_F(RemovalTest, TooCloseToTheUserOnTheGround)
{
    LiveAc& far = activeAc(0x484001, "KLM1", 0.05, true);              // 93 m
    LiveAc& closeBy = activeAc(0x484002, "KLM2", 0.02, true);          // 37 m < 1.15 x 35.8 m
    gf_removeLiveTooClose();
    EXPECT_EQ(far.state, AcState::active);
    EXPECT_EQ(closeBy.state, AcState::removingfromsim);

    SimAc& s = staticAc(1, "TRA5*", "PH-HZA", away(0.018));
    gf_removeLiveTooClose(); // no live one close now: the statics are looked at
    EXPECT_EQ(s.state, AcState::removingfromsim);

    SimAc& t = staticAc(2, "TRA6*", "PH-HZB", away(0.018, 180.0));
    gf_removeLiveTooClose(); // the user has not moved since
    EXPECT_EQ(t.state, AcState::active);
}

TEST_F(RemovalTest, AnAircraftOnTheGroundAheadOfALowAirborneUserGoes)
{
    g_userOnGround = false;
    g_userAc.onGround = false;
    g_userAc.altitudeAboveGround = 400.0;
    g_userAc.heading = 0.0;
    const LatLon ahead = away(0.9, 0.0);
    const LatLon offTrack = gf_destinationPoint(ahead, 90.0 * kDegToRad, 40.0);
    LiveAc& ac = activeAc(0x484001, "KLM1", 0.0, true);
    ac.block[kBlockLat] = offTrack.lat;
    ac.block[kBlockLon] = offTrack.lon;
    LiveAc& wide = activeAc(0x484002, "KLM2", 0.0, true);
    const LatLon wideAt = gf_destinationPoint(ahead, 90.0 * kDegToRad, 300.0);
    wide.block[kBlockLat] = wideAt.lat;
    wide.block[kBlockLon] = wideAt.lon;
    // both roll toward the user, so the conflict check ahead of them has nothing to say
    ac.block[kBlockHeading] = PI;
    wide.block[kBlockHeading] = PI;
    std::swap(g_liveAcs[0], g_liveAcs[1]); // the wide one is looked at first
    gf_removeLiveInUserPath();
    EXPECT_EQ(g_liveAcs[0].state, AcState::active);
    EXPECT_EQ(g_liveAcs[1].state, AcState::removingfromsim);

    g_liveAcs[1].state = AcState::active;
    g_userAc.altitudeAboveGround = 600.0;
    gf_removeLiveInUserPath();
    EXPECT_EQ(g_liveAcs[1].state, AcState::active);
}

TEST_F(RemovalTest, TheAircraftAtAStandStaticFirstThenParkedLive)
{
    parkAirportWithStands({away(0.3, 0.0), away(0.4, 0.0)});
    LiveAc& live = parkedLive(0x484001, "KLM1", 2, 10);
    SimAc& s = staticAc(1, "TRA5*", "PH-HZA", away(0.4, 0.0), 2);
    SimAc& unplaced = staticAc(2, "TRA6*", "PH-HZB", away(0.5, 0.0), 0);
    gf_removeAcAtStand("A2");
    EXPECT_EQ(s.state, AcState::removingfromsim);
    EXPECT_EQ(live.state, AcState::active);
    gf_removeAcAtStand("A2");
    EXPECT_EQ(live.state, AcState::removingfromsim);

    gf_removeAcAtStand("");
    gf_removeAcAtStand("Z9");
    EXPECT_EQ(unplaced.state, AcState::active);
}

TEST_F(RemovalTest, ABlockedCallsignRemovesActiveAndBufferedAircraft)
{
    LiveAc& active = activeAc(0x484001, "KLM1", 3.0);
    LiveAc& buffered = bufferAc(0x484002, "KLM2");
    lf_removeWhileBlocked(0x484001);
    lf_removeWhileBlocked(0x484002);
    lf_removeWhileBlocked(0x999999);
    EXPECT_EQ(active.state, AcState::removingfromsim);
    EXPECT_EQ(buffered.remove, 1);
}

TEST_F(RemovalTest, OverTheWantedNumberTheLongestParkedLiveAircraftGoes)
{
    std::vector<LatLon> stands;
    for (int i = 0; i < 11; ++i) {
        stands.push_back(away(0.3 + 0.05 * i, 0.0));
    }
    parkAirportWithStands(stands);
    for (uint32_t i = 0; i < 10; ++i) {
        parkedLive(0x484001 + i, "KLM" + std::to_string(i + 1), i + 1, 10 + static_cast<int>(i == 6) * 100);
    }
    lf_checkMaxParkAgainst(0, 10);
    EXPECT_EQ(gf_countLiveParked(false), 10u);

    lf_checkMaxParkAgainst(1, 10); // a newcomer parks at the eleventh stand
    EXPECT_EQ(gf_findLiveAc(0x484007)->state, AcState::removingfromsim);
    EXPECT_EQ(gf_countLiveParked(false), 9u);

    RT_PARKTRAFFIC_ONLY.set(true);
    lf_checkMaxParkAgainst(5, 10);
    EXPECT_EQ(gf_countLiveParked(false), 9u);
}

TEST_F(RemovalTest, StaticsOverTheWantedNumberLoseTheOldestFirst)
{
    parkAirportWithStands({away(0.3, 0.0), away(0.4, 0.0), away(0.5, 0.0)});
    g_weekTime = WeekTime{2, 12};  // ages are taken only at a set time of week
    SimAc& newer = staticAc(1, "TRA5*", "PH-HZA", away(0.3, 0.0), 1);
    newer.timeStamp = WeekTime{2, 10};
    SimAc& older = staticAc(2, "TRA6*", "PH-HZB", away(0.4, 0.0), 2);
    older.timeStamp = WeekTime{1, 40};
    parkedLive(0x484001, "KLM1", 3, 5);
    INITIAL_LOAD_ONLY.set(true);
    lf_checkMaxParkAgainst(0, 2);
    EXPECT_EQ(older.state, AcState::removingfromsim);
    EXPECT_EQ(newer.state, AcState::active);
    EXPECT_EQ(gf_countLiveParked(false), 1u); // live parked aircraft stay with the initial load only
}

// Sunday night is older than Monday morning, though its week slot is the larger one.
TEST_F(RemovalTest, TheOldestStaticIsFoundAcrossMondayMidnight)
{
    parkAirportWithStands({away(0.3, 0.0), away(0.4, 0.0)});
    g_weekTime = WeekTime{1, 2};
    SimAc& monday = staticAc(1, "TRA5*", "PH-HZA", away(0.3, 0.0), 1);
    monday.timeStamp = WeekTime{1, 0};
    SimAc& sunday = staticAc(2, "TRA6*", "PH-HZB", away(0.4, 0.0), 2);
    sunday.timeStamp = WeekTime{7, 46};
    lf_checkMaxParkAgainst(0, 1);
    EXPECT_EQ(sunday.state, AcState::removingfromsim);
    EXPECT_EQ(monday.state, AcState::active);
}

TEST_F(RemovalTest, TheReconciliationRemovesTheLongestParkedFirst)
{
    parkAirportWithStands({away(0.3, 0.0), away(0.4, 0.0), away(0.5, 0.0)});
    LiveAc& a = parkedLive(0x484001, "KLM1", 1, 30);
    LiveAc& b = parkedLive(0x484002, "KLM2", 2, 90);
    LiveAc& c = parkedLive(0x484003, "KLM3", 3, 60);
    gf_removeLiveParked(2);
    EXPECT_EQ(a.state, AcState::active);
    EXPECT_EQ(b.state, AcState::removingfromsim);
    EXPECT_EQ(c.state, AcState::removingfromsim);
    gf_removeLiveParked(5);
    EXPECT_EQ(a.state, AcState::removingfromsim);
}

TEST_F(RemovalTest, TheMeanHoursParkedOfLiveAircraftReachTheWindow)
{
    g_weekTime = WeekTime{2, 10};
    LiveAc& a = parkedLive(0x484001, "KLM1", 0, 0);
    a.timeStamp = WeekTime{2, 6}; // 4 half hours ago
    LiveAc& b = parkedLive(0x484002, "KLM2", 0, 0);
    b.timeStamp = WeekTime{1, 48 - 2}; // 12 half hours ago
    LiveAc& c = parkedLive(0x484003, "KLM3", 0, 0);
    c.timeStamp = WeekTime{}; // never placed: counted, no age
    EXPECT_EQ(gf_countLiveParked(true), 3u);
    EXPECT_FLOAT_EQ(gf_windowValues().meanAgeLiveParked, static_cast<float>(16.0 / 6.0 + 0.5));
    // Across Monday midnight the ages still count.
    g_weekTime = WeekTime{1, 1};
    a.timeStamp = WeekTime{7, 47};
    b.timeStamp = WeekTime{1, 0};
    EXPECT_EQ(gf_countLiveParked(true), 3u);
    EXPECT_FLOAT_EQ(gf_windowValues().meanAgeLiveParked, static_cast<float>(3.0 / 6.0 + 0.5));

    g_liveAcs.clear();
    EXPECT_EQ(gf_countLiveParked(true), 0u);
    EXPECT_FLOAT_EQ(gf_windowValues().meanAgeLiveParked, 0.0f);
}

} // namespace
} // namespace qmt::test
