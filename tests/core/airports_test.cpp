// The fast airport lookups against the plain scans they replace, on generated lists that
// hold what the real one does not always: the poles, the date line, equal positions.

#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "CoreTestSupport.h"
#include "core/Airports.h"
#include "core/Geo.h"

namespace qmt::test {
namespace {

// Every airport in code order; the nearest within 5 nm, the later one on a tie; minor airports
// only where no other is in range.
std::optional<IcaoCode> lf_plainNearest(LatLon position)
{
    for (const bool minor : {false, true}) {
        const AirportEntry* best = nullptr;
        double bestNm = 5.0;
        for (const auto& a : g_airports) {
            const double d = gf_distanceNm(position, LatLon{a.latitude, a.longitude});
            if (a.minor == minor && d <= bestNm) {
                bestNm = d;
                best = &a;
            }
        }
        if (best) return best->icao;
    }
    return std::nullopt;
}

// Every airport in code order; the first whose framed code occurs in the upper-cased text.
std::optional<IcaoCode> lf_plainInPath(const std::string& path)
{
    std::string text = path;
    for (auto& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const auto& a : g_airports)
        if (text.find("-" + a.icao.str() + "-") != std::string::npos) return a.icao;
    return std::nullopt;
}

IcaoCode lf_code(std::size_t n)
{
    std::string s(4, 'A');
    for (int i = 3; i >= 0; --i, n /= 26) s[static_cast<std::size_t>(i)] = static_cast<char>('A' + n % 26);
    return IcaoCode(s);
}

AirportEntry lf_entry(std::size_t n, double lat, double lon)
{
    AirportEntry a;
    a.icao = lf_code(n);
    a.latitude = lat;
    a.longitude = lon;
    a.minor = n % 3 == 0;
    return a;
}

// Clusters a few nm apart (so that the nearest is often not the only one in range), airports
// near both poles and on both sides of the date line, and pairs on one position.
std::vector<AirportEntry> lf_generatedAirports(std::mt19937& rng)
{
    std::uniform_real_distribution<double> lat(-90.0, 90.0), lon(-180.0, 180.0), spread(-0.15, 0.15);
    std::vector<AirportEntry> list;
    std::size_t n = 0;
    for (int c = 0; c < 300; ++c) {
        const double cLat = lat(rng), cLon = lon(rng);
        for (int i = 0; i < 8; ++i) {
            const double l = std::clamp(cLat + spread(rng), -90.0, 90.0);
            list.push_back(lf_entry(n++, l, std::remainder(cLon + spread(rng), 360.0)));
        }
    }
    // Near the poles a 5 nm circle spans many degrees of longitude.
    std::uniform_real_distribution<double> polar(89.8, 90.0);
    for (int i = 0; i < 80; ++i) list.push_back(lf_entry(n++, (i % 2 ? 1 : -1) * polar(rng), lon(rng)));
    for (double l : {-16.0, 52.0, 66.0})
        for (double o : {179.97, -179.97, 180.0, -180.0, 179.9, -179.9}) list.push_back(lf_entry(n++, l + spread(rng) / 10, o));
    list.push_back(lf_entry(n++, 10.0, 20.0));
    list.push_back(lf_entry(n++, 10.0, 20.0));
    list.push_back(lf_entry(n++, 10.05, 20.0));
    return list;
}

using AirportIndexTest = CoreTest;

TEST_F(AirportIndexTest, NearestAirportAgreesWithThePlainScan)
{
    std::mt19937 rng(20261207);
    gf_setAirports(lf_generatedAirports(rng));
    std::uniform_real_distribution<double> bearing(0.0, 2.0 * PI), nm(0.0, 7.0), lat(-90.0, 90.0), lon(-180.0, 180.0),
        polar(89.7, 90.0);
    std::uniform_int_distribution<std::size_t> pick(0, g_airports.size() - 1);
    std::size_t found = 0;
    for (int i = 0; i < 2000; ++i) {
        LatLon q;
        if (i % 4 == 0) {
            q = LatLon{lat(rng), lon(rng)};
        } else if (i % 8 == 1) {
            q = LatLon{(i % 16 == 1 ? 1 : -1) * polar(rng), lon(rng)};
        } else {
            // Around a listed airport, out to beyond the 5 nm limit.
            const auto& a = g_airports[pick(rng)];
            q = gf_destinationPoint(LatLon{a.latitude, a.longitude}, bearing(rng), nm(rng) * kFeetPerNm);
            q.lat = std::clamp(q.lat, -90.0, 90.0);
            q.lon = std::remainder(q.lon, 360.0);
        }
        const auto plain = lf_plainNearest(q);
        const auto fast = gf_nearestAirport(q);
        ASSERT_EQ(fast, plain) << fmt::format("at {:.9f} {:.9f}", q.lat, q.lon);
        found += plain.has_value();
    }
    EXPECT_GT(found, 1000u); // most queries had an airport in range
    // Exactly on a pair: the later code, as the scan in code order gives it.
    EXPECT_EQ(gf_nearestAirport(LatLon{10.0, 20.0}), lf_plainNearest(LatLon{10.0, 20.0}));
    EXPECT_EQ(gf_nearestAirport(LatLon{90.0, 0.0}), lf_plainNearest(LatLon{90.0, 0.0}));
    EXPECT_EQ(gf_nearestAirport(LatLon{-90.0, 123.0}), lf_plainNearest(LatLon{-90.0, 123.0}));
}

// The search windows' edges: an airport just inside the radius is found from every
// direction, also where a degree of longitude is a few feet wide.
TEST_F(AirportIndexTest, NearestAirportFindsAnAirportJustInsideTheRadiusFromEveryDirection)
{
    for (const double lat : {0.0, 45.0, -60.0, 80.0, 89.8, 89.9, -89.95, 89.99}) {
        for (const double lon : {0.0, 179.999}) {
            gf_setAirports({lf_entry(1, lat, lon)});
            for (int degrees = 0; degrees < 360; ++degrees) {
                for (const double nm : {4.999, 5.001}) {
                    LatLon q = gf_destinationPoint(LatLon{lat, lon}, degrees * kDegToRad, nm * kFeetPerNm);
                    q.lon = std::remainder(q.lon, 360.0);
                    ASSERT_EQ(gf_nearestAirport(q).has_value(), nm < 5.0)
                        << fmt::format("{} nm from {} {} at {} degrees", nm, lat, lon, degrees);
                }
            }
        }
    }
}

TEST_F(AirportIndexTest, NearestAirportFollowsTheListAndRefusesNonsense)
{
    gf_setAirports({lf_entry(1, 52.0, 4.0)});
    EXPECT_EQ(gf_nearestAirport(LatLon{52.0, 4.0}), lf_code(1));
    // A longitude past the date line is the same place.
    gf_setAirports({lf_entry(2, 0.0, -179.99), lf_entry(1, 52.0, 4.0)});
    EXPECT_EQ(gf_nearestAirport(LatLon{0.0, 180.03}), lf_code(2));
    EXPECT_EQ(gf_nearestAirport(LatLon{52.0, 4.0}), lf_code(1));
    gf_setAirports({lf_entry(2, 0.0, -179.99)});
    EXPECT_FALSE(gf_nearestAirport(LatLon{52.0, 4.0}).has_value()) << "the old list is no longer searched";
    for (const LatLon bad : {LatLon{NAN, 4.0}, LatLon{52.0, NAN}, LatLon{INFINITY, 0.0}, LatLon{0.0, -INFINITY}, LatLon{90.5, 0.0}})
        EXPECT_FALSE(gf_nearestAirport(bad).has_value());
    // An entry with an impossible position is kept for its code but never found by position.
    gf_setAirports({lf_entry(3, NAN, 4.0), lf_entry(4, 0.0, 0.0)});
    EXPECT_TRUE(gf_isKnownAirport(lf_code(3)));
    EXPECT_EQ(gf_nearestAirport(LatLon{0.0, 0.0}), lf_code(4));
    gf_clearAirports();
    EXPECT_FALSE(gf_nearestAirport(LatLon{0.0, 0.0}).has_value());
}

TEST_F(AirportIndexTest, SetAirportsSortsAndKeepsTheFirstOfOneCode)
{
    auto second = lf_entry(1, 1.0, 1.0);
    second.altitude = 2;
    gf_setAirports({lf_entry(9, 0.0, 0.0), lf_entry(1, 1.0, 1.0), second, lf_entry(5, 0.0, 0.0)});
    ASSERT_EQ(g_airports.size(), 3u);
    EXPECT_EQ(g_airports[0].icao, lf_code(1));
    EXPECT_EQ(g_airports[0].altitude, 0);
    EXPECT_EQ(g_airports[2].icao, lf_code(9));
}

TEST_F(AirportIndexTest, AirportInPathAgreesWithThePlainScan)
{
    std::vector<AirportEntry> list;
    for (const char* code : {"EHAM", "EGLL", "KJFK", "EDDF", "LFPG", "K2A0", "Y123", "ZZZZ"}) {
        AirportEntry a;
        a.icao = IcaoCode(code);
        list.push_back(a);
    }
    gf_setAirports(list);
    const std::vector<std::string> pieces{"-", "--", "eham", "EGLL", "kjfk", "EdDf", "lfpg", "k2a0", "Y123", "zzzz",
                                          "xxxx", "abc", "/", "_", "scenery", "\xC3\xA9", "airport", " "};
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1), count(0, 14);
    std::size_t found = 0;
    for (int i = 0; i < 5000; ++i) {
        std::string path;
        for (std::size_t n = count(rng); n > 0; --n) path += pieces[pick(rng)];
        const auto fast = gf_airportInPath(path);
        const auto plain = lf_plainInPath(path);
        ASSERT_EQ(fast ? std::optional<IcaoCode>(fast->icao) : std::nullopt, plain) << path;
        found += plain.has_value();
    }
    EXPECT_GT(found, 100u);
    // Overlapping frames: both codes occur; the one stored first wins.
    EXPECT_EQ(gf_airportInPath("pkg-eham-egll-x")->icao.str(), "EGLL");
    EXPECT_EQ(gf_airportInPath("-EHAM-")->icao.str(), "EHAM");
    EXPECT_FALSE(gf_airportInPath("-EHA-").has_value());
    EXPECT_FALSE(gf_airportInPath("-EHAMX-").has_value());
}

} // namespace
} // namespace qmt::test
