// Cost of the geo and airport lookups that the per-tick and per-second work calls often.

#include <filesystem>

#include <benchmark/benchmark.h>

#include "core/Airports.h"
#include "core/Geo.h"
#include "core/Paths.h"
#include "core/RefData.h"

namespace {

// The airports database from the plain sample source (no decryption needed here).
void lf_loadAirports()
{
    static const bool loaded = [] {
        const auto src = std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "reference" / "airports.xml";
        return qmt::gf_readAirports(src);
    }();
    if (!loaded) throw std::runtime_error("sample airports not readable");
}

void BM_distanceNm(benchmark::State& state)
{
    double lat = 52.3086, lon = 4.7639;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qmt::gf_distanceNm(lat, lon, 51.47, -0.4543));
        lat += 1e-9;
    }
}
BENCHMARK(BM_distanceNm);

void BM_bearingAndDestination(benchmark::State& state)
{
    const qmt::LatLon a{52.3086, 4.7639};
    for (auto _ : state) {
        const double b = qmt::gf_bearing(a, qmt::LatLon{51.47, -0.4543});
        benchmark::DoNotOptimize(qmt::gf_destinationPoint(a, b, 6076.11549));
    }
}
BENCHMARK(BM_bearingAndDestination);

void BM_nearestAirport(benchmark::State& state)
{
    lf_loadAirports();
    const qmt::LatLon nearEham{52.31, 4.76};
    for (auto _ : state) benchmark::DoNotOptimize(qmt::gf_nearestAirport(nearEham));
    state.counters["airports"] = static_cast<double>(qmt::g_airports.size());
}
BENCHMARK(BM_nearestAirport);

void BM_airportByCode(benchmark::State& state)
{
    lf_loadAirports();
    for (auto _ : state) benchmark::DoNotOptimize(qmt::gf_airportByCode("EHAM"));
}
BENCHMARK(BM_airportByCode);

void BM_airportCodeText(benchmark::State& state)
{
    lf_loadAirports();
    const qmt::IcaoCode eham("EHAM");
    for (auto _ : state) benchmark::DoNotOptimize(qmt::gf_airportCodeText(eham));
}
BENCHMARK(BM_airportCodeText);

void BM_airportInPath(benchmark::State& state)
{
    lf_loadAirports();
    const std::filesystem::path p = "Community/polderworks-airport-eham-amsterdam/scenery/global/scenery/EHAM.bgl";
    for (auto _ : state) benchmark::DoNotOptimize(qmt::gf_airportInPath(p));
}
BENCHMARK(BM_airportInPath);

} // namespace
