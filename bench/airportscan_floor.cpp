// The airport scan beside its floor, both timed in each repetition: the figure that counts is
// job_per_floor, the scan's time over the floor's.
//
// Beside the wall times, the processor times of both (all threads), in the program and in the
// system: user_per_floor is the program's own work over the floor's, which a busy machine and a
// disk shared with other work blur far less than the wall times (the system's share varies with
// what the file system did lately).
//
// The floor is what no scan can do without: list the Community folder and read every BGL file
// whole on as many threads as the scan's workers, create the files the scan generates (the same
// names and bytes) once each, straight, in a folder made new for them, on as many threads, and
// zip them as the scan does (compressed on those threads at the scan's level, written by one).
// The scan is the program's whole scan (gf_scanAirports) of a working folder in which an earlier
// scan left its files, as a user's scan finds it: it replaces them.
//
// Creating files is most of both on a disk's file system, and what it costs depends on where
// and what was removed there lately (ext4 without a journal passes over inodes freed in the last
// minute, in the group of the folder it creates in): the floor creates its files beside the
// scan's folders, in the same working folder; the floor goes first, and the scan removes the
// files it replaces only at its end, so neither removes anything before the other; every
// working folder stays until the program ends. "AllAirports": every file holds an airport of
// its own, none archived, so 500 files are generated and zipped; "Mixed": one file in ten holds
// an airport.
// QUILLON_BENCH_FOLDER sets where the folders go (the temporary folder by default).
#include "airportscan/AirportScan.h"
#include "airportscan/ZipArchive.h"
#include "core/Files.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/Reset.h"
#include "core/ScanTasks.h"

#include "AirportScanFolders.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qmt;
namespace fs = std::filesystem;

struct OutputFile {
    std::string name;
    std::string bytes;
};

// One kind of scan: its input, the files a scan of it leaves in the working folder (to lay in
// each round's folder beforehand) and those it generates (what the floor creates and zips).
struct Subject {
    bench::ScanInput input;
    std::vector<OutputFile> thirdparty;
    std::vector<OutputFile> tblo;
    std::vector<OutputFile> generated;

    Subject(const std::string& NAME, int AIRPORT_EVERY) : input(NAME, AIRPORT_EVERY) {}
};

// Every folder a round made, removed when the program ends.
struct Leftovers {
    std::vector<fs::path> folders;
    ~Leftovers()
    {
        std::error_code ec;
        for (const fs::path& folder : folders) {
            fs::remove_all(folder, ec);
        }
    }
};
Leftovers s_leftovers;

fs::path lf_roundFolder(const std::string& WHAT)
{
    static int made = 0;
    fs::path folder = bench::gf_benchFolder() / fmt::format("quillon-bench-apfloor-{}-{}-{}", ::getpid(), WHAT, made++);
    s_leftovers.folders.push_back(folder);
    return folder;
}

std::vector<OutputFile> lf_readFolder(const fs::path& FOLDER)
{
    std::vector<OutputFile> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(FOLDER)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files.push_back({entry.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {})});
    }
    std::sort(files.begin(), files.end(), [](const OutputFile& A, const OutputFile& B) { return A.name < B.name; });
    return files;
}

void lf_writeFolder(const fs::path& FOLDER, const std::vector<OutputFile>& FILES)
{
    fs::create_directories(FOLDER);
    for (const OutputFile& file : FILES) {
        std::ofstream(FOLDER / file.name, std::ios::binary) << file.bytes;
    }
}

void lf_scanSettings(const Subject& SUBJECT)
{
    SIM_CHOICE.set(2020);
    MSFS_INSTALL_PATH.set(SUBJECT.input.root.string());
}

// A first scan, untimed: what a scan leaves and what it generates.
void lf_learnOutputs(Subject& SUBJECT)
{
    const fs::path work = lf_roundFolder("first");
    bench::gf_setUpScanState(work);
    lf_scanSettings(SUBJECT);
    gf_scanAirports();
    SUBJECT.thirdparty = lf_readFolder(g_myThirdpartyPath);
    SUBJECT.tblo = lf_readFolder(g_tbloPath);
    for (const OutputFile& file : SUBJECT.thirdparty) {
        if (file.name.ends_with(".xml")) {
            SUBJECT.generated.push_back(file);
        }
    }
    gf_resetAirportScanForTests();
    gf_resetCoreForTests();
}

// Processor time of the whole process so far (every thread), seconds: in the program itself and in
// the system on its behalf.
struct ProcessorTime {
    double user = 0;
    double system = 0;

    static ProcessorTime now()
    {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const auto seconds = [](const timeval& T) { return static_cast<double>(T.tv_sec) + T.tv_usec / 1e6; };
        return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
    }
    ProcessorTime operator-(const ProcessorTime& EARLIER) const
    {
        return {user - EARLIER.user, system - EARLIER.system};
    }
};

// Runs EACH (index, thread) for the indices 0..COUNT-1 shared out over THREADS threads.
template <typename EACH>
void lf_onThreads(std::size_t COUNT, unsigned THREADS, const EACH& DO)
{
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t i = t; i < COUNT; i += THREADS) {
                DO(i);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// The floor, into the new folder TARGET; its time in seconds, and its processor time into CPU.
double lf_floor(const Subject& SUBJECT, const fs::path& TARGET, ProcessorTime& CPU)
{
    const unsigned threads = std::max(1u, g_maxBglTasks);
    const ProcessorTime cpuStarted = ProcessorTime::now();
    const auto started = std::chrono::steady_clock::now();
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(SUBJECT.input.community)) {
        if (entry.is_regular_file() && entry.path().extension() == ".bgl") {
            files.push_back(entry.path());
        }
    }
    std::vector<std::vector<char>> buffers(threads);
    lf_onThreads(files.size(), threads, [&](std::size_t I) {
        std::vector<char>& buffer = buffers[I % threads];
        const int fd = ::open(files[I].c_str(), O_RDONLY | O_CLOEXEC);
        buffer.resize(static_cast<std::size_t>(fs::file_size(files[I])));
        std::size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    });
    const std::vector<OutputFile>& out = SUBJECT.generated;
    fs::create_directory(TARGET);
    lf_onThreads(out.size(), threads, [&](std::size_t I) {
        const fs::path path = TARGET / out[I].name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        benchmark::DoNotOptimize(::write(fd, out[I].bytes.data(), out[I].bytes.size()));
        ::close(fd);
    });
    std::vector<DeflatedEntry> deflated(out.size());
    lf_onThreads(out.size(), threads,
                 [&](std::size_t I) { deflated[I] = gf_deflateEntry(out[I].bytes.data(), out[I].bytes.size()); });
    ZipArchive zip((TARGET / "floor.zip").string());
    zip.open(ZipArchive::OpenMode::New);
    for (std::size_t i = 0; i < out.size(); ++i) {
        zip.addDeflated(out[i].name, deflated[i]);
    }
    zip.close();
    CPU = ProcessorTime::now() - cpuStarted;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

// One round: a working folder that holds an earlier scan's files, the floor beside them and the
// scan of it, each timed.
void lf_againstFloor(benchmark::State& STATE, Subject& SUBJECT)
{
    double job = 0;
    double floor = 0;
    ProcessorTime jobCpu;
    ProcessorTime floorCpu;
    for (auto _ : STATE) {
        const fs::path work = lf_roundFolder("work");
        bench::gf_setUpScanState(work);
        lf_scanSettings(SUBJECT);
        lf_writeFolder(g_myThirdpartyPath, SUBJECT.thirdparty);
        lf_writeFolder(g_tbloPath, SUBJECT.tblo);
        const fs::path target = g_airportsPath / "floor";
        floor = lf_floor(SUBJECT, target, floorCpu);
        const ProcessorTime cpuStarted = ProcessorTime::now();
        const auto started = std::chrono::steady_clock::now();
        gf_scanAirports();
        job = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        jobCpu = ProcessorTime::now() - cpuStarted;
        STATE.SetIterationTime(job);
        gf_resetAirportScanForTests();
        gf_resetCoreForTests();
    }
    STATE.counters["job_ms"] = job * 1000.0;
    STATE.counters["floor_ms"] = floor * 1000.0;
    STATE.counters["job_per_floor"] = job / floor;
    STATE.counters["job_user_ms"] = jobCpu.user * 1000.0;
    STATE.counters["job_sys_ms"] = jobCpu.system * 1000.0;
    STATE.counters["floor_user_ms"] = floorCpu.user * 1000.0;
    STATE.counters["floor_sys_ms"] = floorCpu.system * 1000.0;
    STATE.counters["user_per_floor"] = jobCpu.user / floorCpu.user;
    STATE.counters["files_out"] = static_cast<double>(SUBJECT.generated.size());
    STATE.counters["tasks"] = static_cast<double>(g_maxBglTasks);
}

// The folders are written once per process, 120 MB each, with their first scan.
Subject& lf_subject(bool ALL_AIRPORTS)
{
    static std::list<Subject> subjects;
    static Subject* all = nullptr;
    static Subject* mixed = nullptr;
    Subject*& subject = ALL_AIRPORTS ? all : mixed;
    if (subject == nullptr) {
        subject = &subjects.emplace_back(ALL_AIRPORTS ? "floor-all" : "floor-mixed", ALL_AIRPORTS ? 1 : 10);
        lf_learnOutputs(*subject);
    }
    return *subject;
}

void BM_AirportScanAgainstFloor_AllAirports(benchmark::State& STATE) { lf_againstFloor(STATE, lf_subject(true)); }
void BM_AirportScanAgainstFloor_Mixed(benchmark::State& STATE) { lf_againstFloor(STATE, lf_subject(false)); }

double lf_min(const std::vector<double>& V) { return *std::min_element(V.begin(), V.end()); }
double lf_max(const std::vector<double>& V) { return *std::max_element(V.begin(), V.end()); }

} // namespace

// One scan and one floor per repetition; the median, min and max of the repetitions give the
// figure with its spread.
BENCHMARK(BM_AirportScanAgainstFloor_AllAirports)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)
    ->Repetitions(5)->ComputeStatistics("min", lf_min)->ComputeStatistics("max", lf_max);
BENCHMARK(BM_AirportScanAgainstFloor_Mixed)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)
    ->Repetitions(5)->ComputeStatistics("min", lf_min)->ComputeStatistics("max", lf_max);
