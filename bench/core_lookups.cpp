// Cost of the geo and airport lookups that the per-tick and per-second work and the scans
// call often, with the real airport list and with a full-size one.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/Airports.h"
#include "core/Geo.h"
#include "core/Paths.h"
#include "core/RefData.h"

namespace {

std::filesystem::path lf_airportsSource()
{
    return std::filesystem::path(QUILLON_SOURCE_DIR) / "data" / "reference" / "airports.xml";
}

void lf_reloadAirports()
{
    if (!qmt::gf_readAirports(lf_airportsSource())) throw std::runtime_error("reference airports not readable");
}

// The airports database from the plain reference source (no decryption needed here).
void lf_loadAirports()
{
    static const bool loaded = (lf_reloadAirports(), true);
    (void)loaded;
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

// Positions where the program asks: three in four near an airport (the user aircraft on the
// ground or on approach), the rest anywhere (en route, mostly nothing within 5 nm).
std::vector<qmt::LatLon> lf_queryPositions(std::size_t count)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<std::size_t> pick(0, qmt::g_airports.size() - 1);
    std::uniform_real_distribution<double> bearing(0.0, 2.0 * qmt::PI), nm(0.0, 8.0), lat(-70.0, 75.0), lon(-180.0, 180.0);
    std::vector<qmt::LatLon> q;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 4 == 3) {
            q.push_back({lat(rng), lon(rng)});
            continue;
        }
        const auto& a = qmt::g_airports[pick(rng)];
        q.push_back(qmt::gf_destinationPoint({a.latitude, a.longitude}, bearing(rng), nm(rng) * qmt::kFeetPerNm));
    }
    return q;
}

// The real list and, around each of its airports, seven made-up fields 3 to 60 nm away up to
// about 40,000 airports: a full list's density where traffic is.
void lf_loadFullSizeAirports()
{
    lf_reloadAirports();
    std::vector<qmt::AirportEntry> all(qmt::g_airports.begin(), qmt::g_airports.end());
    const std::size_t real = all.size();
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> bearing(0.0, 2.0 * qmt::PI), nm(3.0, 60.0);
    const std::string digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (std::size_t n = 0; all.size() < 40000; ++n) {
        const auto& near = all[n % real];
        qmt::AirportEntry a;
        // A leading digit: no real code (letters only) is taken.
        a.icao = qmt::IcaoCode(std::string{digits[n / 46656 % 10], digits[n / 1296 % 36], digits[n / 36 % 36], digits[n % 36]});
        const auto p = qmt::gf_destinationPoint({near.latitude, near.longitude}, bearing(rng), nm(rng) * qmt::kFeetPerNm);
        a.latitude = std::clamp(p.lat, -90.0, 90.0);
        a.longitude = std::remainder(p.lon, 360.0);
        all.push_back(a);
    }
    qmt::gf_setAirports(std::move(all));
}

void lf_nearest(benchmark::State& state)
{
    const auto queries = lf_queryPositions(4096);
    std::size_t i = 0, found = 0;
    for (auto _ : state) {
        const auto code = qmt::gf_nearestAirport(queries[i++ & 4095]);
        found += code.has_value();
        benchmark::DoNotOptimize(code);
    }
    state.counters["airports"] = static_cast<double>(qmt::g_airports.size());
    state.counters["found_share"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

void BM_nearestAirport(benchmark::State& state)
{
    lf_loadAirports();
    lf_nearest(state);
}
BENCHMARK(BM_nearestAirport);

void BM_nearestAirportFullSize(benchmark::State& state)
{
    lf_loadFullSizeAirports();
    lf_nearest(state);
    lf_reloadAirports();
}
BENCHMARK(BM_nearestAirportFullSize);

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

// A package path of an add-on airport, as the airport scan asks for every BGL file.
void BM_airportInPath(benchmark::State& state)
{
    lf_loadAirports();
    const std::filesystem::path p = "Community/polderworks-airport-eham-amsterdam/scenery/global/scenery/EHAM.bgl";
    for (auto _ : state) benchmark::DoNotOptimize(qmt::gf_airportInPath(p));
    state.counters["airports"] = static_cast<double>(qmt::g_airports.size());
}
BENCHMARK(BM_airportInPath);

} // namespace
