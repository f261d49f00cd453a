#pragma once
// The searches of the static calculation over the park airport's stand table: which options fit
// a stand at a time of week and which stands get a static position. Worker thread only.

#include "core/WeekTime.h"
#include "parking/StaticPositions.h"
#include "stands/StandTable.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmt {

struct AcProfile;
struct SimAc;

// Marks the stand used by a static position and its neighbours blocked.
void lf_markStandUsed(Stand& STAND);
// The day and half-hours of the observed (REAL 1) or soft options of each stand (in table order), in
// a few bytes each: a fit step tests in full only the options whose day and half-hour can fit,
// instead of walking every option record of every stand at every step.
struct OptionSlots {
    struct Entry {
        uint64_t hours = 0;      // the option's half-hour bits
        uint32_t day = 0;
        uint32_t index = 0;      // of the option in its stand
    };
    std::vector<std::vector<Entry>> stands;
    // Per stand, the largest half span that leaves room to the static aircraft next to it: those
    // stand still through a calculation.
    std::vector<double> clearance;
};
OptionSlots gf_optionSlots(uint32_t REAL);
// One fit step of the learned passes; SLOTS, when given, are those of this pass's REAL.
void lf_searchStands(WeekTime TIME, uint32_t REAL, uint32_t DAY, uint32_t STEP, std::vector<StaticPosition>& OUT,
                     const OptionSlots* SLOTS = nullptr);
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
