#include "parking/ParkingTest.h"

#include <fmt/format.h>

namespace qmt::test {
namespace {

class StandBoundsTest : public ParkingTest {
protected:
    std::string readOne(const std::string& POSITIONS)
    {
        const std::string name = putLocal("airports/stock/EHAM.xml",
                                          apfXml(param("publisher", "stock") + param("altitude", "-11"), POSITIONS));
        return gf_readApf(name, g_parkApfInfo);
    }
};

TEST_F(StandBoundsTest, RadiusPositionAndHeadingAreBoundedAtReading)
{
    ASSERT_EQ(readOne(R"(<parkpos id="OK" latitude="52.3" longitude="4.76" radius="45" heading="-90"/>)"
                      R"(<parkpos id="TURNS" latitude="52.3" longitude="4.761" radius="45" heading="725"/>)"
                      R"(<parkpos id="HUGE" latitude="52.3" longitude="4.762" radius="1e308"/>)"
                      R"(<parkpos id="LARGE" latitude="52.3" longitude="4.763" radius="200.5"/>)"
                      R"(<parkpos id="NEG" latitude="52.3" longitude="4.764" radius="-3"/>)"
                      R"(<parkpos id="HDG" latitude="52.3" longitude="4.765" radius="20" heading="1e308"/>)"
                      R"(<parkpos id="NAN" latitude="nan" longitude="4.766" radius="20"/>)"
                      R"(<parkpos id="LAT" latitude="1000" longitude="4.767" radius="20"/>)"),
              "");
    ASSERT_EQ(g_stands.size(), 2u);
    EXPECT_NEAR(standNamed("OK")->heading, 270.0 * kDegToRad, 1e-12);
    EXPECT_NEAR(standNamed("TURNS")->heading, 5.0 * kDegToRad, 1e-12);
    EXPECT_TRUE(logHas("stand HUGE has an invalid radius '1e308' m (0 to 200 m)"));
    for (const Stand& s : g_stands) {
        EXPECT_TRUE(gf_standInBounds(s)) << s.name;
    }
}

TEST_F(StandBoundsTest, LearnedRadiusChangeIsBoundedToo)
{
    const std::string name = putLocal("airports/stock/EHAM.xml",
                                      apfXml(param("publisher", "stock") + param("altitude", "-11"),
                                             R"(<parkpos id="A1" latitude="52.3" longitude="4.76" radius="30"/>)"));
    writeFile(m_dir / "airports" / "learned" / "stock" / "EHAM.xml",
              apfXml("", R"(<parkpos id="A1" radius_change="true" radius="1e308"/>)"
                         R"(<parkpos id="M1" manual="true" latitude="52.31" longitude="4.76" radius="5e3"/>)"));
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    ASSERT_EQ(g_stands.size(), 1u);
    EXPECT_NEAR(g_stands[0].radius * kMetresPerNm, 30.0, 1e-9);
    EXPECT_EQ(g_stands[0].radiusChanged, 0);
}

// Thousands of stands on one spot: each keeps a bounded list of neighbours, and the pass
// measures a bounded number of pairs (quadratic, this table would take minutes).
TEST_F(StandBoundsTest, AdjacencyStaysBoundedWhateverTheFileSays)
{
    std::vector<Stand> stands;
    for (int i = 0; i < 20000; ++i) {
        stands.emplace_back(fmt::format("S{}", i), std::vector<StandOption>{}, 52.3, 4.76, 0.0, 50.0, 1, false, false,
                            false);
    }
    gf_numberStandsAndAdjacency(stands);
    for (const Stand& s : stands) {
        ASSERT_LE(s.adjacent.size(), kMaxAdjacentStands);
        ASSERT_FALSE(s.adjacent.empty());
    }
}

} // namespace
} // namespace qmt::test
