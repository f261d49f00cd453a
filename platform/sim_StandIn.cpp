// The simulated simulator behind platform/SimConnect.h: its connections, its frames and the
// control of its run. The other concerns have files of their own (sim_Objects, sim_Requests,
// sim_Facilities, sim_Recording, sim_Faults).

#include "platform/sim_State.h"
#include "platform/standin_meter.h"

#include "core/LoopClock.h"

namespace qmt {

SimConnection* SimStandIn::State::find(SIMCONNECT_HANDLE HANDLE)
{
    const auto it = connections.find(HANDLE);
    if (it == connections.end()) {
        if (closedHandles.contains(HANDLE)) {
            ++callsOnClosedHandles;
        }
        return nullptr;
    }
    return it->second.get();
}

SimConnection* SimStandIn::State::conn(SIMCONNECT_HANDLE HANDLE)
{
    SimConnection* c = find(HANDLE);
    if (c == nullptr || !running) {
        return nullptr;
    }
    ++c->lastSendId;
    return c;
}

bool SimStandIn::State::connOpen(const SimConnection* CONN) const
{
    return std::any_of(connections.begin(), connections.end(), [&](const auto& e) { return e.second.get() == CONN; });
}

void SimStandIn::State::resetLocked()
{
    running = false;
    flightRunning = true;
    paused = false;
    freeRunning = false;
    fps = 30;
    createDelayFrames = 3;
    createDelayMaxFrames = 3;
    lostCreatesPerThousand = 0;
    failedCreatesPerThousand = 0;
    quitAt = {};
    newFlightAt = {};
    selfRemovalsPerHour = 0.0;
    rng.seed(1);
    seed = 1;
    closedHandles.clear();
    callsOnClosedHandles = 0;
    frame = 0;
    connections.clear();
    objects.clear();
    userObjectId = 1000;
    nextObjectId = 2;
    pendingCreates.clear();
    pendingRemoves.clear();
    failingTitles.clear();
    staticCg.clear();
    groundElevationFt = 0.0;
    terrain.clear();
    terrainCells.clear();
    script.clear();
    scriptStartFrame = 0;
    facilityFolder.clear();
    facilityFiles.clear();
    facilitySilent = false;
    recording = true;
    calls.clear();
    track.reset();
    tracking = false;
    trackedObjects.clear();
    SimObject user;
    user.user = true;
    user.title = "User Aircraft";
    user.values["SIM ON GROUND"] = 1.0;
    user.values["WINGSPAN"] = 111.9;
    objects[userObjectId] = std::move(user);
}

void SimStandIn::State::advanceLocked()
{
    ++frame;
    if (!paused) {
        moveUser();
    }
    settleCreatesAndRemoves();
    selfRemovals();
    scheduledFaults();
    answerPeriodic();
    recordTracks();
}

// ---- control ----

SimStandIn::SimStandIn() : m_state(std::make_unique<State>())
{
    m_state->resetLocked();
}

SimStandIn::~SimStandIn() = default;

SimStandIn& gf_simStandIn()
{
    static SimStandIn standIn;
    return standIn;
}

SimStandIn::State& lf_sim()
{
    return gf_simStandIn().state();
}

std::string gf_setUpSimStandIn(const std::filesystem::path& DATA_FOLDER, std::uint32_t SEED)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(DATA_FOLDER / "facilities", ec)) {
        return "no facility data in " + (DATA_FOLDER / "facilities").string();
    }
    SimStandIn& sim = gf_simStandIn();
    sim.reset();
    sim.setRunning(true);
    sim.setFramesPerSecond(30);
    sim.setCallRecording(false);
    sim.setFacilityFolder(DATA_FOLDER / "facilities");
    // The scenery knows the airports of the reference data and lies at their elevations.
    if (std::filesystem::is_regular_file(DATA_FOLDER / "reference" / "airports.xml", ec)) {
        const std::string terrain = sim.loadTerrain(DATA_FOLDER / "reference" / "airports.xml");
        if (!terrain.empty()) {
            return terrain;
        }
    }
    sim.setSeed(SEED);
    sim.setCreateDelayFrames(1, 300);
    sim.setLostCreatesPerThousand(2);
    sim.setSelfRemovalsPerHour(0.5);
    sim.setFreeRunning(true);
    return {};
}

void SimStandIn::reset()
{
    std::lock_guard lock(m_state->mutex);
    m_state->resetLocked();
}

void SimStandIn::setRunning(bool RUNNING)
{
    std::lock_guard lock(m_state->mutex);
    m_state->running = RUNNING;
}

void SimStandIn::State::quitLocked()
{
    running = false;
    for (auto& [handle, c] : connections) {
        push(*c, SIMCONNECT_RECV{});
        std::get<SIMCONNECT_RECV>(c->inbox.back().msg).dwID = SIMCONNECT_RECV_ID_QUIT;
    }
}

void SimStandIn::quit()
{
    std::lock_guard lock(m_state->mutex);
    m_state->quitLocked();
}

void SimStandIn::setFlightRunning(bool RUNNING)
{
    std::lock_guard lock(m_state->mutex);
    // The events tell a change; a client that connects while a flight runs hears none.
    if (m_state->flightRunning == RUNNING) {
        return;
    }
    m_state->flightRunning = RUNNING;
    m_state->tellAll(RUNNING ? "SimStart" : "SimStop");
}

void SimStandIn::newFlight()
{
    std::lock_guard lock(m_state->mutex);
    m_state->newFlightLocked();
}

void SimStandIn::State::newFlightLocked()
{
    State& s = *this;
    s.tellAll("SimStop");
    // Loading a flight clears the AI traffic, and the user's aircraft is a new object.
    std::vector<std::uint32_t> ai;
    std::uint32_t highest = s.userObjectId;
    for (const auto& [id, obj] : s.objects) {
        highest = std::max(highest, id);
        if (!obj.user) {
            ai.push_back(id);
        }
    }
    for (const std::uint32_t id : ai) {
        s.removeObject(id);
    }
    s.pendingCreates.clear();
    auto node = s.objects.extract(s.userObjectId);
    s.userObjectId = std::max(highest, s.nextObjectId) + 1;
    s.nextObjectId = s.userObjectId + 1;
    if (!node.empty()) {
        node.key() = s.userObjectId;
        s.objects.insert(std::move(node));
    }
    s.flightRunning = true;
    s.tellAll("SimStart");
}

void SimStandIn::setPaused(bool PAUSED)
{
    std::lock_guard lock(m_state->mutex);
    m_state->paused = PAUSED;
}

std::size_t SimStandIn::callsOnClosedHandles() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->callsOnClosedHandles;
}

void SimStandIn::setFramesPerSecond(int FPS)
{
    std::lock_guard lock(m_state->mutex);
    m_state->fps = std::max(1, FPS);
}

void SimStandIn::setFreeRunning(bool FREE)
{
    std::lock_guard lock(m_state->mutex);
    m_state->freeRunning = FREE;
    m_state->nextFrameTime = gf_loopNow();
}

void SimStandIn::advanceFrame()
{
    std::lock_guard lock(m_state->mutex);
    m_state->advanceLocked();
}

std::uint64_t SimStandIn::frameCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->frame;
}

std::size_t SimStandIn::openConnections() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->connections.size();
}

// ---- the connection calls of the interface ----

HRESULT SimConnect_Open(SIMCONNECT_HANDLE* HANDLE_OUT, const char* NAME, void*, std::uint32_t, void*, std::uint32_t)
{
    const StandInScope scope(StandInPart::simulator);
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_Open";
    call.text = lf_text(NAME);
    if (!s.running || HANDLE_OUT == nullptr) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    auto conn = std::make_unique<SimConnection>();
    conn->name = call.text;
    SIMCONNECT_RECV open;
    SimStandIn::State::push(*conn, open);
    std::get<SIMCONNECT_RECV>(conn->inbox.back().msg).dwID = SIMCONNECT_RECV_ID_OPEN;
    void* handle = reinterpret_cast<void*>(++s.lastHandle);
    *HANDLE_OUT = handle;
    s.connections[handle] = std::move(conn);
    return s.record(std::move(call));
}

HRESULT SimConnect_Close(SIMCONNECT_HANDLE HANDLE)
{
    const StandInScope scope(StandInPart::simulator);
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_Close";
    if (s.find(HANDLE) == nullptr) {
        call.result = E_FAIL;
    } else {
        // Creates of this connection that are still under way are answered to nobody, and the AI
        // objects it made leave with it.
        SimConnection* closing = s.connections[HANDLE].get();
        std::erase_if(s.pendingCreates, [&](const SimPendingCreate& P) { return P.conn == closing; });
        s.connections.erase(HANDLE);
        s.closedHandles.insert(HANDLE);
        std::vector<std::uint32_t> owned;
        for (const auto& [id, obj] : s.objects) {
            if (obj.owner == closing) {
                owned.push_back(id);
            }
        }
        for (const std::uint32_t id : owned) {
            s.removeObject(id);
        }
    }
    return s.record(std::move(call));
}

HRESULT SimConnect_GetLastSentPacketID(SIMCONNECT_HANDLE HANDLE, std::uint32_t* SEND_ID_OUT)
{
    const StandInScope scope(StandInPart::simulator);
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimConnection* c = s.find(HANDLE);
    if (c == nullptr || SEND_ID_OUT == nullptr) {
        return E_FAIL;
    }
    *SEND_ID_OUT = c->lastSendId;
    return S_OK;
}

HRESULT SimConnect_GetNextDispatch(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_RECV** DATA_OUT, std::uint32_t* SIZE_OUT)
{
    const StandInScope scope(StandInPart::simulator);
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimConnection* c = s.find(HANDLE);
    if (c == nullptr || DATA_OUT == nullptr) {
        return E_FAIL;
    }
    if (c->inbox.empty() && s.freeRunning && s.running) {
        const LoopTime now = gf_loopNow();
        if (now >= s.nextFrameTime) {
            const auto period = std::chrono::microseconds(1000000 / s.fps);
            s.nextFrameTime = now - s.nextFrameTime > period * 10 ? now + period : s.nextFrameTime + period;
            s.advanceLocked();
        }
    }
    if (c->inbox.empty()) {
        return E_FAIL;
    }
    c->current = std::move(c->inbox.front());
    c->inbox.pop_front();
    SIMCONNECT_RECV* out = std::visit([](auto& m) -> SIMCONNECT_RECV* { return &m; }, c->current.msg);
    if (auto* d = std::get_if<SIMCONNECT_RECV_SIMOBJECT_DATA>(&c->current.msg)) {
        d->pData = c->current.payload.data();
    } else if (auto* f = std::get_if<SIMCONNECT_RECV_FACILITY_DATA>(&c->current.msg)) {
        f->pData = c->current.payload.data();
    }
    *DATA_OUT = out;
    if (SIZE_OUT != nullptr) {
        *SIZE_OUT = out->dwSize;
    }
    return S_OK;
}

} // namespace qmt
