// A BGL scenery file of any bytes: the pre-check, the survey (within its step budget) and the
// reading of the surveyed airports end without an exception, with airports whose stands are all
// within bounds.
#include "FuzzSupport.h"

#include "airportscan/AirportScan.h"
#include "airportscan/Bgl.h"

#include <cmath>
#include <sstream>

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
    const BglView words(in, SIZE);
    BglBudget budget(kBglStepBudget);
    const BglSurvey survey = lf_surveyBgl(words, budget, file);
    fuzz::require(survey.refusal.empty() || budget.exhausted() || survey.code.has_value() ||
                      survey.refusal.starts_with("its header is damaged:"),
                  "refusal without a code");
    fuzz::require(survey.airports.empty() || survey.records >= survey.airports.size(), "airports counted as records");
    fuzz::require(survey.airports.size() <= kBglMaxAirports, "airports bounded");
    for (const BglAirport& airport : survey.airports) {
        fuzz::require(gf_isKnownAirport(airport.code), "an airport the database does not know");
        fuzz::require(airport.p + airport.s <= words.size(), "record inside the file");
        AirportFile record = lf_airportFileFromBgl(airport.p, words);
        fuzz::require(record.altitudeFt >= 0 && record.altitudeFt <= 10000, "altitude");
        const BglStandsRead read = lf_readBglStands(airport, words, record, file);
        fuzz::require(read.helipads >= 0 && static_cast<std::size_t>(read.helipads) + read.parkings == record.stands.size(),
                      "helipads and parkings");
        for (const Stand& s : record.stands) {
            fuzz::require(gf_isStandPosition(s.latitude, s.longitude), "stand position");
            fuzz::require(std::isfinite(s.radius) && s.radius > 0.0, "stand radius");
            fuzz::require(std::isfinite(s.heading) && std::fabs(s.heading) <= 11 * 6.283185307179586, "heading");
        }
    }
    gf_resetAirportScanForTests();
    return 0;
}
