#pragma once
// Learning which aircraft use which stand: every live aircraft seen at a stand of the park
// airport adds a stand option or widens one, and a landed aircraft gets the callsign pair an
// option has learned for it. Worker thread only, no lock.

#include "core/AcKind.h"
#include "core/WeekTime.h"
#include "stands/StandTable.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmt {

struct LiveAc;

// What the engine saw of a live aircraft at its stand. Leaving and gone mark the option
// "cpl": the stay was seen to its end.
inline constexpr int32_t kStandEventArrived = 0;
inline constexpr int32_t kStandEventSeen = 1;
inline constexpr int32_t kStandEventLeaving = 2;
inline constexpr int32_t kStandEventGone = 3;

// The option a new one was given, and whether one was appended.
struct AddedOption {
    uint32_t id = 0;
    uint8_t added = 0;
};

// Records that the live aircraft stands at the stand now (the main loop's time of week).
void lf_addRealStandOption(int32_t STAND_ID, LiveAc& AC, int32_t EVENT);
// Extends the option at OPTION_INDEX of the stand, last seen at LAST, up to NOW within the
// aircraft's window, whatever its id (a calculation may have switched it off). False when the gap
// is too long (the caller starts a new option). LAST becomes NOW and OPTION_INDEX the option that
// now holds NOW.
bool lf_standOptionSlots(WeekTime NOW, Stand& STAND, size_t& OPTION_INDEX, WeekTime& LAST, const LiveAc& AC,
                         const std::string& REGISTRATION, uint8_t CPL);
// Appends an option for NOW's half-hour, unless one of this registration already holds exactly it.
void lf_addStandOption(Stand& STAND, AddedOption& OUT, AcKind KIND, WeekTime NOW, std::string_view CALLSIGN,
                       const std::string& REGISTRATION, uint8_t CPL);
// Records a callsign on an option: the callsign when it has none, else the further name.
void lf_addStandOptionName(Stand& STAND, uint32_t OPTION_ID, std::string_view NAME);
// Sets the half-hours of the list in the option; false when there is no such option.
bool updateOptions(Stand& STAND, const std::vector<uint32_t>& HALF_HOURS, uint32_t OPTION_ID);
// The same for a list (newest first) that crosses midnight: the half-hours up to 47 go to the
// earlier day's option, the rest to the new day's.
bool updateOptionsWrapped(Stand& STAND, const std::vector<uint32_t>& HALF_HOURS, uint32_t EARLIER_ID,
                          uint32_t NEW_ID);
// COUNT half-hours ending with NOW's, newest first (0 is followed by 47).
std::vector<uint32_t> lf_precedingSlots(WeekTime NOW, int COUNT);
// Gives the aircraft the callsign pair of a learned option of today near NOW.
void gf_findLearnedStand(WeekTime NOW, LiveAc& AC);

} // namespace qmt
