#include <cmath>
#include <string>
#include <vector>

#include "motion_fixture.h"

namespace qmt::test {
namespace {

class AirTest : public MotionTest {
protected:
    // A flying aircraft at ALT between two airborne points 1 nm apart with the vertical rates.
    static LiveAc& flying(double ALT, double FRONT_FPM, double NEXT_FPM, const std::string& MODEL = "B738",
                          uint32_t HEX = 0x484001, LatLon AT = away(5.0))
    {
        StreamPos f = pt(AT, ALT, 180.0, now(), true);
        StreamPos n = pt(away(1.0, 90.0, AT), ALT + NEXT_FPM / 3.0, 180.0, now() + 2000, true);
        f.verticalRate = FRONT_FPM;
        n.verticalRate = NEXT_FPM;
        n.airspeed = 190.0;
        LiveAc& ac = driven({f, n}, FlightState::flying, MODEL, HEX);
        ac.heightAboveGround = ALT;
        return ac;
    }
};

TEST_F(AirTest, PitchFollowsTheVerticalRateWithinTheRate)
{
    for (const auto& [fpm, pitchDeg] : {std::pair{-1500.0, -0.25}, {0.0, -3.0}, {2400.0, -11.8}, {3000.0, -11.8}}) {
        g_liveAcs.clear();
        LiveAc& ac = flying(5000.0, fpm, fpm);
        ac.block[kBlockPitch] = pitchDeg * kDegToRad + 0.002; // close enough to reach it on this leg
        nextPosMain(ac);
        const int32_t t = ac.stream.front().playTick - now();
        EXPECT_NEAR((ac.block[kBlockPitch] + ac.pitchStep * t) * kRadToDeg, pitchDeg, 0.01) << fpm;
    }
    g_liveAcs.clear();
    LiveAc& far = flying(5000.0, 2400.0, 2400.0, "B77W");
    nextPosMain(far);
    EXPECT_NEAR(far.pitchStep, -0.005 * kDegToRad, 1e-15); // a Heavy aircraft's largest change
    EXPECT_NEAR(far.groundSpeed, 180.0, 1e-9);              // the speed its positions show
    EXPECT_NEAR(far.verticalRate, 2400.0, 5.0);
}

TEST_F(AirTest, DescentRateIsCorrectedByTheQnh)
{
    g_qnh = 1020;
    LiveAc& ac = flying(3000.0, -700.0, -800.0);
    ac.heightAboveGround = 500.0;
    EXPECT_NEAR(lf_descentRate(ac), -790.5, 1e-9);
    ac.heightAboveGround = 80.0;
    EXPECT_EQ(lf_descentRate(ac), -600.0);
    ac.heightAboveGround = 500.0;
    ac.stream[0].verticalRate = 0.0;
    ac.stream[1].verticalRate = 0.0;
    EXPECT_EQ(lf_descentRate(ac), -601.0); // at least a real descent
}

TEST_F(AirTest, BankIsLimitedPerCategory)
{
    LiveAc& heavy = flying(5000.0, 0.0, 0.0, "B77W");
    lf_bankTowards(heavy, PI / 2.0, 100);
    EXPECT_NEAR(heavy.bankStep, -0.015 * kDegToRad, 1e-15); // right turn, right bank, at the rate
    heavy.block[kBlockBank] = -19.99 * kDegToRad;
    lf_bankTowards(heavy, PI / 2.0, 100);
    EXPECT_NEAR(heavy.block[kBlockBank] + heavy.bankStep * 100, -20.0 * kDegToRad, 1e-12);
    EXPECT_EQ(g_bankLimits.at(static_cast<uint32_t>(AcCategory::HighPerf)), 90.0 * kDegToRad);
    EXPECT_THROW(g_bankRates.at(6), std::out_of_range);
}

TEST_F(AirTest, OnlyADepartureNeverSinksBelowAThousandFeet)
{
    // The aircraft flies at 800 ft; the reports climb from 600 to 700 ft (a climb-out whose report
    // lags the aircraft) or descend from 900 to 700 ft (a final, at any airport, in any
    // configuration, with or without vertical rates in the reports).
    struct Case {
        bool departing;
        double frontAlt;
        bool climbs;
    };
    for (const Case& c : {Case{true, 600.0, true}, Case{true, 900.0, false}, Case{false, 600.0, false},
                          Case{false, 900.0, false}}) {
        g_liveAcs.clear();
        LiveAc& ac = flying(800.0, 0.0, 0.0);
        ac.stream[0].alt = c.frontAlt;
        ac.stream[1].alt = 700.0;
        ac.departing = c.departing ? 1 : 0;
        ac.heightAboveGround = 800.0;
        nextPosMain(ac);
        if (c.climbs) {
            EXPECT_EQ(ac.climbPerTick, 0.2) << c.frontAlt;
        } else {
            EXPECT_LT(ac.climbPerTick, 0.0) << c.departing << " " << c.frontAlt;
            EXPECT_LT(ac.verticalRate, 0.0); // the block shows the descent flown
        }
    }
}

// Reports 15 s apart round a circle of 1.5 km at 90 kt (a light aircraft's gentle turn, only two
// points in hand at a time): the nose points the way it flies throughout, and the bank is that of
// the turn flown (about 8 degrees), not the category's limit of 40.
TEST_F(AirTest, TheNoseFollowsThePathFlownAndTheBankTheTurn)
{
    const LatLon centre = away(5.0);
    const double radiusNm = 1500.0 * kMetre;
    const double stepDeg = 90.0 * 1852.0 / 3600.0 * 15.0 / 1500.0 * kRadToDeg;
    const auto onCircle = [&](int K) { return away(radiusNm, 180.0 + K * stepDeg, centre); };
    LiveAc& ac = driven({pt(onCircle(0), 3000.0, 90.0, now(), true), pt(onCircle(1), 3000.0, 90.0, now() + 1500, true)},
                        FlightState::flying, "C172");
    ac.block[kBlockHeading] = 270.0 * kDegToRad; // along the circle, counter-clockwise seen from above
    double noseOff = 0.0;
    double bank = 0.0;
    for (int k = 2; k < 10; ++k) {
        ac.stream.push_back(pt(onCircle(k), 3000.0, 90.0, ac.stream.back().playTick + 1500, true));
        for (int tick = 0; tick < 1500; ++tick) {
            const auto before = ac.block;
            ticks(1);
            const auto& b = ac.block;
            const double track = gf_bearing(before[kBlockLat], before[kBlockLon], b[kBlockLat], b[kBlockLon]);
            noseOff = std::max(noseOff, std::abs(gf_wrapRadians(b[kBlockHeading] - track)) * kRadToDeg);
            if (k > 3) {
                bank = std::max(bank, std::abs(b[kBlockBank]) * kRadToDeg);
            }
        }
    }
    EXPECT_LT(noseOff, 5.0);
    EXPECT_GT(bank, 4.0);
    EXPECT_LT(bank, 15.0);
}

TEST_F(AirTest, EveryLegHasAPathAndAStraightOneIsFlownStraight)
{
    for (const double headingDeg : {90.0, 80.0, 100.0}) {
        g_liveAcs.clear();
        LiveAc& ac = flying(5000.0, 0.0, 0.0);
        ac.block[kBlockHeading] = headingDeg * kDegToRad;
        ticks(1);
        EXPECT_TRUE(ac.legPath.shaped != 0 && ac.legPath.planned != 0) << headingDeg;
        if (headingDeg == 90.0) {
            ticks(500);
            EXPECT_NEAR(ac.block[kBlockHeading] * kRadToDeg, 90.0, 0.05);
        }
    }
}

TEST_F(AirTest, ACurvedLegIsFlownWithoutARush)
{
    // the leg runs east; the nose points HEADING at its start. The aircraft slows a little where
    // it turns hard, and never rushes ahead of its mean speed on the leg.
    for (double headingDeg : {0.0, 45.0, 150.0}) {
        g_liveAcs.clear();
        LiveAc& ac = flying(5000.0, 0.0, 0.0);
        ac.block[kBlockHeading] = headingDeg * kDegToRad;
        ticks(1);
        ASSERT_TRUE(ac.legPath.running()) << headingDeg;
        const int32_t due = ac.stream.back().playTick;
        double slowest = 1e9;
        double fastest = 0.0;
        double total = 0.0;
        int n = 0;
        while (now() < due - 1) {
            const auto before = ac.block;
            ticks(1);
            const double m = gf_distanceNm(before[kBlockLat], before[kBlockLon], ac.block[kBlockLat],
                                           ac.block[kBlockLon]) * kMetresPerNm;
            slowest = std::min(slowest, m);
            fastest = std::max(fastest, m);
            total += m;
            ++n;
        }
        EXPECT_NEAR(ac.legPath.t, 1.0, 0.005) << headingDeg; // at its end on time
        EXPECT_LT(fastest, 1.15 * total / n) << headingDeg;
        EXPECT_GT(slowest, 0.45 * total / n) << headingDeg;
    }
}

// A sharp corner (150 degrees, the next report only a few hundred metres on) is flown as a turn
// at the category's bank, never as a pivot on the spot.
TEST_F(AirTest, ASharpCornerIsATurnNotAPivot)
{
    for (const char* model : {"C172", "B738"}) {
        g_liveAcs.clear();
        const double kt = std::string(model) == "C172" ? 90.0 : 180.0;
        const LatLon a = away(5.0);
        const LatLon b = away(1.0, 0.0, a);
        const LatLon c = away(0.3, 150.0, b);
        const auto seconds = [kt](double NM) { return static_cast<int32_t>(NM / kt * 360000.0); };
        LiveAc& ac = driven({pt(a, 3000.0, kt, now(), true), pt(b, 3000.0, kt, now() + seconds(1.0), true),
                             pt(c, 3000.0, kt, now() + seconds(1.3), true),
                             pt(away(1.0, 150.0, c), 3000.0, kt, now() + seconds(2.3), true)},
                            FlightState::flying, model);
        ac.groundSpeed = kt;
        double fastestTurnDegS = 0.0;
        double bankDeg = 0.0;
        std::vector<double> headings;
        for (int tick = 0; tick < seconds(2.3) + 6000 && ac.state == AcState::active; ++tick) {
            ticks(1);
            headings.push_back(ac.block[kBlockHeading]);
            if (headings.size() > 100) {
                fastestTurnDegS = std::max(
                    fastestTurnDegS, std::abs(gf_wrapRadians(headings.back() - headings[headings.size() - 101])) * kRadToDeg);
            }
            bankDeg = std::max(bankDeg, std::abs(ac.block[kBlockBank]) * kRadToDeg);
        }
        // about a coordinated turn at the bank limit (14 deg/s for the Light at 90 kt, 6 for the
        // Large at 180 kt); a pivot turns hundreds of degrees a second
        EXPECT_LT(fastestTurnDegS, std::string(model) == "C172" ? 35.0 : 10.0) << model;
        EXPECT_LE(bankDeg, g_bankLimits.at(ac.category) * kRadToDeg + 1e-9) << model;
    }
}

// A fast aircraft whose next report lies well inside its turn circle, off the nose: the path
// bends toward it without a loop, so the nose never swings round within a second and the
// aircraft stays near its reports instead of circling back to them.
TEST_F(AirTest, AReportInsideTheTurnCircleIsNoLoop)
{
    for (const double offDeg : {30.0, 60.0, 85.0}) {
        g_liveAcs.clear();
        const double kt = 460.0;
        const LatLon a = away(8.0);
        const LatLon b = away(1.2, offDeg, a);
        const LatLon c = away(1.2, offDeg, b);
        const auto seconds = [kt](double NM) { return static_cast<int32_t>(NM / kt * 360000.0); };
        LiveAc& ac = driven({pt(a, 7000.0, kt, now(), true), pt(b, 7000.0, kt, now() + seconds(1.2), true),
                             pt(c, 7000.0, kt, now() + seconds(2.4), true)},
                            FlightState::flying, "B738");
        ac.heightAboveGround = 7000.0;
        ac.groundSpeed = kt;
        ac.block[kBlockHeading] = 0.0;
        double widestSwingDeg = 0.0;
        double farthestNm = 0.0;
        std::vector<double> headings;
        for (int tick = 0; tick < seconds(2.4) && ac.state == AcState::active; ++tick) {
            ticks(1);
            headings.push_back(ac.block[kBlockHeading]);
            if (headings.size() > 100) {
                widestSwingDeg = std::max(
                    widestSwingDeg, std::abs(gf_wrapRadians(headings.back() - headings[headings.size() - 101])) * kRadToDeg);
            }
            farthestNm = std::max(farthestNm, gf_distanceNm(a.lat, a.lon, ac.block[kBlockLat], ac.block[kBlockLon]));
        }
        EXPECT_LT(widestSwingDeg, 45.0) << offDeg;
        // the reports span 2.4 nm: a loop takes the aircraft far beyond them
        EXPECT_LT(farthestNm, 3.0) << offDeg;
        EXPECT_LT(ac.groundSpeed, 1.2 * kt) << offDeg;
    }
}

TEST_F(AirTest, QuickBearingAndArcTangentAgreeWithTheLibrary)
{
    for (const auto& [north, east] : {std::pair{1.0, 0.0}, {0.0, 1.0}, {-1.0, 0.0}, {0.0, -1.0}, {3.0, 0.2},
                                      {-0.2, 3.0}, {-3.0, -0.2}, {0.2, -3.0}, {1.0, 1.0}, {-1e-7, 5.0}}) {
        double expected = std::atan2(east, north);
        expected += expected < 0.0 ? 2.0 * PI : 0.0;
        EXPECT_NEAR(gf_quickBearing(north, east), expected, 1.2e-5) << north << "," << east;
    }
    for (double x : {-80.0, -1.0, -0.4, 0.0, 0.02, 1.0, 2.5, 1e6}) {
        EXPECT_NEAR(gf_quickAtan(x), std::atan(x), 1.2e-5) << x;
    }
}

TEST_F(AirTest, ApproachConfigurationOnlyNearThePark)
{
    parkAirportWithStands({});
    for (const double distance : {8.0, 20.0}) {
        g_liveAcs.clear();
        LiveAc& ac = flying(2000.0, -300.0, -300.0, "B738", distance < 10.0 ? 0x484001 : 0x484002, away(distance));
        ac.standId = 4;
        nextPosMain(ac);
        if (distance < 10.0) {
            EXPECT_EQ(ac.approach, 1);
            EXPECT_EQ(ac.throttleIndex, 1u);
            EXPECT_EQ(ac.flapsIndex, 3u);
            EXPECT_EQ(eventsSent(ac.objectId, GEAR_SET, 1), 1u);
            EXPECT_EQ(ac.standId, 0u);
            EXPECT_EQ(g_twinCheckIds.back(), ac.id);
        } else {
            EXPECT_EQ(ac.approach, 0);
            EXPECT_EQ(ac.throttleIndex, 5u);
            EXPECT_EQ(eventsSent(ac.objectId, GEAR_SET, 1), 0u);
        }
    }
}

TEST_F(AirTest, FlareStagesByHeightAboveTheCentreOfGravity)
{
    LiveAc& ac = flying(500.0, -700.0, -700.0);
    ac.approach = 1;
    ac.cgHeight = 8.0;
    const double steps[][3] = {{39.0, 0, 0.0}, {38.0, 1, -0.1}, {29.0, 1, -0.1}, {28.0, 2, -0.075},
                               {18.0, 3, -0.05}, {11.0, 4, -0.025}};
    for (const auto& s : steps) {
        ac.heightAboveGround = s[0];
        lf_tickAttitude(ac);
        EXPECT_EQ(ac.flareStage, static_cast<uint32_t>(s[1])) << s[0];
        if (s[1] > 0) {
            EXPECT_EQ(ac.climbPerTick, s[2]) << s[0];
        }
    }
    EXPECT_EQ(ac.throttleIndex, 0u);
    EXPECT_GE(ac.block[kBlockPitch], -4.0 * kDegToRad);
}

TEST_F(AirTest, DerotationEndsWhereverThePitchStarts)
{
    LiveAc& ac = flying(0.0, 0.0, 0.0);
    ac.onGround = 1;
    ac.derotating = 1;
    ac.flareStage = 4;
    for (const auto& [pitch, step] : {std::pair{0.01, 0.0}, {0.02, 0.001}, {-0.05, 0.001}}) {
        ac.derotating = 1;
        ac.block[kBlockPitch] = pitch; // at, beyond or short of the ground pitch of 0.01
        ac.pitchStep = step;
        int n = 0;
        while (ac.derotating != 0 && n++ < 1000) {
            lf_tickAttitude(ac);
        }
        EXPECT_EQ(ac.derotating, 0) << pitch;
        EXPECT_EQ(ac.block[kBlockPitch], ac.groundPitch);
        EXPECT_EQ(ac.flareStage, 0u);
    }
}

TEST_F(AirTest, LightsComeBackAfterACruise)
{
    LiveAc& ac = flying(12000.0, 0.0, 0.0);
    nextPosMain(ac);
    EXPECT_EQ(ac.cruiseConfigured, 1);
    EXPECT_EQ(ac.lightsSet, 0);
    EXPECT_EQ(eventsSent(ac.objectId, LANDING_LIGHTS_SET, 0), 1u);

    ac.stream.push_back(pt(away(2.0, 90.0, away(5.0)), 8000.0, 180.0, now() + 2000, true));
    ac.stream.front().alt = 8000.0;
    ac.stream.front().playTick = now();
    ac.heightAboveGround = 8000.0;
    nextPosMain(ac);
    EXPECT_EQ(ac.lightsSet, 1);
    EXPECT_EQ(ac.cruiseConfigured, 0);
    EXPECT_EQ(eventsSent(ac.objectId, LANDING_LIGHTS_SET, 1), 1u);
}

TEST_F(AirTest, SkippingToAClimbingPointAimsAtIt)
{
    // reports still on the ground while the aircraft already flies: it skips to the first one in the air
    const LatLon a = away(5.0);
    const LatLon q = away(1.0, 90.0, a);
    StreamPos f = pt(a, 0.0, 150.0, now());
    StreamPos n = pt(away(0.3, 90.0, a), 0.0, 150.0, now() + 700);
    StreamPos up = pt(q, 600.0, 160.0, now() + 2400, true);
    StreamPos on = pt(away(1.0, 90.0, q), 1200.0, 170.0, now() + 4600, true);
    f.verticalRate = 500.0;
    up.verticalRate = 1500.0;
    on.verticalRate = 1500.0;
    LiveAc& ac = driven({f, n, up, on}, FlightState::flying);
    ac.onGround = 0;
    ac.departing = 1;
    ac.heightAboveGround = 50.0;
    nextPosMain(ac);
    ASSERT_EQ(ac.stream.size(), 2u);
    EXPECT_EQ(ac.stream.front().lat, q.lat);
    double lat = 0.0;
    double lon = 0.0;
    const LegPath& path = ac.legPath;
    gf_fromFrame(path.originLat, path.originLon, path.endNorth, path.endEast, lat, lon);
    EXPECT_NEAR(lat, q.lat, 1e-7); // the path ends there
    EXPECT_NEAR(lon, q.lon, 1e-7);
    EXPECT_GT(ac.climbPerTick, 0.0);
}

TEST_F(AirTest, AConflictAheadOfTheUserRemovesTheAircraft)
{
    g_userAc.altitude = 3000.0;
    LiveAc& away_ = flying(3000.0, 0.0, 0.0, "B738", 0x484001, away(3.0, 90.0));
    away_.block[kBlockHeading] = PI / 2.0; // on the same line, away from the user
    LiveAc& toward = flying(3000.0, 0.0, 0.0, "B738", 0x484002, away(3.0, 90.0));
    toward.block[kBlockHeading] = 3.0 * PI / 2.0;
    LiveAc& wide = flying(3000.0, 0.0, 0.0, "B738", 0x484003, away(3.0, 80.0)); // 3100 ft to the side
    wide.block[kBlockHeading] = PI / 2.0;
    LiveAc& high = flying(4000.0, 0.0, 0.0, "B738", 0x484004, away(3.0, 90.0));
    high.block[kBlockHeading] = PI / 2.0;
    EXPECT_TRUE(lf_checkUserConflict(away_, 0));
    EXPECT_EQ(away_.state, AcState::removingfromsim);
    EXPECT_FALSE(lf_checkUserConflict(toward, 0));
    EXPECT_FALSE(lf_checkUserConflict(wide, 0));
    EXPECT_TRUE(lf_checkUserConflict(wide, 1)); // the spawn row allows 4000 ft to the side
    EXPECT_FALSE(lf_checkUserConflict(high, 0));
}

} // namespace
} // namespace qmt::test
