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

void lf_collectOldest(ScanTasks<LiveryList>& TASKS, const char* WARNING)
{
    try {
        g_scannedLiveries.splice(g_scannedLiveries.end(), TASKS.takeOldest());
    } catch (const ScanStopped&) {
        throw;
    } catch (const std::exception& e) {
        gf_logWarning(fmt::runtime(WARNING), e.what());
    }
}

} // namespace

void lf_searchLiveriesInFolder(int32_t FOLDER_RANK, const std::filesystem::path& FOLDER, const LiveryWalkSeams& SEAMS)
{
    using std::filesystem::directory_iterator;
    ScanTasks<LiveryList> tasks(SEAMS.waitLimit, gf_stopRequested);
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
                auto reader = ivao ? SEAMS.ivaoReader : SEAMS.ordinaryReader;
                if (!tasks.start([reader, FOLDER_RANK, path] { return reader(FOLDER_RANK, path); }))
                    break; // stopped: the scan is given up
                if (tasks.overfull())
                    lf_collectOldest(tasks, "liveries inner search aborted: {}");
            } catch (const ScanStopped&) {
                throw;
            } catch (const std::exception& e) {
                gf_logWarning("liveries search in {} aborted, cause: {}", folderText, e.what());
            }
        }
        while (!tasks.empty())
            lf_collectOldest(tasks, "liveries search aborted, futs outer, {}");
    } catch (const ScanStopped&) {
        // The scan is given up; its workers end on their own.
    }
}

} // namespace qmt
