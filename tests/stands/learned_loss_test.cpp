#include "parking/ParkingTest.h"

#include "FaultyDisk.h"
#include "core/Files.h"
#include "core/Parameters.h"

#include <fmt/format.h>
#include <pugixml.hpp>

#include <random>

namespace qmt::test {
namespace {

class LearnedLossTest : public ParkingTest {
protected:
    std::filesystem::path learnedPath() const { return m_dir / "airports" / "learned" / "simaddon" / "EHAM.xml"; }

    // The generated airport file of EHAM, which the park airport's lookup finds first.
    std::string putAirport()
    {
        return putLocal("airports/my_simaddon/EHAM.xml",
                        apfXml(param("publisher", "simaddon") + param("altitude", "-11"),
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
// visits learned.
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
            });
        EXPECT_EQ(steps, 6);
        EXPECT_EQ(readBack(name), after);
    }
    EXPECT_TRUE(logHas("saving '" + learnedPath().string() + "' did not succeed"));
}

// Learned files that cannot be read at all: each is moved aside under a dated name, the window
// says so, and what is learned goes into a new file, visit after visit; the generations of the
// last good file are left as they were.
TEST_F(LearnedLossTest, AFileThatCannotBeReadIsSetAsideAndLearningGoesOn)
{
    const std::string manual =
        R"(<parkpos id="M1" manual="true" latitude="52.301" longitude="4.761" radius="25" type="3"/>)";
    std::string tooMany;
    for (size_t i = 0; i <= kMaxAirportStands; ++i) {
        tooMany += "<parkpos id=\"X" + std::to_string(i) + "\"/>";
    }
    const struct {
        const char* what;
        std::string bytes;
        const char* logged;
    } cases[] = {
        {"XML error", "<root><parkpositions><parkpos id=\"D2\"></root>", "Start-end tags mismatch at line 1"},
        {"empty", "", "No document element found at line 1"},
        {"BOM alone", "\xEF\xBB\xBF", "No document element found"},
        {"no meta block", apfXml("", manual, ""), "refused: no meta block"},
        {"foreign author",
         apfXml("", manual, R"(<meta><info name="author" value="Somebody"/><info name="version" value="12.0.0"/></meta>)"),
         "refused: unknown author"},
        {"unreadable version",
         apfXml("", manual, R"(<meta><info name="author" value="Quillon"/><info name="version" value="twelve"/></meta>)"),
         "refused: unreadable version"},
        {"too many stands", apfXml("", tooMany, kMeta), "93: The file lists more than 10000 stands."},
        {"handmade, a stand twice",
         apfXml(param("handmade", "true"),
                R"(<parkpos id="H7" latitude="52.301" longitude="4.761" radius="25.0"/>)"
                R"(<parkpos id="H7" latitude="52.302" longitude="4.761" radius="25.0"/>)",
                kMeta),
         "94: Stand 'H7' appears more than once."},
    };
    const auto folder = learnedPath().parent_path();
    gf_setClockForTests(SysClock::from_time_t(1767608100));  // 2026-01-05 10:15:00 UTC
    for (const auto& c : cases) {
        std::filesystem::remove_all(folder);
        writeFile(learnedPath(), c.bytes);
        writeFile(folder / "EHAM0.xml", "the last good generation");
        putAirport();
        ASSERT_TRUE(lf_setParkAirport(IcaoCode("EHAM"))) << c.what;
        ASSERT_EQ(lf_readParkedFile(), "") << c.what;
        const auto kept = folder / "EHAM.broken-20260105-101500.xml";
        EXPECT_EQ(gf_statusText(), "The learned file EHAM.xml could not be read: it is kept as "
                                   "EHAM.broken-20260105-101500.xml, learning goes on in a new file")
            << c.what;
        EXPECT_EQ(readFile(kept), c.bytes) << c.what;
        EXPECT_TRUE(logHas(learnedPath().string() + " could not be read (")) << c.what;
        EXPECT_TRUE(logHas(c.logged)) << c.what;
        ASSERT_EQ(g_stands.size(), 1u) << c.what << ": the airport file's stand, nothing of the refused file";

        // Two visits learn into the new file; the broken one is kept once and left alone.
        for (const char* reg : {"PH-NEW", "PH-TWO"}) {
            StandOption learned;
            learned.registration = reg;
            learned.day = 4;
            learned.hours = gf_hours2bitset("7:9");
            learned.real = 1;
            g_stands[0].options.push_back(learned);
            g_learnedUpdates = 1;
            lf_saveLearnedApf();
            EXPECT_THAT(readFile(learnedPath()), ::testing::HasSubstr(reg)) << c.what;
            ASSERT_EQ(lf_readParkedFile(), "") << c.what;
        }
        EXPECT_EQ(g_stands[0].options.size(), 2u) << c.what;
        EXPECT_EQ(readFile(kept), c.bytes) << c.what;
        EXPECT_EQ(readFile(folder / "EHAM00.xml"), "the last good generation") << c.what;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 4) << c.what;
    }
}

// A learned file that cannot be read now (here a folder stands in its place) is not moved and
// never saved over.
TEST_F(LearnedLossTest, AFileThatCannotBeOpenedIsNeverSavedOver)
{
    std::filesystem::create_directories(learnedPath() / "inside");
    putAirport();
    ASSERT_TRUE(lf_setParkAirport(IcaoCode("EHAM")));
    ASSERT_EQ(lf_readParkedFile(), "");
    EXPECT_EQ(gf_statusText(), "The learned file EHAM.xml could not be read: nothing is learned into it this visit");
    g_learnedUpdates = 1;
    lf_saveLearnedApf();
    EXPECT_TRUE(std::filesystem::is_directory(learnedPath() / "inside"));
    EXPECT_TRUE(logHas("the learned file could not be read and is kept"));
}

// One record of each kind that does not read, in a learned file that five visits read, learn in
// and save: every record is in the file after every save, as it was written, each is logged with
// its line, the window counts them, and what the file says and what was learned is read back.
TEST_F(LearnedLossTest, FiveVisitsKeepEveryRecordThatDoesNotRead)
{
    putLocal("airports/my_simaddon/EHAM.xml",
             apfXml(param("publisher", "simaddon") + param("altitude", "-11"),
                    R"(<parkpos id="A1" latitude="52.3" longitude="4.76" radius="30" type="3"/>)"
                    R"(<parkpos id="A2" latitude="52.31" longitude="4.76" radius="30" type="3"/>)"));
    // The records that do not read, each on its own line and as a save writes it.
    const struct {
        const char* record;
        const char* logged;
    } bad[] = {
        {R"(<opt reg="PH-HHH" airl="KLM" type="B738" day="3" hh="48" />)",
         "empty bit set: learned A1: option with invalid hh '48' (EHAM.xml line 3)"},
        {R"(<opt reg="PH-DDD" airl="KLM" type="B738" day="8" hh="10" />)",
         "learned A1: option with day 8 outside 1..7 (EHAM.xml line 4)"},
        {R"(<opt reg="PH-XXX" airl="KLM" type="B738" day="x" hh="10" />)",
         "learned A1: option with invalid day 'x' (EHAM.xml line 5)"},
        {R"(<opt reg="PH-NNN" airl="KLM" type="B738" day="5" />)",
         "empty bit set: learned A1: option without hh (EHAM.xml line 6)"},
        {R"(<parkpos id="A2" radius_change="true" radius="4./65432" />)",
         "learned A2: invalid radius '4./65432' ignored (EHAM.xml line 8)"},
        {R"(<parkpos id="M1" manual="true" latitude="4./65432" longitude="4.761" radius="25" type="3" />)",
         "stand M1: latitude: '4./65432' is not a number (EHAM.xml line 9)"},
        {R"(<parkpos id="M2" manual="true" latitude="52.302" longitude="4./65432" radius="25" type="3" />)",
         "stand M2: longitude: '4./65432' is not a number (EHAM.xml line 10)"},
        {R"(<parkpos id="M3" manual="true" latitude="52.303" longitude="4.761" radius="2O" type="3" />)",
         "manually created standid M3 misses correct attributes in"},
        {R"(<parkpos id="M4" manual="true" latitude="52.304" longitude="4.761" radius="25" heading="north" type="3" />)",
         "stand M4: heading: 'north' is not a number (EHAM.xml line 12)"},
        {R"(<parkpos id="A1" manual="true" latitude="52.305" longitude="4.761" radius="25" type="3" />)",
         "manually created standid A1 already exists in"},
        {R"(<opt reg="PH-MMM" airl="KLM" type="B738" day="0" hh="3" />)",
         "stand M5: option with day 0 outside 1..7 (EHAM.xml line 15)"},
        {R"(<opt day="2" hh="5" cs="KLM5" />)", "stand M5: option without reg, airl or type (EHAM.xml line 15)"},
    };
    const std::string learned =
        std::string("<?xml version=\"1.0\"?>\n<root>") + kMeta + "<parameters/><parkpositions><parkpos id=\"A1\">\n" +
        bad[0].record + "\n" + bad[1].record + "\n" + bad[2].record + "\n" + bad[3].record + "\n" +
        R"(<opt reg="PH-BBB" airl="KLM" type="B738" day="2" hh="20:21"/><opt reg="PH-BBB" airl="KLM" type="B738" day="2" hh="21:23"/></parkpos>)" +
        "\n" + bad[4].record + "\n" + bad[5].record + "\n" + bad[6].record + "\n" + bad[7].record + "\n" +
        bad[8].record + "\n" + bad[9].record + "\n" +
        R"(<parkpos id="M5" manual="true" latitude="52.306" longitude="4.761" radius="25" type="3">)" + "\n" +
        bad[10].record + bad[11].record + R"(<opt reg="PH-GGG" airl="KLM" type="B738" day="1" hh="4"/></parkpos>)" + "\n" +
        R"(<parkpos id="GONE"><opt reg="PH-ZZZ" airl="KLM" type="B738" day="2" hh="20"/></parkpos>)" +
        "</parkpositions></root>\n";
    writeFile(learnedPath(), learned);

    const char* visits[] = {"PH-VA", "PH-VB", "PH-VC", "PH-VD", "PH-VE"};
    for (int visit = 0; visit < 5; ++visit) {
        ASSERT_TRUE(lf_setParkAirport(IcaoCode("EHAM")));
        ASSERT_EQ(lf_readParkedFile(), "") << visit;
        EXPECT_EQ(gf_statusText(), "12 records of the learned file EHAM.xml could not be read: kept in the file as "
                                   "written, see Log.txt")
            << visit;
        ASSERT_NE(standNamed("M5"), nullptr);
        EXPECT_EQ(standNamed("M5")->options.size(), 1u) << "the good option of a stand made by hand";
        ASSERT_NE(standNamed("A1"), nullptr);
        EXPECT_EQ(standNamed("A1")->options.at(0).hours, gf_hours2bitset("20:23")) << "one stay, saved once";
        EXPECT_EQ(standNamed("A1")->options.size(), 1u + visit) << "one option learned per visit";
        StandOption stay;
        stay.registration = visits[visit];
        stay.day = 6;
        stay.hours = gf_hours2bitset("30:31");
        stay.real = 1;
        stay.optionId = static_cast<uint32_t>(standNamed("A1")->options.size() + 1);
        g_stands[0].options.push_back(stay);
        g_learnedUpdates = 1;
        lf_saveLearnedApf();

        const std::string saved = readFile(learnedPath());
        for (const auto& b : bad) {
            EXPECT_THAT(saved, ::testing::HasSubstr(b.record)) << "visit " << visit;
        }
        for (int v = 0; v <= visit; ++v) {
            EXPECT_THAT(saved, ::testing::HasSubstr(visits[v])) << "visit " << visit;
        }
        EXPECT_THAT(saved, ::testing::HasSubstr(R"(<parkpos id="GONE">)"));
        gf_clearStands();
    }
    // Each record was logged once per read, with its line in the file as the user wrote it.
    const std::string log = logText();
    for (const auto& b : bad) {
        EXPECT_NE(log.find(b.logged), std::string::npos) << b.logged;
    }
}

// The save merges the options of one stay that share a half-hour in one pass; checked against the
// plain merge (join the first option with every later one it meets, and look again) on seeded
// draws of overlapping stays, through a save and the read of the file.
TEST_F(LearnedLossTest, SavedStaysAreThoseOfThePlainMerge)
{
    const auto sameStay = [](const StandOption& A, const StandOption& B) {
        return A.day == B.day && A.real == B.real && A.registration == B.registration && (A.hours & B.hours).any();
    };
    const auto plainMerge = [&](std::vector<StandOption> OPTIONS) {
        for (size_t i = 0; i < OPTIONS.size(); ++i) {
            for (size_t j = i + 1; j < OPTIONS.size();) {
                if (!sameStay(OPTIONS[i], OPTIONS[j])) {
                    ++j;
                    continue;
                }
                OPTIONS[i].hours |= OPTIONS[j].hours;
                OPTIONS.erase(OPTIONS.begin() + static_cast<std::ptrdiff_t>(j));
                j = i + 1;
            }
        }
        return OPTIONS;
    };
    const auto text = [](const std::vector<StandOption>& OPTIONS) {
        std::vector<std::string> lines;
        for (const StandOption& o : OPTIONS) {
            lines.push_back(fmt::format("{} {} {} {}", o.registration, o.day, o.real, o.hours.to_string()));
        }
        return lines;
    };
    const std::string name = putAirport();
    std::mt19937 draw(34);
    for (int round = 0; round < 20; ++round) {
        std::filesystem::remove_all(learnedPath().parent_path());
        gf_clearStands();
        ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
        std::vector<StandOption>& options = g_stands[0].options;
        for (int o = 0; o < 60; ++o) {
            StandOption opt;
            opt.registration = fmt::format("PH-R{}", draw() % 3);
            opt.day = 1 + draw() % 2;
            opt.real = draw() % 2;
            const size_t first = draw() % 40;
            for (size_t h = first; h <= first + draw() % 4; ++h) {
                opt.hours.set(h);
            }
            opt.optionId = static_cast<uint32_t>(options.size() + 1);
            options.push_back(opt);
        }
        const std::vector<std::string> expected = text(plainMerge(options));
        lf_saveLearnedApf();
        gf_clearStands();
        ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
        EXPECT_EQ(text(g_stands[0].options), expected) << "round " << round;
    }
}

TEST_F(LearnedLossTest, SaveRefusesATableThatNoGoodReadLoaded)
{
    const std::string name = putAirport();
    writeFile(learnedPath(), apfXml("", R"(<parkpos id="A1" radius_change="true" radius="40"/>)", kMeta));
    const std::string before = readFile(learnedPath());

    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    ASSERT_EQ(g_stands.size(), 1u);
    // A read that fails halfway (a repeated stand) leaves nothing to save.
    putLocal(name, apfXml(param("publisher", "simaddon") + param("altitude", "-11"),
                          R"(<parkpos id="A1" latitude="52.3" longitude="4.76" radius="30"/>)"
                          R"(<parkpos id="A1" latitude="52.31" longitude="4.76" radius="30"/>)"));
    EXPECT_NE(gf_readApf(name, g_parkApfInfo), "");
    EXPECT_EQ(g_parkLoaded.load(), 0);
    EXPECT_TRUE(g_stands.empty()) << "a read that fails halfway leaves the stand table empty";
    lf_saveLearnedApf();
    EXPECT_EQ(readFile(learnedPath()), before);

    // Nor does a table filled by anything else than a read.
    g_parkApfInfo.apfName = name;
    g_parkApfInfo.publisher = "simaddon";
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
