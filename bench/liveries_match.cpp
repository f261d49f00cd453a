// Livery table build and matching with 20,000 generated liveries: build time, time per
// match (median of the repetitions) and the memory the tables take.

#include <malloc.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "core/AcKind.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "engine/AcRecords.h"
#include "liveries/LiveryTables.h"
#include "liveries/Matching.h"
#include "liveries/ScannedLivery.h"

namespace {

using namespace qmt;

constexpr int kLiveries = 20000;
constexpr int kAirlines = 900;

const std::vector<std::string> kLarge = {"A319", "A320", "A321", "A20N", "A21N", "B737", "B738", "B739", "B38M",
                                         "E170", "E175", "E190", "E195", "CRJ7", "CRJ9", "AT76", "DH8D", "BCS3"};
const std::vector<std::string> kHeavy = {"A332", "A333", "A359", "B744", "B748", "B763", "B772", "B77W",
                                         "B788", "B789", "A388", "MD11"};
const std::vector<std::string> kBuzjets = {"C56X", "CL35", "GLF6", "E55P"};
const std::vector<std::string> kLight = {"C172", "PA28", "SR22", "C208"};
const std::vector<std::string> kRotor = {"EC35", "EC45", "R44"};
const std::vector<std::string> kPrefixes = {"PH-", "G-", "D-", "F-", "N", "EI-", "OO-", "SE-", "HB-", "OE-"};

std::string airlineCode(int INDEX)
{
    return fmt::format("{}{}{}", static_cast<char>('A' + INDEX / 676 % 26), static_cast<char>('A' + INDEX / 26 % 26),
                       static_cast<char>('A' + INDEX % 26));
}

std::string registration(std::mt19937& RNG, int SERIAL)
{
    const std::string& prefix = kPrefixes[RNG() % kPrefixes.size()];
    return fmt::format("{}{:04X}", prefix, SERIAL);
}

struct World {
    std::filesystem::path work;
    std::vector<SimAc> aircraft;
    double tableBytes = 0;
};

World& world()
{
    static World w = [] {
        World made;
        gf_resetCoreForTests();
        made.work = std::filesystem::temp_directory_path() / "quillon_bench_liveries";
        std::filesystem::remove_all(made.work);
        gf_setWorkFolder(made.work);
        gf_createWorkFolders();
        g_largeModels = {kLarge.begin(), kLarge.end()};
        g_heavyModels = {kHeavy.begin(), kHeavy.end()};
        g_buzjetModels = {kBuzjets.begin(), kBuzjets.end()};
        g_rotorcraftModels = {kRotor.begin(), kRotor.end()};
        g_similarGroups = {{"A319", "A320", "A321"}, {"A20N", "A21N"}, {"B737", "B738", "B739", "B38M"},
                           {"E170", "E175"}, {"E190", "E195"}, {"B772", "B77W"}, {"B788", "B789"},
                           {"A332", "A333"}, {"C172", "PA28"}, {"EC35", "EC45"}};

        std::mt19937 rng(42);
        std::vector<std::string> allModels;
        for (const auto* list : {&kLarge, &kHeavy, &kBuzjets, &kLight, &kRotor}) {
            allModels.insert(allModels.end(), list->begin(), list->end());
        }
        for (int i = 0; i < kLiveries; ++i) {
            ScannedLivery L;
            const int kind = static_cast<int>(rng() % 100);
            std::string airline;
            std::string model;
            if (kind < 5) {
                airline = "ZZZ";
                model = allModels[rng() % allModels.size()];
            } else if (kind < 12) {
                airline = "PVT";
                const auto& list = (kind % 3 == 0) ? kLight : (kind % 3 == 1 ? kBuzjets : kRotor);
                model = list[rng() % list.size()];
            } else {
                airline = airlineCode(static_cast<int>(rng() % kAirlines));
                model = (rng() % 4 == 0) ? kHeavy[rng() % kHeavy.size()] : kLarge[rng() % kLarge.size()];
                if (rng() % 10 == 0) {
                    L.kind.operatorId = gf_airlineId(airlineCode(static_cast<int>(rng() % kAirlines)));
                }
                L.kind.cargo = rng() % 15 == 0 ? 1 : 0;
            }
            L.kind.airlineId = gf_airlineId(airline);
            L.kind.modelId = gf_modelId(model);
            L.regcode = registration(rng, i);
            L.title = fmt::format("Generated livery {} {} {} {}", airline, model, i, L.regcode);
            L.folderRank = 1;
            g_scannedLiveries.push_back(std::move(L));

            SimAc ac;
            ac.kind = g_scannedLiveries.back().kind;
            ac.kind.marker = 1;
            ac.callsign = fmt::format("{}{}", airline, i % 1000);
            // Half the aircraft carry a registration of a livery, the others an unknown one.
            ac.registration = (i % 2 == 0) ? g_scannedLiveries.back().regcode : registration(rng, kLiveries + i);
            ac.category = static_cast<uint32_t>(gf_modelCategory(ac.kind.modelId));
            ac.id = 0x400000 + static_cast<uint32_t>(i);
            if (i % 7 == 0) {
                // A model of the same family that the airline may not have.
                ac.kind.modelId = gf_modelId(allModels[rng() % allModels.size()]);
                ac.category = static_cast<uint32_t>(gf_modelCategory(ac.kind.modelId));
            }
            made.aircraft.push_back(std::move(ac));
        }
        gf_sortAndDedupScannedLiveries();
        lf_writeLiveriesScanned();
        g_scannedLiveries.clear();
        return made;
    }();
    return w;
}

void lf_rebuild()
{
    gf_clearLiveryTables();
    g_liveriesProcessed = false;
    gf_processScannedLiveries();
}

void BM_TableBuild(benchmark::State& STATE)
{
    world();
    for (auto _ : STATE) {
        lf_rebuild();
    }
    // The heap the tables hold, measured from empty tables.
    gf_clearLiveryTables();
    g_liveriesProcessed = false;
    malloc_trim(0);
    const std::size_t before = mallinfo2().uordblks;
    gf_processScannedLiveries();
    const std::size_t after = mallinfo2().uordblks;
    STATE.counters["tables_MB"] = static_cast<double>(after - before) / (1024.0 * 1024.0);
    STATE.counters["liveries"] = static_cast<double>(kLiveries);
}
BENCHMARK(BM_TableBuild)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_MatchLiveAircraft(benchmark::State& STATE)
{
    World& w = world();
    if (!g_liveriesProcessed) {
        lf_rebuild();
    }
    std::size_t next = 0;
    std::size_t matched = 0;
    for (auto _ : STATE) {
        SimAc& ac = w.aircraft[next];
        next = (next + 1) % w.aircraft.size();
        ac.liveryTitle = {};
        gf_matchLiveAcLivery(ac);
        matched += ac.liveryTitle.empty() ? 0 : 1;
        benchmark::DoNotOptimize(ac.liveryTitle);
    }
    STATE.counters["matched_share"] = static_cast<double>(matched) / static_cast<double>(STATE.iterations());
}
BENCHMARK(BM_MatchLiveAircraft)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace
