#pragma once

// Lookup tables built once per program run from LiveriesScanned.xml, searched by the livery
// matching for every aircraft that is spawned. Titles are owned once, by g_liveryTable; every
// other table holds views of them. All tables belong to the worker thread and take no lock.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qmt {

// One livery of g_liveryTable.
struct LiveryEntry {
    std::string title; // owned, shrunk to fit
    bool cargo = false;
};

using ModelLiveryMap = std::unordered_map<uint16_t, std::vector<LiveryEntry>>;
using TitleViews = std::vector<std::string_view>;
using ModelTitleMap = std::unordered_map<uint16_t, TitleViews>;
using ModelIds = std::vector<uint16_t>;

// Table selectors of g_kindLiveries.
inline constexpr int kPaxTable = 0;
inline constexpr int kCargoTable = 1;

// Indices of g_genericModels.
inline constexpr int kGenericLight = 0;
inline constexpr int kGenericBuzjets = 1;
inline constexpr int kGenericRotorcraft = 2;

// airline key (airline, combined airline+operator, or operator id) -> model -> liveries; owns the titles
extern std::unordered_map<uint16_t, ModelLiveryMap> g_liveryTable;
// [0] passenger, [1] cargo: airline key -> model -> title views, ascending titles
extern std::array<std::unordered_map<uint16_t, ModelTitleMap>, 2> g_kindLiveries;
// model -> title views of all passenger liveries of the model, every airline key
extern ModelTitleMap g_paxModelLiveries;
// model -> title views of all cargo liveries of the model
extern ModelTitleMap g_cargoModelLiveries;
// Light, Buzjets, Rotorcraft: models of the category with at least one livery, ascending
extern std::array<ModelIds, 3> g_genericModels;
// model -> the other members of its similar group that have liveries
extern std::unordered_map<uint16_t, ModelIds> g_similarModels;
// airline key -> model without a livery of that key -> its similar models that have one
extern std::unordered_map<uint16_t, std::unordered_map<uint16_t, ModelIds>> g_airlineSimilarModels;
// A candidate list's titles by the national prefixes their registration codes begin with, each
// in list order: the first character, the text up to the first '-', and the alternative prefixes
// of the reference data.
using PrefixTitles = std::unordered_map<std::string, TitleViews>;
// The lists that the national-prefix searches read, filtered when the tables are built, so that a
// search takes its candidates at once instead of looking up the registration code of every title
// of a large list: [0] passenger, [1] cargo, model -> prefixes, for the models of the Light,
// Buzjets and Rotorcraft categories (g_paxModelLiveries, g_cargoModelLiveries) ...
extern std::array<std::unordered_map<uint16_t, PrefixTitles>, 2> g_prefixedModelLiveries;
// ... and for every model of the airline "PVT" (g_kindLiveries[0] and [1]).
extern std::array<std::unordered_map<uint16_t, PrefixTitles>, 2> g_prefixedPvtLiveries;
// the tables have been built in this program run
extern bool g_liveriesProcessed;

// Builds every table from LiveriesScanned.xml, once per program run; the reader's
// UserErrorException leaves it with the tables unbuilt.
void gf_processScannedLiveries();
// Empties every livery table, the registration-code tables, the similar-model tables and the
// liveries remembered per aircraft (their titles die with the tables); the tables are to be built
// again (g_liveriesProcessed is cleared).
void gf_clearLiveryTables();
// True when g_liveryTable holds the model under the airline key.
bool gf_hasAirlineModelLivery(uint16_t AIRLINE_KEY, uint16_t MODEL_ID);
// Fills g_similarModels and g_airlineSimilarModels from the similar groups.
void gf_similarModels();
// A model drawn from one generic list; 0 when the list is empty.
uint16_t lf_randomGenericLight();
uint16_t lf_randomGenericBuzjet();
uint16_t lf_randomGenericRotor();

// Empties every table and clears g_liveriesProcessed.
void gf_resetLiveryTablesForTests();

} // namespace qmt
