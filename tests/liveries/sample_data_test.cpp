#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LiveryTestSupport.h"
#include "core/Crypto.h"
#include "core/WindowState.h"
#include "liveries/LiveryScan.h"
#include "liveries/Regcodes.h"
#include "platform/sim_install.h"
#include "simlink/Install.h"

namespace qmt::test {
namespace {

// A scan of the sample installation's Community folder with the bundled reference data and AIG
// regcodes, as the end-to-end run makes it at its first start.
class SampleDataTest : public LiveryTest {
protected:
    void TearDown() override
    {
        gf_setSimUserFolder({});
        gf_resetLiveryScanForTests();
        LiveryTest::TearDown();
    }

    void SetUp() override
    {
        LiveryTest::SetUp();
        gf_clearDbase();
        const std::filesystem::path source = QUILLON_SOURCE_DIR;
        ASSERT_TRUE(gf_readDbase(source / "data" / "reference" / "dbase.xml"));
        std::filesystem::create_directories(g_inputPath);
        ASSERT_TRUE(gf_streamEncrypt(source / "data" / "reference" / "AIG-regcodes.xml",
                                     g_inputPath / AIG_REGCODES_ENC_FILE));
        gf_setSimUserFolder(source / "data" / "simulator");
        gf_findInstallPath();
        gf_scanLiveries();
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

TEST_F(SampleDataTest, ScanFindsAFewHundredLiveriesAndReportsTheDeliberateFaults)
{
    EXPECT_GT(g_liveryCount.load(), 300u);
    EXPECT_LT(g_liveryCount.load(), 600u);
    const std::vector<std::string> lines = logLines();
    auto has = [&](const std::string& PART) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& LINE) { return LINE.find(PART) != std::string::npos; });
    };
    for (const char* package : {"AIG", "FSLTL", "JF", "IVAO_MTL", "user-aitraffic"})
        EXPECT_TRUE(has(std::string("Automatic ") + package + " scan found folder: ")) << package;
    EXPECT_FALSE(has("_CVT_"));
    EXPECT_TRUE(has("liveries scan ends"));
    for (const char* report : {"InvalidAirlineCodes.txt", "InvalidAircraftCodes.txt", "Fixes.txt",
                               "InvalidAircraftCfgFiles.txt", "IncompleFltsimSections.txt"})
        EXPECT_TRUE(std::filesystem::exists(g_errorsPath / report)) << report;
    EXPECT_TRUE(std::filesystem::exists(g_infoPath / "AircraftCfgWithNoFltsimSection.txt"));
    EXPECT_FALSE(has("Category Rotorcraft: No livery found"));
    EXPECT_FALSE(has("Category Buzjets: No livery found"));
    EXPECT_TRUE(g_specialLiveries.size() >= 1);
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
    EXPECT_EQ(match("NJE", "", "C68A", "CS-LTG"), "FSLTL_NJE_C68A_CS-LTB"); // the operator's own livery
    EXPECT_EQ(match("PVT", "", "C172", "PH-XYZ"), "Cessna 172 Generic White");
    EXPECT_NE(match("PVT", "", "EC45", "PH-HEL").find("EC145"), std::string::npos);
    EXPECT_FALSE(match("DAL", "", "A333", "N825NW").empty());
}

} // namespace
} // namespace qmt::test
