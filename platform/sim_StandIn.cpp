// The simulated simulator behind platform/SimConnect.h.

#include "platform/SimConnect.h"
#include "platform/sim_Control.h"

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <climits>
#include <stdexcept>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <fstream>
#include <iomanip>
#include <mutex>
#include <random>
#include <set>
#include <variant>

namespace qmt {

namespace {

struct Datum {
    std::string name;
    SIMCONNECT_DATATYPE type = SIMCONNECT_DATATYPE_FLOAT64;
};

using MessageVariant =
    std::variant<SIMCONNECT_RECV, SIMCONNECT_RECV_EXCEPTION, SIMCONNECT_RECV_EVENT, SIMCONNECT_RECV_EVENT_FRAME,
                 SIMCONNECT_RECV_EVENT_OBJECT_ADDREMOVE, SIMCONNECT_RECV_ASSIGNED_OBJECT_ID,
                 SIMCONNECT_RECV_SIMOBJECT_DATA, SIMCONNECT_RECV_FACILITY_DATA, SIMCONNECT_RECV_FACILITY_DATA_END,
                 SIMCONNECT_RECV_SYSTEM_STATE>;

struct OwnedMessage {
    MessageVariant msg;
    std::vector<std::uint8_t> payload;
};

struct Periodic {
    std::uint32_t sendId = 0;
    std::uint32_t requestId = 0;
    std::uint32_t defineId = 0;
    std::uint32_t objectId = 0;
    SIMCONNECT_PERIOD period = SIMCONNECT_PERIOD_NEVER;
};

struct Connection {
    std::string name;
    std::uint32_t lastSendId = 0; // every call that reaches the simulator sends one packet
    std::deque<OwnedMessage> inbox;
    OwnedMessage current;
    std::map<std::uint32_t, std::vector<Datum>> definitions;
    std::map<std::string, std::uint32_t> systemEvents;   // system event name -> client event id
    std::map<std::uint32_t, std::string> clientEvents;   // client event id -> simulator event name
    std::map<std::uint32_t, std::vector<std::string>> facilityDefinitions;
    std::vector<Periodic> periodic;
};

struct SimObject {
    const void* owner = nullptr; // the connection that created it (none: the simulator's own)
    std::string title;
    std::string tail;
    bool user = false;
    std::map<std::string, double> values;
    std::map<std::string, std::uint32_t> events;
};

struct PendingCreate {
    Connection* conn = nullptr;
    std::uint32_t sendId = 0;
    std::uint32_t requestId = 0;
    bool fails = false; // the simulator refuses the title: an exception instead of an object
    bool lost = false;  // neither an object id nor an exception ever comes
    std::string title;
    std::string tail;
    SIMCONNECT_DATA_INITPOSITION initPos{};
    int framesLeft = 0;
};

struct PendingRemove {
    Connection* conn = nullptr;
    std::uint32_t objectId = 0;
};

constexpr double DEFAULT_CG_FT = 8.0;
// The scenery's ground follows an airport's elevation this far from it.
constexpr double TERRAIN_REACH_NM = 10.0;

double lf_terrainDistanceNm(double LAT1, double LON1, double LAT2, double LON2)
{
    constexpr double radPerDeg = 0.017453292519943295;
    constexpr double earthNm = 3440.065;
    const double dLat = (LAT2 - LAT1) * radPerDeg;
    const double dLon = (LON2 - LON1) * radPerDeg;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(LAT1 * radPerDeg) * std::cos(LAT2 * radPerDeg) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2.0 * earthNm * std::asin(std::min(1.0, std::sqrt(a)));
}
constexpr double DEFAULT_STATIC_PITCH = 0.0122;
constexpr double FEET_PER_METRE = 3.280839895013123;
constexpr std::size_t MAX_RECORDED_CALLS = 200000;

} // namespace

struct SimStandIn::State {
    mutable std::mutex mutex; // guards everything below; a leaf lock
    bool running = false;
    bool flightRunning = true;
    bool paused = false;
    bool freeRunning = false;
    int fps = 30;
    int createDelayFrames = 3;
    int createDelayMaxFrames = 3;
    int lostCreatesPerThousand = 0;
    double selfRemovalsPerHour = 0.0;
    std::mt19937 rng{1};
    // Handles are tokens that are never given out twice, so that a call with a closed handle is
    // seen as such and not taken for a later connection that happens to reuse its memory.
    std::uintptr_t lastHandle = 0;
    std::set<void*> closedHandles;
    std::size_t callsOnClosedHandles = 0;
    std::uint64_t frame = 0;
    std::chrono::steady_clock::time_point nextFrameTime{};
    std::map<void*, std::unique_ptr<Connection>> connections;
    std::map<std::uint32_t, SimObject> objects;
    std::uint32_t userObjectId = 1000;
    std::uint32_t nextObjectId = 2;
    std::vector<PendingCreate> pendingCreates;
    std::vector<PendingRemove> pendingRemoves;
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
    std::set<std::uint32_t> trackedObjects; // objects introduced to the recording

    // ---- helpers, all called with the mutex held ----

    Connection* find(SIMCONNECT_HANDLE HANDLE)
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

    // The connection of a call that sends a packet; it gets the next send id. A simulator that
    // has quit takes no more calls.
    Connection* conn(SIMCONNECT_HANDLE HANDLE)
    {
        Connection* c = find(HANDLE);
        if (c == nullptr || !running) {
            return nullptr;
        }
        ++c->lastSendId;
        return c;
    }

    HRESULT record(SimCall CALL)
    {
        const HRESULT hr = CALL.result;
        if (recording) {
            // Bounded, so that a long run that keeps recording does not grow without end.
            if (calls.size() >= MAX_RECORDED_CALLS) {
                calls.erase(calls.begin(), calls.begin() + MAX_RECORDED_CALLS / 2);
            }
            calls.push_back(std::move(CALL));
        }
        return hr;
    }

    void resetLocked()
    {
        running = false;
        flightRunning = true;
        paused = false;
        freeRunning = false;
        fps = 30;
        createDelayFrames = 3;
        createDelayMaxFrames = 3;
        lostCreatesPerThousand = 0;
        selfRemovalsPerHour = 0.0;
        rng.seed(1);
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
        trackedObjects.clear();
        SimObject user;
        user.user = true;
        user.title = "User Aircraft";
        user.values["SIM ON GROUND"] = 1.0;
        user.values["WINGSPAN"] = 111.9;
        objects[userObjectId] = std::move(user);
    }

    static void push(Connection& CONN, MessageVariant MSG, std::vector<std::uint8_t> PAYLOAD = {})
    {
        std::visit(
            [](auto& m) {
                m.dwSize = static_cast<std::uint32_t>(sizeof(m));
                m.dwID = lf_idOf(m);
            },
            MSG);
        CONN.inbox.push_back(OwnedMessage{std::move(MSG), std::move(PAYLOAD)});
    }

    static std::uint32_t lf_idOf(const SIMCONNECT_RECV&) { return SIMCONNECT_RECV_ID_NULL; }
    static std::uint32_t lf_idOf(const SIMCONNECT_RECV_EXCEPTION&) { return SIMCONNECT_RECV_ID_EXCEPTION; }
    static std::uint32_t lf_idOf(const SIMCONNECT_RECV_EVENT&) { return SIMCONNECT_RECV_ID_EVENT; }
    static std::uint32_t lf_idOf(const SIMCONNECT_RECV_EVENT_FRAME&) { return SIMCONNECT_RECV_ID_EVENT_FRAME; }
    static std::uint32_t lf_idOf(const SIMCONNECT_RECV_EVENT_OBJECT_ADDREMOVE&)
    {
        return SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE;
    }
    static std::uint32_t lf_idOf(const SIMCONNECT_RECV_ASSIGNED_OBJECT_ID&)
    {
        return SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID;
    }
    static std::uint32_t lf_idOf(const SIMCONNECT_RECV_SIMOBJECT_DATA&) { return SIMCONNECT_RECV_ID_SIMOBJECT_DATA; }
    static std::uint32_t lf_idOf(const SIMCONNECT_RECV_FACILITY_DATA&) { return SIMCONNECT_RECV_ID_FACILITY_DATA; }
    static std::uint32_t lf_idOf(const SIMCONNECT_RECV_SYSTEM_STATE&) { return SIMCONNECT_RECV_ID_SYSTEM_STATE; }
    static std::uint32_t lf_idOf(const SIMCONNECT_RECV_FACILITY_DATA_END&)
    {
        return SIMCONNECT_RECV_ID_FACILITY_DATA_END;
    }

    // An exception about the call that sent packet SEND_ID; INDEX is the refused parameter,
    // counted from 1 after the handle.
    static void pushException(Connection& CONN, std::uint32_t EXCEPTION, std::uint32_t SEND_ID, std::uint32_t INDEX)
    {
        SIMCONNECT_RECV_EXCEPTION ex;
        ex.dwException = EXCEPTION;
        ex.dwSendID = SEND_ID;
        ex.dwIndex = INDEX;
        push(CONN, ex);
    }

    static void pushSystemEvent(Connection& CONN, const std::string& NAME, std::uint32_t DATA = 0)
    {
        const auto it = CONN.systemEvents.find(NAME);
        if (it == CONN.systemEvents.end()) {
            return;
        }
        if (NAME == "Frame") {
            SIMCONNECT_RECV_EVENT_FRAME ev;
            ev.uEventID = it->second;
            ev.fFrameRate = 30.0F;
            push(CONN, ev);
        } else if (NAME == "ObjectRemoved" || NAME == "ObjectAdded") {
            SIMCONNECT_RECV_EVENT_OBJECT_ADDREMOVE ev;
            ev.uEventID = it->second;
            ev.dwData = DATA;
            push(CONN, ev);
        } else {
            SIMCONNECT_RECV_EVENT ev;
            ev.uEventID = it->second;
            ev.dwData = DATA;
            push(CONN, ev);
        }
    }

    std::pair<double, double> cgOf(const SimObject& OBJ) const
    {
        const auto it = staticCg.find(OBJ.title);
        return it == staticCg.end() ? std::pair{DEFAULT_CG_FT, DEFAULT_STATIC_PITCH} : it->second;
    }

    // The ground under a position: the elevation of the nearest airport of the terrain within
    // its reach, else the ground elevation.
    double groundAt(double LAT, double LON) const
    {
        double best = TERRAIN_REACH_NM;
        double ground = groundElevationFt;
        const int cellLat = static_cast<int>(std::floor(LAT));
        const int cellLon = static_cast<int>(std::floor(LON));
        for (int dLat = -1; dLat <= 1; ++dLat) {
            for (int dLon = -1; dLon <= 1; ++dLon) {
                const auto it = terrainCells.find({cellLat + dLat, cellLon + dLon});
                if (it == terrainCells.end()) {
                    continue;
                }
                for (const std::size_t i : it->second) {
                    const TerrainPoint& p = terrain[i];
                    const double d = lf_terrainDistanceNm(LAT, LON, p.latitude, p.longitude);
                    if (d < best) {
                        best = d;
                        ground = p.elevationFt;
                    }
                }
            }
        }
        return ground;
    }

    double groundUnder(const SimObject& OBJ) const
    {
        if (terrain.empty()) {
            return groundElevationFt;
        }
        const auto lat = OBJ.values.find("PLANE LATITUDE");
        const auto lon = OBJ.values.find("PLANE LONGITUDE");
        return groundAt(lat == OBJ.values.end() ? 0.0 : lat->second, lon == OBJ.values.end() ? 0.0 : lon->second);
    }

    double value(const SimObject& OBJ, const std::string& NAME) const
    {
        const double altitude = [&] {
            const auto it = OBJ.values.find("PLANE ALTITUDE");
            return it == OBJ.values.end() ? 0.0 : it->second;
        }();
        if (NAME == "GROUND ALTITUDE") {
            return groundUnder(OBJ);
        }
        if (NAME == "PLANE ALT ABOVE GROUND") {
            return altitude - groundUnder(OBJ);
        }
        if (NAME == "STATIC CG TO GROUND") {
            return cgOf(OBJ).first;
        }
        if (NAME == "STATIC PITCH") {
            return cgOf(OBJ).second;
        }
        if (NAME == "SIM ON GROUND" && !OBJ.user) {
            // An AI aircraft stands when its reference point is no higher than its CG height.
            return altitude - groundUnder(OBJ) <= cgOf(OBJ).first + 1.0 ? 1.0 : 0.0;
        }
        const auto it = OBJ.values.find(NAME);
        return it == OBJ.values.end() ? 0.0 : it->second;
    }

    std::vector<std::uint8_t> pack(const SimObject& OBJ, const std::vector<Datum>& DEF) const
    {
        std::vector<std::uint8_t> out;
        for (const Datum& d : DEF) {
            if (d.type == SIMCONNECT_DATATYPE_STRING32) {
                char text[32] = {};
                const std::string s = d.name == "ATC ID" ? OBJ.tail : OBJ.title;
                std::memcpy(text, s.data(), std::min<std::size_t>(s.size(), 31));
                out.insert(out.end(), text, text + 32);
            } else if (d.type == SIMCONNECT_DATATYPE_INT32) {
                const auto v = static_cast<std::int32_t>(value(OBJ, d.name));
                const auto* b = reinterpret_cast<const std::uint8_t*>(&v);
                out.insert(out.end(), b, b + sizeof v);
            } else {
                const double v = value(OBJ, d.name);
                const auto* b = reinterpret_cast<const std::uint8_t*>(&v);
                out.insert(out.end(), b, b + sizeof v);
            }
        }
        return out;
    }

    // Answers a data request; an unknown definition or object is an exception about the call
    // that sent packet SEND_ID.
    void answer(Connection& CONN, std::uint32_t SEND_ID, std::uint32_t REQUEST_ID, std::uint32_t DEFINE_ID,
                std::uint32_t OBJECT_ID, std::uint32_t ENTRY = 0, std::uint32_t OUT_OF = 0)
    {
        const auto def = CONN.definitions.find(DEFINE_ID);
        const auto obj = objects.find(OBJECT_ID);
        if (def == CONN.definitions.end() || obj == objects.end()) {
            pushException(CONN, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, SEND_ID, def == CONN.definitions.end() ? 2 : 3);
            return;
        }
        SIMCONNECT_RECV_SIMOBJECT_DATA data;
        data.dwRequestID = REQUEST_ID;
        data.dwObjectID = OBJECT_ID;
        data.dwDefineID = DEFINE_ID;
        data.dwEntryNumber = ENTRY;
        data.dwOutOf = OUT_OF;
        std::vector<std::uint8_t> payload = pack(obj->second, def->second);
        data.dwDataSize = static_cast<std::uint32_t>(payload.size());
        push(CONN, data, std::move(payload));
    }

    std::uint32_t resolve(std::uint32_t OBJECT_ID) const { return OBJECT_ID == 0 ? userObjectId : OBJECT_ID; }

    void moveUser()
    {
        if (script.empty()) {
            return;
        }
        const double t = static_cast<double>(frame - scriptStartFrame) / fps;
        UserScriptPoint p = script.back();
        for (std::size_t i = 0; i + 1 < script.size(); ++i) {
            const UserScriptPoint& a = script[i];
            const UserScriptPoint& b = script[i + 1];
            if (t < a.seconds) {
                p = a;
                break;
            }
            if (t <= b.seconds) {
                const double span = b.seconds - a.seconds;
                const double f = span > 0.0 ? (t - a.seconds) / span : 1.0;
                p = a;
                p.latitude = a.latitude + (b.latitude - a.latitude) * f;
                p.longitude = a.longitude + (b.longitude - a.longitude) * f;
                p.altitudeFt = a.altitudeFt + (b.altitudeFt - a.altitudeFt) * f;
                p.groundSpeedKt = a.groundSpeedKt + (b.groundSpeedKt - a.groundSpeedKt) * f;
                p.headingDeg = f < 0.5 ? a.headingDeg : b.headingDeg;
                p.onGround = f < 0.5 ? a.onGround : b.onGround;
                break;
            }
        }
        placeUser(p);
    }

    void placeUser(const UserScriptPoint& P)
    {
        SimObject& user = objects[userObjectId];
        user.values["PLANE LATITUDE"] = P.latitude;
        user.values["PLANE LONGITUDE"] = P.longitude;
        user.values["PLANE ALTITUDE"] = P.altitudeFt;
        user.values["PLANE HEADING DEGREES TRUE"] = P.headingDeg * 0.017453292519943295;
        user.values["GROUND VELOCITY"] = P.groundSpeedKt;
        user.values["SIM ON GROUND"] = P.onGround ? 1.0 : 0.0;
    }

    void removeObject(std::uint32_t OBJECT_ID)
    {
        if (objects.erase(OBJECT_ID) == 0) {
            return;
        }
        for (auto& [handle, c] : connections) {
            pushSystemEvent(*c, "ObjectRemoved", OBJECT_ID);
        }
    }

    // Now and then the simulator takes an AI object away by itself (its own traffic rules, a
    // crash on the runway).
    void selfRemovals()
    {
        if (selfRemovalsPerHour <= 0.0) {
            return;
        }
        const double chance = selfRemovalsPerHour / (3600.0 * fps);
        std::vector<std::uint32_t> gone;
        std::uniform_real_distribution<double> draw(0.0, 1.0);
        for (const auto& [id, obj] : objects) {
            if (!obj.user && draw(rng) < chance) {
                gone.push_back(id);
            }
        }
        for (const std::uint32_t id : gone) {
            removeObject(id);
        }
    }

    int drawCreateDelay()
    {
        return std::uniform_int_distribution<int>(createDelayFrames, std::max(createDelayFrames, createDelayMaxFrames))(rng);
    }

    void advanceLocked()
    {
        ++frame;
        if (!paused) {
            moveUser();
        }
        // Creates whose delay ran out get their object ids (or their exception); with drawn
        // delays they come out of order.
        for (auto it = pendingCreates.begin(); it != pendingCreates.end();) {
            if (--it->framesLeft > 0) {
                ++it;
                continue;
            }
            if (it->lost || !connOpen(it->conn)) {
                it = pendingCreates.erase(it);
                continue;
            }
            if (it->fails) {
                pushException(*it->conn, SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED, it->sendId, 1);
                it = pendingCreates.erase(it);
                continue;
            }
            nextObjectId = std::max(nextObjectId, userObjectId + 1);
            const std::uint32_t id = nextObjectId++;
            SimObject obj;
            obj.owner = it->conn;
            obj.title = it->title;
            obj.tail = it->tail;
            obj.values["PLANE LATITUDE"] = it->initPos.Latitude;
            obj.values["PLANE LONGITUDE"] = it->initPos.Longitude;
            obj.values["PLANE PITCH DEGREES"] = it->initPos.Pitch * 0.017453292519943295;
            obj.values["PLANE BANK DEGREES"] = it->initPos.Bank * 0.017453292519943295;
            obj.values["PLANE HEADING DEGREES TRUE"] = it->initPos.Heading * 0.017453292519943295;
            obj.values["AIRSPEED TRUE"] = it->initPos.Airspeed;
            const double cg = cgOf(obj).first;
            const double ground = groundUnder(obj);
            obj.values["PLANE ALTITUDE"] =
                it->initPos.OnGround != 0 ? ground + cg : std::max(it->initPos.Altitude, ground + cg);
            objects[id] = std::move(obj);
            SIMCONNECT_RECV_ASSIGNED_OBJECT_ID assigned;
            assigned.dwRequestID = it->requestId;
            assigned.dwObjectID = id;
            push(*it->conn, assigned);
            it = pendingCreates.erase(it);
        }
        for (const PendingRemove& r : pendingRemoves) {
            removeObject(r.objectId);
        }
        pendingRemoves.clear();
        selfRemovals();
        for (auto& [handle, c] : connections) {
            for (const Periodic& p : c->periodic) {
                // A paused simulator stands still: its per-second answers stop.
                const bool due = p.period == SIMCONNECT_PERIOD_VISUAL_FRAME || p.period == SIMCONNECT_PERIOD_SIM_FRAME ||
                                 (p.period == SIMCONNECT_PERIOD_SECOND && !paused &&
                                  frame % static_cast<std::uint64_t>(fps) == 0);
                if (due) {
                    answer(*c, p.sendId, p.requestId, p.defineId, resolve(p.objectId));
                }
            }
            pushSystemEvent(*c, "Frame");
        }
        recordTracks();
    }

    // One line per object and frame; an object's first line names it.
    void recordTracks()
    {
        if (!track) {
            return;
        }
        std::ofstream& out = *track;
        for (const auto& [id, obj] : objects) {
            if (trackedObjects.insert(id).second) {
                out << "O," << frame << ',' << id << ',' << (obj.user ? "user" : "ai") << ',' << csvText(obj.tail)
                    << ',' << csvText(obj.title) << '\n';
            }
            out << "P," << frame << ',' << id << ',' << value(obj, "PLANE LATITUDE") << ','
                << value(obj, "PLANE LONGITUDE") << ',' << value(obj, "PLANE ALTITUDE") << ','
                << value(obj, "PLANE HEADING DEGREES TRUE") * 57.29577951308232 << ','
                << (value(obj, "SIM ON GROUND") != 0.0 ? 1 : 0) << ','
                << value(obj, "PLANE PITCH DEGREES") * 57.29577951308232 << ','
                << value(obj, "PLANE BANK DEGREES") * 57.29577951308232 << ','
                << value(obj, "VERTICAL SPEED") * 60.0 << ',' << value(obj, "AIRSPEED TRUE") << ','
                << value(obj, "PLANE ALT ABOVE GROUND") << '\n';
        }
    }

    // A text field without the separators of the recording.
    static std::string csvText(std::string TEXT)
    {
        std::replace_if(TEXT.begin(), TEXT.end(), [](char C) { return C == ',' || C == '\n' || C == '\r'; }, ' ');
        return TEXT;
    }

    std::filesystem::path facilityPath(const std::string& ICAO) const
    {
        const auto it = facilityFiles.find(ICAO);
        return it != facilityFiles.end() ? it->second : facilityFolder / (ICAO + ".json");
    }

    bool connOpen(const Connection* CONN) const
    {
        return std::any_of(connections.begin(), connections.end(),
                           [&](const auto& e) { return e.second.get() == CONN; });
    }

    void facilityAnswer(Connection& CONN, std::uint32_t DEFINE_ID, std::uint32_t REQUEST_ID, const std::string& ICAO);
};

namespace {

void lf_appendDouble(std::vector<std::uint8_t>& OUT, double V)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&V);
    OUT.insert(OUT.end(), b, b + sizeof V);
}

void lf_appendInt(std::vector<std::uint8_t>& OUT, std::int32_t V)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&V);
    OUT.insert(OUT.end(), b, b + sizeof V);
}

void lf_appendText(std::vector<std::uint8_t>& OUT, const std::string& TEXT, std::size_t WIDTH)
{
    std::vector<std::uint8_t> field(WIDTH, 0);
    std::memcpy(field.data(), TEXT.data(), std::min(TEXT.size(), WIDTH - 1));
    OUT.insert(OUT.end(), field.begin(), field.end());
}

// The facility fields this simulator knows, by record type, and how wide each is.
bool lf_knownFacilityField(const std::string& RECORD, const std::string& FIELD)
{
    static const std::map<std::string, std::set<std::string>> known = {
        {"AIRPORT", {"LATITUDE", "LONGITUDE", "ALTITUDE", "NAME", "NAME64", "ICAO"}},
        {"TAXI_PARKING", {"NAME", "NUMBER", "TYPE", "HEADING", "RADIUS", "LATITUDE", "LONGITUDE"}},
        {"HELIPAD", {"LATITUDE", "LONGITUDE", "ALTITUDE", "HEADING", "LENGTH", "WIDTH", "TYPE"}},
    };
    const auto it = known.find(RECORD);
    return it != known.end() && it->second.contains(FIELD);
}

void lf_packFacilityField(std::vector<std::uint8_t>& OUT, const std::string& FIELD, const nlohmann::json& J)
{
    if (FIELD == "NAME") {
        lf_appendText(OUT, J.value("name", std::string()), 32);
    } else if (FIELD == "NAME64") {
        lf_appendText(OUT, J.value("name", std::string()), 64);
    } else if (FIELD == "ICAO") {
        lf_appendText(OUT, J.value("icao", std::string()), 8);
    } else if (FIELD == "NUMBER" || FIELD == "TYPE") {
        // An integer field holds an integer that fits it, or the answer is malformed.
        const auto it = J.find(FIELD == "NUMBER" ? "number" : "type");
        std::int64_t value = 0;
        if (it != J.end()) {
            if (!it->is_number_integer()) {
                throw std::invalid_argument("facility field " + FIELD + " is no integer");
            }
            value = it->get<std::int64_t>();
        }
        if (value < INT32_MIN || value > INT32_MAX) {
            throw std::out_of_range("facility field " + FIELD + " out of range");
        }
        lf_appendInt(OUT, static_cast<std::int32_t>(value));
    } else {
        static const std::map<std::string, std::string> keys = {
            {"LATITUDE", "lat"}, {"LONGITUDE", "lon"}, {"ALTITUDE", "altitude_m"}, {"HEADING", "heading"},
            {"RADIUS", "radius"}, {"LENGTH", "length"}, {"WIDTH", "width"}};
        lf_appendDouble(OUT, J.value(keys.at(FIELD), 0.0));
    }
}

} // namespace

void SimStandIn::State::facilityAnswer(Connection& CONN, std::uint32_t DEFINE_ID, std::uint32_t REQUEST_ID,
                                       const std::string& ICAO)
{
    std::ifstream in(facilityPath(ICAO), std::ios::binary);
    nlohmann::json airport;
    if (in) {
        airport = nlohmann::json::parse(in, nullptr, false);
    }
    if (!in || airport.is_discarded() || !airport.is_object()) {
        // An airport the simulator does not know.
        pushException(CONN, SIMCONNECT_EXCEPTION_ERROR, CONN.lastSendId, 3);
        return;
    }
    // Split the definition into the fields of each record type.
    std::map<std::string, std::vector<std::string>> fields;
    std::vector<std::string> open;
    for (const std::string& f : CONN.facilityDefinitions[DEFINE_ID]) {
        if (f.starts_with("OPEN ")) {
            open.push_back(f.substr(5));
            fields[open.back()];
        } else if (f.starts_with("CLOSE ")) {
            if (!open.empty()) {
                open.pop_back();
            }
        } else if (!open.empty()) {
            fields[open.back()].push_back(f);
        }
    }
    // Every record is packed before any is sent: a value of the wrong JSON type makes the whole
    // answer an exception, as a call of the real library never throws.
    std::vector<std::pair<SIMCONNECT_RECV_FACILITY_DATA, std::vector<std::uint8_t>>> records;
    const auto pack = [&](SIMCONNECT_FACILITY_DATA_TYPE TYPE, const std::vector<std::string>& FIELDS,
                          const nlohmann::json& J) {
        SIMCONNECT_RECV_FACILITY_DATA data;
        data.dwRequestID = REQUEST_ID;
        data.Type = TYPE;
        std::vector<std::uint8_t> payload;
        for (const std::string& f : FIELDS) {
            lf_packFacilityField(payload, f, J);
        }
        data.dwDataSize = static_cast<std::uint32_t>(payload.size());
        records.emplace_back(data, std::move(payload));
    };
    try {
        if (fields.contains("AIRPORT")) {
            pack(SIMCONNECT_FACILITY_DATA_AIRPORT, fields["AIRPORT"], airport);
        }
        if (fields.contains("TAXI_PARKING") && airport.contains("parkings")) {
            for (const nlohmann::json& p : airport["parkings"]) {
                pack(SIMCONNECT_FACILITY_DATA_TAXI_PARKING, fields["TAXI_PARKING"], p);
            }
        }
        if (fields.contains("HELIPAD") && airport.contains("helipads")) {
            for (const nlohmann::json& h : airport["helipads"]) {
                pack(SIMCONNECT_FACILITY_DATA_HELIPAD, fields["HELIPAD"], h);
            }
        }
    } catch (const std::exception&) {
        pushException(CONN, SIMCONNECT_EXCEPTION_ERROR, CONN.lastSendId, 3);
        return;
    }
    for (auto& [data, payload] : records) {
        push(CONN, data, std::move(payload));
    }
    SIMCONNECT_RECV_FACILITY_DATA_END end;
    end.dwRequestID = REQUEST_ID;
    push(CONN, end);
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

void SimStandIn::quit()
{
    std::lock_guard lock(m_state->mutex);
    m_state->running = false;
    for (auto& [handle, c] : m_state->connections) {
        State::push(*c, SIMCONNECT_RECV{});
        std::get<SIMCONNECT_RECV>(c->inbox.back().msg).dwID = SIMCONNECT_RECV_ID_QUIT;
    }
}

void SimStandIn::setFlightRunning(bool RUNNING)
{
    std::lock_guard lock(m_state->mutex);
    // The events tell a change; a client that connects while a flight runs hears none.
    if (m_state->flightRunning == RUNNING) {
        return;
    }
    m_state->flightRunning = RUNNING;
    for (auto& [handle, c] : m_state->connections) {
        State::pushSystemEvent(*c, RUNNING ? "SimStart" : "SimStop");
    }
}

void SimStandIn::newFlight()
{
    std::lock_guard lock(m_state->mutex);
    State& s = *m_state;
    for (auto& [handle, c] : s.connections) {
        State::pushSystemEvent(*c, "SimStop");
    }
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
    for (auto& [handle, c] : s.connections) {
        State::pushSystemEvent(*c, "SimStart");
    }
}

void SimStandIn::setPaused(bool PAUSED)
{
    std::lock_guard lock(m_state->mutex);
    m_state->paused = PAUSED;
}

bool SimStandIn::removeObjectBySim(std::uint32_t OBJECT_ID)
{
    std::lock_guard lock(m_state->mutex);
    const auto it = m_state->objects.find(OBJECT_ID);
    if (it == m_state->objects.end() || it->second.user) {
        return false;
    }
    m_state->removeObject(OBJECT_ID);
    return true;
}

void SimStandIn::setSelfRemovalsPerHour(double PER_OBJECT)
{
    std::lock_guard lock(m_state->mutex);
    m_state->selfRemovalsPerHour = std::max(0.0, PER_OBJECT);
}

void SimStandIn::setSeed(std::uint32_t SEED)
{
    std::lock_guard lock(m_state->mutex);
    m_state->rng.seed(SEED);
}

void SimStandIn::setLostCreatesPerThousand(int COUNT)
{
    std::lock_guard lock(m_state->mutex);
    m_state->lostCreatesPerThousand = std::clamp(COUNT, 0, 1000);
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
    m_state->nextFrameTime = std::chrono::steady_clock::now();
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

void SimStandIn::setCreateDelayFrames(int FRAMES)
{
    setCreateDelayFrames(FRAMES, FRAMES);
}

void SimStandIn::setCreateDelayFrames(int LOWEST, int HIGHEST)
{
    std::lock_guard lock(m_state->mutex);
    m_state->createDelayFrames = std::max(1, LOWEST);
    m_state->createDelayMaxFrames = std::max(m_state->createDelayFrames, HIGHEST);
}

void SimStandIn::failTitle(const std::string& TITLE)
{
    std::lock_guard lock(m_state->mutex);
    m_state->failingTitles.insert(TITLE);
}

void SimStandIn::setUserObjectId(std::uint32_t OBJECT_ID)
{
    std::lock_guard lock(m_state->mutex);
    auto node = m_state->objects.extract(m_state->userObjectId);
    m_state->userObjectId = OBJECT_ID;
    if (!node.empty()) {
        node.key() = OBJECT_ID;
        m_state->objects.insert(std::move(node));
    }
}

std::uint32_t SimStandIn::userObjectId() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->userObjectId;
}

void SimStandIn::setUserAircraft(const UserScriptPoint& POINT, double WING_SPAN_FT, const std::string& CALLSIGN)
{
    std::lock_guard lock(m_state->mutex);
    m_state->script.clear();
    m_state->placeUser(POINT);
    SimObject& user = m_state->objects[m_state->userObjectId];
    user.values["WINGSPAN"] = WING_SPAN_FT;
    user.tail = CALLSIGN;
}

void SimStandIn::setUserScript(std::vector<UserScriptPoint> POINTS)
{
    std::lock_guard lock(m_state->mutex);
    m_state->script = std::move(POINTS);
    m_state->scriptStartFrame = m_state->frame;
    m_state->moveUser();
}

std::string SimStandIn::loadUserScript(const std::filesystem::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    if (!in) {
        return "cannot open " + PATH.string();
    }
    const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.is_array() || j.empty()) {
        return "not a list of script points: " + PATH.string();
    }
    std::vector<UserScriptPoint> points;
    try {
        for (const nlohmann::json& p : j) {
            UserScriptPoint point;
            point.seconds = p.at("t").get<double>();
            point.latitude = p.at("lat").get<double>();
            point.longitude = p.at("lon").get<double>();
            point.altitudeFt = p.value("alt", 0.0);
            point.headingDeg = p.value("hdg", 0.0);
            point.groundSpeedKt = p.value("gs", 0.0);
            point.onGround = p.value("onGround", true);
            if (!points.empty() && point.seconds < points.back().seconds) {
                return "script times go back in " + PATH.string();
            }
            points.push_back(point);
        }
    } catch (const nlohmann::json::exception& e) {
        return std::string("bad script point in ") + PATH.string() + ": " + e.what();
    }
    setUserScript(std::move(points));
    return {};
}

void SimStandIn::setGroundElevation(double FEET)
{
    std::lock_guard lock(m_state->mutex);
    m_state->groundElevationFt = FEET;
}

std::string SimStandIn::setGroundElevationOf(const std::string& ICAO)
{
    std::filesystem::path path;
    {
        std::lock_guard lock(m_state->mutex);
        path = m_state->facilityPath(ICAO);
    }
    std::ifstream in(path, std::ios::binary);
    const nlohmann::json airport = in ? nlohmann::json::parse(in, nullptr, false) : nlohmann::json();
    if (!airport.is_object() || !airport.contains("altitude_m") || !airport["altitude_m"].is_number()) {
        return "no facility altitude for " + ICAO;
    }
    setGroundElevation(airport["altitude_m"].get<double>() * FEET_PER_METRE);
    return {};
}

void SimStandIn::setTerrain(std::vector<TerrainPoint> AIRPORTS)
{
    std::lock_guard lock(m_state->mutex);
    State& s = *m_state;
    s.terrain = std::move(AIRPORTS);
    s.terrainCells.clear();
    for (std::size_t i = 0; i < s.terrain.size(); ++i) {
        const TerrainPoint& p = s.terrain[i];
        s.terrainCells[{static_cast<int>(std::floor(p.latitude)), static_cast<int>(std::floor(p.longitude))}].push_back(i);
    }
}

std::string SimStandIn::loadTerrain(const std::filesystem::path& AIRPORTS_XML)
{
    pugi::xml_document doc;
    if (!doc.load_file(AIRPORTS_XML.c_str())) {
        return "cannot read the scenery's airports from " + AIRPORTS_XML.string();
    }
    std::vector<TerrainPoint> airports;
    for (const pugi::xpath_node& a : doc.select_nodes("//a")) {
        const pugi::xml_node n = a.node();
        airports.push_back({n.attribute("lat").as_double(), n.attribute("lon").as_double(), n.attribute("alt").as_double()});
    }
    setTerrain(std::move(airports));
    return {};
}

void SimStandIn::setStaticCg(const std::string& TITLE, double CG_FT, double PITCH_RAD)
{
    std::lock_guard lock(m_state->mutex);
    m_state->staticCg[TITLE] = {CG_FT, PITCH_RAD};
}

std::uint32_t SimStandIn::addForeignAircraft(double LATITUDE, double LONGITUDE, double ALTITUDE_FT, bool ON_GROUND)
{
    std::lock_guard lock(m_state->mutex);
    State& s = *m_state;
    s.nextObjectId = std::max(s.nextObjectId, s.userObjectId + 1);
    const std::uint32_t id = s.nextObjectId++;
    SimObject obj;
    obj.title = "Foreign Aircraft";
    obj.values["PLANE LATITUDE"] = LATITUDE;
    obj.values["PLANE LONGITUDE"] = LONGITUDE;
    obj.values["PLANE ALTITUDE"] = ON_GROUND ? s.groundAt(LATITUDE, LONGITUDE) + DEFAULT_CG_FT : ALTITUDE_FT;
    s.objects[id] = std::move(obj);
    return id;
}

void SimStandIn::setFacilityFolder(const std::filesystem::path& FOLDER)
{
    std::lock_guard lock(m_state->mutex);
    m_state->facilityFolder = FOLDER;
}

std::string SimStandIn::addFacilityFile(const std::filesystem::path& FILE)
{
    std::ifstream in(FILE, std::ios::binary);
    const nlohmann::json airport = in ? nlohmann::json::parse(in, nullptr, false) : nlohmann::json();
    if (!airport.is_object() || !airport.contains("icao") || !airport["icao"].is_string()) {
        return "no facility data of an airport (\"icao\") in " + FILE.string();
    }
    std::lock_guard lock(m_state->mutex);
    m_state->facilityFiles[airport["icao"].get<std::string>()] = FILE;
    return {};
}

void SimStandIn::setFacilitySilent(bool SILENT)
{
    std::lock_guard lock(m_state->mutex);
    m_state->facilitySilent = SILENT;
}

std::vector<SimCall> SimStandIn::calls() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->calls;
}

std::size_t SimStandIn::countCalls(const std::string& FUNCTION) const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<std::size_t>(std::count_if(m_state->calls.begin(), m_state->calls.end(),
                                                  [&](const SimCall& c) { return c.function == FUNCTION; }));
}

void SimStandIn::setCallRecording(bool ON)
{
    std::lock_guard lock(m_state->mutex);
    m_state->recording = ON;
}

std::string SimStandIn::startTrackRecording(const std::filesystem::path& PATH)
{
    auto out = std::make_unique<std::ofstream>(PATH, std::ios::binary | std::ios::trunc);
    if (!*out) {
        return "cannot write the track recording " + PATH.string();
    }
    *out << std::setprecision(9);
    *out << "# O,frame,object,user|ai,tail,title / P,frame,object,lat,lon,alt_ft,heading_deg,on_ground,"
            "pitch_deg,bank_deg,vs_fpm,tas_kt,agl_ft (pitch negative nose up, bank negative right) / "
            "S,frame,object,note\n";
    std::lock_guard lock(m_state->mutex);
    m_state->track = std::move(out);
    m_state->trackedObjects.clear();
    return {};
}

void SimStandIn::stopTrackRecording()
{
    std::lock_guard lock(m_state->mutex);
    m_state->track.reset();
}

bool SimStandIn::trackRecording() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->track != nullptr;
}

void SimStandIn::recordNote(std::uint32_t OBJECT_ID, const std::string& TEXT)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->track) {
        *m_state->track << "S," << m_state->frame << ',' << OBJECT_ID << ',' << State::csvText(TEXT) << '\n';
    }
}

void SimStandIn::clearCalls()
{
    std::lock_guard lock(m_state->mutex);
    m_state->calls.clear();
}

bool SimStandIn::objectExists(std::uint32_t OBJECT_ID) const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->objects.contains(OBJECT_ID);
}

std::vector<std::uint32_t> SimStandIn::aiObjectIds() const
{
    std::lock_guard lock(m_state->mutex);
    std::vector<std::uint32_t> ids;
    for (const auto& [id, obj] : m_state->objects) {
        if (!obj.user) {
            ids.push_back(id);
        }
    }
    return ids;
}

std::optional<double> SimStandIn::objectValue(std::uint32_t OBJECT_ID, const std::string& DATUM) const
{
    std::lock_guard lock(m_state->mutex);
    const auto it = m_state->objects.find(OBJECT_ID);
    if (it == m_state->objects.end()) {
        return std::nullopt;
    }
    return m_state->value(it->second, DATUM);
}

std::optional<std::uint32_t> SimStandIn::eventValue(std::uint32_t OBJECT_ID, const std::string& EVENT_NAME) const
{
    std::lock_guard lock(m_state->mutex);
    const auto it = m_state->objects.find(OBJECT_ID);
    if (it == m_state->objects.end()) {
        return std::nullopt;
    }
    const auto ev = it->second.events.find(EVENT_NAME);
    if (ev == it->second.events.end()) {
        return std::nullopt;
    }
    return ev->second;
}

std::string SimStandIn::objectTitle(std::uint32_t OBJECT_ID) const
{
    std::lock_guard lock(m_state->mutex);
    const auto it = m_state->objects.find(OBJECT_ID);
    return it == m_state->objects.end() ? std::string() : it->second.title;
}

std::size_t SimStandIn::openConnections() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->connections.size();
}

// ---- the interface ----

namespace {
SimStandIn::State& lf_sim()
{
    return gf_simStandIn().state();
}
} // namespace

HRESULT SimConnect_Open(SIMCONNECT_HANDLE* HANDLE_OUT, const char* NAME, void*, std::uint32_t, void*, std::uint32_t)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_Open";
    call.text = NAME ? NAME : "";
    if (!s.running || HANDLE_OUT == nullptr) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    auto conn = std::make_unique<Connection>();
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
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_Close";
    if (s.find(HANDLE) == nullptr) {
        call.result = E_FAIL;
    } else {
        // Creates of this connection that are still under way are answered to nobody, and the AI
        // objects it made leave with it.
        Connection* closing = s.connections[HANDLE].get();
        std::erase_if(s.pendingCreates, [&](const PendingCreate& P) { return P.conn == closing; });
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
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    Connection* c = s.find(HANDLE);
    if (c == nullptr || SEND_ID_OUT == nullptr) {
        return E_FAIL;
    }
    *SEND_ID_OUT = c->lastSendId;
    return S_OK;
}

HRESULT SimConnect_RequestSystemState(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID,
                                      const char* STATE)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_RequestSystemState";
    call.id = REQUEST_ID;
    call.text = STATE ? STATE : "";
    Connection* c = s.conn(HANDLE);
    if (c == nullptr) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    if (call.text != "Sim") {
        SimStandIn::State::pushException(*c, SIMCONNECT_EXCEPTION_ERROR, c->lastSendId, 2);
        return s.record(std::move(call));
    }
    SIMCONNECT_RECV_SYSTEM_STATE state;
    state.dwRequestID = REQUEST_ID;
    state.dwInteger = s.flightRunning ? 1 : 0;
    SimStandIn::State::push(*c, state);
    return s.record(std::move(call));
}

HRESULT SimConnect_GetNextDispatch(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_RECV** DATA_OUT, std::uint32_t* SIZE_OUT)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    Connection* c = s.find(HANDLE);
    if (c == nullptr || DATA_OUT == nullptr) {
        return E_FAIL;
    }
    if (c->inbox.empty() && s.freeRunning && s.running) {
        const auto now = std::chrono::steady_clock::now();
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

HRESULT SimConnect_AddToDataDefinition(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                       const char* DATUM_NAME, const char* UNITS_NAME, SIMCONNECT_DATATYPE DATUM_TYPE)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_AddToDataDefinition";
    call.id = DEFINE_ID;
    call.text = DATUM_NAME ? DATUM_NAME : "";
    call.text2 = UNITS_NAME ? UNITS_NAME : "";
    Connection* c = s.conn(HANDLE);
    if (c == nullptr || call.text.empty()) {
        call.result = E_FAIL;
    } else {
        c->definitions[DEFINE_ID].push_back({call.text, DATUM_TYPE});
    }
    return s.record(std::move(call));
}

HRESULT SimConnect_RequestDataOnSimObject(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID,
                                          SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                          SIMCONNECT_PERIOD PERIOD)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_RequestDataOnSimObject";
    call.objectId = OBJECT_ID;
    call.id = REQUEST_ID;
    call.value = DEFINE_ID;
    Connection* c = s.conn(HANDLE);
    if (c == nullptr || !c->definitions.contains(DEFINE_ID)) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    std::erase_if(c->periodic, [&](const Periodic& p) { return p.requestId == REQUEST_ID; });
    if (PERIOD == SIMCONNECT_PERIOD_ONCE) {
        s.answer(*c, c->lastSendId, REQUEST_ID, DEFINE_ID, s.resolve(OBJECT_ID));
    } else if (PERIOD != SIMCONNECT_PERIOD_NEVER) {
        c->periodic.push_back({c->lastSendId, REQUEST_ID, DEFINE_ID, OBJECT_ID, PERIOD});
    }
    return s.record(std::move(call));
}

HRESULT SimConnect_RequestDataOnSimObjectType(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID,
                                              SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID, std::uint32_t RADIUS_METERS,
                                              SIMCONNECT_SIMOBJECT_TYPE TYPE)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_RequestDataOnSimObjectType";
    call.id = REQUEST_ID;
    call.value = RADIUS_METERS;
    Connection* c = s.conn(HANDLE);
    if (c == nullptr || !c->definitions.contains(DEFINE_ID)) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    const SimObject& user = s.objects[s.userObjectId];
    const double uLat = s.value(user, "PLANE LATITUDE") * 0.017453292519943295;
    const double uLon = s.value(user, "PLANE LONGITUDE") * 0.017453292519943295;
    std::vector<std::uint32_t> found;
    for (const auto& [id, obj] : s.objects) {
        if (TYPE == SIMCONNECT_SIMOBJECT_TYPE_USER && !obj.user) {
            continue;
        }
        const double lat = s.value(obj, "PLANE LATITUDE") * 0.017453292519943295;
        const double lon = s.value(obj, "PLANE LONGITUDE") * 0.017453292519943295;
        const double a = std::pow(std::sin((lat - uLat) / 2), 2) +
                         std::cos(lat) * std::cos(uLat) * std::pow(std::sin((lon - uLon) / 2), 2);
        const double metres = 2.0 * 6371008.8 * std::asin(std::min(1.0, std::sqrt(a)));
        if (metres <= RADIUS_METERS) {
            found.push_back(id);
        }
    }
    std::uint32_t entry = 1;
    for (const std::uint32_t id : found) {
        s.answer(*c, c->lastSendId, REQUEST_ID, DEFINE_ID, id, entry++, static_cast<std::uint32_t>(found.size()));
        std::visit([](auto& m) { m.dwID = SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE; }, c->inbox.back().msg);
    }
    return s.record(std::move(call));
}

HRESULT SimConnect_SetDataOnSimObject(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                      SIMCONNECT_OBJECT_ID OBJECT_ID, std::uint32_t, std::uint32_t ARRAY_COUNT,
                                      std::uint32_t UNIT_SIZE, void* DATA)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_SetDataOnSimObject";
    call.objectId = OBJECT_ID;
    call.id = DEFINE_ID;
    Connection* c = s.conn(HANDLE);
    const auto def = c == nullptr ? decltype(c->definitions)::iterator{} : c->definitions.find(DEFINE_ID);
    if (c == nullptr || def == c->definitions.end() || DATA == nullptr) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    std::size_t expected = 0;
    for (const Datum& d : def->second) {
        expected += d.type == SIMCONNECT_DATATYPE_STRING32 ? 32 : d.type == SIMCONNECT_DATATYPE_INT32 ? 4 : 8;
    }
    const std::size_t given = static_cast<std::size_t>(std::max<std::uint32_t>(1, ARRAY_COUNT)) * UNIT_SIZE;
    const auto obj = s.objects.find(s.resolve(OBJECT_ID));
    if (given != expected || obj == s.objects.end()) {
        call.result = E_FAIL;
        if (obj == s.objects.end()) {
            SimStandIn::State::pushException(*c, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, c->lastSendId, 2);
            call.result = S_OK; // the simulator only tells later
        }
        return s.record(std::move(call));
    }
    const auto* bytes = static_cast<const std::uint8_t*>(DATA);
    std::size_t at = 0;
    for (const Datum& d : def->second) {
        if (d.type == SIMCONNECT_DATATYPE_FLOAT64) {
            double v = 0.0;
            std::memcpy(&v, bytes + at, sizeof v);
            obj->second.values[d.name] = v;
            call.data.push_back(v);
            at += 8;
        } else {
            at += d.type == SIMCONNECT_DATATYPE_INT32 ? 4 : 32;
        }
    }
    return s.record(std::move(call));
}

HRESULT SimConnect_SubscribeToSystemEvent(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_CLIENT_EVENT_ID EVENT_ID,
                                          const char* SYSTEM_EVENT_NAME)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_SubscribeToSystemEvent";
    call.id = EVENT_ID;
    call.text = SYSTEM_EVENT_NAME ? SYSTEM_EVENT_NAME : "";
    Connection* c = s.conn(HANDLE);
    static const std::set<std::string> known = {"Frame", "ObjectAdded", "ObjectRemoved", "SimStart", "SimStop", "1sec"};
    if (c == nullptr || !known.contains(call.text)) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    c->systemEvents[call.text] = EVENT_ID;
    return s.record(std::move(call));
}

HRESULT SimConnect_MapClientEventToSimEvent(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_CLIENT_EVENT_ID EVENT_ID,
                                            const char* EVENT_NAME)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_MapClientEventToSimEvent";
    call.id = EVENT_ID;
    call.text = EVENT_NAME ? EVENT_NAME : "";
    Connection* c = s.conn(HANDLE);
    if (c == nullptr || call.text.empty()) {
        call.result = E_FAIL;
    } else {
        c->clientEvents[EVENT_ID] = call.text;
    }
    return s.record(std::move(call));
}

HRESULT SimConnect_TransmitClientEvent(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                       SIMCONNECT_CLIENT_EVENT_ID EVENT_ID, std::uint32_t DATA,
                                       SIMCONNECT_NOTIFICATION_GROUP_ID, std::uint32_t)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_TransmitClientEvent";
    call.objectId = OBJECT_ID;
    call.id = EVENT_ID;
    call.value = DATA;
    Connection* c = s.conn(HANDLE);
    if (c == nullptr) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    const auto ev = c->clientEvents.find(EVENT_ID);
    const auto obj = s.objects.find(s.resolve(OBJECT_ID));
    if (ev == c->clientEvents.end() || obj == s.objects.end()) {
        SimStandIn::State::pushException(*c, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, c->lastSendId,
                                         obj == s.objects.end() ? 1 : 2);
        return s.record(std::move(call));
    }
    call.text = ev->second;
    obj->second.events[ev->second] = DATA;
    return s.record(std::move(call));
}

HRESULT SimConnect_AICreateNonATCAircraft(SIMCONNECT_HANDLE HANDLE, const char* CONTAINER_TITLE,
                                          const char* TAIL_NUMBER, SIMCONNECT_DATA_INITPOSITION INIT_POS,
                                          SIMCONNECT_DATA_REQUEST_ID REQUEST_ID)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_AICreateNonATCAircraft";
    call.id = REQUEST_ID;
    call.text = CONTAINER_TITLE ? CONTAINER_TITLE : "";
    call.text2 = TAIL_NUMBER ? TAIL_NUMBER : "";
    call.initPos = INIT_POS;
    Connection* c = s.conn(HANDLE);
    if (c == nullptr) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    PendingCreate pending;
    pending.conn = c;
    pending.sendId = c->lastSendId;
    pending.requestId = REQUEST_ID;
    pending.fails = call.text.empty() || s.failingTitles.contains(call.text);
    pending.lost = std::uniform_int_distribution<int>(0, 999)(s.rng) < s.lostCreatesPerThousand;
    pending.title = call.text;
    pending.tail = call.text2;
    pending.initPos = INIT_POS;
    pending.framesLeft = s.drawCreateDelay();
    s.pendingCreates.push_back(std::move(pending));
    return s.record(std::move(call));
}

HRESULT SimConnect_AIRemoveObject(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                  SIMCONNECT_DATA_REQUEST_ID REQUEST_ID)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_AIRemoveObject";
    call.objectId = OBJECT_ID;
    call.id = REQUEST_ID;
    Connection* c = s.conn(HANDLE);
    if (c == nullptr) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    const auto obj = s.objects.find(OBJECT_ID);
    if (obj == s.objects.end() || obj->second.user) {
        SimStandIn::State::pushException(*c, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, c->lastSendId, 1);
        return s.record(std::move(call));
    }
    s.pendingRemoves.push_back({c, OBJECT_ID});
    return s.record(std::move(call));
}

HRESULT SimConnect_AISetAircraftFlightPlan(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                           const char* FLIGHT_PLAN_PATH, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_AISetAircraftFlightPlan";
    call.objectId = OBJECT_ID;
    call.id = REQUEST_ID;
    call.text = FLIGHT_PLAN_PATH ? FLIGHT_PLAN_PATH : "";
    Connection* c = s.conn(HANDLE);
    if (c == nullptr || call.text.empty()) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    if (!s.objects.contains(OBJECT_ID)) {
        SimStandIn::State::pushException(*c, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, c->lastSendId, 1);
    }
    return s.record(std::move(call));
}

HRESULT SimConnect_AddToFacilityDefinition(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                           const char* FIELD_NAME)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_AddToFacilityDefinition";
    call.id = DEFINE_ID;
    call.text = FIELD_NAME ? FIELD_NAME : "";
    Connection* c = s.conn(HANDLE);
    if (c == nullptr) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    std::vector<std::string>& def = c->facilityDefinitions[DEFINE_ID];
    if (!call.text.starts_with("OPEN ") && !call.text.starts_with("CLOSE ")) {
        // A field must belong to the record type opened last.
        std::vector<std::string> open;
        for (const std::string& f : def) {
            if (f.starts_with("OPEN ")) {
                open.push_back(f.substr(5));
            } else if (f.starts_with("CLOSE ") && !open.empty()) {
                open.pop_back();
            }
        }
        if (open.empty() || !lf_knownFacilityField(open.back(), call.text)) {
            call.result = E_INVALIDARG;
            return s.record(std::move(call));
        }
    }
    def.push_back(call.text);
    return s.record(std::move(call));
}

HRESULT SimConnect_RequestFacilityData(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                       SIMCONNECT_DATA_REQUEST_ID REQUEST_ID, const char* ICAO, const char*)
{
    SimStandIn::State& s = lf_sim();
    std::lock_guard lock(s.mutex);
    SimCall call;
    call.function = "SimConnect_RequestFacilityData";
    call.id = REQUEST_ID;
    call.value = DEFINE_ID;
    call.text = ICAO ? ICAO : "";
    Connection* c = s.conn(HANDLE);
    if (c == nullptr || !c->facilityDefinitions.contains(DEFINE_ID) || call.text.empty()) {
        call.result = E_FAIL;
        return s.record(std::move(call));
    }
    if (!s.facilitySilent) {
        s.facilityAnswer(*c, DEFINE_ID, REQUEST_ID, call.text);
    }
    return s.record(std::move(call));
}

} // namespace qmt
