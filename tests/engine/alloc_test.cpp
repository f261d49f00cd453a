#include "EngineFixture.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "engine/Tick.h"

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
