// The walk of a package folder: every BGL file that may hold an airport is read by a task of its
// own, a bounded number at a time; the files in which no airport could be read are then
// identified by name, manifest or path and read from the simulator's facility data.
#include "airportscan/ScanSteps.h"

#include "airportscan/AirportScan.h"
#include "airportscan/ApfLinks.h"
#include "airportscan/Bgl.h"
#include "core/Airports.h"
#include "core/ScanTasks.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "parking/Stand.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <string_view>

namespace qmt {

namespace fs = std::filesystem;

std::vector<fs::path> g_allBglFiles;
std::mutex g_allBglFilesMutex;
std::vector<fs::path> g_handledBglFiles;
std::mutex g_handledBglFilesMutex;

namespace {

// Packages that hold no add-on airport (compared lower-cased).
constexpr std::array<std::string_view, 13> EXCLUDED_PACKAGES = {
    "tutorials",     "aircraft",    "bushtrip",     "discovery", "point-of-interest", "simobjects",
    "vcockpits",     "aig-aitraffic", "justflight-aircraft", "fsltl", "gsx-pro", "gsx-world", "landingchallenge"};
// Files of these folders hold no airport of their own (compared as they are).
constexpr std::array<std::string_view, 3> EXCLUDED_FILE_TEXTS = {"statics", "afcad updates", "_heliports"};
constexpr std::size_t MAX_PATH_CHARS = 250;

// The part of PATH below the scan folder, so that the names of the folders above it (an
// installation below a folder named "aircraft") exclude nothing.
std::string lf_belowScanFolder(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    fs::path base = SCAN_FOLDER.lexically_normal();
    if (!base.has_filename()) {
        base = base.parent_path();  // a folder given with a trailing separator
    }
    const fs::path relative = PATH.lexically_normal().lexically_relative(base);
    const std::string text = gf_utf16ToUtf8(relative);
    return relative.empty() || text.starts_with("..") ? gf_utf16ToUtf8(PATH) : text;
}

bool lf_isExcludedFilePath(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    const std::string below = lf_belowScanFolder(PATH, SCAN_FOLDER);
    return std::any_of(EXCLUDED_FILE_TEXTS.begin(), EXCLUDED_FILE_TEXTS.end(),
                       [&](std::string_view TEXT) { return below.find(TEXT) != std::string::npos; });
}

// The candidate of one directory entry for a reader task.
bool lf_isBglCandidate(const fs::directory_entry& ENTRY, const fs::path& SCAN_FOLDER)
{
    return gf_lower(ENTRY.path().extension().string()) == ".bgl" && !lf_isExcludedFilePath(ENTRY.path(), SCAN_FOLDER) &&
           lf_bglHasAirportSection(ENTRY.path());
}

// Waits for the oldest task's result; its failure goes to the scan log. False when a stop came.
bool lf_takeOldest(ScanTasks<void>& TASKS, const fs::path& CURRENT)
{
    try {
        TASKS.takeOldest();
    } catch (const ScanStopped&) {
        return false;
    } catch (const std::exception& e) {
        gf_scanLog("{} airports search aborted, futs inner,\n{}\n{}\n{}", "===> ", e.what(), TASKS.size(),
                   gf_utf16ToUtf8(CURRENT));
    }
    return true;
}

// Starts the reader task of every candidate below FOLDER, depth first in listing order; a folder
// that cannot be listed or an entry whose status cannot be read is logged and passed over.
void lf_startReaders(const fs::path& FOLDER, ScanTasks<void>& TASKS)
{
    std::vector<fs::directory_iterator> stack;
    const auto logFailure = [&](const std::string& CAUSE) {
        gf_scanLog("{} airports search in folder {} aborted, cause: {}", "===> ", gf_utf16ToUtf8(FOLDER), CAUSE);
    };
    const auto enter = [&](const fs::path& DIR) {
        std::error_code ec;
        fs::directory_iterator it(DIR, ec);
        if (ec) {
            logFailure(fs::filesystem_error("directory_iterator::directory_iterator", DIR, ec).what());
            return;
        }
        stack.push_back(std::move(it));
    };
    enter(FOLDER);
    while (!stack.empty()) {
        fs::directory_iterator& it = stack.back();
        if (it == fs::directory_iterator()) {
            stack.pop_back();
            continue;
        }
        const fs::directory_entry entry = *it;
        std::error_code ec;
        it.increment(ec);
        if (ec) {
            logFailure(fs::filesystem_error("directory_iterator::operator++", entry.path(), ec).what());
            stack.back() = fs::directory_iterator();
        }
        try {
            if (lf_isExcludedPackagePath(entry.path(), FOLDER)) {
                continue;
            }
            // Links to folders are not followed: they could lead back up the tree.
            if (entry.is_directory() && !entry.is_symlink()) {
                enter(entry.path());
                continue;
            }
            if (!entry.is_regular_file() || !lf_isBglCandidate(entry, FOLDER)) {
                continue;
            }
            if (gf_stopRequested()) {
                return;
            }
            const fs::path path = entry.path();
            if (!TASKS.start([path] { lf_processBGLfile(path); })) {
                return;  // stopped while waiting for a free worker
            }
            if (TASKS.overfull() && !lf_takeOldest(TASKS, path)) {
                return;
            }
        } catch (const std::exception& e) {
            logFailure(e.what());
        }
    }
}

} // namespace

bool lf_isExcludedPackagePath(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    if (gf_utf16ToUtf8(PATH).size() >= MAX_PATH_CHARS) {
        return true;
    }
    const std::string below = gf_lower(lf_belowScanFolder(PATH, SCAN_FOLDER));
    if (below.find(gf_lower(FS_BASE_NAME)) != std::string::npos) {
        return true;
    }
    return std::any_of(EXCLUDED_PACKAGES.begin(), EXCLUDED_PACKAGES.end(),
                       [&](std::string_view TEXT) { return below.find(TEXT) != std::string::npos; });
}

bool lf_waitForReaderTasks()
{
    for (;;) {
        if (gf_waitForBglTasks(std::chrono::milliseconds(50))) {
            return true;
        }
        // A stop request makes the readers end at their next record; one that hangs in a read
        // is given one more wait limit.
        if (gf_stopRequested()) {
            return gf_waitForBglTasks(SCAN_WAIT_LIMIT);
        }
    }
}

void lf_scanBglFolders(const fs::path& FOLDER)
{
    gf_setStatus("Scanning for third party addon airports ...");
    gf_scanLog("\n\n\n+++++++++++++++++ Scanning for {} airports in:\n{}\n", "addon ", gf_utf16ToUtf8(FOLDER));
    {
        ScanTasks<void> tasks(SCAN_WAIT_LIMIT, [] { return gf_stopRequested(); });
        lf_startReaders(FOLDER, tasks);
        while (!tasks.empty()) {
            try {
                tasks.takeOldest();
            } catch (const ScanStopped&) {
                break;
            } catch (const std::exception& e) {
                gf_scanLog("{} airports search in {} aborted, futs outer error: {}", "===> ", gf_utf16ToUtf8(FOLDER),
                           e.what());
            }
        }
    }
    // A task whose result timed out may still run: the second pass must not read the lists
    // while it appends to them, nor write an airport file beside it.
    if (lf_waitForReaderTasks()) {
        lf_readUnrecognisedBgls();
    }
}

std::pair<std::string, bool> lf_detectIcao(const fs::path& PATH, ManifestInfo& MANIFEST)
{
    try {
        const std::string stem = gf_utf16ToUtf8(PATH.stem());
        if (stem.size() == 4) {
            const std::string code = gf_upper(stem);
            // A stem that is no code at all is passed over like an unknown code.
            if (IcaoCode::tryParse(code) && gf_isKnownAirport(code)) {
                gf_scanLog("ICAO code '{}' as BGL stem", code);
                return {code, true};
            }
            gf_scanLog("no supported airport ICAO code '{}' as BGL stem {}", code, gf_utf16ToUtf8(PATH));
        }
        MANIFEST = gf_searchManifest(PATH);
        if (!MANIFEST) {
            return {{}, false};
        }
        if (const auto airport = gf_airportByCode(gf_upper(MANIFEST->title.substr(0, 4)))) {
            gf_scanLog("airport has ICAO '{}' in title of manifest", airport->icao.view());
            return {airport->icao.str(), true};
        }
        gf_scanLog("no supported airport ICAO in title of manifest");
        if (const auto airport = gf_airportInPath(PATH)) {
            gf_scanLog("airport has ICAO '{}' in BGL path", airport->icao.view());
            return {airport->icao.str(), true};
        }
        gf_scanLog("no supported airport ICAO in BGL path");
    } catch (const std::exception& e) {
        gf_scanLog("Exception {}", e.what());
    }
    return {{}, false};
}

void lf_readUnrecognisedBgls()
{
    std::vector<fs::path> all;
    std::vector<fs::path> handled;
    {
        std::scoped_lock lock(g_allBglFilesMutex, g_handledBglFilesMutex);
        all.swap(g_allBglFiles);
        handled.swap(g_handledBglFiles);
    }
    for (auto* list : {&all, &handled}) {
        std::sort(list->begin(), list->end());
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
    if (all.size() != handled.size()) {
        const std::size_t missing = all.size() > handled.size() ? all.size() - handled.size() : 0;
        gf_scanLog("\n\n\n ******************** Could not read {} BGL file{}", missing, gf_plural(missing));
    }
    for (const fs::path& path : all) {
        if (gf_stopRequested()) {
            return;
        }
        if (std::binary_search(handled.begin(), handled.end(), path)) {
            continue;
        }
        gf_scanLog("\nBGL: {}", gf_utf16ToUtf8(path));
        AirportFile record;
        record.bglPath = gf_utf16ToUtf8(path);
        ManifestInfo manifest;
        const auto [code, found] = lf_detectIcao(path, manifest);
        if (!found) {
            gf_scanLog("==> airport could not be detected");
            continue;
        }
        record.code = IcaoCode(code);
        std::int32_t archived = 0;
        if (lf_linkToArchive(record, manifest, archived, path)) {
            continue;
        }
        // Airports of the simulator's own maker are never generated from facility data here.
        if (record.publisher == "simaddon") {
            continue;
        }
        lf_generateFromFacilities(record);
    }
}

} // namespace qmt
