#include "simlink/Facilities.h"

#include "core/Log.h"
#include "core/LoopClock.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "records/Stand.h"
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
    const LoopTime start = gf_loopNow();
    gf_loopSleepFor(std::chrono::milliseconds(1));
    return std::chrono::duration<double, std::milli>(gf_loopNow() - start).count();
}

constexpr double kWaitLimitMs = 10000.0;
constexpr double kFeetPerMetre = 3.280839895013123;

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
        if (FAILED(SimConnect_AddToFacilityDefinition(h, kDefFacilityParking, field))) {
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

namespace {

// The simulator's answer is outside input like any file: a stand or helipad whose numbers
// cannot be a stand's is left out (counted in REFUSED); an absurd altitude reads as 0.
bool lf_addFacilityStand(std::vector<Stand>& STANDS, std::string NAME, double LAT, double LON, double HEADING_DEG,
                         double RADIUS_M, std::uint16_t TYPE, bool HELI, int& REFUSED)
{
    std::optional<double> heading = gf_standHeadingRad(HEADING_DEG);
    if (!gf_isStandPosition(LAT, LON) || !gf_isStandRadius(RADIUS_M) || !heading) {
        ++REFUSED;
        return false;
    }
    // A parking heading of exactly 0 is kept as a full turn, as the scenery reader does.
    if (!HELI && HEADING_DEG == 0.0) {
        heading = 2.0 * PI;
    }
    STANDS.emplace_back(std::move(NAME), std::vector<StandOption>{}, LAT, LON, *heading, RADIUS_M, TYPE, false, false,
                        HELI);
    return true;
}

// Airports lie between the shores of the Dead Sea and some 4,500 m.
constexpr double kLowestAirportM = -1000.0;
constexpr double kHighestAirportM = 10000.0;

// What the answers of one facility request gave so far.
struct FacilityAnswer {
    std::vector<Stand> stands;
    std::set<std::string> names;
    int helipads = 0;
    int refused = 0;
    std::string airportName;
    double altitudeM = 0.0;
};

// Takes one facility record of the request; false when the airport has more stands than any
// airport may have, which ends the read.
bool lf_takeFacilityRecord(const std::string& ICAO, const SIMCONNECT_RECV_FACILITY_DATA& DATA, FacilityAnswer& OUT)
{
    FieldReader in(DATA);
    if (DATA.Type == SIMCONNECT_FACILITY_DATA_AIRPORT) {
        in.text(8);
        OUT.airportName = in.text(64);
        OUT.altitudeM = in.f64();
        return true;
    }
    const bool parking = DATA.Type == SIMCONNECT_FACILITY_DATA_TAXI_PARKING;
    if (!parking && DATA.Type != SIMCONNECT_FACILITY_DATA_HELIPAD) {
        return true;
    }
    if (OUT.stands.size() >= kMaxAirportStands) {
        gf_logWarning("Facility data for {}: more than {} stands, not read", ICAO, kMaxAirportStands);
        return false;
    }
    if (parking) {
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
        } else if (!lf_uniqueName(name, OUT.names)) {
            gf_logWarning("Facility data for {}: more than 10 parkings named {}", ICAO, gf_excerpt(name));
        } else if (type < 0 || type > 0xffff) {
            ++OUT.refused;
        } else {
            lf_addFacilityStand(OUT.stands, std::move(name), lat, lon, headingDeg, radiusM,
                                static_cast<std::uint16_t>(type), false, OUT.refused);
        }
        return true;
    }
    const double lat = in.f64();
    const double lon = in.f64();
    const double headingDeg = in.f64();
    const double widthM = in.f64();
    if (!in.ok()) {
        gf_logWarning("Facility data for {}: short helipad record", ICAO);
    } else if (lf_addFacilityStand(OUT.stands, "helipad" + std::to_string(OUT.helipads + 1), lat, lon, headingDeg,
                                   widthM / 2.0, 0, true, OUT.refused)) {
        ++OUT.helipads;
    }
    return true;
}

// The record of a complete answer.
FacilityRead lf_fillFacilityRecord(const std::string& ICAO, FacilityAnswer& ANSWER, AirportFile& RECORD, int& HELIPADS)
{
    if (ANSWER.refused > 0) {
        gf_logWarning("Facility data for {}: {} parking{} with an impossible position, radius, heading or type left out",
                      ICAO, ANSWER.refused, gf_plural(ANSWER.refused));
    }
    double altitudeM = ANSWER.altitudeM;
    if (!std::isfinite(altitudeM) || altitudeM < kLowestAirportM || altitudeM > kHighestAirportM) {
        gf_logWarning("Facility data for {}: impossible altitude {} m, 0 taken", ICAO, altitudeM);
        altitudeM = 0.0;
    }
    if (const auto code = IcaoCode::tryParse(ICAO)) {
        RECORD.code = *code;
    }
    RECORD.airportName = ANSWER.airportName;
    RECORD.altitudeFt = static_cast<std::int32_t>(std::lround(altitudeM * kFeetPerMetre));
    RECORD.stands = std::move(ANSWER.stands);
    HELIPADS = ANSWER.helipads;
    return RECORD.stands.empty() ? FacilityRead::noStands : FacilityRead::ok;
}

bool lf_readFacilityAnswer(const std::string& ICAO, AirportFile& RECORD, int& HELIPADS, FacilityRead& STATUS);

} // namespace

bool gf_readFacilityParkings(const std::string& ICAO, AirportFile& RECORD, int& HELIPADS, FacilityRead* STATUS)
{
    FacilityRead status = FacilityRead::notRead;
    HELIPADS = 0;
    try {
        lf_readFacilityAnswer(ICAO, RECORD, HELIPADS, status);
    } catch (const std::exception& e) {
        gf_logWarning("Facility data for {} could not be read: {}", ICAO, e.what());
        status = FacilityRead::notRead;
    }
    if (STATUS != nullptr) {
        *STATUS = status;
    }
    return status == FacilityRead::ok;
}

namespace {

bool lf_readFacilityAnswer(const std::string& ICAO, AirportFile& RECORD, int& HELIPADS, FacilityRead& STATUS)
{
    const auto finish = [&](FacilityRead RESULT) {
        STATUS = RESULT;
        return STATUS == FacilityRead::ok;
    };
    if (!PARKING_DATA_RDR.open && !lf_openReader()) {
        return finish(FacilityRead::notRead);
    }
    SIMCONNECT_HANDLE h = PARKING_DATA_RDR.handle;
    SIMCONNECT_RECV* msg = nullptr;
    std::uint32_t size = 0;
    // Answers of an earlier request that timed out carry the same request id: drop them first.
    while (SUCCEEDED(SimConnect_GetNextDispatch(h, &msg, &size))) {
    }
    if (FAILED(SimConnect_RequestFacilityData(h, kDefFacilityParking, kRequestFacilityParking, ICAO.c_str()))) {
        gf_logWarning("RequestFacilityData failed for {}", ICAO);
        return finish(FacilityRead::notRead);
    }
    // A refusal comes back as an exception naming the packet of this request.
    std::uint32_t requestSendId = SIMCONNECT_UNKNOWN_SENDID;
    SimConnect_GetLastSentPacketID(h, &requestSendId);

    FacilityAnswer answer;
    double waitedMs = 0.0;
    bool complete = false;
    while (!complete) {
        if (FAILED(SimConnect_GetNextDispatch(h, &msg, &size))) {
            if (gf_stopRequested()) {
                gf_logWarning("Facility data for {} not read: stopping", ICAO);
                return finish(FacilityRead::notRead);
            }
            if (waitedMs >= kWaitLimitMs) {
                gf_logWarning("Facility data for {} not complete after 10 seconds", ICAO);
                return finish(FacilityRead::timedOut);
            }
            waitedMs += g_facilityWaitStep();
            continue;
        }
        switch (msg->dwID) {
        case SIMCONNECT_RECV_ID_FACILITY_DATA: {
            const auto& data = *static_cast<const SIMCONNECT_RECV_FACILITY_DATA*>(msg);
            if (data.dwRequestID == kRequestFacilityParking && !lf_takeFacilityRecord(ICAO, data, answer)) {
                return finish(FacilityRead::notRead);
            }
            break;
        }
        case SIMCONNECT_RECV_ID_FACILITY_DATA_END:
            complete = static_cast<const SIMCONNECT_RECV_FACILITY_DATA_END*>(msg)->dwRequestID ==
                       kRequestFacilityParking;
            break;
        case SIMCONNECT_RECV_ID_EXCEPTION:
            if (static_cast<const SIMCONNECT_RECV_EXCEPTION*>(msg)->dwSendID == requestSendId) {
                gf_logWarning("Facility data for {} could not be read", ICAO);
                return finish(FacilityRead::refused);
            }
            break;
        case SIMCONNECT_RECV_ID_QUIT:
            gf_logWarning("Facility data for {} not read: the simulator was closed", ICAO);
            return finish(FacilityRead::notRead);
        default:
            break;
        }
    }
    return finish(lf_fillFacilityRecord(ICAO, answer, RECORD, HELIPADS));
}

} // namespace

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
