#include "core/Airports.h"

#include <algorithm>
#include <cmath>

#include <pugixml.hpp>

#include "core/Log.h"
#include "core/Text.h"
#include "core/XmlMeta.h"

namespace qmt {

std::vector<AirportEntry> g_airports;

namespace {

inline constexpr double NEAREST_AIRPORT_NM = 5.0;

const AirportEntry* lf_find(IcaoCode code)
{
    const auto it = std::lower_bound(g_airports.begin(), g_airports.end(), code,
                                     [](const AirportEntry& a, const IcaoCode& c) { return a.icao < c; });
    if (it == g_airports.end() || it->icao != code) return nullptr;
    return &*it;
}

} // namespace

void gf_clearAirports() { g_airports.clear(); }

bool gf_readAirports(const std::filesystem::path& xmlPath)
{
    g_airports.clear();
    pugi::xml_document doc;
    if (!gf_loadOwnXml(doc, xmlPath)) {
        return false;
    }
    std::size_t skipped = 0;
    for (auto a : doc.child("root").child("airports").children("a")) {
        const auto icao = IcaoCode::tryParse(gf_trim(a.attribute("icao").as_string()));
        if (!icao) {
            ++skipped;
            continue;
        }
        AirportEntry e;
        e.icao = *icao;
        const std::string iata = gf_trim(a.attribute("iata").as_string());
        if (!iata.empty()) {
            if (const auto code = IataCode::tryParse(iata)) e.iata = *code;
        }
        e.latitude = a.attribute("lat").as_double();
        e.longitude = a.attribute("lon").as_double();
        e.altitude = a.attribute("alt").as_int();
        e.stands = a.attribute("stands").as_uint();
        // Written so that NaN fails it too.
        if (!(std::fabs(e.latitude) <= 90.0 && std::fabs(e.longitude) <= 180.0) || e.altitude < LOWEST_AIRPORT_FT ||
            e.altitude > HIGHEST_AIRPORT_FT) {
            ++skipped;
            continue;
        }
        g_airports.push_back(e);
    }
    std::stable_sort(g_airports.begin(), g_airports.end(),
                     [](const AirportEntry& x, const AirportEntry& y) { return x.icao < y.icao; });
    g_airports.erase(std::unique(g_airports.begin(), g_airports.end(),
                                 [](const AirportEntry& x, const AirportEntry& y) { return x.icao == y.icao; }),
                     g_airports.end());
    if (skipped > 0) gf_logWarning("{} airport entr{} with a bad code, position or altitude skipped", skipped, skipped == 1 ? "y" : "ies");
    gf_logLine("{:5} airports read", g_airports.size());
    return true;
}

std::optional<IcaoCode> gf_nearestAirport(LatLon position)
{
    const AirportEntry* best = nullptr;
    double bestNm = NEAREST_AIRPORT_NM;
    // One degree of latitude is 60 nm everywhere: airports farther north or south than the
    // search radius allows are passed over without the great-circle formula.
    const double maxDLat = NEAREST_AIRPORT_NM / 59.0;
    for (const auto& a : g_airports) {
        if (std::fabs(a.latitude - position.lat) > maxDLat) continue;
        const double d = gf_distanceNm(position, LatLon{a.latitude, a.longitude});
        if (d <= bestNm) {
            bestNm = d;
            best = &a;
        }
    }
    if (!best) return std::nullopt;
    return best->icao;
}

std::string gf_airportCodeText(IcaoCode code)
{
    const AirportEntry* a = lf_find(code);
    if (!a || a->iata.empty()) return code.str();
    return code.str() + " (" + a->iata.str() + ")";
}

std::string gf_airportCodeText(std::string_view code)
{
    const auto c = IcaoCode::tryParse(code);
    if (!c) return std::string(code);
    return gf_airportCodeText(*c);
}

bool gf_isKnownAirport(IcaoCode code) { return lf_find(code) != nullptr; }

bool gf_isKnownAirport(std::string_view code)
{
    const auto c = IcaoCode::tryParse(code);
    return c && gf_isKnownAirport(*c);
}

std::optional<AirportEntry> gf_airportByCode(std::string_view text)
{
    if (text.size() < 4) return std::nullopt;
    const auto c = IcaoCode::tryParse(text.substr(0, 4));
    if (!c) return std::nullopt;
    const AirportEntry* a = lf_find(*c);
    if (!a) return std::nullopt;
    return *a;
}

std::optional<AirportEntry> gf_airportInPath(const std::filesystem::path& path)
{
    const std::string text = gf_upper(gf_utf16ToUtf8(path));
    std::string framed = "-XXXX-";
    for (const auto& a : g_airports) {
        const auto code = a.icao.view();
        std::copy(code.begin(), code.end(), framed.begin() + 1);
        if (text.find(framed) != std::string::npos) return a;
    }
    return std::nullopt;
}

} // namespace qmt
