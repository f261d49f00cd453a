#pragma once
// The searches of the static calculation over the park airport's stand table: which options fit
// a stand at a time of week and which stands get a static position. Worker thread only.

#include "core/WeekTime.h"
#include "parking/StaticPositions.h"
#include "stands/StandTable.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace qmt {

struct AcProfile;
struct SimAc;

// Marks the stand used by a static position and its neighbours blocked.
void lf_markStandUsed(Stand& STAND);
// A name set that is asked with views (the names are copies: positions move as their list grows).
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view TEXT) const noexcept { return std::hash<std::string_view>{}(TEXT); }
};
using NameSet = std::unordered_set<std::string, NameHash, std::equal_to<>>;

// The learned options of one pass, the observed (REAL 1) or the soft ones, in a few bytes each: a
// fit step tests in full only the options whose day and half-hour can fit and skips a stand whose
// options cover neither, and it asks hash sets whether an option's aircraft is in use, instead of
// walking every option of every stand and every position and aircraft at every step. The static
// and live parked aircraft and the option records stand still through a pass; the positions only
// grow while its fit steps run.
struct OptionSlots {
    static constexpr std::size_t kGroups = 8;  // per stand: days 1..7, and 0 for any other day
    struct Entry {
        uint64_t hours = 0;  // the option's half-hour bits
        uint32_t index = 0;  // of the option in its stand
    };
    // The entries of stand i and day group g, each group in option order:
    // entries[first[i * kGroups + g] .. first[i * kGroups + g + 1]).
    std::vector<Entry> entries;
    std::vector<uint32_t> first;
    // Half-hours covered by a stand's entries of one day (i * kGroups + day) and of any day (i).
    std::vector<uint64_t> dayHours;
    std::vector<uint64_t> anyHours;
    // Per stand, the largest half span that leaves room to the static aircraft next to it.
    std::vector<double> clearance;
    // The names that put an option's aircraft in use (lf_optionInUse), matched by the option's
    // callsign or further name (a static aircraft shown as the name with '*' appended among them)
    // and by its registration.
    NameSet byName;
    NameSet byRegistration;
    std::size_t positionsIndexed = 0;  // of g_staticPositions
    // The learned static aircraft by stand id, each stand's in list order.
    std::vector<std::pair<uint32_t, const SimAc*>> learnedStatics;
};
OptionSlots gf_optionSlots(uint32_t REAL);
// Back to the names of the aircraft alone, for a pass that starts from other positions.
void gf_forgetPositionNames(OptionSlots& SLOTS);
// One fit step of the learned passes; SLOTS, when given, are those of this pass's REAL.
void lf_searchStands(WeekTime TIME, uint32_t REAL, uint32_t DAY, uint32_t STEP, std::vector<StaticPosition>& OUT,
                     OptionSlots* SLOTS = nullptr);
// Option tests.
bool lf_optionFits(const StandOption& OPTION, uint32_t REAL, uint32_t DAY, WeekTime TARGET, const Stand& STAND);
void lf_chooseOption(std::vector<uint32_t>& IDS, const Stand& STAND);
bool lf_optionInUse(const StandOption& OPTION);
bool lf_isRecentCallsign(std::string_view TEXT);
bool gf_optionStillFits(WeekTime TIME, int32_t STAND_ID, const SimAc& AIRCRAFT);
// Number of static aircraft that are active or being removed; WITH_MEAN also sets the
// window's mean age.
uint32_t gf_countStaticAc(bool WITH_MEAN);
} // namespace qmt
