#include <cmath>
#include <vector>
#include <limits>
#include <cstring>
#include <random>
#include <thread>
#include <tuple>

#include "CoreTestSupport.h"
#include "core/Geo.h"
#include "core/Random.h"

namespace qmt::test {
namespace {

using GeoRandomTest = CoreTest;

TEST_F(GeoRandomTest, DistanceAndBearing)
{
    EXPECT_DOUBLE_EQ(gf_distanceNm(52.3, 4.7, 52.3, 4.7), 0.0);
    // One degree of latitude is 60 nm on this radius (within 0.1 %).
    EXPECT_NEAR(gf_distanceNm(0, 0, 1, 0), 60.04, 0.06);
    EXPECT_NEAR(gf_distanceNm(0, 0, 0, 180), PI * kEarthRadiusNm, 1e-6); // antipodes
    EXPECT_FALSE(std::isnan(gf_distanceNm(10, 20, -10, -160)));
    EXPECT_NEAR(gf_bearing(0, 0, 1, 0), 0.0, 1e-9);
    EXPECT_NEAR(gf_bearing(0, 0, 0, 1), PI / 2, 1e-9);
    EXPECT_NEAR(gf_bearing(0, 0, -1, 0), PI, 1e-9);
    EXPECT_NEAR(gf_bearing(0, 0, 0, -1), 3 * PI / 2, 1e-9);
    const double b = gf_bearing(52.3, 4.7, 52.2, 4.6);
    EXPECT_GE(b, 0.0);
    EXPECT_LT(b, 2 * PI);
}

TEST_F(GeoRandomTest, WrappedAnglesKeepWhatIsInRange)
{
    for (const auto& [in, degrees, radians, twoPi] :
         {std::tuple{0.0, 0.0, 0.0, 0.0}, {3.0, 3.0, 3.0, 3.0}, {-3.0, -3.0, -3.0, 2.0 * PI - 3.0},
          {180.0, 180.0, 180.0 - 58.0 * PI, 180.0 - 56.0 * PI}, {-190.0, 170.0, -190.0 + 60.0 * PI, -190.0 + 62.0 * PI},
          {370.0, 10.0, 370.0 - 118.0 * PI, 370.0 - 116.0 * PI}, {2.0 * PI, 2.0 * PI, 0.0, 0.0}}) {
        EXPECT_NEAR(gf_wrapDegrees(in), degrees, 1e-9) << in;
        EXPECT_NEAR(gf_wrapRadians(in), radians, 1e-9) << in;
        EXPECT_NEAR(gf_wrapTwoPi(in), twoPi, 1e-9) << in;
    }
}

TEST_F(GeoRandomTest, DestinationPointIsConsistentWithDistanceAndBearing)
{
    const LatLon start{52.3086, 4.7639};
    for (double bearing : {0.0, 0.7, 2.0, 3.5, 5.9}) {
        const LatLon p = gf_destinationPoint(start, bearing, 2000.0); // 2000 ft
        EXPECT_NEAR(gf_distanceNm(start, p) * kFeetPerNm, 2000.0, 0.01);
        EXPECT_NEAR(gf_bearing(start, p), bearing, 1e-6);
    }
    const LatLon dateline = gf_destinationPoint(LatLon{0.0, 179.99}, PI / 2, 10 * kFeetPerNm);
    EXPECT_LT(dateline.lon, -179.0);
}

// The far test never calls a point far that lies within the reach (a search would lose it), at
// the poles, across the date line and just beyond the reach too; and it does call far what lies
// twice the reach away at the latitudes of airports away from the date line.
TEST_F(GeoRandomTest, FarTestNeverLosesAPointWithinTheReach)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double latitudes[] = {0.0, 52.3, -33.9, 78.2, 89.99, -89.999};
    const double longitudes[] = {4.76, 179.999, -179.99, 0.0};
    int farAtTwice = 0;
    int atTwice = 0;
    for (const double lat : latitudes) {
        for (const double lon : longitudes) {
            for (const double reach : {0.001, 0.06, 2.0, 300.0}) {
                const LatLon from{lat, lon};
                const GeoFarTest test(from, reach);
                for (int i = 0; i < 400; ++i) {
                    // Half of them just inside the reach, where a bound that is not one shows.
                    const double factor = i % 2 == 0 ? 1.0 - 1e-6 * unit(rng) : 3.0 * unit(rng);
                    const LatLon p =
                        gf_destinationPoint(from, 2.0 * PI * unit(rng), factor * reach * kFeetPerNm);
                    if (test.surelyFarther(p.lat, p.lon)) {
                        ASSERT_GT(gf_distanceNm(from, p), reach) << lat << "," << lon << " reach " << reach;
                    }
                    if (std::fabs(lat) < 80.0 && std::fabs(lon) < 170.0 && reach < 10.0 &&
                        gf_distanceNm(from, p) > 2.0 * reach) {
                        ++atTwice;
                        farAtTwice += test.surelyFarther(p.lat, p.lon) ? 1 : 0;
                    }
                }
            }
        }
    }
    EXPECT_GT(atTwice, 100);
    EXPECT_EQ(farAtTwice, atTwice);
}

// The wraps give exactly what the remainder of a full turn gives, for angles within a turn (the
// quick way) and beyond it, at the edges of the ranges and for values that are no angle.
TEST_F(GeoRandomTest, WrapsGiveExactlyTheRemainderOfATurn)
{
    const auto degrees = [](double D) {
        double d = std::fmod(D, 360.0);
        return d > 180.0 ? d - 360.0 : (d < -180.0 ? d + 360.0 : d);
    };
    const auto radians = [](double R) {
        double r = std::fmod(R, 2.0 * PI);
        return r > PI ? r - 2.0 * PI : (r < -PI ? r + 2.0 * PI : r);
    };
    const auto twoPi = [](double R) {
        const double r = std::fmod(R, 2.0 * PI);
        return r < 0.0 ? r + 2.0 * PI : r;
    };
    std::vector<double> values = {0.0, -0.0, 180.0, -180.0, 360.0, -360.0, 359.9999999, PI, -PI, 2.0 * PI,
                                  -2.0 * PI, std::nextafter(2.0 * PI, 0.0), 1e300, -1e-300,
                                  std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> spread(-1000.0, 1000.0);
    for (int i = 0; i < 2000; ++i) {
        values.push_back(spread(rng) / (i % 2 == 0 ? 1.0 : 100.0));
    }
    const auto same = [](double A, double B) { return std::memcmp(&A, &B, sizeof A) == 0; };
    for (const double v : values) {
        EXPECT_TRUE(same(gf_wrapDegrees(v), degrees(v))) << v;
        EXPECT_TRUE(same(gf_wrapRadians(v), radians(v))) << v;
        EXPECT_TRUE(same(gf_wrapTwoPi(v), twoPi(v))) << v;
    }
}

TEST_F(GeoRandomTest, ScriptedDrawsAndSeeds)
{
    EXPECT_EQ(gf_randomIndex(0), 0u);
    EXPECT_EQ(gf_randomIndex(1), 0u);
    gf_scriptRandomDraws({3, 12, 1});
    EXPECT_EQ(gf_randomIndex(10), 3u);
    EXPECT_EQ(gf_randomIndex(10), 2u); // modulo n
    EXPECT_EQ(gf_randomIndex(10), 1u);
    for (int i = 0; i < 100; ++i) EXPECT_LT(gf_randomIndex(7), 7u); // engine again

    gf_seedRngForTests(99);
    std::vector<std::size_t> a, b;
    for (int i = 0; i < 10; ++i) a.push_back(gf_randomIndex(1000));
    gf_seedRngForTests(99);
    for (int i = 0; i < 10; ++i) b.push_back(gf_randomIndex(1000));
    EXPECT_EQ(a, b);
}

TEST_F(GeoRandomTest, ShuffleAndJitter)
{
    std::vector<std::uint16_t> one{5};
    gf_shuffleIds(one);
    EXPECT_EQ(one, std::vector<std::uint16_t>{5});
    std::vector<std::uint16_t> ids{1, 2, 3, 4};
    gf_scriptRandomDraws({0, 0, 0}); // i=3 swaps with 0, i=2 with 0, i=1 with 0
    gf_shuffleIds(ids);
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{2, 3, 4, 1}));
    std::vector<std::uint16_t> many(50);
    for (std::uint16_t i = 0; i < 50; ++i) many[i] = i;
    auto sorted = many;
    gf_shuffleIds(many);
    std::sort(many.begin(), many.end());
    EXPECT_EQ(many, sorted);

    gf_scriptRandomDraws({0, 1});
    EXPECT_DOUBLE_EQ(gf_jitter(200.0, 10.0), 220.0);
    EXPECT_DOUBLE_EQ(gf_jitter(200.0, 10.0), 180.0);
    EXPECT_DOUBLE_EQ(gf_jitter(200.0, 0.0), 200.0);
    EXPECT_DOUBLE_EQ(gf_jitter(200.0, -5.0), 200.0);
}

TEST_F(GeoRandomTest, EachThreadHasItsOwnEngine)
{
    gf_seedRngForTests(7);
    const auto mine = g_rng();
    std::uint32_t other = 0;
    std::thread t([&] {
        gf_seedRngForTests(7);
        other = g_rng();
    });
    t.join();
    EXPECT_EQ(mine, other);
    EXPECT_NE(&g_rng, nullptr);
}

} // namespace
} // namespace qmt::test
