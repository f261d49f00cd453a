#include <set>

#include <gmock/gmock.h>
#include <pugixml.hpp>
#include <gtest/gtest.h>

#include "LiveryTestSupport.h"
#include "core/Crypto.h"
#include "core/Text.h"
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
                                     g_inputPath / kAigRegcodesEncFile));
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

// The sample packages are written as real ones are: comments after values and on lines of their
// own, mixed-case keys, a late accent in a Windows-1252 file, a file with CR-only line ends, a
// linked package and a livery folder linked into it, and a private aircraft that the priority
// rule lets win over the user's.
TEST_F(SampleDataTest, RealPackageWritingGivesCleanTitlesAndReportedPriorityLosses)
{
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(gf_liveriesScannedPath().c_str()));
    std::set<std::string> titles;
    for (const pugi::xml_node l : doc.child("root").child("liveries").children("l")) {
        const std::string title = l.attribute("t").value();
        EXPECT_EQ(title.find(';'), std::string::npos) << title;
        EXPECT_EQ(title.find("\xEF\xBF\xBD"), std::string::npos) << title;
        EXPECT_EQ(gf_trim(title), title);
        // An FSLTL title names its airline: the stored code is that one.
        if (title.starts_with("FSLTL_") && title.size() > 9 && title[9] == '_') {
            EXPECT_EQ(std::string(l.attribute("a").value()), title.substr(6, 3)) << title;
        }
        titles.insert(title);
    }
    EXPECT_TRUE(titles.contains("JF Airbus A320 TAP Air Portugal S\xC3\xA3o Jo\xC3\xA3o"));
    EXPECT_TRUE(titles.contains("FSLTL_Cessna 208B Grand Caravan Private"));
    // The file with CR-only line ends:
    EXPECT_TRUE(std::any_of(titles.begin(), titles.end(), [](const std::string& T) { return T.starts_with("FSLTL_AAL_A320_"); }));
    EXPECT_TRUE(titles.contains("Cessna 172 Generic White")); // from the linked user package
    // A livery folder linked into the user package, Windows-1252 behind a UTF-8 mark, its airline
    // named twice; the link back up inside it is not walked.
    EXPECT_TRUE(titles.contains("Beechcraft King Air 350 Z\xC3\xBCrich HB-GJA"));
    const std::vector<std::string> lines = logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& L) {
                                return L.find("USER_B350/all-liveries leads to ") != std::string::npos &&
                                       L.ends_with("USER_B350, which is scanned already, skipped");
                            }),
              1);
    const std::string dropped = readFile(g_infoPath / "DroppedByPriority.txt");
    EXPECT_NE(dropped.find("'Cessna 208 Caravan G-NWB' [PVT C208] in "), std::string::npos) << dropped;
    EXPECT_NE(dropped.find("fsltl-traffic-base has liveries of this kind"), std::string::npos) << dropped;
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
