// The static-position calculation at a 600-stand airport whose stands carry 50 learned options
// each: the full calculation when the airport is loaded (parked traffic from the traffic stand-in,
// then the learned passes, all four of them on), and the reconciliation of a park change with the
// statics of the first calculation standing. Both run on the worker inside its 10 ms loop.
// Run from the source folder (scripts/bench does): it reads the sample reference data.
#include "core/Airports.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/Random.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/StopFlags.h"
#include "core/WeekTime.h"
#include "engine/AcLists.h"
#include "feed/TrafficFeed.h"
#include "parking/ParkAirport.h"
#include "parking/ParkingReset.h"
#include "parking/Reconcile.h"
#include "parking/StaticPositions.h"
#include "platform/traffic_standin.h"
#include "stands/AirportFile.h"
#include "stands/StandTable.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <unistd.h>

namespace {

using namespace qmt;

constexpr int kRows = 20;
constexpr int kColumns = 30;
constexpr int kOptionsPerStand = 50;
constexpr int kParkedAircraft = 60;
constexpr double kLat = 52.30;
constexpr double kLon = 4.76;

double lf_metreLat()
{
    return 1.0 / 1852.0 / 60.0;
}

double lf_metreLon()
{
    return lf_metreLat() / std::cos(kLat * 3.141592653589793 / 180.0);
}

// 600 stands in rows 45 m apart, radii 20 to 40 m (neighbours overlap); each with 50 options of
// registrations drawn from the reference data, on every day of the week, runs of 2 to 16
// half-hours, four in five of them observed and the rest soft.
std::vector<Stand> lf_stands(std::mt19937& RNG)
{
    std::vector<std::string> registrations;
    for (const DbaseRecord& r : g_dbaseRecords) {
        registrations.push_back(r.key);
    }
    std::vector<Stand> stands;
    stands.reserve(kRows * kColumns);
    for (int row = 0; row < kRows; ++row) {
        for (int col = 0; col < kColumns; ++col) {
            const int i = row * kColumns + col;
            std::vector<StandOption> options;
            for (int k = 0; k < kOptionsPerStand; ++k) {
                StandOption o;
                o.registration = registrations[RNG() % registrations.size()];
                o.kind = gf_findRegRecord(o.registration).value_or(AcKind{});
                o.callsign = fmt::format("{}{}", gf_airlineCode(o.kind.airlineId), 100 + RNG() % 9000);
                o.day = 1 + RNG() % 7;
                const uint32_t first = RNG() % 40;
                const uint32_t length = 2 + RNG() % 15;
                for (uint32_t h = first; h < std::min<uint32_t>(first + length, 48); ++h) {
                    o.hours.set(h);
                }
                o.optionId = static_cast<uint32_t>(k + 1);
                o.real = RNG() % 5 == 0 ? 0 : 1;
                o.source = RNG() % 2;
                options.push_back(std::move(o));
            }
            stands.emplace_back(fmt::format("S{}", i), std::move(options), kLat + row * 45.0 * lf_metreLat(),
                                kLon + col * 45.0 * lf_metreLon(), 1.5, 20.0 + (i % 5) * 5.0, 4, false, false, false);
        }
    }
    gf_numberStandsAndAdjacency(stands);
    return stands;
}

// Parked aircraft of the traffic service on every tenth stand, parked one to twenty half-hours ago.
std::vector<ScenarioParked> lf_parked(std::mt19937& RNG, const std::vector<Stand>& STANDS)
{
    std::vector<ScenarioParked> parked;
    const WeekTime now = g_weekTime.load();
    for (int i = 0; i < kParkedAircraft; ++i) {
        const Stand& stand = STANDS[static_cast<size_t>(i) * 10];
        ScenarioParked p;
        p.report.hexId = 0x480000 + static_cast<uint32_t>(i);
        p.report.callsign = fmt::format("KLM{}", 2000 + i);
        p.report.registration = g_dbaseRecords[RNG() % g_dbaseRecords.size()].key;
        p.report.model = "B738";
        p.report.airline = "KLM";
        p.report.lat = stand.latitude;
        p.report.lon = stand.longitude;
        p.report.halfHour = static_cast<int>(now.minus(1 + static_cast<int>(RNG() % 20)).halfHour);
        p.report.stand = stand.name;
        p.untilTime = std::numeric_limits<double>::infinity();
        parked.push_back(std::move(p));
    }
    return parked;
}

struct Fixture {
    Fixture()
    {
        dir = std::filesystem::temp_directory_path() / ("quillon-bench-positions-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        gf_resetCoreForTests();
        gf_setWorkFolder(dir);
        gf_createWorkFolders();
        gf_resetParkingForTests();
        gf_openLog(dir / "Log.txt", "bench");
        if (!gf_readDbase("data/reference/dbase.xml")) {
            error = "data/reference/dbase.xml not found: run from the source folder";
            return;
        }
        const AirportEntry airport{IcaoCode("QLNB"), IataCode(), kLat, kLon, 0, 600};
        gf_setAirports({airport});
        g_parkAirport = airport;
        gf_setClockForTests(TimePoint(std::chrono::seconds(1796637600)));  // a Monday, 10:00 UTC
        g_weekTime = gf_weekTimeNow();
        MAX_PARK_SEL.set(500);  // 30 % of 600 stands: 180 statics
        WEEK.set(true);
        PARK_SOFT.set(true);
        std::mt19937 rng(17);
        stands = lf_stands(rng);
        Scenario scenario;
        scenario.name = "QLNB";
        scenario.parked = lf_parked(rng, stands);
        source = std::make_shared<ScenarioTrafficSource>(
            std::move(scenario),
            [] { return std::chrono::duration<double>(gf_unshiftedNow().time_since_epoch()).count(); },
            [](std::chrono::milliseconds D) { gf_advanceClockForTests(D); });
        gf_setTrafficSource(source);
        g_stopSession = false;
        g_exitRequested = false;
        gf_authenticate();
        // The reader's answer comes at the worker's first wait, as fast as the reader could.
        gf_setFeedSleepForTests([](std::chrono::milliseconds) { gf_serveParkedRequest(); });
    }
    ~Fixture()
    {
        gf_closeLog();
        gf_resetFeedForTests();
        std::filesystem::remove_all(dir);
    }

    // The statics of a calculation, standing: its positions made active aircraft.
    void placeStatics() const
    {
        g_staticAcs.clear();
        uint32_t id = 1;
        for (const StaticPosition& p : g_staticPositions) {
            AcProfile profile;
            profile.kind = p.kind;
            profile.callsign = fmt::format("{}*", p.callsign.empty() ? fmt::format("ZZZ{}", id) : p.callsign);
            profile.callsignCopy = p.callsign;
            profile.extraText = p.furtherName;
            profile.registration = p.registration;
            profile.id = id++;
            const Stand& stand = g_stands[p.standId - 1];
            g_staticAcs.emplace_back(profile, p.standId, stand.latitude, stand.longitude, stand.heading, false);
            SimAc& ac = g_staticAcs.back();
            ac.state = AcState::active;
            ac.objectId = 5000 + id;
            ac.notFromParkedTraffic = p.source;
            ac.parkedTrafficId = p.sourceId;
            ac.timeStamp = g_weekTime.load().minus(p.rank);
        }
        g_staticPositions.clear();
    }

    std::filesystem::path dir;
    std::vector<Stand> stands;
    std::shared_ptr<ScenarioTrafficSource> source;
    std::string error;
};

Fixture& lf_fixture()
{
    static Fixture f;
    return f;
}

double lf_p95(const std::vector<double>& V)
{
    std::vector<double> sorted = V;
    std::sort(sorted.begin(), sorted.end());
    return sorted[static_cast<size_t>(std::ceil(0.95 * static_cast<double>(sorted.size()))) - 1];
}

// The calculation when the airport has just been loaded: a fresh stand table, no statics yet.
void BM_FullCalculation(benchmark::State& STATE)
{
    Fixture& f = lf_fixture();
    if (!f.error.empty()) {
        STATE.SkipWithError(f.error.c_str());
        return;
    }
    size_t positions = 0;
    for (auto _ : STATE) {
        STATE.PauseTiming();
        g_stands = f.stands;  // cold: options as read, nothing switched off
        g_staticAcs.clear();
        g_removalDeque.clear();
        STATE.ResumeTiming();
        lf_calculateStaticPositions();
        positions = g_staticPositions.size();
    }
    STATE.counters["stands"] = static_cast<double>(f.stands.size());
    STATE.counters["positions"] = static_cast<double>(positions);
}
BENCHMARK(BM_FullCalculation)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(20)
    ->ComputeStatistics("p95", lf_p95)
    ->ReportAggregatesOnly(true);

// The calculation run again on the same table (the warm case: options switched off by the last
// run are numbered again first).
void BM_FullCalculationAgain(benchmark::State& STATE)
{
    Fixture& f = lf_fixture();
    if (!f.error.empty()) {
        STATE.SkipWithError(f.error.c_str());
        return;
    }
    g_stands = f.stands;
    g_staticAcs.clear();
    for (auto _ : STATE) {
        lf_calculateStaticPositions();
    }
    STATE.counters["positions"] = static_cast<double>(g_staticPositions.size());
}
BENCHMARK(BM_FullCalculationAgain)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(20)
    ->ComputeStatistics("p95", lf_p95)
    ->ReportAggregatesOnly(true);

// A park change with the statics of the first calculation standing.
void BM_Reconciliation(benchmark::State& STATE)
{
    Fixture& f = lf_fixture();
    if (!f.error.empty()) {
        STATE.SkipWithError(f.error.c_str());
        return;
    }
    size_t statics = 0;
    for (auto _ : STATE) {
        STATE.PauseTiming();
        g_stands = f.stands;
        g_staticAcs.clear();
        lf_calculateStaticPositions();
        f.placeStatics();
        statics = g_staticAcs.size();
        g_removalDeque.clear();
        STATE.ResumeTiming();
        gf_applyParkTrafficChanges(false);
    }
    STATE.counters["statics"] = static_cast<double>(statics);
}
BENCHMARK(BM_Reconciliation)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ComputeStatistics("p95", lf_p95)
    ->ReportAggregatesOnly(true);

} // namespace
