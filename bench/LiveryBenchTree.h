#pragma once
// The generated package tree the livery-scan benchmarks share: aircraft folders with their
// aircraft.cfg, a model folder, and a texture folder per livery with the files a real one holds.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "core/AcKind.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"

namespace qmt::bench {

inline constexpr int kSectionsPerFile = 4;

inline const std::vector<std::string> kModels = {"A319", "A320", "A321", "A20N", "B737", "B738", "B38M", "E175",
                                          "E190", "CRJ9", "AT76", "A332", "B77W", "B789", "B744", "DH8D"};

inline std::string airlineCode(int INDEX)
{
    return fmt::format("{}{}{}", static_cast<char>('A' + INDEX / 676 % 26), static_cast<char>('A' + INDEX / 26 % 26),
                       static_cast<char>('A' + INDEX % 26));
}

// One section as the AI packages write them: a title, the keys the scan reads, and the many
// keys it passes over.
inline std::string section(int NUMBER, const std::string& AIRLINE, const std::string& MODEL, int SERIAL)
{
    return fmt::format(
        "[fltsim.{0}]\ntitle=\"Bench {2} {1} #{3}\"\nsim=\"aircraft\"\nmodel=\"\"\npanel=\"\"\nsound=\"\"\n"
        "texture=\"{1}_{3}\"\nkb_checklists=\"\"\nkb_reference=\"\"\natc_id=\"B-{3:05}\"\natc_airline=\"{1}\"\n"
        "atc_flight_number=\"{3}\"\natc_heavy=0\natc_parking_types=\"GATE,RAMP\"\natc_parking_codes=\"{1}\"\n"
        "icao_airline=\"{1}\"\nui_manufacturer=\"Bench\"\nui_type=\"{2}\"\nui_variation=\"{1} {3}\"\n"
        "ui_typerole=\"Commercial Airliner\"\nui_createdby=\"Bench\"\nui_thumbnailfile=\"\"\nui_certified_ceiling=41000\n"
        "ui_max_range=3000\nui_autonomy=7\nui_fuel_burn_rate=5000\ndescription=\"A generated livery\"\n"
        "visual_damage=0\nisAirTraffic=1\nisUserSelectable=0\n\n",
        NUMBER, AIRLINE, MODEL, SERIAL);
}

// One aircraft folder: its aircraft.cfg, a model folder, and a texture folder per livery with
// the files a real one holds.
inline void writeAircraft(const std::filesystem::path& FOLDER, const std::string& MODEL, std::mt19937& RNG, int& SERIAL,
                   bool WRITE)
{
    std::string text = fmt::format("[VERSION]\nmajor=1\nminor=0\n\n[GENERAL]\nicao_type_designator=\"{}\"\n"
                                   "atc_type=\"TT:ATCCOM.ATC_NAME.0.text\"\ncategory=\"airplane\"\n\n",
                                   MODEL);
    if (WRITE) {
        std::filesystem::create_directories(FOLDER / "model");
        std::ofstream(FOLDER / "model" / "model.cfg", std::ios::binary) << "[models]\nnormal=aircraft.gltf\n";
    }
    for (int k = 0; k < kSectionsPerFile; ++k) {
        const std::string airline = airlineCode(static_cast<int>(RNG() % 900));
        g_icaoAirlines.insert(airline);
        if (!WRITE) {
            ++SERIAL;
            continue;
        }
        const auto texture = FOLDER / fmt::format("texture.{}_{}", airline, SERIAL);
        std::filesystem::create_directories(texture);
        std::ofstream(texture / "texture.cfg", std::ios::binary) << "[fltsim]\nfallback.1=..\\texture\n";
        for (const char* name : {"body_albd.png.dds", "body_albd.png.dds.json"})
            std::ofstream(texture / name, std::ios::binary) << "DDS texture stand-in";
        text += section(k, airline, MODEL, SERIAL++);
    }
    if (WRITE)
        std::ofstream(FOLDER / "aircraft.cfg", std::ios::binary) << text;
}

// QUILLON_BENCH_TREE names a folder that keeps the tree from one run to the next: making it
// takes most of a run. It is made there when it is not complete, and never removed.
inline std::filesystem::path keptTreeFolder()
{
    const char* kept = std::getenv("QUILLON_BENCH_TREE");
    return kept != nullptr && *kept != '\0' ? std::filesystem::path(kept) : std::filesystem::path();
}


// The tree of FILES aircraft in ROOT (in a package named PACKAGE below its Community folder), with
// the working folder set up in it. Written anew unless KEEP is set and an earlier run completed it.
struct LiveryTree {
    std::filesystem::path root;
    std::filesystem::path package;
    std::vector<std::filesystem::path> files; // the aircraft.cfg files
};

inline LiveryTree makeLiveryTree(const std::filesystem::path& ROOT, const std::string& PACKAGE, int FILES, bool KEEP)
{
    LiveryTree made;
    made.root = ROOT;
    const auto complete = made.root / "tree-complete";
    const bool write = !std::filesystem::exists(complete);
    if (write)
        std::filesystem::remove_all(made.root);
    gf_resetCoreForTests();
    gf_setWorkFolder(made.root / "work");
    gf_createWorkFolders();
    for (const std::string& model : kModels)
        g_validModels.insert(model);
    std::mt19937 rng(7);
    int serial = 0;
    made.package = made.root / "Community" / PACKAGE;
    const auto airplanes = made.package / "SimObjects" / "Airplanes";
    for (int i = 0; i < FILES; ++i) {
        const std::string& model = kModels[static_cast<std::size_t>(i) % kModels.size()];
        const auto folder = airplanes / fmt::format("AIG_{}_{}", model, i);
        writeAircraft(folder, model, rng, serial, write);
        made.files.push_back(folder / "aircraft.cfg");
    }
    if (write && KEEP)
        std::ofstream(complete) << "complete\n";
    return made;
}

} // namespace qmt::bench
