#include "engine/Tick.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <mutex>

#include <fmt/format.h>

#include "core/Geo.h"
#include "core/KindText.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Text.h"
#include "engine/Commands.h"
#include "engine/Intake.h"
#include "engine/Motion.h"
#include "engine/Removal.h"
#include "engine/SimRequests.h"
#include "engine/Spawn.h"
#include "feed/TrafficFeed.h"
#include "liveries/Matching.h"
#include "simlink/SimClient.h"
#include "simlink/SimQueues.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

constexpr int32_t kActivationTicks = 200;
// Object ids up to this are not AI objects of ours.
constexpr uint32_t kMinObjectId = 3;
constexpr std::size_t kLiveAcPlaces = 512;

// An object the simulator made for a record that is gone or has moved on: take it out again.
void lf_removeOrphanObject(uint32_t OBJECT_ID)
{
    if (OBJECT_ID >= kMinObjectId) {
        g_removalDeque.push_back(OBJECT_ID);
    }
}

// The tick starts on caches that the 10 ms sleep and the other threads have emptied, and each
// record is read in many places: asking for the records a few places ahead lets their loads
// overlap the work on the current one instead of coming one after the other. Whole records are
// asked for, though the tick reads only some of their lines: gathering the fields it reads into
// fewer lines made the tick on emptied caches slower, not faster (by half with only those lines
// asked for, by a fifth with whole records), and the program's tick slower too.
constexpr std::size_t kPrefetchAhead = 3;

void lf_prefetchRecord(const LiveAc& AC)
{
    const char* const record = reinterpret_cast<const char*>(&AC);
    for (std::size_t at = 0; at < sizeof(LiveAc); at += 64) {
        __builtin_prefetch(record + at);
    }
}

bool lf_anyRemoveFlag(const LiveAc& AC) { return AC.remove != 0 || AC.removed != 0; }

// An object that is gone needs no activation, and no removal when its entry comes up.
void lf_dropActivationOf(uint32_t OBJECT_ID)
{
    for (PendingActivation& e : g_activationList) {
        if (e.note.objectId == OBJECT_ID && e.note.kind == kNoteLiveCreated) {
            e.ticks = PendingActivation::kDone;
        }
    }
}

void lf_keepFront(LiveAc& AC, uint8_t KIND)
{
    const StreamPos& front = AC.stream.front();
    AC.frontAt = &front;
    AC.frontSize = AC.stream.size();
    AC.frontPlayTick = front.playTick;
    AC.frontRepeat = front.repeat;
    AC.frontHasRoll = front.hasRoll;
    AC.frontRoll = front.roll;
    AC.frontKept = KIND;
}

// An aircraft waiting for its first point to fall due is looked at again only when it does.
void lf_bufferedStage(LiveAc& AC)
{
    if (gf_keptFrontHolds(AC, LiveAc::kFrontKeptBuffered) &&
        g_tickCounter.load(std::memory_order_relaxed) < AC.frontPlayTick) {
        return;
    }
    gf_forgetKeptFront(AC);
    lf_birthStage(AC);
    if (AC.state == AcState::buffer && !AC.stream.empty()) {
        lf_keepFront(AC, LiveAc::kFrontKeptBuffered);
    }
}

bool lf_blockIsFinite(const LiveAc& AC)
{
    return std::all_of(AC.block.begin(), AC.block.end(), [](double V) { return std::isfinite(V); });
}

void lf_onGroundData(const SimNotification& N)
{
    if (N.objectId < kMinObjectId) {
        return;
    }
    LiveAc* ac = gf_findLiveAcByObjectId(N.objectId);
    if (ac == nullptr) {
        return;
    }
    const bool reportedOnGround = N.aircraftId != 0;
    if (reportedOnGround && ac->onGround == 0 && ac->transitionSlots <= 1 &&
        ac->state != AcState::removingfromsim && ac->flightState != FlightState::take_off) {
        if (ac->flareStage == 0 && ac->approach == 0) {
            ac->onGround = 1;
            ac->climbPerTick = 0.0;
            ac->transitionSlots = 1;
        } else {
            ac->derotating = 1;
            ac->landingRoll = 1;
            ac->touchdownHeading = ac->block[kBlockHeading];
            ac->approach = 0;
            ac->touchedDown = 1;
            gf_setSpoilers(*ac, true);
            if (ac->category != kAcCategoryLight) {
                gf_setSpoilersAndThrottle(*ac, 100.0, ac->reverseThrust != 0 ? -100.0 : 100.0);
            }
            const uint32_t n = ac->touchdownSlots;
            if (n == 0) {
                gf_logLine("{} ! onGround slots {:.1f}", ac->callsign, static_cast<double>(n));
                ac->pitchStep = ac->groundPitch;
                ac->bankStep = 0.0;
            } else {
                ac->pitchStep = (ac->groundPitch - ac->block[kBlockPitch]) / n;
                ac->bankStep = (0.0 - ac->block[kBlockBank]) / n;
            }
            g_twinCheckIds.push_back(ac->id);
            ac->onGround = 1;
            ac->climbPerTick = 0.0;
            ac->transitionSlots = 1;
        }
    }
    ac->heightAboveGround = N.value2;
    if (ac->onGround != 0 || ac->transitionSlots >= 2) {
        ac->block[kBlockAlt] = N.value1 + ac->cgHeight;
    }
}

void lf_onStaticCg(const SimNotification& N)
{
    if (N.objectId < kMinObjectId) {
        return;
    }
    LiveAc* ac = gf_findLiveAcByObjectId(N.objectId);
    if (ac == nullptr) {
        return;
    }
    if (N.value1 >= 1.0 && N.value1 <= 35.0) {
        ac->cgHeight = N.value1;
    }
    ac->groundPitch = N.value2;
    // A static pitch outside -1 to 2.5 degrees is no attitude of a parked aircraft.
    if (N.value2 <= -1.0 * kDegToRad || N.value2 > 2.5 * kDegToRad) {
        ac->groundPitch = 0.7 * kDegToRad;
    }
}

// A create the simulator refused: the record is reported and erased.
void lf_onCreateFailed(const SimNotification& N)
{
    if (N.aircraftId > kMaxStaticId) {
        LiveAc* ac = gf_findLiveAc(N.aircraftId);
        if (ac == nullptr || ac->state != AcState::adding2sim) {
            return;
        }
        try {
            lf_liveryNotCreated(*ac);
        } catch (...) {
            lf_eraseLiveAc(*ac);
            throw;
        }
        lf_eraseLiveAc(*ac);
        return;
    }
    auto it = std::find_if(g_staticAcs.begin(), g_staticAcs.end(), [&](const SimAc& S) {
        return S.id == N.aircraftId && S.state == AcState::adding2sim;
    });
    if (it == g_staticAcs.end()) {
        return;
    }
    try {
        lf_liveryNotCreated(*it);
    } catch (...) {
        lf_eraseStaticAc(*it);
        throw;
    }
    lf_eraseStaticAc(*it);
}

// The simulator took the static aircraft's title: an earlier refusal of it was by chance.
void lf_onStaticCreated(const SimNotification& N)
{
    const auto it = std::find_if(g_staticAcs.begin(), g_staticAcs.end(),
                                 [&N](const SimAc& S) { return S.id == N.aircraftId; });
    if (it != g_staticAcs.end()) {
        gf_titleCreated(it->liveryTitle);
    }
}

void lf_onLiveCreated(const SimNotification& N)
{
    LiveAc* ac = gf_findLiveAc(N.aircraftId);
    // Only the record that is waiting for this very create may take the object.
    if (ac == nullptr || ac->state != AcState::adding2sim || ac->objectId != 0) {
        lf_removeOrphanObject(N.objectId);
        return;
    }
    if (lf_onLiveAcCreated(*ac, N)) {
        g_activationList.push_back(PendingActivation{.note = N});
        // The object is in the simulator from this frame on: it is driven at once, from where the
        // create put it (its front point), catching up on the time the creation took at no more
        // than the pace of its legs allows; its lights, engines and configuration follow at its
        // activation.
        gf_setAcState(*ac, AcState::active);
        gf_titleCreated(ac->liveryTitle);
        gf_forgetKeptFront(*ac);
        lf_skipOverduePoints(*ac);
        if (ac->removeWhenCreated != 0) {
            ac->removeWhenCreated = 0;
            removeAircraftFromSim(*ac, "removal asked for while it was created");
        }
    } else {
        // No usable object: the record would wait for an activation that never comes.
        ac->remove = 1;
    }
}

void lf_activateLive(PendingActivation& P)
{
    const SimNotification& E = P.note;
    LiveAc* ac = gf_findLiveAc(E.aircraftId);
    if (ac == nullptr || ac->objectId != E.objectId) {
        lf_removeOrphanObject(E.objectId);
        P.ticks = PendingActivation::kDone;
        return;
    }
    if (ac->state != AcState::active) {
        // Removed while it waited: its removal is on its way.
        P.ticks = PendingActivation::kDone;
        return;
    }
    const uint32_t obj = ac->objectId;
    const bool airborne = !ac->stream.empty() && ac->stream.front().airborne != 0;
    if (airborne) {
        const bool low = ac->block[kBlockAlt] <= 10000.0;
        gf_queueEngineStart(obj);
        gf_setSpoilers(*ac, false);
        gf_queueLights(obj, 1, 1, low ? 1 : 0, 0, 1, low ? 1 : 0, ac->heightAboveGround >= 2000.0 ? 1 : 0);
    } else {
        const bool isParked = ac->flightState == FlightState::parked;
        const bool isTaxi = ac->flightState == FlightState::taxi;
        gf_setSpoilers(*ac, false);
        uint32_t nav = 1;
        if (isParked) {
            gf_queueEngineShutdown(obj);
            nav = NAV_LIGHTS_WHILE_PARKED.value() ? 1 : 0;
        } else {
            gf_queueEngineStart(obj);
        }
        gf_queueLights(obj, nav, isParked ? 0 : 1, 0, isTaxi ? 1 : 0, 0, 1, 1);
        gf_setThrottle(*ac, gf_throttleFor(*ac, 0));
        gf_setFlaps(*ac, isTaxi ? 1 : 0);
    }
    P.ticks = PendingActivation::kDone;
}

void lf_activateStatic(PendingActivation& P)
{
    const SimNotification& E = P.note;
    auto it = std::find_if(g_staticAcs.begin(), g_staticAcs.end(), [&](const SimAc& S) {
        return S.id == E.aircraftId && S.state == AcState::adding2sim && S.objectId == 0;
    });
    if (it == g_staticAcs.end()) {
        lf_removeOrphanObject(E.objectId);
        P.ticks = PendingActivation::kDone;
        return;
    }
    SimAc& ac = *it;
    gf_setAcState(ac, AcState::active);
    ac.objectId = E.objectId;
    lf_setParkedConfig(ac);
    P.ticks = PendingActivation::kDone;
    if (gf_isLogOpen()) {
        gf_logLine("{:8}: {:8} parked", gf_standName(ac.standId), ac.callsign);
    }
    if (ac.removeWhenCreated != 0) {
        ac.removeWhenCreated = 0;
        removeAircraftFromSim(ac, "removal asked for while it was created");
    }
}

} // namespace

bool updateLiveAc(LiveAc& AC)
{
    try {
        if (AC.state != AcState::active && AC.state != AcState::buffer) {
            // Respawn and spawn change the stream while the aircraft is away. A waiting aircraft
            // keeps its front point apart (kFrontKeptBuffered), which the active pass never takes.
            gf_forgetKeptFront(AC);
        }
        switch (AC.state) {
        case AcState::adding2sim:
        case AcState::liveryrespawn:
        case AcState::removingfromsim:
            return lf_anyRemoveFlag(AC);
        case AcState::buffer:
            lf_bufferedStage(AC);
            return lf_anyRemoveFlag(AC);
        case AcState::active:
            break;
        }
        if (AC.stream.empty()) {
            gf_logWarning("{} stream empty ? {}, hexid:{}, objectid:{}, alt:{:.0f} ft, lalo:{}, TAS:{:.0f}",
                          "updateLiveAc", gf_acDescription(AC), AC.id, gf_hexText(AC.objectId),
                          AC.block[kBlockAlt],
                          fmt::format("{:.6f},{:.6f}", AC.block[kBlockLat], AC.block[kBlockLon]),
                          AC.block[kBlockAirspeed]);
            removeAircraftFromSim(AC, "stream empty");
            return lf_anyRemoveFlag(AC);
        }
        const int32_t tick = g_tickCounter.load(std::memory_order_relaxed);
        if (!gf_keptFrontHolds(AC, LiveAc::kFrontKeptActive) || tick >= AC.frontPlayTick) {
            gf_forgetKeptFront(AC);
            if (tick >= AC.stream.front().playTick) {
                nextPosMain(AC);
            }
            if (AC.state != AcState::active || AC.stream.empty()) {
                return lf_anyRemoveFlag(AC);
            }
            lf_keepFront(AC, LiveAc::kFrontKeptActive);
        }
        const bool repeat = AC.frontRepeat != 0;
        AC.block[kBlockVerticalSpeed] = AC.verticalRate / 60.0;
        AC.block[kBlockAirspeed] = repeat ? 0.0 : AC.groundSpeed;
        if (!repeat) {
            lf_tickMove(AC);
        }
        if (!lf_blockIsFinite(AC)) {
            // The simulator is never sent a position it cannot place.
            gf_logWarning("{} not a finite position, altitude or attitude: {}, fs:{}", "updateLiveAc",
                          gf_acDescription(AC), gf_phaseName(AC.flightState));
            removeAircraftFromSim(AC, "not a finite position");
            return lf_anyRemoveFlag(AC);
        }
        if (AC.objectId != 0) {
            const auto& b = AC.block;
            gf_queuePosition(PositionUpdate{b[kBlockLat], b[kBlockLon], b[kBlockPitch], b[kBlockBank],
                                            b[kBlockHeading], b[kBlockAlt], b[kBlockVerticalSpeed],
                                            b[kBlockAirspeed], AC.objectId});
        } else {
            gf_logWarning("{} objectid=0? hexid: {},cs:{}, reg:{}, aimo:{} sz:{}", "updateLiveAc", AC.id,
                          AC.callsign, AC.registration, gf_kindText(AC.kind), AC.stream.size());
            removeAircraftFromSim(AC, "no object id");
        }
        return lf_anyRemoveFlag(AC);
    } catch (const std::exception& e) {
        gf_logLine("{}: {} {}, sz:{}, fs:{}, st:{}", "updateLiveAc", e.what(), gf_acDescription(AC),
                   AC.stream.size(), gf_phaseName(AC.flightState), gf_lifeStateName(AC.state));
        // The same error would come back every tick: this aircraft goes, the others drive on.
        try {
            removeAircraftFromSim(AC, "error while driving");
        } catch (const std::exception&) {
            AC.remove = 1;
        }
        return lf_anyRemoveFlag(AC);
    }
}

void gf_handleSimNotifications()
{
    // The reports are taken out under the simulator thread's mutex and handled after it; while
    // that thread appends, they wait for the next tick.
    static std::vector<SimNotification> s_notes;
    s_notes.clear();
    if (!gf_takeSimNotifications(s_notes)) {
        lf_activateCreated();
        return;
    }
    const ObjectIdIndexScope byObjectId;
    for (const SimNotification& n : s_notes) {
        switch (n.kind) {
        case kNoteLiveCreated:
            lf_onLiveCreated(n);
            break;
        case kNoteStaticCreated:
            lf_onStaticCreated(n);
            g_activationList.push_back(PendingActivation{.note = n});
            break;
        case kNoteObjectRemoved:
            gf_removeFlightPlan(n.objectId);
            lf_dropActivationOf(n.objectId);
            break;
        case kNoteGroundData:
            lf_onGroundData(n);
            break;
        case kNoteStaticCg:
            lf_onStaticCg(n);
            break;
        case kNoteCallsignBlocked:
            lf_removeWhileBlocked(n.aircraftId);
            break;
        case kNoteCreateFailed:
            lf_onCreateFailed(n);
            break;
        default:
            break;
        }
    }
    s_notes.clear();
    lf_activateCreated();
}

void lf_activateCreated()
{
    if (g_activationList.empty()) {
        return;
    }
    bool anyDone = false;
    for (PendingActivation& e : g_activationList) {
        const int32_t counter = e.ticks;
        if (counter < 0) {
            anyDone = true;
            continue;
        }
        if (counter < kActivationTicks) {
            e.ticks = counter + 1;
            if (e.note.kind == kNoteLiveCreated && (counter + 1 == 50 || counter + 1 == 100)) {
                gf_queueClientEvent(e.note.objectId, ALL_LIGHTS_TOGGLE, 0);
            }
            continue;
        }
        if (e.note.kind == kNoteLiveCreated) {
            lf_activateLive(e);
        } else {
            lf_activateStatic(e);
        }
        anyDone = true;
    }
    if (anyDone) {
        std::erase_if(g_activationList, [](const PendingActivation& E) { return E.ticks < 0; });
    }
}

namespace {

StaticCreationStep s_staticCreationStep = nullptr;

} // namespace

void gf_setStaticCreationStep(StaticCreationStep STEP)
{
    s_staticCreationStep = STEP;
}

void gf_paceAddingStack()
{
    const int32_t tick = g_tickCounter.load(std::memory_order_relaxed);
    if (tick % 10 != 0) {
        return;
    }
    if (!g_removalDeque.empty()) {
        gf_queueRemove(g_removalDeque.front());
        g_removalDeque.pop_front();
    }
    if (tick % 50 != 0) {
        return;
    }
    if (!g_liveAddingDeque.empty()) {
        gf_queueAiCreate(std::move(g_liveAddingDeque.front()));
        g_liveAddingDeque.pop_front();
        return;
    }
    if (!g_staticAddingDeque.empty()) {
        gf_queueAiCreate(std::move(g_staticAddingDeque.front()));
        g_staticAddingDeque.pop_front();
    }
    if (s_staticCreationStep != nullptr) {
        s_staticCreationStep();
    }
}

void lf_handleAddingStack()
{
    // Room for every live aircraft of a session, taken once per process.
    if (g_liveAcs.capacity() < kLiveAcPlaces) {
        g_liveAcs.reserve(kLiveAcPlaces);
    }
    gf_mergeHistoryBatches();
    gf_handleSimNotifications();

    bool anyErase = false;
    {
        const KeptActiveLiveCount activeCount;
        const std::size_t count = g_liveAcs.size();
        for (std::size_t i = 0; i < count && i < kPrefetchAhead; ++i) {
            lf_prefetchRecord(g_liveAcs[i]);
        }
        for (std::size_t i = 0; i < g_liveAcs.size(); ++i) {
            if (i + kPrefetchAhead < g_liveAcs.size()) {
                lf_prefetchRecord(g_liveAcs[i + kPrefetchAhead]);
            }
            anyErase = updateLiveAc(g_liveAcs[i]) || anyErase;
        }
    }
    if (anyErase) {
        std::erase_if(g_liveAcs, [](const LiveAc& AC) { return lf_anyRemoveFlag(AC); });
        gf_markObjectIdIndexStale();
    }

    gf_swapPositionBuffers();
    gf_paceAddingStack();

    // Up to two records a tick from the back of the handed-over batch, merged after the batch
    // mutex is let go, so that it is never held together with the queue mutex that the merge may
    // take. While the reader hands a batch over, they wait for the next tick.
    std::array<LiveTrafficRecord, 2> records;
    const std::size_t taken = gf_takeLiveRecords(records);
    for (std::size_t n = 0; n < taken; ++n) {
        lf_mergeLiveRecord(records[n]);
    }

    if (!g_addingStack.empty()) {
        const uint32_t id = g_addingStack.back();
        g_addingStack.pop_back();
        LiveAc* ac = gf_findLiveAc(id);
        // A stale entry (the aircraft was erased, or came back under the same id) is dropped.
        if (ac != nullptr && ac->state == AcState::adding2sim && ac->removeWhenCreated != 0) {
            // Removed while it waited here: it is not created at all.
            ac->removed = 1;
        } else if (ac != nullptr && ac->state == AcState::adding2sim) {
            if (!ac->callsign.empty()) {
                AiCreateRequest request;
                const auto& b = ac->block;
                request.initPos.Latitude = b[kBlockLat];
                request.initPos.Longitude = b[kBlockLon];
                request.initPos.Altitude = b[kBlockAlt];
                request.initPos.Pitch = b[kBlockPitch] * kRadToDeg;
                request.initPos.Bank = b[kBlockBank] * kRadToDeg;
                request.initPos.Heading = b[kBlockHeading] * kRadToDeg;
                request.initPos.OnGround = 0;
                request.initPos.Airspeed = 0;
                request.callsign = ac->callsign;
                request.liveryTitle = ac->liveryTitle;
                request.aircraftId = ac->id;
                g_liveAddingDeque.push_back(std::move(request));
            } else {
                gf_logWarning("{} {} objectid = 0?", "lf_handleAddingStack", gf_acDescription(*ac));
                // Without a callsign no create can be made: the record would stay in adding2sim.
                ac->remove = 1;
            }
        }
    }

    gf_requestAcWithinRange();
    g_tickCounter.fetch_add(1, std::memory_order_relaxed);
}

} // namespace qmt
