// The livery scan of a generated package tree of 20,000 liveries in 5,000 aircraft.cfg files
// against reading the same files raw, one after the other, as `cat` into /dev/null does. Each
// livery has a texture folder holding a texture.cfg and two texture files, and each aircraft a
// model folder, as real packages have. Warm cache: the tree is read once before the runs.
//
// The scan is measured as the start-up runs it (the walk, the readers, the priority rule, the
// sort, LiveriesScanned.xml and the report files) and in its parts: starting the scan's workers,
// listing the tree (the walk with readers that read nothing), reading the listed files on
// the workers without a walk (and on one thread alone), and the readers' work on the texts in
// memory. The counters ratio_to_raw and
// ratio_to_raw_walk are a run's time over the medians of the raw read of the listed files and of the walk that finds and reads them.
// Run it on 2 cores with `taskset -c 0,1`: the scan then starts 2 workers. QUILLON_BENCH_TREE
// keeps the tree in the folder it names from one run to the next.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "core/AcKind.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/ScanTasks.h"
#include "liveries/LiveryScan.h"

#include "LiveryBenchTree.h"

namespace {

using namespace qmt;
using namespace qmt::bench;

constexpr int kFiles = 5000;

struct Tree {
    std::filesystem::path root;
    std::filesystem::path package;
    std::vector<std::filesystem::path> files;
    double rawCpuSeconds = 0;  // the processor time of one raw read
    double rawSeconds = 0;     // the listed files read
    double rawWalkSeconds = 0; // the tree walked and its aircraft.cfg files read, as find and cat do
};

void readWhole(const std::filesystem::path& PATH, std::vector<char>& BUFFER, std::size_t& BYTES)
{
    std::FILE* f = std::fopen(PATH.c_str(), "rb");
    for (std::size_t n; (n = std::fread(BUFFER.data(), 1, BUFFER.size(), f)) > 0;)
        BYTES += n;
    std::fclose(f);
}

double rawReadSeconds(const std::vector<std::filesystem::path>& FILES)
{
    std::vector<char> buffer(1 << 16);
    const auto start = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    for (const auto& file : FILES)
        readWhole(file, buffer, bytes);
    benchmark::DoNotOptimize(bytes);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The files found by walking the tree, each read when found.
double rawWalkSeconds(const std::filesystem::path& ROOT)
{
    std::vector<char> buffer(1 << 16);
    const auto start = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(ROOT)) {
        if (entry.is_regular_file() && entry.path().filename() == "aircraft.cfg")
            readWhole(entry.path(), buffer, bytes);
    }
    benchmark::DoNotOptimize(bytes);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time of the whole process (every thread, user and system), in seconds: on a busy
// machine the wall time of threaded work says little, its processor time more.
double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& T) { return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double median5(const std::function<double()>& RUN)
{
    std::vector<double> runs;
    for (int k = 0; k < 5; ++k)
        runs.push_back(RUN());
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

Tree& tree()
{
    static Tree t = [] {
        Tree made;
        const std::filesystem::path kept = keptTreeFolder();
        LiveryTree tree = makeLiveryTree(
            !kept.empty() ? kept
                          : std::filesystem::temp_directory_path() / fmt::format("quillon_bench_livscan_{}", ::getpid()),
            "aig-aitraffic-oci-bench", kFiles, !kept.empty());
        made.root = tree.root;
        made.package = tree.package;
        made.files = std::move(tree.files);
        gf_initBglTasks();
        // Warm the cache, then the raw read's median of five.
        rawReadSeconds(made.files);
        rawWalkSeconds(made.root / "Community");
        const double cpuStart = processCpuSeconds();
        made.rawSeconds = median5([&] { return rawReadSeconds(made.files); });
        made.rawCpuSeconds = (processCpuSeconds() - cpuStart) / 5;
        made.rawWalkSeconds = median5([&] { return rawWalkSeconds(made.root / "Community"); });
        return made;
    }();
    return t;
}

void setRatios(benchmark::State& STATE, double SECONDS, double CPU_SECONDS)
{
    const Tree& t = tree();
    STATE.counters["cpu_ratio_to_raw"] = CPU_SECONDS / static_cast<double>(STATE.iterations()) / t.rawCpuSeconds;
    const double perRun = SECONDS / static_cast<double>(STATE.iterations());
    STATE.counters["ratio_to_raw"] = perRun / t.rawSeconds;
    STATE.counters["ratio_to_raw_walk"] = perRun / t.rawWalkSeconds;
    STATE.counters["workers"] = static_cast<double>(g_maxBglTasks);
}

double secondsSince(std::chrono::steady_clock::time_point START)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - START).count();
}

void BM_RawRead(benchmark::State& STATE)
{
    Tree& t = tree();
    for (auto _ : STATE)
        STATE.SetIterationTime(rawReadSeconds(t.files));
    STATE.counters["files"] = static_cast<double>(t.files.size());
}
BENCHMARK(BM_RawRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_RawWalkAndRead(benchmark::State& STATE)
{
    Tree& t = tree();
    for (auto _ : STATE)
        STATE.SetIterationTime(rawWalkSeconds(t.root / "Community"));
}
BENCHMARK(BM_RawWalkAndRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Starting a scan's workers: the threads started and each one running its first task.
void BM_ScanWorkersStartUp(benchmark::State& STATE)
{
    tree();
    for (auto _ : STATE) {
        const auto start = std::chrono::steady_clock::now();
        {
            ScanPool pool;
            ScanTasks<int> tasks(pool);
            for (unsigned i = 0; i < g_maxBglTasks; ++i)
                tasks.start([] { return 1; });
            while (!tasks.empty())
                benchmark::DoNotOptimize(tasks.takeOldest());
        }
        STATE.SetIterationTime(secondsSince(start));
    }
    STATE.counters["workers"] = static_cast<double>(g_maxBglTasks);
}
BENCHMARK(BM_ScanWorkersStartUp)->UseManualTime()->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Times each run of BODY on a scan's fresh lists and workers, with the ratios to the raw read.
void timeScanParts(benchmark::State& STATE, const std::function<void(LiveryScanRun&)>& BODY)
{
    double seconds = 0;
    double cpu = 0;
    for (auto _ : STATE) {
        gf_resetLiveryScanForTests();
        LiveryScanRun run(lf_takeScanSnapshot());
        const double cpuStart = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        BODY(run);
        const double took = secondsSince(start);
        cpu += processCpuSeconds() - cpuStart;
        STATE.SetIterationTime(took);
        seconds += took;
    }
    setRatios(STATE, seconds, cpu);
}

// Listing: the walk of the package with readers that read nothing.
void BM_ScanListing(benchmark::State& STATE)
{
    Tree& t = tree();
    LiveryWalkSeams listingOnly;
    listingOnly.ordinaryReader = [](int32_t, const std::filesystem::path&, const LiveryScanSnapshot&, std::string*) {
        return UnclaimedLiveries{};
    };
    timeScanParts(STATE, [&](LiveryScanRun& RUN) { lf_searchLiveriesInFolder(1, t.package, RUN, listingOnly); });
}
BENCHMARK(BM_ScanListing)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Reading: the listed files read on the scan's workers, a task per file, without a walk.
void BM_ScanReading(benchmark::State& STATE)
{
    Tree& t = tree();
    timeScanParts(STATE, [&](LiveryScanRun& RUN) {
        // The titles are claimed on this thread in file order, as the walk claims them.
        ScanTasks<UnclaimedLiveries> tasks(RUN.pool);
        for (const std::filesystem::path& file : t.files) {
            tasks.start([&file, &RUN] { return lf_readLiveriesinFile(1, file, *RUN.lists); });
            if (tasks.overfull())
                g_scannedLiveries.splice(g_scannedLiveries.end(), lf_claimLiveries(tasks.takeOldest()));
        }
        while (!tasks.empty())
            g_scannedLiveries.splice(g_scannedLiveries.end(), lf_claimLiveries(tasks.takeOldest()));
    });
    if (g_scannedLiveries.size() != static_cast<std::size_t>(kFiles * kSectionsPerFile))
        STATE.SkipWithError("the readers did not find every livery");
}
BENCHMARK(BM_ScanReading)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Reading alone on the walking thread, without workers: the readers' own cost.
void BM_ReadOneThread(benchmark::State& STATE)
{
    Tree& t = tree();
    timeScanParts(STATE, [&](LiveryScanRun& RUN) {
        for (const std::filesystem::path& file : t.files)
            g_scannedLiveries.splice(g_scannedLiveries.end(), lf_searchLiveriesinFile(1, file, *RUN.lists));
    });
}
BENCHMARK(BM_ReadOneThread)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The readers' own work on the texts already in memory, on one thread: what the reading on one
// thread costs beyond the reading of the files.
void BM_ParseInMemory(benchmark::State& STATE)
{
    Tree& t = tree();
    std::vector<std::string> texts;
    for (const std::filesystem::path& file : t.files)
        texts.push_back(gf_readWholeTextFile(file).text);
    timeScanParts(STATE, [&](LiveryScanRun& RUN) {
        CfgLines lines; // kept from one file to the next, as the readers keep theirs
        for (std::size_t i = 0; i < texts.size(); ++i) {
            lines.clear();
            gf_splitTextLines(texts[i], lines);
            if (!lf_fltsimNumbers(lines, lf_bracketLines(texts[i], lines), t.files[i]))
                continue;
            const std::string model = lf_cfgModelCode(t.files[i], lines);
            g_scannedLiveries.splice(g_scannedLiveries.end(),
                                     lf_processFltSimSections(1, lines, model, t.files[i], t.files[i].parent_path(), *RUN.lists));
        }
    });
    if (g_scannedLiveries.size() != static_cast<std::size_t>(kFiles * kSectionsPerFile))
        STATE.SkipWithError("the readers did not find every livery");
}
BENCHMARK(BM_ParseInMemory)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The scan as the start-up runs it, from the workers' start to the last report file.
void BM_LiveryScan(benchmark::State& STATE)
{
    Tree& t = tree();
    LIG_PRIORITIZE.set(true);
    double seconds = 0;
    double cpu = 0;
    std::size_t written = 0;
    for (auto _ : STATE) {
        gf_resetLiveryScanForTests();
        const double cpuStart = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const bool found = lf_scanLiveryFolders({t.package});
        const double took = secondsSince(start);
        cpu += processCpuSeconds() - cpuStart;
        STATE.SetIterationTime(took);
        seconds += took;
        written = found ? static_cast<std::size_t>(std::filesystem::file_size(gf_liveriesScannedPath())) : 0;
    }
    setRatios(STATE, seconds, cpu);
    STATE.counters["xml_bytes"] = static_cast<double>(written);
    if (written == 0)
        STATE.SkipWithError("the scan wrote no LiveriesScanned.xml");
}
BENCHMARK(BM_LiveryScan)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (keptTreeFolder().empty())
        std::filesystem::remove_all(tree().root);
    return 0;
}
