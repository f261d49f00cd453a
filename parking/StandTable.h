#pragma once
// Operations on the park airport's stand table g_stands. Worker thread only.

#include "core/Clock.h"
#include "parking/StaticPositions.h"
#include "parking/Stand.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmt {

struct AcProfile;
struct SimAc;

// Distances of the stand searches, nautical miles.
inline constexpr double kStandAtPositionNm = 0.029697624190064796;  // 55 m
inline constexpr double kRadiusToleranceNm = 0.0009719222462203025; // 1.8 m
inline constexpr double kTooSmallReachNm = 0.010799136069114472;    // 20 m
inline constexpr double kLearnedReachNm = 0.0458963282937365;       // 85 m
inline constexpr double kLargestRadiusNm = 0.0458963282937365;      // 85 m: a widened stand grows no further

// Sets or clears the live-aircraft mark of a stand; ids below 1 and unknown ids are ignored.
void gf_setStandOccupied(int32_t STAND_ID, uint8_t OCCUPIED);
// Marks the stand used by a static position and its neighbours blocked.
void lf_markStandUsed(Stand& STAND);
// Name of the stand nearest to the position within 55 m (user aircraft on the ground only).
std::string gf_standAtPosition(double LATITUDE, double LONGITUDE);
// The stand for an aircraft at the position, or nullptr.
Stand* gf_findStandNear(double LATITUDE, double LONGITUDE, const AcProfile& AIRCRAFT, double MAX_NM, bool LEARNED);
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
// The stand's name; "sid==0?" for id 0 and "sid==?" for an unknown id.
std::string gf_standName(uint32_t STAND_ID);

// Forgets the remembered answer of gf_standAtPosition: a new table answers anew.
void gf_forgetStandAtPosition();
void gf_resetStandTableForTests();

} // namespace qmt
