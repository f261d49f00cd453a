#pragma once
// The inside of the simulated simulator: its connections, objects and pending work, shared by
// the files that each serve one concern of it (connections and frames, objects and their
// motion, requests and answers, facility data, recording, injected faults).

#include "core/Geo.h"
#include "platform/SimConnect.h"
#include "platform/sim_Control.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace qmt {

struct SimDatum {
    std::string name;
    SIMCONNECT_DATATYPE type = SIMCONNECT_DATATYPE_FLOAT64;
};

using SimMessage =
    std::variant<SIMCONNECT_RECV, SIMCONNECT_RECV_EXCEPTION, SIMCONNECT_RECV_EVENT, SIMCONNECT_RECV_EVENT_FRAME,
                 SIMCONNECT_RECV_EVENT_OBJECT_ADDREMOVE, SIMCONNECT_RECV_ASSIGNED_OBJECT_ID,
                 SIMCONNECT_RECV_SIMOBJECT_DATA, SIMCONNECT_RECV_FACILITY_DATA, SIMCONNECT_RECV_FACILITY_DATA_END,
                 SIMCONNECT_RECV_SYSTEM_STATE>;

struct SimOwnedMessage {
    SimMessage msg;
    std::vector<std::uint8_t> payload;
};

struct SimPeriodic {
    std::uint32_t sendId = 0;
    std::uint32_t requestId = 0;
    std::uint32_t defineId = 0;
    std::uint32_t objectId = 0;
    SIMCONNECT_PERIOD period = SIMCONNECT_PERIOD_NEVER;
};

struct SimConnection {
    std::string name;
    std::uint32_t lastSendId = 0; // every call that reaches the simulator sends one packet
    std::deque<SimOwnedMessage> inbox;
    SimOwnedMessage current;
    std::map<std::uint32_t, std::vector<SimDatum>> definitions;
    std::map<std::string, std::uint32_t> systemEvents;   // system event name -> client event id
    std::map<std::uint32_t, std::string> clientEvents;   // client event id -> simulator event name
    std::map<std::uint32_t, std::vector<std::string>> facilityDefinitions;
    std::vector<SimPeriodic> periodic;
};

struct SimObject {
    const void* owner = nullptr; // the connection that created it (none: the simulator's own)
    std::string title;
    std::string tail;
    bool user = false;
    std::map<std::string, double> values;
    std::map<std::string, std::uint32_t> events;
    std::uint64_t selfRemovalFrame = 0;  // the frame at which the simulator removes it by itself (0: not drawn)
};

struct SimPendingCreate {
    SimConnection* conn = nullptr;
    std::uint32_t sendId = 0;
    std::uint32_t requestId = 0;
    bool fails = false; // the simulator refuses the title: an exception instead of an object
    bool lost = false;  // neither an object id nor an exception ever comes
    std::string title;
    std::string tail;
    SIMCONNECT_DATA_INITPOSITION initPos{};
    int framesLeft = 0;
};

struct SimPendingRemove {
    SimConnection* conn = nullptr;
    std::uint32_t objectId = 0;
};

inline constexpr double kSimDefaultCgFt = 8.0;
inline constexpr double kSimDefaultStaticPitch = 0.0122;
inline constexpr double kSimFeetPerMetre = 3.280839895013123;
inline constexpr std::size_t kSimMaxRecordedCalls = 200000;
// The scenery's ground follows an airport's elevation this far from it.
inline constexpr double kSimTerrainReachNm = 3.0;

struct SimStandIn::State {
    // Whether a track recording runs (track is set): written under the mutex, read without it, so
    // that the program's tick, which asks every time, never waits for a frame of the simulator.
    std::atomic<bool> tracking{false};
    mutable std::mutex mutex; // guards everything below; a leaf lock
    bool running = false;
    bool flightRunning = true;
    bool paused = false;
    bool freeRunning = false;
    int fps = 30;
    int createDelayFrames = 3;
    int createDelayMaxFrames = 3;
    int lostCreatesPerThousand = 0;
    int failedCreatesPerThousand = 0;
    std::chrono::steady_clock::time_point quitAt{};      // none: never
    std::chrono::steady_clock::time_point newFlightAt{}; // none: never
    double selfRemovalsPerHour = 0.0;
    std::mt19937 rng{1};
    std::uint32_t seed = 1;                 // of rng, and of the draws made per object
    // Handles are tokens that are never given out twice, so that a call with a closed handle is
    // seen as such and not taken for a later connection that happens to reuse its memory.
    std::uintptr_t lastHandle = 0;
    std::set<void*> closedHandles;
    std::size_t callsOnClosedHandles = 0;
    std::uint64_t frame = 0;
    std::chrono::steady_clock::time_point nextFrameTime{};
    std::map<void*, std::unique_ptr<SimConnection>> connections;
    std::map<std::uint32_t, SimObject> objects;
    std::uint32_t userObjectId = 1000;
    std::uint32_t nextObjectId = 2;
    std::vector<SimPendingCreate> pendingCreates;
    std::vector<SimPendingRemove> pendingRemoves;
    std::set<std::string> failingTitles;
    std::map<std::string, std::pair<double, double>> staticCg;
    double groundElevationFt = 0.0;
    std::vector<TerrainPoint> terrain;
    std::map<std::pair<int, int>, std::vector<std::size_t>> terrainCells; // by whole degrees
    std::vector<UserScriptPoint> script;
    std::uint64_t scriptStartFrame = 0;
    std::filesystem::path facilityFolder;
    std::map<std::string, std::filesystem::path> facilityFiles; // files given for single airports
    bool facilitySilent = false;
    bool recording = true;
    std::vector<SimCall> calls;
    std::unique_ptr<std::ofstream> track;   // the track recording, when one runs
    // Objects introduced to the recording, with the ground flag of their last line.
    std::map<std::uint32_t, bool> trackedObjects;
    std::uint32_t trackEvery = 1;           // a position line every this many frames

    // ---- all called with the mutex held ----

    // Connections and frames (sim_StandIn.cpp).
    SimConnection* find(SIMCONNECT_HANDLE HANDLE);
    // The connection of a call that sends a packet; it gets the next send id. A simulator that
    // has quit takes no more calls.
    SimConnection* conn(SIMCONNECT_HANDLE HANDLE);
    bool connOpen(const SimConnection* CONN) const;
    void resetLocked();
    void advanceLocked();
    void quitLocked();
    void newFlightLocked();

    // Requests and answers (sim_Requests.cpp).
    static void push(SimConnection& CONN, SimMessage MSG, std::vector<std::uint8_t> PAYLOAD = {});
    // An exception about the call that sent packet SEND_ID; INDEX is the refused parameter,
    // counted from 1 after the handle.
    static void pushException(SimConnection& CONN, std::uint32_t EXCEPTION, std::uint32_t SEND_ID,
                              std::uint32_t INDEX);
    static void pushSystemEvent(SimConnection& CONN, const std::string& NAME, std::uint32_t DATA = 0);
    // Every connection hears the system event NAME (those that subscribed to it).
    void tellAll(const std::string& NAME, std::uint32_t DATA = 0);
    std::vector<std::uint8_t> pack(const SimObject& OBJ, const std::vector<SimDatum>& DEF) const;
    // Answers a data request; an unknown definition or object is an exception about the call
    // that sent packet SEND_ID.
    void answer(SimConnection& CONN, std::uint32_t SEND_ID, std::uint32_t REQUEST_ID, std::uint32_t DEFINE_ID,
                std::uint32_t OBJECT_ID, std::uint32_t ENTRY = 0, std::uint32_t OUT_OF = 0);
    // The periodic requests due in this frame, and the "Frame" event.
    void answerPeriodic();

    // Objects and their motion (sim_Objects.cpp).
    std::pair<double, double> cgOf(const SimObject& OBJ) const;
    // The ground under a position: the elevation of the nearest airport of the terrain within
    // its reach, else the ground elevation; and under an object.
    double groundAt(double LAT, double LON) const;
    double groundUnder(const SimObject& OBJ) const;
    double value(const SimObject& OBJ, const std::string& NAME) const;
    std::uint32_t resolve(std::uint32_t OBJECT_ID) const { return OBJECT_ID == 0 ? userObjectId : OBJECT_ID; }
    void moveUser();
    void placeUser(const UserScriptPoint& P);
    // A new AI object with the next free id.
    std::uint32_t addObject(SimObject OBJ);
    void removeObject(std::uint32_t OBJECT_ID);
    // Creates whose delay ran out get their object ids (or their exception); pending removals
    // are carried out.
    void settleCreatesAndRemoves();

    // Recording (sim_Recording.cpp).
    HRESULT record(SimCall CALL);
    void recordTracks();
    static std::string csvText(std::string TEXT);

    // Injected faults (sim_Faults.cpp).
    void selfRemovals();
    // The quit or new flight whose time has come.
    void scheduledFaults();
    int drawCreateDelay();
    bool drawFailedCreate();

    // Facility data (sim_Facilities.cpp).
    void facilityAnswer(SimConnection& CONN, std::uint32_t DEFINE_ID, std::uint32_t REQUEST_ID,
                        const std::string& ICAO);
    // The facility data file of an airport: one given for it, else the folder's.
    std::filesystem::path facilityPath(const std::string& ICAO) const;
};

// The state of the one simulated simulator that the interface's calls reach.
SimStandIn::State& lf_sim();

// Runs a call of the interface that sends a packet: without a connection (or once the simulator
// has quit) it fails; otherwise BODY gets the state, the connection and the call, and may set
// the call's result. Every call is recorded.
template <typename BODY_FN>
HRESULT lf_packetCall(SIMCONNECT_HANDLE HANDLE, SimCall CALL, BODY_FN&& BODY)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimConnection* c = s.conn(HANDLE);
    if (c == nullptr) {
        CALL.result = E_FAIL;
    } else {
        BODY(s, *c, CALL);
    }
    return s.record(std::move(CALL));
}

// The bytes of a value as the simulator lays them out.
template <typename VALUE>
void lf_appendRaw(std::vector<std::uint8_t>& OUT, const VALUE& V)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&V);
    OUT.insert(OUT.end(), b, b + sizeof V);
}

// A text in a field of WIDTH bytes, cut to leave room for its terminating zero.
inline void lf_appendText(std::vector<std::uint8_t>& OUT, const std::string& TEXT, std::size_t WIDTH)
{
    std::vector<std::uint8_t> field(WIDTH, 0);
    std::memcpy(field.data(), TEXT.data(), std::min(TEXT.size(), WIDTH - 1));
    OUT.insert(OUT.end(), field.begin(), field.end());
}

// A text argument of a call, empty for none.
inline std::string lf_text(const char* TEXT)
{
    return TEXT != nullptr ? TEXT : "";
}

} // namespace qmt
