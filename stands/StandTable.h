#pragma once
// The park airport's stand table g_stands with what its readers learned about the airport file,
// and the operations on it that the engine and static parking share. Worker thread only, no lock.

#include "records/Stand.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qmt {

struct AcProfile;

// What the reader learned about the park airport's file, kept for the save.
struct ParkApfInfo {
    std::string airportName;
    std::string publisher;
    int32_t altitudeFt = 0;
    std::string apfName;             // the airport file name that was read; the learned path derives from it
    uint8_t learnedUnreadable = 0;   // the learned file exists but could not be read nor moved aside: never overwrite it
    uint32_t learnedKept = 0;        // records of the learned file that do not read, kept in it as they are
    std::string learnedSetAside;     // where a learned file that could not be read at all was moved to
};

// Stand table of the park airport, sorted by standId (standId - 1 is the index).
// Worker thread only, no lock.
extern std::vector<Stand> g_stands;
// The park airport's learned file is handmade (it replaced the airport file's stands).
extern uint8_t g_handmade;
// Name, publisher and altitude of the park airport's file.
extern ParkApfInfo g_parkApfInfo;
// Quality factors: real in the low, soft in the high 32 bits; -1 each when unknown.
extern int64_t g_qualityFactors;
// Learned changes since the last save of the learned file.
extern uint32_t g_learnedUpdates;
// One more learned change (a stand option added or renewed), shown in the window.
void gf_countLearnedUpdate();
// A newly read airport file has no learned changes yet.
void gf_clearLearnedUpdates();

// Packs and unpacks the two quality factors.
int64_t gf_packQualityFactors(int32_t REAL, int32_t SOFT);
int32_t gf_qualityReal(int64_t FACTORS);
int32_t gf_qualitySoft(int64_t FACTORS);

// Destroys every stand of g_stands.
void gf_clearStands();

// Numbers the stand's options 1, 2, 3 ... in order: options switched off for one calculation
// (id 0) count again, and a new option's id (count + 1) stays unique.
void gf_renumberOptions(Stand& STAND);
// The same for every stand of g_stands.
void gf_renumberAllOptions();

// Stand by id through the numbering invariant; nullptr for 0 or an unknown id.
Stand* gf_standById(int64_t STAND_ID);
// The stand OTHER_ID overlaps STAND (is one of its adjacent stands).
bool gf_isAdjacent(const Stand& STAND, uint32_t OTHER_ID);

// Back to the state of a fresh start (tests).
void gf_resetStandsForTests();

// Distances of the stand searches, nautical miles.
inline constexpr double kStandAtPositionNm = 0.029697624190064796;  // 55 m
inline constexpr double kRadiusToleranceNm = 0.0009719222462203025; // 1.8 m
inline constexpr double kTooSmallReachNm = 0.010799136069114472;    // 20 m
inline constexpr double kLearnedReachNm = 0.0458963282937365;       // 85 m
inline constexpr double kLargestRadiusNm = 0.0458963282937365;      // 85 m: a widened stand grows no further

// Sets or clears the live-aircraft mark of a stand; ids below 1 and unknown ids are ignored.
void gf_setStandOccupied(int32_t STAND_ID, uint8_t OCCUPIED);
// Name of the stand nearest to the position within 55 m (user aircraft on the ground only).
std::string gf_standAtPosition(double LATITUDE, double LONGITUDE);
// The stand for an aircraft at the position, or nullptr.
Stand* gf_findStandNear(double LATITUDE, double LONGITUDE, const AcProfile& AIRCRAFT, double MAX_NM, bool LEARNED);
// The stand's name; "sid==0?" for id 0 and "sid==?" for an unknown id.
std::string gf_standName(uint32_t STAND_ID);

// Forgets the remembered answer of gf_standAtPosition: a new table answers anew.
void gf_forgetStandAtPosition();
void gf_resetStandTableForTests();

// The wanted number of static aircraft; the window shows it.
int64_t lf_wantedStaticCount();

} // namespace qmt
