#pragma once

#include "stands/StandTable.h"

#include <pugixml.hpp>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qmt {

// 0: learned file of the park airport; 1: generated airport file.
enum class ApfWriteMode : int { learned = 0, generated = 1 };

// The nine settings stored in a learned file, in their order in the file.
inline constexpr size_t kApfSettingCount = 9;
// Their names, taken from the parameter objects (filled by gf_initApfSettingNames).
extern std::array<std::string, kApfSettingCount> g_apfSettingNames;
// Their values when the park airport's file was read (the window refreshes from it).
extern std::array<std::string, kApfSettingCount> g_apfSettingsAtRead;
// RT_traffic_week of the park airport's file (0 when absent).
extern int32_t g_rtTrafficWeek;
// The park airport's file has been read.
extern uint8_t g_apfRead;

// Fills g_apfSettingNames from the parameter objects.
void gf_initApfSettingNames();

// Writes FILE to PATH. HANDMADE (mode 0 only) writes the stand list whole with the
// handmade parameters; ORPHANS, when given, is a node whose parkpos children are
// appended unchanged (learned stands that no stand of the airport file matched).
// The document replaces PATH only once it is completely written.
bool gf_writeApf(const AirportFile& FILE, const std::filesystem::path& PATH, ApfWriteMode MODE,
                 int32_t SIM, bool HANDMADE = false, pugi::xml_node ORPHANS = {});
// The two halves of gf_writeApf, for a writer that holds a lock only around the file itself:
// the document's text (nothing when FILE cannot be written), and its commit to PATH.
std::optional<std::string> gf_apfText(const AirportFile& FILE, ApfWriteMode MODE, int32_t SIM, bool HANDMADE = false,
                                      pugi::xml_node ORPHANS = {});
bool gf_commitApfText(const std::string& TEXT, const std::filesystem::path& PATH, ApfWriteMode MODE);

// Reads the park airport's file NAME ("airports/..." local, else archived) into
// g_stands and INFO. Returns an error text, empty on success.
std::string gf_readApf(const std::string& NAME, ParkApfInfo& INFO);

// The stands element of a document: root/parkpositions, else a top-level parkpositions.
pugi::xml_node gf_parkPositionsOf(const pugi::xml_document& DOC);

// Throws the user error 93 when the stands element POSITIONS lists more than MAX_AIRPORT_STANDS.
void gf_checkStandCount(pugi::xml_node POSITIONS);

// Reads every parkpos of DOC into STANDS (options with source 1). Throws the user
// errors 93 and 94 for a missing, empty or repeated id, or for too many stands.
void lf_readStands(const pugi::xml_document& DOC, std::vector<Stand>& STANDS);

// Reads one parkpos into a new stand appended to STANDS; false when the stand was
// skipped (no position, or an attribute out of range), with a warning.
bool lf_readStand(pugi::xml_node ELEMENT, const std::string& NAME, uint32_t SOURCE,
                  std::vector<Stand>& STANDS);

// Callsign, further name and kind of an opt element.
struct OptIdentity {
    std::string callsign;
    std::string furtherName;
    AcKind kind{};
};
OptIdentity lf_readOptIdentity(pugi::xml_node ELEMENT);

// The option of an opt element whose half-hours and day are already read; its id is left 0.
StandOption lf_optionOf(pugi::xml_node ELEMENT, HoursBitset HOURS, uint32_t DAY, uint32_t SOURCE);

// The kind made from the airl and type attributes.
AcKind lf_readAirlType(pugi::xml_node ELEMENT);

// Half-hour slot text to a set: "a:b", one slot, or a comma list of both.
// Empty optional when the text is empty or holds anything else (a slot above 47,
// a reversed range, a non-number).
std::optional<HoursBitset> gf_parseHoursStrict(std::string_view TEXT);

// The hh text written for a set: one run as "a:b" or "a", else a comma list;
// empty for an empty set.
std::string gf_hoursWriteText(HoursBitset HOURS);

// Numbers the stands 1..n and fills their adjacency (each pair measured once).
void gf_numberStandsAndAdjacency(std::vector<Stand>& STANDS);

// Back to the state of a fresh start (tests).
void gf_resetAirportFileForTests();

} // namespace qmt
