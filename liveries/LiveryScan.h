#pragma once
// The livery scan: finds the AI liveries installed in the simulator (the [fltsim.N] sections of
// aircraft.cfg files below the AI packages of the Community folder or the user's lfolders),
// writes LiveriesScanned.xml and the scan reports. It runs on the worker thread during
// start-up; the folders are listed and the aircraft.cfg files read by the scan's workers
// (core/ScanTasks.h).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/ScanTasks.h"
#include "liveries/Regcodes.h"
#include "liveries/ScannedLivery.h"

namespace qmt {

// ---------------------------------------------------------------------------------------------
// Shared state of one scan. The workers append under each container's own mutex; every one of
// these mutexes is a leaf (no other lock is taken while it is held). The worker thread writes,
// clears and removes after all workers of the scan were collected.

// Claimed by the walking thread in walk order (lf_claimLiveries), not by the workers.
extern std::mutex g_scannedTitlesMutex;
extern std::unordered_set<std::string> g_scannedTitles; // titles taken by a livery in this scan

extern std::mutex g_invalidAirlinesMutex;
extern std::list<std::string> g_invalidAirlines;    // InvalidAirlineCodes.txt
extern std::mutex g_invalidModelsMutex;
extern std::list<std::string> g_invalidModels;      // InvalidAircraftCodes.txt
extern std::mutex g_fixesMutex;
extern std::vector<std::string> g_fixes;            // Fixes.txt, in the order appended
extern std::mutex g_invalidCfgFilesMutex;
extern std::list<std::string> g_invalidCfgFiles;    // InvalidAircraftCfgFiles.txt
extern std::mutex g_incompleteSectionsMutex;
extern std::list<std::string> g_incompleteSections; // IncompleFltsimSections.txt
extern std::mutex g_noFltsimFilesMutex;
extern std::list<std::string> g_noFltsimFiles;      // AircraftCfgWithNoFltsimSection.txt
extern std::mutex g_skippedSectionsMutex;
extern std::list<std::string> g_skippedSections;    // SkippedFltsimSections.txt: left out on purpose
extern std::mutex g_droppedByPriorityMutex;
extern std::list<std::string> g_droppedByPriority;  // DroppedByPriority.txt: lost to a better folder
extern std::mutex g_unreadFoldersMutex;
extern std::list<std::string> g_unreadFolders;      // FoldersNotRead.txt: folders and links not walked

// ---------------------------------------------------------------------------------------------
// Report lists and files

void lf_liveryScanLog(std::string_view TEXT);      // a model fix
void lf_addInvalidCfgFile(std::string_view TEXT);
void lf_addIncompleteSection(std::string_view TEXT);
void lf_addNoFltsimFile(std::string_view PATH_TEXT);
// A section left out on purpose (a fictional livery, a don't-use title ...), with the reason.
void lf_addSkippedSection(std::string_view TEXT);
// A livery left out because a better-ranked folder has its kind.
void lf_addDroppedByPriority(std::string_view TEXT);
// A folder or link that the walk could not enter, with the reason.
void lf_addUnreadFolder(std::string_view TEXT);
// "{:12} in {} " + header
void lf_addInvalidAirline(std::string_view CODE, const std::filesystem::path& PATH, std::string_view HEADER);
// "{:16} in {}"
void lf_addInvalidModel(std::string_view CODE, const std::filesystem::path& PATH);

// Empties the report lists, the title set and the don't-use titles. Run at the start of
// every scan (a scan cut short must not leave titles that the next one takes as taken) and
// after the reports are written.
void lf_clearScanLists();
// Removes the previous scan's report files and LiveriesScanned.xml; the first failure ends the
// removal with the line "problems with removing previous files: {}".
void lf_removePreviousScanFiles();
// Writes the report files and the summary lines of the log.
void lf_writeScanReport();
// Writes Fixes.txt (the folder made when missing), the fixes in the order they were met: the
// path text for the summary line, empty (with a warning) when the file was not written.
std::string lf_writeFixes(const std::vector<std::string>& FIXES);

// ---------------------------------------------------------------------------------------------
// What the readers of one scan share

// The lists that the readers of one scan consult, taken when the scan starts and never changed
// while it runs. Each reader holds its scan's copy: one given up after a time-out may go on
// after its scan has ended and the next one has rebuilt the lists.
struct LiveryScanSnapshot {
    std::unordered_set<std::string, Fnv1aHash, std::equal_to<>> dontUseTitles;
};
using LiveryScanSnapshotPtr = std::shared_ptr<const LiveryScanSnapshot>;
// The snapshot of g_dontUseTitles (worker thread, after lf_readDontUseTitles).
LiveryScanSnapshotPtr lf_takeScanSnapshot();

// Titles longer than this are refused: no simulator title is, and the title goes on to
// LiveriesScanned.xml and into every create call.
inline constexpr std::size_t kMaxTitleCharacters = 256;

// The lines of an aircraft.cfg: views into the file's text, which the reader keeps.
using CfgLines = std::vector<std::string_view>;

// ---------------------------------------------------------------------------------------------
// Model code of a file

// Model code of an ordinary aircraft.cfg: its first icao_type_designator, else its first stock
// base container; checked against the valid models and their fixes. Empty when none (reported).
std::string lf_cfgModelCode(const std::filesystem::path& PATH, std::span<const std::string_view> LINES);
std::string lf_baseContainerModel(const std::filesystem::path& PATH, std::span<const std::string_view> LINES);
// Model code of an IVAO aircraft.cfg from its folder ...\SimObjects\Airplanes\IVAO_<model>\.
std::string lf_ivaoModelFromPath(const std::filesystem::path& PATH);

// ---------------------------------------------------------------------------------------------
// aircraft.cfg readers (run on the scan workers)

using LiveryList = std::list<ScannedLivery>;

// The liveries a reader found in one aircraft.cfg, in section order, their titles not claimed
// yet. The walk claims them on its own thread in the order in which it meets the files: of two
// files with one title the same one wins however their readers' ends fall.
struct UnclaimedLiveries {
    LiveryList liveries;
    std::vector<std::string> headers; // the [fltsim.N] line of each livery's section
    std::string folderText;           // the file's folder, for the line of a title taken already
    bool ivao = false;                // an IVAO file words that line in a form of its own
};
// Claims the titles of READ in order and returns the liveries that keep theirs. A livery whose
// title was taken already is reported "... title '{}' already exists" (IVAO: "... title already
// exists: {}") and left out; so is an incomplete one, which takes its title all the same.
LiveryList lf_claimLiveries(UnclaimedLiveries READ);

// Reads the lines of an aircraft.cfg in any encoding into LINES (TEXT keeps them; the memory of
// both is used again); false, logged and listed with the reason, when it cannot.
// WARN_NO_ENCODING: a file of unknown encoding is logged as a warning. READ (when given): the
// file's text, read already while its folder was listed; it is taken instead of reading again.
bool lf_readCfgLines(const std::filesystem::path& PATH, std::string& TEXT, CfgLines& LINES, bool WARN_NO_ENCODING,
                     std::string* READ = nullptr);
// The text and the lines of the aircraft.cfg a reader reads, in memory that each thread keeps
// for its next file: buffers of some kilobytes made and freed for every file cost the readers
// more than the text's own reading. A large file's buffers are let go when it is done.
class CfgFileBuffers {
public:
    CfgFileBuffers();
    ~CfgFileBuffers();
    CfgFileBuffers(const CfgFileBuffers&) = delete;
    CfgFileBuffers& operator=(const CfgFileBuffers&) = delete;

    std::string text;
    CfgLines lines;
};
// The indexes of the lines that hold '[' (section headers, the starts of other sections), in
// order: most lines hold none, and the readers look at these for headers instead of searching
// every line for '['.
using BracketLines = std::vector<std::uint32_t>;
// Of lines that are views into TEXT, in order, as lf_readCfgLines makes them: one search of
// the text.
BracketLines lf_bracketLines(std::string_view TEXT, std::span<const std::string_view> LINES);
// Of any lines: each line searched.
BracketLines lf_bracketLines(std::span<const std::string_view> LINES);
// Calls PROCESS with each [fltsim.N] section (its header first) in file order. A line that
// opens another section ends one: '[' in its first six characters, or anywhere with
// BRACKET_ANYWHERE; comment lines end none.
void lf_forEachFltsimSection(std::span<const std::string_view> LINES, bool BRACKET_ANYWHERE,
                             const std::function<void(CfgLines&)>& PROCESS);
void lf_forEachFltsimSection(std::span<const std::string_view> LINES, const BracketLines& BRACKETS,
                             bool BRACKET_ANYWHERE, const std::function<void(CfgLines&)>& PROCESS);
// Drops the section's trailing empty and comment lines (never its header).
void lf_trimTrailingLines(CfgLines& SECTION);
// The regcode of an atc_id value: one registration of at most 12 characters without '*';
// several give an empty one. False when an item is empty, too long or holds '*'.
bool lf_atcIdRegcode(std::string_view VALUE, std::string& REGCODE);
// Whether the title is too long to keep (more than kMaxTitleCharacters characters).
bool lf_titleTooLong(std::string_view TITLE);
// The liveries of an ordinary aircraft.cfg, in section order, their titles claimed; READ as for
// lf_readCfgLines.
LiveryList lf_searchLiveriesinFile(int32_t FOLDER_RANK, const std::filesystem::path& PATH,
                                   const LiveryScanSnapshot& SCAN, std::string* READ = nullptr);
// The same with the titles left unclaimed: the reader of the walk's workers.
UnclaimedLiveries lf_readLiveriesinFile(int32_t FOLDER_RANK, const std::filesystem::path& PATH,
                                        const LiveryScanSnapshot& SCAN, std::string* READ = nullptr);
// Whether the section numbers of the file are acceptable; a file without any section is
// accepted (and listed) but gives no livery.
bool lf_fltsimNumbers(std::span<const std::string_view> LINES, const std::filesystem::path& PATH);
bool lf_fltsimNumbers(std::span<const std::string_view> LINES, const BracketLines& BRACKETS,
                      const std::filesystem::path& PATH);
LiveryList lf_processFltSimSections(int32_t FOLDER_RANK, std::span<const std::string_view> LINES,
                                    const std::string& MODEL, const std::filesystem::path& PATH,
                                    const std::filesystem::path& FOLDER, const LiveryScanSnapshot& SCAN);

// The liveries of an IVAO aircraft.cfg (model from the folder, airline from the title); READ as
// for lf_readCfgLines.
LiveryList lf_searchLiveriesinIVAOFile(int32_t FOLDER_RANK, const std::filesystem::path& PATH,
                                       const LiveryScanSnapshot& SCAN, std::string* READ = nullptr);
// The same with the titles left unclaimed: the reader of the walk's workers.
UnclaimedLiveries lf_readLiveriesinIVAOFile(int32_t FOLDER_RANK, const std::filesystem::path& PATH,
                                            const LiveryScanSnapshot& SCAN, std::string* READ = nullptr);
LiveryList lf_processIvaoFltSimSections(int32_t FOLDER_RANK, std::span<const std::string_view> LINES,
                                        const std::string& MODEL, const std::filesystem::path& PATH,
                                        const std::filesystem::path& FOLDER, const LiveryScanSnapshot& SCAN);
ScannedLivery lf_procesIvaoFltSimSection(int32_t FOLDER_RANK, CfgLines& SECTION, const std::string& MODEL,
                                         const std::filesystem::path& PATH, const std::filesystem::path& FOLDER,
                                         const LiveryScanSnapshot& SCAN);
// Takes the title for this scan: the livery when the title was new, else an empty record.
ScannedLivery lf_newScannedLivery(int32_t FOLDER_RANK, const AcKind& KIND, const std::string& TITLE,
                                  const std::string& REGCODE);
// Copies all four fields of a livery.
void lf_copyScannedLivery(ScannedLivery& TO, const ScannedLivery& FROM);
// Whether an IVAO title begins with the model code (and "W" for the special folders), white
// space, and three word characters, which are the airline code.
bool lf_ivaoTitleAirline(std::string_view TITLE, std::string_view MODEL, bool SPECIAL, std::string& AIRLINE);

// ---------------------------------------------------------------------------------------------
// Folder walk

// The readers and the wait limit of a walk; tests replace them. A reader is given the file's
// text when the listing of its folder read it already (else nullptr: it reads the file itself),
// and leaves the titles unclaimed: the walk claims them.
struct LiveryWalkSeams {
    using Reader = std::function<UnclaimedLiveries(int32_t, const std::filesystem::path&, const LiveryScanSnapshot&,
                                                   std::string*)>;
    Reader ordinaryReader = lf_readLiveriesinFile;
    Reader ivaoReader = lf_readLiveriesinIVAOFile;
    std::chrono::milliseconds waitLimit{10000};
};

// The workers and the lists of one scan, made when it starts and kept for all of its folders.
struct LiveryScanRun {
    explicit LiveryScanRun(LiveryScanSnapshotPtr LISTS);
    // It holds the next file for the first worker that ends: a scan is mostly small files.
    ScanPool pool{g_maxBglTasks, true};
    LiveryScanSnapshotPtr lists;
    // The aircraft.cfg files whose liveries were taken into g_scannedLiveries, in the order
    // taken, with the number of liveries of each, for the report of liveries that the priority
    // rule leaves out (walking thread only).
    struct FileLiveries {
        std::size_t count = 0;
        std::filesystem::path::string_type file;
    };
    std::vector<FileLiveries> files;
    // Files and folders left unread for want of time (a stalled read or listing): the scan is
    // to run again at the next start (walking thread only).
    std::size_t unread = 0;
};

// Walks the folder (its sub-folders listed by the scan's workers ahead of the walk), reads each
// aircraft.cfg as a task of its own on them and appends the liveries to g_scannedLiveries in
// the order in which a plain depth-first walk meets the files, their titles claimed in that
// order too. Logs what goes wrong; throws nothing.
void lf_searchLiveriesInFolder(int32_t FOLDER_RANK, const std::filesystem::path& FOLDER, LiveryScanRun& RUN,
                               const LiveryWalkSeams& SEAMS = {});

// ---------------------------------------------------------------------------------------------
// Scan driver

// The AI traffic packages of automatic mode.
enum class AiPackage { AIG, FSLTL, JF, MTL, user };

// The livery scan as the start-up runs it; clears SCAN_LIVERIES after it, unless it was stopped
// or left files or folders unread for want of time (the next start scans again). Throws
// UserErrorException 43, 48, 53, 143, 243 for what the user must act on.
void gf_scanLiveries();
// Appends the selected packages' folders, then the user package's, to the list; throws
// std::runtime_error "AI_PACKAGE_SELECTOR not set" for a text that is none of the choices.
void lf_autoDetectAIPackages(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS);
void lf_scanAigPackage(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS);
void lf_scanFsltlPackage(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS);
void lf_scanJfPackage(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS);
void lf_scanMtlPackage(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS);
void lf_scanUserAitraffic(const std::filesystem::path& COMMUNITY, std::vector<std::filesystem::path>& FOLDERS);
// Manual mode: the lfolder settings that are set; throws UserErrorException 243 for a missing path.
void lf_checkLfolders(std::vector<std::filesystem::path>& FOLDERS);
// Scans the folders in rank order; true when liveries were found or a stop was asked for.
// UNREAD (when given) is set to the number of files and folders left unread for want of time.
bool lf_scanLiveryFolders(const std::vector<std::filesystem::path>& FOLDERS, const LiveryWalkSeams& SEAMS = {},
                          std::size_t* UNREAD = nullptr);

// Puts every scan list back to empty (tests).
void gf_resetLiveryScanForTests();

} // namespace qmt
