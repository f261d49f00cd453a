// A park airport's learned file read on top of its airport file, and saved again, with thousands
// of learned options on one stand (a learned file of 1.25 MB holds some 20,000): the read and the
// save of a visit, from the page cache and from the disk.
#include "core/Airports.h"
#include "core/Paths.h"
#include "core/Reset.h"
#include "parking/ParkAirport.h"
#include "parking/ParkingReset.h"
#include "stands/AirportFile.h"
#include "stands/LearnedApf.h"
#include "stands/StandTable.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace qmt;

const char* const kAirport = "airports/my_simaddon/EHAM.xml";

// Ten stands; the first holds 200 options of the airport file itself, which every learned option
// is checked against.
std::string lf_airportFile()
{
    std::string xml = "<?xml version=\"1.0\"?>\n<root><meta><info name=\"author\" value=\"Quillon\"/>"
                      "<info name=\"version\" value=\"12.0.0\"/></meta><parameters>"
                      "<parameter name=\"publisher\" value=\"simaddon\"/><parameter name=\"altitude\" value=\"-11\"/>"
                      "</parameters><parkpositions>\n";
    for (int i = 0; i < 10; ++i) {
        xml += fmt::format(R"(<parkpos id="D{}" latitude="{:.6f}" longitude="4.76" heading="90.0" radius="30.0" type="4">)",
                           i, 52.30 + i * 0.001);
        for (int o = 0; i == 0 && o < 200; ++o) {
            xml += fmt::format(R"(<opt reg="PH-A{:03}" airl="KLM" type="B738" day="{}" hh="{}:{}"/>)", o, o % 7 + 1,
                               o % 40, o % 40 + 4);
        }
        xml += "</parkpos>\n";
    }
    return xml + "</parkpositions></root>\n";
}

struct Fixture {
    Fixture()
    {
        dir = std::filesystem::temp_directory_path() / ("quillon-bench-learned-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        gf_resetCoreForTests();
        gf_setWorkFolder(dir);
        gf_createWorkFolders();
        std::filesystem::create_directories(dir / "airports" / "my_simaddon");
        std::ofstream(dir / kAirport, std::ios::binary) << lf_airportFile();
        AirportEntry eham;
        eham.icao = IcaoCode("EHAM");
        eham.latitude = 52.3086;
        eham.longitude = 4.7639;
        eham.stands = 10;
        gf_setAirports({eham});
        learned = lf_learnedPathOf(kAirport, "simaddon");
    }
    ~Fixture() { std::filesystem::remove_all(dir); }

    // A learned file whose first stand holds OPTIONS learned options (a stay of two to six
    // half-hours of one of as many registrations, on each day of the week), as the program
    // writes it.
    void writeLearned(int OPTIONS)
    {
        if (OPTIONS == written) {
            return;
        }
        std::filesystem::remove_all(learned.parent_path());
        readApf();
        std::vector<StandOption>& options = g_stands[0].options;
        for (int o = 0; o < OPTIONS; ++o) {
            StandOption opt;
            opt.registration = fmt::format("PH-L{:05}", o / 7);
            opt.callsign = fmt::format("KLM{}", o % 9000);
            opt.day = static_cast<uint32_t>(o % 7 + 1);
            const int first = o % 42;
            for (int h = first; h < first + 2 + o % 5; ++h) {
                opt.hours.set(static_cast<size_t>(h));
            }
            opt.real = 1;
            opt.optionId = static_cast<uint32_t>(options.size() + 1);
            options.push_back(opt);
        }
        lf_saveLearnedApf();
        written = OPTIONS;
    }

    static void readApf()
    {
        gf_resetParkingForTests();
        g_parkAirport = g_airports.front();
        const std::string error = gf_readApf(kAirport, g_parkApfInfo);
        if (!error.empty()) {
            throw std::runtime_error(error);
        }
    }

    // Drops the files from the page cache, so that the next read comes from the disk.
    void dropFromCache() const
    {
        for (const auto& file : {dir / kAirport, learned}) {
            const int fd = ::open(file.c_str(), O_RDONLY);
            if (fd >= 0) {
                ::fdatasync(fd);
                ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
                ::close(fd);
            }
        }
    }

    std::filesystem::path dir;
    std::filesystem::path learned;
    int written = -1;
};

Fixture& lf_fixture()
{
    static Fixture f;
    return f;
}

void lf_counters(benchmark::State& STATE, const Fixture& F)
{
    STATE.counters["file_kB"] = static_cast<double>(std::filesystem::file_size(F.learned)) / 1024.0;
    STATE.counters["options"] = static_cast<double>(g_stands.empty() ? 0 : g_stands[0].options.size());
}

// The read of the airport file and its learned file (the file in the page cache, or read from
// the disk with COLD).
void BM_LearnedRead(benchmark::State& STATE)
{
    Fixture& f = lf_fixture();
    f.writeLearned(static_cast<int>(STATE.range(0)));
    const bool cold = STATE.range(1) != 0;
    for (auto _ : STATE) {
        if (cold) {
            STATE.PauseTiming();
            f.dropFromCache();
            STATE.ResumeTiming();
        }
        Fixture::readApf();
        benchmark::DoNotOptimize(g_stands.data());
    }
    lf_counters(STATE, f);
}

// The save of what a read gave (every save writes the whole file and keeps its generations).
void BM_LearnedSave(benchmark::State& STATE)
{
    Fixture& f = lf_fixture();
    f.writeLearned(static_cast<int>(STATE.range(0)));
    Fixture::readApf();
    const std::vector<Stand> read = g_stands;
    for (auto _ : STATE) {
        STATE.PauseTiming();
        g_stands = read;
        STATE.ResumeTiming();
        lf_saveLearnedApf();
    }
    lf_counters(STATE, f);
}

// One visit: read, then save.
void BM_LearnedVisit(benchmark::State& STATE)
{
    Fixture& f = lf_fixture();
    f.writeLearned(static_cast<int>(STATE.range(0)));
    for (auto _ : STATE) {
        Fixture::readApf();
        lf_saveLearnedApf();
    }
    lf_counters(STATE, f);
}

double lf_p90(const std::vector<double>& V)
{
    std::vector<double> sorted = V;
    std::sort(sorted.begin(), sorted.end());
    return sorted[static_cast<std::size_t>(0.9 * static_cast<double>(sorted.size() - 1))];
}

} // namespace

BENCHMARK(BM_LearnedRead)
    ->ArgsProduct({{5000, 20000}, {0, 1}})
    ->ArgNames({"options", "cold"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(10)
    ->ComputeStatistics("p90", lf_p90);
BENCHMARK(BM_LearnedSave)
    ->Arg(5000)
    ->Arg(20000)
    ->ArgName("options")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(10)
    ->ComputeStatistics("p90", lf_p90);
BENCHMARK(BM_LearnedVisit)
    ->Arg(5000)
    ->Arg(20000)
    ->ArgName("options")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(10)
    ->ComputeStatistics("p90", lf_p90);
