#pragma once
// The connection to the simulator and the thread that owns it.
//
// The SimClient thread opens the main connection, sets up its data definitions and events, and
// then dispatches the simulator's messages; on every "Frame" event it flushes the queues of
// simlink/SimQueues.h. Tests drive the same code without the thread: connect(), then after each
// simulated frame dispatch().

#include "platform/SimConnect.h"
#include "records/UserAircraft.h"
#include "simlink/SimQueues.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qmt {

// Data definitions of the main connection.
constexpr SIMCONNECT_DATA_DEFINITION_ID kDefEngineData = 401;   // spoilers, throttle 1 and 2 (percent)
constexpr SIMCONNECT_DATA_DEFINITION_ID kDefPosition = 402;      // the eight values of PositionUpdate
constexpr SIMCONNECT_DATA_DEFINITION_ID kDefGroundData = 403;   // ground altitude, height above ground, on ground
constexpr SIMCONNECT_DATA_DEFINITION_ID kDefUserAc = 404;       // the user aircraft's data
constexpr SIMCONNECT_DATA_DEFINITION_ID kDefStaticCg = 405;     // "Static CG to Ground", "Static Pitch"
constexpr SIMCONNECT_DATA_DEFINITION_ID kDefFacilityParking = 1001;

// Requests with fixed ids; creates, removes and the ground data of new objects take ids from
// kRequestFirstUnique on, one per call.
constexpr SIMCONNECT_DATA_REQUEST_ID kRequestUserSecond = 101;
constexpr SIMCONNECT_DATA_REQUEST_ID kRequestStaticCg = 102;
constexpr SIMCONNECT_DATA_REQUEST_ID kRequestUserOnce = 103;
constexpr SIMCONNECT_DATA_REQUEST_ID kRequestAcInRange = 104;
constexpr SIMCONNECT_DATA_REQUEST_ID kRequestSimState = 105;
constexpr SIMCONNECT_DATA_REQUEST_ID kRequestFlightPlan = 110;
constexpr SIMCONNECT_DATA_REQUEST_ID kRequestFacilityParking = 2001;
constexpr SIMCONNECT_DATA_REQUEST_ID kRequestFirstUnique = 100000;

// System events subscribed on the main connection.
constexpr SIMCONNECT_CLIENT_EVENT_ID kEventFrame = 1;
constexpr SIMCONNECT_CLIENT_EVENT_ID kEventObjectRemoved = 2;
constexpr SIMCONNECT_CLIENT_EVENT_ID kEventSimStart = 3;
constexpr SIMCONNECT_CLIENT_EVENT_ID kEventSimStop = 4;

// What the simulator thread writes about the user aircraft; guarded by g_userAcMutex.
struct UserAcShared {
    UserAcData ac;
    bool onGround = false;
    double halfSpanNm = 0.0;
    std::string callsign;
    bool secondData = false; // a once-a-second answer arrived since the last snapshot
};

// Guards g_userAcShared; a leaf lock (nothing else is taken while it is held).
extern std::mutex g_userAcMutex;
// Written by the simulator thread, copied by the worker once per tick; guarded by g_userAcMutex.
extern UserAcShared g_userAcShared;

// The handle of the main connection; null while not connected.
extern std::atomic<SIMCONNECT_HANDLE> g_hSimConnect;
// The object id of the user aircraft as the simulator reported it (0 while unknown).
extern std::atomic<std::uint32_t> g_userObjectId;
// Set when a direct request of the worker failed; the tick stops driving aircraft.
extern std::atomic<bool> g_simConnectError;
// Raised by the simulator thread with each once-a-second user-aircraft answer.
extern std::atomic<bool> g_simSecondFlag;
// Worker: whether a once-a-second answer came since the last call (lowers g_simSecondFlag).
bool gf_takeSimSecond();
// A flight runs in the simulator (between its start and stop events).
extern std::atomic<bool> g_simFlightRunning;
// Raised by the simulator thread when the park airport of the user should be looked at; the
// worker runs the look-up in gf_takeUserAcSnapshot.
extern std::atomic<bool> g_userParkNoteRequested;
// The look-up of the user's stand at the park airport, which the worker runs when the simulator
// thread asked for it. Static parking sits above the link and registers it at start-up; while
// none is registered the request is dropped.
using UserParkNote = void (*)();
void gf_setUserParkNote(UserParkNote NOTE);

enum class SimLinkState : int { idle, connecting, connected, failed, closed };
// Where the SimClient thread is; the session start waits for connected or failed.
extern std::atomic<SimLinkState> g_simLinkState;

// Worker, once per tick: copies the user aircraft's data into g_userAc and its neighbours and,
// when the simulator thread asked for it, runs the park-airport look-up of the user. Answers true
// when a once-a-second answer arrived since the last call.
bool gf_takeUserAcSnapshot();

// Called every tick by the engine; every 20th call asks the simulator thread to request the AI
// aircraft within RANGE (kind-3 notifications) and the user aircraft's position.
void gf_requestAcWithinRange();

// Sets g_isMsfs2020 from the simulator choice setting.
void gf_applySimChoice();

// A direct request of the worker failed: log, discard flag, stop, exit reason SIMCONNECT ERROR.
void gf_simConnectRequestError();

// Simulator frames that the SimClient has seen; the clock of its time-outs.
extern std::atomic<std::uint64_t> g_simFrames;
// Creates and requests that get neither an answer nor an exception within this many frames
// (about 20 s) are given up: a create then counts as failed.
constexpr std::uint64_t kSimAnswerTimeoutFrames = 600;

// Worker, right after a direct request on g_hSimConnect and still holding g_simQueueMutex:
// remembers its send id, so that a later exception can be traced back to it.
void gf_noteDirectRequest(SIMCONNECT_DATA_REQUEST_ID REQUEST_ID, std::uint32_t OBJECT_ID);

// Owns the main connection. All members run on one thread (the SimClient thread, or a test).
class SimClient {
public:
    // Opens the connection and sets up definitions, client events, system events and the
    // user-aircraft request. False when the simulator cannot be reached.
    bool connect();
    // Handles every message waiting now; a "Frame" event runs perFrame(). Answers the number of
    // messages handled. Sets quit() when the simulator closed.
    int dispatch();
    // The per-frame flush: only tries the queue mutex and skips a busy frame (answers false).
    // The queued events, removals and creates are swapped out under the request mutex first.
    bool perFrame();
    // Closes the connection.
    void close();

    bool quit() const { return m_quit; }
    std::size_t pendingCreateCount() const { return m_pending.size(); }
    std::size_t pendingGroundRequestCount() const { return m_groundRequests.size(); }
    std::uint32_t skippedFrames() const { return m_skippedFrames; }

private:
    struct CreatedObject {
        std::uint32_t objectId = 0;
        std::uint32_t aircraftId = 0;
        std::string callsign;
        std::uint32_t sendId = 0;
        std::uint64_t sentFrame = 0;
    };
    std::uint32_t lf_nextRequestId() { return m_nextRequestId++; }
    std::uint32_t lf_lastSendId() const;
    void lf_handle(const SIMCONNECT_RECV& MSG);
    void lf_onException(const SIMCONNECT_RECV_EXCEPTION& MSG);
    void lf_onAssignedId(const SIMCONNECT_RECV_ASSIGNED_OBJECT_ID& MSG);
    void lf_onObjectData(const SIMCONNECT_RECV_SIMOBJECT_DATA& MSG);
    void lf_onUserData(const SIMCONNECT_RECV_SIMOBJECT_DATA& MSG, bool SECOND);
    void lf_sendRangeRequests();
    void lf_giveUpUnanswered();

    SIMCONNECT_HANDLE m_handle = nullptr;
    std::map<std::uint32_t, PendingCreate> m_pending;        // by create request id
    std::map<std::uint32_t, CreatedObject> m_groundRequests; // by ground-data request id
    std::uint32_t m_nextRequestId = kRequestFirstUnique;
    std::uint32_t m_skippedFrames = 0;
    // One frame's requests, taken out of the queues by perFrame() and empty between its calls
    // (their room is kept for the next frame).
    std::vector<ClientEventCmd> m_sendEvents;
    std::vector<std::uint32_t> m_sendRemoves;
    std::vector<AiCreateRequest> m_sendCreates;
    bool m_quit = false;
    // What this connection saw, for the closing line of the log.
    std::uint32_t m_created = 0;
    std::uint32_t m_removed = 0;
    std::uint32_t m_givenUp = 0;
    // The kinds of refused answers logged so far (each is logged once).
    std::uint32_t m_refusedLogged = 0;
};

// Starts the SimClient thread (connect, then dispatch until stopped or the simulator quits).
void gf_startSimClient();
// Stops and joins the SimClient thread, then runs the park-airport look-up it asked for.
void gf_stopSimClient();

// Resets every global of this folder (queues, notifications, user data, flags).
void gf_resetSimLinkForTests();

} // namespace qmt
