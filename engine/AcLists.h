#pragma once

// The engine's containers of aircraft records, the searches that the tick repeats over them and
// the count of active live aircraft. Everything here belongs to the worker thread unless a
// comment says otherwise.

#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "core/HugePages.h"
#include "records/AcRecords.h"
#include "simlink/SimQueues.h"

namespace qmt {

// A created aircraft waiting for its activation: the simulator's report of the creation and the
// ticks it has waited since.
struct PendingActivation {
    static constexpr int32_t kDone = -1; // activated, or given up; swept at the end of the pass
    SimNotification note;
    int32_t ticks = 0;
};

// ---- global containers (worker thread only, unless stated) ----

// All live aircraft; the tick walks them all, so they lie in huge pages.
extern std::vector<LiveAc, HugePageAllocator<LiveAc>> g_liveAcs;
extern std::vector<SimAc> g_staticAcs;                // static parked aircraft (filled by the parking code)
extern std::vector<uint32_t> g_addingStack;           // hex ids just spawned; the tick pops the back
extern std::deque<AiCreateRequest> g_liveAddingDeque;   // live create requests waiting for the pacing step
extern std::deque<AiCreateRequest> g_staticAddingDeque; // static create requests waiting for the pacing step
extern std::deque<uint32_t> g_removalDeque;           // object ids waiting for the pacing step to remove them
extern std::vector<PendingActivation> g_activationList; // created aircraft waiting for activation
extern std::vector<std::string> g_blockedGhosts;      // callsigns of removed ghosts
extern std::list<uint32_t> g_twinCheckIds;            // hex ids for the once-a-second twin check
extern std::atomic<int32_t> g_tickCounter;            // ticks of the worker loop; read by the traffic reader too
extern uint32_t g_callsignObjectId;                   // object id of the aircraft chosen for the callsign display

// ---- erasing and finding records ----

// Erases one aircraft of g_liveAcs by moving the last record into its place.
void lf_eraseLiveAc(LiveAc& AC);
// Erases one aircraft of g_staticAcs by moving the last record into its place.
void lf_eraseStaticAc(SimAc& AC);
LiveAc* gf_findLiveAc(uint32_t ID);
SimAc* gf_findStaticAc(uint32_t ID);
// Erases the records whose create request was withdrawn before it reached the simulator (their
// removed flag is set): those the tick's pass has not yet swept.
void gf_eraseWithdrawnLiveAcs();
void gf_eraseWithdrawnStaticAcs();

// ---- what the static parking hands to the engine ----

// A new static aircraft on its stand, appended to g_staticAcs; the caller completes the record
// (lf_eraseStaticAc takes it back).
SimAc& gf_addStaticAc(const AcProfile& PROFILE, uint32_t STAND_ID, double LAT, double LON, double HEADING,
                      bool NO_CABIN_LIGHT);
// The create request of a static aircraft, for the pacing step (after every live one).
void gf_queueStaticCreate(AiCreateRequest REQUEST);

// ---- once a second ----

// The next hex id of the twin-check list (aircraft that touched down, were born or arrived at a
// stand), or none.
std::optional<uint32_t> gf_takeTwinCheckId();
// Points g_callsignObjectId at the active live aircraft whose callsign is chosen in
// CALLSIGN_2_OBJECTID; unchanged while none is chosen or none has it.
void gf_updateCallsignObjectId();

// ---- searches that the tick repeats for many aircraft ----

// The live aircraft that holds the simulator object id; in constant time inside an
// ObjectIdIndexScope, else by a search of the list.
LiveAc* gf_findLiveAcByObjectId(uint32_t OBJECT_ID);
// Lookups by object id use an index for as long as it lives: the index is built with one pass
// over g_liveAcs at the first lookup, and again at the first lookup after
// gf_markObjectIdIndexStale. So a drain of one ground-data notification per aircraft costs one
// pass, not one per notification.
class ObjectIdIndexScope {
public:
    ObjectIdIndexScope();
    ~ObjectIdIndexScope();
    ObjectIdIndexScope(const ObjectIdIndexScope&) = delete;
    ObjectIdIndexScope& operator=(const ObjectIdIndexScope&) = delete;
};
// Called by whatever assigns an object id to a live record or moves records in g_liveAcs.
void gf_markObjectIdIndexStale();

// Sets the life state of a record. While the tick's update pass keeps the count of active live
// aircraft, a live record that enters or leaves the active state moves that count.
void gf_setAcState(SimAc& AC, AcState STATE);
// Active live aircraft, as the birth stage compares them with MAX_LIVE_SEL: the kept count
// during the update pass, else counted.
uint32_t gf_activeLiveCount();
// Keeps the count of active live aircraft for as long as it lives: counted at the first question,
// so that the aircraft at birth in the tick's update pass do not each count every record again.
class KeptActiveLiveCount {
public:
    KeptActiveLiveCount();
    ~KeptActiveLiveCount();
    KeptActiveLiveCount(const KeptActiveLiveCount&) = delete;
    KeptActiveLiveCount& operator=(const KeptActiveLiveCount&) = delete;
};

// Records of g_liveAcs looked at by the searches and counts above and by gf_findLiveAc: the work
// that grows with the number of aircraft, read by the tick benchmark and the linearity tests.
extern uint64_t g_liveRecordVisits;

// Empties the aircraft lists of a session (records, adding and removal queues, activation list,
// blocked ghosts, no-match set); the tick counter and the twin-check ids are kept.
void gf_clearSessionLists();
// Forgets the liveries remembered for aircraft that have been gone a whole period between two
// calls (every 20 minutes).
void gf_forgetLiveriesOfGoneAircraft();
// Empties every engine container, the history batches and the tick counter.
void gf_resetEngineForTests();

} // namespace qmt
