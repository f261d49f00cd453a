#include <functional>
#include <set>

#include <gmock/gmock.h>
#include <pugixml.hpp>

#include "CoreTestSupport.h"
#include "FaultyDisk.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/Parameters.h"

namespace qmt::test {
namespace {

using ParametersTest = CoreTest;
using ::testing::HasSubstr;

TEST_F(ParametersTest, DefaultsAndKinds)
{
    EXPECT_TRUE(SCAN_LIVERIES.value());
    EXPECT_EQ(MATCHING_DEPTH.value(), 4);
    EXPECT_EQ(parking_percentage.value(), 30);
    EXPECT_EQ(CUSTOM_PARKING_PERCENTAGE.value(), -1);
    EXPECT_EQ(AIRP_RANGE.value(), 20);
    EXPECT_EQ(AIRP_HEIGHT.value(), 18000);
    EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 24.0f);
    EXPECT_TRUE(MAX_FIT_FL.currentIndex().has_value());
    EXPECT_FALSE(OBJECTID_LIST.value());
    EXPECT_EQ(LFOLDERS[3].name(), "lfolder3");
    EXPECT_EQ(LFOLDERS[3].value(), "");
    EXPECT_EQ(gf_parameterByName("MAX_FIT"), &MAX_FIT);
    EXPECT_EQ(gf_parameterByName("nope"), nullptr);
    EXPECT_EQ(CUSTOM_PARKING_PERCENTAGE.set(150), 100); // clamped
    EXPECT_EQ(MAX_FIT.set(-4), 0);
    EXPECT_EQ(gf_parametersOfKind(ParameterKind::FloatChoice), std::vector<Parameter*>{&MAX_FIT_FL});
    EXPECT_EQ(gf_parametersOfKind(ParameterKind::StringCtrl).size(), 13u);
    // Every name once.
    std::set<std::string> names;
    for (const Parameter* p : gf_allParameters()) EXPECT_TRUE(names.insert(p->name()).second) << p->name();
}

TEST_F(ParametersTest, PackageSelectorHasTheSixtyFourOrders)
{
    const auto& c = AI_PACKAGE_SELECTOR.choices();
    ASSERT_EQ(c.size(), 64u);
    EXPECT_EQ(c[0], "AIG, FSLTL, JF, MTL");
    EXPECT_EQ(c[1], "AIG, FSLTL, MTL, JF");
    EXPECT_EQ(c[23], "MTL, JF, FSLTL, AIG");
    EXPECT_EQ(c[24], "AIG, FSLTL, JF");
    EXPECT_EQ(c[30], "AIG, FSLTL, MTL");
    EXPECT_EQ(c[48], "AIG, FSLTL");
    EXPECT_EQ(c[50], "AIG, JF");
    EXPECT_EQ(c[60], "AIG");
    EXPECT_EQ(c[63], "MTL");
    EXPECT_EQ(AI_PACKAGE_SELECTOR.currentIndex(), std::optional<std::size_t>(0));
    EXPECT_TRUE(AI_PACKAGE_SELECTOR.set("JF, MTL"));
    EXPECT_FALSE(AI_PACKAGE_SELECTOR.set("AIG, XYZ"));
    EXPECT_EQ(AI_PACKAGE_SELECTOR.value(), "AIG, FSLTL, JF, MTL") << "anything else than a choice is the default";
}

TEST_F(ParametersTest, SaveAndReloadEveryKind)
{
    const auto path = dir() / "parameters.xml";
    SCAN_LIVERIES.set(false);                 // BoolCtrl
    OBJECTID_LIST.set(true);
    MAX_LIVE_SEL.set(42);                     // Int
    MAIN_WINDOW_X.set(-1200);
    MATCHING_DEPTH.set(2);                    // IntChoice
    AI_PACKAGE_SELECTOR.set("JF, MTL");       // StringChoice
    MAX_FIT_FL.set(4.5f);                     // FloatChoice
    LFOLDERS[9].set("C:\\AI \"traffic\" <&>"); // StringCtrl with XML specials
    MSFS_INSTALL_PATH.set("D:/MSFS");         // String
    CALLSIGN_2_OBJECTID.choose("KLM1234");    // CallsignMap
    ASSERT_TRUE(gf_saveParameters(path));

    gf_resetParameters();
    EXPECT_TRUE(SCAN_LIVERIES.value());
    std::string error;
    ASSERT_TRUE(gf_loadParameters(path, &error));
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(SCAN_LIVERIES.value());
    EXPECT_TRUE(OBJECTID_LIST.value());
    EXPECT_EQ(MAX_LIVE_SEL.value(), 42);
    EXPECT_EQ(MAIN_WINDOW_X.value(), -1200);
    EXPECT_EQ(MATCHING_DEPTH.value(), 2);
    EXPECT_EQ(AI_PACKAGE_SELECTOR.value(), "JF, MTL");
    EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 4.5f);
    EXPECT_EQ(LFOLDERS[9].value(), "C:\\AI \"traffic\" <&>");
    EXPECT_EQ(MSFS_INSTALL_PATH.value(), "D:/MSFS");
    EXPECT_EQ(CALLSIGN_2_OBJECTID.chosen(), "KLM1234");
}

TEST_F(ParametersTest, MissingFileKeepsDefaultsAndBadValuesKeepTheirDefault)
{
    EXPECT_TRUE(gf_loadParameters(dir() / "none.xml"));
    writeFile(dir() / "p.xml", "<root><parameters>"
                               "<parameter name=\"RANGE\" value=\"abc\"/>"
                               "<parameter name=\"MAX_LIVE_SEL\" value=\"99999\"/>"
                               "<parameter name=\"WEEK\" value=\"maybe\"/>"
                               "<parameter name=\"UNKNOWN\" value=\"1\"/>"
                               "<parameter name=\"PARK_SOFT\" value=\"true\"/>"
                               "</parameters></root>");
    EXPECT_TRUE(gf_loadParameters(dir() / "p.xml"));
    EXPECT_EQ(RANGE.value(), RANGE.defaultValue());
    EXPECT_EQ(MAX_LIVE_SEL.value(), MAX_LIVE_SEL.maxValue());
    EXPECT_FALSE(WEEK.value());
    EXPECT_TRUE(PARK_SOFT.value());
}

TEST_F(ParametersTest, SettingsWithChoicesKeepOnlyListedValues)
{
    writeFile(dir() / "p.xml", "<root><parameters>"
                               "<parameter name=\"MAX_FIT_FL\" value=\"3e38\"/>"
                               "<parameter name=\"MATCHING_DEPTH\" value=\"7\"/>"
                               "<parameter name=\"parking_percentage\" value=\"35\"/>"
                               "<parameter name=\"AI_PACKAGE_SELECTOR\" value=\"AIG, XYZ\"/>"
                               "<parameter name=\"SIM_CHOICE\" value=\"2024\"/>"
                               "</parameters></root>");
    gf_openLog(dir() / "Log.txt", "test");
    MAX_FIT_FL.set(4.5f);
    MATCHING_DEPTH.set(2);
    EXPECT_TRUE(gf_loadParameters(dir() / "p.xml"));
    EXPECT_EQ(MAX_FIT_FL.value(), MAX_FIT_FL.defaultValue());
    EXPECT_EQ(MATCHING_DEPTH.value(), MATCHING_DEPTH.defaultValue());
    EXPECT_EQ(parking_percentage.value(), parking_percentage.defaultValue());
    EXPECT_EQ(AI_PACKAGE_SELECTOR.value(), AI_PACKAGE_SELECTOR.defaultValue());
    EXPECT_EQ(SIM_CHOICE.value(), 2024);
    gf_flushLog();
    EXPECT_NE(readFile(dir() / "Log.txt").find("invalid value '3e38' for MAX_FIT_FL, 24.0 used"), std::string::npos);
    // A value near a choice is that choice; nothing else passes.
    EXPECT_TRUE(MAX_FIT_FL.set(4.4999f));
    EXPECT_EQ(MAX_FIT_FL.value(), 4.5f);
    EXPECT_FALSE(MAX_FIT_FL.set(std::nanf("")));
    EXPECT_EQ(MAX_FIT_FL.value(), 24.0f);
}

// A file that cannot be read (cut by an older program's save, edited by hand, absurdly large) is
// kept aside, the newest generation that reads gives the settings, and the generations stay as
// they are for the rest of the run.
TEST_F(ParametersTest, BrokenFileGivesTheNewestReadableGenerationAndIsKept)
{
    const auto path = dir() / "parameters.xml";
    const auto range = [](int VALUE) {
        return "<root><parameters><parameter name=\"RANGE\" value=\"" + std::to_string(VALUE) +
               "\"/></parameters></root>";
    };
    const std::string cut = "<root><parameters><parameter name=\"RANGE\" value=\"40\"/></param";
    const std::string huge = range(40) + std::string(2u << 20, ' ');
    struct Case {
        std::string file;
        std::vector<std::string> generations; // "0", "00", "000"
        int range;
        std::string said;
    };
    const Case cases[] = {
        {cut, {range(33)}, 33, "the settings of parameters0.xml are used"},
        {"", {range(33)}, 33, "No document element found at offset 0), the settings of parameters0.xml are used"},
        {cut, {cut, range(34)}, 34, "the settings of parameters00.xml are used"},
        {huge, {range(33)}, 33, "2097226 bytes, more than 1048576 that settings ever take), the settings of"},
        {cut, {}, RANGE.defaultValue(), "default settings are used"},
    };
    for (const Case& c : cases) {
        for (const auto& entry : std::filesystem::directory_iterator(dir()))
            std::filesystem::remove(entry.path());
        ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
        gf_resetParametersFileForTests();
        writeFile(path, c.file);
        for (std::size_t n = 0; n < c.generations.size(); ++n)
            writeFile(gf_generationPath(path, static_cast<int>(n) + 1), c.generations[n]);
        RANGE.set(77);
        std::string error;
        EXPECT_FALSE(gf_loadParameters(path, &error));
        EXPECT_EQ(RANGE.value(), c.range) << c.said;
        EXPECT_THAT(error, HasSubstr(c.said));
        EXPECT_THAT(error, HasSubstr("parameters.broken.xml"));
        EXPECT_EQ(readFile(dir() / "parameters.broken.xml"), c.file);
        // The saves of this run leave the generations as they were.
        ASSERT_TRUE(gf_saveParameters(path));
        RANGE.set(41);
        ASSERT_TRUE(gf_saveParameter(RANGE));
        ASSERT_TRUE(gf_saveParameters(path));
        EXPECT_TRUE(gf_loadParameters(path));
        EXPECT_EQ(RANGE.value(), 41);
        for (std::size_t n = 0; n < c.generations.size(); ++n)
            EXPECT_EQ(readFile(gf_generationPath(path, static_cast<int>(n) + 1)), c.generations[n]);
        gf_closeLog();
        EXPECT_THAT(readFile(dir() / "Log.txt"), HasSubstr("==> " + error));
    }
}

// Whichever step of a save a kill or a full disk stops, the next start reads every setting as it
// was before the save or as it is after it: never the defaults.
TEST_F(ParametersTest, KillOrFullDiskAtAnyStepOfASaveLosesNoSetting)
{
    const auto path = g_parametersPath;
    const auto settingsRead = [&path] {
        gf_resetParameters();
        gf_resetParametersFileForTests();
        EXPECT_TRUE(gf_loadParameters(path));
        return std::make_pair(MATCHING_DEPTH.value(), LIGHT_AIRCRAFT.value());
    };
    const auto before = std::make_pair(2, false);
    const auto after = std::make_pair(3, true);
    const std::function<void()> saves[] = {
        [] { gf_saveParameters(g_parametersPath); },
        [] {
            gf_saveParameter(MATCHING_DEPTH);
            gf_saveParameter(LIGHT_AIRCRAFT);
        },
    };
    for (const FaultyDisk::Fault fault : {FaultyDisk::Fault::kill, FaultyDisk::Fault::full}) {
        for (const auto& save : saves) {
            gf_faultAtEachStep(
                fault,
                [&] {
                    gf_resetParameters();
                    MATCHING_DEPTH.set(before.first);
                    LIGHT_AIRCRAFT.set(before.second);
                    ASSERT_TRUE(gf_saveParameters(path));
                    MATCHING_DEPTH.set(after.first);
                    LIGHT_AIRCRAFT.set(after.second);
                },
                save,
                [&](int STEP) {
                    const auto read = settingsRead();
                    // One setting saved alone may be in while the next is not.
                    const bool mixed = read == std::make_pair(after.first, before.second);
                    EXPECT_TRUE(read == before || read == after || mixed) << "step " << STEP;
                });
        }
    }
}

// An absurd value is refused with a line of bounded size.
TEST_F(ParametersTest, LongInvalidValueIsLoggedAsAnExcerpt)
{
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    writeFile(dir() / "p.xml", "<root><parameters><parameter name=\"RANGE\" value=\"" + std::string(100000, '7') +
                                   "x\"/></parameters></root>");
    EXPECT_TRUE(gf_loadParameters(dir() / "p.xml"));
    gf_closeLog();
    const std::string log = readFile(dir() / "Log.txt");
    EXPECT_THAT(log, HasSubstr("==> parameters.xml: invalid value '" + std::string(200, '7') +
                               "... (99801 more bytes)' for RANGE, 30 used"));
    EXPECT_LT(log.size(), 1000u);
}

TEST_F(ParametersTest, SavingOneParameterRewritesOnlyIt)
{
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    ASSERT_TRUE(gf_saveParameters(g_parametersPath));
    RANGE.set(50); // changed in memory only
    SCAN_LIVERIES.set(false);
    ASSERT_TRUE(gf_saveBoolParameter(SCAN_LIVERIES));
    gf_resetParameters();
    ASSERT_TRUE(gf_loadParameters(g_parametersPath));
    EXPECT_FALSE(SCAN_LIVERIES.value());
    EXPECT_EQ(RANGE.value(), RANGE.defaultValue());
    gf_closeLog();
    EXPECT_NE(readFile(dir() / "Log.txt").find("SCAN_LIVERIES=false\n"), std::string::npos);
}

// A file edited by hand that names a setting twice: the reader takes the last, so the save of
// that one setting sets both.
TEST_F(ParametersTest, SavingOneParameterNamedTwiceSetsBoth)
{
    writeFile(g_parametersPath, R"(<root><parameters><parameter name="RANGE" value="30"/>)"
                                R"(<parameter name="RANGE" value="35"/></parameters></root>)");
    ASSERT_TRUE(gf_loadParameters(g_parametersPath));
    RANGE.set(50);
    ASSERT_TRUE(gf_saveParameter(RANGE));
    gf_resetParameters();
    ASSERT_TRUE(gf_loadParameters(g_parametersPath));
    EXPECT_EQ(RANGE.value(), 50);
}

TEST_F(ParametersTest, ControlsStartEnabled)
{
    HELICOPTERS.control().disable();
    EXPECT_FALSE(HELICOPTERS.control().isEnabled());
    gf_resetParameters();
    EXPECT_TRUE(HELICOPTERS.control().isEnabled());
}

} // namespace
} // namespace qmt::test
