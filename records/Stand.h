#pragma once

#include "core/AcKind.h"
#include "core/Airports.h"
#include "core/Clock.h"
#include "core/Geo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qmt {

// One learned or archived use of a stand: which aircraft stood there on which
// day of the week and at which half hours of that day.
struct StandOption {
    AcKind kind{};             // airline, operator, model, cargo, marker
    std::string registration;  // "reg"
    std::string callsign;      // "cs" up to its first ':'
    std::string furtherName;   // "cs" after its first ':'
    HoursBitset hours{};       // half-hour slots 0..47 of the day
    uint32_t optionId = 0;     // 1, 2, 3 ... within the stand; 0 = switched off for now
    uint32_t day = 0;          // 1 (Monday) .. 7
    uint32_t source = 0;       // 1 read from the airport file, 0 learned
    uint32_t real = 0;         // 1 observed, 0 soft
    uint8_t cpl = 0;           // "cpl" carried through reading and writing
};

// One parking position or helipad of an airport.
struct Stand {
    // HEADING in radians, RADIUS_METRES in metres (held in nautical miles).
    Stand(std::string NAME, std::vector<StandOption> OPTIONS, double LATITUDE, double LONGITUDE,
          double HEADING, double RADIUS_METRES, uint16_t TYPE, bool CARGO, bool RAMP, bool HELI);

    std::vector<StandOption> options;  // in insertion order
    std::string name;                  // unique within one airport
    std::vector<uint32_t> adjacent;    // ids of overlapping stands
    double latitude = 0.0;             // degrees
    double longitude = 0.0;            // degrees
    double heading = 0.0;              // radians
    double radius = 0.0;               // nautical miles
    uint32_t standId = 0;              // 1-based index + 1 once the table is numbered
    uint16_t type = 0;                 // parking type number of the file
    uint8_t manual = 0;                // created by hand in a learned file
    uint8_t radiusChanged = 0;         // radius replaced by a learned file or widened
    uint8_t cargoChanged = 0;          // cargo flag replaced by a learned file
    uint8_t staticHere = 0;            // a computed static position uses it
    uint8_t liveHere = 0;              // a live aircraft occupies it
    uint8_t reserved = 0;              // reserved for the user aircraft
    uint8_t blocked = 0;               // an adjacent stand is in use
    uint8_t cargo = 0;
    uint8_t ramp = 0;
    uint8_t heli = 0;
};

// An airport as written to an airport file (generated or learned).
struct AirportFile {
    IcaoCode code;              // four-character ICAO code
    std::string airportName;
    std::string bglPath;
    std::string publisher;      // "stock", "simaddon", a publisher name, or empty
    std::string manufacturer;
    std::string creator;
    std::string title;          // package title; never written
    int32_t qfReal = 0;
    int32_t qfSoft = 0;
    int32_t altitudeFt = 0;
    std::vector<Stand> stands;
};

// Bounds of what a stand may hold, whoever gives it (airport files, learned files, the
// simulator's facility data). The largest real stands have radii of some 50 m; the scenery reader
// takes parkings below 200 m, and what it generates must read back, so only larger radii are taken
// for a broken value and refused.
inline constexpr double kMaxStandRadiusM = 200.0;
// At most this many stands are taken for one airport, from any source: the largest airports have
// some hundreds, and a list of a hundred thousand would cost every calculation dearly.
inline constexpr size_t kMaxAirportStands = 10000;
// At most this many overlapping stands are kept per stand: real stands touch a handful, and a
// file that stacks thousands on one spot must not fill memory with their pairs.
inline constexpr size_t kMaxAdjacentStands = 64;

// A position that can be a stand's: finite, latitude within +-90, longitude within +-180.
bool gf_isStandPosition(double LATITUDE, double LONGITUDE);
// A radius in metres that can be a stand's: finite, 0 to kMaxStandRadiusM.
bool gf_isStandRadius(double METRES);
// A heading in degrees as radians in 0..2pi (a full turn, 2pi, is kept where the simulator
// gives it); empty when it is not finite or more than ten turns.
std::optional<double> gf_standHeadingRad(double DEGREES);
// Every number of the stand finite and within the bounds above (heading 0..2pi, options on
// days 1..7, at most kMaxAdjacentStands neighbours).
bool gf_standInBounds(const Stand& STAND);

// Same airline, operator and model (cargo and marker flags aside).
bool gf_sameKind(const AcKind& A, const AcKind& B);
} // namespace qmt
