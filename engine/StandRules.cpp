#include "engine/StandRules.h"

#include <algorithm>
#include <string_view>

#include "core/AcKind.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/RefData.h"
#include "engine/BirthSpawn.h"
#include "engine/Commands.h"
#include "stands/ApfSettings.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

constexpr double kCloseFactor = 1.1;

LiveAc* lf_liveAcOnStand(uint32_t STAND_ID)
{
    auto it = std::find_if(g_liveAcs.begin(), g_liveAcs.end(), [&](const LiveAc& A) { return A.standId == STAND_ID; });
    return it == g_liveAcs.end() ? nullptr : &*it;
}

std::string_view lf_withoutLast(std::string_view TEXT)
{
    return TEXT.empty() ? TEXT : TEXT.substr(0, TEXT.size() - 1);
}

// The adjacent stand, when it is known and has a position.
const Stand* lf_placedStand(uint32_t STAND_ID)
{
    const Stand* s = gf_standById(STAND_ID);
    if (s == nullptr || (s->latitude == 0.0 && s->longitude == 0.0)) {
        return nullptr;
    }
    return s;
}

// The two stands lie so close that the two aircraft's wings would touch.
bool lf_tooClose(const Stand& A, const Stand& B, uint16_t MODEL_A, uint16_t MODEL_B)
{
    return gf_distanceNm(A.latitude, A.longitude, B.latitude, B.longitude) <= kCloseFactor * (hwsp(MODEL_A) + hwsp(MODEL_B));
}

// A live aircraft on a neighbouring stand that still stands there.
LiveAc* lf_standingNeighbour(uint32_t ADJACENT_ID)
{
    LiveAc* other = lf_liveAcOnStand(ADJACENT_ID);
    if (other == nullptr || other->state != AcState::active ||
        (other->flightState != FlightState::parked && other->flightState != FlightState::pushing_back)) {
        return nullptr;
    }
    return other;
}

} // namespace

void lf_markCargoStand(LiveAc& AC)
{
    if (AC.kind.cargo == 0 || AC.noCabinLight != 0) {
        return;
    }
    auto it = std::find_if(g_stands.begin(), g_stands.end(),
                           [&](const Stand& S) { return S.cargo != 0 && S.standId == AC.standId; });
    if (it == g_stands.end()) {
        return;
    }
    it->cargo = 0;
    it->cargoChanged = 1;
    gf_countLearnedUpdate();
}

bool lf_removeForStand(uint32_t STAND_ID, const std::string& CALLSIGN)
{
    LiveAc* other = lf_liveAcOnStand(STAND_ID);
    if (other == nullptr || other->state != AcState::active ||
        (other->flightState != FlightState::parked && other->flightState != FlightState::pushing_back &&
         other->flightState != FlightState::pushed_back)) {
        return true;
    }
    const std::string standName = gf_standName(STAND_ID);
    if (other->callsign == CALLSIGN) {
        gf_logLine("{:8}: {:8} ac with same callsign {} wants it, remove existing ... ", standName, other->callsign,
                   CALLSIGN);
        removeAircraftFromSim(*other, "same callsign wants its stand");
        return true;
    }
    if (lf_withoutLast(CALLSIGN) == other->callsign) {
        return false; // the newcomer is its ghost
    }
    if (lf_withoutLast(other->callsign) == CALLSIGN ||
        (gf_endsWithGhostMark(other->callsign) && !gf_endsWithGhostMark(CALLSIGN))) {
        gf_logLine("{:8}: {:8} ghost, replace by {}", standName, other->callsign, CALLSIGN);
        removeAircraftFromSim(*other, "ghost, replaced");
        return true;
    }
    if ((!gf_endsWithGhostMark(other->callsign) && gf_endsWithGhostMark(CALLSIGN)) || other->keepParked != 0) {
        return false;
    }
    gf_logLine("{:8}: {:8} removed because another live {} wants the stand ...", standName, other->callsign, CALLSIGN);
    removeAircraftFromSim(*other, "another live aircraft wants its stand");
    return true;
}

bool lf_adjacentConflict(uint32_t ADJACENT_ID, const LiveAc& AC, const Stand& STAND)
{
    const LiveAc* other = lf_standingNeighbour(ADJACENT_ID);
    if (other == nullptr || other->callsign == AC.callsign) {
        return true;
    }
    const Stand* adjacent = lf_placedStand(ADJACENT_ID);
    return adjacent == nullptr || !lf_tooClose(*adjacent, STAND, other->kind.modelId, AC.kind.modelId);
}

void lf_removeAdjacentForParking(uint32_t ADJACENT_ID, const LiveAc& AC, const Stand& STAND)
{
    LiveAc* other = lf_standingNeighbour(ADJACENT_ID);
    const Stand* adjacent = lf_placedStand(ADJACENT_ID);
    if (other == nullptr || adjacent == nullptr || !lf_tooClose(*adjacent, STAND, other->kind.modelId, AC.kind.modelId)) {
        return;
    }
    gf_logLine("{:8}: {:8} removed by parking {} at adjacent and possibly colliding stand {}", adjacent->name,
               other->callsign, AC.callsign, STAND.name);
    removeAircraftFromSim(*other, "in the way at an adjacent stand");
}

void lf_makeWay(const LiveAc& AC, const Stand& STAND)
{
    auto it = std::find_if(g_staticAcs.begin(), g_staticAcs.end(),
                           [&](const SimAc& S) { return S.standId == STAND.standId; });
    if (it != g_staticAcs.end()) {
        SimAc& s = *it;
        const bool same = s.callsignCopy == AC.callsign || s.registration == AC.registration;
        const char* text = same ? " the same live version" : "";
        if (s.state == AcState::active) {
            gf_logLine("{:8}: {:8} {} makes way for{} {} {}", STAND.name, s.callsign, s.registration, text, AC.callsign,
                       AC.registration);
            removeAircraftFromSim(s, "makes way for a live aircraft");
        } else if (s.state == AcState::adding2sim) {
            if (gf_removeFromAddingDeque(g_staticAddingDeque, s.id)) {
                s.removed = 1;
                gf_logLine("queued {:8}: {:8} {} makes way for{} {} {}", STAND.name, s.callsign, s.registration, text,
                           AC.callsign, AC.registration);
            } else {
                s.removeWhenCreated = 1;
            }
        }
    }
    std::erase_if(g_staticAcs, [](const SimAc& S) { return S.removed != 0; });
    for (const uint32_t adjacent : STAND.adjacent) {
        lf_makeWayAtExcludedStand(AC, adjacent, STAND);
    }
}

void lf_makeWayAtExcludedStand(const LiveAc& AC, uint32_t ADJACENT_ID, const Stand& STAND)
{
    const Stand* adjacent = lf_placedStand(ADJACENT_ID);
    if (adjacent == nullptr) {
        return;
    }
    for (SimAc& s : g_staticAcs) {
        if (s.standId == ADJACENT_ID && s.state == AcState::active &&
            lf_tooClose(*adjacent, STAND, s.kind.modelId, AC.kind.modelId)) {
            gf_logLine("{:8}: {:8} makes way for {} parking at excluded stand {}", adjacent->name, s.callsign,
                       AC.callsign, STAND.name);
            removeAircraftFromSim(s, "makes way at an excluded stand");
            return;
        }
    }
}

} // namespace qmt
