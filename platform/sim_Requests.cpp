// The simulated simulator's messages, data definitions, data requests and their answers, and
// the events it sends.

#include "platform/sim_State.h"
#include "platform/standin_meter.h"

#include <cmath>

namespace qmt {

namespace {

std::uint32_t lf_idOf(const SIMCONNECT_RECV&) { return SIMCONNECT_RECV_ID_NULL; }
std::uint32_t lf_idOf(const SIMCONNECT_RECV_EXCEPTION&) { return SIMCONNECT_RECV_ID_EXCEPTION; }
std::uint32_t lf_idOf(const SIMCONNECT_RECV_EVENT&) { return SIMCONNECT_RECV_ID_EVENT; }
std::uint32_t lf_idOf(const SIMCONNECT_RECV_EVENT_FRAME&) { return SIMCONNECT_RECV_ID_EVENT_FRAME; }
std::uint32_t lf_idOf(const SIMCONNECT_RECV_EVENT_OBJECT_ADDREMOVE&) { return SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE; }
std::uint32_t lf_idOf(const SIMCONNECT_RECV_ASSIGNED_OBJECT_ID&) { return SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID; }
std::uint32_t lf_idOf(const SIMCONNECT_RECV_SIMOBJECT_DATA&) { return SIMCONNECT_RECV_ID_SIMOBJECT_DATA; }
std::uint32_t lf_idOf(const SIMCONNECT_RECV_FACILITY_DATA&) { return SIMCONNECT_RECV_ID_FACILITY_DATA; }
std::uint32_t lf_idOf(const SIMCONNECT_RECV_SYSTEM_STATE&) { return SIMCONNECT_RECV_ID_SYSTEM_STATE; }
std::uint32_t lf_idOf(const SIMCONNECT_RECV_FACILITY_DATA_END&) { return SIMCONNECT_RECV_ID_FACILITY_DATA_END; }

// The bytes a data definition takes.
std::size_t lf_definitionSize(const std::vector<SimDatum>& DEF)
{
    std::size_t size = 0;
    for (const SimDatum& d : DEF) {
        size += d.type == SIMCONNECT_DATATYPE_STRING32 ? 32 : d.type == SIMCONNECT_DATATYPE_INT32 ? 4 : 8;
    }
    return size;
}

// Metres along the earth from one position to another, both in radians.
double lf_metresBetween(double LAT_A, double LON_A, double LAT_B, double LON_B)
{
    const double a = std::pow(std::sin((LAT_B - LAT_A) / 2), 2) +
                     std::cos(LAT_B) * std::cos(LAT_A) * std::pow(std::sin((LON_B - LON_A) / 2), 2);
    return 2.0 * 6371008.8 * std::asin(std::min(1.0, std::sqrt(a)));
}

} // namespace

void SimStandIn::State::push(SimConnection& CONN, SimMessage MSG, std::vector<std::uint8_t> PAYLOAD)
{
    std::visit(
        [](auto& m) {
            m.dwSize = static_cast<std::uint32_t>(sizeof(m));
            m.dwID = lf_idOf(m);
        },
        MSG);
    CONN.inbox.push_back(SimOwnedMessage{std::move(MSG), std::move(PAYLOAD)});
}

void SimStandIn::State::pushException(SimConnection& CONN, std::uint32_t EXCEPTION, std::uint32_t SEND_ID,
                                      std::uint32_t INDEX)
{
    SIMCONNECT_RECV_EXCEPTION ex;
    ex.dwException = EXCEPTION;
    ex.dwSendID = SEND_ID;
    ex.dwIndex = INDEX;
    push(CONN, ex);
}

void SimStandIn::State::pushSystemEvent(SimConnection& CONN, const std::string& NAME, std::uint32_t DATA)
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

void SimStandIn::State::tellAll(const std::string& NAME, std::uint32_t DATA)
{
    for (auto& [handle, c] : connections) {
        pushSystemEvent(*c, NAME, DATA);
    }
}

std::vector<std::uint8_t> SimStandIn::State::pack(const SimObject& OBJ, const std::vector<SimDatum>& DEF) const
{
    std::vector<std::uint8_t> out;
    for (const SimDatum& d : DEF) {
        if (d.type == SIMCONNECT_DATATYPE_STRING32) {
            lf_appendText(out, d.name == "ATC ID" ? OBJ.tail : OBJ.title, 32);
        } else if (d.type == SIMCONNECT_DATATYPE_INT32) {
            lf_appendRaw(out, static_cast<std::int32_t>(value(OBJ, d.name)));
        } else {
            lf_appendRaw(out, value(OBJ, d.name));
        }
    }
    return out;
}

void SimStandIn::State::answer(SimConnection& CONN, std::uint32_t SEND_ID, std::uint32_t REQUEST_ID,
                               std::uint32_t DEFINE_ID, std::uint32_t OBJECT_ID, std::uint32_t ENTRY,
                               std::uint32_t OUT_OF)
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

void SimStandIn::State::answerPeriodic()
{
    for (auto& [handle, c] : connections) {
        for (const SimPeriodic& p : c->periodic) {
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
}

// ---- the calls of the interface ----

HRESULT SimConnect_RequestSystemState(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID,
                                      const char* STATE)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_RequestSystemState";
    call.id = REQUEST_ID;
    call.text = lf_text(STATE);
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State& s, SimConnection& c, SimCall& CALL) {
        if (CALL.text != "Sim") {
            SimStandIn::State::pushException(c, SIMCONNECT_EXCEPTION_ERROR, c.lastSendId, 2);
            return;
        }
        SIMCONNECT_RECV_SYSTEM_STATE state;
        state.dwRequestID = REQUEST_ID;
        state.dwInteger = s.flightRunning ? 1 : 0;
        SimStandIn::State::push(c, state);
    });
}

HRESULT SimConnect_AddToDataDefinition(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                       const char* DATUM_NAME, const char* UNITS_NAME, SIMCONNECT_DATATYPE DATUM_TYPE)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_AddToDataDefinition";
    call.id = DEFINE_ID;
    call.text = lf_text(DATUM_NAME);
    call.text2 = lf_text(UNITS_NAME);
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State&, SimConnection& c, SimCall& CALL) {
        if (CALL.text.empty()) {
            CALL.result = E_FAIL;
            return;
        }
        c.definitions[DEFINE_ID].push_back({CALL.text, DATUM_TYPE});
    });
}

HRESULT SimConnect_RequestDataOnSimObject(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID,
                                          SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                          SIMCONNECT_PERIOD PERIOD)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_RequestDataOnSimObject";
    call.objectId = OBJECT_ID;
    call.id = REQUEST_ID;
    call.value = DEFINE_ID;
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State& s, SimConnection& c, SimCall& CALL) {
        if (!c.definitions.contains(DEFINE_ID)) {
            CALL.result = E_FAIL;
            return;
        }
        std::erase_if(c.periodic, [&](const SimPeriodic& p) { return p.requestId == REQUEST_ID; });
        if (PERIOD == SIMCONNECT_PERIOD_ONCE) {
            s.answer(c, c.lastSendId, REQUEST_ID, DEFINE_ID, s.resolve(OBJECT_ID));
        } else if (PERIOD != SIMCONNECT_PERIOD_NEVER) {
            c.periodic.push_back({c.lastSendId, REQUEST_ID, DEFINE_ID, OBJECT_ID, PERIOD});
        }
    });
}

HRESULT SimConnect_RequestDataOnSimObjectType(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID,
                                              SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID, std::uint32_t RADIUS_METERS,
                                              SIMCONNECT_SIMOBJECT_TYPE TYPE)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_RequestDataOnSimObjectType";
    call.id = REQUEST_ID;
    call.value = RADIUS_METERS;
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State& s, SimConnection& c, SimCall& CALL) {
        if (!c.definitions.contains(DEFINE_ID)) {
            CALL.result = E_FAIL;
            return;
        }
        const SimObject& user = s.objects[s.userObjectId];
        const double uLat = s.value(user, "PLANE LATITUDE") * kDegToRad;
        const double uLon = s.value(user, "PLANE LONGITUDE") * kDegToRad;
        std::vector<std::uint32_t> found;
        for (const auto& [id, obj] : s.objects) {
            if (TYPE == SIMCONNECT_SIMOBJECT_TYPE_USER && !obj.user) {
                continue;
            }
            const double lat = s.value(obj, "PLANE LATITUDE") * kDegToRad;
            const double lon = s.value(obj, "PLANE LONGITUDE") * kDegToRad;
            if (lf_metresBetween(uLat, uLon, lat, lon) <= RADIUS_METERS) {
                found.push_back(id);
            }
        }
        std::uint32_t entry = 1;
        for (const std::uint32_t id : found) {
            s.answer(c, c.lastSendId, REQUEST_ID, DEFINE_ID, id, entry++, static_cast<std::uint32_t>(found.size()));
            std::visit([](auto& m) { m.dwID = SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE; }, c.inbox.back().msg);
        }
    });
}

HRESULT SimConnect_SetDataOnSimObject(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                      SIMCONNECT_OBJECT_ID OBJECT_ID, std::uint32_t, std::uint32_t ARRAY_COUNT,
                                      std::uint32_t UNIT_SIZE, void* DATA)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_SetDataOnSimObject";
    call.objectId = OBJECT_ID;
    call.id = DEFINE_ID;
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State& s, SimConnection& c, SimCall& CALL) {
        const auto def = c.definitions.find(DEFINE_ID);
        if (def == c.definitions.end() || DATA == nullptr) {
            CALL.result = E_FAIL;
            return;
        }
        const std::size_t given = static_cast<std::size_t>(std::max<std::uint32_t>(1, ARRAY_COUNT)) * UNIT_SIZE;
        const auto obj = s.objects.find(s.resolve(OBJECT_ID));
        if (obj == s.objects.end()) {
            // The simulator only tells later.
            SimStandIn::State::pushException(c, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, c.lastSendId, 2);
            return;
        }
        if (given != lf_definitionSize(def->second)) {
            CALL.result = E_FAIL;
            return;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(DATA);
        std::size_t at = 0;
        for (const SimDatum& d : def->second) {
            if (d.type == SIMCONNECT_DATATYPE_FLOAT64) {
                double v = 0.0;
                std::memcpy(&v, bytes + at, sizeof v);
                obj->second.values[d.name] = v;
                CALL.data.push_back(v);
                at += 8;
            } else {
                at += d.type == SIMCONNECT_DATATYPE_INT32 ? 4 : 32;
            }
        }
    });
}

HRESULT SimConnect_SubscribeToSystemEvent(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_CLIENT_EVENT_ID EVENT_ID,
                                          const char* SYSTEM_EVENT_NAME)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_SubscribeToSystemEvent";
    call.id = EVENT_ID;
    call.text = lf_text(SYSTEM_EVENT_NAME);
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State&, SimConnection& c, SimCall& CALL) {
        static const std::set<std::string> known = {"Frame", "ObjectAdded", "ObjectRemoved", "SimStart", "SimStop",
                                                    "1sec"};
        if (!known.contains(CALL.text)) {
            CALL.result = E_FAIL;
            return;
        }
        c.systemEvents[CALL.text] = EVENT_ID;
    });
}

HRESULT SimConnect_MapClientEventToSimEvent(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_CLIENT_EVENT_ID EVENT_ID,
                                            const char* EVENT_NAME)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_MapClientEventToSimEvent";
    call.id = EVENT_ID;
    call.text = lf_text(EVENT_NAME);
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State&, SimConnection& c, SimCall& CALL) {
        if (CALL.text.empty()) {
            CALL.result = E_FAIL;
            return;
        }
        c.clientEvents[EVENT_ID] = CALL.text;
    });
}

HRESULT SimConnect_TransmitClientEvent(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                       SIMCONNECT_CLIENT_EVENT_ID EVENT_ID, std::uint32_t DATA,
                                       SIMCONNECT_NOTIFICATION_GROUP_ID, std::uint32_t)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_TransmitClientEvent";
    call.objectId = OBJECT_ID;
    call.id = EVENT_ID;
    call.value = DATA;
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State& s, SimConnection& c, SimCall& CALL) {
        const auto ev = c.clientEvents.find(EVENT_ID);
        const auto obj = s.objects.find(s.resolve(OBJECT_ID));
        if (ev == c.clientEvents.end() || obj == s.objects.end()) {
            SimStandIn::State::pushException(c, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, c.lastSendId,
                                             obj == s.objects.end() ? 1 : 2);
            return;
        }
        CALL.text = ev->second;
        obj->second.events[ev->second] = DATA;
    });
}

} // namespace qmt
