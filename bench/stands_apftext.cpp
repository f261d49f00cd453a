// The text of one generated airport file, as the airport scan makes it for every airport that the
// archive does not know: 120 parkings and 2 helipads, the size of a large add-on airport.
#include "core/Reset.h"
#include "stands/AirportFile.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <string>

namespace {

using namespace qmt;

AirportFile lf_airport()
{
    AirportFile file;
    file.code = IcaoCode("LFMN");
    file.airportName = "Nice Cote d'Azur";
    file.publisher = "Northwind Sceneries";
    file.bglPath = "Community\\northwind-pack001\\scenery\\file001.bgl";
    file.altitudeFt = 12;
    for (int i = 0; i < 122; ++i) {
        const bool heli = i >= 120;
        file.stands.emplace_back(fmt::format("{} {}", heli ? "H" : "GATE_A", i % 30 + 1), std::vector<StandOption>{},
                                 43.6584 + (i / 30) * 0.0008, 7.2159 + (i % 30) * 0.0006, ((i * 37) % 360) * kDegToRad,
                                 18.0 + (i % 5) * 4.0, static_cast<uint16_t>(1 + i % 9), false, false, heli);
    }
    return file;
}

void BM_ApfText_Generated(benchmark::State& STATE)
{
    gf_resetCoreForTests();
    const AirportFile file = lf_airport();
    std::size_t bytes = 0;
    for (auto _ : STATE) {
        const std::optional<std::string> text = gf_apfText(file, ApfWriteMode::generated, 1);
        bytes = text ? text->size() : 0;
        benchmark::DoNotOptimize(text);
    }
    STATE.counters["bytes"] = static_cast<double>(bytes);
    STATE.SetBytesProcessed(static_cast<int64_t>(STATE.iterations() * bytes));
}

} // namespace

BENCHMARK(BM_ApfText_Generated)->Unit(benchmark::kMicrosecond);
