// The walk of one scan folder: its folders are listed and every aircraft.cfg below it is read
// by the scan workers, one task per file.
#include <algorithm>
#include <deque>
#include <span>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "core/Log.h"
#include "core/ScanFolder.h"
#include "core/ScanTasks.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "liveries/LiveryScan.h"

namespace qmt {
namespace {

// Scenery, airport and navigation-data trees hold no AI aircraft: the walk does not enter them.
constexpr std::string_view SKIP_WORDS[] = {"airport", "lvfr", "mkstudios", "simwings", "fsdreamteam",
                                           "navigraph", "flytampa", "inibuilds", "_CVT_"};
constexpr std::size_t MAX_PATH_BYTES = 250;
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

struct WalkContext {
    std::filesystem::path folder;
    std::string folderText;
};

// Whether the walk may enter the directory: no skip word below the scan folder (the scan
// folder's own path may hold one), and a path shorter than the limit.
bool lf_mayDescend(const WalkContext& WALK, const std::filesystem::path& DIRECTORY)
{
    std::string storage;
    const std::string_view below = gf_belowScanFolder(DIRECTORY, WALK.folder, storage);
    return !lf_containsAny(below, SKIP_WORDS) && DIRECTORY.native().size() < MAX_PATH_BYTES;
}

std::string lf_abortedText(const WalkContext& WALK, std::string_view CAUSE)
{
    return fmt::format("liveries search in {} aborted, cause: {}", WALK.folderText, CAUSE);
}

void lf_note(std::vector<WalkEntry>& OUT, std::string TEXT, bool ENDS_WALK = false)
{
    OUT.push_back(WalkEntry{WalkEntry::Kind::note, {}, 0, std::move(TEXT), ENDS_WALK});
}

// Whether the walk follows a package linked into the scan folder; a link it does not follow is
// noted with the reason.
bool lf_followLink(PackageLinks& LINKS, const std::filesystem::path& LINK, std::vector<WalkEntry>& OUT)
{
    const PackageLinks::Answer answer = LINKS.check(LINK);
    switch (answer.verdict) {
    case PackageLinks::Verdict::follow:
        return true;
    case PackageLinks::Verdict::broken:
        lf_note(OUT, fmt::format("link {} cannot be followed, skipped: {}", gf_utf16ToUtf8(LINK), answer.error));
        return false;
    case PackageLinks::Verdict::intoScanFolder:
    case PackageLinks::Verdict::throughOtherLink:
        break;
    }
    lf_note(OUT, fmt::format("link {} leads to {}, which is scanned already, skipped", gf_utf16ToUtf8(LINK),
                             gf_utf16ToUtf8(answer.target)));
    return false;
}

// Keeps one entry of a listing: a folder the walk may enter, or an aircraft.cfg.
void lf_keepEntry(const WalkContext& WALK, const std::filesystem::directory_entry& ENTRY, PackageLinks* LINKS,
                  std::vector<WalkEntry>& OUT)
{
    const std::filesystem::path& path = ENTRY.path();
    std::error_code status;
    if (ENTRY.is_directory(status)) {
        if (!lf_mayDescend(WALK, path))
            return;
        // Links below the scan folder's own level are not followed: they could lead back up.
        if (gf_isFolderLink(ENTRY) && (LINKS == nullptr || !lf_followLink(*LINKS, path, OUT)))
            return;
        OUT.push_back(WalkEntry{WalkEntry::Kind::folder, path.native(), 0, {}, false});
    } else if (ENTRY.is_regular_file(status) && lf_isAircraftCfg(gf_fileNameText(path))) {
        OUT.push_back(WalkEntry{WalkEntry::Kind::file, path.native(), 0, {}, false});
    }
}

// An aircraft's folder (one that holds an aircraft.cfg) is not entered further through its
// texture and model folders.
void lf_dropTextureAndModelFolders(std::vector<WalkEntry>& OUT)
{
    const bool aircraft = std::any_of(OUT.begin(), OUT.end(), [](const WalkEntry& E) { return E.kind == WalkEntry::Kind::file; });
    if (!aircraft)
        return;
    std::erase_if(OUT, [](const WalkEntry& E) {
        return E.kind == WalkEntry::Kind::folder && lf_isTextureOrModelFolder(gf_fileNameText(E.path));
    });
}

// Lists one folder for the walk (on a scan worker): the folders it may enter and its
// aircraft.cfg files, in listing order, and what went wrong as notes.
void lf_listFolder(const WalkContext& WALK, const std::filesystem::path& FOLDER, bool ROOT, std::vector<WalkEntry>& OUT)
{
    using std::filesystem::directory_iterator;
    std::error_code error;
    directory_iterator it(FOLDER, error);
    if (error) {
        if (ROOT)
            lf_note(OUT, lf_abortedText(WALK, error.message()));
        else if (error == std::errc::permission_denied)
            lf_note(OUT, fmt::format("folder {} cannot be read, skipped: {}", gf_utf16ToUtf8(FOLDER), error.message()));
        else
            lf_note(OUT, lf_abortedText(WALK, std::filesystem::filesystem_error("directory_iterator", FOLDER, error).what()));
        return;
    }
    std::optional<PackageLinks> links;
    if (ROOT)
        links.emplace(FOLDER);
    while (it != directory_iterator()) {
        const std::size_t kept = OUT.size();
        try {
            lf_keepEntry(WALK, *it, links ? &*links : nullptr, OUT);
        } catch (const std::exception& e) {
            lf_note(OUT, lf_abortedText(WALK, e.what()));
        }
        it.increment(error);
        if (error) {
            // The entry was met while the listing broke: like one never reached, it is dropped,
            // and the walk ends here.
            OUT.resize(kept);
            lf_note(OUT, lf_abortedText(WALK, error.message()), true);
            return;
        }
    }
    lf_dropTextureAndModelFolders(OUT);
}

// Takes the oldest file's liveries into g_scannedLiveries. A file whose reader failed or was
// given up is logged with WARNING and listed with the reason.
void lf_collectOldest(ScanFileTasks<LiveryList>& READS, LiveryScanRun& RUN, const char* WARNING)
{
    ScanFileTasks<LiveryList>::File file;
    try {
        LiveryList liveries = READS.takeOldest(file);
        if (!liveries.empty()) {
            // List nodes keep their place in memory when they are spliced.
            const auto text = std::make_shared<const std::string>(std::filesystem::path(file).string());
            for (const ScannedLivery& livery : liveries)
                RUN.files.emplace(&livery, text);
        }
        g_scannedLiveries.splice(g_scannedLiveries.end(), liveries);
    } catch (const ScanStopped&) {
        throw;
    } catch (const std::exception& e) {
        const std::filesystem::path path(file);
        gf_logWarning(fmt::runtime(WARNING), fmt::format("{}, file: {}", e.what(), gf_utf16ToUtf8(path)));
        lf_addInvalidCfgFile(fmt::format("{} was not read: {}", path.string(), e.what()));
    }
}

} // namespace

LiveryScanRun::LiveryScanRun(LiveryScanSnapshotPtr LISTS) : lists(std::move(LISTS)) {}

void lf_searchLiveriesInFolder(int32_t FOLDER_RANK, const std::filesystem::path& FOLDER, LiveryScanRun& RUN,
                               const LiveryWalkSeams& SEAMS)
{
    ScanFileTasks<LiveryList> reads(RUN.pool, SEAMS.waitLimit, gf_stopRequested);
    const auto ordinaryReader = std::make_shared<const LiveryWalkSeams::Reader>(SEAMS.ordinaryReader);
    const auto ivaoReader = std::make_shared<const LiveryWalkSeams::Reader>(SEAMS.ivaoReader);
    const auto walk = std::make_shared<const WalkContext>(WalkContext{FOLDER, gf_utf16ToUtf8(FOLDER)});
    bool stopped = false;

    FolderWalkRules rules;
    rules.waitLimit = SEAMS.waitLimit;
    rules.stop = gf_stopRequested;
    rules.pool = &RUN.pool;
    rules.list = [walk](const std::filesystem::path& DIR, bool ROOT, std::vector<WalkEntry>& OUT) {
        lf_listFolder(*walk, DIR, ROOT, OUT);
    };
    rules.lostNote = [walk](const std::string& CAUSE) { return lf_abortedText(*walk, CAUSE); };
    rules.visit = [&](WalkEntry& ENTRY) {
        if (ENTRY.kind == WalkEntry::Kind::note) {
            gf_logWarning(ENTRY.note);
            return true;
        }
        try {
            const auto& reader = lf_containsAny(ENTRY.path, IVAO_MARKERS) ? ivaoReader : ordinaryReader;
            // Each task holds its scan's lists and its reader: a task given up may outlive the
            // scan and the walk.
            auto task = [reader, lists = RUN.lists, path = ENTRY.path, FOLDER_RANK] {
                return (*reader)(FOLDER_RANK, std::filesystem::path(path), *lists);
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
            gf_logWarning(lf_abortedText(*walk, e.what()));
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
