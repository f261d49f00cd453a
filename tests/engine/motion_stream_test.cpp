#include <cmath>
#include <limits>

#include <gsl/narrow>

#include "core/Parameters.h"
#include "engine/NewPoint.h"
#include "motion_fixture.h"

namespace qmt::test {
namespace {

using StreamTest = MotionTest;

TEST_F(StreamTest, TheNextPointIsPlayedWithinItsWindows)
{
    const LatLon a = away(1.0);
    LiveAc& ac = driven({pt(a, 0.0, 10.0, now()), pt(away(0.01, 90.0, a), 0.0, 10.0, now() + 1000)}, FlightState::taxi);
    ac.earlyWindow = 3000;
    ac.lateWindow = 3000;
    lf_adjustPlayTick(ac, 5000);
    EXPECT_EQ(ac.stream[1].playTick, now() + 4000); // at most 3000 after its reported tick
    lf_adjustPlayTick(ac, 25);
    EXPECT_EQ(ac.stream[1].playTick, now() + 1000); // at most 3000 before it
    ac.stream[1].playTick = now() - 9000;
    lf_adjustPlayTick(ac, 25);
    EXPECT_EQ(ac.stream[1].playTick, now()); // never in the past
    ac.extrapolations = 3;
    lf_adjustPlayTick(ac, 5000);
    EXPECT_EQ(ac.stream[1].playTick, now() + 5000); // made-up points have no reported time
}

TEST_F(StreamTest, SegmentSpeedIsTheMeanOrTheReportedTimingWithAOneKnotFloor)
{
    const LatLon a = away(1.0);
    const LatLon b = away(100.0 * kMetre, 90.0, a);
    EXPECT_DOUBLE_EQ(lf_segmentSpeed(pt(a, 0, 10.0, 0), pt(b, 0, 20.0, 0)), 15.0);
    const double d = gf_distanceNm(a.lat, a.lon, b.lat, b.lon);
    EXPECT_NEAR(lf_segmentSpeed(pt(a, 0, 0.0, 0), pt(b, 0, 0.0, 1000)), d * 360000.0 / 1000.0, 1e-9);
    EXPECT_NEAR(lf_segmentSpeed(pt(a, 0, 0.0, 1000), pt(b, 0, 0.0, 10)), d * 360000.0 / 25.0, 1e-9);
    EXPECT_DOUBLE_EQ(lf_segmentSpeed(pt(a, 0, 0.0, 0), pt(away(1.0 * kMetre, 90.0, a), 0, 0.0, 100000)), 1.0);
    EXPECT_DOUBLE_EQ(lf_segmentSpeed(pt(a, 0, 0.0, 0), pt(b, 0, 0.5, 0)), 1.0);
    EXPECT_EQ(lf_legTicks(1.0, 100.0), 3600);
    EXPECT_THROW(lf_legTicks(10000.0, 1.0), gsl::narrowing_error);
}

TEST_F(StreamTest, ALateLegCatchesUpButNotANewAircraftsFirst)
{
    // 1 nm at 120 kt reported, due in 10 s: 30 s at the reported speed, 24 s at a quarter more
    for (const auto& [first, seconds] : {std::pair{false, 24.0}, {true, 30.0}}) {
        g_liveAcs.clear();
        const LatLon a = away(5.0);
        LiveAc& ac = driven({pt(a, 3000.0, 120.0, now(), true), pt(away(1.0, 90.0, a), 3000.0, 120.0, now() + 1000, true)},
                            FlightState::flying);
        lf_paceLeg(ac, first);
        EXPECT_NEAR(ac.stream[1].playTick - now(), seconds * 100.0, 2.0) << first;
    }
}

TEST_F(StreamTest, AnOverduePointIsStillApproachedOverTwentyFiveTicks)
{
    const LatLon a = away(1.0);
    const LatLon b = away(1.0 * kMetre, 90.0, a);
    LiveAc& ac = driven({pt(a, 0.0, 10.0, now()), pt(b, 0.0, 10.0, now() - 50)}, FlightState::taxi);
    nextPosMain(ac);
    EXPECT_EQ(ac.stream.front().playTick, now() + 25);
    EXPECT_NEAR(ac.lonStep * 25.0, b.lon - a.lon, 1e-12);
    ticks(25);
    EXPECT_NEAR(ac.block[kBlockLon], b.lon, 1e-9);
}

TEST_F(StreamTest, AnAirborneAircraftWithoutReportsFliesEightSlowerPointsThenGoes)
{
    LiveAc& ac = driven({pt(away(5.0), 3000.0, 200.0, now(), true)}, FlightState::flying);
    ac.block[kBlockHeading] = PI / 2.0;
    double speed = 200.0;
    for (int k = 1; k <= 8; ++k) {
        ASSERT_TRUE(lf_streamRanDry(ac)) << k;
        const StreamPos& made = ac.stream.back();
        speed *= 0.95;
        EXPECT_NEAR(made.groundSpeed, speed, 1e-9);
        EXPECT_EQ(made.playTick, ac.stream.front().playTick + 800);
        EXPECT_GT(made.lon, ac.stream.front().lon); // on along the heading
        ac.stream.pop_front();
    }
    EXPECT_FALSE(lf_streamRanDry(ac));
    EXPECT_EQ(ac.extrapolations, -1);

    // close to the edge of the traffic range it is given up at once
    LiveAc& edge = driven({pt(away(59.6), 3000.0, 200.0, now(), true)}, FlightState::flying, "B738", 0x484002);
    nextPosMain(edge);
    EXPECT_EQ(edge.state, AcState::removingfromsim);
    EXPECT_EQ(queuedRemovals(edge.objectId), 1u);
}

TEST_F(StreamTest, OnApproachTheMadeUpPointsDescendButAHelicoptersKeepItsHeight)
{
    for (const auto& [model, altAfter] : {std::pair{"B738", 420.0}, {"EC35", 500.0}}) {
        g_liveAcs.clear();
        LiveAc& ac = driven({pt(away(3.0), 500.0, 60.0, now(), true)}, FlightState::flying, model);
        ac.block[kBlockHeading] = PI / 2.0;
        ac.approach = 1;
        ASSERT_TRUE(lf_streamRanDry(ac));
        EXPECT_NEAR(ac.stream.back().alt, altAfter, 0.1) << model;
    }
}

TEST_F(StreamTest, AParkedAircraftWithoutReportsStaysAWeekAndKeepsItsStand)
{
    parkAirportWithStands({away(1.0)});
    LiveAc& ac = driven({pt(away(1.0), 0.0, 0.0, now())}, FlightState::parked);
    ac.standId = 1;
    ac.keepParked = 1;
    g_stands[0].liveHere = 1;
    ASSERT_TRUE(lf_streamRanDry(ac));
    EXPECT_EQ(ac.stream.back().playTick, now() + 60480000);
    EXPECT_EQ(ac.stream.back().repeat, 1);
    EXPECT_EQ(ac.extrapolations, 1);
    EXPECT_EQ(ac.keepParked, 0);
    EXPECT_EQ(g_stands[0].liveHere, 1); // it still stands there: no other aircraft parks on it
}

TEST_F(StreamTest, ATaxiingAircraftWithoutReportsHoldsUntilTheLimitOrANeighbour)
{
    MAX_HOLDING_MINUTES.set(2);
    LiveAc& ac = driven({pt(away(1.0), 0.0, 10.0, now())}, FlightState::taxi);
    const int32_t start = now();
    ASSERT_TRUE(lf_streamRanDry(ac));
    EXPECT_EQ(ac.holding, 1);
    EXPECT_EQ(ac.stream.back().playTick, start + 300);
    EXPECT_EQ(ac.stream.back().repeat, 1);
    g_tickCounter = start + 3 * 6000 - 1; // two whole minutes
    ASSERT_TRUE(lf_streamRanDry(ac));
    g_tickCounter = start + 3 * 6000; // three
    EXPECT_FALSE(lf_streamRanDry(ac));

    // another taxiing aircraft within 1.2 half spans ends a hold whose reports stopped a minute
    // ago; before that the next report may still come (real ones come up to 40 s apart)
    LiveAc& held = driven({pt(away(2.0), 0.0, 10.0, now())}, FlightState::taxi, "B738", 0x484002);
    LiveAc& other = driven({pt(away(2.0 + kB738HalfSpanNm), 0.0, 10.0, now())}, FlightState::taxi, "B738", 0x484003);
    (void)other;
    const int32_t held0 = now();
    EXPECT_TRUE(lf_streamRanDry(g_liveAcs[1]));
    g_tickCounter = held0 + 5999;
    EXPECT_TRUE(lf_streamRanDry(g_liveAcs[1]));
    g_tickCounter = held0 + 6000;
    EXPECT_FALSE(lf_streamRanDry(g_liveAcs[1]));
    EXPECT_EQ(held.holding, 0);
}

// A landing's roll-out runs on made-up points; when they are used up before the next report
// (real ones come up to 40 s apart), it waits on the runway for that report instead of going.
TEST_F(StreamTest, ARolledOutAircraftWaitsForItsNextReportAheadOrBehind)
{
    // the roll-out heads east; its made-up points may have run past the next report
    for (double bearing : {90.0, 270.0}) {
        g_liveAcs.clear();
        LiveAc& ac = driven({pt(away(1.0), 0.0, 20.0, now())}, FlightState::taxi);
        ac.block[kBlockHeading] = PI / 2.0;
        ac.landingRoll = 1;
        ac.extrapolations = 1; // the last made-up point was played
        ASSERT_TRUE(lf_streamRanDry(ac));
        EXPECT_EQ(ac.holding, 1);
        EXPECT_EQ(ac.stream.back().repeat, 1);
        ac.stream.pop_front();
        EXPECT_TRUE(lf_streamRanDry(ac)); // and again, 3 s later
        ac.stream.pop_front();             // the waiting point reached
        StreamPos report = pt(away(300.0 * kMetre, bearing, away(1.0)), 0.0, 15.0, now() + 3000);
        decodeExisting(ac, report);
        EXPECT_EQ(ac.state, AcState::active) << bearing;
        EXPECT_EQ(ac.holding, 0) << bearing;
        EXPECT_EQ(ac.extrapolations, 0) << bearing;
        EXPECT_EQ(ac.stream.back().lon, report.lon) << bearing;
    }
}

TEST_F(StreamTest, ADepartingAircraftWithoutReportsRunsOnAndLifts)
{
    LiveAc& ac = driven({pt(away(1.0), 0.0, 90.0, now())}, FlightState::taxi);
    ac.departing = 1;
    const double expected[][2] = {{110.0, 0.0}, {150.0, 600.0}, {170.0, 1200.0}, {180.0, 2400.0}};
    for (const auto& e : expected) {
        ASSERT_TRUE(lf_streamRanDry(ac));
        const StreamPos& made = ac.stream.back();
        EXPECT_EQ(made.groundSpeed, e[0]);
        EXPECT_EQ(made.verticalRate, e[1]);
        EXPECT_EQ(made.playTick, ac.stream.front().playTick + 300);
        ac.stream.pop_front();
    }
}

TEST_F(StreamTest, RepeatedPositionsAreSkippedInTheAirButAHelicopterHovers)
{
    const LatLon a = away(3.0);
    const LatLon b = away(0.5, 90.0, a);
    LiveAc& jet = driven({pt(a, 3000.0, 200.0, now(), true), pt(a, 3000.0, 200.0, now() + 100, true),
                          pt(b, 3000.0, 200.0, now() + 900, true)},
                         FlightState::flying);
    jet.stream[1].repeat = 1;
    nextPosMain(jet);
    ASSERT_EQ(jet.stream.size(), 1u);
    EXPECT_EQ(jet.stream.front().lat, b.lat); // the repeat was dropped, b is the point flown to
    EXPECT_GT(jet.lonStep, 0.0);

    LiveAc& heli = driven({pt(a, 500.0, 0.0, now(), true), pt(a, 500.0, 0.0, now() + 100, true)},
                          FlightState::flying, "EC35", 0x484002);
    heli.stream[1].repeat = 1;
    nextPosMain(heli);
    ASSERT_EQ(heli.stream.size(), 1u);
    EXPECT_EQ(heli.stream.front().repeat, 1);
}

TEST_F(StreamTest, AnErrorWhilePlayingIsLoggedOnceAndTheAircraftGoes)
{
    openLog();
    // an aircraft of a category that no table knows cannot be flown
    LiveAc& ac = driven({pt({0.0, 0.0}, 3000.0, 1.0, now(), true), pt({0.0, 0.1}, 3000.0, 1.0, now() + 100, true)},
                        FlightState::flying);
    ac.category = 42;
    ticks(5);
    EXPECT_EQ(ac.state, AcState::removingfromsim);
    EXPECT_EQ(queuedRemovals(ac.objectId), 1u);
    EXPECT_EQ(occurrences(logText(), "nextPosMain"), 1u);
}

TEST_F(StreamTest, ArrivingAtAStandHeldByAnotherAircraftRemovesTheNewcomerOnce)
{
    parkAirportWithStands({away(1.0)});
    LiveAc& holder = driven({pt(away(1.0), 0.0, 0.0, now() + 100000)}, FlightState::parked, "B738", 0x484002);
    holder.standId = 1;
    g_stands[0].liveHere = 1;
    LiveAc& ac = driven({pt(away(1.0), 0.0, 0.0, now())}, FlightState::parking);
    ac.standId = 1;
    nextPosMain(ac);
    EXPECT_EQ(ac.state, AcState::removingfromsim);
    EXPECT_EQ(queuedRemovals(ac.objectId), 1u);
    EXPECT_EQ(g_stands[0].liveHere, 1); // still the holder's
}

TEST_F(StreamTest, ANonFinitePositionNeverReachesTheSimulator)
{
    openLog();
    const LatLon a = away(1.0);
    LiveAc& ac = driven({pt(a, 0.0, 10.0, now() + 10000)}, FlightState::taxi);
    ac.latStep = std::numeric_limits<double>::quiet_NaN();
    updateLiveAc(ac);
    updateLiveAc(ac);
    EXPECT_EQ(ac.state, AcState::removingfromsim);
    EXPECT_TRUE(g_positionWriteBuffer.empty());
    EXPECT_EQ(queuedRemovals(ac.objectId), 1u);
    EXPECT_EQ(occurrences(logText(), "updateLiveAc not a finite position"), 1u);
    EXPECT_EQ(occurrences(logText(), "removed: not a finite position"), 1u);
}

TEST_F(StreamTest, LongitudesWrapAcrossTheAntimeridian)
{
    EXPECT_NEAR(std::abs(gf_midLongitude(179.99, -179.99)), 180.0, 1e-9);
    EXPECT_NEAR(gf_lonDifference(-179.99, 179.99), 0.02, 1e-9);
    EXPECT_NEAR(gf_wrapDegrees(359.0 - 1.0), -2.0, 1e-12);

    LiveAc& ac = driven({pt({10.0, 179.995}, 3000.0, 200.0, now(), true),
                         pt({10.0, -179.995}, 3000.0, 200.0, now() + 1000, true)},
                        FlightState::flying);
    ticks(1);
    const int32_t due = ac.stream.front().playTick;
    double farthest = 0.0;
    while (now() < due) {
        ticks(1);
        farthest = std::max(farthest, std::abs(gf_lonDifference(ac.block[kBlockLon], 179.995)));
    }
    EXPECT_LT(farthest, 0.011); // the short way over 180, never back round the globe
    EXPECT_NEAR(ac.block[kBlockLon], -179.995, 1e-6);
}

} // namespace
} // namespace qmt::test
