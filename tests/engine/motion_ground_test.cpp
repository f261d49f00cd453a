#include <cmath>
#include <vector>

#include "core/Parameters.h"
#include "motion_fixture.h"

namespace qmt::test {
namespace {

constexpr uint32_t kSpoilers = SPOILERS_SET;

class GroundTest : public MotionTest {
protected:
    // A taxi stream from A through the corner B to C, at the speed, timed by distance.
    static LiveAc& corner(double LEG_M, double TURN_DEG, double KT, uint32_t HEX = 0x484001,
                          const std::string& MODEL = "B738")
    {
        const LatLon a = away(1.0);
        const LatLon b = away(LEG_M * kMetre, 0.0, a);
        const LatLon c = away(LEG_M * kMetre, TURN_DEG, b);
        const int32_t leg = lf_legTicks(LEG_M * kMetre, KT);
        return driven({pt(a, 0.0, KT, now()), pt(b, 0.0, KT, now() + leg), pt(c, 0.0, KT, now() + 2 * leg)},
                      FlightState::taxi, MODEL, HEX);
    }

    // What a pilot beside the taxiway sees while the aircraft drives its stream to the end: the
    // largest angle between its nose and the way it moves, its fastest turn (radians a tick), how
    // close it comes to the position P, and whether it stands on every reported point when that
    // point is due.
    struct Drive {
        double noseOffDeg = 0.0;
        double fastestTurn = 0.0;
        double nearestM = 1e9;
        int reached = 0;
        int onTime = 0;
    };
    static Drive drive(LiveAc& AC, LatLon P, int32_t FIRST_TICK)
    {
        Drive d;
        while ((AC.stream.size() > 1 || now() < AC.stream.front().playTick) && AC.state == AcState::active) {
            const StreamPos& front = AC.stream.front();
            if (now() >= front.playTick && front.playTick > FIRST_TICK) {
                ++d.reached;
                d.onTime += gf_distanceNm(AC.block[kBlockLat], AC.block[kBlockLon], front.lat, front.lon) < 0.1 * kMetre;
            }
            const auto before = AC.block;
            ticks(1);
            const auto& b = AC.block;
            for (double v : b) {
                EXPECT_TRUE(std::isfinite(v));
            }
            d.fastestTurn = std::max(d.fastestTurn, std::abs(gf_wrapRadians(b[kBlockHeading] - before[kBlockHeading])));
            if (gf_distanceNm(before[kBlockLat], before[kBlockLon], b[kBlockLat], b[kBlockLon]) > 0.01 * kMetre) {
                const double motion = gf_bearing(before[kBlockLat], before[kBlockLon], b[kBlockLat], b[kBlockLon]);
                d.noseOffDeg = std::max(d.noseOffDeg, std::abs(gf_wrapRadians(b[kBlockHeading] - motion)) * kRadToDeg);
            }
            d.nearestM = std::min(d.nearestM, gf_distanceNm(b[kBlockLat], b[kBlockLon], P.lat, P.lon) / kMetre);
        }
        return d;
    }

    // Taxi replay round a square of 200 m legs, reports every 25 m at 15 kt.
    static void square(LatLon ORIGIN, double ROTATION_DEG)
    {
        const double kt = 15.0;
        const int32_t step = lf_legTicks(25.0 * kMetre, kt);
        std::vector<StreamPos> points;
        LatLon at = ORIGIN;
        int32_t tick = g_tickCounter.load();
        points.push_back(pt(at, 0.0, kt, tick));
        LatLon firstCorner{};
        for (int side = 0; side < 5; ++side) {
            const double bearing = (ROTATION_DEG + 90.0 * (side % 4)) * kDegToRad;
            const int n = side == 0 || side == 4 ? 4 : 8; // half a leg at the start and at the end
            for (int i = 0; i < n; ++i) {
                at = gf_destinationPoint(at, bearing, 25.0 * kMetre * kFeetPerNm);
                tick += step;
                points.push_back(pt(at, 0.0, kt, tick));
            }
            if (side == 0) {
                firstCorner = at;
            }
        }
        LiveAc& ac = driven({points[0], points[1]}, FlightState::taxi);
        ac.stream.insert(ac.stream.end(), points.begin() + 2, points.end());
        const Drive d = drive(ac, firstCorner, points[0].playTick);
        EXPECT_LE(d.fastestTurn, ac.pitchRate + 1e-12);
        EXPECT_LT(d.noseOffDeg, 15.0);
        EXPECT_LT(d.nearestM, 0.5); // the corner was reported: it drives through it
        EXPECT_GT(d.reached, 20);
        EXPECT_EQ(d.onTime, d.reached);
        EXPECT_LT(gf_distanceNm(ac.block[kBlockLat], ac.block[kBlockLon], at.lat, at.lon), 0.1 * kMetre);
    }

    static double metresBetween(double LAT, double LON, LatLon P)
    {
        return gf_distanceNm(LAT, LON, P.lat, P.lon) / kMetre;
    }
};

TEST_F(GroundTest, BezierPointAndItsFailures)
{
    GroundCurve c;
    c.originLat = 52.0;
    c.originLon = 4.0;
    c.startT = 0.0;
    c.endT = 1.0;
    c.controlNorth = 100.0;
    c.controlEast = 0.0;
    c.endNorth = 100.0;
    c.endEast = 100.0;
    double lat = 0.0;
    double lon = 0.0;
    double heading = 0.0;
    ASSERT_TRUE(gf_bezierPoint(c, 0.5, lat, lon, heading));
    EXPECT_NEAR((lat - 52.0) * 111132.95, 75.0, 1e-9);
    EXPECT_NEAR((lon - 4.0) * std::cos(52.0 * kDegToRad) * 111132.95, 25.0, 1e-9);
    EXPECT_NEAR(heading * kRadToDeg, 45.0, 1e-9);
    EXPECT_FALSE(gf_bezierPoint(c, 1.5, lat, lon, heading));
    c.controlEast = GroundCurve::kNone;
    EXPECT_FALSE(gf_bezierPoint(c, 0.5, lat, lon, heading));
}

TEST_F(GroundTest, TurnsTheShortWayAndNeverPastTheTarget)
{
    LiveAc& ac = driven({pt(away(1.0), 0.0, 10.0, now())}, FlightState::taxi);
    ac.pitchRateLive = 0.01;
    ac.block[kBlockHeading] = 10.0 * kDegToRad;
    lf_turnToward(ac, 190.0 * kDegToRad);
    EXPECT_NEAR(ac.block[kBlockHeading], 10.0 * kDegToRad - 0.01, 1e-12); // counter-clockwise
    ac.block[kBlockHeading] = 359.0 * kDegToRad;
    lf_turnToward(ac, 1.0 * kDegToRad);
    EXPECT_NEAR(ac.block[kBlockHeading], 359.0 * kDegToRad + 0.01, 1e-12); // clockwise over north
    ac.pitchRateLive = 0.1;
    lf_turnToward(ac, 1.0 * kDegToRad);
    EXPECT_NEAR(ac.block[kBlockHeading], 1.0 * kDegToRad, 1e-12); // ends on it
    ac.block[kBlockHeading] = 0.8 * kDegToRad;
    lf_turnToward(ac, 1.0 * kDegToRad);
    EXPECT_NEAR(ac.block[kBlockHeading], 0.8 * kDegToRad, 1e-12); // inside the dead band

    // 359 against 1 degree is a 2 degree correction, not a turn
    LiveAc& north = driven({pt(away(1.0), 0.0, 10.0, now()), pt(away(100 * kMetre, 1.0, away(1.0)), 0.0, 10.0,
                                                              now() + 2000)},
                           FlightState::taxi, "B738", 0x484002);
    north.block[kBlockHeading] = 359.0 * kDegToRad;
    nextPosMain(north);
    EXPECT_NEAR(north.headingChange, 2.0, 1e-6);
    EXPECT_EQ(north.turning, 0);
}

TEST_F(GroundTest, ACornerIsDrivenWithTheNoseAlongTheWayItMoves)
{
    // Reports of a corner 100 m on either side: the aircraft drives through the corner it was
    // reported at, its nose never more than 15 degrees off the way it moves (no sliding) and it
    // never turns faster than its category can, however sharp the corner; the leg takes longer
    // instead.
    for (const auto& [turnDeg, model] : {std::pair{30.0, "B738"}, {90.0, "B738"}, {90.0, "C172"}, {170.0, "B738"},
                                         {120.0, "B77W"}}) {
        g_liveAcs.clear();
        LiveAc& ac = corner(100.0, turnDeg, 15.0, 0x484001, model);
        const LatLon b{ac.stream[1].lat, ac.stream[1].lon};
        const Drive d = drive(ac, b, ac.stream.front().playTick);
        EXPECT_LE(d.fastestTurn, ac.pitchRate + 1e-12) << turnDeg << " " << model;
        EXPECT_LT(d.noseOffDeg, 15.0) << turnDeg << " " << model;
        EXPECT_LT(d.nearestM, 0.5) << turnDeg << " " << model;
    }
}

TEST_F(GroundTest, LongSlowCornersAndSpeedChangesGetMidpoints)
{
    // a 60 degree corner at the end of a long, slow leg is approached in halves
    LiveAc& slow = corner(300.0, 60.0, 30.0, 0x484002); // 20 s to the corner
    const LatLon b = {slow.stream[1].lat, slow.stream[1].lon};
    nextPosMain(slow);
    EXPECT_NEAR(metresBetween(slow.stream.front().lat, slow.stream.front().lon, b), 150.0, 0.5);

    // a strong speed change over a long leg gets a midpoint
    const LatLon a = away(2.0);
    LiveAc& brake = driven({pt(a, 0.0, 30.0, now()), pt(away(150 * kMetre, 0.0, a), 0.0, 10.0, now() + 1000)},
                           FlightState::taxi, "B738", 0x484003);
    lf_straightOrTurn(brake);
    EXPECT_EQ(brake.stream.size(), 3u);
    EXPECT_EQ(brake.stream[1].groundSpeed, 20.0);
    LiveAc& shortBrake = driven({pt(a, 0.0, 30.0, now()), pt(away(90 * kMetre, 0.0, a), 0.0, 10.0, now() + 1000)},
                                FlightState::taxi, "B738", 0x484004);
    lf_straightOrTurn(shortBrake);
    EXPECT_EQ(shortBrake.stream.size(), 2u);
}

TEST_F(GroundTest, ThrottleByDepartureSpeedAndTheRunwayExit)
{
    const LatLon a = away(1.0);
    LiveAc& ac = driven({pt(a, 0.0, 22.0, now()), pt(away(0.01, 0.0, a), 0.0, 24.0, now() + 500)},
                        FlightState::taxi);
    ac.departing = 1;
    lf_rollOnGround(ac);
    EXPECT_EQ(ac.throttleIndex, 2u);
    ac.stream[0].groundSpeed = 26.0;
    lf_rollOnGround(ac);
    EXPECT_EQ(ac.throttleIndex, 4u);

    // rolling out on runway 36: above 90 kt the spoilers stay, 359 against 1 degree is no exit
    ac.departing = 0;
    ac.landingRoll = 1;
    ac.touchdownHeading = 359.0 * kDegToRad;
    ac.block[kBlockHeading] = 1.0 * kDegToRad;
    ac.stream[0].groundSpeed = 120.0;
    lf_rollOnGround(ac);
    EXPECT_EQ(ac.landingRoll, 1);
    EXPECT_EQ(eventsSent(ac.objectId, kSpoilers, 0), 0u);
    ac.stream[0].groundSpeed = 80.0;
    lf_rollOnGround(ac);
    EXPECT_EQ(eventsSent(ac.objectId, kSpoilers, 0), 1u);
    EXPECT_EQ(ac.flapsIndex, 1u);
    ac.block[kBlockHeading] = 15.0 * kDegToRad; // 16 degrees off the runway
    lf_rollOnGround(ac);
    EXPECT_EQ(ac.landingRoll, 0);
    EXPECT_EQ(ac.flapsIndex, 0u);
    EXPECT_EQ(eventsSent(ac.objectId, TAXI_LIGHTS_SET, 1), 1u);
    EXPECT_EQ(eventsSent(ac.objectId, LANDING_LIGHTS_SET, 0), 1u);
}

TEST_F(GroundTest, TakeOffAtTheTakeOffSpeedAndAFreshDeparture)
{
    const LatLon a = away(1.0);
    LiveAc& ac = driven({pt(a, 0.0, 100.0, now()), pt(away(0.3, 0.0, a), 50.0, 130.0, now() + 800, true),
                         pt(away(0.6, 0.0, a), 200.0, 145.0, now() + 1500, true)},
                        FlightState::taxi);
    ac.departing = 1;
    lf_rollOnGround(ac);
    EXPECT_EQ(ac.flightState, FlightState::taxi); // 130 kt is below the 140 kt of a Large aircraft
    ac.stream[1].groundSpeed = 140.0;
    ac.derotating = 1; // left over from the landing before
    ac.turning = 1;    // and a turn of the taxi
    lf_rollOnGround(ac);
    EXPECT_EQ(ac.flightState, FlightState::take_off);
    EXPECT_EQ(ac.turning, 0);
    EXPECT_EQ(ac.climbPerTick, ac.climbFactor);
    EXPECT_EQ(ac.transitionSlots, static_cast<int32_t>(ac.rotationSlots));
    EXPECT_EQ(ac.derotating, 0);

    // a touch-and-go climbs away with the spoilers in
    LiveAc& tng = driven({pt(a, 0.0, 100.0, now()), pt(away(0.3, 0.0, a), 50.0, 150.0, now() + 800, true)},
                         FlightState::taxi, "B738", 0x484002);
    tng.departing = 1;
    tng.landingRoll = 1;
    lf_startTakeOff(tng);
    EXPECT_EQ(tng.landingRoll, 0);
    EXPECT_EQ(eventsSent(tng.objectId, kSpoilers, 16383), 0u);
    EXPECT_EQ(eventsSent(tng.objectId, kSpoilers, 0), 1u);
    EXPECT_EQ(tng.throttleIndex, 4u);
}

TEST_F(GroundTest, TaxiReplayRoundASquare)
{
    square(away(1.0), 0.0);
}

TEST_F(GroundTest, TaxiReplayRoundASquareOverTheAntimeridianAndAcrossNorth)
{
    square({-16.5, 179.9985}, -1.0);
}

} // namespace
} // namespace qmt::test
