// Whole flights of one aircraft against the simulated simulator: a turnaround (approach, flare,
// touchdown, roll-out and runway exit, taxi to a stand, parking, push-back, taxi out, take-off and
// climb), and what real feeds bring: reports 15 s apart without vertical rates, a landing at
// another airport than the park airport, a helicopter.

#include <cmath>
#include <string>
#include <vector>

#include "core/Parameters.h"
#include "engine/NewPoint.h"
#include "motion_fixture.h"
#include "liveries/Matching.h"

namespace qmt::test {
namespace {

constexpr uint32_t kHex = 0x484C53;
constexpr int32_t kDelay = 1000;       // reports are played 10 s after they arrive
constexpr int32_t kBufferDelay = 3000; // as the live feed plays them, with reports 10 to 40 s apart
constexpr double kKtToMs = 1852.0 / 3600.0;

// One report of the scripted aircraft, in metres east and north of the airport.
struct Report {
    double t = 0.0; // seconds
    double east = 0.0;
    double north = 0.0;
    double alt = 0.0;
    double kt = 0.0;
    bool air = false;
    double vr = 0.0;
    double track = 0.0;
};

// Reports every 2 s along straight legs; the runway runs north along east 0.
class Script {
public:
    Script(double EAST, double NORTH, double ALT, bool AIR) { m_reports.push_back({0.0, EAST, NORTH, ALT, 0, AIR}); }

    // Along a leg to the point at the speed; ALT is reached at its end. WOBBLE puts the points
    // alternately a little left and right, so that the bearings between them go 359, 1, 359 ...
    Script& leg(double EAST, double NORTH, double KT, double ALT, bool AIR, double VR = 0.0, double WOBBLE = 0.0)
    {
        const Report from = m_reports.back();
        m_legStart = m_reports.size();
        const double length = std::hypot(EAST - from.east, NORTH - from.north);
        const int n = std::max(1, static_cast<int>(std::ceil(length / (KT * kKtToMs * m_every))));
        const double track = std::fmod(std::atan2(EAST - from.east, NORTH - from.north) * kRadToDeg + 360.0, 360.0);
        for (int i = 1; i <= n; ++i) {
            const double f = static_cast<double>(i) / n;
            Report r{from.t + length / n / (KT * kKtToMs) * i,
                     from.east + (EAST - from.east) * f + (i < n && i % 2 != 0 ? WOBBLE : 0.0),
                     from.north + (NORTH - from.north) * f,
                     from.alt + (ALT - from.alt) * f,
                     KT,
                     AIR,
                     VR,
                     track};
            m_reports.push_back(r);
        }
        return *this;
    }

    // Standing for the seconds, each report up to WANDER metres from the spot.
    Script& stand(double SECONDS, double WANDER = 0.0, double TRACK = 0.0)
    {
        const Report at = m_reports.back();
        for (int i = 1; i <= static_cast<int>(SECONDS / m_every); ++i) {
            Report r = at;
            r.t = at.t + m_every * i;
            r.kt = 0.0;
            r.east += i % 2 != 0 ? WANDER : 0.0;
            r.track = TRACK;
            m_reports.push_back(r);
        }
        return *this;
    }

    // Reports from now on come this many seconds apart (2 s at first).
    Script& every(double SECONDS)
    {
        m_every = SECONDS;
        return *this;
    }

    // The reports of the last leg come alternately SECONDS early and late (their positions kept),
    // as reports taken at irregular moments do.
    Script& jitter(double SECONDS)
    {
        for (std::size_t i = m_legStart; i + 1 < m_reports.size(); ++i) {
            m_reports[i].t += i % 2 != 0 ? SECONDS : -SECONDS;
        }
        return *this;
    }

    // Every report of the last leg gives this share of its speed (a feed in other units).
    Script& speedField(double SHARE)
    {
        for (std::size_t i = m_legStart; i < m_reports.size(); ++i) {
            m_reports[i].kt *= SHARE;
        }
        return *this;
    }

    // The track every report of the last leg gives (a pushed-back aircraft's nose, as some feeds
    // report it).
    Script& track(double TRACK)
    {
        for (std::size_t i = m_legStart; i < m_reports.size(); ++i) {
            m_reports[i].track = TRACK;
        }
        return *this;
    }

    const std::vector<Report>& reports() const { return m_reports; }

private:
    std::vector<Report> m_reports;
    std::size_t m_legStart = 0;
    double m_every = 2.0;
};

// What the run saw.
struct Seen {
    bool approach = false;
    uint32_t flare = 0;
    bool derotated = false;
    bool runwayExit = false;
    bool parked = false;
    bool leftStandEarly = false;
    bool pushedBack = false;
    LatLon pushedBackAt{};
    double takeOffSpeed = 0.0;
    bool flying = false;
    double worstStepM = 0.0;
    bool finite = true;
    // what a pilot beside it believes or not
    int ticksToFirstMove = -1;            // from the tick its object exists
    double topKtFirst6s = 0.0;
    double touchdownFpm = std::nan("");   // the descent in the half second before the simulator's ground
    double touchdownBankDeg = std::nan("");
    double lowestClimbFpm = 0.0;          // fastest climb below 1000 ft above the ground while flying
    double airNoseOffDeg = 0.0;           // nose against the way it flies
    double largestBankDeg = 0.0;
    double largestPitchDeg = 0.0;
    double liftOffKt = -1.0;              // speed when the take-off began
    // speeds, over the last second
    double slowestAirKt = 1e9;            // in the air more than 300 ft above the ground
    double touchdownKt = std::nan("");
    double airSpeedChangeKt = 0.0;        // the largest change within a second in the air
    double runwayBrakeKtPerS = 0.0;       // the hardest braking on the runway after touchdown, to 40 kt
    double worstBehindM = 0.0;            // farthest from the reported track at the delay, in the air
};

class TurnaroundTest : public SimulatorMotionTest {
protected:
    LatLon local(double EAST, double NORTH) const
    {
        const double metres = std::hypot(EAST, NORTH);
        return metres == 0.0 ? m_origin
                             : gf_destinationPoint(m_origin, std::atan2(EAST, NORTH), metres * kMetre * kFeetPerNm);
    }

    // The airport at ORIGIN with one stand 400 m east of the runway, nose east.
    void airportAt(LatLon ORIGIN)
    {
        m_origin = ORIGIN;
        g_parkAirport.icao = IcaoCode("ZZZZ");
        g_parkAirport.latitude = ORIGIN.lat;
        g_parkAirport.longitude = ORIGIN.lon;
        g_parkAirportElevation = 0.0F;
        const LatLon s = local(400.0, 600.0);
        g_stands.emplace_back("S1", std::vector<StandOption>{}, s.lat, s.lon, PI / 2.0, 25.0, 1, false, false, false);
        g_stands.back().standId = 1;
        g_parkLoaded = 1;
        g_userAc.latitude = ORIGIN.lat;
        g_userAc.longitude = ORIGIN.lon;
        gf_simStandIn().setUserAircraft({0.0, ORIGIN.lat, ORIGIN.lon, 30000.0, 0.0, 0.0, false}, 100.0, "USER");
        gf_simStandIn().setGroundElevation(0.0);
    }

    StreamPos toPoint(const Report& R) const
    {
        StreamPos p = pt(local(R.east, R.north), R.alt, R.kt, 0, R.air);
        p.airspeed = R.kt;
        p.verticalRate = R.vr;
        p.track = R.track;
        return p;
    }

    static Script turnaround()
    {
        Script s(0.0, -9000.0, 1550.0, true);
        s.leg(0.0, -1300.0, 140.0, 40.0, true, -700.0, 1.25)    // final approach, 359 / 1 degrees
            .leg(0.0, -1000.0, 130.0, 0.0, false)                // touchdown
            .leg(0.0, -300.0, 110.0, 0.0, false)
            .leg(0.0, 200.0, 70.0, 0.0, false)
            .leg(0.0, 600.0, 35.0, 0.0, false)
            .leg(0.0, 700.0, 20.0, 0.0, false)
            .leg(150.0, 850.0, 15.0, 0.0, false)                 // runway exit
            .leg(300.0, 850.0, 15.0, 0.0, false)
            .leg(300.0, 600.0, 15.0, 0.0, false)
            .leg(394.0, 600.0, 10.0, 0.0, false)                 // stops 6 m before the stand
            .stand(20.0)
            .stand(90.0, 2.0)                                    // parked, reports wander 2 m
            .leg(386.0, 600.0, 1.0, 0.0, false).track(110.0)     // pushed west, tail to the north
            .leg(378.0, 600.0, 1.0, 0.0, false).track(110.0)
            .leg(370.0, 600.0, 1.0, 0.0, false).track(110.0)
            .leg(362.0, 600.0, 2.0, 0.0, false).track(110.0)
            .leg(350.0, 605.0, 2.0, 0.0, false).track(110.0)
            .leg(340.0, 612.0, 2.0, 0.0, false).track(110.0)
            .stand(20.0)
            .leg(337.0, 500.0, 15.0, 0.0, false)                 // taxi out, south
            .leg(337.0, -1300.0, 20.0, 0.0, false)
            .leg(20.0, -1450.0, 15.0, 0.0, false)
            .leg(0.0, -1420.0, 8.0, 0.0, false)                  // line up
            .stand(10.0)
            .leg(0.0, -1300.0, 40.0, 0.0, false)                 // take-off run
            .leg(0.0, -1000.0, 80.0, 0.0, false)
            .leg(0.0, -400.0, 120.0, 0.0, false)
            .leg(0.0, 200.0, 150.0, 100.0, true, 1500.0)        // lift-off
            .leg(0.0, 6000.0, 170.0, 2500.0, true, 2000.0)
            .leg(0.0, 14000.0, 200.0, 4500.0, true, 2000.0);
        return s;
    }

    // Feeds the reports as they come due and runs the engine and the simulator until the end.
    // Reports are played DELAY ticks after they arrive.
    Seen run(const Script& SCRIPT, const std::string& MODEL = "B738", int32_t DELAY = kDelay)
    {
        Seen seen;
        m_lastSecond.clear();
        m_speeds.clear();
        m_activeTicks = 0;
        const std::vector<Report>& reports = SCRIPT.reports();
        const int32_t start = now();
        std::size_t next = 0;
        const int32_t end = start + static_cast<int32_t>(reports.back().t * 100.0) + DELAY + 3000;
        LatLon last{};
        bool placed = false;
        FlightState before = FlightState::birth;
        bool pushStarted = false;
        while (now() < end) {
            while (next < reports.size() && start + reports[next].t * 100.0 <= now()) {
                StreamPos p = toPoint(reports[next++]);
                p.playTick = now() + DELAY;
                LiveAc* ac = gf_findLiveAc(kHex);
                if (ac == nullptr) {
                    AcProfile profile = liveProfile(kHex, MODEL);
                    g_liveAcs.emplace_back(p, profile, 1000.0);
                    g_chosenLiveries[kHex] = "Boeing 737-800 KLM";
                } else if (ac->state != AcState::removingfromsim) {
                    decodeExisting(*ac, p);
                }
            }
            lf_handleAddingStack();
            gf_simStandIn().advanceFrame();
            m_client.dispatch();
            LiveAc* ac = gf_findLiveAc(kHex);
            if (ac == nullptr || ac->state != AcState::active) {
                continue;
            }
            const auto& b = ac->block;
            for (double v : b) {
                seen.finite = seen.finite && std::isfinite(v);
            }
            observe(*ac, seen);
            if (ac->onGround == 0 && m_activeTicks > 2000 && now() - start - DELAY < reports.back().t * 100.0) {
                seen.worstBehindM = std::max(seen.worstBehindM, behindM(reports, (now() - start - DELAY) / 100.0));
            }
            if (placed) {
                seen.worstStepM = std::max(seen.worstStepM, gf_distanceNm(last.lat, last.lon, b[kBlockLat], b[kBlockLon]) / kMetre);
            }
            last = {b[kBlockLat], b[kBlockLon]};
            placed = true;
            seen.approach = seen.approach || ac->approach != 0;
            seen.flare = std::max(seen.flare, ac->flareStage);
            seen.derotated = seen.derotated || (ac->touchedDown != 0 && ac->derotating == 0);
            seen.runwayExit = seen.runwayExit || (ac->touchedDown != 0 && ac->landingRoll == 0 && ac->onGround != 0);
            const FlightState fs = ac->flightState;
            if (fs == FlightState::parked && before == FlightState::parking) {
                seen.parked = true;
            }
            if (fs == FlightState::pushed_back && before == FlightState::pushing_back) {
                seen.pushedBack = true;
                seen.pushedBackAt = last;
            }
            if (fs == FlightState::take_off && before == FlightState::taxi) {
                seen.takeOffSpeed = ac->groundSpeed;
                seen.liftOffKt = ac->stream.front().groundSpeed;
            }
            // the wandering reports never take it off the stand: it leaves by the push-back
            if (seen.parked && !pushStarted && fs != FlightState::parked) {
                pushStarted = fs == FlightState::pushing_back;
                seen.leftStandEarly = !pushStarted;
            }
            seen.flying = seen.flying || (fs == FlightState::flying && seen.takeOffSpeed > 0.0);
            before = fs;
        }
        return seen;
    }

    // Metres from the reported track at the scenario's second T (between its reports).
    double behindM(const std::vector<Report>& REPORTS, double T) const
    {
        std::size_t i = 1;
        while (i + 1 < REPORTS.size() && REPORTS[i].t < T) {
            ++i;
        }
        const Report& a = REPORTS[i - 1];
        const Report& b = REPORTS[i];
        const double f = std::clamp((T - a.t) / std::max(b.t - a.t, 1e-9), 0.0, 1.0);
        const LatLon at = local(a.east + (b.east - a.east) * f, a.north + (b.north - a.north) * f);
        const auto& block = gf_findLiveAc(kHex)->block;
        return gf_distanceNm(at.lat, at.lon, block[kBlockLat], block[kBlockLon]) / kMetre;
    }

    // Positions, altitudes and attitudes of the last second, tick by tick.
    struct Sample {
        LatLon at;
        double alt = 0.0;
        bool onGround = false;
    };
    std::vector<Sample> m_lastSecond;
    std::vector<double> m_speeds; // knots over the last second, tick by tick
    int m_activeTicks = 0;

    void observe(const LiveAc& AC, Seen& SEEN)
    {
        const auto& b = AC.block;
        const Sample now{{b[kBlockLat], b[kBlockLon]}, b[kBlockAlt], AC.onGround != 0};
        if (SEEN.ticksToFirstMove < 0 && !m_lastSecond.empty() &&
            gf_distanceNm(m_lastSecond.back().at.lat, m_lastSecond.back().at.lon, now.at.lat, now.at.lon) > 0.0) {
            SEEN.ticksToFirstMove = m_activeTicks;
        }
        ++m_activeTicks;
        m_lastSecond.push_back(now);
        if (m_lastSecond.size() > 101) {
            m_lastSecond.erase(m_lastSecond.begin());
        }
        const Sample& ago = m_lastSecond.front();
        const double seconds = (m_lastSecond.size() - 1) / 100.0;
        if (seconds < 0.5) {
            return;
        }
        const double kt = gf_distanceNm(ago.at.lat, ago.at.lon, now.at.lat, now.at.lon) * 3600.0 / seconds;
        const double fpm = (now.alt - ago.alt) / seconds * 60.0;
        if (m_activeTicks <= 600) {
            SEEN.topKtFirst6s = std::max(SEEN.topKtFirst6s, kt);
        }
        const Sample& half = m_lastSecond[m_lastSecond.size() - 51];
        if (now.onGround && !m_lastSecond[m_lastSecond.size() - 2].onGround && std::isnan(SEEN.touchdownFpm)) {
            SEEN.touchdownFpm = (now.alt - half.alt) * 2.0 * 60.0;
            SEEN.touchdownBankDeg = std::abs(b[kBlockBank]) * kRadToDeg;
            SEEN.touchdownKt = kt;
        }
        m_speeds.push_back(kt);
        if (m_speeds.size() > 101) {
            m_speeds.erase(m_speeds.begin());
            const double change = kt - m_speeds.front();
            if (AC.onGround == 0 && AC.flareStage == 0 && m_lastSecond.front().onGround == now.onGround) {
                SEEN.airSpeedChangeKt = std::max(SEEN.airSpeedChangeKt, std::abs(change));
            }
            if (AC.landingRoll != 0 && AC.onGround != 0 && m_lastSecond.front().onGround && m_speeds.front() > 40.0) {
                SEEN.runwayBrakeKtPerS = std::max(SEEN.runwayBrakeKtPerS, -change);
            }
        }
        if (AC.onGround == 0 && AC.heightAboveGround > 300.0 && m_activeTicks > 600 && AC.extrapolations == 0) {
            SEEN.slowestAirKt = std::min(SEEN.slowestAirKt, kt);
        }
        if (AC.onGround == 0) {
            SEEN.largestBankDeg = std::max(SEEN.largestBankDeg, std::abs(b[kBlockBank]) * kRadToDeg);
            SEEN.largestPitchDeg = std::max(SEEN.largestPitchDeg, std::abs(b[kBlockPitch]) * kRadToDeg);
            if (AC.flightState == FlightState::flying && AC.departing == 0 && AC.heightAboveGround < 1000.0) {
                SEEN.lowestClimbFpm = std::max(SEEN.lowestClimbFpm, fpm);
            }
            if (kt > 30.0) {
                const double track = gf_bearing(ago.at.lat, ago.at.lon, now.at.lat, now.at.lon);
                SEEN.airNoseOffDeg =
                    std::max(SEEN.airNoseOffDeg, std::abs(gf_wrapRadians(b[kBlockHeading] - track)) * kRadToDeg);
            }
        }
    }

    void expectWholeTurnaround(const Seen& SEEN)
    {
        EXPECT_TRUE(SEEN.finite);
        EXPECT_LT(SEEN.worstStepM, 3.1); // 600 kt in one tick
        EXPECT_TRUE(SEEN.approach);
        EXPECT_EQ(SEEN.flare, 4u);
        EXPECT_TRUE(SEEN.derotated);
        EXPECT_TRUE(SEEN.runwayExit);
        EXPECT_TRUE(SEEN.parked);
        EXPECT_FALSE(SEEN.leftStandEarly);
        EXPECT_TRUE(SEEN.pushedBack);
        // the tail swung north of the line straight back from the stand
        EXPECT_GT(SEEN.pushedBackAt.lat, g_stands[0].latitude + 5.0 * kMetre / 60.0);
        EXPECT_GE(SEEN.takeOffSpeed, 140.0);
        EXPECT_TRUE(SEEN.flying);
        const std::string log = logText();
        EXPECT_NE(log.find("S1      : KLM83    arrived at stand"), std::string::npos) << log;
        const LiveAc* ac = gf_findLiveAc(kHex);
        ASSERT_NE(ac, nullptr);
        EXPECT_EQ(ac->flightState, FlightState::flying);
        EXPECT_GT(ac->block[kBlockAlt], 3000.0);
        EXPECT_EQ(ac->flapsIndex, 0u);
        EXPECT_EQ(ac->approach, 0);
        EXPECT_EQ(ac->departing, 0); // cleared above the configuration height
        // it moves from its first frame, no faster than its reports (140 kt)
        EXPECT_LE(SEEN.ticksToFirstMove, 1);
        EXPECT_LT(SEEN.topKtFirst6s, 1.3 * 140.0);
        EXPECT_LT(SEEN.airNoseOffDeg, 20.0);
        EXPECT_LE(SEEN.largestBankDeg, 30.0);
        expectSoftTouchdown(SEEN);
    }

    static void expectSoftTouchdown(const Seen& SEEN)
    {
        EXPECT_GE(SEEN.touchdownFpm, -700.0);
        EXPECT_LE(SEEN.touchdownFpm, -50.0);
        EXPECT_LT(SEEN.touchdownBankDeg, 5.0);
        EXPECT_LE(SEEN.lowestClimbFpm, 300.0);
    }

    // An airport of the reference data and of the simulated scenery, NORTH metres north of the
    // park airport, its ground ELEVATION feet up.
    LatLon otherAirport(double NORTH, double ELEVATION)
    {
        const LatLon at = local(0.0, NORTH);
        gf_setAirports({AirportEntry{IcaoCode("QLNB"), IataCode{}, at.lat, at.lon, static_cast<int32_t>(ELEVATION), 0}});
        gf_simStandIn().setTerrain({{at.lat, at.lon, ELEVATION}});
        return at;
    }

    LatLon m_origin{};
};

TEST_F(TurnaroundTest, LandParkPushBackAndDepart)
{
    airportAt({52.30, 4.76});
    expectWholeTurnaround(run(turnaround()));
}

// A landing 15 nm from the park airport, on a runway 800 ft up, reported every 15 s by a feed
// without vertical rates (as real feeds are): no approach configuration, yet it descends with the
// reports, flares and touches down softly with wings level on the ground where it lands.
TEST_F(TurnaroundTest, ALandingElsewhereWithoutVerticalRatesFlaresOntoItsOwnGround)
{
    airportAt({52.30, 4.76});
    const double runway = 27780.0;
    otherAirport(runway, 800.0);
    Script s(0.0, runway - 12000.0, 2300.0, true);
    s.every(15.0)
        .leg(0.0, runway - 1300.0, 140.0, 860.0, true)
        .leg(0.0, runway - 1000.0, 130.0, 0.0, false) // on the ground the feed says 0 ft
        .leg(0.0, runway - 300.0, 60.0, 0.0, false)
        .leg(60.0, runway, 15.0, 0.0, false)
        .stand(30.0);
    const Seen seen = run(s, "B738", kBufferDelay);
    gf_clearAirports();
    EXPECT_TRUE(seen.finite);
    EXPECT_FALSE(seen.approach);
    EXPECT_EQ(seen.flare, 4u);
    EXPECT_TRUE(seen.derotated);
    expectSoftTouchdown(seen);
    EXPECT_LT(seen.airNoseOffDeg, 20.0);
}

// A helicopter lifts off where it stands, with no take-off roll, and flies its turns within
// 30 degrees of bank and 15 of pitch.
TEST_F(TurnaroundTest, AHelicopterLiftsOffWithoutARollAndFliesGently)
{
    airportAt({52.30, 4.76});
    Script s(-800.0, 0.0, 0.0, false);
    s.leg(-800.0, 80.0, 4.0, 0.0, false) // hover-taxiing to its lift-off spot
        .leg(-800.0, 85.0, 2.0, 300.0, true)
        .every(10.0)
        .leg(-400.0, 1500.0, 100.0, 800.0, true)
        .leg(1200.0, 1600.0, 100.0, 800.0, true) // a right angle between two reports
        .leg(1500.0, 400.0, 80.0, 400.0, true)
        .every(4.0)
        .leg(1500.0, 10.0, 10.0, 40.0, true)
        .leg(1500.0, 0.0, 2.0, 0.0, false)
        .stand(20.0);
    const Seen seen = run(s, "EC35", kBufferDelay);
    EXPECT_TRUE(seen.finite);
    EXPECT_GE(seen.liftOffKt, 0.0);
    EXPECT_LT(seen.liftOffKt, kTakeOffRunKt);
    EXPECT_LE(seen.largestBankDeg, 30.0 + 1e-9);
    EXPECT_LE(seen.largestPitchDeg, 15.0 + 1e-9);
    EXPECT_GE(seen.touchdownFpm, -700.0);
}

TEST_F(TurnaroundTest, TheSameOverTheAntimeridian)
{
    airportAt({-16.70, 179.9975}); // the stand lies east of 180 degrees
    ASSERT_LT(g_stands[0].longitude, 0.0);
    expectWholeTurnaround(run(turnaround()));
}

// Speeds a pilot beside the aircraft believes, on the finals real feeds give: reports 15 s
// apart, the last one in the air followed by one far down the runway after the roll-out. A
// fixed-wing aircraft never crawls in the air, touches down at its approach speed and brakes on
// the runway no harder than about 6 kt a second.
TEST_F(TurnaroundTest, AFinalIsFlownAtApproachSpeedAndTheRollOutBraked)
{
    struct Case {
        const char* model;
        double finalKt;
        double airEndNorth; // the last report in the air, metres from the threshold, 100 ft up
        double groundNorth; // the next, 25 s later, rolled out to GROUND_KT
        double groundKt;
        double leastKt;     // never slower in the air
        double touchdownLo; // touchdown between
        double touchdownHi;
    };
    for (const Case& c : {Case{"B738", 140.0, -500.0, 900.0, 20.0, 100.0, 115.0, 155.0},
                          Case{"C172", 70.0, -300.0, 400.0, 10.0, 40.0, 50.0, 80.0}}) {
        g_liveAcs.clear();
        g_stands.clear();
        airportAt({52.30, 4.76});
        const double finalM = 8.0 * 15.0 * c.finalKt * kKtToMs;
        const double rollKt = (c.groundNorth - c.airEndNorth) / 25.0 / kKtToMs;
        Script s(0.0, c.airEndNorth - finalM, 100.0 + 8.0 * 15.0 * 700.0 / 60.0, true);
        s.every(15.0)
            .leg(0.0, c.airEndNorth, c.finalKt, 100.0, true, -700.0)
            .every(25.0)
            .leg(0.0, c.groundNorth, rollKt, 0.0, false)
            .speedField(c.groundKt / rollKt)
            .every(15.0)
            .leg(0.0, c.groundNorth + 300.0, c.groundKt, 0.0, false);
        const Seen seen = run(s, c.model, kBufferDelay);
        EXPECT_GE(seen.slowestAirKt, c.leastKt) << c.model;
        EXPECT_GE(seen.touchdownKt, c.touchdownLo) << c.model;
        EXPECT_LE(seen.touchdownKt, c.touchdownHi) << c.model;
        EXPECT_LE(seen.runwayBrakeKtPerS, 6.5) << c.model;
        expectSoftTouchdown(seen);
    }
}

// Reports taken at irregular moments (alternately 3 s early and late) or with a speed field in
// other units (half the real speed): the aircraft flies a speed that changes smoothly, within a
// quarter of the real one, and where the positions put it.
TEST_F(TurnaroundTest, TheSpeedFollowsThePositionsNotTheirTimingNorTheSpeedField)
{
    struct Case {
        const char* what;
        double jitterS;
        double speedShare;
        double mostBehindM; // from the reported track at the delay
    };
    for (const Case& c : {Case{"irregular", 3.0, 1.0, 1e9}, Case{"half speed field", 0.0, 0.5, 150.0}}) {
        g_liveAcs.clear();
        g_stands.clear();
        airportAt({52.30, 4.76});
        Script s(-30000.0, -30000.0, 6000.0, true);
        s.every(10.0).leg(-30000.0, 20000.0, 220.0, 6000.0, true).jitter(c.jitterS).speedField(c.speedShare);
        const Seen seen = run(s, "A320", kBufferDelay);
        EXPECT_LE(seen.airSpeedChangeKt, 6.0) << c.what;
        EXPECT_LE(seen.worstBehindM, c.mostBehindM) << c.what;
        EXPECT_GE(seen.slowestAirKt, 0.75 * 220.0) << c.what;
    }
}

} // namespace
} // namespace qmt::test
