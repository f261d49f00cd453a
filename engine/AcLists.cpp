#include "engine/AcLists.h"

#include <algorithm>

#include "core/Parameters.h"
#include "engine/Intake.h"
#include "liveries/Matching.h"

namespace qmt {

std::vector<LiveAc, HugePageAllocator<LiveAc>> g_liveAcs;
std::vector<SimAc> g_staticAcs;
std::vector<uint32_t> g_addingStack;
std::deque<AiCreateRequest> g_liveAddingDeque;
std::deque<AiCreateRequest> g_staticAddingDeque;
std::deque<uint32_t> g_removalDeque;
std::vector<PendingActivation> g_activationList;
std::vector<std::string> g_blockedGhosts;
std::list<uint32_t> g_twinCheckIds;
std::atomic<int32_t> g_tickCounter{0};
uint32_t g_callsignObjectId = 0;
uint64_t g_liveRecordVisits = 0;

void lf_eraseLiveAc(LiveAc& AC)
{
    // An active record that goes leaves the kept count; the last record takes another place.
    gf_setAcState(AC, AcState::buffer);
    gf_markObjectIdIndexStale();
    LiveAc* last = &g_liveAcs.back();
    if (&AC != last) {
        AC = std::move(*last);
    }
    g_liveAcs.pop_back();
}

void gf_eraseWithdrawnLiveAcs()
{
    std::erase_if(g_liveAcs, [](const LiveAc& AC) { return AC.removed != 0; });
    gf_markObjectIdIndexStale();
}

void gf_eraseWithdrawnStaticAcs()
{
    std::erase_if(g_staticAcs, [](const SimAc& AC) { return AC.removed != 0; });
}

SimAc& gf_addStaticAc(const AcProfile& PROFILE, uint32_t STAND_ID, double LAT, double LON, double HEADING,
                      bool NO_CABIN_LIGHT)
{
    return g_staticAcs.emplace_back(PROFILE, STAND_ID, LAT, LON, HEADING, NO_CABIN_LIGHT);
}

void gf_queueStaticCreate(AiCreateRequest REQUEST)
{
    g_staticAddingDeque.push_back(std::move(REQUEST));
}

std::optional<uint32_t> gf_takeTwinCheckId()
{
    if (g_twinCheckIds.empty()) {
        return std::nullopt;
    }
    const uint32_t id = g_twinCheckIds.front();
    g_twinCheckIds.pop_front();
    return id;
}

void gf_updateCallsignObjectId()
{
    const std::string chosen = CALLSIGN_2_OBJECTID.chosen();
    if (chosen.empty()) {
        return;
    }
    for (const LiveAc& ac : g_liveAcs) {
        if (ac.state == AcState::active && ac.callsign == chosen) {
            g_callsignObjectId = ac.objectId;
            return;
        }
    }
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
    g_liveRecordVisits += static_cast<uint64_t>(it - g_liveAcs.begin()) + (it == g_liveAcs.end() ? 0 : 1);
    return it == g_liveAcs.end() ? nullptr : &*it;
}

namespace {

// Object id to record index, open addressing with linear probing. A slot with object id 0 is
// empty (0 is never an object of ours). The table has at least twice as many slots as records,
// so probes stay short, and keeps its storage between builds: once the tick has seen its largest
// number of aircraft, a build allocates nothing.
struct ObjectIdSlot {
    uint32_t objectId = 0;
    uint32_t index = 0;
};
std::vector<ObjectIdSlot> s_objectIdSlots;
unsigned s_objectIdShift = 64;
bool s_objectIdIndexUsed = false;  // an ObjectIdIndexScope is open
bool s_objectIdIndexFresh = false; // built since the last change of object ids or places

// The kept count of active live aircraft: s_activeCountKept while a KeptActiveLiveCount lives,
// s_activeCounted once the first question in its life has counted them.
bool s_activeCountKept = false;
bool s_activeCounted = false;
uint32_t s_keptActiveCount = 0;

std::size_t lf_firstSlot(uint32_t OBJECT_ID)
{
    // Fibonacci hashing: the top bits of the product spread neighbouring ids over the table.
    return static_cast<std::size_t>((static_cast<uint64_t>(OBJECT_ID) * 0x9E3779B97F4A7C15ull) >> s_objectIdShift);
}

void lf_buildObjectIdIndex()
{
    std::size_t slots = 16;
    unsigned bits = 4;
    while (slots < 2 * g_liveAcs.size()) {
        slots *= 2;
        ++bits;
    }
    s_objectIdSlots.assign(slots, ObjectIdSlot{});
    s_objectIdShift = 64 - bits;
    const std::size_t mask = slots - 1;
    for (std::size_t i = 0; i < g_liveAcs.size(); ++i) {
        const uint32_t objectId = g_liveAcs[i].objectId;
        if (objectId == 0) {
            continue;
        }
        std::size_t at = lf_firstSlot(objectId);
        while (s_objectIdSlots[at].objectId != 0 && s_objectIdSlots[at].objectId != objectId) {
            at = (at + 1) & mask;
        }
        // Two records with one object id: the first in list order answers, as a search would.
        if (s_objectIdSlots[at].objectId == 0) {
            s_objectIdSlots[at] = ObjectIdSlot{objectId, static_cast<uint32_t>(i)};
        }
    }
    g_liveRecordVisits += g_liveAcs.size();
    s_objectIdIndexFresh = true;
}

// The record the index gives for the object id; nullptr when it gives none or a record that no
// longer holds that id.
LiveAc* lf_indexedLiveAc(uint32_t OBJECT_ID)
{
    const std::size_t mask = s_objectIdSlots.size() - 1;
    for (std::size_t at = lf_firstSlot(OBJECT_ID); s_objectIdSlots[at].objectId != 0; at = (at + 1) & mask) {
        if (s_objectIdSlots[at].objectId != OBJECT_ID) {
            continue;
        }
        const uint32_t index = s_objectIdSlots[at].index;
        if (index < g_liveAcs.size() && g_liveAcs[index].objectId == OBJECT_ID) {
            return &g_liveAcs[index];
        }
        return nullptr;
    }
    return nullptr;
}

} // namespace

LiveAc* gf_findLiveAcByObjectId(uint32_t OBJECT_ID)
{
    // Records without an object all hold 0, and the index keeps none of them.
    if (!s_objectIdIndexUsed || OBJECT_ID == 0) {
        auto it = std::find_if(g_liveAcs.begin(), g_liveAcs.end(),
                               [OBJECT_ID](const LiveAc& AC) { return AC.objectId == OBJECT_ID; });
        g_liveRecordVisits += static_cast<uint64_t>(it - g_liveAcs.begin()) + (it == g_liveAcs.end() ? 0 : 1);
        return it == g_liveAcs.end() ? nullptr : &*it;
    }
    if (!s_objectIdIndexFresh) {
        lf_buildObjectIdIndex();
    }
    return lf_indexedLiveAc(OBJECT_ID);
}

ObjectIdIndexScope::ObjectIdIndexScope()
{
    s_objectIdIndexUsed = true;
    s_objectIdIndexFresh = false;
}

ObjectIdIndexScope::~ObjectIdIndexScope()
{
    s_objectIdIndexUsed = false;
    s_objectIdIndexFresh = false;
}

void gf_markObjectIdIndexStale()
{
    s_objectIdIndexFresh = false;
}

void gf_setAcState(SimAc& AC, AcState STATE)
{
    if (s_activeCounted && AC.isLive()) {
        if (AC.state == AcState::active && STATE != AcState::active) {
            --s_keptActiveCount;
        } else if (AC.state != AcState::active && STATE == AcState::active) {
            ++s_keptActiveCount;
        }
    }
    AC.state = STATE;
}

namespace {

uint32_t lf_countActiveLive()
{
    g_liveRecordVisits += g_liveAcs.size();
    return static_cast<uint32_t>(std::count_if(g_liveAcs.begin(), g_liveAcs.end(),
                                               [](const LiveAc& A) { return A.state == AcState::active; }));
}

} // namespace

uint32_t gf_activeLiveCount()
{
    if (!s_activeCountKept) {
        return lf_countActiveLive();
    }
    if (!s_activeCounted) {
        s_keptActiveCount = lf_countActiveLive();
        s_activeCounted = true;
    }
    return s_keptActiveCount;
}

KeptActiveLiveCount::KeptActiveLiveCount()
{
    s_activeCountKept = true;
    s_activeCounted = false;
}

KeptActiveLiveCount::~KeptActiveLiveCount()
{
    s_activeCountKept = false;
    s_activeCounted = false;
}

SimAc* gf_findStaticAc(uint32_t ID)
{
    auto it = std::find_if(g_staticAcs.begin(), g_staticAcs.end(),
                           [ID](const SimAc& AC) { return AC.id == ID; });
    return it == g_staticAcs.end() ? nullptr : &*it;
}

void gf_clearSessionLists()
{
    g_liveAcs.clear();
    gf_markObjectIdIndexStale();
    g_staticAcs.clear();
    g_addingStack.clear();
    g_liveAddingDeque.clear();
    g_staticAddingDeque.clear();
    g_removalDeque.clear();
    g_activationList.clear();
    g_blockedGhosts.clear();
    gf_clearNoMatches();
}

void gf_forgetLiveriesOfGoneAircraft()
{
    std::unordered_set<uint32_t> present;
    for (const LiveAc& ac : g_liveAcs) {
        present.insert(ac.id);
    }
    gf_forgetChosenLiveries(present);
}

void gf_resetEngineForTests()
{
    gf_clearSessionLists();
    g_twinCheckIds.clear();
    g_tickCounter = 0;
    g_callsignObjectId = 0;
    gf_clearLiveryNotesForTests();
    g_liveRecordVisits = 0;
    gf_resetIntakeForTests();
}

} // namespace qmt
