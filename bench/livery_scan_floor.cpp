// The livery scan of 20,000 liveries (5,000 aircraft.cfg files, each aircraft with a model
// folder and a texture folder per livery, as real packages have) against the floor it cannot
// beat: a plain walk-and-read on 2 threads that lists every folder, prunes the texture and model
// folders of an aircraft's folder as the scan does, and reads each aircraft.cfg whole. Job and
// floor run by turns in the same run, on a warm cache, so that both meet the same machine; the
// counters give the median of each and job/floor.
//
// Run it on 2 cores with `taskset -c 0,1`. QUILLON_BENCH_TREE keeps the tree in the folder it
// names from one run to the next.

#include <dirent.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "core/AcKind.h"
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

constexpr int kFloorFiles = 5000;
constexpr int kRounds = 5;

struct FloorTree {
    std::filesystem::path root;
    std::filesystem::path package;
};

FloorTree& floorTree()
{
    static FloorTree t = [] {
        FloorTree made;
        const std::filesystem::path kept = keptTreeFolder();
        const LiveryTree tree = makeLiveryTree(
            !kept.empty() ? kept / "floor"
                          : std::filesystem::temp_directory_path() / fmt::format("quillon_bench_livfloor_{}", ::getpid()),
            "aig-aitraffic-oci-floor", kFloorFiles, !kept.empty());
        made.root = tree.root;
        made.package = tree.package;
        gf_initBglTasks();
        LIG_PRIORITIZE.set(true);
        return made;
    }();
    return t;
}

bool floorIsAircraftCfg(std::string_view NAME)
{
    if (NAME.size() != 12)
        return false;
    std::string lower(NAME);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char C) { return std::tolower(C); });
    return lower == "aircraft.cfg";
}

bool floorIsTextureOrModel(std::string_view NAME)
{
    for (const std::string_view kind : {std::string_view("texture"), std::string_view("model")}) {
        if (NAME.size() < kind.size())
            continue;
        std::string head(NAME.substr(0, kind.size()));
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char C) { return std::tolower(C); });
        if (head == kind && (NAME.size() == kind.size() || NAME[kind.size()] == '.'))
            return true;
    }
    return false;
}

// The plain walk-and-read on THREADS threads: a shared stack of folders; each thread lists one,
// reads its aircraft.cfg, and pushes the sub-folders it keeps. Returns the bytes read.
std::size_t floorWalkAndRead(const std::filesystem::path& ROOT, unsigned THREADS)
{
    std::mutex mutex;
    std::condition_variable more;
    std::vector<std::string> folders{ROOT.string()};
    unsigned busy = 0;
    std::size_t bytes = 0;
    const auto work = [&] {
        std::vector<char> buffer(1 << 16);
        std::vector<std::string> found;
        std::size_t mine = 0;
        for (;;) {
            std::string folder;
            {
                std::unique_lock lock(mutex);
                more.wait(lock, [&] { return !folders.empty() || busy == 0; });
                if (folders.empty())
                    break;
                folder = std::move(folders.back());
                folders.pop_back();
                ++busy;
            }
            found.clear();
            bool aircraft = false;
            if (DIR* dir = ::opendir(folder.c_str())) {
                while (const dirent* entry = ::readdir(dir)) {
                    const std::string_view name(entry->d_name);
                    if (name == "." || name == "..")
                        continue;
                    if (entry->d_type == DT_DIR) {
                        found.push_back(folder + "/" + std::string(name));
                    } else if (entry->d_type == DT_REG && floorIsAircraftCfg(name)) {
                        aircraft = true;
                        const int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_CLOEXEC);
                        for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
                            mine += static_cast<std::size_t>(n);
                        if (fd >= 0)
                            ::close(fd);
                    }
                }
                ::closedir(dir);
            }
            std::lock_guard lock(mutex);
            for (std::string& sub : found) {
                const std::string_view name = std::string_view(sub).substr(sub.rfind('/') + 1);
                if (!(aircraft && floorIsTextureOrModel(name)))
                    folders.push_back(std::move(sub));
            }
            --busy;
            more.notify_all();
        }
        std::lock_guard lock(mutex);
        bytes += mine;
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < THREADS; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
    return bytes;
}

double floorSecondsSince(std::chrono::steady_clock::time_point START)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - START).count();
}

// Processor time of the whole process (every thread, user and system), in seconds: on a busy
// machine the wall time of threaded work says little, its processor time more.
double floorCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& T) { return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double floorMedian(std::vector<double> RUNS)
{
    std::sort(RUNS.begin(), RUNS.end());
    return RUNS[RUNS.size() / 2];
}

// The scan as the start-up runs it and its 2-thread walk-and-read floor, by turns.
void BM_LiveryScanAgainstFloor(benchmark::State& STATE)
{
    FloorTree& t = floorTree();
    // Warm the cache for both.
    floorWalkAndRead(t.package, 2);
    gf_resetLiveryScanForTests();
    lf_scanLiveryFolders({t.package});
    std::vector<double> jobs;
    std::vector<double> floors;
    std::vector<double> jobCpu;
    std::vector<double> floorCpu;
    for (auto _ : STATE) {
        for (int round = 0; round < kRounds; ++round) {
            double cpu = floorCpuSeconds();
            auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(floorWalkAndRead(t.package, 2));
            floors.push_back(floorSecondsSince(start));
            floorCpu.push_back(floorCpuSeconds() - cpu);
            gf_resetLiveryScanForTests();
            cpu = floorCpuSeconds();
            start = std::chrono::steady_clock::now();
            if (!lf_scanLiveryFolders({t.package}))
                STATE.SkipWithError("the scan found no livery");
            jobs.push_back(floorSecondsSince(start));
            jobCpu.push_back(floorCpuSeconds() - cpu);
        }
        STATE.SetIterationTime(floorMedian(jobs));
    }
    const double job = floorMedian(jobs);
    const double floor = floorMedian(floors);
    STATE.counters["job_ms"] = job * 1e3;
    STATE.counters["job_min_ms"] = *std::min_element(jobs.begin(), jobs.end()) * 1e3;
    STATE.counters["job_max_ms"] = *std::max_element(jobs.begin(), jobs.end()) * 1e3;
    STATE.counters["floor_ms"] = floor * 1e3;
    STATE.counters["floor_min_ms"] = *std::min_element(floors.begin(), floors.end()) * 1e3;
    STATE.counters["floor_max_ms"] = *std::max_element(floors.begin(), floors.end()) * 1e3;
    STATE.counters["job_over_floor"] = job / floor;
    // Processor time of all threads: less moved by other load on the same cores.
    STATE.counters["job_cpu_ms"] = floorMedian(jobCpu) * 1e3;
    STATE.counters["floor_cpu_ms"] = floorMedian(floorCpu) * 1e3;
    STATE.counters["workers"] = static_cast<double>(g_maxBglTasks);
}
BENCHMARK(BM_LiveryScanAgainstFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const char* kept = std::getenv("QUILLON_BENCH_TREE");
    if (kept == nullptr || *kept == '\0')
        std::filesystem::remove_all(floorTree().root);
    return 0;
}
