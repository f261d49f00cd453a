// The whole sample scenario played through intake, spawn and motion into the simulated
// simulator, frame by frame on a settable clock: nothing the simulator is given is ever not a
// number, and no aircraft ever moves farther in a frame than it could fly.

#include <pugixml.hpp>

#include <cmath>
#include <map>
#include <memory>
#include <string>

#include "core/Clock.h"
#include "core/RefData.h"
#include "motion_fixture.h"
#include "liveries/Matching.h"
#include "platform/traffic_scenario.h"
#include "platform/traffic_standin.h"
#include "stands/AirportFile.h"

namespace qmt::test {
namespace {

constexpr double kMaxKt = 600.0;
constexpr double kMetresPerTickAtMax = kMaxKt * 1852.0 / 3600.0 / 100.0;

class ScenarioRunTest : public SimulatorMotionTest {
protected:
    void SetUp() override
    {
        SimulatorMotionTest::SetUp();
        const std::filesystem::path data = std::filesystem::path(QUILLON_SOURCE_DIR) / "data";
        ASSERT_TRUE(gf_readDbase(data / "reference" / "dbase.xml"));
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file((data / "airports" / "my_simaddon" / "EHAM.xml").c_str()));
        lf_readStands(doc, g_stands);
        gf_numberStandsAndAdjacency(g_stands);
        g_parkAirport.icao = IcaoCode("EHAM");
        g_parkAirport.latitude = kHomeLat;
        g_parkAirport.longitude = kHomeLon;
        g_parkAirportElevation = -11.0F;
        g_parkLoaded = 1;

        std::string error;
        ScenarioParseResult parsed;
        ASSERT_TRUE(gf_readScenarioFile(data / "scenarios" / "eham.jsonl", parsed, error)) << error;
        m_seconds = parsed.scenario.reports.back().reportTime - parsed.scenario.playFrom;
        for (const TrafficReport& r : parsed.scenario.reports) {
            g_chosenLiveries[r.hexId] = "Generic";
        }
        gf_setClockForTests(TimePoint(std::chrono::seconds(1'800'000'000)));
        gf_setTrafficSource(std::make_shared<ScenarioTrafficSource>(
            std::move(parsed.scenario),
            [] { return std::chrono::duration<double>(gf_unshiftedNow().time_since_epoch()).count(); },
            [](std::chrono::milliseconds) {}));
        gf_setFeedSleepForTests([](std::chrono::milliseconds) {});
        ASSERT_TRUE(gf_authenticate());
        gf_setQueryCentre(kHomeLat, kHomeLon);
        g_trafficRangeNm = 20.0;
        g_acceptBatches = true;

        // the user stands at a stand of the apron
        g_userAc.latitude = 52.30979;
        g_userAc.longitude = 4.76001;
        g_userAc.altitude = -3.0;
        g_userAc.onGround = true;
        g_userOnGround = true;
        gf_simStandIn().setGroundElevation(-11.0);
        gf_simStandIn().setUserAircraft({0.0, g_userAc.latitude, g_userAc.longitude, -3.0, 225.0, 0.0, true}, 117.4,
                                        "PH-QLN");
    }

    void TearDown() override
    {
        gf_resetFeedForTests();
        gf_resetStandsForTests();
        SimulatorMotionTest::TearDown();
    }

    struct Track {
        double lat = 0.0;
        double lon = 0.0;
        double alt = 0.0;
        int32_t tick = 0;
    };

    double m_seconds = 0.0;
};

TEST_F(ScenarioRunTest, NoPositionIsEverNotANumberOrAnImpossibleJump)
{
    SimStandIn& sim = gf_simStandIn();
    gf_loadHistoryTraffic();
    std::map<uint32_t, Track> last;
    std::map<FlightState, int> reached;
    std::map<uint32_t, FlightState> states;
    double worstMetres = 0.0;
    double worstFeet = 0.0;
    int notFinite = 0;
    const int32_t end = now() + static_cast<int32_t>(m_seconds * 100.0);
    while (now() < end) {
        if (now() % 200 == 0) {
            gf_readLiveTrafficOnce();
        }
        lf_handleAddingStack();
        gf_advanceClockForTests(std::chrono::milliseconds(10));
        for (const LiveAc& ac : g_liveAcs) {
            if (ac.state == AcState::active && states[ac.id] != ac.flightState) {
                states[ac.id] = ac.flightState;
                ++reached[ac.flightState];
            }
        }
        if (now() * 3 / 10 == (now() - 1) * 3 / 10) {
            continue; // 30 frames a second against 100 ticks
        }
        sim.advanceFrame();
        m_client.dispatch();
        for (const uint32_t id : sim.aiObjectIds()) {
            const double lat = sim.objectValue(id, "PLANE LATITUDE").value_or(0.0);
            const double lon = sim.objectValue(id, "PLANE LONGITUDE").value_or(0.0);
            const double alt = sim.objectValue(id, "PLANE ALTITUDE").value_or(0.0);
            const double heading = sim.objectValue(id, "PLANE HEADING DEGREES TRUE").value_or(0.0);
            if (!std::isfinite(lat) || !std::isfinite(lon) || !std::isfinite(alt) || !std::isfinite(heading)) {
                ++notFinite;
                continue;
            }
            auto [it, fresh] = last.try_emplace(id, Track{lat, lon, alt, now()});
            if (!fresh) {
                const double ticks = now() - it->second.tick;
                worstMetres = std::max(worstMetres, gf_distanceNm(it->second.lat, it->second.lon, lat, lon) / kMetre / ticks);
                worstFeet = std::max(worstFeet, std::abs(alt - it->second.alt) / ticks);
                it->second = Track{lat, lon, alt, now()};
            }
        }
    }
    EXPECT_EQ(notFinite, 0);
    EXPECT_LT(worstMetres, kMetresPerTickAtMax);
    EXPECT_LT(worstFeet, 10.0); // 60000 ft a minute
    // the scenario shows every phase
    for (const FlightState fs : {FlightState::flying, FlightState::taxi, FlightState::parking, FlightState::parked,
                                 FlightState::pushing_back, FlightState::pushed_back, FlightState::take_off}) {
        EXPECT_GT(reached[fs], 0) << gf_phaseName(fs);
    }
    const std::string log = logText();
    EXPECT_NE(log.find("arrived at stand"), std::string::npos);
    EXPECT_EQ(log.find("not a finite position"), std::string::npos);
    EXPECT_EQ(log.find("nextPosMain"), std::string::npos) << log;
}

} // namespace
} // namespace qmt::test
