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

#include "HeapCount.h"

namespace {

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
