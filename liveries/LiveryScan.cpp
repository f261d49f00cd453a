// The livery scan driver: which folders are scanned, in which order, and what is kept.
#include <algorithm>
#include <unordered_map>
#include <system_error>

#include <fmt/format.h>

#include "liveries/LiveryScan.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/ScanTasks.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "core/UserError.h"
#include "core/WindowState.h"
#include "liveries/Regcodes.h"
#include "simlink/Install.h"

namespace qmt {
namespace {

constexpr int16_t kMaxFolderRank = 10;

// How automatic mode finds each package among the entries of the Community folder, and the
// package's scanner.
struct AiPackageRow {
    AiPackage package;
    std::string_view name; // as in the AI_PACKAGE_SELECTOR choices
    std::string_view marks[2];
    std::string_view logLine;
    void (*scanner)(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS);
};

constexpr AiPackageRow PACKAGE_TABLE[] = {
    {AiPackage::AIG, "AIG", {"aig-aitraffic-oci", {}}, "Automatic AIG scan found folder: '{}'", &lf_scanAigPackage},
    {AiPackage::FSLTL, "FSLTL", {"fsltl-traffic-base", {}}, "Automatic FSLTL scan found folder: '{}'",
     &lf_scanFsltlPackage},
    {AiPackage::JF,
     "JF",
     {"justflight-aircraft-traffic-fleet", "justflight-fstraffic-module"},
     "Automatic JF scan found folder: '{}'",
     &lf_scanJfPackage},
    {AiPackage::MTL, "MTL", {"IVAO_MTL", {}}, "Automatic IVAO_MTL scan found folder: '{}'", &lf_scanMtlPackage},
    {AiPackage::user, "user", {"user-aitraffic", {}}, "Automatic user-aitraffic scan found folder: '{}'",
     &lf_scanUserAitraffic},
};

// The name of a Community entry: its last component, trailing separators skipped.
std::string lf_entryName(const std::filesystem::path& PATH)
{
    std::filesystem::path p = PATH;
    while (!p.empty() && p.filename().empty() && p.has_parent_path() && p.parent_path() != p)
        p = p.parent_path();
    return p.filename().string();
}

bool lf_qualifies(const AiPackageRow& ROW, std::string_view NAME)
{
    if (NAME.find("_CVT_") != std::string_view::npos)
        return false;
    return std::any_of(std::begin(ROW.marks), std::end(ROW.marks), [NAME](std::string_view MARK) {
        return !MARK.empty() && NAME.find(MARK) != std::string_view::npos;
    });
}

// The first qualifying entry of the Community folder, in listing order.
void lf_scanPackage(AiPackage PACKAGE, const std::filesystem::path& COMMUNITY,
                    std::vector<std::filesystem::path>& FOLDERS)
{
    const AiPackageRow& row = PACKAGE_TABLE[static_cast<int>(PACKAGE)];
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(COMMUNITY)) {
        if (lf_qualifies(row, lf_entryName(entry.path()))) {
            gf_logLine(fmt::runtime(row.logLine), gf_utf16ToUtf8(entry.path()));
            FOLDERS.push_back(entry.path());
            return;
        }
    }
}

// With LIG_PRIORITIZE: of each kind (airline, operator, model) only the liveries of the
// best-ranked folder that has it remain; each one left out is listed with its file and the
// folder that won.
void lf_keepBestRankedFolders(const std::vector<std::filesystem::path>& RANK_FOLDERS, const LiveryScanRun& RUN)
{
    const auto [lowest, highest] = std::minmax_element(
        g_scannedLiveries.begin(), g_scannedLiveries.end(),
        [](const ScannedLivery& A, const ScannedLivery& B) { return A.folderRank < B.folderRank; });
    if (lowest == g_scannedLiveries.end() || lowest->folderRank == highest->folderRank)
        return; // all of one folder: none is left out
    const auto kindKey = [](const AcKind& KIND) {
        return std::uint64_t{KIND.airlineId} << 32 | std::uint64_t{KIND.operatorId} << 16 | KIND.modelId;
    };
    std::unordered_map<std::uint64_t, int16_t> bestRank;
    for (const ScannedLivery& L : g_scannedLiveries) {
        auto [it, inserted] = bestRank.try_emplace(kindKey(L.kind), L.folderRank);
        if (!inserted)
            it->second = std::min(it->second, L.folderRank);
    }
    const auto folderText = [&RANK_FOLDERS](int16_t RANK) {
        const std::size_t index = static_cast<std::size_t>(std::max<int16_t>(RANK, 1) - 1);
        return index < RANK_FOLDERS.size() ? gf_utf16ToUtf8(RANK_FOLDERS[index]) : std::string();
    };
    // The files' liveries lie in the list one file after the other, in the order taken.
    auto file = RUN.files.begin();
    std::size_t leftOfFile = file != RUN.files.end() ? file->count : 0;
    for (auto it = g_scannedLiveries.begin(); it != g_scannedLiveries.end();) {
        while (leftOfFile == 0 && file != RUN.files.end() && ++file != RUN.files.end())
            leftOfFile = file->count;
        const LiveryScanRun::FileLiveries* fileOfLivery = leftOfFile > 0 ? &*file : nullptr;
        if (leftOfFile > 0)
            --leftOfFile;
        const ScannedLivery& L = *it;
        const int16_t best = bestRank.at(kindKey(L.kind));
        if (L.folderRank <= best) {
            ++it;
            continue;
        }
        const std::string operatorText = L.kind.operatorId != 0 ? "," + gf_airlineCode(L.kind.operatorId) : "";
        lf_addDroppedByPriority(fmt::format(
            "'{}' [{}{} {}] in {} left out: {} has liveries of this kind", L.title, gf_airlineCode(L.kind.airlineId),
            operatorText, gf_modelCode(L.kind.modelId),
            fileOfLivery != nullptr ? std::filesystem::path(fileOfLivery->file).string() : folderText(L.folderRank),
            folderText(best)));
        it = g_scannedLiveries.erase(it);
    }
}

// Scans the folders in rank order into g_scannedLiveries on the scan's workers; the folder of
// each rank is added to RANK_FOLDERS. False when a stop was asked for.
bool lf_scanRankedFolders(const std::vector<std::filesystem::path>& FOLDERS, const LiveryWalkSeams& SEAMS,
                          LiveryScanRun& RUN, std::vector<std::filesystem::path>& RANK_FOLDERS)
{
    std::size_t total = 0;
    for (const std::filesystem::path& folder : FOLDERS) {
        if (folder.empty())
            continue;
        const std::string folderText = gf_utf16ToUtf8(folder);
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(folder, error);
        if (error && status.type() != std::filesystem::file_type::not_found) {
            // A link that loops or a folder that cannot be asked about costs that folder only.
            const std::string why = fmt::format("{} cannot be read, skipped: {}", folderText, error.message());
            gf_logWarning(why);
            lf_addUnreadFolder(why);
            continue;
        }
        if (!std::filesystem::exists(status)) {
            gf_logLine("{} does not exist, skipped!", folderText);
            continue;
        }
        if (!std::filesystem::is_directory(status)) {
            gf_logLine("{} is not a folder name, skipped!", folderText);
            continue;
        }
        if (RANK_FOLDERS.size() < static_cast<std::size_t>(kMaxFolderRank))
            RANK_FOLDERS.push_back(folder);
        if (gf_stopRequested())
            return false;
        const std::size_t before = g_scannedLiveries.size();
        lf_searchLiveriesInFolder(static_cast<int32_t>(RANK_FOLDERS.size()), folder, RUN, SEAMS);
        const std::size_t found = g_scannedLiveries.size() - before;
        const std::string where = fmt::format("found in {}", folderText);
        if (found < 1)
            gf_logLine("No liveries {}", where);
        else
            gf_logLine("{} liverie{} {}", found, gf_plural(found), where);
        total += found;
    }
    if (gf_stopRequested())
        return false;
    if (FOLDERS.size() > 1 && !g_scannedLiveries.empty())
        gf_logLine("{} in total", total);
    return true;
}

// The reports of a scan that ends: written also when it found nothing or failed, so that the
// user sees why.
void lf_endScanWithReport()
{
    lf_writeScanReport();
    lf_clearScanLists();
    gf_clearStatus();
}

} // namespace

void lf_scanAigPackage(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS)
{
    lf_scanPackage(AiPackage::AIG, COMMUNITY, FOLDERS);
}

void lf_scanFsltlPackage(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS)
{
    lf_scanPackage(AiPackage::FSLTL, COMMUNITY, FOLDERS);
}

void lf_scanJfPackage(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS)
{
    lf_scanPackage(AiPackage::JF, COMMUNITY, FOLDERS);
}

void lf_scanMtlPackage(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS)
{
    lf_scanPackage(AiPackage::MTL, COMMUNITY, FOLDERS);
}

void lf_scanUserAitraffic(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS)
{
    lf_scanPackage(AiPackage::user, COMMUNITY, FOLDERS);
}

void lf_autoDetectAIPackages(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS)
{
    const std::optional<std::size_t> index = AI_PACKAGE_SELECTOR.currentIndex();
    if (!index)
        throw std::runtime_error(fmt::format("{} not set", AI_PACKAGE_SELECTOR.name()));
    // The choice text names the packages in scan order.
    for (const std::string& name : gf_splitCommaTrim(AI_PACKAGE_SELECTOR.choices()[*index])) {
        const auto row = std::find_if(std::begin(PACKAGE_TABLE), std::end(PACKAGE_TABLE),
                                      [&name](const AiPackageRow& ROW) { return ROW.name == name; });
        if (row != std::end(PACKAGE_TABLE) && row->package != AiPackage::user)
            row->scanner(COMMUNITY, FOLDERS);
    }
    lf_scanUserAitraffic(COMMUNITY, FOLDERS);
}

void lf_checkLfolders(std::vector<std::filesystem::path>& FOLDERS)
{
    for (const StringCtrlParameter& lfolder : LFOLDERS) {
        if (lfolder.value().empty())
            continue;
        const std::filesystem::path path(lfolder.value());
        std::error_code error;
        // A path that cannot be asked about (a link that loops) is taken: the scan names it.
        if (!std::filesystem::exists(path, error) && !error) {
            gf_logWarning("{}: '{}' does not exist", lfolder.name(), lfolder.value());
            throw UserErrorException(
                243, fmt::format("the path pointed to by parameter '{}' does not exist, see Log.txt!", lfolder.name()));
        }
        FOLDERS.push_back(path);
    }
}

LiveryScanSnapshotPtr lf_takeScanSnapshot()
{
    auto snapshot = std::make_shared<LiveryScanSnapshot>();
    snapshot->dontUseTitles.insert(g_dontUseTitles.begin(), g_dontUseTitles.end());
    return snapshot;
}

bool lf_scanLiveryFolders(const std::vector<std::filesystem::path>& FOLDERS, const LiveryWalkSeams& SEAMS,
                          std::size_t* UNREAD)
{
    // Workers of an earlier scan must not take titles of this one; those given up read that
    // scan's own lists and are not waited for again.
    if (!gf_waitForBglTasks(SEAMS.waitLimit, false))
        gf_logWarning("{} scan workers of an earlier scan still run", g_runningBglTasks.load());
    lf_clearScanLists();
    g_scannedLiveries.clear();
    lf_removePreviousScanFiles();
    lf_readDontUseTitles();

    // The scan's workers start once, for all of its folders.
    LiveryScanRun run(lf_takeScanSnapshot());
    std::vector<std::filesystem::path> rankFolders;
    try {
        const bool ended = lf_scanRankedFolders(FOLDERS, SEAMS, run, rankFolders);
        if (UNREAD != nullptr)
            *UNREAD = run.unread;
        if (!ended)
            return true; // stopped: no file, no report
    } catch (...) {
        lf_endScanWithReport();
        throw;
    }
    if (g_scannedLiveries.empty()) {
        lf_endScanWithReport();
        gf_windowSetLiveryCount(0);
        gf_repaintWindow();
        return false;
    }
    if (LIG_PRIORITIZE.value())
        lf_keepBestRankedFolders(rankFolders, run);
    gf_sortAndDedupScannedLiveries();
    std::string failure;
    const bool written = lf_writeLiveriesScanned(failure);
    g_scannedLiveries.clear();
    lf_endScanWithReport();
    if (!written) {
        // The scan has not succeeded: SCAN_LIVERIES stays set, so the next start scans again.
        const std::string message = fmt::format("{} could not be saved ({}), the liveries will be scanned "
                                                "again at the next start",
                                                gf_utf16ToUtf8(gf_liveriesScannedPath()), failure);
        gf_logWarning(message);
        throw UserErrorException(99, message);
    }
    return true;
}

void gf_scanLiveries()
{
    const bool automatic = LIG_AUTOMATIC.value();
    gf_enableControl(AI_PACKAGE_SELECTOR, false);
    gf_setStatus(fmt::format("Scanning {}for liveries ...", LIG_PRIORITIZE.value() ? "prioritized " : ""));
    gf_logLine("\n++++++++++++++++++++++++ liveries scan {} starts ++++++++++++++++++++++++++++++++",
               automatic ? "automatic" : "manual");

    std::vector<std::filesystem::path> folders;
    folders.reserve(10);
    if (automatic) {
        const std::filesystem::path community = gf_installSubfolder("Community");
        if (!community.empty())
            lf_autoDetectAIPackages(community, folders);
    } else {
        lf_checkLfolders(folders);
    }
    if (folders.empty()) {
        if (automatic) {
            gf_enableControl(AI_PACKAGE_SELECTOR);
            throw UserErrorException(43, "Automatic scan has not found any AI packages, choose a different selection "
                                         "(or go to Manual mode, see Manual 5.2)");
        }
        // The shell opens the manual and the settings folder for this one.
        throw UserErrorException(
            48, "Exit Quillon first!   Then set one or more lfolder parameters to your liveries, see Manual 5.2");
    }
    std::size_t unread = 0;
    if (!lf_scanLiveryFolders(folders, {}, &unread)) {
        if (!automatic)
            throw UserErrorException(53, "no liveries found");
        gf_enableControl(AI_PACKAGE_SELECTOR);
        throw UserErrorException(143, "Automatic scan has not found any liveries, choose a different selection, "
                                      "or switch off automatic and set lfolder parameter(-s)");
    }
    gf_enableControl(AI_PACKAGE_SELECTOR);
    if (gf_stopRequested()) {
        // A scan cut short found only part of the liveries: the next start scans again.
        gf_logLine("The livery scan was stopped before its end; it runs again at the next start");
        return;
    }
    if (unread > 0) {
        gf_logWarning("{} file{} or folder{} could not be read in time (see the reports); the liveries will be "
                      "scanned again at the next start",
                      unread, gf_plural(unread), gf_plural(unread));
    } else {
        SCAN_LIVERIES.set(false);
        gf_saveBoolParameter(SCAN_LIVERIES);
        gf_checkControl(SCAN_LIVERIES.name(), SCAN_LIVERIES.value());
    }
    gf_repaintWindow();
    gf_logLine("\n++++++++++++++++++++++++ liveries scan ends ++++++++++++++++++++++++++++++++\n");
    gf_flushLog();
}

} // namespace qmt
