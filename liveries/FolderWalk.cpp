// The walk of one scan folder: its folders are listed and every aircraft.cfg below it is read
// by the scan workers.
#include <algorithm>
#include <span>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "core/Log.h"
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

// aircraft.cfg in any case of its ASCII letters (the stem "AIRCRAFT" and the extension ".CFG").
bool lf_isAircraftCfg(std::string_view FILE_NAME)
{
    constexpr std::string_view NAME = "aircraft.cfg";
    return FILE_NAME.size() == NAME.size() && gf_containsNoCase(FILE_NAME, NAME);
}

// Whether the walk may enter the directory: no skip word below the scan folder (the scan
// folder's own path may hold one), and a path shorter than the limit.
bool lf_mayDescend(const std::filesystem::path& DIRECTORY, std::size_t FOLDER_LENGTH)
{
    const std::string& text = DIRECTORY.native();
    const std::string_view below = std::string_view(text).substr(std::min(FOLDER_LENGTH, text.size()));
    return !lf_containsAny(below, SKIP_WORDS) && text.size() < MAX_PATH_BYTES;
}

// One aircraft.cfg to read and which reader reads it.
struct CfgFile {
    std::filesystem::path::string_type path; // made a path by the worker that reads it
    bool ivao = false;
};

using CfgBatches = ScanBatches<CfgFile, LiveryList>;

struct WalkContext {
    std::string folderText;
    std::size_t folderLength = 0;
};

std::string lf_abortedText(const WalkContext& WALK, std::string_view CAUSE)
{
    return fmt::format("liveries search in {} aborted, cause: {}", WALK.folderText, CAUSE);
}

void lf_note(std::vector<WalkEntry>& OUT, std::string TEXT, bool ENDS_WALK = false)
{
    OUT.push_back(WalkEntry{WalkEntry::Kind::note, {}, 0, std::move(TEXT), ENDS_WALK});
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
    while (it != directory_iterator()) {
        const std::size_t kept = OUT.size();
        try {
            const std::filesystem::directory_entry& entry = *it;
            const std::filesystem::path& path = entry.path();
            std::error_code status;
            if (entry.is_directory(status) && !entry.is_symlink(status)) {
                if (lf_mayDescend(path, WALK.folderLength))
                    OUT.push_back(WalkEntry{WalkEntry::Kind::folder, path.native(), 0, {}, false});
            } else if (entry.is_regular_file(status) && lf_isAircraftCfg(gf_fileNameText(path))) {
                OUT.push_back(WalkEntry{WalkEntry::Kind::file, path.native(), 0, {}, false});
            }
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
}

void lf_collectOldest(CfgBatches& BATCHES, const char* WARNING)
{
    try {
        for (CfgBatches::Outcome& outcome : BATCHES.takeOldest()) {
            if (outcome.error)
                gf_logWarning(fmt::runtime(WARNING), *outcome.error);
            else
                g_scannedLiveries.splice(g_scannedLiveries.end(), outcome.result);
        }
    } catch (const ScanStopped&) {
        throw;
    } catch (const std::exception& e) {
        gf_logWarning(fmt::runtime(WARNING), e.what());
    }
}

} // namespace

void lf_searchLiveriesInFolder(int32_t FOLDER_RANK, const std::filesystem::path& FOLDER, const LiveryWalkSeams& SEAMS)
{
    ScanBatchRule rule;
    rule.maxFiles = SEAMS.filesPerWorker;
    CfgBatches batches(
        [FOLDER_RANK, ordinary = SEAMS.ordinaryReader, ivao = SEAMS.ivaoReader](const CfgFile& FILE) {
            const std::filesystem::path path(FILE.path);
            return FILE.ivao ? ivao(FOLDER_RANK, path) : ordinary(FOLDER_RANK, path);
        },
        rule, SEAMS.waitLimit, gf_stopRequested);
    const auto walk = std::make_shared<const WalkContext>(WalkContext{gf_utf16ToUtf8(FOLDER), FOLDER.native().size()});
    bool stopped = false;

    FolderWalkRules rules;
    rules.waitLimit = SEAMS.waitLimit;
    rules.stop = gf_stopRequested;
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
            const bool ivao = lf_containsAny(ENTRY.path, IVAO_MARKERS);
            if (!batches.add(CfgFile{std::move(ENTRY.path), ivao})) {
                stopped = true; // the scan is given up
                return false;
            }
            if (batches.overfull())
                lf_collectOldest(batches, "liveries inner search aborted: {}");
        } catch (const ScanStopped&) {
            throw;
        } catch (const std::exception& e) {
            gf_logWarning(lf_abortedText(*walk, e.what()));
        }
        return true;
    };
    try {
        gf_walkFolderTree(FOLDER, rules);
        if (!stopped)
            batches.startOpenBatch();
        while (!batches.empty())
            lf_collectOldest(batches, "liveries search aborted, futs outer, {}");
    } catch (const ScanStopped&) {
        // The scan is given up; its workers end on their own.
    }
}

} // namespace qmt
