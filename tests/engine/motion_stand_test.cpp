#include <cmath>

#include "core/WeekTime.h"
#include "engine/StandRules.h"
#include "motion_fixture.h"

namespace qmt::test {
namespace {

class StandTest : public MotionTest {
protected:
    void SetUp() override
    {
        MotionTest::SetUp();
        parkAirportWithStands({away(1.0), away(1.2)});
        for (Stand& s : g_stands) {
            s.heading = 0.0; // noses north
        }
        g_parkLoaded = 1;
        m_stand = LatLon{g_stands[0].latitude, g_stands[0].longitude};
    }

    // A live aircraft parked on stand 1 whose next report lies METRES away along BEARING_DEG.
    LiveAc& parkedLeaving(double METRES, double BEARING_DEG)
    {
        LiveAc& ac = driven({pt(m_stand, 0.0, 0.0, now()), pt(away(METRES * kMetre, BEARING_DEG, m_stand), 0.0, 5.0,
                                                            now() + 1000)},
                            FlightState::parked);
        ac.stream.front().repeat = 1;
        ac.lat = m_stand.lat;
        ac.lon = m_stand.lon;
        ac.heading = 0.0;
        ac.standId = 1;
        ac.block[kBlockHeading] = 0.0;
        ac.pullOutPending = 1;
        return ac;
    }

    // A taxiing aircraft that stops at the given position.
    static LiveAc& stoppingAt(LatLon STOP, uint32_t HEX = 0x484001)
    {
        const LatLon before = away(10.0 * kMetre, 180.0, STOP);
        LiveAc& ac = driven({pt(before, 0.0, 5.0, now()), pt(STOP, 0.0, 0.0, now() + 300)}, FlightState::taxi, "B738", HEX);
        ac.stream.back().repeat = 1;
        return ac;
    }

    double metresFrom(LatLon A, const StreamPos& P) const { return gf_distanceNm(A.lat, A.lon, P.lat, P.lon) / kMetre; }

    LatLon m_stand;
};

TEST_F(StandTest, AReportAheadPullsOutOneBehindPushesBack)
{
    openLog();
    LiveAc& ahead = parkedLeaving(40.0, 30.0);
    nextPosMain(ahead);
    EXPECT_EQ(ahead.flightState, FlightState::taxi);
    ASSERT_EQ(ahead.stream.size(), 1u);
    EXPECT_NEAR(metresFrom(m_stand, ahead.stream.front()), 2.0 * kB738HalfSpanNm / kMetre, 0.01);
    EXPECT_EQ(ahead.stream.front().playTick, now() + lf_legTicks(2.0 * kB738HalfSpanNm, 4.0));
    EXPECT_NE(logText().find("A1      : KLM1     pulling out"), std::string::npos);

    g_liveAcs.clear();
    LiveAc& behind = parkedLeaving(40.0, 120.0);
    behind.turning = 1; // left over from the drive onto the stand
    nextPosMain(behind);
    EXPECT_EQ(behind.flightState, FlightState::pushing_back);
    EXPECT_EQ(behind.turning, 0);
    ASSERT_EQ(behind.stream.size(), 3u); // midpoint, end point, side point
    const double radius = g_stands[0].radius;
    const int32_t t1 = lf_legTicks(2.5 * radius, 4.0);
    EXPECT_NEAR(metresFrom(m_stand, behind.stream[1]), 2.5 * radius / kMetre, 0.01);
    EXPECT_EQ(behind.stream[1].playTick, now() + t1);
    EXPECT_NEAR(metresFrom(m_stand, behind.stream[0]), 1.25 * radius / kMetre, 0.01);
    const StreamPos& side = behind.stream[2];
    EXPECT_NEAR(gf_distanceNm(behind.stream[1].lat, behind.stream[1].lon, side.lat, side.lon), kB738HalfSpanNm, 1e-6);
    EXPECT_GT(side.lon, m_stand.lon); // back - 90 degrees: east of a stand facing north
    EXPECT_LT(behind.savedPushBackPoint.lon, m_stand.lon);
}

TEST_F(StandTest, APushBackEndsStraightOrSwingsTheTailToTheReportedSide)
{
    for (const bool turnRight : {false, true}) {
        g_liveAcs.clear();
        LiveAc& ac = parkedLeaving(40.0, 180.0);
        ticks(1);
        ASSERT_EQ(ac.flightState, FlightState::pushing_back);
        ac.pushBackTurnKnown = turnRight ? 1 : 0;
        ac.pushBackTurnRight = 1;
        const LatLon straightEnd{ac.stream[1].lat, ac.stream[1].lon};
        int guard = 0;
        while (ac.flightState == FlightState::pushing_back && guard++ < 20000) {
            ticks(1);
        }
        ASSERT_EQ(ac.flightState, FlightState::pushed_back);
        const auto& b = ac.block;
        if (!turnRight) {
            EXPECT_LT(gf_distanceNm(b[kBlockLat], b[kBlockLon], straightEnd.lat, straightEnd.lon), 0.1 * kMetre);
            EXPECT_NEAR(b[kBlockHeading], 0.0, 1e-9); // no swing of the nose
        } else {
            EXPECT_LT(b[kBlockLon], m_stand.lon); // tail to the west
            EXPECT_GT(b[kBlockHeading], 0.0);     // nose turned clockwise
            EXPECT_LT(b[kBlockHeading], PI);
        }
        EXPECT_EQ(ac.pushBackDistance, 900.0);
    }
}

TEST_F(StandTest, ParkingNeedsAFreeStandCloseToTheStop)
{
    LiveAc& ac = stoppingAt(away(30.0 * kMetre, 90.0, m_stand));
    try2Park(ac, false);
    EXPECT_EQ(ac.flightState, FlightState::taxi); // 30 m: too far unless towed
    try2Park(ac, true);
    EXPECT_EQ(ac.flightState, FlightState::taxi); // the same stop is not tried again
    ac.parkTryLat = 0.0;
    g_reservedStand = "A1";
    try2Park(ac, true);
    EXPECT_EQ(ac.flightState, FlightState::taxi); // reserved for the user
    g_reservedStand.clear();
    ac.parkTryLat = 0.0;
    try2Park(ac, true);
    EXPECT_EQ(ac.flightState, FlightState::parking);
    EXPECT_EQ(ac.standId, 1u);
    ASSERT_EQ(ac.stream.size(), 3u);
    EXPECT_EQ(ac.stream[1].lat, m_stand.lat);
    EXPECT_EQ(ac.stream[2].repeat, 1);

    // the user's own stand is never taken
    g_liveAcs.clear();
    g_userOnGround = true;
    g_userAc.onGround = true;
    g_userAc.latitude = m_stand.lat;
    g_userAc.longitude = m_stand.lon;
    gf_forgetStandAtPosition();
    LiveAc& other = stoppingAt(away(5.0 * kMetre, 90.0, m_stand));
    try2Park(other, false);
    EXPECT_EQ(other.flightState, FlightState::taxi);
}

TEST_F(StandTest, TheDriveOntoAStandTakesAtLeastOneSecondThenStops)
{
    LiveAc& ac = stoppingAt(away(1.0 * kMetre, 90.0, m_stand));
    const int32_t start = ac.stream.front().playTick;
    drive2Stand(ac, m_stand.lat, m_stand.lon, 0.5);
    ASSERT_EQ(ac.stream.size(), 4u);
    EXPECT_EQ(ac.stream[1].groundSpeed, ac.turnFactor); // the stop before it becomes the start
    EXPECT_EQ(ac.stream[2].playTick, start + 100);
    EXPECT_EQ(ac.stream[3].playTick, start + 150);
    EXPECT_EQ(ac.stream[2].groundSpeed, ac.turnFactor);
    EXPECT_EQ(ac.stream[3].groundSpeed, 0.0);
    EXPECT_EQ(ac.bearingToNext, 0.5);
}

TEST_F(StandTest, ArrivalParksOnTheStandWithTheStandsHeading)
{
    openLog();
    LiveAc& ac = driven({pt(away(1.0 * kMetre, 90.0, m_stand), 0.0, 0.0, now())}, FlightState::parking);
    ac.lat = m_stand.lat;
    ac.lon = m_stand.lon;
    ac.heading = 0.0;
    ac.standId = 1;
    ac.block[kBlockHeading] = 0.4; // the last leg did not bring it round
    nextPosMain(ac);
    EXPECT_EQ(ac.flightState, FlightState::parked);
    EXPECT_EQ(ac.block[kBlockHeading], 0.0);
    EXPECT_EQ(ac.block[kBlockLat], m_stand.lat);
    EXPECT_EQ(ac.timeStamp, g_weekTime.load());
    EXPECT_NE(logText().find("A1      : KLM1     arrived at stand"), std::string::npos);
    EXPECT_EQ(g_twinCheckIds.back(), ac.id);
    EXPECT_EQ(ac.stream.front().playTick, now() + 60480000); // stays a week

    LiveAc& short_ = driven({pt(away(3.0 * kMetre, 90.0, m_stand), 0.0, 0.0, now())}, FlightState::parking, "B738",
                            0x484002);
    short_.lat = m_stand.lat;
    short_.lon = m_stand.lon;
    short_.standId = 1;
    short_.parkTryLat = short_.stream.front().lat; // where it claimed the stand
    short_.parkTryLon = short_.stream.front().lon;
    g_stands[0].liveHere = 0;
    nextPosMain(short_);
    EXPECT_EQ(short_.flightState, FlightState::taxi); // 3 m short of it
}

// Reports that turn a corner just before the stop near a stand: the aircraft drives onto the
// stand (not along a path set up toward the points the parking dropped), nose along the way it
// moves, and arrives with the stand's heading instead of snapping round to it.
TEST_F(StandTest, ACornerBeforeTheStopIsDrivenOntoTheStandAlongItsHeading)
{
    const LatLon south = away(30.0 * kMetre, 180.0, m_stand);
    const LatLon a = away(80.0 * kMetre, 90.0, south);
    const LatLon stop = away(8.0 * kMetre, 180.0, m_stand);
    LiveAc& ac = driven({pt(a, 0.0, 8.0, now()), pt(south, 0.0, 8.0, now() + 2000), pt(stop, 0.0, 3.0, now() + 3000),
                         pt(stop, 0.0, 0.0, now() + 3500)},
                        FlightState::taxi);
    ac.stream.back().repeat = 1;
    double noseOff = 0.0;
    double fastestTurn = 0.0;
    double lastTurn = 0.0;
    for (int tick = 0; tick < 12000 && ac.flightState != FlightState::parked; ++tick) {
        const auto before = ac.block;
        ticks(1);
        const auto& b = ac.block;
        lastTurn = std::abs(gf_wrapRadians(b[kBlockHeading] - before[kBlockHeading]));
        if (ac.flightState != FlightState::parked) {
            fastestTurn = std::max(fastestTurn, lastTurn);
        }
        if (gf_distanceNm(before[kBlockLat], before[kBlockLon], b[kBlockLat], b[kBlockLon]) > 0.005 * kMetre) {
            const double motion = gf_bearing(before[kBlockLat], before[kBlockLon], b[kBlockLat], b[kBlockLon]);
            noseOff = std::max(noseOff, std::abs(gf_wrapRadians(b[kBlockHeading] - motion)) * kRadToDeg);
        }
    }
    EXPECT_EQ(ac.flightState, FlightState::parked);
    EXPECT_EQ(ac.standId, 1u);
    EXPECT_LT(noseOff, 15.0);
    EXPECT_LE(fastestTurn, ac.pitchRate + 1e-9);
    EXPECT_LT(lastTurn * kRadToDeg, 1.0); // it arrives along the stand: no snap round to it
}

// A stand stays held while a live aircraft stands on it: a second one that arrives there is the
// one that goes, and one driving onto it keeps others from claiming it.
TEST_F(StandTest, TwoArrivalsAtOneStand)
{
    openLog();
    LiveAc& first = driven({pt(m_stand, 0.0, 0.0, now())}, FlightState::parking);
    first.lat = m_stand.lat;
    first.lon = m_stand.lon;
    first.standId = 1;
    nextPosMain(first); // arrives, and gets its week-ahead point in the same dry step
    ASSERT_EQ(first.flightState, FlightState::parked);
    EXPECT_EQ(first.stream.back().playTick, now() + 60480000);
    EXPECT_EQ(g_stands[0].liveHere, 1);

    LiveAc& second = driven({pt(m_stand, 0.0, 0.0, now())}, FlightState::parking, "B738", 0x484002);
    second.lat = m_stand.lat;
    second.lon = m_stand.lon;
    second.standId = 1;
    nextPosMain(second);
    EXPECT_EQ(second.state, AcState::removingfromsim);
    EXPECT_EQ(first.state, AcState::active);
    EXPECT_NE(logText().find("KLM2 removed: its stand is taken"), std::string::npos);

    // while one drives onto the other stand, a third does not claim it
    LiveAc& driving = stoppingAt(away(5.0 * kMetre, 90.0, {g_stands[1].latitude, g_stands[1].longitude}), 0x484003);
    try2Park(driving, false);
    ASSERT_EQ(driving.flightState, FlightState::parking);
    LiveAc& third = stoppingAt(away(5.0 * kMetre, 270.0, {g_stands[1].latitude, g_stands[1].longitude}), 0x484004);
    try2Park(third, false);
    EXPECT_EQ(third.flightState, FlightState::taxi);
}

TEST_F(StandTest, StandRulesBetweenARealAircraftAndItsGhost)
{
    const auto parkedAs = [&](const std::string& CALLSIGN, uint32_t HEX) -> LiveAc& {
        LiveAc& ac = driven({pt(m_stand, 0.0, 0.0, now() + 100000)}, FlightState::parked, "B738", HEX);
        ac.callsign = CALLSIGN;
        ac.standId = 1;
        return ac;
    };
    LiveAc& ghost = parkedAs("KLM1_", 0x484001);
    EXPECT_TRUE(lf_removeForStand(1, "KLM1")); // the real one replaces its ghost
    EXPECT_EQ(ghost.state, AcState::removingfromsim);
    g_liveAcs.clear();
    LiveAc& real = parkedAs("KLM1", 0x484001);
    EXPECT_FALSE(lf_removeForStand(1, "KLM1_")); // the ghost never replaces the real one
    EXPECT_EQ(real.state, AcState::active);
    real.keepParked = 1;
    EXPECT_FALSE(lf_removeForStand(1, "KLM2")); // still reported at its stand
    real.keepParked = 0;
    EXPECT_TRUE(lf_removeForStand(1, "KLM2"));
    EXPECT_EQ(real.state, AcState::removingfromsim);
}

} // namespace
} // namespace qmt::test
