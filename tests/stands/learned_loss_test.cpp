#include "parking/ParkingTest.h"

#include "FaultyDisk.h"
#include "core/Files.h"
#include "core/Parameters.h"

#include <pugixml.hpp>

namespace qmt::test {
namespace {

class LearnedLossTest : public ParkingTest {
protected:
    std::filesystem::path learnedPath() const { return m_dir / "airports" / "learned" / "stock" / "EHAM.xml"; }

    std::string putAirport()
    {
        return putLocal("airports/stock/EHAM.xml",
                        apfXml(param("publisher", "stock") + param("altitude", "-11"),
                               R"(<parkpos id="A1" latitude="52.3" longitude="4.76" radius="30" type="3"/>)"));
    }

    static StandOption learned(const char* REGISTRATION, const char* HOURS, uint32_t ID)
    {
        StandOption option;
        option.registration = REGISTRATION;
        option.kind.airlineId = gf_airlineId("KLM");
        option.kind.modelId = gf_modelId("B738");
        option.day = 4;
        option.hours = gf_hours2bitset(HOURS);
        option.optionId = ID;
        option.real = 1;
        return option;
    }

    // The registrations and half-hours learned at stand A1, as the next visit reads them.
    std::vector<std::string> readBack(const std::string& NAME)
    {
        gf_clearStands();
        EXPECT_EQ(gf_readApf(NAME, g_parkApfInfo), "");
        std::vector<std::string> read;
        for (const StandOption& option : g_stands.at(0).options) {
            read.push_back(option.registration + " " + gf_bitsetText(option.hours).value_or("?"));
        }
        return read;
    }
};

// Whichever step of a save a kill or a full disk stops, the next visit reads what the earlier
// visits learned, and every generation of the file reads as well.
TEST_F(LearnedLossTest, KillOrFullDiskAtAnyStepOfASaveLosesNoLearnedHalfHour)
{
    const std::string name = putAirport();
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    g_stands[0].options.push_back(learned("PH-BXQ", "7:9", 1));
    lf_saveLearnedApf();
    const std::string firstVisit = readFile(learnedPath());
    const std::vector<std::string> before = {"PH-BXQ 7:9"};
    const std::vector<std::string> after = {"PH-BXQ 7:9", "PH-BXR 20:22"};
    for (const FaultyDisk::Fault fault : {FaultyDisk::Fault::kill, FaultyDisk::Fault::full}) {
        const int steps = gf_faultAtEachStep(
            fault,
            [&] {
                writeFile(learnedPath(), firstVisit);
                for (int n = 1; n <= 3; ++n) {
                    writeFile(gf_generationPath(learnedPath(), n), firstVisit);
                }
                gf_clearStands();
                ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
                g_stands[0].options.push_back(learned("PH-BXR", "20:22", 2));
                g_learnedUpdates = 1;
            },
            [] { lf_saveLearnedApf(); },
            [&](int STEP) {
                const std::vector<std::string> read = readBack(name);
                EXPECT_TRUE(read == before || read == after) << "step " << STEP;
                for (int n = 1; n <= 3; ++n) {
                    const auto generation = gf_generationPath(learnedPath(), n);
                    pugi::xml_document doc;
                    EXPECT_TRUE(!std::filesystem::exists(generation) || doc.load_file(generation.c_str()))
                        << "step " << STEP << ", generation " << n;
                }
            });
        EXPECT_EQ(steps, 6);
        EXPECT_EQ(readBack(name), after);
    }
    EXPECT_TRUE(logHas("saving '" + learnedPath().string() + "' did not succeed"));
}

// A learned file written by hand, holding a stand made by hand, with a meta block that the
// reader refuses: a save after the visit must leave it as it was.
TEST_F(LearnedLossTest, RefusedMetaBlockIsNeverSavedOver)
{
    const std::string positions =
        R"(<parkpos id="M1" manual="true" latitude="52.301" longitude="4.761" radius="25" type="3"/>)";
    const std::string metas[] = {
        "",  // no block at all
        R"(<meta><info name="author" value="Somebody"/><info name="version" value="12.0.0"/></meta>)",
        R"(<meta><info name="author" value="Quillon"/><info name="version" value="twelve"/></meta>)",
    };
    for (const std::string& meta : metas) {
        const std::string name = putAirport();
        writeFile(learnedPath(), apfXml("", positions, meta));
        const std::string before = readFile(learnedPath());
        gf_clearStands();
        ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "") << meta;
        EXPECT_EQ(g_stands.size(), 1u) << "nothing of the refused file is applied";
        g_learnedUpdates = 3;
        lf_saveLearnedApf();
        EXPECT_EQ(readFile(learnedPath()), before) << meta;
        EXPECT_FALSE(std::filesystem::exists(learnedPath().parent_path() / "EHAM0.xml")) << meta;
    }
    const std::string log = logText();
    const std::string warning = "==> learned file " + learnedPath().string() + " refused";
    size_t count = 0;
    for (size_t at = log.find(warning); at != std::string::npos; at = log.find(warning, at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 3u) << "one warning naming the file per read";
}

// A learned file listing more stands than an airport may have is refused whole and kept.
TEST_F(LearnedLossTest, ALearnedFileOfTooManyStandsIsKept)
{
    const std::string name = putAirport();
    std::string positions;
    for (size_t i = 0; i <= MAX_AIRPORT_STANDS; ++i) {
        positions += "<parkpos id=\"X" + std::to_string(i) + "\"/>";
    }
    writeFile(learnedPath(), apfXml("", positions, kMeta));
    const std::string before = readFile(learnedPath());
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    lf_saveLearnedApf();
    EXPECT_EQ(readFile(learnedPath()), before);
    EXPECT_TRUE(logHas("lf_readLearned: 93: The file lists more than 10000 stands."));
}

TEST_F(LearnedLossTest, SaveRefusesATableThatNoGoodReadLoaded)
{
    const std::string name = putAirport();
    writeFile(learnedPath(), apfXml("", R"(<parkpos id="A1" radius_change="true" radius="40"/>)", kMeta));
    const std::string before = readFile(learnedPath());

    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    ASSERT_EQ(g_stands.size(), 1u);
    // A read that fails halfway (a repeated stand) leaves nothing to save.
    putLocal(name, apfXml(param("publisher", "stock") + param("altitude", "-11"),
                          R"(<parkpos id="A1" latitude="52.3" longitude="4.76" radius="30"/>)"
                          R"(<parkpos id="A1" latitude="52.31" longitude="4.76" radius="30"/>)"));
    EXPECT_NE(gf_readApf(name, g_parkApfInfo), "");
    EXPECT_EQ(g_parkLoaded.load(), 0);
    EXPECT_TRUE(g_stands.empty()) << "a read that fails halfway leaves the stand table empty";
    lf_saveLearnedApf();
    EXPECT_EQ(readFile(learnedPath()), before);

    // Nor does a table filled by anything else than a read.
    g_parkApfInfo.apfName = name;
    g_parkApfInfo.publisher = "stock";
    g_stands.emplace_back("A1", std::vector<StandOption>{}, 52.3, 4.76, 0.0, 30.0, 3, false, false, false);
    lf_saveLearnedApf();
    EXPECT_EQ(readFile(learnedPath()), before);
    EXPECT_TRUE(logHas("refused: the stand table was not loaded by a good read"));
}

// A publisher name reaches a folder name: on the platform this program is for, a drive colon
// or a device name would lead outside the learned folder.
TEST_F(LearnedLossTest, PublisherNamesStayOneFolderBelowTheLearnedFolder)
{
    for (const char* publisher : {"C:", "C:Windows", "Pub:stream", "CON", "con.txt", "Com7", "LPT1.xml", "NUL",
                                  "Pub.", "Pu*b", "Pub\x01", "a\"b"}) {
        EXPECT_TRUE(lf_learnedPathOf("airports/my_thirdparty/EGLL.xml", publisher).empty()) << publisher;
        const std::string archived = std::string("archive/thirdparty/") + publisher + "/EGLL.xml";
        EXPECT_TRUE(lf_learnedPathOf(archived, "").empty()) << publisher;
    }
    EXPECT_FALSE(lf_learnedPathOf("airports/my_thirdparty/EGLL.xml", "Console Airports").empty());
    EXPECT_FALSE(lf_learnedPathOf("airports/my_thirdparty/EGLL.xml", "COM10").empty());
}

TEST_F(LearnedLossTest, FloatSettingOutOfItsChoicesDoesNotBreakAirportFiles)
{
    writeFile(m_dir / "parameters.xml",
              R"(<root><parameters><parameter name="MAX_FIT_FL" value="3e38"/></parameters></root>)");
    ASSERT_TRUE(gf_loadParameters(m_dir / "parameters.xml"));
    const std::string name = putAirport();
    EXPECT_EQ(gf_readApf(name, g_parkApfInfo), "");
    EXPECT_EQ(g_parkLoaded.load(), 1);
    // A learned file that asks for a percentage that the list does not offer gets the default.
    // A number that does not read whole is refused, not read from its leading digits.
    MAX_FIT.set(11);
    writeFile(learnedPath(),
              apfXml(param("parking_percentage", "-5") + param("MAX_FIT", "3e38") + param("RANGE", "40km"), "", kMeta));
    EXPECT_EQ(gf_readApf(name, g_parkApfInfo), "");
    EXPECT_EQ(parking_percentage.value(), 30);
    EXPECT_TRUE(logHas("parking_percentage: -5 is not one of its choices, 30 used"));
    EXPECT_EQ(MAX_FIT.value(), 11);
    EXPECT_TRUE(logHas("==> learned file: MAX_FIT: '3e38' is not a whole number, not taken"));
    EXPECT_TRUE(logHas("==> learned file: RANGE: '40km' is not a whole number, not taken"));
}

} // namespace
} // namespace qmt::test
