#pragma once

// Set-up of the birth, respawn and removal tests: the engine's fresh world plus a user aircraft,
// the park airport EHAM with a few stands, and helpers that place live and static aircraft.

#include <string>
#include <vector>

#include "EngineFixture.h"
#include "core/Geo.h"
#include "core/Parameters.h"
#include "engine/BirthSpawn.h"
#include "engine/RemovalRules.h"
#include "engine/RespawnGhosts.h"
#include "parking/ParkAirport.h"
#include "parking/StandSearch.h"
#include "parking/StaticPositions.h"
#include "stands/LearnedOptions.h"
#include "stands/StandTable.h"

namespace qmt::test {

// Near the middle of EHAM.
inline constexpr double kHomeLat = 52.3086;
inline constexpr double kHomeLon = 4.7639;
inline constexpr double kB738HalfSpanNm = 17.9 * kNmPerMetre;

class SpawnTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        gf_resetStandsForTests();
        gf_resetStandTableForTests();
        gf_resetRemovalRulesForTests();
        g_reservedStand.clear();
        g_liveAcs.reserve(64);
        g_staticAcs.reserve(64);

        g_userAc = UserAcData{};
        g_userAc.latitude = kHomeLat;
        g_userAc.longitude = kHomeLon;
        g_userAc.altitude = 10.0;
        g_userAc.dataArrived = true;
        g_userAc.onGround = true;
        g_userOnGround = true;
        g_userHalfSpan = kB738HalfSpanNm;
        g_tickCounter = 1000;
    }

    void TearDown() override
    {
        gf_resetStandsForTests();
        gf_resetStandTableForTests();
        g_reservedStand.clear();
        EngineTest::TearDown();
    }

    // The position DISTANCE_NM from home along BEARING_DEG.
    static LatLon away(double DISTANCE_NM, double BEARING_DEG = 90.0, LatLon FROM = {kHomeLat, kHomeLon})
    {
        return gf_destinationPoint(FROM, BEARING_DEG * kDegToRad, DISTANCE_NM * kFeetPerNm);
    }

    static StreamPos point(LatLon AT, bool AIRBORNE, double ALT, double GS, int32_t PLAY_TICK, bool REPEAT = false)
    {
        StreamPos p;
        p.lat = AT.lat;
        p.lon = AT.lon;
        p.alt = ALT;
        p.groundSpeed = GS;
        p.airspeed = GS;
        p.track = 90.0;
        p.airborne = AIRBORNE ? 1 : 0;
        p.repeat = REPEAT ? 1 : 0;
        p.playTick = PLAY_TICK;
        return p;
    }

    static AcProfile profile(uint32_t HEX, const std::string& CALLSIGN, const std::string& REGISTRATION,
                             const std::string& MODEL = "B738")
    {
        AcProfile p;
        p.kind.modelId = gf_modelId(MODEL);
        p.kind.airlineId = gf_airlineId("KLM");
        p.kind.marker = 1;
        p.callsign = CALLSIGN;
        p.callsignCopy = CALLSIGN;
        p.registration = REGISTRATION;
        p.id = HEX;
        p.halfSpan = kB738HalfSpanNm;
        return p;
    }

    // A live aircraft in state buffer with two airborne points due now, DISTANCE_NM east of home.
    static LiveAc& bufferAc(uint32_t HEX, const std::string& CALLSIGN, double DISTANCE_NM = 5.0,
                            bool AIRBORNE = true)
    {
        const LatLon a = away(DISTANCE_NM);
        const LatLon b = away(DISTANCE_NM + 0.1);
        const double alt = AIRBORNE ? 3000.0 : 0.0;
        const double gs = AIRBORNE ? 200.0 : 15.0;
        g_liveAcs.emplace_back(point(a, AIRBORNE, alt, gs, g_tickCounter.load()),
                               profile(HEX, CALLSIGN, "PH-" + CALLSIGN), 1000.0);
        g_liveAcs.back().stream.push_back(point(b, AIRBORNE, alt, gs, g_tickCounter.load() + 100));
        return g_liveAcs.back();
    }

    // An active live aircraft at DISTANCE_NM east of home.
    static LiveAc& activeAc(uint32_t HEX, const std::string& CALLSIGN, double DISTANCE_NM, bool ON_GROUND = false,
                            uint32_t OBJECT_ID = 0)
    {
        LiveAc& ac = bufferAc(HEX, CALLSIGN, DISTANCE_NM, !ON_GROUND);
        ac.state = AcState::active;
        ac.objectId = OBJECT_ID != 0 ? OBJECT_ID : HEX % 100000 + 100;
        ac.onGround = ON_GROUND ? 1 : 0;
        ac.flightState = ON_GROUND ? FlightState::taxi : FlightState::flying;
        const StreamPos& f = ac.stream.front();
        ac.block[kBlockLat] = f.lat;
        ac.block[kBlockLon] = f.lon;
        ac.block[kBlockAlt] = f.alt;
        return ac;
    }

    static SimAc& staticAc(uint32_t ID, const std::string& CALLSIGN, const std::string& REGISTRATION, LatLon AT,
                           uint32_t STAND_ID = 0)
    {
        AcProfile p = profile(ID, CALLSIGN, REGISTRATION);
        p.callsignCopy.clear();
        g_staticAcs.emplace_back(p, STAND_ID, AT.lat, AT.lon, 0.0, false);
        SimAc& s = g_staticAcs.back();
        s.state = AcState::active;
        s.objectId = 50 + ID;
        return s;
    }

    // The park airport EHAM with stands "A1", "A2", ... at the given positions, radius 30 m.
    static void parkAirportWithStands(const std::vector<LatLon>& POSITIONS)
    {
        g_parkAirport.icao = IcaoCode("EHAM");
        g_parkAirport.iata = IataCode("AMS");
        g_parkAirport.latitude = kHomeLat;
        g_parkAirport.longitude = kHomeLon;
        uint32_t id = 1;
        for (const LatLon& at : POSITIONS) {
            g_stands.emplace_back("A" + std::to_string(id), std::vector<StandOption>{}, at.lat, at.lon,
                                  1.0, 30.0, 1, false, false, false);
            g_stands.back().standId = id++;
        }
    }

    static bool inRemovalDeque(uint32_t OBJECT_ID)
    {
        return std::find(g_removalDeque.begin(), g_removalDeque.end(), OBJECT_ID) != g_removalDeque.end();
    }
};

} // namespace qmt::test
