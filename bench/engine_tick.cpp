// One engine tick with 500 active live aircraft: notifications, the update pass with one
// position per aircraft, the position hand-over, pacing, intake and the adding stack.
// BM_EngineTick: aircraft that stand (the update pass and hand-over alone).
// BM_EngineTickMotion: aircraft in mixed phases (taxi legs, taxi curves, climb-out, approach),
// each reaching a reported point every 2 s, so every tick also plays points and plans legs.
// As in the program, the points after the first half minute come in by the intake: a batch of
// one report per aircraft every 200 ticks, handed over as the traffic reader does and merged two
// records a tick (so, as in the program, a batch that comes while the last one is being merged is
// dropped), and their stream points are allocated as they come, between the other allocations
// of the tick. Every 20 ticks the simulator answers the range request with the ground data of
// every aircraft and of 100 static objects. The batches and the ground data are made outside the
// timed tick, as other threads make them. Arg 1 empties the caches before every tick, as 10 ms of
// the other threads' work may; Arg 2 runs the ticks as the program does, one every 10 ms with the
// simulator link's thread flushing beside them. Per-tick percentiles (all ticks, and the
// ground-data ticks), the allocations and the records the searches looked at per tick are
// reported as counters.

#include <benchmark/benchmark.h>

#include "bench/CacheEviction.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "core/Geo.h"
#include "core/Reset.h"
#include "engine/AcLists.h"
#include "engine/Intake.h"
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
constexpr int kPreloaded = 16;        // the reports that play before the first live batch does
constexpr int32_t kGroundRoundTicks = 20;
constexpr uint32_t kStaticObjects = 100;
constexpr uint32_t kFirstObjectId = 100;
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
    p.halfSpan = 17.9 * qmt::kNmPerMetre;
    p.pitchRate = 0.0012217304763960306;
    p.pitchRateLive = p.pitchRate;
    p.climbFactor = qmt::gf_climbFactorOf(p.category);
    p.turnFactor = qmt::gf_turnFactorOf(p.category);
    p.cgHeight = 8.0;
    p.groundSlots = 400;
    p.touchdownSlots = 350;
    p.rotationSlots = 200;
    p.airSlots = 300;
    p.takeOffPitch = -6.0 * qmt::kDegToRad;
    p.climbPitch = -16.5 * qmt::kDegToRad;
    return p;
}

// The reports of one aircraft by its phase: 0 straight taxi legs with a turn now and then,
// 1 a taxi circle (a curve at every point), 2 a climb-out, 3 an approach to the park airport.
std::vector<qmt::StreamPos> lf_reports(uint32_t I, int32_t FIRST_TICK)
{
    const int phase = static_cast<int>(I % 4);
    const double spread = (I / 4) * 0.002;
    qmt::LatLon at{kLat + spread, kLon + (phase - 1.5) * 0.03};
    double bearing = (I * 37 % 360) * qmt::kDegToRad;
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
        p.track = bearing * qmt::kRadToDeg;
        p.airborne = phase >= 2 ? 1 : 0;
        p.playTick = FIRST_TICK + n * kReportTicks;
        points.push_back(p);
        if (phase == 0 && n % 6 == 5) {
            bearing += 70.0 * qmt::kDegToRad;
        } else if (phase == 1) {
            bearing += 30.0 * qmt::kDegToRad;
        } else if (phase == 3 && n % 20 == 19) {
            bearing += 20.0 * qmt::kDegToRad; // turns of the approach pattern
        }
        at = qmt::gf_destinationPoint(at, bearing, kt * 2.0 / 3600.0 * qmt::kFeetPerNm);
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

// The reports of every aircraft, by report number.
std::vector<std::vector<qmt::StreamPos>> g_reports;

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
    qmt::g_acceptBatches = true;
    qmt::g_liveAcs.reserve(512);
    g_reports.clear();
    for (uint32_t i = 0; i < kAircraft; ++i) {
        g_reports.push_back(lf_reports(i, 1000 + static_cast<int32_t>(i % kReportTicks)));
        const std::vector<qmt::StreamPos>& points = g_reports.back();
        qmt::g_liveAcs.emplace_back(points.front(), lf_profile(i), 1000.0);
        qmt::LiveAc& ac = qmt::g_liveAcs.back();
        ac.stream.insert(ac.stream.end(), points.begin() + 1, points.begin() + kPreloaded);
        ac.lastReportTime = 1000.0 + 2.0 * (kPreloaded - 1);
        ac.state = qmt::AcState::active;
        ac.objectId = kFirstObjectId + i;
        const int phase = static_cast<int>(i % 4);
        ac.onGround = phase < 2 ? 1 : 0;
        ac.flightState = phase < 2 ? qmt::FlightState::taxi : qmt::FlightState::flying;
        ac.heightAboveGround = phase == 3 ? 1800.0 : phase == 2 ? 600.0 : 0.0;
        ac.block[qmt::kBlockLat] = points[0].lat;
        ac.block[qmt::kBlockLon] = points[0].lon;
        ac.block[qmt::kBlockAlt] = points[0].alt;
        ac.block[qmt::kBlockHeading] = points[0].track * qmt::kDegToRad;
    }
}

// What the traffic reader hands over at this tick: report N of every aircraft, due to play 30 s
// after it comes, so that it plays at its place in the aircraft's stream.
void lf_deliverBatch(int32_t TICK)
{
    if ((TICK + 1900) % kReportTicks != 0) {
        return;
    }
    const int n = (TICK + 1900) / kReportTicks;
    if (n < kPreloaded || n >= kPoints) {
        return;
    }
    std::vector<qmt::LiveTrafficRecord> batch;
    for (uint32_t i = 0; i < kAircraft; ++i) {
        qmt::LiveTrafficRecord r;
        r.callsign = "AC" + std::to_string(i);
        r.pos = g_reports[i][static_cast<std::size_t>(n)];
        r.reportTime = 1000.0 + 2.0 * n + static_cast<double>(i % kReportTicks) / 100.0;
        r.hexId = 0x300000 + i;
        batch.push_back(std::move(r));
    }
    qmt::gf_intakeTrafficBatch(batch, qmt::kLiveDelay);
}

// The simulator's answer to the range request: ground data of every aircraft of ours and of the
// static objects around. True when it came this tick.
bool lf_deliverGroundData(int32_t TICK)
{
    if (TICK % kGroundRoundTicks != 0) {
        return false;
    }
    std::lock_guard lock(qmt::g_simNotifyMutex);
    for (uint32_t i = 0; i < kAircraft + kStaticObjects; ++i) {
        const bool live = i < kAircraft;
        const bool ground = !live || i % 4 < 2;
        const double height = ground ? 0.0 : (i % 4 == 2 ? 600.0 : 1800.0);
        qmt::g_simNotifications.push_back(
            {kFirstObjectId + i, ground ? 1u : 0u, 0, qmt::kNoteGroundData, -11.0, height});
    }
    return true;
}

// What the simulator thread's flush does with the handed-over positions and events.
void lf_flush()
{
    std::lock_guard lock(qmt::g_simQueueMutex);
    benchmark::DoNotOptimize(qmt::g_positionReadBuffer.data());
    qmt::g_positionReadBuffer.clear();
    qmt::g_clientEventQueue.clear();
}

void lf_percentiles(benchmark::State& STATE, std::vector<double>& MICROS, const std::string& PREFIX = "")
{
    if (MICROS.empty()) {
        return;
    }
    std::sort(MICROS.begin(), MICROS.end());
    const auto at = [&](double Q) { return MICROS[static_cast<std::size_t>(Q * (MICROS.size() - 1))]; };
    STATE.counters[PREFIX + "p50_us"] = at(0.50);
    STATE.counters[PREFIX + "p99_us"] = at(0.99);
    STATE.counters[PREFIX + "max_us"] = MICROS.back();
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

// How the ticks of a measurement run: back to back on warm caches, with the caches emptied before
// each, or as in the program (paced).
enum class TickRun { warm, cold, paced };

// The simulator link's thread as it runs beside the worker in the program: at every frame of the
// simulator (30 a second) it takes the queue mutex without waiting, swaps the queued events out
// under the request mutex, and sends each handed-over position and event, holding the queue mutex
// meanwhile (kSendNs a position, about what the simulator's call takes).
class LinkThread {
public:
    static constexpr auto kFrame = std::chrono::microseconds(33333);
    static constexpr auto kSendNs = std::chrono::nanoseconds(1000);

    LinkThread() : m_thread([this] { lf_run(); }) {}
    ~LinkThread()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    void lf_run()
    {
        std::vector<qmt::ClientEventCmd> events;
        auto next = std::chrono::steady_clock::now();
        while (!m_stop) {
            next += kFrame;
            std::this_thread::sleep_until(next);
            std::unique_lock lock(qmt::g_simQueueMutex, std::try_to_lock);
            if (!lock.owns_lock()) {
                continue;
            }
            {
                std::lock_guard requests(qmt::g_simRequestMutex);
                events.swap(qmt::g_clientEventQueue);
            }
            double sum = 0.0;
            for (const qmt::PositionUpdate& p : qmt::g_positionReadBuffer) {
                const auto until = std::chrono::steady_clock::now() + kSendNs;
                sum += p.latitude;
                while (std::chrono::steady_clock::now() < until) {
                }
            }
            benchmark::DoNotOptimize(sum);
            qmt::g_positionReadBuffer.clear();
            events.clear();
        }
    }

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void BM_EngineTickMotion(benchmark::State& STATE)
{
    const auto run = static_cast<TickRun>(STATE.range(0));
    lf_setUpMoving();
    // warm-up: every aircraft has played a few points and its stream has settled
    for (int n = 0; n < 1000; ++n) {
        lf_deliverBatch(qmt::g_tickCounter.load());
        lf_deliverGroundData(qmt::g_tickCounter.load());
        qmt::lf_handleAddingStack();
        lf_flush();
    }
    std::vector<double> micros;
    std::vector<double> groundMicros;
    micros.reserve(static_cast<std::size_t>(STATE.max_iterations));
    groundMicros.reserve(static_cast<std::size_t>(STATE.max_iterations));
    const std::size_t allocationsBefore = g_allocations.load();
    const uint64_t visitsBefore = qmt::g_liveRecordVisits;
    std::optional<LinkThread> link;
    if (run == TickRun::paced) {
        link.emplace();
    }
    auto deadline = std::chrono::steady_clock::now();
    for (auto _ : STATE) {
        const int32_t tick = qmt::g_tickCounter.load();
        lf_deliverBatch(tick);
        const bool groundRound = lf_deliverGroundData(tick);
        if (run == TickRun::cold) {
            gf_evictCaches();
        } else if (run == TickRun::paced) {
            // The worker sleeps to the loop's next 10 ms deadline, as the main loop does.
            deadline += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(deadline);
        }
        const auto start = std::chrono::steady_clock::now();
        qmt::lf_handleAddingStack();
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        STATE.SetIterationTime(us / 1e6);
        micros.push_back(us);
        if (groundRound) {
            groundMicros.push_back(us);
        }
        if (run != TickRun::paced) {
            lf_flush();
        }
    }
    link.reset();
    const std::size_t allocations = g_allocations.load() - allocationsBefore;
    STATE.counters["allocs_per_tick"] = static_cast<double>(allocations) / static_cast<double>(STATE.iterations());
    STATE.counters["visits_per_tick"] = static_cast<double>(qmt::g_liveRecordVisits - visitsBefore) /
                                        static_cast<double>(STATE.iterations());
    lf_percentiles(STATE, groundMicros, "ground_");
    const auto active = std::count_if(qmt::g_liveAcs.begin(), qmt::g_liveAcs.end(),
                                      [](const qmt::LiveAc& A) { return A.state == qmt::AcState::active; });
    STATE.counters["active_at_end"] = static_cast<double>(active);
    lf_percentiles(STATE, micros);
    STATE.SetItemsProcessed(STATE.iterations() * kAircraft);
    qmt::gf_resetEngineForTests();
}

BENCHMARK(BM_EngineTick)->Arg(500);
// 20000 ticks (200 s): every aircraft still has reports to play at the end.
BENCHMARK(BM_EngineTickMotion)->Arg(static_cast<int>(TickRun::warm))->Iterations(20000)->Repetitions(3)
    ->UseManualTime()->Unit(benchmark::kMicrosecond);
// Emptying the caches takes far longer than the tick: fewer ticks.
BENCHMARK(BM_EngineTickMotion)->Arg(static_cast<int>(TickRun::cold))->Iterations(3000)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
// The tick as the program runs it: 3000 ticks of 10 ms (30 s) with the link's thread beside it.
// Between two ticks the worker sleeps and other threads and processes run, so the tick starts on
// caches that have lost much of its data: it costs about what the cold tick costs, not the warm one.
BENCHMARK(BM_EngineTickMotion)->Arg(static_cast<int>(TickRun::paced))->Iterations(3000)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace
