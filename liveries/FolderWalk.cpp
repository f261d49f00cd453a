// The walk of one scan folder: its folders are listed and every aircraft.cfg below it is read
// by the scan workers, one task per file.
#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "core/FolderHandle.h"
#include "core/Log.h"
#include "core/ScanFolder.h"
#include "core/ScanTasks.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "liveries/LiveryScan.h"
#include "liveries/Regcodes.h"

namespace qmt {
namespace {

// Scenery, airport and navigation-data trees hold no AI aircraft: the walk does not enter them.
constexpr std::string_view SKIP_WORDS[] = {"airport", "lvfr", "mkstudios", "simwings", "fsdreamteam",
                                           "navigraph", "flytampa", "inibuilds", "_CVT_"};
constexpr std::size_t kMaxPathBytes = 250;
constexpr std::string_view IVAO_MARKERS[] = {"ivao_x-csl", "IVAO_MTL"};

bool lf_containsAny(std::string_view TEXT, std::span<const std::string_view> WORDS)
{
    return std::any_of(WORDS.begin(), WORDS.end(),
                       [TEXT](std::string_view WORD) { return TEXT.find(WORD) != std::string_view::npos; });
}

bool lf_equalsNoCase(std::string_view TEXT, std::string_view WORD)
{
    return TEXT.size() == WORD.size() && gf_containsNoCase(TEXT, WORD);
}

// aircraft.cfg in any case of its ASCII letters (the stem "AIRCRAFT" and the extension ".CFG").
bool lf_isAircraftCfg(std::string_view FILE_NAME)
{
    return lf_equalsNoCase(FILE_NAME, "aircraft.cfg");
}

// The texture and model folders of an aircraft (texture, texture.KLM, MODEL.AI ...): the
// simulator takes no aircraft.cfg from inside them, so an aircraft's folder is walked without
// listing them, which is most of a livery package's folders.
bool lf_isTextureOrModelFolder(std::string_view NAME)
{
    for (const std::string_view kind : {std::string_view("texture"), std::string_view("model")}) {
        const std::string_view head = NAME.substr(0, kind.size());
        if (lf_equalsNoCase(head, kind) && (NAME.size() == kind.size() || NAME[kind.size()] == '.'))
            return true;
    }
    return false;
}

// Text read by the listing and not yet handed to a reader is held at most this much: the
// listing may run thousands of folders ahead of the walk, and past it the readers read the
// files themselves.
constexpr std::size_t kMaxReadAheadBytes = std::size_t{32} << 20;

struct WalkContext {
    // Spelled out: clang builds (sanitizers, fuzzing) take no parenthesised aggregate init.
    WalkContext(std::filesystem::path FOLDER, std::string FOLDER_TEXT)
        : folder(std::move(FOLDER)), folderText(std::move(FOLDER_TEXT))
    {
    }

    std::filesystem::path folder;
    std::string folderText;
    // Bytes read by the listing and not yet handed to a reader (of the files the walk meets).
    mutable std::atomic<std::size_t> readAhead{0};
};

// Whether the walk may enter the directory: no skip word below the scan folder (the scan
// folder's own path may hold one), and a path shorter than the limit.
bool lf_mayDescend(const WalkContext& WALK, const std::filesystem::path& DIRECTORY)
{
    std::string storage;
    const std::string_view below = gf_belowScanFolder(DIRECTORY, WALK.folder, storage);
    return !lf_containsAny(below, SKIP_WORDS) && DIRECTORY.native().size() < kMaxPathBytes;
}

std::string lf_abortedText(const WalkContext& WALK, std::string_view CAUSE)
{
    return fmt::format("liveries search in {} aborted, cause: {}", WALK.folderText, CAUSE);
}

void lf_note(std::vector<WalkEntry>& OUT, std::string TEXT, bool ENDS_WALK = false)
{
    OUT.push_back(WalkEntry{WalkEntry::Kind::note, {}, 0, std::move(TEXT), ENDS_WALK});
}

// The end of the note on a link whose folder the walk reads by another way: no folder is lost.
constexpr std::string_view kReadElsewhere = ", which is scanned already, skipped";

// Whether the walk follows a linked folder; a link it does not follow is noted with the reason.
bool lf_followLink(WalkLinks& LINKS, const std::filesystem::path& LINK, std::vector<WalkEntry>& OUT)
{
    const PackageLinks::Answer answer = LINKS.check(LINK);
    switch (answer.verdict) {
    case PackageLinks::Verdict::follow:
        return true;
    case PackageLinks::Verdict::broken:
        lf_note(OUT, fmt::format("link {} cannot be followed, skipped: {}", gf_utf16ToUtf8(LINK), answer.error));
        return false;
    case PackageLinks::Verdict::intoScanFolder:
        lf_note(OUT, fmt::format("link {} leads to {}{}", gf_utf16ToUtf8(LINK), gf_utf16ToUtf8(answer.target),
                                 kReadElsewhere));
        return false;
    case PackageLinks::Verdict::throughOtherLink:
        break;
    }
    lf_note(OUT, fmt::format("link {} leads to {}, into or around {}{}", gf_utf16ToUtf8(LINK),
                             gf_utf16ToUtf8(answer.target), gf_utf16ToUtf8(answer.other), kReadElsewhere));
    return false;
}

// Keeps one entry of a listing whose type the listing did not tell (a link, or a file system
// that gives no types): a folder the walk may enter, or an aircraft.cfg. A link that leads
// nowhere (or round in a loop) is noted.
void lf_keepEntry(const WalkContext& WALK, const std::filesystem::directory_entry& ENTRY, WalkLinks& LINKS,
                  std::vector<WalkEntry>& OUT)
{
    const std::filesystem::path& path = ENTRY.path();
    std::error_code status;
    if (ENTRY.is_directory(status)) {
        if (!lf_mayDescend(WALK, path))
            return;
        // A linked texture or model folder (textures shared between aircraft) holds nothing for
        // the scan: it is passed over without claiming its target.
        if (gf_isFolderLink(ENTRY) &&
            (lf_isTextureOrModelFolder(gf_fileNameText(path)) || !lf_followLink(LINKS, path, OUT)))
            return;
        OUT.push_back(WalkEntry{WalkEntry::Kind::folder, path.native(), 0, {}, false});
    } else if (ENTRY.is_regular_file(status)) {
        if (lf_isAircraftCfg(gf_fileNameText(path)))
            OUT.push_back(WalkEntry{WalkEntry::Kind::file, path.native(), 0, {}, false});
    } else if (status && gf_isFolderLink(ENTRY) && lf_mayDescend(WALK, path)) {
        lf_note(OUT, fmt::format("link {} cannot be followed, skipped: {}", gf_utf16ToUtf8(path), status.message()));
    }
}

// Reads the aircraft.cfg NAME while its folder is open, so that its reader neither opens it
// by its whole path nor waits for it. A file that cannot be read so is left to its reader, which
// reads it again and names what went wrong.
void lf_readWhileListing(const WalkContext& WALK, const FolderHandle& DIR, const char* NAME, WalkEntry& FILE)
{
    if (WALK.readAhead.load(std::memory_order_relaxed) >= kMaxReadAheadBytes)
        return;
    TextFile read;
    DIR.readTextFile(NAME, kMaxLiveryTextBytes, read);
    if (read.status != TextReadStatus::ok)
        return;
    FILE.text = std::move(read.text);
    FILE.textRead = true;
    WALK.readAhead.fetch_add(FILE.text.size(), std::memory_order_relaxed);
}

// Keeps one listed entry: plain folders and files are decided by the type the listing gave,
// without a query of their own (the folders' skip rules are applied once the listing is
// complete); other entries are asked about.
void lf_keepListed(const WalkContext& WALK, const std::string& FOLDER, const FolderHandle& DIR, const dirent& ENTRY,
                   WalkLinks& LINKS, std::vector<WalkEntry>& OUT)
{
    const std::string_view name(ENTRY.d_name);
    std::string path;
    path.reserve(FOLDER.size() + 1 + name.size());
    path.append(FOLDER);
    if (!path.ends_with('/'))
        path.push_back('/');
    path.append(name);
    if (ENTRY.d_type == DT_DIR) {
        OUT.push_back(WalkEntry{WalkEntry::Kind::folder, std::move(path), 0, {}, false});
    } else if (ENTRY.d_type == DT_REG) {
        if (lf_isAircraftCfg(name)) {
            OUT.push_back(WalkEntry{WalkEntry::Kind::file, std::move(path), 0, {}, false});
            lf_readWhileListing(WALK, DIR, ENTRY.d_name, OUT.back());
        }
    } else {
        lf_keepEntry(WALK, std::filesystem::directory_entry(std::move(path)), LINKS, OUT);
    }
}

std::string_view lf_lastComponent(std::string_view PATH)
{
    const std::size_t slash = PATH.find_last_of('/');
    return slash == std::string_view::npos ? PATH : PATH.substr(slash + 1);
}

// Drops the folders the walk may not enter (a folder that cannot be judged is passed over with
// a note in its place). In a complete listing of an aircraft's folder (one that holds an
// aircraft.cfg) the texture and model folders are dropped as well.
void lf_dropFoldersNotEntered(const WalkContext& WALK, bool COMPLETE, std::vector<WalkEntry>& OUT)
{
    const bool aircraft = COMPLETE && std::any_of(OUT.begin(), OUT.end(), [](const WalkEntry& E) { return E.kind == WalkEntry::Kind::file; });
    std::size_t kept = 0;
    for (WalkEntry& entry : OUT) {
        if (entry.kind == WalkEntry::Kind::folder) {
            if (aircraft && lf_isTextureOrModelFolder(lf_lastComponent(entry.path)))
                continue;
            try {
                if (!lf_mayDescend(WALK, entry.path))
                    continue;
            } catch (const std::exception& e) {
                entry = WalkEntry{WalkEntry::Kind::note, {}, 0, lf_abortedText(WALK, e.what()), false};
            }
        }
        if (&OUT[kept] != &entry)
            OUT[kept] = std::move(entry);
        ++kept;
    }
    OUT.resize(kept);
}

std::string lf_openErrorText(const WalkContext& WALK, const std::filesystem::path& FOLDER, bool ROOT,
                             const std::error_code& ERROR)
{
    if (ROOT)
        return lf_abortedText(WALK, ERROR.message());
    if (ERROR == std::errc::permission_denied)
        return fmt::format("folder {} cannot be read, skipped: {}", gf_utf16ToUtf8(FOLDER), ERROR.message());
    return lf_abortedText(WALK, std::filesystem::filesystem_error("directory_iterator", FOLDER, ERROR).what());
}

// Lists one folder for the walk (on a scan worker): the folders it may enter and its
// aircraft.cfg files, in listing order, and what went wrong as notes. The listing's own entry
// types spare a status query per entry and a path object per entry: a large package holds
// tens of thousands of them.
void lf_listFolder(const WalkContext& WALK, const std::filesystem::path& FOLDER, bool ROOT, FolderOpener& OPENER,
                   WalkLinks& LINKS, std::vector<WalkEntry>& OUT)
{
    const std::unique_ptr<FolderHandle> opened = OPENER.open(FOLDER.native());
    FolderHandle& dir = *opened;
    if (!dir.opened()) {
        lf_note(OUT, lf_openErrorText(WALK, FOLDER, ROOT, std::error_code(errno, std::generic_category())));
        return;
    }
    std::size_t kept = OUT.size();
    bool first = true;
    for (;;) {
        const dirent* entry = dir.next();
        if (entry == nullptr) {
            if (errno == 0)
                break;
            const std::error_code error(errno, std::generic_category());
            if (first) { // the listing could not be begun: as a folder that cannot be opened
                lf_note(OUT, lf_openErrorText(WALK, FOLDER, ROOT, error));
                return;
            }
            // The entry met last before the listing broke is dropped like the ones never
            // reached, and the walk ends here.
            OUT.resize(kept);
            lf_dropFoldersNotEntered(WALK, false, OUT);
            lf_note(OUT, lf_abortedText(WALK, error.message()), true);
            return;
        }
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        first = false;
        kept = OUT.size();
        try {
            lf_keepListed(WALK, FOLDER.native(), dir, *entry, LINKS, OUT);
        } catch (const std::exception& e) {
            lf_note(OUT, lf_abortedText(WALK, e.what()));
        }
    }
    lf_dropFoldersNotEntered(WALK, true, OUT);
}

// Names a file that was not read, with the reason, in the log and in the report of unusable
// files; one left for want of time counts as unread, so that the next start scans again.
void lf_fileNotRead(const std::filesystem::path& FILE, const std::exception& ERROR, LiveryScanRun& RUN,
                    const char* WARNING)
{
    gf_logWarning(fmt::runtime(WARNING), fmt::format("{}, file: {}", ERROR.what(), gf_utf16ToUtf8(FILE)));
    lf_addInvalidCfgFile(fmt::format("{} was not read: {}", FILE.string(), ERROR.what()));
    if (dynamic_cast<const ScanTimedOut*>(&ERROR) != nullptr)
        ++RUN.unread;
}

// Takes the oldest file's liveries into g_scannedLiveries, their titles claimed here: the files
// are taken in walk order, so a title that two files share goes to the one met first, as when
// one reader reads them one after the other, whichever reader ends first. A file whose reader
// failed or was given up is logged with WARNING and listed with the reason; it claims nothing.
void lf_collectOldest(ScanFileTasks<UnclaimedLiveries>& READS, LiveryScanRun& RUN, const char* WARNING)
{
    ScanFileTasks<UnclaimedLiveries>::File file;
    try {
        LiveryList liveries = lf_claimLiveries(READS.takeOldest(file));
        if (!liveries.empty())
            RUN.files.push_back(LiveryScanRun::FileLiveries{liveries.size(), std::move(file)});
        g_scannedLiveries.splice(g_scannedLiveries.end(), liveries);
    } catch (const ScanStopped&) {
        throw;
    } catch (const std::exception& e) {
        lf_fileNotRead(std::filesystem::path(file), e, RUN, WARNING);
    }
}

} // namespace

LiveryScanRun::LiveryScanRun(LiveryScanSnapshotPtr LISTS) : lists(std::move(LISTS)) {}

void lf_searchLiveriesInFolder(int32_t FOLDER_RANK, const std::filesystem::path& FOLDER, LiveryScanRun& RUN,
                               const LiveryWalkSeams& SEAMS)
{
    ScanFileTasks<UnclaimedLiveries> reads(RUN.pool, SEAMS.waitLimit, gf_stopRequested);
    const auto ordinaryReader = std::make_shared<const LiveryWalkSeams::Reader>(SEAMS.ordinaryReader);
    const auto ivaoReader = std::make_shared<const LiveryWalkSeams::Reader>(SEAMS.ivaoReader);
    const auto walk = std::make_shared<const WalkContext>(FOLDER, gf_utf16ToUtf8(FOLDER));
    // Held by the listing tasks too: one given up may outlive the walk.
    const auto links = std::make_shared<WalkLinks>(FOLDER);
    bool stopped = false;

    FolderWalkRules rules;
    rules.waitLimit = SEAMS.waitLimit;
    rules.stop = gf_stopRequested;
    rules.pool = &RUN.pool;
    rules.list = [walk, links](const std::filesystem::path& DIR, bool ROOT, FolderOpener& OPENER,
                               std::vector<WalkEntry>& OUT) {
        lf_listFolder(*walk, DIR, ROOT, OPENER, *links, OUT);
    };
    rules.lostNote = [walk](const std::filesystem::path& DIR, const std::string& CAUSE) {
        return lf_abortedText(*walk, fmt::format("folder {} was not read: {}", gf_utf16ToUtf8(DIR), CAUSE));
    };
    rules.visit = [&](WalkEntry& ENTRY) {
        if (ENTRY.kind == WalkEntry::Kind::note) {
            gf_logWarning(ENTRY.note);
            if (!ENTRY.note.ends_with(kReadElsewhere))
                lf_addUnreadFolder(ENTRY.note);
            if (ENTRY.timedOut)
                ++RUN.unread;
            return true;
        }
        const std::filesystem::path::string_type file = ENTRY.path;
        try {
            const auto& reader = lf_containsAny(ENTRY.path, IVAO_MARKERS) ? ivaoReader : ordinaryReader;
            walk->readAhead.fetch_sub(ENTRY.text.size(), std::memory_order_relaxed);
            // Each task holds its scan's lists and its reader: a task given up may outlive the
            // scan and the walk.
            auto task = [reader, lists = RUN.lists, path = ENTRY.path, FOLDER_RANK, read = ENTRY.textRead,
                         text = std::move(ENTRY.text)]() mutable {
                return (*reader)(FOLDER_RANK, std::filesystem::path(path), *lists, read ? &text : nullptr);
            };
            if (!reads.start(std::move(ENTRY.path), std::move(task))) {
                stopped = true; // the scan is given up
                return false;
            }
            if (reads.overfull())
                lf_collectOldest(reads, RUN, "liveries inner search aborted: {}");
        } catch (const ScanStopped&) {
            throw;
        } catch (const std::exception& e) {
            lf_fileNotRead(std::filesystem::path(file), e, RUN, "liveries search aborted: {}");
        }
        return true;
    };
    try {
        gf_walkFolderTree(FOLDER, rules);
        while (!stopped && !reads.empty())
            lf_collectOldest(reads, RUN, "liveries search aborted, futs outer, {}");
    } catch (const ScanStopped&) {
        // The scan is given up; its workers end on their own.
    }
}

} // namespace qmt
