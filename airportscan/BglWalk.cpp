// The walk of a package folder: every BGL file that may hold an airport, and that its package
// loads, is read by the scan workers, a batch of files per task and a bounded number of tasks at
// a time; the files in which no airport could be read are then identified by their airport
// record, name, manifest or path and read from the simulator's facility data.
#include "airportscan/ScanSteps.h"

#include "airportscan/AirportScan.h"
#include "airportscan/ApfLinks.h"
#include "airportscan/Bgl.h"
#include "core/Airports.h"
#include "core/ScanFolder.h"
#include "core/ScanTasks.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "stands/StandTable.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <type_traits>

namespace qmt {

namespace fs = std::filesystem;

std::vector<fs::path> g_allBglFiles;
std::mutex g_allBglFilesMutex;
std::vector<fs::path> g_handledBglFiles;
std::mutex g_handledBglFilesMutex;
std::vector<BglNote> g_bglNotes;
std::atomic<std::size_t> g_bglNotReadInTime{0};

namespace {

// Packages that hold no add-on airport (compared lower-cased).
constexpr std::array<std::string_view, 13> EXCLUDED_PACKAGES = {
    "tutorials",     "aircraft",    "bushtrip",     "discovery", "point-of-interest", "simobjects",
    "vcockpits",     "aig-aitraffic", "justflight-aircraft", "fsltl", "gsx-pro", "gsx-world", "landingchallenge"};
// Files of these folders hold no airport of their own (compared as they are).
constexpr std::array<std::string_view, 3> EXCLUDED_FILE_TEXTS = {"statics", "afcad updates", "_heliports"};
constexpr std::size_t kMaxPathChars = 250;

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
    const std::string_view below = gf_belowScanFolder(PATH, SCAN_FOLDER, storage);
    return std::any_of(EXCLUDED_FILE_TEXTS.begin(), EXCLUDED_FILE_TEXTS.end(),
                       [&](std::string_view TEXT) { return below.find(TEXT) != std::string_view::npos; });
}

// A file name ending in ".bgl" in any case (the extension, so not the name ".bgl" alone).
bool lf_hasBglExtension(std::string_view NAME)
{
    constexpr std::string_view kExtension = ".bgl";
    return NAME.size() > kExtension.size() && gf_containsNoCase(NAME.substr(NAME.size() - kExtension.size()), kExtension);
}

// The candidate of one directory entry for a reader task; BYTES: its size. DAMAGE: why a BGL
// file that may hold an airport cannot be read.
bool lf_isBglCandidate(const fs::directory_entry& ENTRY, const fs::path& SCAN_FOLDER, std::uintmax_t& BYTES,
                       std::string& DAMAGE)
{
    const fs::path& path = ENTRY.path();
    return lf_hasBglExtension(gf_fileNameText(path)) && !lf_isExcludedFilePath(path, SCAN_FOLDER) &&
           lf_bglHasAirportSection(path, BYTES, &DAMAGE);
}

// Whether the part of PATH below the scan folder names a package that holds no add-on airport.
bool lf_namesExcludedPackage(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    std::string storage;
    const std::string_view below = gf_belowScanFolder(PATH, SCAN_FOLDER, storage);
    if (gf_containsNoCase(below, kFsBaseName)) {
        return true;
    }
    return std::any_of(EXCLUDED_PACKAGES.begin(), EXCLUDED_PACKAGES.end(),
                       [&](std::string_view TEXT) { return gf_containsNoCase(below, TEXT); });
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

// Why a linked package (ROOT) or a folder linked further down is not followed.
std::string lf_linkRefusal(const PackageLinks::Answer& ANSWER, bool ROOT)
{
    switch (ANSWER.verdict) {
    case PackageLinks::Verdict::follow:
        return {};
    case PackageLinks::Verdict::broken:
        return "it leads nowhere";
    case PackageLinks::Verdict::intoScanFolder:
        return "it leads back into the scan folder or above it";
    case PackageLinks::Verdict::throughOtherLink:
        break;
    }
    return fmt::format("its {} is reached through another link already ({})", ROOT ? "package" : "folder",
                       gf_utf16ToUtf8(ANSWER.other));
}

// What the walk keeps of one entry: a folder to enter or a candidate file, in OUT. Linked folders
// are followed under the walk's loop guard LINKS: packages linked into the scan folder (ROOT, the
// listing of the scan folder itself) and folders linked further down, such as a scenery folder.
void lf_keepEntry(const BglWalk& WALK, const fs::directory_entry& ENTRY, WalkLinks& LINKS, bool ROOT,
                  std::vector<WalkEntry>& OUT)
{
    const std::string_view linked = ROOT ? "linked package" : "linked folder";
    try {
        if (lf_isExcludedPackagePath(ENTRY.path(), WALK.folder)) {
            // A folder or BGL file left out for its length alone may hold an airport: it is named.
            const std::size_t length = lf_utf8Size(ENTRY.path());
            std::error_code ec;
            if (length >= kMaxPathChars && !lf_namesExcludedPackage(ENTRY.path(), WALK.folder) &&
                (ENTRY.is_directory(ec) || lf_hasBglExtension(gf_fileNameText(ENTRY.path())))) {
                lf_note(OUT, OUT.size(), fmt::format("{}: not read, its path has {} characters, {} or more",
                                                     gf_utf16ToUtf8(ENTRY.path()), length, kMaxPathChars));
            }
            return;
        }
        if (gf_isFolderLink(ENTRY) && !fs::exists(ENTRY.status())) {
            // Further down it may have been a file as well as a folder.
            lf_note(OUT, OUT.size(), fmt::format("{} {} not followed: {}", ROOT ? linked : "link",
                                                 gf_utf16ToUtf8(ENTRY.path()), lf_linkRefusal(LINKS.check(ENTRY.path()), ROOT)));
            return;
        }
        if (ENTRY.is_directory()) {
            if (gf_isFolderLink(ENTRY)) {
                const PackageLinks::Answer link = LINKS.check(ENTRY.path());
                const std::string refusal = lf_linkRefusal(link, ROOT);
                if (!refusal.empty()) {
                    lf_note(OUT, OUT.size(), fmt::format("{} {} not followed: {}", linked, gf_utf16ToUtf8(ENTRY.path()), refusal));
                    return;
                }
                lf_note(OUT, OUT.size(),
                        fmt::format("{} {} read from {}", linked, gf_utf16ToUtf8(ENTRY.path()), gf_utf16ToUtf8(link.target)));
            }
            OUT.push_back(WalkEntry{WalkEntry::Kind::folder, ENTRY.path().native(), 0, {}, false});
            return;
        }
        std::uintmax_t bytes = 0;
        std::string damage;
        if (ENTRY.is_regular_file() && lf_isBglCandidate(ENTRY, WALK.folder, bytes, damage)) {
            OUT.push_back(WalkEntry{WalkEntry::Kind::file, ENTRY.path().native(), bytes, {}, false});
        } else if (!damage.empty()) {
            lf_note(OUT, OUT.size(), fmt::format("{}: not read, {}", gf_utf16ToUtf8(ENTRY.path()), damage));
        }
    } catch (const std::exception& e) {
        lf_note(OUT, OUT.size(), lf_walkFailure(WALK, e.what()));
    }
}

// Lists one folder for the walk (on a scan worker). A folder that cannot be listed, or whose
// listing breaks, is noted and left; the walk goes on with the others.
void lf_listBglFolder(const BglWalk& WALK, const fs::path& DIR, bool ROOT, WalkLinks& LINKS, std::vector<WalkEntry>& OUT)
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
        lf_keepEntry(WALK, *it, LINKS, ROOT, OUT);
        it.increment(ec);
        if (ec) {
            // Noted before the entry met last, which is still kept.
            lf_note(OUT, at, lf_walkFailure(WALK, fs::filesystem_error("directory_iterator::operator++", fs::path(current), ec).what()));
            return;
        }
    }
}

// A BGL file read by a task: nothing to hand back, the reader registers with its walk.
struct BglRead {};
using BglReads = ScanFileTasks<BglRead>;

// Waits for the oldest file's reader; a reader that failed or was given up is logged with its
// file. False when a stop came.
bool lf_takeOldest(BglReads& READS)
{
    BglReads::File file;
    try {
        READS.takeOldest(file);
    } catch (const ScanStopped&) {
        return false;
    } catch (const ScanTimedOut& e) {
        ++g_bglNotReadInTime;
        gf_scanLog("{}{}: not read: {}; the next start scans again", "===> ", gf_utf16ToUtf8(fs::path(file)), e.what());
    } catch (const std::exception& e) {
        gf_scanLog("{}{}: reading it failed: {}", "===> ", gf_utf16ToUtf8(fs::path(file)), e.what());
    }
    return true;
}

// Walks FOLDER and hands every candidate that its package loads to a reader task of its own on
// the scan's POOL, noting each in HANDED_OUT; the folders are listed by scan workers ahead of the walk.
// A folder that cannot be listed or an entry whose status cannot be read is logged and passed over.
void lf_startReaders(const fs::path& FOLDER, ScanPool& POOL, BglReads& READS,
                     const std::shared_ptr<const BglWalkState>& STATE, const BglReader& READ,
                     std::vector<fs::path>& HANDED_OUT)
{
    const auto reader = std::make_shared<const BglReader>(READ ? READ : BglReader(lf_processBGLfile));
    const auto walk = std::make_shared<const BglWalk>(BglWalk{FOLDER, gf_utf16ToUtf8(FOLDER)});
    PackageLayouts layouts(FOLDER);
    FolderWalkRules rules;
    rules.stop = [] { return gf_stopRequested(); };
    rules.pool = &POOL;
    // Held by the listing tasks too: one given up may outlive the walk.
    const auto links = std::make_shared<WalkLinks>(FOLDER);
    rules.list = [walk, links](const fs::path& DIR, bool ROOT, FolderOpener&, std::vector<WalkEntry>& OUT) {
        lf_listBglFolder(*walk, DIR, ROOT, *links, OUT);
    };
    rules.lostNote = [walk](const fs::path& DIR, const std::string& CAUSE) {
        return lf_walkFailure(*walk, fmt::format("folder {} was not read: {}", gf_utf16ToUtf8(DIR), CAUSE));
    };
    rules.visit = [&](WalkEntry& ENTRY) {
        if (ENTRY.kind == WalkEntry::Kind::note) {
            gf_scanLog(ENTRY.note);
            if (ENTRY.timedOut) {
                ++g_bglNotReadInTime;
            }
            return true;
        }
        const fs::path::string_type file = ENTRY.path;
        try {
            if (gf_stopRequested()) {
                return false;
            }
            fs::path path(std::move(ENTRY.path));
            if (!layouts.lists(path)) {
                gf_scanLog("{} is not listed in the layout.json of its package, which the simulator loads from: not read",
                           gf_utf16ToUtf8(path));
                return true;
            }
            HANDED_OUT.push_back(path);
            // The task holds the walk's state and its reader: a task given up may outlive the walk.
            auto task = [STATE, reader, path] {
                (*reader)(path, STATE.get());
                return BglRead{};
            };
            // Stopped while waiting for a free worker, or while taking the oldest result.
            if (!READS.start(path.native(), std::move(task)) || (READS.overfull() && !lf_takeOldest(READS))) {
                return false;
            }
        } catch (const ScanTimedOut& e) {
            // No worker could take the file up (every one holds a stalled read).
            ++g_bglNotReadInTime;
            gf_scanLog("{}{}: not read: {}; the next start scans again", "===> ", gf_utf16ToUtf8(fs::path(file)), e.what());
        } catch (const std::exception& e) {
            gf_scanLog("{}{}: {}", "===> ", gf_utf16ToUtf8(fs::path(file)), lf_walkFailure(*walk, e.what()));
        }
        return true;
    };
    try {
        gf_walkFolderTree(FOLDER, rules);
    } catch (const ScanStopped&) {
    }
}

} // namespace

bool BglWalkState::closed() const
{
    std::lock_guard lock(m_mutex);
    return m_closed;
}

void BglWalkState::finish(BglResult RESULT) const
{
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return;
    }
    lf_registerBglResult(std::move(RESULT));
    ++m_finished;
    m_finishedOne.notify_all();
}

bool BglWalkState::close(std::size_t COUNT, std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP) const
{
    constexpr std::chrono::milliseconds kSlice{20};
    const auto deadline = std::chrono::steady_clock::now() + LIMIT;
    std::unique_lock lock(m_mutex);
    while (m_finished < COUNT && !(STOP && STOP())) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            break;
        }
        m_finishedOne.wait_for(lock, std::min<std::chrono::steady_clock::duration>(deadline - now, kSlice));
    }
    m_closed = true;
    return m_finished >= COUNT;
}

bool lf_isExcludedPackagePath(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    return lf_utf8Size(PATH) >= kMaxPathChars || lf_namesExcludedPackage(PATH, SCAN_FOLDER);
}

void lf_scanBglFolders(const fs::path& FOLDER, ScanPool& POOL, const BglReader& READ)
{
    gf_setStatus("Scanning for third party addon airports ...");
    gf_scanLog("\n\n\n+++++++++++++++++ Scanning for {} airports in:\n{}\n", "addon ", gf_utf16ToUtf8(FOLDER));
    const auto walk = std::make_shared<const BglWalkState>(FOLDER);
    const auto stop = [] { return gf_stopRequested(); };
    std::vector<fs::path> handedOut;
    {
        // The scan's workers list the folders and read the files.
        BglReads reads(POOL, kScanWaitLimit, stop);
        lf_startReaders(FOLDER, POOL, reads, walk, READ, handedOut);
        while (!reads.empty() && lf_takeOldest(reads)) {
        }
    }
    // A reader whose result timed out may still run (a read hanging on a network drive): it had
    // its time, named above, and the walk closes without waiting for it again.
    if (gf_stopRequested()) {
        walk->close(0, std::chrono::milliseconds(0), {});
        return;
    }
    if (!walk->close(handedOut.size(), std::chrono::milliseconds(0), stop)) {
        gf_scanLog("{}BGL files of {} were still being read after {} seconds; the scan goes on without them", "===> ",
                   gf_utf16ToUtf8(FOLDER), kScanWaitLimit.count() / 1000);
    }
    if (!gf_stopRequested()) {
        lf_readUnrecognisedBgls(FOLDER, handedOut);
    }
}

std::pair<std::string, bool> lf_detectIcao(const fs::path& PATH, ManifestInfo& MANIFEST, const fs::path& SCAN_FOLDER,
                                           const std::optional<IcaoCode>& RECORD_CODE)
{
    try {
        if (RECORD_CODE) {
            gf_scanLog("ICAO code '{}' from the airport record", RECORD_CODE->view());
            return {RECORD_CODE->str(), true};
        }
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
        MANIFEST = gf_searchManifest(PATH, SCAN_FOLDER);
        if (!MANIFEST) {
            gf_scanLog("no manifest.json in its package");
            return {{}, false};
        }
        if (const auto airport = gf_airportByCode(gf_upper(MANIFEST->title.substr(0, 4)))) {
            gf_scanLog("airport has ICAO '{}' in title of manifest", airport->icao.view());
            return {airport->icao.str(), true};
        }
        gf_scanLog("no supported airport ICAO in title of manifest");
        if (const auto airport = gf_airportInPath(gf_belowScanFolder(PATH, SCAN_FOLDER))) {
            gf_scanLog("airport has ICAO '{}' in BGL path", airport->icao.view());
            return {airport->icao.str(), true};
        }
        gf_scanLog("no supported airport ICAO in BGL path");
    } catch (const std::exception& e) {
        gf_scanLog("Exception {}", e.what());
    }
    return {{}, false};
}

namespace {

// The lists of the closed walk, taken over by its second pass: the files read and those handled,
// sorted and each once, and the first note on each file.
struct WalkLists {
    std::vector<fs::path> all;
    std::vector<fs::path> handled;
    std::map<fs::path, BglNote> notes;
};

WalkLists lf_takeWalkLists()
{
    WalkLists lists;
    std::vector<BglNote> notes;
    {
        std::scoped_lock lock(g_allBglFilesMutex, g_handledBglFilesMutex);
        lists.all.swap(g_allBglFiles);
        lists.handled.swap(g_handledBglFiles);
        notes.swap(g_bglNotes);
    }
    for (auto* list : {&lists.all, &lists.handled}) {
        std::sort(list->begin(), list->end());
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
    for (BglNote& note : notes) {
        lists.notes.try_emplace(note.path, std::move(note));
    }
    return lists;
}

// One BGL file without a handled airport: identified, linked, or read from facility data.
void lf_takeUpBgl(const fs::path& SCAN_FOLDER, const fs::path& PATH, const BglNote* NOTE)
{
    gf_scanLog("\nBGL: {}", gf_utf16ToUtf8(PATH));
    if (NOTE != nullptr) {
        gf_scanLog("no airport taken from its records: {}", NOTE->reason);
    }
    AirportFile record;
    ManifestInfo manifest;
    const auto [code, found] = lf_detectIcao(PATH, manifest, SCAN_FOLDER, NOTE ? NOTE->code : std::nullopt);
    if (!found) {
        gf_scanLog("==> its airport could not be told from its records, name, manifest or path");
        return;
    }
    record.code = IcaoCode(code);
    std::int32_t archived = 0;
    if (lf_linkToArchive(record, manifest, archived, PATH, SCAN_FOLDER)) {
        return;
    }
    // Airports of the simulator's own maker are never generated from facility data here.
    if (record.publisher == "simaddon") {
        return;
    }
    lf_generateFromFacilities(record, PATH, SCAN_FOLDER);
}

} // namespace

void lf_readUnrecognisedBgls(const fs::path& SCAN_FOLDER, const std::vector<fs::path>& HANDED_OUT)
{
    const WalkLists lists = lf_takeWalkLists();
    for (const fs::path& path : HANDED_OUT) {
        if (!std::binary_search(lists.all.begin(), lists.all.end(), path)) {
            gf_scanLog("\nBGL: {}\n==> its reading did not end within {} seconds; it is left out of this scan",
                       gf_utf16ToUtf8(path), kScanWaitLimit.count() / 1000);
        }
    }
    const std::size_t missing = lists.all.size() > lists.handled.size() ? lists.all.size() - lists.handled.size() : 0;
    if (missing > 0) {
        gf_scanLog("\n\n\n ******************** {} BGL file{} without an airport taken from its records", missing,
                   gf_plural(missing));
    }
    for (const fs::path& path : lists.all) {
        if (gf_stopRequested()) {
            return;
        }
        if (std::binary_search(lists.handled.begin(), lists.handled.end(), path)) {
            continue;
        }
        const auto note = lists.notes.find(path);
        lf_takeUpBgl(SCAN_FOLDER, path, note == lists.notes.end() ? nullptr : &note->second);
    }
}

} // namespace qmt
