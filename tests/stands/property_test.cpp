// Whatever an airport file or a learned file holds, every number the readers store is finite and
// within its range.
#include "parking/ParkingTest.h"

#include "InputMutation.h"
#include "core/Parameters.h"
#include "stands/Quality.h"

namespace qmt::test {
namespace {

const std::filesystem::path kData = std::filesystem::path(QUILLON_SOURCE_DIR) / "tests" / "stands" / "data";

class ReaderPropertyTest : public ParkingTest {
protected:
    void expectBounded(const std::string& WHAT)
    {
        for (const Stand& s : g_stands) {
            ASSERT_TRUE(gf_standInBounds(s)) << WHAT << " stand " << s.name;
            for (const uint32_t id : s.adjacent) {
                ASSERT_TRUE(id >= 1 && id <= g_stands.size()) << WHAT;
            }
        }
        const int32_t real = gf_qualityReal(g_qualityFactors);
        const int32_t soft = gf_qualitySoft(g_qualityFactors);
        ASSERT_TRUE(real >= -1 && real <= 100 && soft >= -1 && soft <= 100) << WHAT;
        ASSERT_TRUE(g_parkApfInfo.altitudeFt >= kLowestAirportFt && g_parkApfInfo.altitudeFt <= kHighestAirportFt)
            << WHAT;
        ASSERT_TRUE(std::isfinite(g_parkAirportElevation)) << WHAT;
        ASSERT_TRUE(RANGE.value() >= RANGE.minValue() && RANGE.value() <= RANGE.maxValue()) << WHAT;
        ASSERT_TRUE(MAX_FIT.value() >= MAX_FIT.minValue() && MAX_FIT.value() <= MAX_FIT.maxValue()) << WHAT;
        ASSERT_TRUE(MAX_LIVE_SEL.value() >= MAX_LIVE_SEL.minValue() && MAX_LIVE_SEL.value() <= MAX_LIVE_SEL.maxValue())
            << WHAT;
        ASSERT_TRUE(parking_percentage.currentIndex().has_value()) << WHAT;
        ASSERT_TRUE(MAX_FIT_FL.currentIndex().has_value()) << WHAT;
    }
};

TEST_F(ReaderPropertyTest, AirportAndLearnedFilesOfAnyNumbers)
{
    const std::string sample = readFile(std::filesystem::path(QUILLON_SOURCE_DIR) / "data" / "airports" /
                                        "my_simaddon" / "EHAM.xml");
    const std::string archived = readFile(kData / "archived_EHAM.xml");
    const std::string learned = readFile(kData / "learned_EHAM.xml");
    InputMutator mutator(16);
    for (int i = 0; i < 80; ++i) {
        const std::string text = mutator.mutate(i % 2 == 0 ? sample : archived);
        const std::string name = putLocal("airports/stock/EHAM.xml", text);
        writeFile(m_dir / "airports" / "learned" / "stock" / "EHAM.xml", mutator.mutate(learned));
        gf_readApf(name, g_parkApfInfo);
        expectBounded("case " + std::to_string(i));
        std::filesystem::remove(m_dir / "airports" / "learned" / "stock" / "EHAM.xml");
    }
}

} // namespace
} // namespace qmt::test
