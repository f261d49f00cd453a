#include "core/Airports.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <pugixml.hpp>

#include "core/Log.h"
#include "core/Text.h"
#include "core/XmlMeta.h"

namespace qmt {

namespace {

std::vector<AirportEntry> g_airportList; // behind g_airports

inline constexpr double kNearestAirportNm = 5.0;

// The nearest-airport search looks only at the airports of a few latitude bands, and in
// each band only at those within a longitude window, found by binary search: a handful
// of distance checks instead of one per airport.
inline constexpr int kBandsPerDegree = 10;
inline constexpr int kBandCount = 180 * kBandsPerDegree;
// Widens the search windows past rounding in the distance formula.
inline constexpr double kWindowSlackDeg = 1e-9;

struct IndexedAirport {
    double lat = 0.0;
    double lon = 0.0;
    IcaoCode icao;
    bool minor = false;
};

struct AirportIndex {
    std::vector<IndexedAirport> points;        // by band, then longitude
    std::vector<std::uint32_t> bandStart;      // kBandCount + 1 offsets into points
};

AirportIndex g_airportIndex; // built with g_airportList, read-only between builds

int lf_band(double lat)
{
    const int band = static_cast<int>(std::floor((lat + 90.0) * kBandsPerDegree));
    return std::clamp(band, 0, kBandCount - 1);
}

bool lf_validPosition(double lat, double lon)
{
    return std::fabs(lat) <= 90.0 && std::fabs(lon) <= 180.0; // false for NaN too
}

void lf_buildIndex()
{
    AirportIndex index;
    index.points.reserve(g_airportList.size());
    for (const auto& a : g_airportList)
        if (lf_validPosition(a.latitude, a.longitude)) index.points.push_back({a.latitude, a.longitude, a.icao, a.minor});
    std::sort(index.points.begin(), index.points.end(), [](const IndexedAirport& x, const IndexedAirport& y) {
        const int bx = lf_band(x.lat), by = lf_band(y.lat);
        if (bx != by) return bx < by;
        if (x.lon != y.lon) return x.lon < y.lon;
        return x.icao < y.icao;
    });
    index.bandStart.assign(kBandCount + 1, 0);
    for (const auto& p : index.points) ++index.bandStart[lf_band(p.lat) + 1];
    for (int b = 0; b < kBandCount; ++b) index.bandStart[b + 1] += index.bandStart[b];
    g_airportIndex = std::move(index);
}

struct NearestSoFar {
    const IndexedAirport* airport = nullptr;
    double nm = kNearestAirportNm;
};

// Checks the airports of one band whose longitude lies in [lonFrom, lonTo]: the nearest one and
// the nearest minor one, each into its own BEST.
void lf_searchBand(int band, double lonFrom, double lonTo, LatLon position, NearestSoFar (&bests)[2])
{
    const auto& points = g_airportIndex.points;
    const auto first = points.begin() + g_airportIndex.bandStart[band];
    const auto last = points.begin() + g_airportIndex.bandStart[band + 1];
    auto it = std::lower_bound(first, last, lonFrom, [](const IndexedAirport& p, double lon) { return p.lon < lon; });
    for (; it != last && it->lon <= lonTo; ++it) {
        NearestSoFar& best = bests[it->minor ? 1 : 0];
        const double d = gf_distanceNm(position, LatLon{it->lat, it->lon});
        // Ties go to the later code, as a scan of the list in code order with <= would.
        if (d < best.nm || (d == best.nm && (!best.airport || best.airport->icao < it->icao))) {
            best.nm = d;
            best.airport = &*it;
        }
    }
}

const AirportEntry* lf_find(IcaoCode code)
{
    const auto it = std::lower_bound(g_airportList.begin(), g_airportList.end(), code,
                                     [](const AirportEntry& a, const IcaoCode& c) { return a.icao < c; });
    if (it == g_airportList.end() || it->icao != code) return nullptr;
    return &*it;
}

bool lf_codeChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

} // namespace

const std::vector<AirportEntry>& g_airports = g_airportList;

void gf_setAirports(std::vector<AirportEntry> airports)
{
    std::stable_sort(airports.begin(), airports.end(),
                     [](const AirportEntry& x, const AirportEntry& y) { return x.icao < y.icao; });
    airports.erase(std::unique(airports.begin(), airports.end(),
                               [](const AirportEntry& x, const AirportEntry& y) { return x.icao == y.icao; }),
                   airports.end());
    // Read once and kept for the whole run: the room the reading grew into is given back.
    airports.shrink_to_fit();
    g_airportList = std::move(airports);
    lf_buildIndex();
}

void gf_clearAirports() { gf_setAirports({}); }

bool gf_readAirports(const std::filesystem::path& xmlPath)
{
    return gf_readAirportsInPieces(xmlPath, kXmlListPieceBytes);
}

bool gf_readAirportsInPieces(const std::filesystem::path& xmlPath, std::size_t pieceBytes)
{
    gf_clearAirports();
    std::vector<AirportEntry> airports;
    std::size_t skipped = 0;
    std::string firstRefusal;  // why the first entry with a bad number was skipped
    XmlListReader reader;
    reader.begin = [&] {
        airports.clear();
        skipped = 0;
        firstRefusal.clear();
    };
    reader.child = [&](const pugi::xml_node& a) {
        if (std::string_view(a.name()) != "a")
            return;
        const auto icao = IcaoCode::tryParse(gf_trim(a.attribute("icao").as_string()));
        if (!icao) {
            ++skipped;
            return;
        }
        const NumberRead<double> lat = gf_attributeNumber(a, "lat", 0.0);
        const NumberRead<double> lon = gf_attributeNumber(a, "lon", 0.0);
        const NumberRead<int> alt = gf_attributeNumber(a, "alt", 0);
        const NumberRead<unsigned> stands = gf_attributeNumber(a, "stands", 0u);
        if (!lat.value || !lon.value || !alt.value || !stands.value) {
            if (firstRefusal.empty()) {
                for (const std::string* error : {&lat.error, &lon.error, &alt.error, &stands.error})
                    if (firstRefusal.empty() && !error->empty()) firstRefusal = icao->str() + " " + *error;
            }
            ++skipped;
            return;
        }
        AirportEntry e;
        e.icao = *icao;
        const std::string iata = gf_trim(a.attribute("iata").as_string());
        if (!iata.empty()) {
            if (const auto code = IataCode::tryParse(iata)) e.iata = *code;
        }
        e.latitude = *lat.value;
        e.longitude = *lon.value;
        e.altitude = *alt.value;
        e.stands = *stands.value;
        e.minor = a.attribute("minor").as_bool();
        // Written so that NaN fails it too.
        if (!(std::fabs(e.latitude) <= 90.0 && std::fabs(e.longitude) <= 180.0) || e.altitude < kLowestAirportFt ||
            e.altitude > kHighestAirportFt) {
            ++skipped;
            return;
        }
        airports.push_back(e);
    };
    if (!gf_loadOwnXmlList(xmlPath, "airports", reader, pieceBytes)) {
        return false;
    }
    gf_setAirports(std::move(airports));
    if (skipped > 0)
        gf_logWarning("{} airport entr{} with a bad code, position or altitude skipped{}", skipped, skipped == 1 ? "y" : "ies",
                      firstRefusal.empty() ? std::string() : " (first number refused: " + firstRefusal + ")");
    gf_logLine("{:5} airports read", g_airports.size());
    return true;
}

std::optional<IcaoCode> gf_nearestAirport(LatLon position)
{
    if (!(std::fabs(position.lat) <= 90.0) || !std::isfinite(position.lon)) return std::nullopt;
    if (std::fabs(position.lon) > 180.0) position.lon = std::remainder(position.lon, 360.0);
    if (g_airportIndex.points.empty()) return std::nullopt;

    // Haversine: h = sin²(dLat/2) + cos(lat1) cos(lat2) sin²(dLon/2) <= sin²(r/2) within the
    // radius r (radians), which bounds the latitude difference by r and the longitude
    // difference by 2 asin(sin(r/2) / sqrt(cos(lat1) cos(lat2))).
    const double r = kNearestAirportNm / kEarthRadiusNm;
    const double dLat = r * kRadToDeg + kWindowSlackDeg;
    const double farthestLat = std::min(90.0, std::max(std::fabs(position.lat - dLat), std::fabs(position.lat + dLat)));
    const double cosProduct = std::cos(position.lat * kDegToRad) * std::cos(farthestLat * kDegToRad);
    const double sinHalfLon = cosProduct > 0.0 ? std::sin(r / 2.0) / std::sqrt(cosProduct) : 2.0;
    const double dLon = sinHalfLon < 1.0 ? 2.0 * std::asin(sinHalfLon) * kRadToDeg + kWindowSlackDeg : 360.0;

    NearestSoFar bests[2];
    for (int band = lf_band(position.lat - dLat); band <= lf_band(position.lat + dLat); ++band) {
        if (dLon >= 180.0) {
            lf_searchBand(band, -180.0, 180.0, position, bests);
            continue;
        }
        const double from = position.lon - dLon, to = position.lon + dLon;
        lf_searchBand(band, from, to, position, bests);
        // Windows that cross the date line go on at the other end of the band.
        if (from < -180.0) lf_searchBand(band, from + 360.0, 180.0, position, bests);
        if (to > 180.0) lf_searchBand(band, -180.0, to - 360.0, position, bests);
    }
    const NearestSoFar& best = bests[0].airport ? bests[0] : bests[1];
    if (!best.airport) return std::nullopt;
    return best.airport->icao;
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
    // Every code framed by '-' in the text is looked up; of those known, the one stored
    // first is the answer, as if each airport were tried in turn: a few lookups per path
    // instead of one text search per airport.
    const AirportEntry* first = nullptr;
    for (std::size_t i = 0; i + 6 <= text.size(); ++i) {
        if (text[i] != '-' || text[i + 5] != '-') continue;
        const std::string_view code(text.data() + i + 1, 4);
        if (!std::all_of(code.begin(), code.end(), lf_codeChar)) continue;
        const AirportEntry* a = lf_find(IcaoCode(code));
        if (a && (!first || a < first)) first = a;
    }
    if (!first) return std::nullopt;
    return *first;
}

} // namespace qmt
