#pragma once

// The records the traffic readers deliver: one live position report and one
// parked aircraft, both starting with the same head.

#include <cstdint>
#include <string>

#include "core/AcKind.h"
#include "records/StreamPos.h"

namespace qmt {

// Identity part shared by live and parked records; the aircraft profile is made from it.
struct TrafficRecordHead {
    AcKind kind{};                    // live: only the model id is set by the parser
    std::string origin;               // IATA code, three characters or empty
    std::string destination;          // IATA code, three characters or empty
    uint16_t learnedStandChecked = 0; // always 0 from the feed
    std::string callsign;
    std::string callsignCopy;         // second text, empty from the feed
    std::string extraText;            // third text, empty from the feed
    std::string registration;
};

// One live position report. `pos` is laid out as the stream point of a live
// aircraft, so the intake copies it whole; its playTick is set at intake.
struct LiveTrafficRecord : TrafficRecordHead {
    StreamPos pos{};
    double reportTime = 0.0;          // seconds since the epoch
    uint32_t hexId = 0;               // 24-bit ICAO address, above 10000
};

// One parked aircraft of the parked-traffic answer.
struct ParkedTrafficRecord : TrafficRecordHead {
    double lat = 0.0;                 // degrees
    double lon = 0.0;                 // degrees
    uint32_t hexId = 0;
    int32_t halfHour = 0;             // half-hour of the day (0..47) reported by the service
    int32_t age = 0;                  // half hours since then, set by gf_getParkedTraffic
    std::string stand;                // the stand as the service names it, may be empty
};

} // namespace qmt
