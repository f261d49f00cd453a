#include "EngineFixture.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "engine/Tick.h"

// Counts every allocation of this test program, so the steady-state tick can be checked
// for allocations that grow with the number of aircraft. Sanitizers bring their own
// allocator, so the count is only taken in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLON_COUNT_ALLOCATIONS 0
#else
#define QUILLON_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<std::size_t> g_allocations{0};
} // namespace

#if QUILLON_COUNT_ALLOCATIONS
// The replacements below pair malloc and free themselves; the compiler cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t SIZE)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(SIZE == 0 ? 1 : SIZE)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* P) noexcept
{
    std::free(P);
}

void operator delete(void* P, std::size_t /*SIZE*/) noexcept
{
    std::free(P);
}
#endif

namespace qmt::test {
namespace {

using AllocTest = EngineTest;

TEST_F(AllocTest, SteadyTickDoesNotAllocatePerAircraft)
{
    if (!QUILLON_COUNT_ALLOCATIONS) {
        GTEST_SKIP() << "allocations are not counted under a sanitizer";
    }
    constexpr uint32_t kAircraft = 500;
    g_liveAcs.reserve(512);
    for (uint32_t i = 0; i < kAircraft; ++i) {
        AcProfile p;
        p.id = 0x300000 + i;
        p.callsign = "AC" + std::to_string(i);
        StreamPos pt;
        pt.playTick = 1 << 30;
        pt.airborne = 1;
        g_liveAcs.emplace_back(pt, p, 0.0);
        g_liveAcs.back().state = AcState::active;
        g_liveAcs.back().objectId = 100 + i;
    }
    for (int n = 0; n < 100; ++n) {
        lf_handleAddingStack();
    }
    const std::size_t before = g_allocations.load();
    constexpr int kTicks = 200;
    for (int n = 0; n < kTicks; ++n) {
        lf_handleAddingStack();
    }
    const std::size_t during = g_allocations.load() - before;
    EXPECT_EQ(during, 0u) << during << " allocations in " << kTicks << " ticks";
    std::lock_guard lock(g_simQueueMutex);
    EXPECT_EQ(g_positionReadBuffer.size(), kAircraft);
}

} // namespace
} // namespace qmt::test
