// One engine tick with 500 active live aircraft: notifications, the update pass with one
// position per aircraft, the position hand-over, pacing, intake and the adding stack.

#include <benchmark/benchmark.h>

#include <mutex>
#include <string>

#include "core/Reset.h"
#include "engine/AcRecords.h"
#include "engine/Tick.h"
#include "feed/TrafficFeed.h"
#include "simlink/SimClient.h"
#include "simlink/SimQueues.h"

namespace {

void lf_setUp(uint32_t COUNT)
{
    qmt::gf_resetCoreForTests();
    qmt::gf_resetSimLinkForTests();
    qmt::gf_resetFeedForTests();
    qmt::gf_resetEngineForTests();
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

void BM_EngineTick(benchmark::State& STATE)
{
    const auto count = static_cast<uint32_t>(STATE.range(0));
    lf_setUp(count);
    for (int n = 0; n < 100; ++n) {
        qmt::lf_handleAddingStack();
    }
    for (auto _ : STATE) {
        qmt::lf_handleAddingStack();
        // What the simulator thread's flush does with the handed-over positions.
        std::lock_guard lock(qmt::g_simQueueMutex);
        benchmark::DoNotOptimize(qmt::g_positionReadBuffer.data());
        qmt::g_positionReadBuffer.clear();
    }
    STATE.SetItemsProcessed(STATE.iterations() * count);
    qmt::gf_resetEngineForTests();
}

BENCHMARK(BM_EngineTick)->Arg(500);

} // namespace
