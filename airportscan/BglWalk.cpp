// The walk of a package folder: every BGL file that may hold an airport is read by the scan
// workers, a batch of files per task and a bounded number of tasks at a time; the files in which
// no airport could be read are then identified by name, manifest or path and read from the
// simulator's facility data.
#include "airportscan/ScanSteps.h"

#include "airportscan/AirportScan.h"
#include "airportscan/ApfLinks.h"
#include "airportscan/Bgl.h"
#include "core/Airports.h"
#include "core/ScanTasks.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "stands/StandTable.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string_view>
#include <type_traits>

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

// The same for the paths the walk itself makes (the scan folder's text, a separator, the rest):
// that rest, without building paths. Other paths go the general way, into STORAGE.
std::string_view lf_belowScanFolder(const fs::path& PATH, const fs::path& SCAN_FOLDER, std::string& STORAGE)
{
    if constexpr (std::is_same_v<fs::path::value_type, char>) {
        std::string_view base = SCAN_FOLDER.native();
        while (base.size() > 1 && base.back() == '/') {
            base.remove_suffix(1);
        }
        const std::string_view text = PATH.native();
        if (base.size() > 1 && text.size() > base.size() + 1 && text.starts_with(base) && text[base.size()] == '/' &&
            text[base.size() + 1] != '/') {
            const std::string_view below = text.substr(base.size() + 1);
            if (below.find("./") == std::string_view::npos && !below.ends_with("/.") && !below.ends_with("/..")) {
                return below;
            }
        }
    }
    STORAGE = lf_belowScanFolder(PATH, SCAN_FOLDER);
    return STORAGE;
}

std::size_t lf_utf8Size(const fs::path& PATH)
{
    if constexpr (std::is_same_v<fs::path::value_type, char>) {
        return PATH.native().size();
    } else {
        return gf_utf16ToUtf8(PATH).size();
    }
}

bool lf_isExcludedFilePath(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    std::string storage;
    const std::string_view below = lf_belowScanFolder(PATH, SCAN_FOLDER, storage);
    return std::any_of(EXCLUDED_FILE_TEXTS.begin(), EXCLUDED_FILE_TEXTS.end(),
                       [&](std::string_view TEXT) { return below.find(TEXT) != std::string_view::npos; });
}

// A file name ending in ".bgl" in any case (the extension, so not the name ".bgl" alone).
bool lf_hasBglExtension(std::string_view NAME)
{
    constexpr std::string_view EXTENSION = ".bgl";
    return NAME.size() > EXTENSION.size() && gf_containsNoCase(NAME.substr(NAME.size() - EXTENSION.size()), EXTENSION);
}

// The candidate of one directory entry for a reader task; BYTES: its size.
bool lf_isBglCandidate(const fs::directory_entry& ENTRY, const fs::path& SCAN_FOLDER, std::uintmax_t& BYTES)
{
    const fs::path& path = ENTRY.path();
    return lf_hasBglExtension(gf_fileNameText(path)) && !lf_isExcludedFilePath(path, SCAN_FOLDER) &&
           lf_bglHasAirportSection(path, BYTES);
}

struct BglWalk {
    fs::path folder;
    std::string folderText;
};

std::string lf_walkFailure(const BglWalk& WALK, std::string_view CAUSE)
{
    return fmt::format("{} airports search in folder {} aborted, cause: {}", "===> ", WALK.folderText, CAUSE);
}

void lf_note(std::vector<WalkEntry>& OUT, std::size_t AT, std::string TEXT)
{
    OUT.insert(OUT.begin() + static_cast<std::ptrdiff_t>(AT), WalkEntry{WalkEntry::Kind::note, {}, 0, std::move(TEXT), false});
}

// What the walk keeps of one entry: a folder to enter or a candidate file, in OUT.
void lf_keepEntry(const BglWalk& WALK, const fs::directory_entry& ENTRY, std::vector<WalkEntry>& OUT)
{
    try {
        if (lf_isExcludedPackagePath(ENTRY.path(), WALK.folder)) {
            return;
        }
        // Links to folders are not followed: they could lead back up the tree.
        if (ENTRY.is_directory() && !ENTRY.is_symlink()) {
            OUT.push_back(WalkEntry{WalkEntry::Kind::folder, ENTRY.path().native(), 0, {}, false});
            return;
        }
        std::uintmax_t bytes = 0;
        if (ENTRY.is_regular_file() && lf_isBglCandidate(ENTRY, WALK.folder, bytes)) {
            OUT.push_back(WalkEntry{WalkEntry::Kind::file, ENTRY.path().native(), bytes, {}, false});
        }
    } catch (const std::exception& e) {
        lf_note(OUT, OUT.size(), lf_walkFailure(WALK, e.what()));
    }
}

// Lists one folder for the walk (on a scan worker). A folder that cannot be listed, or whose
// listing breaks, is noted and left; the walk goes on with the others.
void lf_listBglFolder(const BglWalk& WALK, const fs::path& DIR, std::vector<WalkEntry>& OUT)
{
    std::error_code ec;
    fs::directory_iterator it(DIR, ec);
    if (ec) {
        lf_note(OUT, OUT.size(), lf_walkFailure(WALK, fs::filesystem_error("directory_iterator::directory_iterator", DIR, ec).what()));
        return;
    }
    while (it != fs::directory_iterator()) {
        const std::size_t at = OUT.size();
        const fs::path::string_type current = it->path().native();
        lf_keepEntry(WALK, *it, OUT);
        it.increment(ec);
        if (ec) {
            // Noted before the entry met last, which is still kept.
            lf_note(OUT, at, lf_walkFailure(WALK, fs::filesystem_error("directory_iterator::operator++", fs::path(current), ec).what()));
            return;
        }
    }
}

// A BGL file read by a task: nothing to hand back, the reader registers and writes on its own.
struct BglRead {};
using BglBatches = ScanBatches<fs::path, BglRead>;

// Waits for the oldest batch's results; each failure goes to LOG_FAILURE. False when a stop came.
bool lf_takeOldest(BglBatches& BATCHES, const std::function<void(const std::string&)>& LOG_FAILURE)
{
    try {
        for (const BglBatches::Outcome& outcome : BATCHES.takeOldest()) {
            if (outcome.error) {
                LOG_FAILURE(*outcome.error);
            }
        }
    } catch (const ScanStopped&) {
        return false;
    } catch (const std::exception& e) {
        LOG_FAILURE(e.what());
    }
    return true;
}

// Walks FOLDER and hands every candidate to the reader tasks, in batches; the folders are
// listed by scan workers ahead of the walk. A folder that cannot be listed or an entry whose
// status cannot be read is logged and passed over.
void lf_startReaders(const fs::path& FOLDER, BglBatches& BATCHES)
{
    const auto walk = std::make_shared<const BglWalk>(BglWalk{FOLDER, gf_utf16ToUtf8(FOLDER)});
    FolderWalkRules rules;
    rules.stop = [] { return gf_stopRequested(); };
    rules.list = [walk](const fs::path& DIR, bool, std::vector<WalkEntry>& OUT) { lf_listBglFolder(*walk, DIR, OUT); };
    rules.lostNote = [walk](const std::string& CAUSE) { return lf_walkFailure(*walk, CAUSE); };
    bool stopped = false;
    rules.visit = [&](WalkEntry& ENTRY) {
        if (ENTRY.kind == WalkEntry::Kind::note) {
            gf_scanLog(ENTRY.note);
            return true;
        }
        try {
            if (gf_stopRequested()) {
                stopped = true;
                return false;
            }
            const fs::path path(std::move(ENTRY.path));
            const auto logFailure = [&](const std::string& CAUSE) {
                gf_scanLog("{} airports search aborted, futs inner,\n{}\n{}\n{}", "===> ", CAUSE, BATCHES.size(),
                           gf_utf16ToUtf8(path));
            };
            // Stopped while waiting for a free worker, or while taking the oldest results.
            if (!BATCHES.add(path, ENTRY.bytes) || (BATCHES.overfull() && !lf_takeOldest(BATCHES, logFailure))) {
                stopped = true;
                return false;
            }
        } catch (const std::exception& e) {
            gf_scanLog(lf_walkFailure(*walk, e.what()));
        }
        return true;
    };
    try {
        gf_walkFolderTree(FOLDER, rules);
    } catch (const ScanStopped&) {
        return;
    }
    if (!stopped) {
        try {
            BATCHES.startOpenBatch();
        } catch (const std::exception& e) {
            gf_scanLog(lf_walkFailure(*walk, e.what()));
        }
    }
}

} // namespace

bool lf_isExcludedPackagePath(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    if (lf_utf8Size(PATH) >= MAX_PATH_CHARS) {
        return true;
    }
    std::string storage;
    const std::string_view below = lf_belowScanFolder(PATH, SCAN_FOLDER, storage);
    if (gf_containsNoCase(below, FS_BASE_NAME)) {
        return true;
    }
    return std::any_of(EXCLUDED_PACKAGES.begin(), EXCLUDED_PACKAGES.end(),
                       [&](std::string_view TEXT) { return gf_containsNoCase(below, TEXT); });
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
        BglBatches batches(
            [](const fs::path& PATH) {
                lf_processBGLfile(PATH);
                return BglRead{};
            },
            ScanBatchRule{}, SCAN_WAIT_LIMIT, [] { return gf_stopRequested(); });
        lf_startReaders(FOLDER, batches);
        const auto logFailure = [&](const std::string& CAUSE) {
            gf_scanLog("{} airports search in {} aborted, futs outer error: {}", "===> ", gf_utf16ToUtf8(FOLDER), CAUSE);
        };
        while (!batches.empty() && lf_takeOldest(batches, logFailure)) {
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
