// New reports of known live aircraft: what joins the stream, what is changed or dropped, and
// what a report means for a parked, pushed-back, held, extrapolated or landing aircraft.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "core/Clock.h"
#include "core/Log.h"
#include "engine/NewPoint.h"
#include "spawn_fixture.h"

namespace qmt::test {
namespace {

constexpr double kMetre = kNmPerMetre;
constexpr double kEast = 90.0 * kDegToRad;
constexpr int32_t kWeekTicks = 60480000;

class NewPointTest : public SpawnTest {
protected:
    void TearDown() override
    {
        gf_closeLog();
        gf_resetClockForTests();
        STRAIGHT_PBS_ONLY.reset();
        HOLDING_THRESHOLD_METERS.reset();
        SpawnTest::TearDown();
    }

    // An active aircraft heading east with two points 0.1 nm apart, on the ground (taxi) or flying.
    static LiveAc& movingAc(bool ON_GROUND = true, uint32_t HEX = 0x484001)
    {
        LiveAc& ac = activeAc(HEX, "KLM1", 1.0, ON_GROUND);
        ac.block[kBlockHeading] = kEast;
        return ac;
    }

    // A report DISTANCE_NM from the aircraft's last point along BEARING_DEG, due 5 s after it.
    static StreamPos report(const LiveAc& AC, double DISTANCE_NM, double BEARING_DEG, double GS, bool AIRBORNE)
    {
        const StreamPos& last = AC.stream.back();
        return point(away(DISTANCE_NM, BEARING_DEG, {last.lat, last.lon}), AIRBORNE, AIRBORNE ? 3000.0 : 0.0, GS,
                     last.playTick + 500);
    }

    // A parked aircraft at stand "A1" 1 nm east of home, the stand marked live-occupied.
    static LiveAc& parkedAc()
    {
        const LatLon at = away(1.0);
        parkAirportWithStands({at});
        LiveAc& ac = activeAc(0x484002, "KLM2", 1.0, true);
        ac.flightState = FlightState::parked;
        ac.lat = at.lat;
        ac.lon = at.lon;
        ac.heading = kEast;
        ac.standId = 1;
        ac.stream.resize(1);
        ac.stream.front() = point(at, false, 0.0, 0.0, g_tickCounter.load(), true);
        g_stands[0].liveHere = 1;
        return ac;
    }

    static StreamPos fromStand(const LiveAc& AC, double METRES, double BEARING_DEG = 90.0)
    {
        return point(away(METRES * kMetre, BEARING_DEG, {AC.lat, AC.lon}), false, 0.0, 3.0,
                     g_tickCounter.load() + 3000);
    }

    // The situation check of a report that the test does not look at afterwards.
    static bool accepts(LiveAc& AC, StreamPos POINT) { return checkExtendingSituations(AC, POINT); }
};

TEST_F(NewPointTest, TheTwoHundredAndFirstQueuedPointRemovesTheAircraft)
{
    LiveAc& ac = movingAc();
    while (ac.stream.size() < 200) {
        ac.stream.push_back(report(ac, 20 * kMetre, 90.0, 15.0, false));
    }
    decodeExisting(ac, report(ac, 20 * kMetre, 90.0, 15.0, false));
    EXPECT_EQ(ac.stream.size(), 201u);
    EXPECT_EQ(ac.state, AcState::active);

    decodeExisting(ac, report(ac, 20 * kMetre, 90.0, 15.0, false));
    EXPECT_EQ(ac.stream.size(), 201u);
    EXPECT_EQ(ac.state, AcState::removingfromsim);
    EXPECT_TRUE(inRemovalDeque(ac.objectId));
}

TEST_F(NewPointTest, BeforeTheSpawnReportsJoinTheStreamInPlayOrder)
{
    LiveTrafficRecord first = record(0x484010, "KLM10", "B738", 1000.0);
    first.pos.playTick = 700;
    lf_mergeLiveRecord(first);
    ASSERT_EQ(g_liveAcs.size(), 1u);

    LiveTrafficRecord second = record(0x484010, "KLM10", "B738", 1010.0);
    const LatLon east = away(1.0, 90.0, {first.pos.lat, first.pos.lon});
    second.pos.lat = east.lat;
    second.pos.lon = east.lon;
    second.pos.playTick = 700; // not later than the last point
    lf_mergeLiveRecord(second);

    LiveTrafficRecord third = second;
    third.reportTime = 1020.0;
    third.pos.playTick = 2000; // a repeat of the last position in the air means nothing
    lf_mergeLiveRecord(third);

    const LiveAc& ac = g_liveAcs.front();
    ASSERT_EQ(ac.stream.size(), 2u);
    EXPECT_EQ(ac.stream[1].playTick, 701);
    EXPECT_EQ(ac.flightState, FlightState::birth);
}

TEST_F(NewPointTest, RepeatsAndJitterOfTheReportedPosition)
{
    LiveAc& ac = movingAc();
    const StreamPos last = ac.stream.back();

    // a standing aircraft whose position wobbles a few metres stays where it was
    StreamPos wobble = report(ac, 5 * kMetre, 0.0, 2.0, false);
    ASSERT_TRUE(lf_isNewPointPlausible(ac, wobble));
    EXPECT_EQ(wobble.lat, last.lat);
    EXPECT_EQ(wobble.lon, last.lon);
    EXPECT_EQ(wobble.playTick, last.playTick);
    EXPECT_EQ(wobble.groundSpeed, 0.0);
    EXPECT_EQ(wobble.repeat, 1);

    StreamPos airWobble = report(ac, 5 * kMetre, 0.0, 150.0, true);
    EXPECT_FALSE(lf_isNewPointPlausible(ac, airWobble));

    // a repeat on the ground is a stop
    StreamPos repeat = ac.stream.back();
    repeat.groundSpeed = 4.0;
    ASSERT_TRUE(lf_isNewPointPlausible(ac, repeat));
    EXPECT_EQ(repeat.repeat, 1);
    EXPECT_EQ(repeat.groundSpeed, 0.0);

    // on the take-off run, neither a stop nor a wobble is believed
    ac.departing = 1;
    ac.stream.back().groundSpeed = 60.0;
    StreamPos runWobble = report(ac, 5 * kMetre, 90.0, 70.0, false);
    EXPECT_FALSE(lf_isNewPointPlausible(ac, runWobble));
    StreamPos runStop = report(ac, 100 * kMetre, 90.0, 0.0, false);
    EXPECT_FALSE(lf_isNewPointPlausible(ac, runStop));
    ac.stream.back().groundSpeed = 40.0;
    StreamPos slowStop = report(ac, 100 * kMetre, 90.0, 0.0, false);
    EXPECT_TRUE(lf_isNewPointPlausible(ac, slowStop));
    ac.stream.back().groundSpeed = 30.0;
    StreamPos runRepeat = ac.stream.back();
    runRepeat.groundSpeed = 5.0;
    EXPECT_FALSE(lf_isNewPointPlausible(ac, runRepeat));
}

TEST_F(NewPointTest, AnAirborneRepeatIsDroppedExceptForARotorcraft)
{
    LiveAc& plane = movingAc(false);
    StreamPos again = plane.stream.back();
    EXPECT_FALSE(lf_isNewPointPlausible(plane, again));

    LiveAc& heli = movingAc(false, 0x484003);
    heli.category = static_cast<uint32_t>(AcCategory::Rotorcraft);
    StreamPos hover = heli.stream.back();
    EXPECT_TRUE(lf_isNewPointPlausible(heli, hover));
    EXPECT_EQ(hover.repeat, 1);
}

TEST_F(NewPointTest, AStandingAircraftKeepsOneStopAndPlaysItNow)
{
    LiveAc& ac = movingAc();
    StreamPos stop = ac.stream.back();
    stop.repeat = 1;
    stop.groundSpeed = 0.0;
    ac.stream.assign(3, stop);
    StreamPos again = stop;
    again.repeat = 0;
    again.playTick = stop.playTick + 1500;
    decodeExisting(ac, again);

    ASSERT_EQ(ac.stream.size(), 2u);
    EXPECT_EQ(ac.stream[0].playTick, g_tickCounter.load() + 1);
    EXPECT_EQ(ac.stream[1].repeat, 1);
    EXPECT_EQ(ac.stream[1].playTick, stop.playTick + 1500);
}

TEST_F(NewPointTest, AShortStopIsForgottenWhenTheAircraftMovesOn)
{
    LiveAc& ac = movingAc();
    StreamPos stop = ac.stream.back();
    stop.repeat = 1;
    stop.groundSpeed = 0.0;
    stop.playTick += 500;
    ac.stream.push_back(stop);
    decodeExisting(ac, report(ac, 100 * kMetre, 90.0, 15.0, false));
    ASSERT_EQ(ac.stream.size(), 3u);
    EXPECT_EQ(ac.stream[1].repeat, 0);
    EXPECT_EQ(ac.stream[2].repeat, 0);

    // a long stop far from the next report is kept
    LiveAc& other = movingAc(true, 0x484004);
    stop = other.stream.back();
    stop.repeat = 1;
    stop.groundSpeed = 0.0;
    stop.playTick += 3000;
    other.stream.push_back(stop);
    decodeExisting(other, report(other, 100 * kMetre, 90.0, 15.0, false));
    ASSERT_EQ(other.stream.size(), 4u);
    EXPECT_EQ(other.stream[2].repeat, 1);
}

TEST_F(NewPointTest, AParkedAircraftWanderingAroundItsStandStays)
{
    LiveAc& ac = parkedAc();
    gf_setClockForTests(SysClock::time_point(std::chrono::hours(500000)));
    const double bearings[] = {90.0, 0.0, 270.0, 180.0, 45.0, 200.0};
    for (const double b : bearings) {
        EXPECT_FALSE(accepts(ac, fromStand(ac, 2.0, b)));
    }
    EXPECT_EQ(ac.pullOutPending, 0);
    EXPECT_EQ(ac.keepParked, 1);
    EXPECT_EQ(ac.parkStart, gf_nowTicks100ns());
    EXPECT_EQ(g_stands[0].liveHere, 1);

    // stepping out twice, back in, and out again starts the count anew
    for (const double m : {6.0, 10.0, 6.0, 14.0}) {
        EXPECT_FALSE(accepts(ac, fromStand(ac, m)));
    }
    EXPECT_EQ(ac.standLeaveCount, 1u);
}

TEST_F(NewPointTest, ThreeStepsAwayFromTheStandStartTheDeparture)
{
    LiveAc& ac = parkedAc();
    for (const double m : {2.0, 6.0, 10.0}) {
        decodeExisting(ac, fromStand(ac, m));
        EXPECT_EQ(ac.stream.size(), 1u);
    }
    decodeExisting(ac, fromStand(ac, 14.0));
    ASSERT_EQ(ac.stream.size(), 2u);
    EXPECT_EQ(ac.stream.back().repeat, 0);
    EXPECT_EQ(ac.pullOutPending, 1);
    EXPECT_EQ(ac.flightState, FlightState::parked);
    EXPECT_EQ(g_stands[0].liveHere, 0);
}

TEST_F(NewPointTest, AReportFarFromTheStandLeavesItOrRemovesTheAircraft)
{
    LiveAc& near = parkedAc();
    decodeExisting(near, fromStand(near, 150.0));
    EXPECT_EQ(near.stream.size(), 2u);
    EXPECT_EQ(near.pullOutPending, 1);
    EXPECT_EQ(g_stands[0].liveHere, 0);
    EXPECT_EQ(near.state, AcState::active);

    g_liveAcs.clear();
    gf_resetStandsForTests();
    LiveAc& far = parkedAc();
    decodeExisting(far, fromStand(far, 250.0));
    EXPECT_EQ(far.stream.size(), 1u);
    EXPECT_EQ(far.state, AcState::removingfromsim);

    // just come off a parking drive, the stand reaches twice as far
    g_liveAcs.clear();
    gf_resetStandsForTests();
    LiveAc& parking = parkedAc();
    parking.previousFlightState = FlightState::parking;
    EXPECT_FALSE(accepts(parking, fromStand(parking, 150.0)));
    EXPECT_EQ(parking.pullOutPending, 0);
}

TEST_F(NewPointTest, AnAircraftDrivingOntoAStandThatIsReportedPastItTaxisOn)
{
    LiveAc& ac = parkedAc();
    ac.flightState = FlightState::parking;
    StreamPos past = fromStand(ac, 100.0);
    past.repeat = 1;
    EXPECT_TRUE(checkExtendingSituations(ac, past));
    EXPECT_EQ(ac.flightState, FlightState::taxi);
    EXPECT_EQ(ac.previousFlightState, FlightState::parking);
    EXPECT_EQ(past.repeat, 0);
}

TEST_F(NewPointTest, ALeavingAircraftIsJudgedByItsStayAtTheStand)
{
    for (const int minutes : {30, 20}) {
        g_liveAcs.clear();
        gf_resetStandsForTests();
        LiveAc& ac = parkedAc();
        ac.category = static_cast<uint32_t>(AcCategory::Large);
        ac.touchedDown = 1;
        ac.extrapolations = 1;
        ac.stream.front().playTick = g_tickCounter.load() - minutes * 6000 + kWeekTicks;
        decodeExisting(ac, fromStand(ac, 150.0));
        EXPECT_EQ(ac.shortTurnaround, minutes == 20 ? 1 : 0) << minutes;
        EXPECT_EQ(ac.touchedDown, 0);
        EXPECT_EQ(ac.extrapolations, 0);
        EXPECT_EQ(ac.stream.front().playTick, g_tickCounter.load() + 1);
        EXPECT_EQ(ac.earlyWindow, 3000);
    }

    // a towed aircraft (it left soon after landing) that starts a take-off run is worth a line in the log
    ASSERT_TRUE(gf_openLog(m_work / "Log.txt", "test"));
    LiveAc& towed = g_liveAcs.front();
    lf_towedTakeOffCheck(towed);
    EXPECT_NE(logText().find("==> towed aircraft takes-off? " + gf_acDescription(towed)), std::string::npos);
}

TEST_F(NewPointTest, APushBackReportTellsTheSideOfTheTurn)
{
    LiveAc& ac = movingAc();
    ac.flightState = FlightState::pushing_back;
    ac.pushBackCountdown = 2;
    const std::size_t size = ac.stream.size();

    StreamPos clockwise = report(ac, 10 * kMetre, 270.0, 3.0, false);
    clockwise.track = 110.0;
    EXPECT_FALSE(checkExtendingSituations(ac, clockwise));
    EXPECT_EQ(ac.pushBackTurnKnown, 1);
    EXPECT_EQ(ac.pushBackTurnRight, 1);

    StreamPos anticlockwise = clockwise;
    anticlockwise.hasTrueHeading = 1;
    anticlockwise.trueHeading = 60.0 * kDegToRad; // the true heading wins over the track
    EXPECT_FALSE(checkExtendingSituations(ac, anticlockwise));
    EXPECT_EQ(ac.pushBackTurnRight, 0);

    ac.pushBackTurnKnown = 0;
    StreamPos noTrack = clockwise;
    noTrack.track = 0.0;
    EXPECT_FALSE(checkExtendingSituations(ac, noTrack));
    EXPECT_EQ(ac.pushBackTurnKnown, 0);

    STRAIGHT_PBS_ONLY.set(true);
    EXPECT_FALSE(checkExtendingSituations(ac, clockwise));
    EXPECT_EQ(ac.pushBackTurnKnown, 0);
    EXPECT_EQ(ac.stream.size(), size);
}

TEST_F(NewPointTest, APushedBackAircraftWaitsUntilReportsMoveAway)
{
    LiveAc& ac = movingAc();
    ac.flightState = FlightState::pushed_back;
    ac.pushBackDistance = 900.0;
    ac.standId = 4;
    const double halfSpan = ac.halfSpan;
    const LatLon here{ac.block[kBlockLat], ac.block[kBlockLon]};
    auto at = [&](double METRES) { return point(away(METRES * kMetre, 90.0, here), false, 0.0, 8.0, 5000); };

    EXPECT_FALSE(accepts(ac, at(30.0)));
    EXPECT_EQ(ac.holding, 1);
    EXPECT_EQ(ac.holdStartTick, static_cast<uint32_t>(g_tickCounter.load()));
    EXPECT_NEAR(ac.pushBackDistance, 30.0 * kMetre, 1e-9);
    EXPECT_FALSE(accepts(ac, at(40.0))); // within 2.75 half spans
    ASSERT_GT(60.0 * kMetre, 2.75 * halfSpan);
    StreamPos away60 = at(60.0);
    away60.repeat = 1;
    EXPECT_TRUE(checkExtendingSituations(ac, away60));
    EXPECT_EQ(away60.repeat, 0);
    EXPECT_EQ(ac.flightState, FlightState::taxi);
    EXPECT_EQ(ac.previousFlightState, FlightState::pushed_back);
    EXPECT_EQ(ac.holding, 0);
    EXPECT_EQ(ac.standId, 0u);

    // farther than 6 half spans goes at once, whatever came before
    LiveAc& other = movingAc(true, 0x484005);
    other.flightState = FlightState::pushed_back;
    other.pushBackDistance = 900.0;
    const LatLon there{other.block[kBlockLat], other.block[kBlockLon]};
    EXPECT_TRUE(accepts(other, point(away(120.0 * kMetre, 90.0, there), false, 0.0, 8.0, 5000)));
    EXPECT_EQ(other.flightState, FlightState::taxi);
}

TEST_F(NewPointTest, AHeldAircraftGoesOnToAReportItCanReach)
{
    // Real taxi reports come 10 to 40 s apart: the next one lies a few hundred metres on. Held
    // until it came, the aircraft drives on to it; only a report it cannot reach at a plausible
    // speed before it is due (within the late window) removes it.
    HOLDING_THRESHOLD_METERS.set(100);
    struct Case {
        double metres;
        double kt;
        int32_t dueIn;
        bool kept;
    };
    for (const Case& c : {Case{50.0, 10.0, 3000, true}, Case{400.0, 20.0, 2000, true},
                          Case{400.0, 20.0, -2500, false}, Case{2500.0, 15.0, 3000, false}}) {
        g_liveAcs.clear();
        LiveAc& ac = movingAc();
        ac.holding = 1;
        ac.holdStartTick = 5;
        ac.extrapolations = 1;
        const StreamPos front = ac.stream.front();
        decodeExisting(ac, point(away(c.metres * kMetre, 90.0, {front.lat, front.lon}), false, 0.0, c.kt,
                                 g_tickCounter.load() + c.dueIn));
        EXPECT_EQ(ac.state, c.kept ? AcState::active : AcState::removingfromsim) << c.metres << " m";
        EXPECT_EQ(ac.holding, 0);
        EXPECT_EQ(ac.extrapolations, c.kept ? 0 : 1);
    }
}

// A hold, a go-around or a circuit turns back: a report behind an extrapolated flight ends the
// made-up points like one ahead of it, and the aircraft turns to it at once.
TEST_F(NewPointTest, AnExtrapolatedFlightFollowsAReportBehindOrAheadOfIt)
{
    for (const double bearingDeg : {200.0, 80.0}) {
        g_liveAcs.clear();
        g_tickCounter = 1000;
        LiveAc& ac = movingAc(false);
        ac.extrapolations = 5;
        const std::size_t had = ac.stream.size();
        g_tickCounter = 4000;
        decodeExisting(ac, report(ac, 1.0, bearingDeg, 200.0, true));
        EXPECT_EQ(ac.stream.size(), had + 1) << bearingDeg;
        EXPECT_EQ(ac.extrapolations, 0) << bearingDeg;
        EXPECT_EQ(ac.stream.front().playTick, 4001) << bearingDeg;
        EXPECT_EQ(ac.earlyWindow, 3000);
    }
}

// One report kilometres off, as no aircraft flies, is dropped with a line in the log; the next
// plausible one is taken.
TEST_F(NewPointTest, AnOutlierReportInTheAirIsDropped)
{
    ASSERT_TRUE(gf_openLog(m_work / "Log.txt", "test"));
    LiveAc& ac = movingAc(false);
    const std::size_t had = ac.stream.size();
    decodeExisting(ac, report(ac, 3.0, 90.0, 120.0, true)); // 3 nm in 5 s
    EXPECT_EQ(ac.stream.size(), had);
    EXPECT_NE(logText().find("KLM1 report dropped: 2160 kt from the last one"), std::string::npos);
    decodeExisting(ac, report(ac, 0.1, 90.0, 120.0, true));
    EXPECT_EQ(ac.stream.size(), had + 1);
}

TEST_F(NewPointTest, TheRollOutKeepsItsSpeedDown)
{
    LiveAc& ac = movingAc();
    ac.landingRoll = 1;
    ac.stream[0].groundSpeed = 20.0;
    ac.stream[1].groundSpeed = 20.0;
    decodeExisting(ac, report(ac, 0.05, 90.0, 35.0, false));
    EXPECT_EQ(ac.stream.back().groundSpeed, 35.0);

    ac.stream.back().groundSpeed = 50.0;
    decodeExisting(ac, report(ac, 0.05, 90.0, 60.0, false));
    EXPECT_EQ(ac.stream.back().groundSpeed, 50.0);
    EXPECT_EQ(ac.departing, 0);

    // a report behind the last point takes that point's place
    const std::size_t size = ac.stream.size();
    const StreamPos before = ac.stream[size - 2];
    decodeExisting(ac, report(ac, 0.02, 270.0, 30.0, false));
    ASSERT_EQ(ac.stream.size(), size);
    EXPECT_EQ(ac.stream[size - 2].lat, before.lat);
    EXPECT_EQ(ac.stream[size - 2].lon, before.lon);
    EXPECT_EQ(ac.stream.back().groundSpeed, 30.0);
}

TEST_F(NewPointTest, WithOnePointLeftTheRollOutGoesOnFromWhereTheAircraftIs)
{
    LiveAc& ac = movingAc();
    ac.landingRoll = 1;
    ac.stream.resize(1);
    ac.block[kBlockLat] += 0.001;
    decodeExisting(ac, report(ac, 0.2, 90.0, 30.0, false));
    ASSERT_EQ(ac.stream.size(), 2u);
    EXPECT_EQ(ac.stream.front().lat, ac.block[kBlockLat]);
    EXPECT_EQ(ac.stream.front().playTick, g_tickCounter.load() + 1);

    ac.approach = 1;
    ac.stream.resize(1);
    decodeExisting(ac, report(ac, 0.2, 270.0, 30.0, false));
    EXPECT_EQ(ac.stream.size(), 1u);
}

TEST_F(NewPointTest, ALandingThatLiftsOffAgainBecomesADeparture)
{
    LiveAc& ac = movingAc();
    ac.landingRoll = 1;
    ac.approach = 1;
    ac.touchedDown = 1;
    ac.stream.back().airborne = 1;
    decodeExisting(ac, report(ac, 0.2, 90.0, 130.0, true));
    EXPECT_EQ(ac.departing, 1);
    EXPECT_EQ(ac.flightState, FlightState::taxi);
    EXPECT_EQ(ac.throttleIndex, 3u);
    EXPECT_EQ(ac.flapsIndex, 1u);
    EXPECT_EQ(ac.approach, 0);
    EXPECT_EQ(ac.touchedDown, 0);
    EXPECT_EQ(ac.earlyWindow, 3000);
    EXPECT_EQ(ac.lateWindow, 5000);
    {
        // it climbs away with the spoilers in: nothing would retract them in flight
        std::lock_guard lock(g_simQueueMutex);
        const auto spoilers = [&](uint32_t VALUE) {
            return std::count_if(g_clientEventQueue.begin(), g_clientEventQueue.end(), [&](const ClientEventCmd& C) {
                return C.objectId == ac.objectId && C.eventId == SPOILERS_SET && C.value == VALUE;
            });
        };
        EXPECT_EQ(spoilers(16383), 0);
        EXPECT_EQ(spoilers(0), 1);
    }

    // a single airborne report during the roll-out is no touch-and-go
    LiveAc& rolling = movingAc(true, 0x484006);
    rolling.landingRoll = 1;
    decodeExisting(rolling, report(rolling, 0.2, 90.0, 100.0, true));
    EXPECT_EQ(rolling.departing, 0);
}

TEST_F(NewPointTest, ATaxiingAircraftDepartsWhenReportsShowATakeOffRun)
{
    LiveAc& airborne = movingAc();
    decodeExisting(airborne, report(airborne, 0.2, 90.0, 30.0, true));
    EXPECT_EQ(airborne.departing, 1);
    EXPECT_EQ(airborne.throttleIndex, 0u);
    EXPECT_EQ(airborne.flapsIndex, 1u);
    EXPECT_EQ(airborne.lateWindow, 5000);

    LiveAc& fast = movingAc(true, 0x484007);
    fast.stream.back().groundSpeed = 30.0;
    decodeExisting(fast, report(fast, 0.2, 90.0, 45.0, false));
    EXPECT_EQ(fast.departing, 0);
    decodeExisting(fast, report(fast, 0.2, 90.0, 50.0, false));
    EXPECT_EQ(fast.departing, 1);
}

TEST_F(NewPointTest, AReportWithNothingToCompareWithIsDroppedAndLogged)
{
    ASSERT_TRUE(gf_openLog(m_work / "Log.txt", "test"));
    LiveAc& landing = movingAc();
    landing.landingRoll = 1;
    landing.stream.clear();
    StreamPos p = point(away(1.0), false, 0.0, 30.0, 5000);
    EXPECT_FALSE(checkNewPosDuringLanding(landing, p));

    LiveAc& extrapolated = movingAc(false, 0x484008);
    extrapolated.extrapolations = 3;
    extrapolated.stream.clear();
    StreamPos q = point(away(1.0), true, 3000.0, 200.0, 5000);
    EXPECT_FALSE(checkExtendingSituations(extrapolated, q));

    const std::string log = logText();
    EXPECT_NE(log.find("==> checkNewPosDuringLanding empty sz?\n"), std::string::npos);
    EXPECT_NE(log.find("==> checkExtendingSituations empty sz?\n"), std::string::npos);
}

} // namespace
} // namespace qmt::test
