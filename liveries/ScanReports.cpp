// The report lists of the livery scan, their files under output/errors and output/info, and
// the summary in the log.
#include <algorithm>
#include <system_error>

#include <fmt/format.h>

#include "core/Files.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Text.h"
#include "liveries/LiveryScan.h"
#include "liveries/Regcodes.h"

namespace qmt {

std::mutex g_scannedTitlesMutex;
std::unordered_set<std::string> g_scannedTitles;
std::mutex g_invalidAirlinesMutex;
std::list<std::string> g_invalidAirlines;
std::mutex g_invalidModelsMutex;
std::list<std::string> g_invalidModels;
std::mutex g_fixesMutex;
std::vector<std::string> g_fixes;
std::mutex g_invalidCfgFilesMutex;
std::list<std::string> g_invalidCfgFiles;
std::mutex g_incompleteSectionsMutex;
std::list<std::string> g_incompleteSections;
std::mutex g_noFltsimFilesMutex;
std::list<std::string> g_noFltsimFiles;
std::mutex g_skippedSectionsMutex;
std::list<std::string> g_skippedSections;
std::mutex g_droppedByPriorityMutex;
std::list<std::string> g_droppedByPriority;
std::mutex g_unreadFoldersMutex;
std::list<std::string> g_unreadFolders;

namespace {

constexpr std::string_view kInvalidAirlinesFile = "InvalidAirlineCodes.txt";
constexpr std::string_view kInvalidModelsFile = "InvalidAircraftCodes.txt";
constexpr std::string_view kFixesFile = "Fixes.txt";
constexpr std::string_view kInvalidCfgFilesFile = "InvalidAircraftCfgFiles.txt";
constexpr std::string_view kIncompleteSectionsFile = "IncompleFltsimSections.txt";
constexpr std::string_view kNoFltsimFile = "AircraftCfgWithNoFltsimSection.txt";
constexpr std::string_view kInlineRegcodesFile = "InlineRegcodes.txt";
constexpr std::string_view kSkippedSectionsFile = "SkippedFltsimSections.txt";
constexpr std::string_view kDroppedByPriorityFile = "DroppedByPriority.txt";
constexpr std::string_view kUnreadFoldersFile = "FoldersNotRead.txt";

template <typename CONTAINER>
void lf_append(std::mutex& MUTEX, CONTAINER& LIST, std::string_view TEXT)
{
    std::lock_guard lock(MUTEX);
    LIST.emplace_back(TEXT);
}

// A copy taken under the list's lock: workers given up after a time-out may still append.
template <typename CONTAINER>
std::vector<std::string> lf_snapshot(std::mutex& MUTEX, const CONTAINER& LIST)
{
    std::lock_guard lock(MUTEX);
    return std::vector<std::string>(LIST.begin(), LIST.end());
}

template <typename CONTAINER>
void lf_clear(std::mutex& MUTEX, CONTAINER& LIST)
{
    std::lock_guard lock(MUTEX);
    LIST.clear();
}

// Writes the lines into the folder (created when missing): the path text for the summary line,
// empty (with a warning) when the file was not written.
std::string lf_writeReport(const std::vector<std::string>& LINES, const std::filesystem::path& FOLDER,
                           std::string_view NAME)
{
    const std::filesystem::path path = FOLDER / NAME;
    std::string pathText = gf_utf16ToUtf8(path);
    std::error_code error;
    std::filesystem::create_directories(FOLDER, error);
    if (error) {
        gf_logWarning("Error writing file {}: {}", pathText, error.message());
        return {};
    }
    if (!gf_writeListToFile(LINES, path)) {
        return {}; // the writer has said why
    }
    return pathText;
}

// The same, sorted.
std::string lf_writeSortedReport(std::vector<std::string> LINES, const std::filesystem::path& FOLDER,
                                 std::string_view NAME)
{
    std::sort(LINES.begin(), LINES.end());
    return lf_writeReport(LINES, FOLDER, NAME);
}

} // namespace

void lf_liveryScanLog(std::string_view TEXT)
{
    lf_append(g_fixesMutex, g_fixes, TEXT);
}

void lf_addInvalidCfgFile(std::string_view TEXT)
{
    lf_append(g_invalidCfgFilesMutex, g_invalidCfgFiles, TEXT);
}

void lf_addIncompleteSection(std::string_view TEXT)
{
    lf_append(g_incompleteSectionsMutex, g_incompleteSections, TEXT);
}

void lf_addNoFltsimFile(std::string_view PATH_TEXT)
{
    lf_append(g_noFltsimFilesMutex, g_noFltsimFiles, PATH_TEXT);
}

void lf_addSkippedSection(std::string_view TEXT)
{
    lf_append(g_skippedSectionsMutex, g_skippedSections, TEXT);
}

void lf_addDroppedByPriority(std::string_view TEXT)
{
    lf_append(g_droppedByPriorityMutex, g_droppedByPriority, TEXT);
}

void lf_addUnreadFolder(std::string_view TEXT)
{
    lf_append(g_unreadFoldersMutex, g_unreadFolders, TEXT);
}

void lf_addInvalidAirline(std::string_view CODE, const std::filesystem::path& PATH, std::string_view HEADER)
{
    lf_append(g_invalidAirlinesMutex, g_invalidAirlines, fmt::format("{:12} in {} {}", CODE, PATH.string(), HEADER));
}

void lf_addInvalidModel(std::string_view CODE, const std::filesystem::path& PATH)
{
    lf_append(g_invalidModelsMutex, g_invalidModels, fmt::format("{:16} in {}", CODE, PATH.string()));
}

void lf_clearScanLists()
{
    lf_clear(g_invalidAirlinesMutex, g_invalidAirlines);
    lf_clear(g_invalidModelsMutex, g_invalidModels);
    lf_clear(g_fixesMutex, g_fixes);
    lf_clear(g_invalidCfgFilesMutex, g_invalidCfgFiles);
    lf_clear(g_incompleteSectionsMutex, g_incompleteSections);
    lf_clear(g_noFltsimFilesMutex, g_noFltsimFiles);
    lf_clear(g_skippedSectionsMutex, g_skippedSections);
    lf_clear(g_droppedByPriorityMutex, g_droppedByPriority);
    lf_clear(g_unreadFoldersMutex, g_unreadFolders);
    lf_clear(g_scannedTitlesMutex, g_scannedTitles);
    g_dontUseTitles.clear();
}

void lf_removePreviousScanFiles()
{
    const std::filesystem::path files[] = {
        g_infoPath / kNoFltsimFile,          g_infoPath / kSkippedSectionsFile,
        g_infoPath / kDroppedByPriorityFile, g_outputPath / kLiveriesScannedFile,
        g_errorsPath / kInlineRegcodesFile,  g_errorsPath / kInvalidAirlinesFile,
        g_errorsPath / kInvalidModelsFile,   g_errorsPath / kFixesFile,
        g_errorsPath / kInvalidCfgFilesFile, g_errorsPath / kIncompleteSectionsFile,
        g_errorsPath / kUnreadFoldersFile,
    };
    try {
        for (const std::filesystem::path& file : files)
            std::filesystem::remove(file);
        if (std::filesystem::exists(g_errorsPath))
            std::filesystem::remove(g_errorsPath); // fails while the user keeps other files there
    } catch (const std::exception& e) {
        gf_logLine("problems with removing previous files: {}", e.what());
    }
}

void lf_writeScanReport()
{
    const std::vector<std::string> airlines = lf_snapshot(g_invalidAirlinesMutex, g_invalidAirlines);
    const std::vector<std::string> models = lf_snapshot(g_invalidModelsMutex, g_invalidModels);
    const std::vector<std::string> fixes = lf_snapshot(g_fixesMutex, g_fixes);
    const std::vector<std::string> cfgFiles = lf_snapshot(g_invalidCfgFilesMutex, g_invalidCfgFiles);
    std::vector<std::string> sections = lf_snapshot(g_incompleteSectionsMutex, g_incompleteSections);
    const std::vector<std::string> noFltsim = lf_snapshot(g_noFltsimFilesMutex, g_noFltsimFiles);
    const std::vector<std::string> skipped = lf_snapshot(g_skippedSectionsMutex, g_skippedSections);
    const std::vector<std::string> dropped = lf_snapshot(g_droppedByPriorityMutex, g_droppedByPriority);
    const std::vector<std::string> folders = lf_snapshot(g_unreadFoldersMutex, g_unreadFolders);

    const bool none = airlines.empty() && models.empty() && fixes.empty() && cfgFiles.empty() && sections.empty() &&
                      folders.empty();
    gf_logLine(none ? "\nNo errors" : "\nErrors:");
    std::string written;
    if (!airlines.empty() && !(written = lf_writeSortedReport(airlines, g_errorsPath, kInvalidAirlinesFile)).empty())
        gf_logLine("{:5} invalid airline code{}, see {}", airlines.size(), gf_plural(airlines.size()), written);
    if (!models.empty() && !(written = lf_writeSortedReport(models, g_errorsPath, kInvalidModelsFile)).empty())
        gf_logLine("{:5} invalid model code{}, see {}", models.size(), gf_plural(models.size()), written);
    if (!fixes.empty() && !(written = lf_writeFixes(fixes)).empty())
        gf_logLine("{:5} fixes, see {}", fixes.size(), written);
    if (!cfgFiles.empty() && !(written = lf_writeSortedReport(cfgFiles, g_errorsPath, kInvalidCfgFilesFile)).empty())
        gf_logLine("{:5} invalid aircraft.cfg files, see {}", cfgFiles.size(), written);
    if (!sections.empty()) {
        // The summary counts every report, the file holds each section once.
        const std::size_t reported = sections.size();
        std::sort(sections.begin(), sections.end());
        sections.erase(std::unique(sections.begin(), sections.end()), sections.end());
        if (!(written = lf_writeReport(sections, g_errorsPath, kIncompleteSectionsFile)).empty())
            gf_logLine("{:5} incomplete [fltsim.x] sections, see {}", reported, written);
    }
    if (!folders.empty() && !(written = lf_writeSortedReport(folders, g_errorsPath, kUnreadFoldersFile)).empty())
        gf_logLine("{:5} folder{} not read, see {}", folders.size(), gf_plural(folders.size()), written);
    gf_logLine("\nInformation:");
    if (!noFltsim.empty() && !(written = lf_writeSortedReport(noFltsim, g_infoPath, kNoFltsimFile)).empty())
        gf_logLine("{:5} empty aircraft.cfg files, see {}", noFltsim.size(), written);
    if (!skipped.empty() && !(written = lf_writeSortedReport(skipped, g_infoPath, kSkippedSectionsFile)).empty())
        gf_logLine("{:5} [fltsim.x] section{} passed over on purpose, see {}", skipped.size(), gf_plural(skipped.size()),
                   written);
    if (!dropped.empty() && !(written = lf_writeSortedReport(dropped, g_infoPath, kDroppedByPriorityFile)).empty())
        gf_logLine("{:5} {} of a lower-ranked folder left out, see {}", dropped.size(),
                   dropped.size() == 1 ? "livery" : "liveries", written);
}

std::string lf_writeFixes(const std::vector<std::string>& FIXES)
{
    // Fixes keep the order in which they were met.
    return lf_writeReport(FIXES, g_errorsPath, kFixesFile);
}

void gf_resetLiveryScanForTests()
{
    lf_clearScanLists();
    g_scannedLiveries.clear();
}

} // namespace qmt
