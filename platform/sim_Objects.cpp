// The simulated simulator's objects: the user aircraft and its script, the AI objects that
// clients create and remove, and the values they report.

#include "platform/sim_State.h"
#include "platform/standin_meter.h"

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <cmath>
#include <fstream>

namespace qmt {

namespace {

double lf_terrainDistanceNm(double LAT1, double LON1, double LAT2, double LON2)
{
    constexpr double earthNm = 3440.065;
    const double dLat = (LAT2 - LAT1) * kDegToRad;
    const double dLon = (LON2 - LON1) * kDegToRad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) + std::cos(LAT1 * kDegToRad) *
                                                                  std::cos(LAT2 * kDegToRad) *
                                                                  std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2.0 * earthNm * std::asin(std::min(1.0, std::sqrt(a)));
}

} // namespace

std::pair<double, double> SimStandIn::State::cgOf(const SimObject& OBJ) const
{
    const auto it = staticCg.find(OBJ.title);
    return it == staticCg.end() ? std::pair{kSimDefaultCgFt, kSimDefaultStaticPitch} : it->second;
}

double SimStandIn::State::groundAt(double LAT, double LON) const
{
    double best = kSimTerrainReachNm;
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

double SimStandIn::State::groundUnder(const SimObject& OBJ) const
{
    if (terrain.empty()) {
        return groundElevationFt;
    }
    const auto lat = OBJ.values.find("PLANE LATITUDE");
    const auto lon = OBJ.values.find("PLANE LONGITUDE");
    return groundAt(lat == OBJ.values.end() ? 0.0 : lat->second, lon == OBJ.values.end() ? 0.0 : lon->second);
}

double SimStandIn::State::value(const SimObject& OBJ, const std::string& NAME) const
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

void SimStandIn::State::moveUser()
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

void SimStandIn::State::placeUser(const UserScriptPoint& P)
{
    SimObject& user = objects[userObjectId];
    user.values["PLANE LATITUDE"] = P.latitude;
    user.values["PLANE LONGITUDE"] = P.longitude;
    user.values["PLANE ALTITUDE"] = P.altitudeFt;
    user.values["PLANE HEADING DEGREES TRUE"] = P.headingDeg * kDegToRad;
    user.values["GROUND VELOCITY"] = P.groundSpeedKt;
    user.values["SIM ON GROUND"] = P.onGround ? 1.0 : 0.0;
}

std::uint32_t SimStandIn::State::addObject(SimObject OBJ)
{
    nextObjectId = std::max(nextObjectId, userObjectId + 1);
    const std::uint32_t id = nextObjectId++;
    objects[id] = std::move(OBJ);
    return id;
}

void SimStandIn::State::removeObject(std::uint32_t OBJECT_ID)
{
    if (objects.erase(OBJECT_ID) == 0) {
        return;
    }
    tellAll("ObjectRemoved", OBJECT_ID);
}

void SimStandIn::State::settleCreatesAndRemoves()
{
    // With drawn delays the answers come out of order.
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
        SimObject obj;
        obj.owner = it->conn;
        obj.title = it->title;
        obj.tail = it->tail;
        obj.values["PLANE LATITUDE"] = it->initPos.Latitude;
        obj.values["PLANE LONGITUDE"] = it->initPos.Longitude;
        obj.values["PLANE PITCH DEGREES"] = it->initPos.Pitch * kDegToRad;
        obj.values["PLANE BANK DEGREES"] = it->initPos.Bank * kDegToRad;
        obj.values["PLANE HEADING DEGREES TRUE"] = it->initPos.Heading * kDegToRad;
        obj.values["AIRSPEED TRUE"] = it->initPos.Airspeed;
        const double cg = cgOf(obj).first;
        obj.values["PLANE ALTITUDE"] =
            it->initPos.OnGround != 0 ? groundUnder(obj) + cg : std::max(it->initPos.Altitude, groundUnder(obj) + cg);
        SIMCONNECT_RECV_ASSIGNED_OBJECT_ID assigned;
        assigned.dwRequestID = it->requestId;
        assigned.dwObjectID = addObject(std::move(obj));
        push(*it->conn, assigned);
        it = pendingCreates.erase(it);
    }
    for (const SimPendingRemove& r : pendingRemoves) {
        removeObject(r.objectId);
    }
    pendingRemoves.clear();
}

// ---- control and inspection ----

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
    std::ifstream in(AIRPORTS_XML);
    if (!in) {
        return "cannot read the scenery's airports from " + AIRPORTS_XML.string();
    }
    // The list holds one airport to a line. Read a line at a time, so that its 40,000 airports
    // never stand in memory as one tree: that tree took more than the whole program holds.
    std::vector<TerrainPoint> airports;
    pugi::xml_document doc;
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("<a ") == std::string::npos || !doc.load_string(line.c_str())) {
            continue;
        }
        const pugi::xml_node n = doc.child("a");
        // small fields and heliports (some on roofs) do not tell the lie of the land
        if (!n || n.attribute("minor").as_bool()) {
            continue;
        }
        airports.push_back({n.attribute("lat").as_double(), n.attribute("lon").as_double(), n.attribute("alt").as_double()});
    }
    if (in.bad() || airports.empty()) {
        return "cannot read the scenery's airports from " + AIRPORTS_XML.string();
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
    SimObject obj;
    obj.title = "Foreign Aircraft";
    obj.values["PLANE LATITUDE"] = LATITUDE;
    obj.values["PLANE LONGITUDE"] = LONGITUDE;
    obj.values["PLANE ALTITUDE"] = ON_GROUND ? s.groundAt(LATITUDE, LONGITUDE) + kSimDefaultCgFt : ALTITUDE_FT;
    return s.addObject(std::move(obj));
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

// ---- the object calls of the interface ----

HRESULT SimConnect_AICreateNonATCAircraft(SIMCONNECT_HANDLE HANDLE, const char* CONTAINER_TITLE,
                                          const char* TAIL_NUMBER, SIMCONNECT_DATA_INITPOSITION INIT_POS,
                                          SIMCONNECT_DATA_REQUEST_ID REQUEST_ID)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_AICreateNonATCAircraft";
    call.id = REQUEST_ID;
    call.text = lf_text(CONTAINER_TITLE);
    call.text2 = lf_text(TAIL_NUMBER);
    call.initPos = INIT_POS;
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State& s, SimConnection& c, SimCall& CALL) {
        SimPendingCreate pending;
        pending.conn = &c;
        pending.sendId = c.lastSendId;
        pending.requestId = REQUEST_ID;
        pending.fails = CALL.text.empty() || s.failingTitles.contains(CALL.text) || s.drawFailedCreate();
        pending.lost = std::uniform_int_distribution<int>(0, 999)(s.rng) < s.lostCreatesPerThousand;
        pending.title = CALL.text;
        pending.tail = CALL.text2;
        pending.initPos = INIT_POS;
        pending.framesLeft = s.drawCreateDelay();
        s.pendingCreates.push_back(std::move(pending));
    });
}

HRESULT SimConnect_AIRemoveObject(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                  SIMCONNECT_DATA_REQUEST_ID REQUEST_ID)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_AIRemoveObject";
    call.objectId = OBJECT_ID;
    call.id = REQUEST_ID;
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State& s, SimConnection& c, SimCall&) {
        const auto obj = s.objects.find(OBJECT_ID);
        if (obj == s.objects.end() || obj->second.user) {
            SimStandIn::State::pushException(c, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, c.lastSendId, 1);
            return;
        }
        s.pendingRemoves.push_back({&c, OBJECT_ID});
    });
}

HRESULT SimConnect_AISetAircraftFlightPlan(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                           const char* FLIGHT_PLAN_PATH, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_AISetAircraftFlightPlan";
    call.objectId = OBJECT_ID;
    call.id = REQUEST_ID;
    call.text = lf_text(FLIGHT_PLAN_PATH);
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State& s, SimConnection& c, SimCall& CALL) {
        if (CALL.text.empty()) {
            CALL.result = E_FAIL;
        } else if (!s.objects.contains(OBJECT_ID)) {
            SimStandIn::State::pushException(c, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, c.lastSendId, 1);
        }
    });
}

} // namespace qmt
