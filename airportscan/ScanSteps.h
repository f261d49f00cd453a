#pragma once
// The steps of the add-on airport scan that its files call of each other (and tests call).

#include "airportscan/Manifest.h"
#include "core/Airports.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qmt {

struct AirportFile;
struct BglResult;
class ZipArchive;
class ScanPool;
class BglWalkState;

// ---- driver ----

// The reader of one BGL file for a walk (tests give one that hangs, as on a drive that stopped
// answering).
using BglReader = std::function<void(const std::filesystem::path& PATH, const BglWalkState* WALK)>;

// The scan folders of the configured simulator: "Official" (2020) or "StreamedPackages" (2024),
// then "Community"; a folder whose install path is unknown is left out.
std::vector<std::filesystem::path> lf_scanFolderList();
// Scans into new output folders, which replace the old ones when the scan ends (a stopped or failed
// scan leaves the last whole scan's files), reports an empty result and clears SCAN_AIRPORTS, unless
// the scan was stopped or left files or folders unread for want of time.
void lf_scanAndReport(const std::vector<std::filesystem::path>& FOLDERS, const BglReader& READ = {});
// The scan with its log; true when my_thirdparty holds an entry afterwards.
bool lf_runAirportScan(const std::vector<std::filesystem::path>& FOLDERS, const BglReader& READ = {});
// Hands each folder to the streamed scan or the BGL walk.
void lf_scanFolders(const std::vector<std::filesystem::path>& FOLDERS, ScanPool& POOL, const BglReader& READ = {});

// ---- output folders ----

// Where the scan writes the files of FOLDER (my_simaddon or my_thirdparty): the folder made new
// for the running scan, which takes FOLDER's place at its end; FOLDER itself outside a scan.
std::filesystem::path lf_scanOutputFolder(const std::filesystem::path& FOLDER);
// Writes a link file or generated airport file: into a folder made new for the running scan by
// its one writer thread, straight, else at once through the crash-safe writer. A failure is a
// warning in the log and FAILURE_LINE in the scan log.
void lf_writeScanOutput(std::string BYTES, const std::filesystem::path& FILE, std::string FAILURE_LINE);
// Removes such a file, after what was handed to the writer before.
void lf_removeScanOutput(const std::filesystem::path& FILE);
// Waits until the files handed to the writer are written (before the folders are read).
void lf_scanOutputsWritten();

// ---- facility data ----

// Reads the airport's stands from the simulator and generates its airport file. An airport
// without stands, or one whose data the simulator refuses or does not send in time, gets a
// scan-log line naming SOURCE (its BGL file or package); a missing connection writes the scan
// log and throws the user error 779. SOURCE lies below SCAN_FOLDER, which orders its package.
void lf_generateFromFacilities(AirportFile& RECORD, const std::filesystem::path& SOURCE,
                               const std::filesystem::path& SCAN_FOLDER);

// ---- BGL walk ----

// One folder walk, shared with the reader tasks that it starts: its scan folder, and whether it
// still takes their results. Its second pass waits a bounded time for the readers and then
// closes it: a reader that ends later changes nothing.
class BglWalkState {
public:
    explicit BglWalkState(std::filesystem::path FOLDER) : m_folder(std::move(FOLDER)) {}
    const std::filesystem::path& folder() const { return m_folder; }
    bool closed() const;
    // Registers a reader's result (lf_registerBglResult) unless the walk is closed.
    void finish(BglResult RESULT) const;
    // Waits until COUNT readers have finished, at most LIMIT and not past a stop request, and
    // closes the walk. True when all of them finished.
    bool close(std::size_t COUNT, std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP) const;

private:
    std::filesystem::path m_folder;
    mutable std::mutex m_mutex;  // guards the two below; taken before g_allBglFilesMutex
    mutable std::condition_variable m_finishedOne;
    mutable std::size_t m_finished = 0;
    mutable bool m_closed = false;
};

// The layout.json files of the packages of one scan folder: which BGL files the simulator loads.
// Used by the walking thread only.
class PackageLayouts {
public:
    explicit PackageLayouts(std::filesystem::path SCAN_FOLDER) : m_scanFolder(std::move(SCAN_FOLDER)) {}
    // True unless FILE's package has a layout.json that does not list it. A layout.json that
    // cannot be read is logged once and lists every file.
    bool lists(const std::filesystem::path& FILE);

private:
    struct Layout {
        std::filesystem::path root;
        std::vector<std::string> files;  // lower-cased, '/' separated, sorted
    };
    std::shared_ptr<const Layout> layoutOf(const std::filesystem::path& FOLDER, int DEPTH);

    std::filesystem::path m_scanFolder;
    std::unordered_map<std::string, std::shared_ptr<const Layout>> m_folders;  // null: no layout
};

// The BGL paths that a layout.json lists, lower-cased with '/' separators; throws the JSON
// library's parse error for text that is not JSON.
std::vector<std::string> lf_parseLayoutJson(std::string_view TEXT);

// Walks one package folder: reads every BGL file that may hold an airport in a task of its own on
// the scan's workers (with READ), then takes up the files in which no airport could be read.
void lf_scanBglFolders(const std::filesystem::path& FOLDER, ScanPool& POOL, const BglReader& READ = {});
// Whether the walk of SCAN_FOLDER must neither use nor enter PATH: a path of 250 characters or
// more, or one whose part below the scan folder names an excluded package.
bool lf_isExcludedPackagePath(const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER);
// The second pass over the BGL files of the (closed) walk of SCAN_FOLDER without a handled
// airport. HANDED_OUT: every file handed to a reader; those without a result were not read in
// time and are named as such.
void lf_readUnrecognisedBgls(const std::filesystem::path& SCAN_FOLDER,
                             const std::vector<std::filesystem::path>& HANDED_OUT);
// The ICAO code of a BGL file from the ident of its airport record (RECORD_CODE), its stem, its
// package manifest (given out) or its path below SCAN_FOLDER: (code, found).
std::pair<std::string, bool> lf_detectIcao(const std::filesystem::path& PATH, ManifestInfo& MANIFEST,
                                           const std::filesystem::path& SCAN_FOLDER = {},
                                           const std::optional<IcaoCode>& RECORD_CODE = std::nullopt);

// ---- streamed airports ----

void lf_scanStreamedAirports(const std::filesystem::path& FOLDER);

// ---- tblo ----

void lf_copySimaddonToTblo();
// The steps after the walks use the same workers, which check and compress the files.
void lf_copyThirdpartyToTblo(ScanPool& POOL);
void lf_zipTblo(ScanPool& POOL);
bool lf_zipFolder(const std::filesystem::path& ZIP, ScanPool& POOL);
bool lf_closeZip(ZipArchive& ARCHIVE, const std::filesystem::path& ZIP, std::size_t ADDED);
std::optional<std::vector<char>> lf_readFileBytes(const std::filesystem::path& PATH);

} // namespace qmt
