// Livery matching and the building of its tables, at 2,000, 20,000 and 100,000 generated
// liveries. A match is timed call by call over a mix of aircraft like live traffic gives (own
// registration, operator, airline, similar model, no-airline or national livery, no match at
// all), warm and with the caches emptied before each call; the counters give the median and the
// 99th percentile. The table build reads LiveriesScanned.xml from disk and reports the peak of
// the heap during the build as well as what the tables keep.

#include <malloc.h>
#include <cstdio>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/CacheEviction.h"
#include "core/ReplacedNew.h"
#include <fmt/format.h>

#include "core/AcKind.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "engine/AcLists.h"
#include "liveries/LiveryTables.h"
#include "liveries/Matching.h"
#include "liveries/ScannedLivery.h"

// ---- heap accounting: every allocation of this program, so that the build's peak is seen ----

namespace {
std::atomic<std::int64_t> g_heapNow{0};
std::atomic<std::int64_t> g_heapPeak{0};

void* lf_counted(void* P)
{
    if (P != nullptr) {
        const auto now = g_heapNow.fetch_add(static_cast<std::int64_t>(malloc_usable_size(P))) +
                         static_cast<std::int64_t>(malloc_usable_size(P));
        auto peak = g_heapPeak.load();
        while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
        }
    }
    return P;
}

void lf_release(void* P)
{
    if (P != nullptr) {
        g_heapNow.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(P)));
        std::free(P);
    }
}

} // namespace

void* gf_programAllocate(std::size_t SIZE, std::size_t ALIGN) noexcept
{
    if (ALIGN <= alignof(std::max_align_t)) {
        return lf_counted(std::malloc(SIZE == 0 ? 1 : SIZE));
    }
    const std::size_t align = std::max(ALIGN, sizeof(void*));
    const std::size_t size = (std::max<std::size_t>(SIZE, 1) + align - 1) / align * align;
    return lf_counted(std::aligned_alloc(align, size));
}

void gf_programRelease(void* BLOCK) noexcept
{
    lf_release(BLOCK);
}

namespace {

using namespace qmt;

const std::vector<std::string> kLarge = {"A319", "A320", "A321", "A20N", "A21N", "B737", "B738", "B739", "B38M",
                                         "E170", "E175", "E190", "E195", "CRJ7", "CRJ9", "AT76", "DH8D", "BCS3"};
const std::vector<std::string> kHeavy = {"A332", "A333", "A359", "B744", "B763", "B772", "B77W",
                                         "B788", "B789", "A388", "MD11"};
const std::vector<std::string> kBuzjets = {"C56X", "CL35", "GLF6", "E55P"};
const std::vector<std::string> kLight = {"C172", "PA28", "SR22", "C208"};
const std::vector<std::string> kRotor = {"EC35", "EC45", "R44"};
// A heavy model that no livery has, not even one without airline: the no-match aircraft fly it.
const std::string kUnserved = "B748";
const std::vector<std::string> kPrefixes = {"PH-", "G-", "D-", "F-", "N", "EI-", "OO-", "SE-", "HB-", "OE-"};
const std::vector<std::vector<std::string>> kSimilar = {
    {"A319", "A320", "A321"}, {"A20N", "A21N"}, {"B737", "B738", "B739", "B38M"}, {"E170", "E175"},
    {"E190", "E195"},         {"B772", "B77W"}, {"B788", "B789"},                 {"A332", "A333"},
    {"C172", "PA28"},         {"EC35", "EC45"}};

// What a probe aircraft is made to find; the reported step shares show what it did find.
enum class Aim { registration, operatorLivery, airline, similar, generic, none };

std::string lf_airlineCode(int INDEX)
{
    return fmt::format("{}{}{}", static_cast<char>('A' + INDEX / 676 % 26), static_cast<char>('A' + INDEX / 26 % 26),
                       static_cast<char>('A' + INDEX % 26));
}

std::string lf_registration(std::mt19937& RNG, int SERIAL)
{
    return fmt::format("{}{:05X}", kPrefixes[RNG() % kPrefixes.size()], SERIAL);
}

template <typename T>
const T& lf_pick(std::mt19937& RNG, const std::vector<T>& LIST)
{
    return LIST[RNG() % LIST.size()];
}

// One generated installation: its liveries in LiveriesScanned.xml of a folder of its own, and the
// aircraft that the match benchmarks feed to the matching, in a fixed shuffled order.
struct World {
    int liveries = 0;
    std::filesystem::path work;
    std::vector<SimAc> aircraft;
};

void lf_setUpReferenceData()
{
    g_largeModels = {kLarge.begin(), kLarge.end()};
    g_heavyModels = {kHeavy.begin(), kHeavy.end()};
    g_heavyModels.insert(kUnserved);
    g_buzjetModels = {kBuzjets.begin(), kBuzjets.end()};
    g_rotorcraftModels = {kRotor.begin(), kRotor.end()};
    g_similarGroups = kSimilar;
}

SimAc lf_aircraft(uint16_t AIRLINE, uint16_t MODEL, std::string REGISTRATION, int SERIAL)
{
    SimAc ac;
    ac.kind.airlineId = AIRLINE;
    ac.kind.modelId = MODEL;
    ac.kind.marker = 1;
    ac.callsign = fmt::format("{}{}", gf_airlineCode(AIRLINE), SERIAL % 10000);
    ac.registration = std::move(REGISTRATION);
    ac.category = static_cast<uint32_t>(gf_modelCategory(MODEL));
    ac.id = 0x400000 + static_cast<uint32_t>(SERIAL);
    return ac;
}

World lf_makeWorld(int LIVERIES)
{
    World made;
    made.liveries = LIVERIES;
    // Interned codes keep their ids, so every world's aircraft stay valid beside the others.
    static const bool once = (gf_resetCoreForTests(), true);
    benchmark::DoNotOptimize(once);
    lf_setUpReferenceData();
    made.work = std::filesystem::temp_directory_path() / fmt::format("quillon_bench_liveries_{}", LIVERIES);
    std::filesystem::remove_all(made.work);
    gf_setWorkFolder(made.work);
    gf_createWorkFolders();

    // About 22 liveries per airline, as in the large traffic packages.
    const int airlines = std::max(40, LIVERIES / 22);
    std::mt19937 rng(42);
    std::vector<std::string> allModels;
    for (const auto* list : {&kLarge, &kHeavy, &kBuzjets, &kLight, &kRotor}) {
        allModels.insert(allModels.end(), list->begin(), list->end());
    }
    struct Made {
        uint16_t airline;
        uint16_t operatorId;
        uint16_t model;
        std::string regcode;
    };
    std::vector<Made> sources;
    std::set<std::pair<uint16_t, uint16_t>> airlineModels;
    for (int i = 0; i < LIVERIES; ++i) {
        ScannedLivery L;
        const int kind = static_cast<int>(rng() % 100);
        std::string airline;
        std::string model;
        if (kind < 5) {
            // Liveries without airline exist for the airliners.
            airline = "ZZZ";
            model = rng() % 3 == 0 ? lf_pick(rng, kHeavy) : lf_pick(rng, kLarge);
        } else if (kind < 12) {
            airline = "PVT";
            model = lf_pick(rng, kind % 3 == 0 ? kLight : (kind % 3 == 1 ? kBuzjets : kRotor));
        } else {
            airline = lf_airlineCode(static_cast<int>(rng() % static_cast<unsigned>(airlines)));
            model = (rng() % 4 == 0) ? lf_pick(rng, kHeavy) : lf_pick(rng, kLarge);
            // Regional operators fly for the larger airlines: one in ten airlines has up to three.
            const int airlineIndex = static_cast<int>(airline[0] - 'A') * 676 + (airline[1] - 'A') * 26 + (airline[2] - 'A');
            if (airlineIndex % 10 == 0 && rng() % 4 == 0) {
                L.kind.operatorId = gf_airlineId(lf_airlineCode(airlineIndex + 1 + static_cast<int>(rng() % 3)));
            }
            L.kind.cargo = rng() % 15 == 0 ? 1 : 0;
        }
        L.kind.airlineId = gf_airlineId(airline);
        L.kind.modelId = gf_modelId(model);
        // Most liveries carry the registration of the aircraft they show.
        L.regcode = rng() % 5 == 0 ? std::string() : lf_registration(rng, i);
        L.title = fmt::format("{} {} {} livery {}", airline, model, L.regcode, i);
        L.folderRank = 1;
        sources.push_back(Made{L.kind.airlineId, L.kind.operatorId, L.kind.modelId, L.regcode});
        if (L.kind.operatorId == 0) {
            airlineModels.emplace(L.kind.airlineId, L.kind.modelId);
        }
        g_scannedLiveries.push_back(std::move(L));
    }
    gf_sortAndDedupScannedLiveries();
    std::string failure;
    lf_writeLiveriesScanned(failure);
    g_scannedLiveries.clear();

    // The probe aircraft, in the shares of a busy area: a fifth find their own registration,
    // most their airline's livery of their model, a tenth find nothing.
    const uint16_t unknownAirline = gf_airlineId("QQX");
    constexpr int kProbes = 4096;
    for (int i = 0; i < kProbes; ++i) {
        const int share = static_cast<int>(rng() % 100);
        const Aim aim = share < 20   ? Aim::registration
                        : share < 25 ? Aim::operatorLivery
                        : share < 70 ? Aim::airline
                        : share < 80 ? Aim::similar
                        : share < 90 ? Aim::generic
                                     : Aim::none;
        const std::string unknownRegistration = lf_registration(rng, 0x80000 + i);
        const Made* source = &sources[rng() % sources.size()];
        SimAc ac;
        switch (aim) {
        case Aim::registration:
            while (source->regcode.empty()) {
                source = &sources[rng() % sources.size()];
            }
            ac = lf_aircraft(source->airline, source->model, source->regcode, i);
            break;
        case Aim::operatorLivery:
            while (source->operatorId == 0) {
                source = &sources[rng() % sources.size()];
            }
            ac = lf_aircraft(source->airline, source->model, unknownRegistration, i);
            ac.kind.operatorId = source->operatorId;
            break;
        case Aim::airline:
            ac = lf_aircraft(source->airline, source->model, unknownRegistration, i);
            break;
        case Aim::similar: {
            // A model of the family that this airline does not fly in the livery set.
            uint16_t model = source->model;
            for (int tries = 0; tries < 20; ++tries) {
                const auto& group = lf_pick(rng, kSimilar);
                const uint16_t member = gf_modelId(lf_pick(rng, group));
                const uint16_t sibling = gf_modelId(lf_pick(rng, group));
                if (member != sibling && airlineModels.contains({source->airline, sibling}) &&
                    !airlineModels.contains({source->airline, member})) {
                    model = member;
                    break;
                }
            }
            ac = lf_aircraft(source->airline, model, unknownRegistration, i);
            break;
        }
        case Aim::generic:
            // Unknown airline: a large model finds a livery without airline, a light one a
            // national livery of its model.
            ac = lf_aircraft(unknownAirline, gf_modelId(rng() % 2 == 0 ? lf_pick(rng, kLarge) : lf_pick(rng, kLight)),
                             unknownRegistration, i);
            break;
        case Aim::none:
            ac = lf_aircraft(unknownAirline, gf_modelId(kUnserved), unknownRegistration, i);
            break;
        }
        made.aircraft.push_back(std::move(ac));
    }
    return made;
}

// The world whose tables are built now; a benchmark of another size rebuilds.
World* g_world = nullptr;

World& lf_world(int LIVERIES)
{
    static std::map<int, World> worlds;
    auto it = worlds.find(LIVERIES);
    if (it == worlds.end()) {
        it = worlds.emplace(LIVERIES, lf_makeWorld(LIVERIES)).first;
    }
    World& w = it->second;
    if (g_world != &w) {
        gf_setWorkFolder(w.work);
        lf_setUpReferenceData();
        gf_clearLiveryTables();
        g_liveriesProcessed = false;
        gf_processScannedLiveries();
        g_world = &w;
    }
    return w;
}

double lf_percentile(std::vector<double>& SAMPLES, double P)
{
    if (SAMPLES.empty()) {
        return 0.0;
    }
    const auto at = static_cast<std::size_t>(P * static_cast<double>(SAMPLES.size() - 1));
    std::nth_element(SAMPLES.begin(), SAMPLES.begin() + static_cast<std::ptrdiff_t>(at), SAMPLES.end());
    return SAMPLES[at];
}

void lf_matchCalls(benchmark::State& STATE, bool COLD)
{
    World& w = lf_world(static_cast<int>(STATE.range(0)));
    gf_resetMatchingForTests();
    std::vector<double> micros;
    micros.reserve(1u << 16);
    std::size_t next = 0;
    std::size_t unmatched = 0;
    for (auto _ : STATE) {
        SimAc& ac = w.aircraft[next];
        next = (next + 1) % w.aircraft.size();
        ac.liveryTitle = {};
        if (COLD) {
            gf_evictCaches();
        }
        const auto start = std::chrono::steady_clock::now();
        gf_matchLiveAcLivery(ac);
        const auto end = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(end - start).count();
        STATE.SetIterationTime(seconds);
        micros.push_back(seconds * 1e6);
        unmatched += ac.liveryTitle.empty() ? 1 : 0;
    }
    const auto calls = static_cast<double>(STATE.iterations());
    STATE.counters["p50_us"] = lf_percentile(micros, 0.50);
    STATE.counters["p99_us"] = lf_percentile(micros, 0.99);
    STATE.counters["no_match"] = static_cast<double>(unmatched) / calls;
    for (std::size_t step = 0; step < g_matchStepCount.size(); ++step) {
        STATE.counters[fmt::format("step{}", step)] = static_cast<double>(g_matchStepCount[step]) / calls;
    }
}

void BM_MatchWarm(benchmark::State& STATE) { lf_matchCalls(STATE, false); }
BENCHMARK(BM_MatchWarm)->Arg(2000)->Arg(20000)->Arg(100000)->UseManualTime()->Iterations(40000)
    ->Unit(benchmark::kMicrosecond);

void BM_MatchCold(benchmark::State& STATE) { lf_matchCalls(STATE, true); }
BENCHMARK(BM_MatchCold)->Arg(2000)->Arg(20000)->Arg(100000)->UseManualTime()->Iterations(600)
    ->Unit(benchmark::kMicrosecond);

// As the program runs: the log is open and takes the line of every accepted match.
void BM_MatchWarmLogOpen(benchmark::State& STATE)
{
    World& w = lf_world(static_cast<int>(STATE.range(0)));
    gf_openLog(w.work / "Log.txt", "bench");
    lf_matchCalls(STATE, false);
    gf_closeLog();
}
BENCHMARK(BM_MatchWarmLogOpen)->Arg(20000)->UseManualTime()->Iterations(40000)->Unit(benchmark::kMicrosecond);

// Reading LiveriesScanned.xml and building every table; the heap's peak above what was in use
// before, and what the tables keep afterwards.
void BM_TableBuild(benchmark::State& STATE)
{
    World& w = lf_world(static_cast<int>(STATE.range(0)));
    std::int64_t peak = 0;
    std::int64_t kept = 0;
    for (auto _ : STATE) {
        gf_clearLiveryTables();
        g_liveriesProcessed = false;
        malloc_trim(0);
        const std::int64_t before = g_heapNow.load();
        g_heapPeak = before;
        gf_processScannedLiveries();
        peak = std::max(peak, g_heapPeak.load() - before);
        kept = g_heapNow.load() - before;
    }
    g_world = &w;
    STATE.counters["peak_MB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
    STATE.counters["kept_MB"] = static_cast<double>(kept) / (1024.0 * 1024.0);
    STATE.counters["file_MB"] =
        static_cast<double>(std::filesystem::file_size(gf_liveriesScannedPath())) / (1024.0 * 1024.0);
}
BENCHMARK(BM_TableBuild)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)
    ->ReportAggregatesOnly(true);

} // namespace
