#pragma once
// The steps of the add-on airport scan that its files call of each other (and tests call).

#include "airportscan/Manifest.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qmt {

struct AirportFile;
class ZipArchive;

// ---- driver ----

// The scan folders of the configured simulator: "Official" (2020) or "StreamedPackages" (2024),
// then "Community"; a folder whose install path is unknown is left out.
std::vector<std::filesystem::path> lf_scanFolderList();
// Empties the output folders, scans, reports an empty result and clears SCAN_AIRPORTS.
void lf_scanAndReport(const std::vector<std::filesystem::path>& FOLDERS);
// The scan with its log; true when my_thirdparty holds an entry afterwards.
bool lf_runAirportScan(const std::vector<std::filesystem::path>& FOLDERS);
// Hands each folder to the streamed scan or the BGL walk.
void lf_scanFolders(const std::vector<std::filesystem::path>& FOLDERS);

// ---- facility data ----

// Reads the airport's stands from the simulator and generates its airport file. An airport
// without stands gets a scan-log line; a failed read writes the scan log and throws the user
// error 779.
void lf_generateFromFacilities(AirportFile& RECORD);

// ---- BGL walk ----

// Walks one package folder: reads every BGL file that may hold an airport in a task of its own,
// then takes up the files in which no airport could be read.
void lf_scanBglFolders(const std::filesystem::path& FOLDER);
// Whether the walk of SCAN_FOLDER must neither use nor enter PATH: a path of 250 characters or
// more, or one whose part below the scan folder names an excluded package.
bool lf_isExcludedPackagePath(const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER);
// Waits until no reader task runs; false when a stop was asked for and a task still runs
// one wait limit later.
bool lf_waitForReaderTasks();
// The second pass over the BGL files without a handled airport.
void lf_readUnrecognisedBgls();
// The ICAO code of a BGL file from its stem, its package manifest (given out) or its path:
// (code, found).
std::pair<std::string, bool> lf_detectIcao(const std::filesystem::path& PATH, ManifestInfo& MANIFEST);

// ---- streamed airports ----

void lf_scanStreamedAirports(const std::filesystem::path& FOLDER);

// ---- tblo ----

void lf_copySimaddonToTblo();
void lf_copyThirdpartyToTblo();
void lf_zipTblo();
bool lf_zipFolder(const std::filesystem::path& ZIP);
bool lf_closeZip(ZipArchive& ARCHIVE, const std::filesystem::path& ZIP, std::size_t ADDED);
std::optional<std::vector<char>> lf_readFileBytes(const std::filesystem::path& PATH);

} // namespace qmt
