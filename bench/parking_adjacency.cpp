// Reading a 1,000-stand airport file and building the stand adjacency: parsed from memory, and
// read from disk through the program's own reader, with the file in the page cache and not.
#include "core/Airports.h"
#include "core/Paths.h"
#include "core/Reset.h"
#include "parking/ParkAirport.h"
#include "stands/AirportFile.h"
#include "stands/StandTable.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <pugixml.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace qmt;

// 1,000 stands in 20 rows of 50, 45 m apart, with radii of 20 to 40 m and three
// options each: neighbours in a row and across rows overlap, as on a real apron.
std::string lf_thousandStandFile()
{
    std::string xml = "<?xml version=\"1.0\"?>\n<root><meta><info name=\"author\" value=\"Quillon\"/>"
                      "<info name=\"version\" value=\"12.0.0\"/></meta><parameters>"
                      "<parameter name=\"publisher\" value=\"stock\"/><parameter name=\"altitude\" value=\"-11\"/>"
                      "</parameters><parkpositions>\n";
    const double metreLat = 1.0 / 1852.0 / 60.0;
    const double metreLon = metreLat / std::cos(52.3 * 3.141592653589793 / 180.0);
    for (int row = 0; row < 20; ++row) {
        for (int col = 0; col < 50; ++col) {
            const int i = row * 50 + col;
            xml += fmt::format(R"(<parkpos id="S{}" latitude="{:.6f}" longitude="{:.6f}" heading="90.0" radius="{:.1f}" type="4">)",
                               i, 52.30 + row * 45.0 * metreLat, 4.76 + col * 45.0 * metreLon, 20.0 + (i % 5) * 5.0);
            for (int d = 1; d <= 3; ++d) {
                xml += fmt::format(R"(<opt airl="KLM" type="B738" day="{}" hh="{}:{}" cs="KLM{}"/>)", d, i % 40,
                                   i % 40 + 6, i);
            }
            xml += "</parkpos>\n";
        }
    }
    return xml + "</parkpositions></root>\n";
}

struct Fixture {
    Fixture()
    {
        dir = std::filesystem::temp_directory_path() / ("quillon-bench-parking-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir / "airports");
        gf_resetCoreForTests();
        gf_setWorkFolder(dir);
        text = lf_thousandStandFile();
        file = dir / "airports" / "EHAM.xml";
        std::ofstream(file, std::ios::binary) << text;
        AirportEntry eham;
        eham.icao = IcaoCode("EHAM");
        eham.stands = 1000;
        gf_setAirports({eham});
        g_parkAirport = eham;
    }
    ~Fixture() { std::filesystem::remove_all(dir); }
    // Drops the file from the page cache, so that the next read comes from the disk.
    void dropFromCache() const
    {
        const int fd = ::open(file.c_str(), O_RDONLY);
        if (fd >= 0) {
            ::fdatasync(fd);
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
    std::filesystem::path dir;
    std::filesystem::path file;
    std::string text;
};

Fixture& lf_fixture()
{
    static Fixture f;
    return f;
}

// Parse, read the stands and build the adjacency.
void BM_ReadAndAdjacency(benchmark::State& STATE)
{
    const Fixture& f = lf_fixture();
    size_t pairs = 0;
    for (auto _ : STATE) {
        pugi::xml_document doc;
        doc.load_buffer(f.text.data(), f.text.size());
        std::vector<Stand> stands;
        lf_readStands(doc, stands);
        gf_numberStandsAndAdjacency(stands);
        pairs = 0;
        for (const Stand& s : stands) {
            pairs += s.adjacent.size();
        }
        benchmark::DoNotOptimize(stands.data());
    }
    STATE.counters["adjacent"] = static_cast<double>(pairs);
}
BENCHMARK(BM_ReadAndAdjacency)->Unit(benchmark::kMillisecond);

// The adjacency alone.
void BM_AdjacencyOnly(benchmark::State& STATE)
{
    const Fixture& f = lf_fixture();
    pugi::xml_document doc;
    doc.load_buffer(f.text.data(), f.text.size());
    std::vector<Stand> stands;
    lf_readStands(doc, stands);
    for (auto _ : STATE) {
        gf_numberStandsAndAdjacency(stands);
        benchmark::DoNotOptimize(stands.data());
    }
}
BENCHMARK(BM_AdjacencyOnly)->Unit(benchmark::kMillisecond);

// The whole read of the park airport's file from disk (no learned file).
void BM_ReadApf(benchmark::State& STATE)
{
    lf_fixture();
    for (auto _ : STATE) {
        g_stands.clear();
        const std::string error = gf_readApf("airports/EHAM.xml", g_parkApfInfo);
        if (!error.empty()) {
            STATE.SkipWithError(error.c_str());
            break;
        }
    }
}
BENCHMARK(BM_ReadApf)->Unit(benchmark::kMillisecond);

// The same with the file read from the disk each time.
void BM_ReadApfUncached(benchmark::State& STATE)
{
    const Fixture& f = lf_fixture();
    for (auto _ : STATE) {
        STATE.PauseTiming();
        f.dropFromCache();
        g_stands.clear();
        STATE.ResumeTiming();
        const std::string error = gf_readApf("airports/EHAM.xml", g_parkApfInfo);
        if (!error.empty()) {
            STATE.SkipWithError(error.c_str());
            break;
        }
    }
    STATE.counters["file_kB"] = static_cast<double>(std::filesystem::file_size(f.file)) / 1024.0;
}
BENCHMARK(BM_ReadApfUncached)->Unit(benchmark::kMillisecond)->Iterations(50);

// Hostile airport files of 1 MB: whatever a file says, its read must stay well under a second.
// 0: 20,000 stands on one spot that all overlap; 1: 20,000 stands of radius 0 on one spot and
// one of 100 m (nothing overlaps, every pair is near); 2: the sample file with its numbers
// replaced by huge, negative and non-numbers, repeated to 1 MB.
std::string lf_hostileFile(int KIND)
{
    std::string xml = "<?xml version=\"1.0\"?>\n<root><meta><info name=\"author\" value=\"Quillon\"/>"
                      "<info name=\"version\" value=\"12.0.0\"/></meta><parameters>"
                      "<parameter name=\"publisher\" value=\"stock\"/><parameter name=\"altitude\" value=\"-11\"/>"
                      "</parameters><parkpositions>\n";
    const char* hostile[] = {"1e308", "-1e308", "nan", "inf", "-5", "1e10", "", "x"};
    for (int i = 0; xml.size() < 1000000; ++i) {
        if (KIND == 2) {
            xml += fmt::format(R"(<parkpos id="S{}" latitude="{}" longitude="4.76" heading="{}" radius="{}" type="{}">)"
                               R"(<opt airl="KLM" type="B738" day="{}" hh="{}"/></parkpos>)",
                               i, i % 3 == 0 ? "52.3" : hostile[i % 8], hostile[(i + 1) % 8], hostile[(i + 2) % 8],
                               hostile[(i + 3) % 8], hostile[(i + 4) % 8], hostile[(i + 5) % 8]);
        } else {
            const double radius = KIND == 0 ? 50.0 : (i == 0 ? 100.0 : 0.0);
            xml += fmt::format(R"(<parkpos id="S{}" latitude="52.3" longitude="4.76" radius="{:.1f}"/>)", i, radius);
        }
        xml += "\n";
    }
    return xml + "</parkpositions></root>\n";
}

void BM_ReadHostileApf(benchmark::State& STATE)
{
    const Fixture& f = lf_fixture();
    const std::string text = lf_hostileFile(static_cast<int>(STATE.range(0)));
    std::ofstream(f.dir / "airports" / "HOSTILE.xml", std::ios::binary) << text;
    for (auto _ : STATE) {
        g_stands.clear();
        gf_readApf("airports/HOSTILE.xml", g_parkApfInfo);
        benchmark::DoNotOptimize(g_stands.data());
    }
    STATE.counters["stands"] = static_cast<double>(g_stands.size());
    STATE.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ReadHostileApf)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace
