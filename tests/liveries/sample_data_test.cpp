#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LiveryTestSupport.h"
#include "core/Crypto.h"
#include "core/WindowState.h"
#include "liveries/Regcodes.h"

namespace qmt::test {
namespace {

// The bundled LiveriesScanned.xml with the bundled reference data and AIG regcodes, as the
// end-to-end run uses them.
class SampleDataTest : public LiveryTest {
protected:
    void SetUp() override
    {
        LiveryTest::SetUp();
        gf_clearDbase();
        const std::filesystem::path source = QUILLON_SOURCE_DIR;
        ASSERT_TRUE(gf_readDbase(source / "data" / "reference" / "dbase.xml"));
        std::filesystem::copy_file(source / "data" / "liveries" / "LiveriesScanned.xml", gf_liveriesScannedPath());
        std::filesystem::create_directories(g_inputPath);
        ASSERT_TRUE(gf_streamEncrypt(source / "data" / "reference" / "AIG-regcodes.xml",
                                     g_inputPath / AIG_REGCODES_ENC_FILE));
        gf_processScannedLiveries();
    }

    std::string match(const char* AIRLINE, const char* OPERATOR, const char* MODEL, const char* REGISTRATION,
                      bool CARGO = false)
    {
        SimAc ac = testAircraft(AIRLINE, OPERATOR, MODEL, REGISTRATION, CARGO);
        gf_matchLiveAcLivery(ac);
        return std::string(ac.liveryTitle);
    }
};

TEST_F(SampleDataTest, BuildsEveryCategoryAndTheAigRegcodes)
{
    EXPECT_EQ(g_liveryCount.load(), 47u);
    const std::vector<std::string> lines = logLines();
    auto has = [&](const std::string& LINE) { return std::find(lines.begin(), lines.end(), LINE) != lines.end(); };
    EXPECT_TRUE(has("   47 liveries read from " + gf_liveriesScannedPath().string()));
    EXPECT_TRUE(has("Category Rotorcraft: 2 pax liveries"));
    EXPECT_TRUE(has("Category Buzjets: 3 pax liveries"));
    EXPECT_TRUE(has("Category HighPerf: No livery found"));
    // The AIG file moves PH-BXC to a special livery and adds second registrations.
    EXPECT_TRUE(g_specialLiveries.size() >= 1);
    EXPECT_EQ(g_regcodeLiveries.at("PH-BVB"), "AIG Boeing 777-300ER KLM Royal Dutch Airlines");
}

TEST_F(SampleDataTest, ScenarioAircraftFindTheirLiveries)
{
    EXPECT_EQ(match("KLM", "", "B738", "PH-BXB"), "AIG Boeing 737-800 KLM Royal Dutch Airlines (PH-BXB)");
    EXPECT_EQ(match("MPH", "", "B744", "PH-MPS", true), "AIG Boeing 747-400 Martinair Cargo");
    EXPECT_THAT(match("KLM", "KLC", "E190", "PH-EZW"),
                ::testing::AnyOf("AIG Embraer 190 KLM Cityhopper", "FSLTL_KLC_E190_PH-EZD"));
    EXPECT_THAT(match("TRA", "", "B738", "PH-HSI"),
                ::testing::AnyOf("AIG Boeing 737-800 Transavia", "FSLTL_TRA_B738_PH-HXG"));
    EXPECT_EQ(match("EIN", "", "A320", "EI-DVB"), "FSLTL_EIN_A320_EI-DVJ");
    EXPECT_EQ(match("NJE", "", "C68A", "CS-LTG"), "AIG Cessna Citation Latitude NetJets Europe");
    EXPECT_EQ(match("PVT", "", "C172", "PH-XYZ"), "Cessna 172 Generic White");
    EXPECT_EQ(match("PVT", "", "EC45", "PH-HEL"), "EC135 PH-ECA");
    EXPECT_FALSE(match("DAL", "", "A333", "N825NW").empty());
}

} // namespace
} // namespace qmt::test
