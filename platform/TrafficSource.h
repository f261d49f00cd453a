#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qmt {

// The box of a traffic query, in degrees. West may be greater than east only
// for a box across the antimeridian.
struct QueryBox {
    double south = 0.0;
    double west = 0.0;
    double north = 0.0;
    double east = 0.0;

    bool contains(double LAT, double LON) const;
};

// The square box of RANGE_NM nautical miles each way around a position.
QueryBox gf_queryBoxAround(double LAT, double LON, double RANGE_NM);

// One aircraft of a live or buffered traffic answer, as the service reports it.
struct TrafficReport {
    uint32_t hexId = 0;           // 24-bit ICAO address
    std::string callsign;
    std::string registration;
    std::string model;            // ICAO model code
    std::string origin;           // IATA code, may be empty
    std::string destination;      // IATA code, may be empty
    double lat = 0.0;             // degrees
    double lon = 0.0;             // degrees
    double altitudeFt = 0.0;
    double groundSpeedKt = 0.0;
    double airspeedKt = 0.0;
    double trackDeg = 0.0;
    double verticalRateFpm = 0.0;
    bool onGround = false;
    double reportTime = 0.0;      // seconds since the epoch
    std::optional<double> rollDeg;
    std::optional<double> trueHeadingDeg;
};

// One parked aircraft of a parked-traffic answer.
struct ParkedReport {
    uint32_t hexId = 0;
    std::string callsign;
    std::string registration;
    std::string model;            // ICAO model code
    std::string airline;          // ICAO airline code, may be empty
    double lat = 0.0;
    double lon = 0.0;
    int halfHour = 0;             // half-hour of the day (0..47) at which it was last seen moving
    std::string stand;            // the stand as the service names it, may be empty
};

// Every answer says whether the query worked; on failure `error` tells why.
struct LoginAnswer {
    bool ok = false;
    std::string error;
    std::string guid;             // session id to pass with every later query
    int intervalMs = 2000;        // how often the service lets us ask for traffic
};

// Why a query failed, as far as the service tells.
enum class AnswerFault {
    none,
    failed,          // no answer, or an error of the service; a later query may work
    throttled,       // asked too often: wait the interval the answer gives
    sessionExpired,  // the session id is no longer known: only a new login helps
};

struct TrafficAnswer {
    bool ok = false;
    std::string error;
    std::vector<TrafficReport> reports;
    AnswerFault fault = AnswerFault::none;
    int intervalMs = 0;           // the wait the service asks for before the next query; 0: unchanged
};

struct ParkedAnswer {
    bool ok = false;
    std::string error;
    std::vector<ParkedReport> parked;
};

struct WeatherAnswer {
    bool ok = false;
    std::string error;
    double qnhHpa = 0.0;
};

// The live traffic web service as the feed sees it. Calls may come from the
// reader threads and the worker at once: implementations are thread-safe.
class TrafficSource {
public:
    virtual ~TrafficSource() = default;

    virtual LoginAnswer login(const std::string& KEY) = 0;
    virtual bool logout(const std::string& GUID) = 0;
    // The aircraft inside the box now.
    virtual TrafficAnswer live(const std::string& GUID, const QueryBox& BOX) = 0;
    // The aircraft inside the box as they were SECONDS_AGO seconds ago.
    virtual TrafficAnswer buffered(const std::string& GUID, const QueryBox& BOX, int SECONDS_AGO) = 0;
    virtual ParkedAnswer parked(const std::string& GUID, const QueryBox& BOX) = 0;
    virtual WeatherAnswer weather(const std::string& GUID, double LAT, double LON) = 0;
};

} // namespace qmt
