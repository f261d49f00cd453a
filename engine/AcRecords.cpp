#include "engine/AcRecords.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include <fmt/format.h>

#include "engine/Intake.h"
#include "liveries/KindText.h"

namespace qmt {

std::vector<LiveAc> g_liveAcs;
std::vector<SimAc> g_staticAcs;
std::vector<uint32_t> g_addingStack;
std::deque<AiCreateRequest> g_liveAddingDeque;
std::deque<AiCreateRequest> g_staticAddingDeque;
std::deque<uint32_t> g_removalDeque;
std::vector<SimNotification> g_activationList;
std::vector<std::string> g_blockedGhosts;
std::list<uint32_t> g_twinCheckIds;
std::atomic<int32_t> g_tickCounter{0};
uint32_t g_callsignObjectId = 0;
std::unordered_set<std::string> g_noMatchSet;
std::unordered_map<uint32_t, std::string_view> g_chosenLiveries;
std::unordered_set<std::string> g_notCreatedTitles;
std::unordered_set<std::string> g_notCreatedList;

SimAc::SimAc(const AcProfile& PROFILE, uint32_t STAND_ID, double LAT, double LON, double HEADING,
             bool NO_CABIN_LIGHT)
    : AcProfile(PROFILE), lat(LAT), lon(LON), heading(HEADING), standId(STAND_ID),
      noCabinLight(NO_CABIN_LIGHT ? 1 : 0)
{
}

LiveAc::LiveAc(const StreamPos& FIRST_POINT, const AcProfile& PROFILE, double REPORT_TIME)
    : SimAc(PROFILE, 0, 0.0, 0.0, 0.0, false), lastReportTime(REPORT_TIME)
{
    stream.push_back(FIRST_POINT);
}

void gf_copyAcProfile(AcProfile& TARGET, const AcProfile& SOURCE)
{
    TARGET = SOURCE;
}

namespace {

// The names mimic the text of a failed map lookup, which is what the log shows for a bad value.
[[noreturn]] void lf_badKey()
{
    throw std::out_of_range("invalid unordered_map<K, T> key");
}

constexpr std::array<std::string_view, 5> kLifeStateNames{
    "buffer", "adding2sim", "active", "liveryrespawn", "removingfromsim"};
constexpr std::array<std::string_view, 8> kPhaseNames{
    "pushing_back", "pushed_back", "taxi", "take_off", "flying", "parking", "parked", "birth"};

} // namespace

std::string_view gf_lifeStateName(uint32_t STATE)
{
    if (STATE >= kLifeStateNames.size()) {
        lf_badKey();
    }
    return kLifeStateNames[STATE];
}

std::string_view gf_phaseName(uint32_t STATE)
{
    if (STATE >= kPhaseNames.size()) {
        lf_badKey();
    }
    return kPhaseNames[STATE];
}

void lf_eraseLiveAc(LiveAc& AC)
{
    LiveAc* last = &g_liveAcs.back();
    if (&AC != last) {
        AC = std::move(*last);
    }
    g_liveAcs.pop_back();
}

void lf_eraseStaticAc(SimAc& AC)
{
    SimAc* last = &g_staticAcs.back();
    if (&AC != last) {
        AC = std::move(*last);
    }
    g_staticAcs.pop_back();
}

LiveAc* gf_findLiveAc(uint32_t ID)
{
    auto it = std::find_if(g_liveAcs.begin(), g_liveAcs.end(),
                           [ID](const LiveAc& AC) { return AC.id == ID; });
    return it == g_liveAcs.end() ? nullptr : &*it;
}

LiveAc* gf_findLiveAcByObjectId(uint32_t OBJECT_ID)
{
    auto it = std::find_if(g_liveAcs.begin(), g_liveAcs.end(),
                           [OBJECT_ID](const LiveAc& AC) { return AC.objectId == OBJECT_ID; });
    return it == g_liveAcs.end() ? nullptr : &*it;
}

SimAc* gf_findStaticAc(uint32_t ID)
{
    auto it = std::find_if(g_staticAcs.begin(), g_staticAcs.end(),
                           [ID](const SimAc& AC) { return AC.id == ID; });
    return it == g_staticAcs.end() ? nullptr : &*it;
}

std::string lf_routeText(const AcProfile& AC)
{
    if (AC.origin.empty() && AC.destination.empty()) {
        return std::string(8, ' ');
    }
    return fmt::format("{:3}->{:3}", AC.origin, AC.destination);
}

std::string lf_width8Text(const AcProfile& AC)
{
    return fmt::format("{:8}", AC.callsign);
}

std::string lf_acText(const AcProfile& AC)
{
    return fmt::format("{} {:12} {}", lf_width8Text(AC), AC.registration, lf_routeText(AC));
}

std::string gf_acDescription(const AcProfile& AC)
{
    return fmt::format("{} {}", gf_kindText(AC.kind), lf_acText(AC));
}

std::string gf_acDescription3(const AcProfile& AC)
{
    return fmt::format("{} {} {}", lf_width8Text(AC), AC.registration, gf_kindText(AC.kind));
}

std::string lf_spawnText(const AcProfile& AC)
{
    return fmt::format("{} {}", gf_kindText(AC.kind), AC.registration);
}

std::optional<std::string> gf_normalizeCallsign(std::string_view CALLSIGN)
{
    auto isLetter = [](char C) { return std::isalpha(static_cast<unsigned char>(C)) != 0; };
    if (CALLSIGN.size() < 4 || !isLetter(CALLSIGN[0]) || !isLetter(CALLSIGN[1]) ||
        !isLetter(CALLSIGN[2]) || std::isdigit(static_cast<unsigned char>(CALLSIGN[3])) == 0) {
        return std::nullopt;
    }
    std::string code(CALLSIGN.substr(0, 3));
    for (char& c : code) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return code;
}

void gf_clearSessionLists()
{
    g_liveAcs.clear();
    g_staticAcs.clear();
    g_addingStack.clear();
    g_liveAddingDeque.clear();
    g_staticAddingDeque.clear();
    g_removalDeque.clear();
    g_activationList.clear();
    g_blockedGhosts.clear();
    g_noMatchSet.clear();
}

void gf_resetEngineForTests()
{
    gf_clearSessionLists();
    g_twinCheckIds.clear();
    g_tickCounter = 0;
    g_callsignObjectId = 0;
    g_chosenLiveries.clear();
    g_notCreatedTitles.clear();
    g_notCreatedList.clear();
    gf_resetIntakeForTests();
}

} // namespace qmt
