// The walk of one scan folder: every aircraft.cfg below it is read by a scan worker.
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

// aircraft.cfg in any case of its ASCII letters.
bool lf_isAircraftCfg(const std::filesystem::path& PATH)
{
    return gf_upper(PATH.stem().string()) == "AIRCRAFT" && gf_upper(PATH.extension().string()) == ".CFG";
}

// Whether the walk may enter the directory: no skip word below the scan folder (the scan
// folder's own path may hold one), and a path shorter than the limit.
bool lf_mayDescend(const std::filesystem::path& DIRECTORY, std::size_t FOLDER_LENGTH)
{
    const std::string& text = DIRECTORY.native();
    const std::string_view below = std::string_view(text).substr(std::min(FOLDER_LENGTH, text.size()));
    return !lf_containsAny(below, SKIP_WORDS) && text.size() < MAX_PATH_BYTES;
}

using Reader = std::function<LiveryList(int32_t, const std::filesystem::path&)>;

// What one worker reads: a few files, so that a thread is started per batch and not per file
// (starting and ending a thread costs far more than reading one aircraft.cfg).
struct FileBatch {
    std::vector<std::pair<Reader, std::filesystem::path>> files;
};

// The liveries of a batch in file order, and the exception text of each file whose reader threw
// (that file's liveries are lost, the others' are kept).
struct BatchResult {
    LiveryList liveries;
    std::vector<std::string> errors;
};

BatchResult lf_readBatch(int32_t FOLDER_RANK, const FileBatch& BATCH)
{
    BatchResult result;
    for (const auto& [reader, path] : BATCH.files) {
        try {
            result.liveries.splice(result.liveries.end(), reader(FOLDER_RANK, path));
        } catch (const std::exception& e) {
            result.errors.emplace_back(e.what());
        } catch (...) {
            result.errors.emplace_back("unknown exception");
        }
    }
    return result;
}

void lf_collectOldest(ScanTasks<BatchResult>& TASKS, const char* WARNING)
{
    try {
        BatchResult result = TASKS.takeOldest();
        g_scannedLiveries.splice(g_scannedLiveries.end(), result.liveries);
        for (const std::string& error : result.errors)
            gf_logWarning(fmt::runtime(WARNING), error);
    } catch (const ScanStopped&) {
        throw;
    } catch (const std::exception& e) {
        gf_logWarning(fmt::runtime(WARNING), e.what());
    }
}

// Starts a worker for the batch (emptied); false when a stop came first.
bool lf_startBatch(ScanTasks<BatchResult>& TASKS, int32_t FOLDER_RANK, FileBatch& BATCH)
{
    if (BATCH.files.empty())
        return true;
    FileBatch taken;
    taken.files.swap(BATCH.files);
    if (!TASKS.start([FOLDER_RANK, batch = std::move(taken)] { return lf_readBatch(FOLDER_RANK, batch); }))
        return false;
    if (TASKS.overfull())
        lf_collectOldest(TASKS, "liveries inner search aborted: {}");
    return true;
}

} // namespace

void lf_searchLiveriesInFolder(int32_t FOLDER_RANK, const std::filesystem::path& FOLDER, const LiveryWalkSeams& SEAMS)
{
    using std::filesystem::directory_iterator;
    ScanTasks<BatchResult> tasks(SEAMS.waitLimit, gf_stopRequested);
    FileBatch batch;
    bool stopped = false;
    const std::string folderText = gf_utf16ToUtf8(FOLDER);
    const std::size_t folderLength = FOLDER.native().size();

    // The walk keeps its own stack of open folders, so that one unreadable folder is skipped
    // instead of ending the walk of everything after it.
    std::vector<directory_iterator> open;
    std::error_code error;
    open.emplace_back(FOLDER, error);
    if (error) {
        gf_logWarning("liveries search in {} aborted, cause: {}", folderText, error.message());
        return;
    }
    try {
        while (!open.empty()) {
            if (open.back() == directory_iterator()) {
                open.pop_back();
                continue;
            }
            const std::filesystem::directory_entry entry = *open.back();
            open.back().increment(error);
            if (error) {
                gf_logWarning("liveries search in {} aborted, cause: {}", folderText, error.message());
                break;
            }
            try {
                const std::filesystem::path& path = entry.path();
                std::error_code status;
                if (entry.is_directory(status) && !entry.is_symlink(status)) {
                    if (!lf_mayDescend(path, folderLength))
                        continue;
                    directory_iterator child(path, status);
                    if (status == std::errc::permission_denied) {
                        gf_logWarning("folder {} cannot be read, skipped: {}", gf_utf16ToUtf8(path), status.message());
                        continue;
                    }
                    if (status)
                        throw std::filesystem::filesystem_error("directory_iterator", path, status);
                    open.push_back(std::move(child));
                    continue;
                }
                if (!entry.is_regular_file(status) || !lf_isAircraftCfg(path))
                    continue;
                const bool ivao = lf_containsAny(path.native(), IVAO_MARKERS);
                batch.files.emplace_back(ivao ? SEAMS.ivaoReader : SEAMS.ordinaryReader, path);
                if (batch.files.size() >= std::max<std::size_t>(SEAMS.filesPerWorker, 1) &&
                    !lf_startBatch(tasks, FOLDER_RANK, batch)) {
                    stopped = true; // the scan is given up
                    break;
                }
            } catch (const ScanStopped&) {
                throw;
            } catch (const std::exception& e) {
                gf_logWarning("liveries search in {} aborted, cause: {}", folderText, e.what());
            }
        }
        if (!stopped)
            lf_startBatch(tasks, FOLDER_RANK, batch);
        while (!tasks.empty())
            lf_collectOldest(tasks, "liveries search aborted, futs outer, {}");
    } catch (const ScanStopped&) {
        // The scan is given up; its workers end on their own.
    }
}

} // namespace qmt
