// Scanning a Community folder of 500 BGL files against reading the same files raw.
//
// Each airport file holds one airport of 120 parkings and 2 helipads and a scenery section of
// 240 KB that the reader steps over, as real add-on airport files do. A scan is the program's
// whole scan: it also writes the scan log, copies the generated files into tblo and zips them. "AllAirports": every file
// holds an airport of its own, none archived, so every file is read, walked and generated into
// an airport file (the worst case). "Mixed": one file in ten holds an airport; the others are
// scenery files without an airport section, which the pre-check keeps from the tasks. Bytes per
// second count the bytes of all files of the folder in every case, so the rates compare directly
// with the raw read; "EmptyTasks" is the task machinery alone (a detached thread per task). The
// page cache is warm (the folder is written just before the first iteration). Creating the 500
// generated files (one new inode each, in one folder) is what "AllAirports" spends most of its
// time on in the kernel; set QUILLON_BENCH_FOLDER (for example to /dev/shm) to compare another
// file system.
//
// "HostileFile" reads one forged file alone, as a task would: section tables that point
// thousands of sections at the same airport records, a file whose airports hold as many stands
// as the step budget lets through, and 120 MB of tiny records walked by thousands of sections.
// Its counter heap_MB is the peak of the heap that reading one file took.
#include "airportscan/AirportScan.h"
#include "airportscan/Bgl.h"
#include "airportscan/ScanSteps.h"
#include "core/Airports.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/ScanTasks.h"
#include "core/StatusLine.h"
#include "core/WindowState.h"
#include "simlink/SimClient.h"
#include "tools/BglBuilder.h"

#include "AirportScanFolders.h"
#include "HeapCount.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace qmt;
namespace fs = std::filesystem;
namespace bb = qmt::bglbuild;

constexpr int FILES = bench::kScanFiles;

using Folder = bench::ScanInput;
std::string lf_code(int N) { return bench::gf_benchCode(N); }

// Core state for a scan in a new, empty working folder (removed again with it).
struct ScanSetUp {
    fs::path work;
    ScanSetUp()
    {
        work = bench::gf_benchFolder() / fmt::format("quillon-bench-apscan-work-{}", ::getpid());
        fs::remove_all(work);
        bench::gf_setUpScanState(work);
    }
    ~ScanSetUp()
    {
        gf_resetAirportScanForTests();
        gf_resetCoreForTests();
        std::error_code ec;
        fs::remove_all(work, ec);
    }
};

// The folders are written once per process: 120 MB each.
const Folder& lf_allAirports()
{
    static const Folder folder("all", 1);
    return folder;
}

const Folder& lf_mixed()
{
    static const Folder folder("mixed", 10);
    return folder;
}

// The scan as the program runs it at start-up (gf_scanAirports): the simulator's package
// folders under its install path (here the Community folder alone), the generated airport files,
// the scan log, the copy of the generated files of airports the archive does not know into tblo
// and tblo.zip. Every repetition starts from the same state: a new, empty working folder, and the
// package folder written before the first (in the page cache).
void lf_scan(benchmark::State& STATE, const Folder& FOLDER)
{
    const Folder& folder = FOLDER;
    std::optional<ScanSetUp> setUp;
    std::uint32_t zipped = 0;
    std::uintmax_t generated = 0;
    unsigned tasks = 0;
    std::uint64_t pools = 0;
    for (auto _ : STATE) {
        STATE.PauseTiming();
        setUp.reset();
        setUp.emplace();
        SIM_CHOICE.set(2020);
        MSFS_INSTALL_PATH.set(folder.root.string());
        const std::uint64_t poolsBefore = ScanPool::started();
        STATE.ResumeTiming();
        gf_scanAirports();
        STATE.PauseTiming();
        pools = ScanPool::started() - poolsBefore;
        zipped = g_tbloZipped.load();
        tasks = g_maxBglTasks;  // as the scan had it: the set-up's end resets it
        generated = gf_countFolderEntries(g_myThirdpartyPath) + gf_countFolderEntries(g_mySimaddonPath);
        STATE.ResumeTiming();
    }
    setUp.reset();
    STATE.SetBytesProcessed(static_cast<std::int64_t>(STATE.iterations() * folder.bytes));
    STATE.counters["tasks"] = static_cast<double>(tasks);
    STATE.counters["files_out"] = static_cast<double>(generated);
    STATE.counters["zipped"] = static_cast<double>(zipped);
    STATE.counters["pools"] = static_cast<double>(pools);
}

// The task machinery alone: one detached thread per file, doing nothing, through the same
// bounded helper and waits as the scan.
void BM_EmptyTasks(benchmark::State& STATE)
{
    gf_initBglTasks();
    for (auto _ : STATE) {
        ScanTasks<void> tasks;
        for (int i = 0; i < FILES; ++i) {
            tasks.start([] {});
            if (tasks.overfull()) {
                tasks.takeOldest();
            }
        }
        while (!tasks.empty()) {
            tasks.takeOldest();
        }
        gf_waitForBglTasks(kScanWaitLimit);
    }
    STATE.counters["tasks"] = static_cast<double>(g_maxBglTasks);
}

void BM_ScanAllAirports(benchmark::State& STATE) { lf_scan(STATE, lf_allAirports()); }
void BM_ScanMixed(benchmark::State& STATE) { lf_scan(STATE, lf_mixed()); }

// The raw read: every .bgl file of the folder read whole, one after the other, and with as many
// threads as the scan may use.
void lf_rawRead(benchmark::State& STATE, unsigned THREADS)
{
    const Folder& folder = lf_allAirports();
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder.community)) {
        if (entry.is_regular_file() && entry.path().extension() == ".bgl") {
            files.push_back(entry.path());
        }
    }
    for (auto _ : STATE) {
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < THREADS; ++t) {
            threads.emplace_back([&, t] {
                std::vector<char> buffer;
                for (std::size_t i = t; i < files.size(); i += THREADS) {
                    std::ifstream in(files[i], std::ios::binary | std::ios::ate);
                    buffer.resize(static_cast<std::size_t>(in.tellg()));
                    in.seekg(0);
                    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                    benchmark::DoNotOptimize(buffer.data());
                }
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
    }
    STATE.SetBytesProcessed(static_cast<std::int64_t>(STATE.iterations() * folder.bytes));
    STATE.counters["threads"] = THREADS;
}

void BM_RawReadOneThread(benchmark::State& STATE) { lf_rawRead(STATE, 1); }
void BM_RawReadScanThreads(benchmark::State& STATE)
{
    qmt::gf_initBglTasks();
    lf_rawRead(STATE, qmt::g_maxBglTasks);
}

// What the all-airports scan writes, with nothing read or computed: the scan's generated files
// written again (each to a temporary name, then renamed, as the scan writes them) and linked into
// a second folder, on as many threads as the scan's workers, into emptied folders as each scan
// starts. Creating files is most of this on a disk's file system; it is a floor for the scan.
void BM_RawWriteOutputs(benchmark::State& STATE)
{
    std::optional<ScanSetUp> setUp(std::in_place);
    SIM_CHOICE.set(2020);
    MSFS_INSTALL_PATH.set(lf_allAirports().root.string());
    gf_scanAirports();
    std::vector<std::pair<std::string, std::string>> outputs; // name, text
    for (const auto& entry : fs::directory_iterator(g_myThirdpartyPath)) {
        std::ifstream in(entry.path(), std::ios::binary);
        outputs.emplace_back(entry.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {}));
    }
    const fs::path out = setUp->work / "rewrite";
    const fs::path links = setUp->work / "relink";
    const unsigned threads = g_maxBglTasks;
    for (auto _ : STATE) {
        STATE.PauseTiming();
        fs::remove_all(out);
        fs::remove_all(links);
        fs::create_directories(out);
        fs::create_directories(links);
        STATE.ResumeTiming();
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (std::size_t i = t; i < outputs.size(); i += threads) {
                    const fs::path file = out / outputs[i].first;
                    fs::path temp = file;
                    temp += ".tmp";
                    std::ofstream(temp, std::ios::binary) << outputs[i].second;
                    fs::rename(temp, file);
                    fs::create_hard_link(file, links / outputs[i].first);
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
    }
    STATE.counters["files_out"] = static_cast<double>(outputs.size());
    STATE.counters["threads"] = threads;
}

// A hostile file by number: 0 forged sections over 2000 airport records, 1 one airport of 1000
// stands behind 20000 sections, 2 250 airports of 390 stands each, 3 120 MB of tiny records.
bb::Bytes lf_hostileFile(int KIND)
{
    bb::Bytes records;
    switch (KIND) {
    case 0:
        for (int i = 0; i < 2000; ++i) {
            bb::Parking p;
            p.lat = 40.0;
            p.lon = 5.0 + 0.001 * i;
            bb::append(records, bb::airportRecord(lf_code(i % FILES), 0, {bb::parkingRecord({p})}));
        }
        return bb::forgedSections(3000, records);
    case 1: {
        std::vector<bb::Parking> parkings(1000);
        for (std::size_t i = 0; i < parkings.size(); ++i) {
            parkings[i].number = static_cast<std::uint32_t>(i + 1);
            parkings[i].lat = 40.0 + 0.0001 * static_cast<double>(i);
            parkings[i].lon = 5.0;
        }
        return bb::forgedSections(20000, bb::airportRecord(lf_code(1), 0, {bb::parkingRecord(parkings)}));
    }
    case 2:
        for (int a = 0; a < 250; ++a) {
            std::vector<bb::Parking> parkings(390);
            for (std::size_t i = 0; i < parkings.size(); ++i) {
                parkings[i].nameIndex = 12 + static_cast<std::uint32_t>(i % 26);
                parkings[i].number = static_cast<std::uint32_t>(i / 26 + 1);
                parkings[i].lat = 40.0 + 0.0001 * static_cast<double>(i);
                parkings[i].lon = 5.0 + 0.01 * a;
            }
            bb::append(records, bb::airportRecord(lf_code(a), 0, {bb::parkingRecord(parkings)}));
        }
        return bb::bglFile({{bb::kAirportSection, 1, records}});
    default:
        while (records.size() < (120u << 20)) {
            bb::append(records, bb::record(0x0019, 8));
        }
        return bb::forgedSections(3000, records);
    }
}

void BM_HostileFile(benchmark::State& STATE)
{
    const ScanSetUp setUp;
    const fs::path file = setUp.work / "hostile" / "f.bgl";
    bb::writeFile(file, lf_hostileFile(static_cast<int>(STATE.range(0))));
    std::size_t peak = 0;
    for (auto _ : STATE) {
        const std::size_t before = g_heapNow.load();
        g_heapPeak.store(before);
        lf_processBGLfile(file);
        STATE.PauseTiming();
        peak = std::max(peak, g_heapPeak.load() - before);
        gf_resetAirportScanForTests();
        gf_removeFilesFromDirectory(g_myThirdpartyPath);
        STATE.ResumeTiming();
    }
    STATE.counters["heap_MB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
    STATE.counters["file_MB"] = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
}

double lf_p90(const std::vector<double>& V)
{
    std::vector<double> sorted = V;
    std::sort(sorted.begin(), sorted.end());
    return sorted[static_cast<std::size_t>(0.9 * static_cast<double>(sorted.size() - 1))];
}

} // namespace

BENCHMARK(BM_RawReadOneThread)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(10)->ComputeStatistics("p90", lf_p90);
BENCHMARK(BM_RawReadScanThreads)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(10)->ComputeStatistics("p90", lf_p90);
BENCHMARK(BM_RawWriteOutputs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(10)->ComputeStatistics("p90", lf_p90);
BENCHMARK(BM_EmptyTasks)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(10)->ComputeStatistics("p90", lf_p90);
// One scan per repetition, each from the same state.
BENCHMARK(BM_ScanAllAirports)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(10)
    ->ComputeStatistics("p90", lf_p90);
BENCHMARK(BM_ScanMixed)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(10)
    ->ComputeStatistics("p90", lf_p90);
BENCHMARK(BM_HostileFile)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
