#include "FaultyDisk.h"
#include "parking/ParkingTest.h"
#include "core/WindowState.h"

#include "core/Parameters.h"
#include "stands/ApfLookup.h"
#include "stands/Quality.h"

#include <pugixml.hpp>

#include <array>

namespace qmt::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class AirportFileTest : public ParkingTest {};

Stand makeStand(const std::string& NAME, double LAT, double LON, double RADIUS_M = 25.0)
{
    return Stand(NAME, {}, LAT, LON, 270.0 * kDegToRad, RADIUS_M, 3, false, false, false);
}

StandOption makeOption(const std::string& REG, uint32_t DAY, const std::string& HH, uint32_t ID = 1)
{
    StandOption o;
    o.kind.airlineId = gf_airlineId("KLM");
    o.kind.modelId = gf_modelId("B738");
    o.registration = REG;
    o.callsign = "KLM1234";
    o.day = DAY;
    o.hours = gf_hours2bitset(HH);
    o.optionId = ID;
    o.real = 1;
    return o;
}

TEST_F(AirportFileTest, GeneratedFileHasFullStandsAndNoLearnedParts)
{
    AirportFile f;
    f.code = IcaoCode("EHAM");
    f.airportName = "Schiphol";
    f.publisher = "simaddon";
    f.altitudeFt = -11;
    f.stands.push_back(makeStand("D7", 52.310512, 4.762011));
    f.stands.back().options.push_back(makeOption("PH-BXA", 1, "10:12"));
    f.stands.push_back(Stand("H1", {}, 52.3, 4.76, 0.0, 12.0, 0, false, false, true));
    // The scan threads write generated files while the worker may hold a handmade flag.
    g_handmade = 1;
    const auto path = m_dir / "airports" / "my_simaddon" / "EHAM.xml";
    ASSERT_TRUE(gf_writeApf(f, path, ApfWriteMode::generated, 2));
    const std::string text = readFile(path);
    EXPECT_THAT(text, HasSubstr(R"(<parkpos id="D7" latitude="52.310512" longitude="4.762011" heading="270.0" radius="25.0" type="3" />)"));
    EXPECT_THAT(text, HasSubstr(R"(<parkpos id="H1" latitude="52.300000" longitude="4.760000" heading="0.0" radius="12.0" heli="true" />)"));
    EXPECT_THAT(text, HasSubstr(R"(<parameter name="num_parkpos" value="2" />)"));
    EXPECT_THAT(text, HasSubstr(R"(<parameter name="altitude" value="-11" />)"));
    EXPECT_THAT(text, Not(HasSubstr("<opt")));
    EXPECT_THAT(text, Not(HasSubstr("handmade")));
    EXPECT_THAT(text, Not(HasSubstr("Qf_real")));
    EXPECT_THAT(text, Not(HasSubstr("RANGE")));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "airports" / "my_simaddon" / "EHAM0.xml"));
}

TEST_F(AirportFileTest, LearnedFileWritesSettingsAndOptionHours)
{
    MAX_FIT_FL.set(2.5f);
    AirportFile f;
    f.publisher = "stock";
    Stand s = makeStand("E3", 52.309, 4.7665);
    s.options.push_back(makeOption("PH-BXA", 2, "10:13", 1));
    s.options.push_back(makeOption("PH-BXB", 2, "7", 2));
    s.options.push_back(makeOption("PH-BXC", 3, "10,11,13", 3));  // not one run
    s.options.push_back(makeOption("", 4, "20:22", 4));           // known by airline and model only
    s.options.push_back(makeOption("PH-BXD", 5, "", 5));          // nothing to write
    s.options.push_back(makeOption("PH-BXE", 6, "1:2", 0));       // switched off by the caller
    s.manual = 1;
    f.stands.push_back(std::move(s));
    const auto path = m_dir / "out.xml";
    ASSERT_TRUE(gf_writeApf(f, path, ApfWriteMode::learned, 1));
    const std::string text = readFile(path);
    for (const char* name : {"RANGE", "AUTO_RANGE", "WEEK", "PARK_SOFT", "parking_percentage", "INITIAL_LOAD_ONLY",
                             "MAX_FIT", "RT_PARKTRAFFIC_ONLY", "MAX_LIVE_SEL"}) {
        EXPECT_THAT(text, HasSubstr(std::string("name=\"") + name + "\"")) << name;
    }
    EXPECT_THAT(text, HasSubstr(R"(<parameter name="MAX_FIT" value="4" />)"));
    EXPECT_THAT(text, HasSubstr(R"(reg="PH-BXA" airl="KLM" type="B738" day="2" hh="10:13" cs="KLM1234")"));
    EXPECT_THAT(text, HasSubstr(R"(day="2" hh="7")"));
    EXPECT_THAT(text, HasSubstr(R"(reg="PH-BXC" airl="KLM" type="B738" day="3" hh="10:11,13")"));
    EXPECT_THAT(text, HasSubstr(R"(<opt airl="KLM" type="B738" day="4" hh="20:22")"));
    EXPECT_THAT(text, Not(HasSubstr("PH-BXD")));
    EXPECT_THAT(text, Not(HasSubstr("PH-BXE")));
    EXPECT_TRUE(logHas("bit set problem: PH-BXD KLM1234"));

    // What is written reads back as it was.
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(path.c_str()));
    std::vector<Stand> back;
    lf_readStands(doc, back);
    ASSERT_EQ(back.size(), 1u);
    ASSERT_EQ(back[0].options.size(), 4u);
    EXPECT_EQ(back[0].options[2].hours, gf_hours2bitset("10,11,13"));
    EXPECT_EQ(back[0].options[3].kind.airlineId, gf_airlineId("KLM"));
    EXPECT_TRUE(back[0].options[3].registration.empty());
}

TEST_F(AirportFileTest, MaxFitIsDerivedFromHours)
{
    for (const auto& [hours, written] : {std::pair{24.0f, "47"}, std::pair{0.5f, "0"}}) {
        MAX_FIT_FL.set(hours);
        AirportFile f;
        ASSERT_TRUE(gf_writeApf(f, m_dir / "fit.xml", ApfWriteMode::learned, 1));
        EXPECT_THAT(readFile(m_dir / "fit.xml"),
                    HasSubstr(std::string(R"(<parameter name="MAX_FIT" value=")") + written + "\""));
    }
}

TEST_F(AirportFileTest, StandReaderKeepsGoodStandsAndDropsBadOnes)
{
    const std::string xml = apfXml(param("altitude", "-11"),
                                   R"(<parkpos id=" A1 " latitude="0" longitude="0" radius="20" type="3"/>)"
                                   R"(<parkpos id="A2" latitude="0" longitude="5" radius="20" type="3" cargo="true"/>)"
                                   R"(<parkpos id="A3" latitude="nan" longitude="5" radius="20"/>)"
                                   R"(<parkpos id="A4" latitude="52" longitude="5" radius="20" type="70000"/>)"
                                   R"(<parkpos id="A5" latitude="52" longitude="5" radius="20" type="-1"/>)"
                                   R"(<parkpos id="A6" latitude="52" longitude="5" radius="inf"/>)"
                                   R"(<parkpos id="A8" latitude="52.3abc" longitude="5" radius="20"/>)"
                                   R"(<parkpos id="A9" latitude="52" longitude="5" radius="20" type="3x"/>)"
                                   R"(<parkpos id="A7" latitude="52.1" longitude="5.1" radius="30" cargo="true" ramp="true">)"
                                   R"(<opt reg="X1" day="0" hh="1"/><opt reg="X2" day="8" hh="1"/><opt reg="X3" day="1"/>)"
                                   R"(<opt reg="X4" day="1" hh="10:99"/><opt reg="X5" day="1" hh="abc"/>)"
                                   R"(<opt reg="X6" day="2" hh="3:5" soft="true" cpl="true" cs="KLM12:KLM34"/>)"
                                   R"(<opt reg="X7" day="7" hh="47"/><opt reg="X8" day="2x" hh="4"/></parkpos>)");
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(xml.c_str()));
    std::vector<Stand> stands;
    lf_readStands(doc, stands);
    ASSERT_EQ(stands.size(), 2u);
    EXPECT_EQ(stands[0].name, "A2");
    EXPECT_EQ(stands[0].cargo, 0) << "cargo is read only for type 0";
    const Stand& a7 = stands[1];
    EXPECT_EQ(a7.cargo, 1);
    EXPECT_EQ(a7.ramp, 1);
    ASSERT_EQ(a7.options.size(), 2u);
    EXPECT_EQ(a7.options[0].registration, "X6");
    EXPECT_EQ(a7.options[0].optionId, 1u);
    EXPECT_EQ(a7.options[0].real, 0u);
    EXPECT_EQ(a7.options[0].cpl, 1);
    EXPECT_EQ(a7.options[0].source, 1u);
    EXPECT_EQ(a7.options[0].callsign, "KLM12");
    EXPECT_EQ(a7.options[0].furtherName, "KLM34");
    EXPECT_EQ(a7.options[1].optionId, 2u);
    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr("stand A1 has no valid lat/lon"));
    EXPECT_THAT(log, HasSubstr("stand A3: latitude: 'nan' is out of range, skipped"));
    EXPECT_THAT(log, HasSubstr("stand A8: latitude: '52.3abc' is not a number, skipped"));
    EXPECT_THAT(log, HasSubstr("stand A9: type: '3x' is not a whole number, skipped"));
    EXPECT_THAT(log, HasSubstr("stand A7: option with invalid day '2x' dropped"));
    EXPECT_THAT(log, HasSubstr("stand A4 has a type out of range"));
    EXPECT_THAT(log, HasSubstr("stand A5 has a type out of range"));
    EXPECT_THAT(log, HasSubstr("stand A6: radius: 'inf' is out of range, skipped"));
    EXPECT_THAT(log, HasSubstr("option with invalid hh '10:99' dropped"));
    EXPECT_THAT(log, HasSubstr("option with invalid hh 'abc' dropped"));
}

TEST_F(AirportFileTest, UserErrorsBecomeTheReturnedText)
{
    struct Case {
        std::string positions;
        std::string parameters;
        std::string error;
    };
    std::string tooMany;
    for (size_t i = 0; i <= kMaxAirportStands; ++i) {
        tooMany += fmt::format(R"(<parkpos id="S{}" latitude="52" longitude="4"/>)", i);
    }
    const Case cases[] = {
        {R"(<parkpos id="A1" latitude="52" longitude="4"/><parkpos id=" A1	" latitude="52" longitude="4"/>)",
         param("altitude", "0"), "94: Stand 'A1' appears more than once."},
        {R"(<parkpos latitude="52" longitude="4"/>)", param("altitude", "0"),
         "93: Parking position #1 has no 'id' attribute."},
        {R"(<parkpos id="A1" latitude="52" longitude="4"/><parkpos id="  " latitude="52" longitude="4"/>)",
         param("altitude", "0"), "93: Stand #2 has empty 'id' attribute."},
        {R"(<parkpos id="A1" latitude="52" longitude="4"/>)", "", "65: Parameter altitude not found"},
        // Numbers are read whole, not from their leading digits.
        {R"(<parkpos id="A1" latitude="52" longitude="4"/>)", param("altitude", "1e4"),
         "65: Parameter altitude: '1e4' is not a whole number"},
        {R"(<parkpos id="A1" latitude="52" longitude="4"/>)", param("altitude", "3e38"),
         "65: Parameter altitude: '3e38' is not a whole number"},
        {R"(<parkpos id="A1" latitude="52" longitude="4"/>)", param("altitude", "-11abc"),
         "65: Parameter altitude: '-11abc' is not a whole number"},
        {R"(<parkpos id="A1" latitude="52" longitude="4"/>)", param("altitude", "99999999999"),
         "65: Parameter altitude: '99999999999' is out of range"},
        {tooMany, param("altitude", "0"), "93: The file lists more than 10000 stands."},
    };
    for (const Case& c : cases) {
        const std::string name = putLocal("airports/my_simaddon/EHAM.xml", apfXml(c.parameters, c.positions));
        std::string error;
        EXPECT_NO_THROW(error = gf_readApf(name, g_parkApfInfo));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(g_parkLoaded.load(), 0);
    }
}

TEST_F(AirportFileTest, ReadNumbersStandsAndFindsEachOverlapOnce)
{
    // A1 and A2 are 30 m apart with radii of 20 m; A3 is far away.
    const std::string name = putLocal(
        "airports/EHAM.xml",
        apfXml(param("airport_name", "Schiphol") + param("publisher", "stock") + param("altitude", "-11") +
                   param("RT_traffic_week", "3"),
               R"(<parkpos id="A1" latitude="52.300000" longitude="4.760000" radius="20" type="3"/>)"
               R"(<parkpos id="A2" latitude="52.300270" longitude="4.760000" radius="20" type="3"/>)"
               R"(<parkpos id="A3" latitude="52.310000" longitude="4.760000" radius="20" type="3"/>)"));
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    ASSERT_EQ(g_stands.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(g_stands[i].standId, i + 1);
    }
    EXPECT_EQ(g_stands[0].adjacent, std::vector<uint32_t>{2});
    EXPECT_EQ(g_stands[1].adjacent, std::vector<uint32_t>{1});
    EXPECT_TRUE(g_stands[2].adjacent.empty());
    EXPECT_EQ(g_parkApfInfo.airportName, "Schiphol");
    EXPECT_EQ(g_parkApfInfo.altitudeFt, -11);
    EXPECT_EQ(g_rtTrafficWeek, 3);
    EXPECT_EQ(g_parkLoaded.load(), 1);
    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr("learned does not exist"));
    EXPECT_THAT(log, HasSubstr("Airport file read from 'airports/EHAM.xml' for Schiphol"));
    EXPECT_THAT(log, HasSubstr("          num_parkpos             : 3"));
    EXPECT_EQ(gf_windowValues().standCount, 3);
}

TEST_F(AirportFileTest, EachReadStartsWithUnknownQualityAndUnloaded)
{
    const std::string withQf = putLocal(
        "airports/A.xml", apfXml(param("altitude", "0") + param("Qf_real", "0") + param("Qf_soft", "20"),
                                 R"(<parkpos id="A1" latitude="52.3" longitude="4.76" radius="20"/>)"));
    ASSERT_EQ(gf_readApf(withQf, g_parkApfInfo), "");
    EXPECT_EQ(gf_qualitySoft(g_qualityFactors), 20);
    EXPECT_TRUE(PARK_SOFT.value());
    EXPECT_TRUE(WEEK.value());
    EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 24.0f);
    EXPECT_EQ(parking_percentage.value(), 30);

    // A file without factors and without stands: nothing of the previous file stays.
    const std::string empty = putLocal("airports/B.xml", apfXml(param("altitude", "0"), ""));
    EXPECT_EQ(gf_readApf(empty, g_parkApfInfo), "no stands found");
    EXPECT_EQ(gf_qualityReal(g_qualityFactors), -1);
    EXPECT_EQ(gf_qualitySoft(g_qualityFactors), -1);
    EXPECT_EQ(g_parkLoaded.load(), 0) << "an empty read must not lead to a save over the learned file";
}

TEST_F(AirportFileTest, PercentageFollowsTheAirportsStandCount)
{
    auto airports = g_airports;
    airports[0].stands = 2;
    gf_setAirports(airports);
    const std::string name =
        putLocal("airports/A.xml", apfXml(param("altitude", "0") + param("Qf_real", "60") + param("Qf_soft", "0"),
                                          R"(<parkpos id="A1" latitude="52.3" longitude="4.76" radius="20"/>)"));
    PARK_SOFT.set(true);
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    EXPECT_EQ(parking_percentage.value(), 50);
    EXPECT_FALSE(PARK_SOFT.value());
    EXPECT_TRUE(logHas("parking_percentage      : 50%"));
    EXPECT_EQ(gf_qualityFactorText(), "60");
}

TEST_F(AirportFileTest, NothingIsReadWithoutNameOrParkAirport)
{
    EXPECT_EQ(gf_readApf("", g_parkApfInfo), "gf_readApf: xml is empty");
    g_parkAirport = AirportEntry{};
    EXPECT_EQ(gf_readApf("airports/A.xml", g_parkApfInfo), "gf_readApf: no park airport set");
}

TEST_F(AirportFileTest, MissingLocalFileAndForeignMetaAreRefused)
{
    EXPECT_THAT(gf_readApf("airports/none.xml", g_parkApfInfo), HasSubstr("airports/none.xml: could not load file"));
    const std::string name = putLocal(
        "airports/A.xml",
        apfXml(param("altitude", "0"), R"(<parkpos id="A1" latitude="52.3" longitude="4.76"/>)",
               R"(<meta><info name="author" value="Someone"/><info name="version" value="1.0.0"/></meta>)"));
    EXPECT_EQ(gf_readApf(name, g_parkApfInfo), "airports/A.xml: refused to load");
}

TEST_F(AirportFileTest, FailedSaveLeavesThePreviousFile)
{
    const auto path = m_dir / "airports" / "learned" / "stock" / "EHAM.xml";
    AirportFile first;
    first.airportName = "first";
    ASSERT_TRUE(gf_writeApf(first, path, ApfWriteMode::learned, 1));
    const std::string before = readFile(path);

    AirportFile second;
    second.airportName = "second";
    {
        const FaultyDisk full(0, FaultyDisk::Fault::full);  // the disk fills up halfway
        EXPECT_FALSE(gf_writeApf(second, path, ApfWriteMode::learned, 1));
    }
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));

    ASSERT_TRUE(gf_writeApf(second, path, ApfWriteMode::learned, 1));
    ASSERT_TRUE(gf_writeApf(second, path, ApfWriteMode::learned, 1));
    ASSERT_TRUE(gf_writeApf(second, path, ApfWriteMode::learned, 1));
    ASSERT_TRUE(gf_writeApf(second, path, ApfWriteMode::learned, 1));
    // Three older generations are kept; the oldest is the first file's third successor.
    EXPECT_THAT(readFile(path), HasSubstr("second"));
    EXPECT_THAT(readFile(m_dir / "airports" / "learned" / "stock" / "EHAM0.xml"), HasSubstr("second"));
    EXPECT_TRUE(std::filesystem::exists(m_dir / "airports" / "learned" / "stock" / "EHAM000.xml"));
}

TEST_F(AirportFileTest, AdjacencyIsSymmetricAndSorted)
{
    std::vector<Stand> stands;
    // Five stands in a row 15 m apart with 10 m radii: each overlaps its neighbours only.
    for (int i = 0; i < 5; ++i) {
        stands.push_back(makeStand("S" + std::to_string(i), 52.3 + i * 15.0 / 1852.0 / 60.0, 4.76, 10.0));
    }
    gf_numberStandsAndAdjacency(stands);
    EXPECT_EQ(stands[0].adjacent, (std::vector<uint32_t>{2}));
    EXPECT_EQ(stands[2].adjacent, (std::vector<uint32_t>{2, 4}));
    EXPECT_EQ(stands[4].adjacent, (std::vector<uint32_t>{4}));
    EXPECT_EQ(stands[2].adjacent.capacity(), 2u);
}

// Random aprons at a mid latitude, far north, and across the date line, each checked against
// the plain comparison of every pair.
class AdjacencySweepTest : public AirportFileTest, public ::testing::WithParamInterface<std::array<double, 3>> {};

TEST_P(AdjacencySweepTest, FindsEveryOverlappingPair)
{
    const auto [lat, lon, lonSpan] = GetParam();
    std::vector<Stand> stands;
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<double>((seed >> 8) % 10000) / 10000.0;
    };
    for (int i = 0; i < 300; ++i) {
        double standLon = lon + next() * lonSpan;
        if (standLon > 180.0) {
            standLon -= 360.0;
        }
        stands.push_back(makeStand("S" + std::to_string(i), lat + next() * 0.01, standLon, 5.0 + next() * 60.0));
    }
    gf_numberStandsAndAdjacency(stands);
    size_t pairs = 0;
    for (size_t a = 0; a < stands.size(); ++a) {
        std::vector<uint32_t> expected;
        for (size_t b = 0; b < stands.size(); ++b) {
            const double d = gf_distanceNm(stands[a].latitude, stands[a].longitude, stands[b].latitude,
                                           stands[b].longitude);
            if (a != b && 1.1 * d < stands[a].radius + stands[b].radius) {
                expected.push_back(static_cast<uint32_t>(b + 1));
            }
        }
        EXPECT_EQ(stands[a].adjacent, expected) << a;
        pairs += expected.size();
    }
    EXPECT_GT(pairs, 100u);
}
INSTANTIATE_TEST_SUITE_P(Aprons, AdjacencySweepTest,
                         ::testing::Values(std::array<double, 3>{52.30, 4.76, 0.015},
                                           std::array<double, 3>{78.24, 15.49, 0.05},
                                           std::array<double, 3>{-43.49, 179.99, 0.02}));

TEST_F(AirportFileTest, SampleSchipholFileReadsClean)
{
    // The run copies the sample airports folder into its working folder, where the lookup
    // finds it as a generated simulator-maker file, without the archive.
    const auto sample = std::filesystem::path(QUILLON_SOURCE_DIR) / "data" / "airports";
    putLocal("airports/my_simaddon/EHAM.xml", readFile(sample / "my_simaddon" / "EHAM.xml"));
    const std::string name = lf_resolveApf("EHAM");
    EXPECT_EQ(name, "airports/my_simaddon/EHAM.xml");
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    EXPECT_EQ(g_stands.size(), 50u);
    EXPECT_EQ(g_parkApfInfo.airportName, "Amsterdam Airport Schiphol");
    EXPECT_THAT(logText(), Not(HasSubstr("==> ")));
    const Stand* heli = standNamed("HP1");
    ASSERT_NE(heli, nullptr);
    EXPECT_EQ(heli->heli, 1);
    size_t options = 0;
    for (const Stand& s : g_stands) {
        options += s.options.size();
    }
    EXPECT_GT(options, 100u);
}

} // namespace
} // namespace qmt::test
