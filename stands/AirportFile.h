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
// handmade parameters; KEPT (mode 0 only), when given, holds what the learned file's reader
// could not take (gf_learnedKept), written back as it was read: its "parkpos" children after the
// stands, and each "part" child (a stand's id with attributes and opt elements) into the parkpos
// of that stand, or as a parkpos of its own when the stand is not written.
// The document replaces PATH only once it is completely written.
bool gf_writeApf(const AirportFile& FILE, const std::filesystem::path& PATH, ApfWriteMode MODE,
                 int32_t SIM, bool HANDMADE = false, pugi::xml_node KEPT = {});
// The two halves of gf_writeApf, for a writer that holds a lock only around the file itself:
// the document's text (nothing when FILE cannot be written), and its commit to PATH.
std::optional<std::string> gf_apfText(const AirportFile& FILE, ApfWriteMode MODE, int32_t SIM, bool HANDMADE = false,
                                      pugi::xml_node KEPT = {});
bool gf_commitApfText(const std::string& TEXT, const std::filesystem::path& PATH, ApfWriteMode MODE);

// Reads the park airport's file NAME ("airports/..." local, else archived) into
// g_stands and INFO. Returns an error text, empty on success.
std::string gf_readApf(const std::string& NAME, ParkApfInfo& INFO);

// The stands element of a document: root/parkpositions, else a top-level parkpositions.
pugi::xml_node gf_parkPositionsOf(const pugi::xml_document& DOC);

// Throws the user error 93 when the stands element POSITIONS lists more than kMaxAirportStands.
void gf_checkStandCount(pugi::xml_node POSITIONS);

// A parkpos or opt element that a stand read could not take, with the stand's name and why.
struct UnreadRecord {
    pugi::xml_node element;
    std::string stand;
    std::string reason;
};
using UnreadRecords = std::vector<UnreadRecord>;

// Reads every parkpos of DOC into STANDS (options with source 1). Throws the user
// errors 93 and 94 for a missing, empty or repeated id, or for too many stands.
// UNREAD: see lf_readStand.
void lf_readStands(const pugi::xml_document& DOC, std::vector<Stand>& STANDS, UnreadRecords* UNREAD = nullptr);

// Reads one parkpos into a new stand appended to STANDS; false when the stand was
// skipped (no position, or an attribute out of range). Without UNREAD a skipped stand is a
// warning and an option that cannot be read is dropped; with it (a learned file, whose every
// record must survive its saves) both are handed over there instead, in file order.
bool lf_readStand(pugi::xml_node ELEMENT, const std::string& NAME, uint32_t SOURCE,
                  std::vector<Stand>& STANDS, UnreadRecords* UNREAD = nullptr);

// Why the readers take no option from an opt element: a day that is no number, half-hours
// missing or empty, a day outside 1..7, half-hours that do not read (checked in this order).
enum class OptionFault : uint8_t { none, dayText, noHours, dayRange, badHours };
// The fault of an opt element; with none, HOURS and DAY hold what it says.
OptionFault lf_optionFault(pugi::xml_node ELEMENT, HoursBitset& HOURS, uint32_t& DAY);
// The fault in words: "option with invalid hh '25'" and the like.
std::string lf_optionFaultText(OptionFault FAULT, pugi::xml_node ELEMENT);
// An option without registration, airline or model names no aircraft: the writer leaves it out,
// so a learned file's reader keeps its element instead.
bool lf_namesNoAircraft(const StandOption& OPTION);
inline constexpr const char* kNamesNoAircraft = "option without reg, airl or type";

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
