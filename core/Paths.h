#pragma once
// File and folder names of the program and the paths joined from them.
// The names are constants; the paths are globals joined once by gf_setWorkFolder at start-up
// (tests call it with a temporary folder). Paths are read-only after start-up.

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace qmt {

// ---- folder names (joined below the working folder) ----
inline constexpr std::string_view kInputFolder = "input";
inline constexpr std::string_view kOutputFolder = "output";
inline constexpr std::string_view kInfoFolder = "info";       // below "output"
inline constexpr std::string_view kErrorsFolder = "errors";   // below "output"
inline constexpr std::string_view kAirportsFolder = "airports";
inline constexpr std::string_view kMySimaddonFolder = "my_simaddon";     // below "airports"
inline constexpr std::string_view kMyThirdpartyFolder = "my_thirdparty"; // below "airports"
inline constexpr std::string_view kLearnedFolder = "learned";             // below "airports"
inline constexpr std::string_view kTbloFolder = "tblo";
inline constexpr std::string_view kMyRegcodesFolder = "my_regcodes";     // below "input"
inline constexpr std::string_view kOrigDestFolder = "orig_dest";         // flight plan files

// ---- file names ----
inline constexpr std::string_view kLogFile = "Log.txt";
inline constexpr std::string_view kParametersFile = "parameters.xml";
inline constexpr std::string_view kDbaseEncFile = "dbase.enc";
inline constexpr std::string_view kDbaseXmlFile = "dbase.xml";
inline constexpr std::string_view kAirportsEncFile = "airports.enc";
inline constexpr std::string_view kAirportsXmlFile = "airports.xml";
inline constexpr std::string_view kAigRegcodesEncFile = "AIG-regcodes.enc";
inline constexpr std::string_view kAigRegcodesXmlFile = "AIG-regcodes.xml";
inline constexpr std::string_view kLiveriesScannedFile = "LiveriesScanned.xml";
inline constexpr std::string_view kAirportsScanLogFile = "AirportsScanLog.txt";
inline constexpr std::string_view kObjectIdListFile = "ObjectIdList.txt";
inline constexpr std::string_view kMyParkAirportsFile = "my_park_airports.txt";
inline constexpr std::string_view kTbloZipFile = "tblo.zip";
inline constexpr std::string_view kParkAirportFile = "park_airport.xml"; // below "airports"
inline constexpr std::string_view kDestAirportFile = "airport.xml";      // in the working folder

// The longest path the platform this program is for accepts (its extended-length form, in
// characters; a path from outside with more bytes than this is refused).
inline constexpr std::size_t kMaxPathChars = 32767;

// ---- paths, joined by gf_setWorkFolder ----
extern std::filesystem::path g_workPath;         // the working folder (holds Log.txt and tblo)
extern std::filesystem::path g_inputPath;        // work/input: the encrypted data files
extern std::filesystem::path g_outputPath;       // work/output
extern std::filesystem::path g_infoPath;         // work/output/info
extern std::filesystem::path g_errorsPath;       // work/output/errors
extern std::filesystem::path g_airportsPath;     // work/airports
extern std::filesystem::path g_mySimaddonPath;   // work/airports/my_simaddon
extern std::filesystem::path g_myThirdpartyPath; // work/airports/my_thirdparty
extern std::filesystem::path g_learnedPath;      // work/airports/learned
extern std::filesystem::path g_tbloPath;         // work/tblo
extern std::filesystem::path g_tbloZipPath;      // work/tblo/tblo.zip
extern std::filesystem::path g_scanLogPath;      // work/output/info/AirportsScanLog.txt
extern std::filesystem::path g_myRegcodesPath;   // work/input/my_regcodes
extern std::filesystem::path g_origDestPath;     // work/orig_dest
extern std::filesystem::path g_logFilePath;      // work/Log.txt
extern std::filesystem::path g_configPath;       // folder of parameters.xml (default: working folder)
extern std::filesystem::path g_parametersPath;   // config/parameters.xml

// Joins every path above below the given working folder; the config folder becomes the
// working folder too unless gf_setConfigFolder is called afterwards.
void gf_setWorkFolder(const std::filesystem::path& workFolder);
// Moves parameters.xml to another folder (the user's roaming settings folder).
void gf_setConfigFolder(const std::filesystem::path& configFolder);
// Points the input folder elsewhere (the build's generated input folder).
void gf_setInputFolder(const std::filesystem::path& inputFolder);
// Creates the missing working folders (input, output, info, errors, airports and its
// subfolders, tblo, orig_dest); false when one cannot be created.
bool gf_createWorkFolders();

} // namespace qmt
