#pragma once
// The add-on airport scan: finds the add-on and streamed airports in the simulator's package
// folders, links each to the archive of airport files or generates an airport file for it, keeps
// its own scan log, and collects the generated files of unknown airports into tblo.zip.
//
// Lock order: g_apfWriteMutex before g_scanLogMutex; the mutex of a folder walk (BglWalkState)
// before g_allBglFilesMutex before g_handledBglFilesMutex. g_scanLogMutex is taken last and
// alone (nothing is locked under it).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "core/Airports.h"

namespace qmt {

// Lines of the scan log, written whole to AirportsScanLog.txt at the end of a scan.
extern std::vector<std::string> g_scanLogLines;
extern std::mutex g_scanLogMutex;

// Files put into tblo.zip by the last scan, 0 when none.
extern std::atomic<std::uint32_t> g_tbloZipped;

// Every BGL file handed to a reader task in the current folder walk.
extern std::vector<std::filesystem::path> g_allBglFiles;
extern std::mutex g_allBglFilesMutex;
// The BGL files in which an airport was linked or generated.
extern std::vector<std::filesystem::path> g_handledBglFiles;
extern std::mutex g_handledBglFilesMutex;

// A BGL file whose airport the reader did not take: why, and the known code that its airport
// record named, if any.
struct BglNote {
    std::filesystem::path path;
    std::string reason;
    std::optional<IcaoCode> code;
};
// The notes of the current folder walk, for its second pass; guarded by g_handledBglFilesMutex.
extern std::vector<BglNote> g_bglNotes;
// BGL files and folders the scan left unread for want of time (a stalled read or listing): the
// scan keeps SCAN_AIRPORTS set, so that the next start scans again.
extern std::atomic<std::size_t> g_bglNotReadInTime;

// Two BGL files of one airport are read by two tasks at once and would write the same file: a
// write of a link file or generated airport file claims its path first, and a second write of
// that path waits for the first to end, while files of other airports are written at the same
// time. Guards the paths claimed; held only to claim or release one, or to create their folder.
extern std::mutex g_apfWriteMutex;

// Names that mark the simulator's own base package and the streamed packages folder.
inline constexpr std::string_view kFsBaseName = "fs-base";
inline constexpr std::string_view kStreamedPackagesFolder = "StreamedPackages";

// The whole scan (worker thread, start-up). Filesystem errors and the user error 779 (facility
// data could not be read) leave it; the connection for facility data is closed and the scan's
// lists are emptied on every way out.
void gf_scanAirports();

// Appends one line to the scan log (any thread). False when a ScanLogQuota of this thread left
// it out.
bool gf_scanLog(std::string_view TEXT);
template <typename... Args>
    requires(sizeof...(Args) > 0)
bool gf_scanLog(fmt::format_string<Args...> FORMAT, Args&&... ARGS)
{
    return gf_scanLog(std::string_view(fmt::format(FORMAT, std::forward<Args>(ARGS)...)));
}

// While it lives, the scan-log lines that its thread writes (about one file, SUBJECT) are
// bounded: past LINES they are only counted, and one last line says how many were left out.
class ScanLogQuota {
public:
    ScanLogQuota(std::string SUBJECT, std::size_t LINES);
    ~ScanLogQuota();
    ScanLogQuota(const ScanLogQuota&) = delete;
    ScanLogQuota& operator=(const ScanLogQuota&) = delete;
    // Counts one line; false when it is to be left out.
    bool take();

private:
    std::string m_subject;
    std::size_t m_lines;
    std::size_t m_written = 0;
    std::size_t m_leftOut = 0;
    ScanLogQuota* m_outer;
};

// Writes the scan log lines so far to AirportsScanLog.txt (each followed by "\n"). The lines
// are kept. False when the file could not be written.
bool gf_writeScanLogFile();

// Back to the state of a fresh start (tests).
void gf_resetAirportScanForTests();

} // namespace qmt
