#include "simlink/Facilities.h"

#include "core/Log.h"
#include "core/StopFlags.h"
#include "parking/Stand.h"
#include "simlink/SimClient.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace qmt {

ParkingDataReader PARKING_DATA_RDR;

namespace {

double lf_sleepOneMillisecond()
{
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

constexpr double WAIT_LIMIT_MS = 10000.0;
constexpr double FEET_PER_METRE = 3.280839895013123;

// The fields asked for, in the order they are read back below.
const char* const FACILITY_FIELDS[] = {
    "OPEN AIRPORT",     "ICAO",      "NAME64",    "ALTITUDE",          "OPEN TAXI_PARKING",
    "NAME",             "NUMBER",    "TYPE",      "HEADING",           "RADIUS",
    "LATITUDE",         "LONGITUDE", "CLOSE TAXI_PARKING", "OPEN HELIPAD", "LATITUDE",
    "LONGITUDE",        "HEADING",   "WIDTH",     "CLOSE HELIPAD",     "CLOSE AIRPORT",
};

// Reads fixed-width fields of one facility record in order; a record shorter than its
// definition reads as zeros and marks the reader bad.
class FieldReader {
public:
    explicit FieldReader(const SIMCONNECT_RECV_FACILITY_DATA& MSG) : m_data(MSG.pData), m_size(MSG.dwDataSize) {}
    double f64()
    {
        double v = 0.0;
        take(&v, sizeof v);
        return v;
    }
    std::int32_t i32()
    {
        std::int32_t v = 0;
        take(&v, sizeof v);
        return v;
    }
    std::string text(std::size_t WIDTH)
    {
        std::vector<char> buf(WIDTH + 1, 0);
        take(buf.data(), WIDTH);
        return std::string(buf.data());
    }
    bool ok() const { return m_ok; }

private:
    void take(void* OUT, std::size_t N)
    {
        if (m_data == nullptr || m_at + N > m_size) {
            m_ok = false;
            return;
        }
        std::memcpy(OUT, m_data + m_at, N);
        m_at += N;
    }
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_ok = true;
};

bool lf_openReader()
{
    SIMCONNECT_HANDLE h = nullptr;
    const HRESULT hr = SimConnect_Open(&h, "PARKING_DATA_RDR", nullptr, 0, nullptr, 0);
    if (FAILED(hr)) {
        gf_logWarning("SimConnect_Open (PARKING_DATA_RDR) FAILED hr=0x{:08X}", static_cast<std::uint32_t>(hr));
        return false;
    }
    for (const char* field : FACILITY_FIELDS) {
        if (FAILED(SimConnect_AddToFacilityDefinition(h, DEF_FACILITY_PARKING, field))) {
            gf_logWarning("AddToFacilityDefinition failed for {}", field);
            SimConnect_Close(h);
            return false;
        }
    }
    PARKING_DATA_RDR.handle = h;
    PARKING_DATA_RDR.open = true;
    return true;
}

// Stand names are unique within an airport: a repeated name gets "a" to "j" appended; after that
// the stand is dropped.
bool lf_uniqueName(std::string& NAME, std::set<std::string>& NAMES)
{
    if (NAMES.insert(NAME).second) {
        return true;
    }
    for (char c = 'a'; c <= 'j'; ++c) {
        std::string candidate = NAME + c;
        if (NAMES.insert(candidate).second) {
            NAME = std::move(candidate);
            return true;
        }
    }
    return false;
}

} // namespace

std::function<double()> g_facilityWaitStep = lf_sleepOneMillisecond;

bool gf_readFacilityParkings(const std::string& ICAO, AirportFile& RECORD, int& HELIPADS, FacilityRead* STATUS)
{
    FacilityRead status = FacilityRead::notRead;
    const auto finish = [&](FacilityRead RESULT) {
        status = RESULT;
        if (STATUS != nullptr) {
            *STATUS = status;
        }
        return status == FacilityRead::ok;
    };
    HELIPADS = 0;
    if (!PARKING_DATA_RDR.open && !lf_openReader()) {
        return finish(FacilityRead::notRead);
    }
    SIMCONNECT_HANDLE h = PARKING_DATA_RDR.handle;
    SIMCONNECT_RECV* msg = nullptr;
    std::uint32_t size = 0;
    // Answers of an earlier request that timed out carry the same request id: drop them first.
    while (SUCCEEDED(SimConnect_GetNextDispatch(h, &msg, &size))) {
    }
    if (FAILED(SimConnect_RequestFacilityData(h, DEF_FACILITY_PARKING, REQUEST_FACILITY_PARKING, ICAO.c_str()))) {
        gf_logWarning("RequestFacilityData failed for {}", ICAO);
        return finish(FacilityRead::notRead);
    }
    // A refusal comes back as an exception naming the packet of this request.
    std::uint32_t requestSendId = SIMCONNECT_UNKNOWN_SENDID;
    SimConnect_GetLastSentPacketID(h, &requestSendId);

    std::vector<Stand> stands;
    std::set<std::string> names;
    int helipads = 0;
    std::string airportName;
    double altitudeM = 0.0;
    double waitedMs = 0.0;
    bool complete = false;
    while (!complete) {
        if (FAILED(SimConnect_GetNextDispatch(h, &msg, &size))) {
            if (gf_stopRequested()) {
                gf_logWarning("Facility data for {} not read: stopping", ICAO);
                return finish(FacilityRead::notRead);
            }
            if (waitedMs >= WAIT_LIMIT_MS) {
                gf_logWarning("Facility data for {} not complete after 10 seconds", ICAO);
                return finish(FacilityRead::notRead);
            }
            waitedMs += g_facilityWaitStep();
            continue;
        }
        switch (msg->dwID) {
        case SIMCONNECT_RECV_ID_FACILITY_DATA: {
            const auto& data = *static_cast<const SIMCONNECT_RECV_FACILITY_DATA*>(msg);
            if (data.dwRequestID != REQUEST_FACILITY_PARKING) {
                break;
            }
            FieldReader in(data);
            if (data.Type == SIMCONNECT_FACILITY_DATA_AIRPORT) {
                in.text(8);
                airportName = in.text(64);
                altitudeM = in.f64();
            } else if (data.Type == SIMCONNECT_FACILITY_DATA_TAXI_PARKING) {
                const std::string prefix = in.text(32);
                const std::int32_t number = in.i32();
                const std::int32_t type = in.i32();
                const double headingDeg = in.f64();
                const double radiusM = in.f64();
                const double lat = in.f64();
                const double lon = in.f64();
                std::string name = prefix + std::to_string(number);
                if (!in.ok()) {
                    gf_logWarning("Facility data for {}: short parking record", ICAO);
                    break;
                }
                if (!lf_uniqueName(name, names)) {
                    gf_logWarning("Facility data for {}: more than 10 parkings named {}", ICAO, name);
                    break;
                }
                // A heading of exactly 0 is kept as a full turn, as the scenery reader does.
                const double heading = headingDeg == 0.0 ? 6.283185307179586 : headingDeg * 0.017453292519943295;
                stands.emplace_back(std::move(name), std::vector<StandOption>{}, lat, lon, heading, radiusM,
                                    static_cast<std::uint16_t>(type), false, false, false);
            } else if (data.Type == SIMCONNECT_FACILITY_DATA_HELIPAD) {
                const double lat = in.f64();
                const double lon = in.f64();
                const double headingDeg = in.f64();
                const double widthM = in.f64();
                if (!in.ok()) {
                    gf_logWarning("Facility data for {}: short helipad record", ICAO);
                    break;
                }
                ++helipads;
                stands.emplace_back("helipad" + std::to_string(helipads), std::vector<StandOption>{}, lat, lon,
                                    headingDeg * 0.017453292519943295, widthM / 2.0, 0, false, false, true);
            }
            break;
        }
        case SIMCONNECT_RECV_ID_FACILITY_DATA_END:
            complete = static_cast<const SIMCONNECT_RECV_FACILITY_DATA_END*>(msg)->dwRequestID ==
                       REQUEST_FACILITY_PARKING;
            break;
        case SIMCONNECT_RECV_ID_EXCEPTION:
            if (static_cast<const SIMCONNECT_RECV_EXCEPTION*>(msg)->dwSendID == requestSendId) {
                gf_logWarning("Facility data for {} could not be read", ICAO);
                return finish(FacilityRead::notRead);
            }
            break;
        case SIMCONNECT_RECV_ID_QUIT:
            gf_logWarning("Facility data for {} not read: the simulator was closed", ICAO);
            return finish(FacilityRead::notRead);
        default:
            break;
        }
    }

    if (const auto code = IcaoCode::tryParse(ICAO)) {
        RECORD.code = *code;
    }
    RECORD.airportName = airportName;
    RECORD.altitudeFt = static_cast<std::int32_t>(std::lround(altitudeM * FEET_PER_METRE));
    RECORD.stands = std::move(stands);
    HELIPADS = helipads;
    return finish(RECORD.stands.empty() ? FacilityRead::noStands : FacilityRead::ok);
}

void gf_closeParkingDataReader()
{
    if (!PARKING_DATA_RDR.open) {
        return;
    }
    if (FAILED(SimConnect_Close(PARKING_DATA_RDR.handle))) {
        gf_logWarning("Closing SimConnect failed?!");
    } else {
        gf_logLine("SimConnect closed ok");
    }
    PARKING_DATA_RDR = ParkingDataReader{};
    gf_logLine("SimConnect (PARKING_DATA_RDR) closed");
}

void gf_resetFacilitiesForTests()
{
    if (PARKING_DATA_RDR.open) {
        SimConnect_Close(PARKING_DATA_RDR.handle);
    }
    PARKING_DATA_RDR = ParkingDataReader{};
    g_facilityWaitStep = lf_sleepOneMillisecond;
}

} // namespace qmt
