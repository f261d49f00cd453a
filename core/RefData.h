#pragma once
// The dbase reference data: registration records, airline and model code sets, model fixes,
// categories, wing spans, similar groups, registration prefixes, publishers and the archive
// lists. Filled once at start-up by gf_readDataFiles (or gf_readDbase) and read-only after
// that, so scan threads may read all of it at once.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/AcKind.h"

namespace qmt {

// One registration record: key a registration, value a whole AcKind (gf_kindValue).
struct DbaseRecord {
    std::string key;
    std::uint64_t value = 0;
};

// A thirdparty archive list entry: publisher name and texts "<ICAO> <stand count>".
struct ThirdpartyEntry {
    std::string publisher;
    std::vector<std::string> entries;
};

extern std::vector<DbaseRecord> g_dbaseRecords;         // sorted by key byte-wise
extern std::unordered_set<std::string> g_icaoAirlines;  // valid ICAO airline codes
extern std::unordered_set<std::string> g_validModels;   // valid ICAO model codes
extern std::unordered_map<std::string, std::string> g_modelFixes; // wrong model code -> fixed code
extern std::unordered_set<std::string> g_largeModels;   // category sets
extern std::unordered_set<std::string> g_heavyModels;
extern std::unordered_set<std::string> g_buzjetModels;
extern std::unordered_set<std::string> g_rotorcraftModels;
extern std::unordered_set<std::string> g_highPerfModels;
extern std::vector<double> g_halfSpans;                 // half wing span by model id, nm (0: unknown)
extern std::vector<std::vector<std::string>> g_similarGroups; // ordered model codes per group
extern std::map<std::string, std::vector<std::string>> g_regPrefixes; // prefix -> alternative prefixes
extern std::vector<std::vector<std::string>> g_publishers; // names per entry, first is the publisher
extern std::set<std::string> g_simaddon20;              // archived simaddon airports, 2020
extern std::set<std::string> g_simaddon24;              // archived simaddon airports, 2024
extern std::vector<ThirdpartyEntry> g_thirdparties20;   // archived thirdparty airports, 2020
extern std::vector<ThirdpartyEntry> g_thirdparties24;   // archived thirdparty airports, 2024

// Half span given for a model outside the wing-span table: 35 m.
// No aircraft spans more: a larger (or infinite) span in the data is left out.
inline constexpr double kLargestWingSpanM = 120.0;
inline constexpr double kDefaultHalfSpanNm = 35.0 * 0.0005399568034557236;

// Start-up: decrypts input/dbase.enc and input/airports.enc (g_inputPath), reads them into the
// tables above and g_airports, and removes the plain files again. False (with a log line) when
// any step fails. Called by the application's start-up ("reading data files failed!").
bool gf_readDataFiles();
// gf_readDataFiles once per program run: the interned airline and model ids must never change
// while the livery tables (built once per run) hold them, so a restart keeps what was read.
bool gf_readDataFilesOnce();
// Reads a plain dbase XML file; false with a log line when it cannot be read.
bool gf_readDbase(const std::filesystem::path& xmlPath);
// Empties every dbase table (and the interned code lists).
void gf_clearDbase();

bool gf_isIcaoAirline(std::string_view code);
bool gf_isValidModel(std::string_view code);
// The fixed code of a wrong model code, empty when the fixes table holds none.
std::string lf_modelFix(std::string_view code);
// Lookup spellings of a registration: for 5+ characters, not starting with 'N' and without
// '-': "XX-YYY", then "X-YYYY"; always last the registration as given.
std::vector<std::string> gf_regVariants(std::string_view registration);
// The kind of the first record matching a spelling of the registration.
std::optional<AcKind> gf_findRegRecord(std::string_view registration);
// The first record key (records' order) shorter than 6 characters that occurs in the text.
std::optional<std::string> gf_findRecordInText(std::string_view text);
AcCategory gf_modelCodeCategory(std::string_view modelCode);
AcCategory gf_modelCategory(std::uint16_t modelId);
// Alternative prefixes of a registration prefix, shuffled (g_rng) when two or more.
std::vector<std::string> gf_prefixesOf(std::string_view prefix);
// Half wing span of the model in nm; an id outside the table gives kDefaultHalfSpanNm
// (35 m) and logs "hwsp: {} what: {}" (once per model id).
double hwsp(std::uint16_t modelId);

} // namespace qmt
