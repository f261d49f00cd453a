// The simulated simulator's facility data: definitions of airport, parking and helipad records,
// and their answers from the "<ICAO>.json" files of the facility folder.

#include "platform/sim_State.h"
#include "platform/standin_meter.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <stdexcept>

namespace qmt {

namespace {

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
        lf_appendRaw(OUT, static_cast<std::int32_t>(value));
    } else {
        static const std::map<std::string, std::string> keys = {
            {"LATITUDE", "lat"}, {"LONGITUDE", "lon"}, {"ALTITUDE", "altitude_m"}, {"HEADING", "heading"},
            {"RADIUS", "radius"}, {"LENGTH", "length"}, {"WIDTH", "width"}};
        lf_appendRaw(OUT, J.value(keys.at(FIELD), 0.0));
    }
}

// The record types a definition has opened and not closed, in order, after its fields so far.
std::vector<std::string> lf_openRecords(const std::vector<std::string>& DEF,
                                        std::map<std::string, std::vector<std::string>>* FIELDS = nullptr)
{
    std::vector<std::string> open;
    for (const std::string& f : DEF) {
        if (f.starts_with("OPEN ")) {
            open.push_back(f.substr(5));
            if (FIELDS != nullptr) {
                (*FIELDS)[open.back()];
            }
        } else if (f.starts_with("CLOSE ")) {
            if (!open.empty()) {
                open.pop_back();
            }
        } else if (FIELDS != nullptr && !open.empty()) {
            (*FIELDS)[open.back()].push_back(f);
        }
    }
    return open;
}

// The facility file of an airport, or a discarded value.
nlohmann::json lf_readFacilityFile(const std::filesystem::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    if (!in) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    return nlohmann::json::parse(in, nullptr, false);
}

} // namespace

void SimStandIn::State::facilityAnswer(SimConnection& CONN, std::uint32_t DEFINE_ID, std::uint32_t REQUEST_ID,
                                       const std::string& ICAO)
{
    nlohmann::json airport = lf_readFacilityFile(facilityPath(ICAO));
    if (airport.is_discarded() || !airport.is_object()) {
        // An airport the simulator does not know.
        pushException(CONN, SIMCONNECT_EXCEPTION_ERROR, CONN.lastSendId, 3);
        return;
    }
    // Split the definition into the fields of each record type.
    std::map<std::string, std::vector<std::string>> fields;
    lf_openRecords(CONN.facilityDefinitions[DEFINE_ID], &fields);
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
    const auto packAll = [&](SIMCONNECT_FACILITY_DATA_TYPE TYPE, const char* RECORD, const char* KEY) {
        if (fields.contains(RECORD) && airport.contains(KEY)) {
            for (const nlohmann::json& item : airport[KEY]) {
                pack(TYPE, fields[RECORD], item);
            }
        }
    };
    try {
        if (fields.contains("AIRPORT")) {
            pack(SIMCONNECT_FACILITY_DATA_AIRPORT, fields["AIRPORT"], airport);
        }
        packAll(SIMCONNECT_FACILITY_DATA_TAXI_PARKING, "TAXI_PARKING", "parkings");
        packAll(SIMCONNECT_FACILITY_DATA_HELIPAD, "HELIPAD", "helipads");
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

std::string SimStandIn::setGroundElevationOf(const std::string& ICAO)
{
    std::filesystem::path path;
    {
        std::lock_guard lock(m_state->mutex);
        path = m_state->facilityPath(ICAO);
    }
    const nlohmann::json airport = lf_readFacilityFile(path);
    if (!airport.is_object() || !airport.contains("altitude_m") || !airport["altitude_m"].is_number()) {
        return "no facility altitude for " + ICAO;
    }
    setGroundElevation(airport["altitude_m"].get<double>() * kSimFeetPerMetre);
    return {};
}

void SimStandIn::setFacilityFolder(const std::filesystem::path& FOLDER)
{
    std::lock_guard lock(m_state->mutex);
    m_state->facilityFolder = FOLDER;
}

std::filesystem::path SimStandIn::State::facilityPath(const std::string& ICAO) const
{
    const auto it = facilityFiles.find(ICAO);
    return it != facilityFiles.end() ? it->second : facilityFolder / (ICAO + ".json");
}

std::string SimStandIn::addFacilityFile(const std::filesystem::path& FILE)
{
    const nlohmann::json airport = lf_readFacilityFile(FILE);
    if (!airport.is_object() || !airport.contains("icao") || !airport["icao"].is_string()) {
        return "no facility data of an airport (\"icao\") in " + FILE.string();
    }
    std::lock_guard lock(m_state->mutex);
    m_state->facilityFiles[airport["icao"].get<std::string>()] = FILE;
    return {};
}

// ---- the facility calls of the interface ----

HRESULT SimConnect_AddToFacilityDefinition(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                           const char* FIELD_NAME)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_AddToFacilityDefinition";
    call.id = DEFINE_ID;
    call.text = lf_text(FIELD_NAME);
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State&, SimConnection& c, SimCall& CALL) {
        std::vector<std::string>& def = c.facilityDefinitions[DEFINE_ID];
        if (!CALL.text.starts_with("OPEN ") && !CALL.text.starts_with("CLOSE ")) {
            // A field must belong to the record type opened last.
            const std::vector<std::string> open = lf_openRecords(def);
            if (open.empty() || !lf_knownFacilityField(open.back(), CALL.text)) {
                CALL.result = E_INVALIDARG;
                return;
            }
        }
        def.push_back(CALL.text);
    });
}

HRESULT SimConnect_RequestFacilityData(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                       SIMCONNECT_DATA_REQUEST_ID REQUEST_ID, const char* ICAO, const char*)
{
    const StandInScope scope(StandInPart::simulator);
    SimCall call;
    call.function = "SimConnect_RequestFacilityData";
    call.id = REQUEST_ID;
    call.value = DEFINE_ID;
    call.text = lf_text(ICAO);
    return lf_packetCall(HANDLE, std::move(call), [&](SimStandIn::State& s, SimConnection& c, SimCall& CALL) {
        if (!c.facilityDefinitions.contains(DEFINE_ID) || CALL.text.empty()) {
            CALL.result = E_FAIL;
            return;
        }
        if (!s.facilitySilent) {
            s.facilityAnswer(c, DEFINE_ID, REQUEST_ID, CALL.text);
        }
    });
}

} // namespace qmt
