// Streamed airports of the 2024 simulator: only the names of the package folders are looked at.
#include "airportscan/ScanSteps.h"

#include "airportscan/AirportScan.h"
#include "airportscan/ApfLinks.h"
#include "core/Airports.h"
#include "core/Files.h"
#include "core/Paths.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "stands/StandTable.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace qmt {

namespace fs = std::filesystem;

namespace {

// Packages that hold no airport (compared as they are).
constexpr std::array<std::string_view, 23> SKIPPED_PACKAGES = {
    "fs20-",           "-landingchallenge-", "-discovery-",    "-challenges-",         "-aircraft-",
    "-certification-", "-training-",         "-activities-",   "-passiveaircraft-",    "-trainings-",
    "-fs-base-",       "-travelbook-",       "-simobjects-",   "-modellib-",           "-texturelib",
    "-textlib",        "-scenery-",          "-surface-",      "-vfx-",                "-coverage-",
    "-point-of-interest", "-proceduralgeneration", "-simattachmentlib-"};

bool lf_isSimaddonPackage(std::string_view PATH)
{
    return PATH.find("asobo-airport") != std::string_view::npos ||
           PATH.find("microsoft-airport") != std::string_view::npos;
}

// The package's name says what it holds; the names of the folders above it say nothing.
void lf_streamedSimaddon(const fs::path& FOLDER, const fs::path& PACKAGE, std::uint32_t& COUNT)
{
    const std::string text = gf_utf16ToUtf8(PACKAGE);
    gf_scanLog("\n{}", text);
    const auto airport = gf_airportInPath(PACKAGE.filename());
    if (!airport) {
        gf_scanLog("no supported airport ICAO in BGL path");
        return;
    }
    gf_scanLog("airport has ICAO '{}' in directory path", airport->icao.view());
    if (++COUNT % 10 == 0) {
        gf_windowSetSimaddonCount(COUNT);
        gf_repaintWindow();
    }
    AirportFile record;
    record.code = airport->icao;
    record.bglPath = text;
    record.publisher = "simaddon";
    record.manufacturer = "microsoft";
    record.creator = "asobo";
    std::int32_t archived = 0;
    if (lf_linkToArchive(record, std::nullopt, archived, PACKAGE, FOLDER)) {
        return;
    }
    lf_generateFromFacilities(record, PACKAGE, FOLDER);
}

void lf_streamedThirdparty(const fs::path& FOLDER, const fs::path& PACKAGE)
{
    const std::string text = gf_utf16ToUtf8(PACKAGE);
    gf_scanLog("\n{}", text);
    const auto airport = gf_airportInPath(PACKAGE.filename());
    if (!airport) {
        return;
    }
    gf_scanLog("airport has ICAO '{}' in folder path", airport->icao.view());
    gf_writeScanLogFile();
    AirportFile record;
    record.code = airport->icao;
    record.bglPath = text;
    if (auto publisher = gf_publisherInPath(PACKAGE.filename())) {
        record.publisher = std::move(*publisher);
        gf_scanLog("publisher '{}' found", record.publisher);
    } else {
        record.manufacturer = "streamed thirdy party";
        record.creator = "pub not recognised";
        gf_scanLog("no publisher found");
    }
    gf_writeScanLogFile();
    const ManifestInfo manifest = ManifestData{record.manufacturer, record.creator, record.title};
    std::int32_t archived = 0;
    if (lf_linkToArchive(record, manifest, archived, PACKAGE, FOLDER)) {
        return;
    }
    gf_scanLog("voorbij link2archive");
    lf_generateFromFacilities(record, PACKAGE, FOLDER);
}

} // namespace

void lf_scanStreamedAirports(const fs::path& FOLDER)
{
    gf_setStatus("Scanning for streamed airports ...");
    gf_scanLog("\n\n\n+++++++++++++++++ Scanning for streamed airports in:\n{}\n", gf_utf16ToUtf8(FOLDER));
    std::uint32_t simaddonCount = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(FOLDER)) {
        std::error_code ec;
        const bool isFolder = entry.is_directory(ec);
        if (ec) {
            if (ec == std::errc::no_such_file_or_directory) {
                continue;
            }
            throw fs::filesystem_error("status", entry.path(), ec);
        }
        if (!isFolder) {
            continue;
        }
        const std::string text = gf_utf16ToUtf8(entry.path().filename());
        if (std::any_of(SKIPPED_PACKAGES.begin(), SKIPPED_PACKAGES.end(),
                        [&](std::string_view SKIP) { return text.find(SKIP) != std::string::npos; })) {
            continue;
        }
        if (gf_stopRequested()) {
            break;
        }
        if (lf_isSimaddonPackage(text)) {
            lf_streamedSimaddon(FOLDER, entry.path(), simaddonCount);
        } else {
            lf_streamedThirdparty(FOLDER, entry.path());
        }
        if (gf_stopRequested()) {
            gf_writeScanLogFile();
            break;
        }
    }
    lf_copySimaddonToTblo();
    gf_windowSetSimaddonCount(static_cast<std::uint32_t>(gf_countFolderEntries(lf_scanOutputFolder(g_mySimaddonPath))));
    gf_repaintWindow();
}

} // namespace qmt
