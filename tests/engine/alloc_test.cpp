#include "EngineFixture.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "core/Geo.h"
#include "engine/Tick.h"
#include "feed/TrafficFeed.h"

// Counts every allocation of this test program, so the steady-state tick can be checked
// for allocations that grow with the number of aircraft. Every form of operator new and
// operator delete is replaced, all on malloc and free, so whatever pair the library picks
// (std::stable_sort's nothrow buffer, arrays, over-aligned types, sized deletes) matches,
// also under a sanitizer, which then sees only malloc and free.

namespace {
std::atomic<std::size_t> g_allocations{0};

void* lf_allocate(std::size_t SIZE) noexcept
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(SIZE == 0 ? 1 : SIZE);
}

void* lf_allocateAligned(std::size_t SIZE, std::align_val_t ALIGN) noexcept
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    const auto align = std::max(static_cast<std::size_t>(ALIGN), sizeof(void*));
    // aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t size = (std::max<std::size_t>(SIZE, 1) + align - 1) / align * align;
    return std::aligned_alloc(align, size);
}

void* lf_allocateOrThrow(std::size_t SIZE)
{
    if (void* p = lf_allocate(SIZE)) {
        return p;
    }
    throw std::bad_alloc();
}

void* lf_allocateAlignedOrThrow(std::size_t SIZE, std::align_val_t ALIGN)
{
    if (void* p = lf_allocateAligned(SIZE, ALIGN)) {
        return p;
    }
    throw std::bad_alloc();
}
} // namespace

// The replacements pair malloc and free themselves; the compiler cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t SIZE) { return lf_allocateOrThrow(SIZE); }
void* operator new[](std::size_t SIZE) { return lf_allocateOrThrow(SIZE); }
void* operator new(std::size_t SIZE, const std::nothrow_t&) noexcept { return lf_allocate(SIZE); }
void* operator new[](std::size_t SIZE, const std::nothrow_t&) noexcept { return lf_allocate(SIZE); }
void* operator new(std::size_t SIZE, std::align_val_t ALIGN) { return lf_allocateAlignedOrThrow(SIZE, ALIGN); }
void* operator new[](std::size_t SIZE, std::align_val_t ALIGN) { return lf_allocateAlignedOrThrow(SIZE, ALIGN); }
void* operator new(std::size_t SIZE, std::align_val_t ALIGN, const std::nothrow_t&) noexcept
{
    return lf_allocateAligned(SIZE, ALIGN);
}
void* operator new[](std::size_t SIZE, std::align_val_t ALIGN, const std::nothrow_t&) noexcept
{
    return lf_allocateAligned(SIZE, ALIGN);
}

void operator delete(void* P) noexcept { std::free(P); }
void operator delete[](void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }
void operator delete[](void* P, std::size_t) noexcept { std::free(P); }
void operator delete(void* P, const std::nothrow_t&) noexcept { std::free(P); }
void operator delete[](void* P, const std::nothrow_t&) noexcept { std::free(P); }
void operator delete(void* P, std::align_val_t) noexcept { std::free(P); }
void operator delete[](void* P, std::align_val_t) noexcept { std::free(P); }
void operator delete(void* P, std::size_t, std::align_val_t) noexcept { std::free(P); }
void operator delete[](void* P, std::size_t, std::align_val_t) noexcept { std::free(P); }
void operator delete(void* P, std::align_val_t, const std::nothrow_t&) noexcept { std::free(P); }
void operator delete[](void* P, std::align_val_t, const std::nothrow_t&) noexcept { std::free(P); }

namespace qmt::test {
namespace {

using AllocTest = EngineTest;

TEST_F(AllocTest, SteadyTickDoesNotAllocatePerAircraft)
{
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

// Taxiing along corners and curves and climbing out, every aircraft reaching a point every 2 s:
// playing points and planning legs take no memory either.
TEST_F(AllocTest, MovingAircraftTickWithoutAllocating)
{
    constexpr uint32_t kAircraft = 60;
    g_liveAcs.reserve(512);
    g_tickCounter = 1000;
    g_trafficRangeNm = 60.0;
    for (uint32_t i = 0; i < kAircraft; ++i) {
        AcProfile p;
        p.id = 0x300000 + i;
        p.callsign = "AC" + std::to_string(i);
        p.halfSpan = 0.01;
        p.pitchRate = 0.0012217304763960306;
        p.climbFactor = 0.6;
        p.turnFactor = 4.0;
        const bool air = i % 3 == 2;
        LatLon at{52.3 + i * 0.002, 4.7};
        double bearing = i * 0.5;
        StreamPos pt;
        for (int n = 0; n < 60; ++n) {
            pt.lat = at.lat;
            pt.lon = at.lon;
            pt.alt = air ? 500.0 + 60.0 * n : 0.0;
            pt.groundSpeed = air ? 170.0 : 15.0;
            pt.verticalRate = air ? 1800.0 : 0.0;
            pt.airborne = air ? 1 : 0;
            pt.playTick = 1000 + static_cast<int32_t>(i) + 200 * n;
            if (n == 0) {
                g_liveAcs.emplace_back(pt, p, 0.0);
            } else {
                g_liveAcs.back().stream.push_back(pt);
            }
            bearing += i % 3 == 0 ? (n % 5 == 4 ? 1.2 : 0.0) : 0.5; // corners, a circle, a slow turn
            at = gf_destinationPoint(at, bearing, pt.groundSpeed * 2.0 / 3600.0 * kFeetPerNm);
        }
        LiveAc& ac = g_liveAcs.back();
        ac.state = AcState::active;
        ac.objectId = 100 + i;
        ac.onGround = air ? 0 : 1;
        ac.flightState = air ? FlightState::flying : FlightState::taxi;
        ac.heightAboveGround = 600.0;
        ac.block[kBlockLat] = ac.stream.front().lat;
        ac.block[kBlockLon] = ac.stream.front().lon;
    }
    const auto tick = [] {
        lf_handleAddingStack();
        std::lock_guard lock(g_simQueueMutex);
        g_positionReadBuffer.clear();
        g_clientEventQueue.clear();
    };
    for (int n = 0; n < 1000; ++n) {
        tick();
    }
    const std::size_t before = g_allocations.load();
    for (int n = 0; n < 4000; ++n) {
        tick();
    }
    EXPECT_EQ(g_allocations.load() - before, 0u);
    EXPECT_TRUE(std::all_of(g_liveAcs.begin(), g_liveAcs.end(),
                            [](const LiveAc& A) { return A.state == AcState::active; }));
}

TEST(AllocCounter, CountsAndPairsEveryForm)
{
    // std::stable_sort takes its buffer with the nothrow form and gives it back sized.
    std::vector<int> values(4096);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<int>((i * 7919) % 1000);
    }
    const std::size_t before = g_allocations.load();
    std::stable_sort(values.begin(), values.end());
    EXPECT_GT(g_allocations.load(), before);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));

    struct alignas(64) Wide {
        double v[8];
    };
    auto wide = std::make_unique<Wide[]>(3);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wide.get()) % 64, 0u);
}

} // namespace
} // namespace qmt::test
