// my_park_airports.txt of any bytes: the list holds only known airports, each once, and writing
// the current airport's line into it loses none of the airports the user listed.
#include "FuzzSupport.h"

#include "core/Files.h"

#include <algorithm>
#include <set>

using namespace qmt;

namespace {

std::set<std::string> lf_listedCodes()
{
    std::set<std::string> codes;
    for (const ParkAirport& p : g_parkAirports) {
        fuzz::require(gf_isKnownAirport(p.code), "an unknown airport listed");
        fuzz::require(codes.insert(p.code.str()).second, "an airport listed twice");
    }
    return codes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetParking();
    gf_resetParkAirportForTests();
    gf_setAirports({AirportEntry{IcaoCode("EHAM"), IataCode("AMS"), 52.3086, 4.7639, -11, 200},
                    AirportEntry{IcaoCode("EGLL"), IataCode("LHR"), 51.47, -0.4543, 83, 200},
                    AirportEntry{IcaoCode("QLNA"), IataCode("QLN"), 50.0, 5.0, 30, 8}});
    fuzz::freshFolder(g_myThirdpartyPath);
    const auto path = g_airportsPath / "my_park_airports.txt";
    fuzz::writeBytes(path, fuzz::bytesOf(DATA, SIZE));
    lf_readMyParkAirports();
    const std::set<std::string> before = lf_listedCodes();
    if (g_parkAirports.empty()) {
        return 0;
    }
    g_parkAirports.front().reservedStand = "S9";
    lf_writeMyParkAirports();
    lf_readMyParkAirports();
    const std::set<std::string> after = lf_listedCodes();
    fuzz::require(std::includes(after.begin(), after.end(), before.begin(), before.end()),
                  "writing the list lost an airport");
    return 0;
}
