#pragma once

// Matching of a live or static aircraft to a livery title, in up to MATCHING_DEPTH steps from
// its own registration down to a national livery of a similar or generic model, and the
// reports on it. Worker thread only, like the tables it searches.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "core/LoopClock.h"

namespace qmt {

struct SimAc;
struct Stand;

// Accepted live matches per step 0 to 6; never reset.
extern std::array<int32_t, 7> g_matchStepCount;
// A livery title the simulator could not create.
struct RefusedTitle {
    LoopTime bannedUntil{}; // not given before this time
    bool forGood = false;   // refused again after its ban, with no creation between: never given again
};

// How long one refusal keeps a title from being given: the simulator refuses now and then a title
// it creates at other times, and a kind whose only livery it is would go without one for good.
inline constexpr std::chrono::minutes kTitleBan{30};
// A title whose ban ended this long ago without a creation of it is forgotten: its next refusal
// is a first one again.
inline constexpr std::chrono::hours kTitleBanMemory{24};

// What the engine tells the matching about its aircraft, kept here and changed only through the
// functions below: the spawn texts of aircraft without a livery, the title chosen per hex id, and
// the titles the simulator could not create with the "<airline> <model> <title>" summary lines of
// those (own strings).
extern std::unordered_set<std::string> g_noMatchSet;
extern std::unordered_map<uint32_t, std::string_view> g_chosenLiveries;
extern std::unordered_map<std::string, RefusedTitle> g_notCreatedTitles;
extern std::unordered_set<std::string> g_notCreatedList;

// The title chosen for the live aircraft with the hex id, or the empty view.
std::string_view gf_chosenLivery(uint32_t HEX_ID);
// Remembers the title (a view into the livery tables) for the hex id: the aircraft keeps its
// livery when it comes back.
void gf_rememberChosenLivery(uint32_t HEX_ID, std::string_view TITLE);
// The aircraft with the hex id is matched again at its next spawn.
void gf_forgetChosenLivery(uint32_t HEX_ID);
// The simulator could not create AC's livery title at NOW: the title is not given for
// kTitleBan, and never again when it was refused after an earlier ban without a creation between
// (logged). Answers the number of titles never given again.
std::size_t gf_refuseTitle(const SimAc& AC, LoopTime NOW);
// The simulator created an aircraft of the title: an earlier refusal of it was by chance.
void gf_titleCreated(std::string_view TITLE);

// Forgets the titles chosen for hex ids that were already missing from PRESENT at the last call
// and still are: an aircraft that comes back soon keeps its livery, and the list does not grow
// with every aircraft of a long run.
void gf_forgetChosenLiveries(const std::unordered_set<uint32_t>& PRESENT);

// An aircraft (by its spawn text) for which no livery was found; it is not matched again this
// session and is listed by gf_logNoMatches.
void gf_noteNoMatch(const std::string& SPAWN_TEXT);
bool gf_isNoMatch(const std::string& SPAWN_TEXT);
// A new session matches every aircraft again.
void gf_clearNoMatches();

// Sets the aircraft's liveryTitle to the accepted title, or leaves it empty.
void gf_matchLiveAcLivery(SimAc& AC);
// Matches a static aircraft created on the stand (its name and cargo flag are used); true when
// the aircraft has a title on return.
bool gf_matchStaticAcLivery(SimAc& AC, const Stand& STAND);

// The matching summary in the log (once a day and at closing down).
void gf_writeMatchingSummary();
// The aircraft without a livery in the log (every 20 minutes and at closing down).
void gf_logNoMatches();

// Forgets the chosen and the refused titles (tests).
void gf_clearLiveryNotesForTests();
void gf_resetMatchingForTests();

} // namespace qmt
