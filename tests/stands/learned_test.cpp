#include "parking/ParkingTest.h"

#include "core/Parameters.h"
#include "stands/Quality.h"

namespace qmt::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::filesystem::path kData = std::filesystem::path(QUILLON_SOURCE_DIR) / "tests" / "stands" / "data";

class LearnedTest : public ParkingTest {
protected:
    // The example archived file as a local stock file, and optionally its learned file.
    std::string putExample(bool WITH_LEARNED)
    {
        const std::string name = putLocal("airports/stock/EHAM.xml", readFile(kData / "archived_EHAM.xml"));
        if (WITH_LEARNED) {
            writeFile(learnedPath(), readFile(kData / "learned_EHAM.xml"));
        }
        return name;
    }
    std::filesystem::path learnedPath() const { return m_dir / "airports" / "learned" / "stock" / "EHAM.xml"; }

    // A one-stand archive and a learned file with the given version and parkpos elements.
    std::string putSmall(const std::string& LEARNED_POSITIONS, const std::string& VERSION = "12.0.0",
                         const std::string& LEARNED_PARAMETERS = "")
    {
        const std::string name = putLocal(
            "airports/stock/EHAM.xml",
            apfXml(param("publisher", "stock") + param("altitude", "-11"),
                   R"(<parkpos id="A1" latitude="52.3" longitude="4.76" radius="30" type="3">)"
                   R"(<opt reg="PH-AAA" airl="KLM" type="B738" day="2" hh="12:14"/></parkpos>)"
                   R"(<parkpos id="A2" latitude="52.31" longitude="4.76" radius="30" type="0" cargo="true" ramp="true"/>)"));
        const std::string meta = R"(<meta><info name="author" value="Quillon"/><info name="version" value=")" +
                                 VERSION + R"("/></meta>)";
        writeFile(learnedPath(), apfXml(LEARNED_PARAMETERS, LEARNED_POSITIONS, meta));
        return name;
    }
};

TEST_F(LearnedTest, PathsOfLearnedFiles)
{
    const auto learned = m_dir / "airports" / "learned";
    EXPECT_EQ(lf_learnedPathOf("archive/stock/EHAM.xml", ""), learned / "stock" / "EHAM.xml");
    EXPECT_EQ(lf_learnedPathOf("archive\\simaddon\\EHAM.xml", ""), learned / "simaddon" / "EHAM.xml");
    EXPECT_EQ(lf_learnedPathOf("archive/thirdparty/Some%20Publisher/EGLL.xml", ""),
              learned / "thirdparty" / "Some Publisher" / "EGLL.xml");
    EXPECT_EQ(lf_learnedPathOf("airports/my_thirdparty/EGLL.xml", " Pub/Name "),
              learned / "thirdparty" / "Pub Name" / "EGLL.xml");
    EXPECT_EQ(lf_learnedPathOf("airports/stock/EHAM.xml", ""), learned / "stock" / "EHAM.xml");
    // A generated simulator-maker airport is saved where it is read again.
    EXPECT_EQ(lf_learnedPathOf("airports/my_simaddon/EHAM.xml", "simaddon"), learned / "simaddon" / "EHAM.xml");
    // Nothing leads outside the learned folder.
    EXPECT_TRUE(lf_learnedPathOf("airports/my_thirdparty/EGLL.xml", "..").empty());
    EXPECT_TRUE(lf_learnedPathOf("airports/my_thirdparty/EGLL.xml", "   ").empty());
    EXPECT_TRUE(lf_learnedPathOf("archive/thirdparty/..%20/EGLL.xml", "").empty());
    EXPECT_TRUE(lf_learnedPathOf("archive/thirdparty/../EGLL.xml", "").empty());
    EXPECT_TRUE(lf_learnedPathOf("airports/../../etc/EGLL.xml", "").empty());
    EXPECT_TRUE(lf_learnedPathOf("archive/stock/EHAM.txt", "").empty());
    EXPECT_TRUE(lf_learnedPathOf("elsewhere/EHAM.xml", "").empty());
}

TEST_F(LearnedTest, ExampleFilesRoundTrip)
{
    const std::string name = putExample(true);
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    ASSERT_EQ(g_stands.size(), 7u);
    const Stand* d2 = standNamed("D2");
    ASSERT_NE(d2, nullptr);
    EXPECT_EQ(d2->standId, 1u);
    EXPECT_EQ(d2->adjacent, std::vector<uint32_t>{2});
    ASSERT_EQ(d2->options.size(), 4u);
    EXPECT_EQ(d2->options[2].registration, "PH-BXC");
    EXPECT_EQ(d2->options[2].optionId, 3u);
    EXPECT_EQ(d2->options[2].source, 0u);
    EXPECT_EQ(d2->options[2].furtherName, "KLM88P");
    EXPECT_EQ(d2->options[3].hours, gf_hours2bitset("3,5,6"));
    EXPECT_EQ(d2->options[3].cpl, 1);
    EXPECT_NEAR(standNamed("E5")->radius * kMetresPerNm, 42.0, 1e-9);
    EXPECT_EQ(standNamed("F4")->cargo, 0);
    const Stand* m1 = standNamed("M1");
    ASSERT_NE(m1, nullptr);
    EXPECT_EQ(m1->manual, 1);
    EXPECT_EQ(m1->standId, 7u);
    EXPECT_EQ(m1->options.at(0).source, 0u);
    EXPECT_EQ(RANGE.value(), 40);
    EXPECT_TRUE(WEEK.value());
    EXPECT_EQ(parking_percentage.value(), 60);
    EXPECT_EQ(MAX_FIT.value(), 11);
    EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 6.0f);
    EXPECT_EQ(MAX_LIVE_SEL.value(), 150);
    EXPECT_TRUE(logHas("learned stand Z9 in"));
    EXPECT_EQ(g_qualityFactors, gf_computeQualityFactors());

    const std::string before = readFile(learnedPath());
    lf_saveLearnedApf();
    const std::string after = readFile(learnedPath());
    EXPECT_EQ(withoutMeta(after), withoutMeta(before));
    EXPECT_TRUE(logHas("saved with 0 updates"));
    EXPECT_EQ(readFile(m_dir / "airports" / "learned" / "stock" / "EHAM0.xml"), before);
}

TEST_F(LearnedTest, VersionRuleKeepsSettingsAndRadiiButNotOptions)
{
    const std::string positions = R"(<parkpos id="A1" radius_change="true" radius="50">)"
                                  R"(<opt reg="PH-BBB" airl="KLM" type="B738" day="2" hh="20"/></parkpos>)";
    for (const auto& [version, options] : {std::pair{"11.9.9", 1u}, std::pair{"11.10.0", 2u}}) {
        const std::string name = putSmall(positions, version, param("RANGE", "55"));
        RANGE.set(30);
        gf_clearStands();
        ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
        EXPECT_EQ(RANGE.value(), 55) << version;
        EXPECT_NEAR(standNamed("A1")->radius * kMetresPerNm, 50.0, 1e-9) << version;
        EXPECT_EQ(standNamed("A1")->options.size(), options) << version;
    }
    EXPECT_TRUE(logHas("older Quillon version than 11.10.0"));
}

TEST_F(LearnedTest, DuplicateOptionsNeedACommonSlot)
{
    const std::string name = putSmall(R"(<parkpos id="A1">)"
                                      R"(<opt reg="PH-AAA" airl="KLM" type="B738" day="2" hh="10:12"/>)"
                                      R"(<opt reg="PH-AAA" airl="KLM" type="B738" day="2" hh="10:11"/>)"
                                      R"(<opt reg="PH-AAA" airl="KLM" type="B738" day="2" soft="true" hh="12"/>)"
                                      R"(<opt reg="PH-AAA" airl="KLM" type="B738" day="9" hh="1"/>)"
                                      R"(<opt reg="PH-AAA" airl="KLM" type="B738" day="3" hh="x"/>)"
                                      "</parkpos>");
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    const Stand* a1 = standNamed("A1");
    ASSERT_EQ(a1->options.size(), 3u);
    EXPECT_EQ(a1->options[1].hours, gf_hours2bitset("10:11"));
    EXPECT_EQ(a1->options[1].optionId, 2u);
    EXPECT_EQ(a1->options[2].real, 0u);
    EXPECT_EQ(a1->options[2].optionId, 3u);
    EXPECT_TRUE(logHas("learned A1: day:2 10:12 "));
    EXPECT_TRUE(logHas("already in airport file"));
    EXPECT_TRUE(logHas("empty bit set"));
}

TEST_F(LearnedTest, ManualStandsNeedPositionAndRadius)
{
    const std::string name = putSmall(
        R"(<parkpos id="M1" manual="true" latitude="0.00005" longitude="0.00005" radius="20"/>)"
        R"(<parkpos id="M2" manual="true" latitude="52.3" longitude="4.77" radius="0"/>)"
        R"(<parkpos id="A1" manual="true" latitude="52.3" longitude="4.77" radius="20"/>)"
        R"(<parkpos id="M3" manual="true" latitude="52.3" longitude="4.77" radius="20" type="0" cargo="true"/>)");
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    EXPECT_EQ(standNamed("M1"), nullptr);
    EXPECT_EQ(standNamed("M2"), nullptr);
    ASSERT_NE(standNamed("M3"), nullptr);
    EXPECT_EQ(standNamed("M3")->manual, 1);
    EXPECT_EQ(standNamed("M3")->cargo, 1);
    EXPECT_TRUE(logHas("manually created standid M1 misses correct attributes"));
    EXPECT_TRUE(logHas("manually created standid M2 misses correct attributes"));
    EXPECT_TRUE(logHas("manually created standid A1 already exists"));
}

TEST_F(LearnedTest, HandmadeListReplacesTheAirportFile)
{
    const std::string name = putSmall(
        R"(<parkpos id="H7" latitude="52.301" longitude="4.761" heading="10.0" radius="25.0" type="2">)"
        R"(<opt reg="PH-CCC" airl="KLM" type="B738" day="4" hh="2:3"/></parkpos>)",
        "12.0.0", param("handmade", "true") + param("Qf_real", "50") + param("Qf_soft", "5"));
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    EXPECT_EQ(g_handmade, 1);
    ASSERT_EQ(g_stands.size(), 1u);
    EXPECT_EQ(g_stands[0].name, "H7");
    EXPECT_EQ(g_stands[0].standId, 1u);
    EXPECT_TRUE(logHas("A handmade airport file overruled the archived file!"));
    EXPECT_TRUE(logHas("Airport file read from '" + learnedPath().string() + "'"));
}

TEST_F(LearnedTest, HandmadeSaveKeepsEverythingOfAStand)
{
    const std::string name = putSmall(
        R"(<parkpos id="H7" latitude="52.301000" longitude="4.761000" heading="10.0" radius="25.0" type="3" cargo_change="true" cargo="true">)"
        R"(<opt airl="KLM" type="B738" day="4" hh="2:3"/></parkpos>)"
        R"(<parkpos id="H8" latitude="52.302000" longitude="4.761000" heading="10.0" radius="25.0" type="0" ramp="true"/>)",
        "12.0.0", param("handmade", "true") + param("altitude", "-11"));
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    ASSERT_EQ(g_stands.size(), 2u);
    // A wide aircraft stood on H7 and widened it.
    g_stands[0].radius = 30.0 * kNmPerMetre;
    g_stands[0].radiusChanged = 1;
    lf_saveLearnedApf();

    gf_clearStands();
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    ASSERT_EQ(g_stands.size(), 2u) << "a stand with a changed radius keeps its position";
    const Stand* h7 = standNamed("H7");
    ASSERT_NE(h7, nullptr);
    EXPECT_NEAR(h7->latitude, 52.301, 1e-9);
    EXPECT_NEAR(h7->radius * kMetresPerNm, 30.0, 1e-9);
    EXPECT_EQ(h7->cargo, 1);
    ASSERT_EQ(h7->options.size(), 1u) << "an option known by airline and model only is kept";
    EXPECT_EQ(h7->options[0].kind.airlineId, gf_airlineId("KLM"));
    EXPECT_EQ(standNamed("H8")->ramp, 1);
    EXPECT_TRUE(logHas(" handmade '" + learnedPath().string() + "' saved with"));
}

TEST_F(LearnedTest, SwitchedOffOptionsAreSaved)
{
    const std::string name = putSmall(R"(<parkpos id="A1"><opt reg="PH-BBB" airl="KLM" type="B738" day="2" hh="20"/>)"
                                      R"(<opt reg="PH-BBC" airl="KLM" type="B738" day="2" hh="30"/></parkpos>)");
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    // A calculation switched both learned options off (their aircraft stood elsewhere).
    for (StandOption& o : g_stands[0].options) {
        o.optionId = 0;
    }
    g_learnedUpdates = 1;
    lf_saveLearnedApf();
    const std::string saved = readFile(learnedPath());
    EXPECT_THAT(saved, HasSubstr("PH-BBB"));
    EXPECT_THAT(saved, HasSubstr("PH-BBC"));
    EXPECT_THAT(saved, Not(HasSubstr("PH-AAA"))) << "archived options are not doubled";
    EXPECT_TRUE(logHas("saved with 1 update\n"));
}

TEST_F(LearnedTest, UnmatchedLearnedStandsAreKept)
{
    const std::string name = putSmall(R"(<parkpos id="GONE" radius_change="true" radius="44.0">)"
                                      R"(<opt reg="PH-ZZZ" airl="KLM" type="B738" day="2" hh="20" />)"
                                      "</parkpos>");
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    EXPECT_EQ(standNamed("GONE"), nullptr);
    lf_saveLearnedApf();
    const std::string saved = readFile(learnedPath());
    EXPECT_THAT(saved, HasSubstr(R"(<parkpos id="GONE" radius_change="true" radius="44.0">)"));
    EXPECT_THAT(saved, HasSubstr("PH-ZZZ"));
}

TEST_F(LearnedTest, ThirdpartySaveMakesThePublisherFolder)
{
    const std::string name = putLocal(
        "airports/my_thirdparty/EGLL.xml",
        apfXml(param("publisher", "New Pub") + param("altitude", "83"),
               R"(<parkpos id="A1" latitude="51.47" longitude="-0.45" radius="30" type="3"/>)"));
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    lf_saveLearnedApf();
    const auto path = m_dir / "airports" / "learned" / "thirdparty" / "New Pub" / "EGLL.xml";
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_THAT(readFile(path), HasSubstr("<parkpositions />"));
    EXPECT_TRUE(logHas("saved with 0 updates"));
}

TEST_F(LearnedTest, StockLearnedFileIsReadBackAfterASave)
{
    const std::string name = putExample(false);
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    StandOption learned;
    learned.registration = "PH-BXQ";
    learned.kind.airlineId = gf_airlineId("KLM");
    learned.kind.modelId = gf_modelId("B738");
    learned.day = 4;
    learned.hours = gf_hours2bitset("7:9");
    learned.optionId = 3;
    learned.real = 1;
    g_stands[1].options.push_back(learned);
    lf_saveLearnedApf();
    gf_clearStands();
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    ASSERT_EQ(standNamed("D3")->options.size(), 1u);
    EXPECT_EQ(standNamed("D3")->options[0].registration, "PH-BXQ");
    EXPECT_EQ(standNamed("D2")->options.size(), 2u);
}

TEST_F(LearnedTest, GeneratedSimaddonAirportLearnsAcrossVisits)
{
    const std::string name = putLocal(
        "airports/my_simaddon/EHAM.xml",
        apfXml(param("publisher", "simaddon") + param("altitude", "-11"),
               R"(<parkpos id="A1" latitude="52.3" longitude="4.76" radius="30" type="3"/>)"));
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    StandOption learned;
    learned.registration = "PH-BXQ";
    learned.day = 4;
    learned.hours = gf_hours2bitset("7:9");
    learned.optionId = 1;
    learned.real = 1;
    g_stands[0].options.push_back(learned);
    g_learnedUpdates = 1;
    lf_saveLearnedApf();
    gf_clearStands();
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    ASSERT_EQ(g_stands[0].options.size(), 1u) << "what was learned is read on the next visit";
    EXPECT_EQ(g_stands[0].options[0].registration, "PH-BXQ");
}

} // namespace
} // namespace qmt::test
