#pragma once
// The queues between the worker and the simulator thread, and the simulator thread's reports.
//
// Lock order: g_simQueueMutex before g_simRequestMutex; g_simNotifyMutex is taken alone. The
// worker's tick only tries the notify mutex (to take the reports out) and the queue mutex (to swap
// the position buffers) and skips to its next tick when one is busy; it queues client events,
// removals and creates under the request mutex, which the simulator thread holds only to swap
// them out, never through its flush. The simulator thread's per-frame flush only tries the queue
// mutex, and it appends notifications under the notify mutex alone.

#include "platform/SimConnect.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qmt {

// Client event ids of the main connection, mapped to the simulator's events at connect.
constexpr std::uint32_t BEACON_LIGHTS_SET = 206;
constexpr std::uint32_t NAV_LIGHTS_SET = 207;
constexpr std::uint32_t TAXI_LIGHTS_SET = 208;
constexpr std::uint32_t STROBES_SET = 209;
constexpr std::uint32_t LANDING_LIGHTS_SET = 210;
constexpr std::uint32_t CABIN_LIGHTS_SET = 211;
constexpr std::uint32_t LOGO_LIGHTS_SET = 212;
constexpr std::uint32_t ALL_LIGHTS_TOGGLE = 213;
constexpr std::uint32_t FLAPS_SET = 217;
constexpr std::uint32_t SPOILERS_SET = 218;
constexpr std::uint32_t GEAR_SET = 219;
constexpr std::uint32_t ENGINE_AUTO_START = 220;
constexpr std::uint32_t ENGINE_AUTO_SHUTDOWN = 221;
constexpr std::uint32_t THROTTLE_SET = 222;

// One client event for one AI object, sent on the next simulator frame.
struct ClientEventCmd {
    std::uint32_t objectId = 0;
    std::uint32_t eventId = 0;
    std::uint32_t value = 0;
};

// The eight values of data definition 402 and the object they are for.
struct PositionUpdate {
    double latitude = 0.0;      // degrees
    double longitude = 0.0;     // degrees
    double pitch = 0.0;         // radians, negative nose up
    double bank = 0.0;          // radians, negative to the right
    double heading = 0.0;       // radians, true
    double altitude = 0.0;      // feet
    double verticalSpeed = 0.0; // feet per second
    double trueAirspeed = 0.0;  // knots
    std::uint32_t objectId = 0;
};

// One creation for the simulator. aircraftId is the live aircraft's hex id (above 10000) or the
// static aircraft's id (up to 10000); it comes back in the notification.
struct AiCreateRequest {
    SIMCONNECT_DATA_INITPOSITION initPos{};
    std::string callsign;
    std::string_view liveryTitle; // a view into the livery tables; the queue is emptied before they are cleared
    std::uint32_t aircraftId = 0;
};

// A create sent to the simulator and waiting for its object id. The object id comes back with
// the request id of the call, which is unique per create; a refusal comes back as an exception
// that names the send id of the call. The callsign is kept for log lines only.
struct PendingCreate {
    std::uint32_t requestId = 0;
    std::uint32_t sendId = 0;
    std::uint32_t aircraftId = 0;
    std::string callsign;
    std::string liveryTitle;
    std::uint64_t sentFrame = 0; // simulator frame of the call, for the time-out
};

// A request that the worker made itself on the shared handle (StaticCG, flight plan), kept
// until its answer or its exception comes, or until it times out.
struct DirectRequest {
    std::uint32_t sendId = 0;
    std::uint32_t requestId = 0;
    std::uint32_t objectId = 0;
    std::uint64_t sentFrame = 0;
};

// Kinds of SimNotification.
constexpr std::uint32_t kNoteLiveCreated = 0;   // values: ground altitude, height above ground (ft)
constexpr std::uint32_t kNoteStaticCreated = 1; // values as kind 0
constexpr std::uint32_t kNoteObjectRemoved = 2;
constexpr std::uint32_t kNoteGroundData = 3;    // aircraftId holds the on-ground flag
constexpr std::uint32_t kNoteStaticCg = 4;      // values: CG height (ft), static pitch (rad)
constexpr std::uint32_t kNoteCallsignBlocked = 5;
constexpr std::uint32_t kNoteCreateFailed = 6;  // aircraftId of the failed create

// A report from the simulator thread (or the feed, kind 5) to the worker.
struct SimNotification {
    std::uint32_t objectId = 0;
    std::uint32_t aircraftId = 0;
    std::uint32_t spare = 0;
    std::uint32_t kind = 0;
    double value1 = 0.0;
    double value2 = 0.0;
};

// Guards the position read buffer and the direct requests, and every packet on the shared handle.
extern std::mutex g_simQueueMutex;
// Guards the client event, create and removal queues; held only to append to them or swap them.
extern std::mutex g_simRequestMutex;
// Client events to send on the next frame; guarded by g_simRequestMutex.
extern std::vector<ClientEventCmd> g_clientEventQueue;
// Positions the worker fills during a tick; worker only, exchanged with the read buffer by
// gf_swapPositionBuffers under g_simQueueMutex.
extern std::vector<PositionUpdate> g_positionWriteBuffer;
// Positions handed over by the last swap, sent by the next frame; guarded by g_simQueueMutex.
extern std::vector<PositionUpdate> g_positionReadBuffer;
// Creates to send on the next frame; guarded by g_simRequestMutex.
extern std::vector<AiCreateRequest> g_createQueue;
// Object ids to remove on the next frame; guarded by g_simRequestMutex.
extern std::vector<std::uint32_t> g_removeQueue;
// The worker's direct requests still waiting for an answer or an exception; guarded by
// g_simQueueMutex (the requests themselves are made under it, so their send ids are theirs).
extern std::vector<DirectRequest> g_directRequests;

// Guards g_simNotifications; taken alone.
extern std::mutex g_simNotifyMutex;
// Reports for the worker, drained by it every tick; guarded by g_simNotifyMutex.
extern std::vector<SimNotification> g_simNotifications;

// Appends one create request (under the request mutex).
void gf_queueAiCreate(AiCreateRequest REQUEST);
// Appends one removal (under the request mutex).
void gf_queueRemove(std::uint32_t OBJECT_ID);
// Appends one client event (under the request mutex).
void gf_queueClientEvent(std::uint32_t OBJECT_ID, std::uint32_t EVENT_ID, std::uint32_t VALUE);
// The seven light sets in the order NAV, BEACON, LANDING, TAXI, STROBES, LOGO, CABIN.
void gf_queueLights(std::uint32_t OBJECT_ID, std::uint32_t NAV, std::uint32_t BEACON, std::uint32_t LANDING,
                    std::uint32_t TAXI, std::uint32_t STROBES, std::uint32_t LOGO, std::uint32_t CABIN);
void gf_queueCabinLights(std::uint32_t OBJECT_ID, std::uint32_t VALUE);
void gf_queueEngineStart(std::uint32_t OBJECT_ID);
void gf_queueEngineShutdown(std::uint32_t OBJECT_ID);

// Worker, once per tick: tries the queue mutex; got it: the write buffer becomes the read buffer
// and the new write buffer is empty, answer true. Busy: the write buffer is emptied (this tick's
// positions are not sent), answer false.
bool gf_swapPositionBuffers();

// Worker, during a tick: the position of one aircraft for this tick's write buffer.
inline void gf_queuePosition(const PositionUpdate& POSITION)
{
    g_positionWriteBuffer.push_back(POSITION);
}

// Appends one notification under g_simNotifyMutex (any thread that holds neither mutex).
void gf_addSimNotification(const SimNotification& NOTE);
// Worker, once per tick: tries g_simNotifyMutex; got it: the reports so far are swapped into INTO
// (passed empty, so that its room is used again) and the answer is true. Busy: nothing moves and
// the answer is false; the reports wait for the next tick.
bool gf_takeSimNotifications(std::vector<SimNotification>& INTO);

// Empties every queue and the notifications. Called when a session ends, after the client thread
// has stopped: queued creates hold views into the livery tables, which may be cleared next.
void gf_clearSimQueues();
// Empties every queue and the notifications.
void gf_resetSimQueuesForTests();

} // namespace qmt
