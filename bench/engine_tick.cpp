// One engine tick with 500 active live aircraft: notifications, the update pass with one
// position per aircraft, the position hand-over, pacing, intake and the adding stack.
// BM_EngineTick: aircraft that stand (the update pass and hand-over alone).
// BM_EngineTickMotion: aircraft in mixed phases (taxi legs, taxi curves, climb-out, approach),
// each reaching a reported point every 2 s, so every tick also plays points and plans legs.
// Per-tick percentiles and the allocations per tick are reported as counters; the only
// allocations left are events (the twin-check entry of an approach configuration).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/Geo.h"
#include "core/Reset.h"
#include "engine/AcRecords.h"
#include "engine/Profile.h"
#include "engine/Tick.h"
#include "feed/TrafficFeed.h"
#include "parking/ParkAirport.h"
#include "simlink/SimClient.h"
#include "simlink/SimQueues.h"

namespace {
std::atomic<std::size_t> g_allocations{0};
} // namespace

// Counts the allocations of the benchmark program. The replacements pair malloc and free
// themselves; the compiler cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t SIZE)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(SIZE == 0 ? 1 : SIZE)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }

namespace {

constexpr uint32_t kAircraft = 500;
constexpr int kPoints = 180;          // 6 minutes of reports
constexpr int32_t kReportTicks = 200; // one report every 2 s
constexpr double kLat = 52.3086;
constexpr double kLon = 4.7639;

void lf_resetAll()
{
    qmt::gf_resetCoreForTests();
    qmt::gf_resetSimLinkForTests();
    qmt::gf_resetFeedForTests();
    qmt::gf_resetEngineForTests();
    qmt::gf_resetParkAirportForTests();
}

qmt::AcProfile lf_profile(uint32_t I)
{
    qmt::AcProfile p;
    p.id = 0x300000 + I;
    p.callsign = "AC" + std::to_string(I);
    p.category = 2; // Large
    p.halfSpan = 17.9 * qmt::NM_PER_METRE;
    p.pitchRate = 0.0012217304763960306;
    p.pitchRateLive = p.pitchRate;
    p.climbFactor = qmt::gf_climbFactorOf(p.category);
    p.turnFactor = qmt::gf_turnFactorOf(p.category);
    p.cgHeight = 8.0;
    p.groundSlots = 400;
    p.touchdownSlots = 350;
    p.rotationSlots = 200;
    p.airSlots = 300;
    p.takeOffPitch = -6.0 * qmt::DEG_TO_RAD;
    p.climbPitch = -16.5 * qmt::DEG_TO_RAD;
    return p;
}

// The reports of one aircraft by its phase: 0 straight taxi legs with a turn now and then,
// 1 a taxi circle (a curve at every point), 2 a climb-out, 3 an approach to the park airport.
std::vector<qmt::StreamPos> lf_reports(uint32_t I, int32_t FIRST_TICK)
{
    const int phase = static_cast<int>(I % 4);
    const double spread = (I / 4) * 0.002;
    qmt::LatLon at{kLat + spread, kLon + (phase - 1.5) * 0.03};
    double bearing = (I * 37 % 360) * qmt::DEG_TO_RAD;
    double alt = phase == 2 ? 300.0 : phase == 3 ? 3000.0 : 0.0;
    const double kt = phase < 2 ? 15.0 : phase == 2 ? 170.0 : 150.0;
    const double vr = phase == 2 ? 1800.0 : phase == 3 ? -750.0 : 0.0;
    std::vector<qmt::StreamPos> points;
    for (int n = 0; n < kPoints; ++n) {
        qmt::StreamPos p;
        p.lat = at.lat;
        p.lon = at.lon;
        p.alt = alt;
        p.groundSpeed = kt;
        p.airspeed = kt;
        p.verticalRate = vr;
        p.track = bearing * qmt::RAD_TO_DEG;
        p.airborne = phase >= 2 ? 1 : 0;
        p.playTick = FIRST_TICK + n * kReportTicks;
        points.push_back(p);
        if (phase == 0 && n % 6 == 5) {
            bearing += 70.0 * qmt::DEG_TO_RAD;
        } else if (phase == 1) {
            bearing += 30.0 * qmt::DEG_TO_RAD;
        } else if (phase == 3 && n % 20 == 19) {
            bearing += 20.0 * qmt::DEG_TO_RAD; // turns of the approach pattern
        }
        at = qmt::gf_destinationPoint(at, bearing, kt * 2.0 / 3600.0 * qmt::FEET_PER_NM);
        alt = std::max(alt + vr / 30.0, 200.0);
    }
    return points;
}

void lf_setUpStanding(uint32_t COUNT)
{
    lf_resetAll();
    qmt::g_liveAcs.reserve(512);
    for (uint32_t i = 0; i < COUNT; ++i) {
        qmt::AcProfile p;
        p.id = 0x300000 + i;
        p.callsign = "AC" + std::to_string(i);
        qmt::StreamPos pt;
        pt.playTick = 1 << 30;
        pt.airborne = 1;
        qmt::g_liveAcs.emplace_back(pt, p, 0.0);
        qmt::g_liveAcs.back().state = qmt::AcState::active;
        qmt::g_liveAcs.back().objectId = 100 + i;
    }
}

void lf_setUpMoving()
{
    lf_resetAll();
    qmt::g_parkAirport.icao = qmt::IcaoCode("EHAM");
    qmt::g_parkAirport.latitude = kLat;
    qmt::g_parkAirport.longitude = kLon;
    qmt::g_userAc.latitude = kLat;
    qmt::g_userAc.longitude = kLon;
    qmt::g_userAc.altitude = 40000.0;
    qmt::g_trafficRangeNm = 60.0;
    qmt::g_tickCounter = 1000;
    qmt::g_liveAcs.reserve(512);
    for (uint32_t i = 0; i < kAircraft; ++i) {
        const std::vector<qmt::StreamPos> points = lf_reports(i, 1000 + static_cast<int32_t>(i % kReportTicks));
        qmt::g_liveAcs.emplace_back(points.front(), lf_profile(i), 0.0);
        qmt::LiveAc& ac = qmt::g_liveAcs.back();
        ac.stream.insert(ac.stream.end(), points.begin() + 1, points.end());
        ac.state = qmt::AcState::active;
        ac.objectId = 100 + i;
        const int phase = static_cast<int>(i % 4);
        ac.onGround = phase < 2 ? 1 : 0;
        ac.flightState = phase < 2 ? qmt::FlightState::taxi : qmt::FlightState::flying;
        ac.heightAboveGround = phase == 3 ? 1800.0 : phase == 2 ? 600.0 : 0.0;
        ac.block[qmt::kBlockLat] = points[0].lat;
        ac.block[qmt::kBlockLon] = points[0].lon;
        ac.block[qmt::kBlockAlt] = points[0].alt;
        ac.block[qmt::kBlockHeading] = points[0].track * qmt::DEG_TO_RAD;
    }
}

// What the simulator thread's flush does with the handed-over positions and events.
void lf_flush()
{
    std::lock_guard lock(qmt::g_simQueueMutex);
    benchmark::DoNotOptimize(qmt::g_positionReadBuffer.data());
    qmt::g_positionReadBuffer.clear();
    qmt::g_clientEventQueue.clear();
}

void lf_percentiles(benchmark::State& STATE, std::vector<double>& MICROS)
{
    if (MICROS.empty()) {
        return;
    }
    std::sort(MICROS.begin(), MICROS.end());
    const auto at = [&](double Q) { return MICROS[static_cast<std::size_t>(Q * (MICROS.size() - 1))]; };
    STATE.counters["p50_us"] = at(0.50);
    STATE.counters["p99_us"] = at(0.99);
    STATE.counters["max_us"] = MICROS.back();
}

void BM_EngineTick(benchmark::State& STATE)
{
    const auto count = static_cast<uint32_t>(STATE.range(0));
    lf_setUpStanding(count);
    for (int n = 0; n < 100; ++n) {
        qmt::lf_handleAddingStack();
        lf_flush();
    }
    for (auto _ : STATE) {
        qmt::lf_handleAddingStack();
        lf_flush();
    }
    STATE.SetItemsProcessed(STATE.iterations() * count);
    qmt::gf_resetEngineForTests();
}

void BM_EngineTickMotion(benchmark::State& STATE)
{
    lf_setUpMoving();
    // warm-up: every aircraft has played a few points and its stream has settled
    for (int n = 0; n < 1000; ++n) {
        qmt::lf_handleAddingStack();
        lf_flush();
    }
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(STATE.max_iterations));
    const std::size_t allocationsBefore = g_allocations.load();
    for (auto _ : STATE) {
        const auto start = std::chrono::steady_clock::now();
        qmt::lf_handleAddingStack();
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        lf_flush();
    }
    const std::size_t allocations = g_allocations.load() - allocationsBefore;
    STATE.counters["allocs_per_tick"] = static_cast<double>(allocations) / static_cast<double>(STATE.iterations());
    const auto active = std::count_if(qmt::g_liveAcs.begin(), qmt::g_liveAcs.end(),
                                      [](const qmt::LiveAc& A) { return A.state == qmt::AcState::active; });
    STATE.counters["active_at_end"] = static_cast<double>(active);
    lf_percentiles(STATE, micros);
    STATE.SetItemsProcessed(STATE.iterations() * kAircraft);
    qmt::gf_resetEngineForTests();
}

BENCHMARK(BM_EngineTick)->Arg(500);
// 20000 ticks (200 s): every aircraft still has reports to play at the end.
BENCHMARK(BM_EngineTickMotion)->Iterations(20000)->Repetitions(3)->ReportAggregatesOnly(false);

} // namespace
