#include "parking/ParkingTest.h"

#include "stands/Quality.h"

namespace qmt::test {
namespace {

class QualityTest : public ParkingTest {
protected:
    Stand& addStand(bool HELI = false)
    {
        g_stands.emplace_back("S" + std::to_string(g_stands.size() + 1), std::vector<StandOption>{}, 52.3, 4.76, 0.0,
                              30.0, 3, false, false, HELI);
        return g_stands.back();
    }
    static StandOption option(uint32_t DAY, const std::string& HH, uint32_t REAL, uint32_t ID = 1)
    {
        StandOption o;
        o.day = DAY;
        o.hours = gf_hours2bitset(HH);
        o.real = REAL;
        o.optionId = ID;
        return o;
    }
};

TEST_F(QualityTest, NoOptionsMeansUnknown)
{
    addStand();
    g_qualityFactors = gf_computeQualityFactors();
    EXPECT_EQ(gf_qualityReal(g_qualityFactors), -1);
    EXPECT_EQ(gf_qualitySoft(g_qualityFactors), -1);
    EXPECT_EQ(gf_qualityFactorText(), "  ");
}

TEST_F(QualityTest, WorkedValues)
{
    addStand().options.push_back(option(3, "0:47", 1));
    int64_t q = gf_computeQualityFactors();
    EXPECT_EQ(gf_qualityReal(q), 64);
    EXPECT_EQ(gf_qualitySoft(q), 0);

    g_stands.clear();
    Stand& busy = addStand();
    for (uint32_t i = 0; i < 300; ++i) {
        busy.options.push_back(option(1 + i % 7, "0:47", 1, i + 1));
    }
    q = gf_computeQualityFactors();
    EXPECT_EQ(gf_qualityReal(q), 99);

    // One option on one day with no slot: 10120 points, 63 after the weight.
    g_stands.clear();
    addStand().options.push_back(option(2, "", 0));
    q = gf_computeQualityFactors();
    EXPECT_EQ(gf_qualitySoft(q), 63);
    EXPECT_EQ(gf_qualityReal(q), 0);
}

TEST_F(QualityTest, SwitchedOffOptionsAndHelipadsCountForNothing)
{
    addStand().options.push_back(option(3, "0:47", 1));
    addStand(true).options.push_back(option(3, "0:47", 1));      // helipad: neither sum nor weight
    addStand().options.push_back(option(3, "0:47", 1, 0));       // switched off: weight only
    const int64_t q = gf_computeQualityFactors();
    EXPECT_EQ(gf_qualityReal(q), 32);  // 10216 x 0.3 / 0.6 x 0.00625 = 31.9

    g_stands.clear();
    addStand(true).options.push_back(option(3, "0:47", 1));
    EXPECT_EQ(gf_computeQualityFactors(), gf_packQualityFactors(0, 0));
}

TEST_F(QualityTest, Text)
{
    g_qualityFactors = gf_packQualityFactors(44, 7);
    EXPECT_EQ(gf_qualityFactorText(), "44/ 7");
    g_qualityFactors = gf_packQualityFactors(45, 7);
    EXPECT_EQ(gf_qualityFactorText(), "45");
    g_qualityFactors = gf_packQualityFactors(3, -1);
    EXPECT_EQ(gf_qualityFactorText(), " 3/-1");
}

} // namespace
} // namespace qmt::test
