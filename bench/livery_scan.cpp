// The livery scan of a generated package tree of 20,000 liveries in 5,000 aircraft.cfg files
// (with a texture folder per livery, as real packages have) against reading the same files
// raw, one after the other, as `cat` into /dev/null does. Warm cache: the tree is read once
// before the runs. The counters ratio_to_raw and ratio_to_raw_walk are the scan's time over the
// medians of the raw read of the listed files and of the walk that finds and reads them.

#include <unistd.h>

#include <algorithm>
#include <chrono>
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
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/ScanTasks.h"
#include "liveries/LiveryScan.h"

namespace {

using namespace qmt;

constexpr int kFiles = 5000;
constexpr int kSectionsPerFile = 4;

const std::vector<std::string> kModels = {"A319", "A320", "A321", "A20N", "B737", "B738", "B38M", "E175",
                                          "E190", "CRJ9", "AT76", "A332", "B77W", "B789", "B744", "DH8D"};

std::string airlineCode(int INDEX)
{
    return fmt::format("{}{}{}", static_cast<char>('A' + INDEX / 676 % 26), static_cast<char>('A' + INDEX / 26 % 26),
                       static_cast<char>('A' + INDEX % 26));
}

// One section as the AI packages write them: a title, the keys the scan reads, and the many
// keys it passes over.
std::string section(int NUMBER, const std::string& AIRLINE, const std::string& MODEL, int SERIAL)
{
    return fmt::format(
        "[fltsim.{0}]\ntitle=\"Bench {2} {1} #{3}\"\nsim=\"aircraft\"\nmodel=\"\"\npanel=\"\"\nsound=\"\"\n"
        "texture=\"{1}_{3}\"\nkb_checklists=\"\"\nkb_reference=\"\"\natc_id=\"B-{3:05}\"\natc_airline=\"{1}\"\n"
        "atc_flight_number=\"{3}\"\natc_heavy=0\natc_parking_types=\"GATE,RAMP\"\natc_parking_codes=\"{1}\"\n"
        "icao_airline=\"{1}\"\nui_manufacturer=\"Bench\"\nui_type=\"{2}\"\nui_variation=\"{1} {3}\"\n"
        "ui_typerole=\"Commercial Airliner\"\nui_createdby=\"Bench\"\nui_thumbnailfile=\"\"\nui_certified_ceiling=41000\n"
        "ui_max_range=3000\nui_autonomy=7\nui_fuel_burn_rate=5000\ndescription=\"A generated livery\"\n"
        "visual_damage=0\nisAirTraffic=1\nisUserSelectable=0\n\n",
        NUMBER, AIRLINE, MODEL, SERIAL);
}

struct Tree {
    std::filesystem::path root;
    std::vector<std::filesystem::path> files;
    double rawSeconds = 0;     // the listed files read
    double rawWalkSeconds = 0; // the tree walked and its aircraft.cfg files read, as find and cat do
};

double rawReadSeconds(const std::vector<std::filesystem::path>& FILES)
{
    std::vector<char> buffer(1 << 16);
    const auto start = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    for (const auto& file : FILES) {
        FILE* f = std::fopen(file.c_str(), "rb");
        for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;)
            bytes += n;
        std::fclose(f);
    }
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
        if (!entry.is_regular_file() || entry.path().filename() != "aircraft.cfg")
            continue;
        FILE* f = std::fopen(entry.path().c_str(), "rb");
        for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;)
            bytes += n;
        std::fclose(f);
    }
    benchmark::DoNotOptimize(bytes);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
        made.root = std::filesystem::temp_directory_path() / fmt::format("quillon_bench_livscan_{}", ::getpid());
        std::filesystem::remove_all(made.root);
        gf_resetCoreForTests();
        gf_setWorkFolder(made.root / "work");
        gf_createWorkFolders();
        for (const std::string& model : kModels)
            g_validModels.insert(model);
        std::mt19937 rng(7);
        int serial = 0;
        const auto airplanes = made.root / "Community" / "aig-aitraffic-oci-bench" / "SimObjects" / "Airplanes";
        for (int i = 0; i < kFiles; ++i) {
            const std::string& model = kModels[static_cast<std::size_t>(i) % kModels.size()];
            const auto folder = airplanes / fmt::format("AIG_{}_{}", model, i);
            std::string text = fmt::format("[VERSION]\nmajor=1\nminor=0\n\n[GENERAL]\nicao_type_designator=\"{}\"\n"
                                           "atc_type=\"TT:ATCCOM.ATC_NAME.0.text\"\ncategory=\"airplane\"\n\n",
                                           model);
            for (int k = 0; k < kSectionsPerFile; ++k) {
                const std::string airline = airlineCode(static_cast<int>(rng() % 900));
                g_icaoAirlines.insert(airline);
                std::filesystem::create_directories(folder / fmt::format("texture.{}_{}", airline, serial));
                text += section(k, airline, model, serial++);
            }
            std::filesystem::create_directories(folder);
            std::ofstream(folder / "aircraft.cfg", std::ios::binary) << text;
            made.files.push_back(folder / "aircraft.cfg");
        }
        gf_initBglTasks();
        // Warm the cache, then the raw read's median of five.
        rawReadSeconds(made.files);
        made.rawSeconds = median5([&] { return rawReadSeconds(made.files); });
        made.rawWalkSeconds = median5([&] { return rawWalkSeconds(made.root / "Community"); });
        return made;
    }();
    return t;
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

void BM_ScanTree(benchmark::State& STATE)
{
    Tree& t = tree();
    std::size_t found = 0;
    double seconds = 0;
    for (auto _ : STATE) {
        gf_resetLiveryScanForTests();
        const auto start = std::chrono::steady_clock::now();
        LiveryWalkSeams seams;
        seams.filesPerWorker = static_cast<std::size_t>(STATE.range(0));
        lf_searchLiveriesInFolder(1, t.root / "Community" / "aig-aitraffic-oci-bench", seams);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        STATE.SetIterationTime(took);
        seconds += took;
        found = g_scannedLiveries.size();
    }
    STATE.counters["liveries"] = static_cast<double>(found);
    STATE.counters["workers"] = static_cast<double>(g_maxBglTasks);
    const double perScan = seconds / static_cast<double>(STATE.iterations());
    STATE.counters["ratio_to_raw"] = perScan / t.rawSeconds;
    STATE.counters["ratio_to_raw_walk"] = perScan / t.rawWalkSeconds;
    if (found != static_cast<std::size_t>(kFiles * kSectionsPerFile))
        STATE.SkipWithError("the scan did not find every livery");
}
// Argument: aircraft.cfg files per worker (a thread per file took 30 times the raw walk here).
BENCHMARK(BM_ScanTree)->Arg(16)->Arg(64)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(tree().root);
    return 0;
}
