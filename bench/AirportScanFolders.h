#pragma once
// The package folders the airport scan benchmarks scan: 500 BGL files in a Community folder, one
// package each. An airport file holds one airport of 120 parkings and 2 helipads and a scenery
// section of 240 KB that the reader steps over, as real add-on airport files do; a scenery file
// holds that section alone. The airport codes are "Q" and three base-36 digits.

#include "core/Airports.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/ScanTasks.h"
#include "records/UserAircraft.h"
#include "tools/BglBuilder.h"

#include <fmt/format.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace qmt::bench {

namespace fs = std::filesystem;
namespace bb = qmt::bglbuild;

inline constexpr int kScanFiles = 500;
inline constexpr std::size_t kSceneryBytes = 240 * 1024;

// Where the folders go: QUILLON_BENCH_FOLDER when set (to compare file systems), else the
// temporary folder.
inline fs::path gf_benchFolder()
{
    const char* folder = std::getenv("QUILLON_BENCH_FOLDER");
    return folder != nullptr && *folder != '\0' ? fs::path(folder) : fs::temp_directory_path();
}

// A four-character code for airport N: "Q" and three base-36 digits.
inline std::string gf_benchCode(int N)
{
    const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    return fmt::format("Q{}{}{}", digits[(N / 1296) % 36], digits[(N / 36) % 36], digits[N % 36]);
}

inline bb::Bytes gf_sceneryRecords()
{
    bb::Bytes records;
    while (records.size() < kSceneryBytes) {
        bb::append(records, bb::record(0x0019, 1024));
    }
    return records;
}

inline bb::Bytes gf_benchAirportFile(const std::string& CODE, double LAT, double LON)
{
    std::vector<bb::Parking> parkings;
    for (int i = 0; i < 120; ++i) {
        bb::Parking p;
        p.nameIndex = 12 + static_cast<std::uint32_t>(i / 30);
        p.number = static_cast<std::uint32_t>(i % 30 + 1);
        p.type = 1 + static_cast<std::uint32_t>(i % 9);
        p.radius = 18.0f + static_cast<float>(i % 5) * 4.0f;
        p.heading = static_cast<float>((i * 37) % 360);
        p.lat = LAT + (i / 30) * 0.0008;
        p.lon = LON + (i % 30) * 0.0006;
        parkings.push_back(p);
    }
    const bb::Bytes airport = bb::airportRecord(
        CODE, 12000, {bb::helipadRecord({LAT - 0.002, LON, 22.0f}), bb::helipadRecord({LAT - 0.003, LON, 22.0f}),
                      bb::parkingRecord(parkings)});
    return bb::bglFile({{bb::kAirportSection, 1, airport}, {101, 1, gf_sceneryRecords()}});
}

// The simulator's install folder with the Community folder of kScanFiles packages; one file in
// AIRPORT_EVERY holds an airport. Written when made, removed with it.
struct ScanInput {
    fs::path root;
    fs::path community;
    std::uintmax_t bytes = 0;

    ScanInput(const std::string& NAME, int AIRPORT_EVERY)
    {
        root = gf_benchFolder() / fmt::format("quillon-bench-apscan-{}-{}", NAME, ::getpid());
        community = root / "Community";
        fs::remove_all(root);
        const bb::Bytes scenery = bb::bglFile({{101, 1, gf_sceneryRecords()}});
        for (int i = 0; i < kScanFiles; ++i) {
            const fs::path package = community / fmt::format("northwind-pack{:03}", i) / "scenery";
            const bool airport = i % AIRPORT_EVERY == 0;
            const bb::Bytes file =
                airport ? gf_benchAirportFile(gf_benchCode(i), 40.0 + (i % 100) * 0.1, 5.0 + (i / 100) * 0.5) : scenery;
            bb::writeFile(package / fmt::format("file{:03}.bgl", i), file);
            bytes += file.size();
        }
    }
    ~ScanInput()
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    ScanInput(const ScanInput&) = delete;
    ScanInput& operator=(const ScanInput&) = delete;
};

// Core state for a scan in the working folder WORK: an airports database with every generated
// code and the publisher of the packages (whose archive holds none of them). The scan's own
// settings (simulator, install path) are the caller's.
inline void gf_setUpScanState(const fs::path& WORK)
{
    gf_resetCoreForTests();
    gf_setWorkFolder(WORK);
    gf_createWorkFolders();
    gf_initBglTasks();
    g_isMsfs2020 = true;
    std::vector<AirportEntry> airports;
    for (int i = 0; i < kScanFiles; ++i) {
        AirportEntry a;
        a.icao = IcaoCode(gf_benchCode(i));
        airports.push_back(a);
    }
    gf_setAirports(std::move(airports));
    g_publishers = {{"Northwind Sceneries", "northwind"}};
}

} // namespace qmt::bench
