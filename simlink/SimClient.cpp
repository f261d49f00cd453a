#include "simlink/SimClient.h"

#include "core/Log.h"
#include "core/LoopClock.h"
#include "core/Parameters.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "core/ThreadName.h"
#include "records/AcIds.h"
#include "simlink/SimAnswers.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

namespace qmt {

std::mutex g_userAcMutex;
UserAcShared g_userAcShared;

std::atomic<SIMCONNECT_HANDLE> g_hSimConnect{nullptr};
std::atomic<std::uint32_t> g_userObjectId{0};
std::atomic<bool> g_simConnectError{false};
std::atomic<bool> g_simSecondFlag{false};
std::atomic<bool> g_simFlightRunning{false};
std::atomic<bool> g_userParkNoteRequested{false};
std::atomic<SimLinkState> g_simLinkState{SimLinkState::idle};
std::atomic<std::uint64_t> g_simFrames{0};

namespace {

// Raised by gf_requestAcWithinRange every 20th call; the simulator thread makes the requests.
std::atomic<bool> s_rangeRequestDue{false};
// Calls of gf_requestAcWithinRange (worker only).
std::uint32_t s_rangeCalls = 0;

// The SimClient thread and its own stop flag (worker only, besides the flag).
std::thread s_clientThread;
std::atomic<bool> s_stopClient{false};

// Registered by static parking at start-up; run on the worker only.
std::atomic<UserParkNote> s_userParkNote{nullptr};

// Runs the look-up of the user's stand when the simulator thread asked for it.
void lf_runUserParkNote()
{
    if (!g_userParkNoteRequested.exchange(false)) {
        return;
    }
    if (const UserParkNote note = s_userParkNote.load()) {
        note();
    }
}

struct Datum {
    const char* name;
    const char* units;
    SIMCONNECT_DATATYPE type = SIMCONNECT_DATATYPE_FLOAT64;
};

struct Definition {
    SIMCONNECT_DATA_DEFINITION_ID id;
    std::vector<Datum> data;
};

const std::vector<Definition>& lf_definitions()
{
    static const std::vector<Definition> defs = {
        {kDefEngineData,
         {{"SPOILERS HANDLE POSITION", "percent"},
          {"GENERAL ENG THROTTLE LEVER POSITION:1", "percent"},
          {"GENERAL ENG THROTTLE LEVER POSITION:2", "percent"}}},
        {kDefPosition,
         {{"PLANE LATITUDE", "degrees"},
          {"PLANE LONGITUDE", "degrees"},
          {"PLANE PITCH DEGREES", "radians"},
          {"PLANE BANK DEGREES", "radians"},
          {"PLANE HEADING DEGREES TRUE", "radians"},
          {"PLANE ALTITUDE", "feet"},
          {"VERTICAL SPEED", "feet per second"},
          {"AIRSPEED TRUE", "knots"}}},
        {kDefGroundData,
         {{"GROUND ALTITUDE", "feet"}, {"PLANE ALT ABOVE GROUND", "feet"}, {"SIM ON GROUND", "bool"}}},
        {kDefUserAc,
         {{"PLANE LATITUDE", "degrees"},
          {"PLANE LONGITUDE", "degrees"},
          {"PLANE PITCH DEGREES", "radians"},
          {"PLANE BANK DEGREES", "radians"},
          {"PLANE HEADING DEGREES TRUE", "radians"},
          {"PLANE ALTITUDE", "feet"},
          {"PLANE ALT ABOVE GROUND", "feet"},
          {"GROUND VELOCITY", "knots"},
          {"SIM ON GROUND", "bool"},
          {"WINGSPAN", "feet"},
          {"ATC ID", nullptr, SIMCONNECT_DATATYPE_STRING32}}},
        {kDefStaticCg, {{"STATIC CG TO GROUND", "feet"}, {"STATIC PITCH", "radians"}}},
    };
    return defs;
}

// Client event ids and the simulator events they stand for.
const std::vector<std::pair<std::uint32_t, const char*>>& lf_clientEvents()
{
    static const std::vector<std::pair<std::uint32_t, const char*>> events = {
        {BEACON_LIGHTS_SET, "BEACON_LIGHTS_SET"}, {NAV_LIGHTS_SET, "NAV_LIGHTS_SET"},
        {TAXI_LIGHTS_SET, "TAXI_LIGHTS_SET"},     {STROBES_SET, "STROBES_SET"},
        {LANDING_LIGHTS_SET, "LANDING_LIGHTS_SET"}, {CABIN_LIGHTS_SET, "CABIN_LIGHTS_SET"},
        {LOGO_LIGHTS_SET, "LOGO_LIGHTS_SET"},     {ALL_LIGHTS_TOGGLE, "ALL_LIGHTS_TOGGLE"},
        {FLAPS_SET, "FLAPS_SET"},                 {SPOILERS_SET, "SPOILERS_SET"},
        {GEAR_SET, "GEAR_SET"},                   {ENGINE_AUTO_START, "ENGINE_AUTO_START"},
        {ENGINE_AUTO_SHUTDOWN, "ENGINE_AUTO_SHUTDOWN"}, {THROTTLE_SET, "THROTTLE_SET"},
    };
    return events;
}

// Reads the i-th f64 of an object data record; 0 when the record is too short.
double lf_f64(const SIMCONNECT_RECV_SIMOBJECT_DATA& MSG, std::size_t INDEX)
{
    double v = 0.0;
    if (MSG.pData != nullptr && (INDEX + 1) * sizeof v <= MSG.dwDataSize) {
        std::memcpy(&v, MSG.pData + INDEX * sizeof v, sizeof v);
    }
    return v;
}

} // namespace

void gf_setUserParkNote(UserParkNote NOTE)
{
    s_userParkNote.store(NOTE);
}

bool gf_takeUserAcSnapshot()
{
    bool second = false;
    {
        std::lock_guard lock(g_userAcMutex);
        g_userAc = g_userAcShared.ac;
        g_userOnGround = g_userAcShared.onGround;
        g_userHalfSpan = g_userAcShared.halfSpanNm;
        g_userCallsign = g_userAcShared.callsign;
        second = g_userAcShared.secondData;
        g_userAcShared.secondData = false;
    }
    // The stand table belongs to the worker, so the look-up runs here, not on the simulator thread.
    lf_runUserParkNote();
    return second;
}

void gf_requestAcWithinRange()
{
    if (++s_rangeCalls % 20 == 0) {
        s_rangeRequestDue.store(true);
    }
}

void gf_applySimChoice()
{
    g_isMsfs2020.store(SIM_CHOICE.value() == 2020);
}

void gf_noteDirectRequest(SIMCONNECT_DATA_REQUEST_ID REQUEST_ID, std::uint32_t OBJECT_ID)
{
    std::uint32_t sendId = 0;
    if (FAILED(SimConnect_GetLastSentPacketID(g_hSimConnect.load(), &sendId))) {
        return;
    }
    g_directRequests.push_back({sendId, REQUEST_ID, OBJECT_ID, g_simFrames.load()});
}

void gf_simConnectRequestError()
{
    gf_logLine("SimConnect request error");
    g_simConnectError.store(true);
    gf_requestExit(ExitReason::simConnectError, 9);
}

// ---- SimClient ----

bool SimClient::connect()
{
    SIMCONNECT_HANDLE h = nullptr;
    const HRESULT hr = SimConnect_Open(&h, "Quillon", nullptr, 0, nullptr, 0);
    if (FAILED(hr)) {
        gf_logWarning("SimConnect_Open FAILED hr=0x{:08X}", static_cast<std::uint32_t>(hr));
        return false;
    }
    bool ok = true;
    for (const Definition& def : lf_definitions()) {
        for (const Datum& d : def.data) {
            ok = ok && SUCCEEDED(SimConnect_AddToDataDefinition(h, def.id, d.name, d.units, d.type));
        }
    }
    for (const auto& [id, name] : lf_clientEvents()) {
        ok = ok && SUCCEEDED(SimConnect_MapClientEventToSimEvent(h, id, name));
    }
    ok = ok && SUCCEEDED(SimConnect_SubscribeToSystemEvent(h, kEventFrame, "Frame"));
    ok = ok && SUCCEEDED(SimConnect_SubscribeToSystemEvent(h, kEventObjectRemoved, "ObjectRemoved"));
    ok = ok && SUCCEEDED(SimConnect_SubscribeToSystemEvent(h, kEventSimStart, "SimStart"));
    ok = ok && SUCCEEDED(SimConnect_SubscribeToSystemEvent(h, kEventSimStop, "SimStop"));
    ok = ok && SUCCEEDED(SimConnect_RequestDataOnSimObject(h, kRequestUserSecond, kDefUserAc,
                                                           SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_SECOND));
    // A simulator that is already in a flight sends no start event: ask whether one runs.
    ok = ok && SUCCEEDED(SimConnect_RequestSystemState(h, kRequestSimState, "Sim"));
    if (!ok) {
        gf_logWarning("SimConnect set-up of the main connection failed");
        SimConnect_Close(h);
        return false;
    }
    m_handle = h;
    m_quit = false;
    g_hSimConnect.store(h);
    gf_logLine("SimConnect connected");
    return true;
}

void SimClient::close()
{
    if (m_handle == nullptr) {
        return;
    }
    HRESULT hr = S_OK;
    {
        // The worker makes its direct requests under this mutex with the handle it reads there.
        std::lock_guard lock(g_simQueueMutex);
        g_hSimConnect.store(nullptr);
        g_directRequests.clear();
        hr = SimConnect_Close(m_handle);
    }
    if (FAILED(hr)) {
        gf_logWarning("Closing SimConnect failed?!");
    }
    gf_logLine("SimConnect closed: {} AI object{} created, {} removed, {} create{} given up", m_created,
               gf_plural(m_created), m_removed, m_givenUp, gf_plural(m_givenUp));
    m_handle = nullptr;
    m_pending.clear();
    m_groundRequests.clear();
}

std::uint32_t SimClient::lf_lastSendId() const
{
    std::uint32_t sendId = 0;
    SimConnect_GetLastSentPacketID(m_handle, &sendId);
    return sendId;
}

int SimClient::dispatch()
{
    int handled = 0;
    SIMCONNECT_RECV* msg = nullptr;
    std::uint32_t size = 0;
    // Bounded, so that a flood of messages cannot keep the stop flag from being seen.
    while (m_handle != nullptr && handled < 1000 && SUCCEEDED(SimConnect_GetNextDispatch(m_handle, &msg, &size))) {
        ++handled;
        lf_handle(*msg);
    }
    return handled;
}

void SimClient::lf_handle(const SIMCONNECT_RECV& MSG)
{
    switch (MSG.dwID) {
    case SIMCONNECT_RECV_ID_EVENT_FRAME:
        g_simFrames.fetch_add(1);
        perFrame();
        break;
    case SIMCONNECT_RECV_ID_SYSTEM_STATE: {
        const auto& state = static_cast<const SIMCONNECT_RECV_SYSTEM_STATE&>(MSG);
        if (state.dwRequestID == kRequestSimState) {
            g_simFlightRunning.store(state.dwInteger != 0);
        }
        break;
    }
    case SIMCONNECT_RECV_ID_EVENT: {
        const auto& ev = static_cast<const SIMCONNECT_RECV_EVENT&>(MSG);
        if (ev.uEventID == kEventSimStart) {
            g_simFlightRunning.store(true);
        } else if (ev.uEventID == kEventSimStop) {
            g_simFlightRunning.store(false);
        }
        break;
    }
    case SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE: {
        const auto& ev = static_cast<const SIMCONNECT_RECV_EVENT_OBJECT_ADDREMOVE&>(MSG);
        if (ev.uEventID == kEventObjectRemoved && ev.dwData > g_userObjectId.load()) {
            ++m_removed;
            gf_addSimNotification({ev.dwData, 0, 0, kNoteObjectRemoved, 0.0, 0.0});
        }
        break;
    }
    case SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID:
        lf_onAssignedId(static_cast<const SIMCONNECT_RECV_ASSIGNED_OBJECT_ID&>(MSG));
        break;
    case SIMCONNECT_RECV_ID_SIMOBJECT_DATA:
    case SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE:
        lf_onObjectData(static_cast<const SIMCONNECT_RECV_SIMOBJECT_DATA&>(MSG));
        break;
    case SIMCONNECT_RECV_ID_EXCEPTION:
        lf_onException(static_cast<const SIMCONNECT_RECV_EXCEPTION&>(MSG));
        break;
    case SIMCONNECT_RECV_ID_QUIT:
        gf_logLine("SimConnect: the simulator was closed");
        m_quit = true;
        gf_requestExit(ExitReason::userClosedSim);
        break;
    default:
        break;
    }
}

void SimClient::lf_onException(const SIMCONNECT_RECV_EXCEPTION& MSG)
{
    // An exception names the packet of the failed call, not its request.
    const auto bySend = [&MSG](const auto& ENTRY) { return ENTRY.second.sendId == MSG.dwSendID; };
    if (const auto it = std::find_if(m_pending.begin(), m_pending.end(), bySend); it != m_pending.end()) {
        gf_addSimNotification({0, it->second.aircraftId, 0, kNoteCreateFailed, 0.0, 0.0});
        m_pending.erase(it);
        return;
    }
    if (const auto it = std::find_if(m_groundRequests.begin(), m_groundRequests.end(), bySend);
        it != m_groundRequests.end()) {
        // The object exists; only its ground data could not be read.
        const std::uint32_t kind = it->second.aircraftId > kMaxStaticId ? kNoteLiveCreated : kNoteStaticCreated;
        gf_addSimNotification({it->second.objectId, it->second.aircraftId, 0, kind, 0.0, 0.0});
        m_groundRequests.erase(it);
        return;
    }
    std::optional<DirectRequest> direct;
    {
        std::lock_guard lock(g_simQueueMutex);
        const auto it = std::find_if(g_directRequests.begin(), g_directRequests.end(),
                                     [&MSG](const DirectRequest& R) { return R.sendId == MSG.dwSendID; });
        if (it != g_directRequests.end()) {
            direct = *it;
            g_directRequests.erase(it);
        }
    }
    if (direct && direct->requestId == kRequestStaticCg) {
        gf_logWarning("SimConnect request StaticCG fails");
        gf_simConnectRequestError();
        return;
    }
    if (direct && direct->requestId == kRequestFlightPlan) {
        // The object flies on without it; its file goes when the object is removed.
        gf_logWarning("object {:x}: the simulator refused its flight plan (exception {})", direct->objectId,
                      MSG.dwException);
        return;
    }
    gf_logWarning("SimConnect exception {} (packet {}, parameter {})", MSG.dwException, MSG.dwSendID, MSG.dwIndex);
}

void SimClient::lf_onAssignedId(const SIMCONNECT_RECV_ASSIGNED_OBJECT_ID& MSG)
{
    const auto it = m_pending.find(MSG.dwRequestID);
    if (it == m_pending.end()) {
        // A create that was given up (its record is gone): the object would stand there unowned.
        gf_logWarning("SimConnect assigned object id {} to unknown request {}: removed", MSG.dwObjectID,
                      MSG.dwRequestID);
        if (MSG.dwObjectID > g_userObjectId.load()) {
            std::lock_guard lock(g_simQueueMutex);
            SimConnect_AIRemoveObject(m_handle, MSG.dwObjectID, lf_nextRequestId());
        }
        return;
    }
    ++m_created;
    CreatedObject created{MSG.dwObjectID, it->second.aircraftId, std::move(it->second.callsign), 0,
                          g_simFrames.load()};
    m_pending.erase(it);
    // The creation is reported once its ground data are known: the worker needs the height above
    // ground at once.
    const std::uint32_t requestId = lf_nextRequestId();
    bool sent = false;
    {
        // Every packet on the handle is sent under the queue mutex, so that the send id read
        // after a call is that call's.
        std::lock_guard lock(g_simQueueMutex);
        sent = SUCCEEDED(SimConnect_RequestDataOnSimObject(m_handle, requestId, kDefGroundData, created.objectId,
                                                           SIMCONNECT_PERIOD_ONCE));
        created.sendId = lf_lastSendId();
    }
    if (!sent) {
        const std::uint32_t kind = created.aircraftId > kMaxStaticId ? kNoteLiveCreated : kNoteStaticCreated;
        gf_addSimNotification({created.objectId, created.aircraftId, 0, kind, 0.0, 0.0});
        return;
    }
    m_groundRequests[requestId] = std::move(created);
}

void SimClient::lf_onObjectData(const SIMCONNECT_RECV_SIMOBJECT_DATA& MSG)
{
    switch (MSG.dwRequestID) {
    case kRequestUserSecond:
        lf_onUserData(MSG, true);
        return;
    case kRequestUserOnce:
        lf_onUserData(MSG, false);
        return;
    case kRequestStaticCg: {
        {
            std::lock_guard lock(g_simQueueMutex);
            const auto it = std::find_if(g_directRequests.begin(), g_directRequests.end(), [&MSG](const DirectRequest& R) {
                return R.requestId == kRequestStaticCg && R.objectId == MSG.dwObjectID;
            });
            if (it != g_directRequests.end()) {
                g_directRequests.erase(it);
            }
        }
        if (gf_staticCgAnswerOk(lf_f64(MSG, 0), lf_f64(MSG, 1), m_refusedLogged)) {
            gf_addSimNotification({MSG.dwObjectID, 0, 0, kNoteStaticCg, lf_f64(MSG, 0), lf_f64(MSG, 1)});
        }
        return;
    }
    case kRequestAcInRange:
        if (MSG.dwObjectID > g_userObjectId.load() && gf_groundAnswerOk(lf_f64(MSG, 0), lf_f64(MSG, 1), m_refusedLogged)) {
            const std::uint32_t onGround = lf_f64(MSG, 2) != 0.0 ? 1 : 0;
            gf_addSimNotification({MSG.dwObjectID, onGround, 0, kNoteGroundData, lf_f64(MSG, 0), lf_f64(MSG, 1)});
        }
        return;
    default:
        break;
    }
    if (const auto it = m_groundRequests.find(MSG.dwRequestID); it != m_groundRequests.end()) {
        const std::uint32_t kind = it->second.aircraftId > kMaxStaticId ? kNoteLiveCreated : kNoteStaticCreated;
        // Filled like the ground data of kind 3: ground altitude, then height above ground; without
        // ground data that can be true, as when they could not be asked for.
        const bool known = gf_groundAnswerOk(lf_f64(MSG, 0), lf_f64(MSG, 1), m_refusedLogged);
        gf_addSimNotification({it->second.objectId, it->second.aircraftId, 0, kind, known ? lf_f64(MSG, 0) : 0.0,
                               known ? lf_f64(MSG, 1) : 0.0});
        m_groundRequests.erase(it);
    }
}

void SimClient::lf_onUserData(const SIMCONNECT_RECV_SIMOBJECT_DATA& MSG, bool SECOND)
{
    constexpr std::size_t doubles = 10;
    if (MSG.pData == nullptr || MSG.dwDataSize < doubles * sizeof(double) + 32) {
        gf_logWarning("user aircraft data too short: {} bytes", MSG.dwDataSize);
        return;
    }
    UserAnswer answer;
    for (std::size_t i = 0; i < doubles; ++i) {
        answer.values[i] = lf_f64(MSG, i);
    }
    std::memcpy(answer.callsign, MSG.pData + doubles * sizeof(double), sizeof answer.callsign);
    const std::uint32_t before = g_userObjectId.exchange(MSG.dwObjectID);
    if (before != 0 && before != MSG.dwObjectID) {
        // The user loaded another flight: its aircraft is a new object.
        gf_logLine("SimConnect: the user aircraft is object {} now (was {})", MSG.dwObjectID, before);
        gf_requestExit(ExitReason::newFlight);
    }
    {
        std::lock_guard lock(g_userAcMutex);
        gf_takeUserAnswer(answer, g_userAcShared, m_refusedLogged);
        g_userAcShared.secondData = g_userAcShared.secondData || SECOND;
    }
    g_userParkNoteRequested.store(true);
    if (SECOND) {
        g_simSecondFlag.store(true);
        gf_askDeadlineRealign();
    }
}

void SimClient::lf_sendRangeRequests()
{
    const double metres = std::clamp(RANGE.value() * 1852.0, 0.0, 200000.0);
    std::lock_guard lock(g_simQueueMutex);
    if (FAILED(SimConnect_RequestDataOnSimObjectType(m_handle, kRequestAcInRange, kDefGroundData,
                                                     static_cast<std::uint32_t>(metres),
                                                     SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT)) ||
        FAILED(SimConnect_RequestDataOnSimObject(m_handle, kRequestUserOnce, kDefUserAc, SIMCONNECT_OBJECT_ID_USER,
                                                 SIMCONNECT_PERIOD_ONCE))) {
        gf_logWarning("SimConnect range request failed");
    }
}

bool SimClient::perFrame()
{
    if (m_handle == nullptr) {
        return false;
    }
    std::vector<SimNotification> failed;
    bool flushed = false;
    {
        std::unique_lock lock(g_simQueueMutex, std::try_to_lock);
        if (lock.owns_lock()) {
            flushed = true;
            {
                // The worker queues its requests under the request mutex alone, which is held
                // here only for the swaps: its tick never waits for this frame's packets.
                std::lock_guard requests(g_simRequestMutex);
                m_sendEvents.swap(g_clientEventQueue);
                m_sendRemoves.swap(g_removeQueue);
                m_sendCreates.swap(g_createQueue);
            }
            const std::uint32_t user = g_userObjectId.load();
            for (const ClientEventCmd& ev : m_sendEvents) {
                if (ev.objectId > user) {
                    SimConnect_TransmitClientEvent(m_handle, ev.objectId, ev.eventId, ev.value,
                                                   SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                                   SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
                }
            }
            m_sendEvents.clear();
            for (const PositionUpdate& p : g_positionReadBuffer) {
                if (p.objectId > user) {
                    double data[8] = {p.latitude, p.longitude,     p.pitch,       p.bank,
                                      p.heading,  p.altitude, p.verticalSpeed, p.trueAirspeed};
                    SimConnect_SetDataOnSimObject(m_handle, kDefPosition, p.objectId, 0, 0, sizeof data, data);
                }
            }
            g_positionReadBuffer.clear();
            for (const std::uint32_t objectId : m_sendRemoves) {
                if (objectId > user) {
                    SimConnect_AIRemoveObject(m_handle, objectId, lf_nextRequestId());
                }
            }
            m_sendRemoves.clear();
            for (AiCreateRequest& req : m_sendCreates) {
                const std::uint32_t requestId = lf_nextRequestId();
                const std::string title(req.liveryTitle);
                if (FAILED(SimConnect_AICreateNonATCAircraft(m_handle, title.c_str(), req.callsign.c_str(),
                                                             req.initPos, requestId))) {
                    failed.push_back({0, req.aircraftId, 0, kNoteCreateFailed, 0.0, 0.0});
                    continue;
                }
                m_pending[requestId] = PendingCreate{requestId, lf_lastSendId(), req.aircraftId,
                                                     std::move(req.callsign), title, g_simFrames.load()};
            }
            // The views into the livery tables must not outlive the frame.
            m_sendCreates.clear();
            // A flight plan has no answer when it is taken: its entry only waits for an exception.
            const std::uint64_t now = g_simFrames.load();
            std::erase_if(g_directRequests, [now](const DirectRequest& R) {
                return now - R.sentFrame > kSimAnswerTimeoutFrames;
            });
        } else {
            ++m_skippedFrames;
        }
    }
    // Notifications only after the queue mutex is released: the worker takes them in the other order.
    for (const SimNotification& note : failed) {
        gf_addSimNotification(note);
    }
    lf_giveUpUnanswered();
    if (s_rangeRequestDue.exchange(false)) {
        lf_sendRangeRequests();
    }
    return flushed;
}

void SimClient::lf_giveUpUnanswered()
{
    const std::uint64_t now = g_simFrames.load();
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (now - it->second.sentFrame <= kSimAnswerTimeoutFrames) {
            ++it;
            continue;
        }
        gf_logWarning("{} '{}': no answer of the simulator to its create, given up", it->second.callsign,
                      it->second.liveryTitle);
        gf_addSimNotification({0, it->second.aircraftId, 0, kNoteCreateFailed, 0.0, 0.0});
        ++m_givenUp;
        it = m_pending.erase(it);
    }
    for (auto it = m_groundRequests.begin(); it != m_groundRequests.end();) {
        if (now - it->second.sentFrame <= kSimAnswerTimeoutFrames) {
            ++it;
            continue;
        }
        // The object exists; its ground data never came.
        const std::uint32_t kind = it->second.aircraftId > kMaxStaticId ? kNoteLiveCreated : kNoteStaticCreated;
        gf_addSimNotification({it->second.objectId, it->second.aircraftId, 0, kind, 0.0, 0.0});
        it = m_groundRequests.erase(it);
    }
}

// ---- the thread ----

namespace {

void lf_simClientThread()
{
    gf_nameThisThread("SimClient");
    const LoopThread keepsTime;
    SimClient client;
    if (!client.connect()) {
        g_simLinkState.store(SimLinkState::failed);
        return;
    }
    g_simLinkState.store(SimLinkState::connected);
    while (!s_stopClient.load() && !client.quit()) {
        try {
            if (client.dispatch() == 0) {
                gf_loopSleepFor(std::chrono::milliseconds(1));
            }
        } catch (const std::exception& e) {
            gf_logWarning("SimClient exception: {}", e.what());
            gf_requestExit(ExitReason::simConnectError, 9);
            break;
        }
    }
    // The worker may still use the handle for its direct requests until its main loop has
    // ended; closing down stops this thread only after that.
    while (!s_stopClient.load()) {
        gf_loopSleepFor(std::chrono::milliseconds(5));
    }
    client.close();
    g_simLinkState.store(SimLinkState::closed);
    g_userParkNoteRequested.store(true);
}

} // namespace

bool gf_takeSimSecond()
{
    return g_simSecondFlag.exchange(false);
}

void gf_startSimClient()
{
    // A new session's connection starts without the last one's request error.
    g_simConnectError.store(false);
    if (s_clientThread.joinable()) {
        const SimLinkState state = g_simLinkState.load();
        if (state == SimLinkState::connecting || state == SimLinkState::connected) {
            return;
        }
        const LoopBlocked joining;
        s_clientThread.join(); // a thread that failed or ended: start a new one
    }
    s_stopClient.store(false);
    gf_applySimChoice();
    g_simLinkState.store(SimLinkState::connecting);
    LoopThread::announce();
    s_clientThread = std::thread(lf_simClientThread);
}

void gf_stopSimClient()
{
    s_stopClient.store(true);
    if (s_clientThread.joinable()) {
        const LoopBlocked joining;
        s_clientThread.join();
    }
    lf_runUserParkNote();
}

void gf_resetSimLinkForTests()
{
    gf_stopSimClient();
    gf_resetSimQueuesForTests();
    {
        std::lock_guard lock(g_userAcMutex);
        g_userAcShared = UserAcShared{};
    }
    g_userAc = UserAcData{};
    g_userOnGround = false;
    g_userHalfSpan = 0.0;
    g_userCallsign.clear();
    g_hSimConnect.store(nullptr);
    g_userObjectId.store(0);
    g_isMsfs2020.store(false);
    g_simConnectError.store(false);
    g_simSecondFlag.store(false);
    g_simFlightRunning.store(false);
    g_userParkNoteRequested.store(false);
    g_simLinkState.store(SimLinkState::idle);
    g_simFrames.store(0);
    s_rangeRequestDue.store(false);
    s_rangeCalls = 0;
    s_stopClient.store(false);
}

} // namespace qmt
