// The reference data: an encrypted file of any bytes, and the plain dbase and airports XML of
// any bytes. Whatever they hold, every airport is placed on the globe at a possible altitude and
// every half wing span is finite and positive; the position index finds every airport, and
// any text can be searched for framed airport codes. The airports list read in small pieces
// gives what the default read gives.
#include "FuzzSupport.h"

#include "core/Crypto.h"
#include "core/RefData.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    const std::string_view bytes = fuzz::bytesOf(DATA, SIZE);
    const auto enc = g_inputPath / "fuzz.enc";
    const auto plain = g_inputPath / "fuzz.xml";
    fuzz::writeBytes(enc, bytes);
    gf_streamDecrypt(enc, plain);

    fuzz::writeBytes(plain, bytes);
    // Read with its list cut into small pieces, then as the program reads it: the same airports.
    const bool inPieces = gf_readAirportsInPieces(plain, SIZE % 61 + 1);
    const std::vector<AirportEntry> pieces = g_airports;
    fuzz::require(gf_readAirports(plain) == inPieces, "pieces read where the file is refused, or not");
    fuzz::require(pieces.size() == g_airports.size() &&
                      std::equal(pieces.begin(), pieces.end(), g_airports.begin(),
                                 [](const AirportEntry& X, const AirportEntry& Y) {
                                     return X.icao == Y.icao && X.iata == Y.iata && X.altitude == Y.altitude &&
                                            X.stands == Y.stands && X.minor == Y.minor &&
                                            std::memcmp(&X.latitude, &Y.latitude, sizeof(double)) == 0 &&
                                            std::memcmp(&X.longitude, &Y.longitude, sizeof(double)) == 0;
                                 }),
                  "airports read in pieces differ");
    for (const AirportEntry& a : g_airports) {
        fuzz::require(std::fabs(a.latitude) <= 90.0 && std::fabs(a.longitude) <= 180.0, "airport off the globe");
        fuzz::require(a.altitude >= kLowestAirportFt && a.altitude <= kHighestAirportFt, "airport altitude");
        fuzz::require(gf_nearestAirport(LatLon{a.latitude, a.longitude}).has_value(), "airport not found at its position");
    }
    gf_airportInPath(std::filesystem::path(std::string(bytes)));
    gf_readDbase(plain);
    for (size_t id = 0; id < g_halfSpans.size(); ++id) {
        const double span = hwsp(static_cast<uint16_t>(id));
        fuzz::require(std::isfinite(span) && span > 0.0, "half wing span");
    }
    return 0;
}
