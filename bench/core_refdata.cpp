// Start-up cost of the reference data: decrypting and reading the dbase and the airports
// (the whole world's airports, airlines and models), in time and in memory.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include <malloc.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include "core/Airports.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"

namespace {

// Heap in use and its peak, counted over operator new and pugixml's allocations (the DOM of
// the decrypted files), which is where reading the reference data allocates.
std::atomic<std::size_t> g_heapNow{0};
std::atomic<std::size_t> g_heapPeak{0};

// Not inlined into the replaced operators, where the compiler would see a free of memory from new.
[[gnu::noinline]] void* lf_counted(std::size_t n)
{
    void* p = std::malloc(n == 0 ? 1 : n);
    if (!p) return nullptr;
    const std::size_t now = g_heapNow.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    std::size_t peak = g_heapPeak.load();
    while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

[[gnu::noinline]] void lf_uncounted(void* p) noexcept
{
    if (!p) return;
    g_heapNow.fetch_sub(malloc_usable_size(p));
    std::free(p);
}

constexpr double MB = 1024.0 * 1024.0;

void BM_readDataFiles(benchmark::State& state)
{
    pugi::set_memory_management_functions(lf_counted, lf_uncounted);
    qmt::gf_resetCoreForTests();
    const auto work = std::filesystem::temp_directory_path() / ("quillon-bench-refdata-" + std::to_string(::getpid()));
    std::filesystem::create_directories(work);
    qmt::gf_setWorkFolder(work);
    qmt::gf_setInputFolder(std::filesystem::path(QUILLON_BINARY_DIR) / "input");
    std::size_t peak = 0, held = 0;
    for (auto _ : state) {
        state.PauseTiming();
        qmt::gf_resetCoreForTests();
        const std::size_t before = g_heapNow.load();
        g_heapPeak.store(before);
        state.ResumeTiming();
        if (!qmt::gf_readDataFiles()) {
            state.SkipWithError("reading data files failed");
            break;
        }
        state.PauseTiming();
        peak = std::max(peak, g_heapPeak.load() - before);
        held = g_heapNow.load() - before;
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = static_cast<double>(peak) / MB;
    state.counters["held_MB"] = static_cast<double>(held) / MB;
    state.counters["airports"] = static_cast<double>(qmt::g_airports.size());
    state.counters["airlines"] = static_cast<double>(qmt::g_icaoAirlines.size());
    state.counters["models"] = static_cast<double>(qmt::g_validModels.size());
    qmt::gf_resetCoreForTests();
    std::filesystem::remove_all(work);
}
BENCHMARK(BM_readDataFiles)->Unit(benchmark::kMillisecond);

} // namespace

void* operator new(std::size_t n)
{
    if (void* p = lf_counted(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return lf_counted(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return lf_counted(n); }
void operator delete(void* p) noexcept { lf_uncounted(p); }
void operator delete[](void* p) noexcept { lf_uncounted(p); }
void operator delete(void* p, std::size_t) noexcept { lf_uncounted(p); }
void operator delete[](void* p, std::size_t) noexcept { lf_uncounted(p); }
