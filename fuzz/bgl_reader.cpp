// A BGL scenery file of any bytes: the pre-check and the airport walk end, within their step
// budget, with airports whose stands are all within bounds; a field past the end is the only
// exception.
#include "FuzzSupport.h"

#include "airportscan/AirportScan.h"
#include "airportscan/Bgl.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

using namespace qmt;

namespace {

AirportEntry known(const char* ICAO)
{
    AirportEntry a;
    a.icao = IcaoCode(ICAO);
    return a;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    gf_resetAirportScanForTests();
    // The seeds' airports, so that their idents are accepted.
    gf_setAirports({known("EHAM"), known("EHHV"), known("EHLE"), known("EHRD"), known("K2B9")});
    const auto bytes = fuzz::bytesOf(DATA, SIZE);
    const auto file = g_workPath / "fuzz.bgl";
    fuzz::writeBytes(file, bytes);
    lf_bglHasAirportSection(file);

    std::istringstream in{std::string(bytes)};
    const BglWords words = lf_readBglWords(in);
    fuzz::require(words.size() == (SIZE + 3) / 4, "word count");
    BglBudget budget(BGL_STEP_BUDGET);
    try {
        lf_walkBglAirports(words, budget, [&](std::size_t P, std::size_t S, IcaoCode CODE) {
            fuzz::require(gf_isKnownAirport(CODE), "an airport the database does not know");
            AirportFile record = lf_airportFileFromBgl(P, words);
            fuzz::require(record.altitudeFt >= 0 && record.altitudeFt <= 10000, "altitude");
            const int helipads = lf_readBglStands(P, words, S, record, file, budget);
            fuzz::require(helipads >= 0 && static_cast<std::size_t>(helipads) <= record.stands.size(), "helipads");
            for (const Stand& s : record.stands) {
                fuzz::require(gf_isStandPosition(s.latitude, s.longitude), "stand position");
                fuzz::require(std::isfinite(s.radius) && s.radius > 0.0, "stand radius");
                fuzz::require(std::isfinite(s.heading) && std::fabs(s.heading) <= 11 * 6.283185307179586, "heading");
            }
        });
    } catch (const std::out_of_range&) {
        // A field past the end of the file ends its task.
    }
    gf_resetAirportScanForTests();
    return 0;
}
