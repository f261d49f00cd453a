#pragma once
// Shared set-up of the static-parking tests: the parking fixture plus the sample reference data
// (registrations, models), a settable clock on a Monday morning, the fictional airport QLNA with a
// row of stands, and helpers for options, live and static aircraft.

#include "ParkingTest.h"

#include "core/Clock.h"
#include "core/Geo.h"
#include "core/Parameters.h"
#include "core/Random.h"
#include "core/RefData.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/WeekTime.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "engine/BirthSpawn.h"
#include "feed/TrafficFeed.h"
#include "liveries/LiveryTables.h"
#include "liveries/Matching.h"
#include "liveries/ScannedLivery.h"
#include "parking/ParkAirport.h"
#include "parking/Reconcile.h"
#include "parking/StaticAircraft.h"
#include "parking/StaticPositions.h"
#include "platform/traffic_standin.h"
#include "stands/LearnedOptions.h"

#include <fmt/format.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <filesystem>
#include <string>

namespace qmt::test {

// 2026-12-07 10:00:00 UTC, a Monday: half-hour 20.
inline constexpr int64_t kMonday10 = 1796637600;
inline constexpr double kQlnaLat = 50.0;
inline constexpr double kQlnaLon = 5.0;
inline constexpr double kMetreNorth = 1.0 / 1852.0 / 60.0;  // one metre north in degrees

class StaticParkingTest : public ParkingTest {
protected:
    void SetUp() override
    {
        ParkingTest::SetUp();
        gf_resetEngineForTests();
        gf_resetFeedForTests();
        g_stopSession = false;
        g_exitRequested = false;
        gf_setClockForTests(TimePoint(std::chrono::seconds(kMonday10)));
        g_weekTime = gf_weekTimeNow();
        // The feed's 100 ms waits pass on the settable clock; nothing answers unless a test serves.
        gf_setFeedSleepForTests([this](std::chrono::milliseconds D) {
            gf_advanceClockForTests(D);
            if (readerTurn) {
                readerTurn();
            }
        });
        const std::filesystem::path root = QUILLON_SOURCE_DIR;
        ASSERT_TRUE(gf_readDbase(root / "data" / "reference" / "dbase.xml"));
        const AirportEntry eham = g_airports.front();
        gf_setAirports({eham, AirportEntry{IcaoCode("QLNA"), IataCode("QLN"), kQlnaLat, kQlnaLon, 30, 8}});
        g_parkAirport = g_airports[1];
        g_userAc = UserAcData{};
        g_userOnGround = true;
        g_tickCounter = 1000;
        // The helpers hand out references into the lists.
        g_liveAcs.reserve(64);
        g_staticAcs.reserve(64);
    }

    void TearDown() override
    {
        if (HasFailure()) {
            std::cerr << "---- log of the failed test ----\n" << logText();
        }
        gf_resetFeedForTests();
        gf_resetEngineForTests();
        gf_resetLiveryTablesForTests();
        gf_resetScannedLiveriesForTests();
        gf_resetMatchingForTests();
        gf_resetParkingForTests();
        ParkingTest::TearDown();
    }

    // The livery tables of the sample liveries, for the tests that create static aircraft.
    void loadLiveries()
    {
        const std::filesystem::path root = QUILLON_SOURCE_DIR;
        std::filesystem::create_directories(gf_liveriesScannedPath().parent_path());
        std::filesystem::copy_file(root / "tests" / "data" / "LiveriesScanned.xml", gf_liveriesScannedPath(),
                                   std::filesystem::copy_options::overwrite_existing);
        gf_processScannedLiveries();
    }

    // A stand of the row: number I (0-based) lies I x SPACING_M north of QLNA.
    static LatLon standPoint(int I, double SPACING_M = 100.0)
    {
        return LatLon{kQlnaLat + I * SPACING_M * kMetreNorth, kQlnaLon};
    }

    // COUNT stands "S1" ... northwards, numbered and with their adjacency.
    static void makeStands(int COUNT, double SPACING_M = 100.0, double RADIUS_M = 30.0)
    {
        gf_clearStands();
        for (int i = 0; i < COUNT; ++i) {
            const LatLon p = standPoint(i, SPACING_M);
            g_stands.emplace_back("S" + std::to_string(i + 1), std::vector<StandOption>{}, p.lat, p.lon, 0.0, RADIUS_M,
                                  3, false, false, false);
        }
        gf_numberStandsAndAdjacency(g_stands);
    }

    // A real learned option of the kind of REGISTRATION (from the registrations table).
    static StandOption option(uint32_t DAY, const std::string& HH, const std::string& REGISTRATION,
                              const std::string& CALLSIGN, const std::string& FURTHER = "")
    {
        StandOption o;
        o.kind = gf_findRegRecord(REGISTRATION).value_or(AcKind{});
        o.registration = REGISTRATION;
        o.callsign = CALLSIGN;
        o.furtherName = FURTHER;
        o.hours = gf_hours2bitset(HH);
        o.day = DAY;
        o.real = 1;
        o.source = 0;
        return o;
    }

    static void addOption(int STAND_INDEX, StandOption OPTION)
    {
        Stand& stand = g_stands[static_cast<size_t>(STAND_INDEX)];
        OPTION.optionId = static_cast<uint32_t>(stand.options.size() + 1);
        stand.options.push_back(std::move(OPTION));
    }

    // A live aircraft of the sample registration REGISTRATION.
    static LiveAc& liveAc(uint32_t HEX, const std::string& CALLSIGN, const std::string& REGISTRATION,
                          const std::string& MODEL = "B738")
    {
        AcProfile p;
        p.kind = gf_findRegRecord(REGISTRATION).value_or(AcKind{});
        if (p.kind.modelId == 0) {
            p.kind.modelId = gf_modelId(MODEL);
        }
        p.callsign = CALLSIGN;
        p.registration = REGISTRATION;
        p.id = HEX;
        p.category = static_cast<uint32_t>(gf_modelCategory(p.kind.modelId));
        p.halfSpan = hwsp(p.kind.modelId);
        g_liveAcs.emplace_back(StreamPos{}, p, 0.0);
        return g_liveAcs.back();
    }

    // A live aircraft parked at stand STAND_ID for MINUTES.
    static LiveAc& parkedLive(uint32_t HEX, const std::string& CALLSIGN, uint32_t STAND_ID, int MINUTES,
                              const std::string& REGISTRATION = "PH-BXD")
    {
        LiveAc& ac = liveAc(HEX, CALLSIGN, REGISTRATION);
        ac.state = AcState::active;
        ac.flightState = FlightState::parked;
        ac.standId = STAND_ID;
        ac.objectId = HEX % 10000 + 2000;
        ac.parkStart = gf_nowTicks100ns() - static_cast<uint64_t>(MINUTES) * 600000000ull;
        return ac;
    }

    // An active static aircraft on stand STAND_ID (1-based) parked at PARKED.
    static SimAc& staticAc(uint32_t ID, const std::string& CALLSIGN, uint32_t STAND_ID, uint32_t SOURCE,
                           WeekTime PARKED, const std::string& REGISTRATION = "PH-BXA")
    {
        AcProfile p;
        p.kind = gf_findRegRecord(REGISTRATION).value_or(AcKind{});
        p.callsign = CALLSIGN;
        p.registration = REGISTRATION;
        p.id = ID;
        const Stand& stand = g_stands[STAND_ID - 1];
        g_staticAcs.emplace_back(p, STAND_ID, stand.latitude, stand.longitude, stand.heading, false);
        SimAc& ac = g_staticAcs.back();
        ac.state = AcState::active;
        ac.objectId = ID + 5000;
        ac.notFromParkedTraffic = SOURCE;
        ac.timeStamp = PARKED;
        return ac;
    }

    // A parked-traffic record AGE half hours old at stand I of the row.
    static ParkedTrafficRecord parkedRecord(uint32_t HEX, const std::string& CALLSIGN, const std::string& REGISTRATION,
                                            int STAND_INDEX, int AGE)
    {
        ParkedTrafficRecord r;
        r.kind = gf_findRegRecord(REGISTRATION).value_or(AcKind{});
        r.callsign = CALLSIGN;
        r.registration = REGISTRATION;
        const LatLon p = standPoint(STAND_INDEX);
        r.lat = p.lat;
        r.lon = p.lon;
        r.hexId = HEX;
        r.age = AGE;
        r.halfHour = static_cast<int32_t>(g_weekTime.load().minus(AGE).halfHour);
        return r;
    }

    // Plays the parked aircraft as the traffic service's parked traffic; the feed's waits serve them.
    void startTraffic(std::vector<ScenarioParked> PARKED)
    {
        Scenario scenario;
        scenario.name = "QLNA";
        scenario.parked = std::move(PARKED);
        source = std::make_shared<ScenarioTrafficSource>(
            std::move(scenario),
            [] { return std::chrono::duration<double>(gf_unshiftedNow().time_since_epoch()).count(); },
            [](std::chrono::milliseconds D) { gf_advanceClockForTests(D); });
        gf_setTrafficSource(source);
        ASSERT_TRUE(gf_authenticate());
        readerTurn = [] { gf_serveParkedRequest(); };
    }

    // A parked aircraft of the service at stand I of the row, AGE half hours since it parked.
    static ScenarioParked servicePark(uint32_t HEX, const std::string& CALLSIGN, const std::string& REGISTRATION,
                                      const std::string& MODEL, int STAND_INDEX, int AGE)
    {
        ScenarioParked p;
        p.report.hexId = HEX;
        p.report.callsign = CALLSIGN;
        p.report.registration = REGISTRATION;
        p.report.model = MODEL;
        p.report.airline = CALLSIGN.substr(0, 3);
        const LatLon at = standPoint(STAND_INDEX);
        p.report.lat = at.lat;
        p.report.lon = at.lon;
        p.report.halfHour = static_cast<int>(g_weekTime.load().minus(AGE).halfHour);
        p.untilTime = std::numeric_limits<double>::infinity();
        return p;
    }

    // The airport file of QLNA with STANDS stands of the row; OPTIONS[i] are the opt elements of stand i.
    std::string writeQlnaFile(int STANDS, const std::vector<std::string>& OPTIONS = {})
    {
        std::string positions;
        for (int i = 0; i < STANDS; ++i) {
            const LatLon p = standPoint(i);
            positions += fmt::format(R"(<parkpos id="S{}" latitude="{:.6f}" longitude="{:.6f}" heading="90.0" )"
                                     R"(radius="30.0" type="3">{}</parkpos>)",
                                     i + 1, p.lat, p.lon, static_cast<size_t>(i) < OPTIONS.size() ? OPTIONS[i] : "");
        }
        return putLocal("airports/my_simaddon/QLNA.xml",
                        apfXml(param("airport_name", "Quillon Field") + param("publisher", "simaddon") +
                                   param("altitude", "30"),
                               positions));
    }

    static std::filesystem::path learnedQlna() { return g_learnedPath / "simaddon" / "QLNA.xml"; }
    static std::filesystem::path parkList() { return g_airportsPath / "my_park_airports.txt"; }

    // The user aircraft at POSITION, on the ground or ALTITUDE_FT up.
    static void userAt(LatLon POSITION, bool ON_GROUND, double ALTITUDE_FT = 30.0)
    {
        g_userAc.latitude = POSITION.lat;
        g_userAc.longitude = POSITION.lon;
        g_userAc.altitude = ALTITUDE_FT;
        g_userAc.onGround = ON_GROUND;
        g_userAc.dataArrived = true;
        g_userOnGround = ON_GROUND;
    }

    std::function<void()> readerTurn;
    std::shared_ptr<ScenarioTrafficSource> source;
};

} // namespace qmt::test
