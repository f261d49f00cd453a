#include <cmath>

#include <fmt/format.h>

#include "CoreTestSupport.h"
#include "core/AcKind.h"
#include "core/Airports.h"
#include "core/XmlMeta.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Random.h"
#include "core/RefData.h"

namespace qmt::test {
namespace {

class RefDataTest : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        gf_setInputFolder(builtInputFolder());
        ASSERT_TRUE(gf_readDataFiles());
    }
};

TEST_F(RefDataTest, ReadsDecryptedDataAndRemovesThePlainFiles)
{
    // The whole world, not a sample.
    EXPECT_GE(g_airports.size(), 4000u);
    EXPECT_GE(g_icaoAirlines.size(), 1000u);
    EXPECT_GE(g_validModels.size(), 250u);
    EXPECT_FALSE(g_dbaseRecords.empty());
    EXPECT_TRUE(std::is_sorted(g_dbaseRecords.begin(), g_dbaseRecords.end(),
                               [](const DbaseRecord& a, const DbaseRecord& b) { return a.key < b.key; }));
    EXPECT_FALSE(std::filesystem::exists(dir() / "dbase.xml"));
    EXPECT_FALSE(std::filesystem::exists(dir() / "airports.xml"));
    // The empty code is id 0 and the codes without airline are interned at load.
    EXPECT_EQ(gf_airlineId(""), 0);
    EXPECT_EQ(gf_modelId(""), 0);
    std::uint16_t id = 0;
    EXPECT_TRUE(g_airlineIds.find("ZZZ", id));
    EXPECT_TRUE(g_airlineIds.find("PVT", id));
    EXPECT_TRUE(g_airlineIds.find("KLM", id));
    EXPECT_TRUE(g_modelIds.find("B738", id));
    EXPECT_TRUE(gf_isIcaoAirline("KLM"));
    EXPECT_FALSE(gf_isIcaoAirline("klm"));
    EXPECT_TRUE(gf_isValidModel("A320"));
    EXPECT_FALSE(gf_isValidModel("A3200"));
    EXPECT_FALSE(g_similarGroups.empty());
    EXPECT_FALSE(g_publishers.empty());
    EXPECT_TRUE(g_simaddon20.contains("EHAM"));
    EXPECT_FALSE(g_thirdparties24.empty());
}

TEST_F(RefDataTest, MissingOrDamagedDataFileFails)
{
    const auto work = dir() / "in";
    std::filesystem::create_directories(work);
    gf_setInputFolder(work);
    EXPECT_FALSE(gf_readDataFiles());
    std::filesystem::copy_file(builtInputFolder() / "airports.enc", work / "airports.enc");
    std::filesystem::copy_file(builtInputFolder() / "dbase.enc", work / "dbase.enc");
    std::string bytes = readFile(work / "dbase.enc");
    bytes[bytes.size() / 2] ^= 0x01;
    writeFile(work / "dbase.enc", bytes);
    EXPECT_FALSE(gf_readDataFiles());
    EXPECT_FALSE(std::filesystem::exists(dir() / "dbase.xml"));
}

TEST_F(RefDataTest, RegistrationLookupThroughSpellingVariants)
{
    EXPECT_EQ(gf_regVariants("PHBXA"), (std::vector<std::string>{"PH-BXA", "P-HBXA", "PHBXA"}));
    EXPECT_EQ(gf_regVariants("N301DN"), (std::vector<std::string>{"N301DN"}));
    EXPECT_EQ(gf_regVariants("PH-BXA"), (std::vector<std::string>{"PH-BXA"}));
    EXPECT_EQ(gf_regVariants("GEZU"), (std::vector<std::string>{"GEZU"}));

    const auto klm = gf_findRegRecord("PHBXA");
    ASSERT_TRUE(klm.has_value());
    EXPECT_EQ(gf_airlineCode(klm->airlineId), "KLM");
    EXPECT_EQ(gf_modelCode(klm->modelId), "B738");
    EXPECT_NE(klm->marker, 0);
    // Found through the second spelling (one-letter prefix).
    const auto ba = gf_findRegRecord("GEUUA");
    ASSERT_TRUE(ba.has_value());
    EXPECT_EQ(gf_airlineCode(ba->airlineId), "BAW");
    // Operator and cargo survive the 64-bit value.
    const auto city = gf_findRegRecord("PH-EZA");
    ASSERT_TRUE(city.has_value());
    EXPECT_EQ(gf_airlineCode(city->operatorId), "KLC");
    const auto cargo = gf_findRegRecord("PH-MPS");
    ASSERT_TRUE(cargo.has_value());
    EXPECT_EQ(cargo->cargo, 1);
    EXPECT_EQ(gf_findRegRecord("N301DN")->modelId, gf_modelId("A321"));
    EXPECT_FALSE(gf_findRegRecord("").has_value());
    EXPECT_FALSE(gf_findRegRecord("PH-ZZZ").has_value());
}

TEST_F(RefDataTest, RecordInTextFindsShortKeysOnly)
{
    EXPECT_EQ(gf_findRecordInText("Cessna 172 N12AB private"), std::optional<std::string>("N12AB"));
    EXPECT_FALSE(gf_findRecordInText("KLM PH-BXA").has_value()); // 6 characters: not searched
    EXPECT_FALSE(gf_findRecordInText("").has_value());
}

TEST_F(RefDataTest, CategoriesAndHalfSpans)
{
    EXPECT_EQ(gf_modelCodeCategory("A320"), AcCategory::Large);
    EXPECT_EQ(gf_modelCodeCategory("B77W"), AcCategory::Heavy);
    EXPECT_EQ(gf_modelCodeCategory("C25A"), AcCategory::Buzjets);
    EXPECT_EQ(gf_modelCodeCategory("EC35"), AcCategory::Rotorcraft);
    EXPECT_EQ(gf_modelCodeCategory("F16"), AcCategory::HighPerf);
    EXPECT_EQ(gf_modelCodeCategory("C172"), AcCategory::Light);
    EXPECT_EQ(gf_modelCodeCategory("XXXX"), AcCategory::Light);
    EXPECT_EQ(gf_modelCategory(gf_modelId("B744")), AcCategory::Heavy);

    // 35.8 m span: 17.9 m half span in nm.
    EXPECT_NEAR(hwsp(gf_modelId("A320")), 17.9 * kNmPerMetre, 1e-9);
    EXPECT_NEAR(hwsp(gf_modelId("B77W")), 32.4 * kNmPerMetre, 1e-9);
}

TEST_F(RefDataTest, HalfSpanOutsideTableIsThirtyFiveMetresNotMiles)
{
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    const std::uint16_t unknown = gf_modelId("ZZ99"); // interned after the table was built
    const double h = hwsp(unknown);
    EXPECT_NEAR(h, 0.0189, 0.0001);
    EXPECT_LT(h, 0.1);
    EXPECT_NEAR(hwsp(60000), 0.0189, 0.0001);
    for (int i = 0; i < 100; ++i) hwsp(unknown); // a per-tick caller does not flood the log
    gf_closeLog();
    const std::string log = readFile(dir() / "Log.txt");
    EXPECT_NE(log.find("hwsp: "), std::string::npos);
    EXPECT_EQ(log.find("hwsp: "), log.rfind(fmt::format("hwsp: {} ", unknown)));
}

TEST_F(RefDataTest, ModelFixesApplyOnlyWhenSwitchedOn)
{
    EXPECT_EQ(lf_modelFix("B737800"), "B738");
    EXPECT_EQ(lf_modelFix("B738"), "");
    g_modelFixesOn = true;
    EXPECT_EQ(gf_modelId("B737800"), gf_modelId("B738"));
    g_modelFixesOn = false;
    EXPECT_NE(gf_modelId("A320N"), gf_modelId("A20N"));
}

TEST_F(RefDataTest, PrefixesAreShuffledThroughTheThreadEngine)
{
    EXPECT_TRUE(gf_prefixesOf("XX").empty());
    EXPECT_EQ(gf_prefixesOf("D"), (std::vector<std::string>{"D"}));
    gf_scriptRandomDraws({0});
    EXPECT_EQ(gf_prefixesOf("PH"), (std::vector<std::string>{"PJ", "PH"}));
    gf_scriptRandomDraws({1});
    EXPECT_EQ(gf_prefixesOf("PH"), (std::vector<std::string>{"PH", "PJ"}));
}

TEST_F(RefDataTest, AirportLookups)
{
    const auto eham = gf_airportByCode("eham");
    ASSERT_TRUE(eham.has_value());
    EXPECT_EQ(eham->iata.str(), "AMS");
    EXPECT_GT(eham->stands, 0u);
    EXPECT_TRUE(gf_airportByCode("EHAM and more").has_value());
    EXPECT_FALSE(gf_airportByCode("EHA").has_value());
    EXPECT_FALSE(gf_airportByCode("ZZZZ").has_value());
    EXPECT_FALSE(gf_airportByCode("E-AM").has_value());

    EXPECT_TRUE(gf_isKnownAirport("EGLL"));
    EXPECT_TRUE(gf_isKnownAirport(IcaoCode("KJFK")));
    EXPECT_FALSE(gf_isKnownAirport("XXXX"));
    EXPECT_FALSE(gf_isKnownAirport("EGL"));

    EXPECT_EQ(gf_airportCodeText("EHAM"), "EHAM (AMS)");
    EXPECT_EQ(gf_airportCodeText("EHHV"), "EHHV"); // no IATA code
    EXPECT_EQ(gf_airportCodeText("QQQQ"), "QQQQ");

    const auto inPath = gf_airportInPath("Community/polderworks-airport-eham-amsterdam/scenery");
    ASSERT_TRUE(inPath.has_value());
    EXPECT_EQ(inPath->icao.str(), "EHAM");
    EXPECT_FALSE(gf_airportInPath("Community/eham/scenery").has_value());
    EXPECT_FALSE(gf_airportInPath("").has_value());
}

TEST_F(RefDataTest, NearestAirportWithinFiveNm)
{
    const auto eham = *gf_airportByCode("EHAM");
    const LatLon at{eham.latitude, eham.longitude};
    EXPECT_EQ(gf_nearestAirport(at)->str(), "EHAM");
    const LatLon near = gf_destinationPoint(at, 0.0, 4.95 * kFeetPerNm); // due north: the latitude pre-filter edge
    EXPECT_EQ(gf_nearestAirport(near)->str(), "EHAM");
    const LatLon far = gf_destinationPoint(at, PI / 2, 5.5 * kFeetPerNm);
    EXPECT_FALSE(gf_nearestAirport(far).has_value());
    EXPECT_FALSE(gf_nearestAirport(LatLon{0.0, -30.0}).has_value());
}

// Reference positions and elevations from the airports' published data (the dataset's reference
// points lie up to a kilometre from the published ones).
TEST_F(RefDataTest, AirportsOfRealTrafficWorldwideAreKnownWhereTheyAre)
{
    struct Expected {
        const char* icao;
        double lat, lon;
        int elevationFt;
    };
    for (const Expected& e : {Expected{"KLAX", 33.9425, -118.4081, 128}, Expected{"KPTK", 42.6655, -83.4201, 980},
                              Expected{"KDTW", 42.2124, -83.3534, 645}, Expected{"EDDF", 50.0333, 8.5706, 364},
                              Expected{"OMDB", 25.2528, 55.3644, 62}, Expected{"YSSY", -33.9461, 151.1772, 21},
                              Expected{"SBGR", -23.4356, -46.4731, 2461}, Expected{"FAOR", -26.1392, 28.2460, 5558},
                              Expected{"ZBAA", 40.0801, 116.5847, 116}}) {
        const auto a = gf_airportByCode(e.icao);
        ASSERT_TRUE(a.has_value()) << e.icao;
        EXPECT_NEAR(a->latitude, e.lat, 0.02) << e.icao;
        EXPECT_NEAR(a->longitude, e.lon, 0.02) << e.icao;
        EXPECT_NEAR(a->altitude, e.elevationFt, 10) << e.icao;
        EXPECT_EQ(gf_nearestAirport(LatLon{e.lat, e.lon}), IcaoCode(e.icao));
    }
    // Small airfields of real add-on airports are known; a heliport 0.9 nm from KLAX's reference
    // point does not take the airport's place.
    for (const char* code : {"EDKB", "KGKY", "LLHZ", "KDKX", "EDGX", "EHTX", "EGKA"})
        EXPECT_TRUE(gf_isKnownAirport(code)) << code;
    const auto heliport = gf_airportByCode("CN33");
    ASSERT_TRUE(heliport && heliport->minor);
    EXPECT_EQ(gf_nearestAirport(LatLon{heliport->latitude, heliport->longitude}), IcaoCode("KLAX"));
    EXPECT_EQ(gf_airportCodeText("KDTW"), "KDTW (DTW)");
    EXPECT_GT(gf_airportByCode("EHAM")->stands, 0u) << "our own stand counts survive the import";
}

TEST_F(RefDataTest, AirlinesAndModelsOfRealTrafficAreKnown)
{
    // The sample scenario's airlines, then codes that traffic anywhere shows every day.
    for (const char* code : {"KLM", "TRA", "DLH", "DAL", "BAW", "UAE", "EZY", "AFR", "SAS", "EIN", "NJE", "MPH", "DTR",
                             "AAL", "UAL", "SWA", "SKW", "ENY", "RPA", "EDV", "JIA", "RYR", "WZZ", "FDX", "UPS",
                             "QTR", "THY", "CPA", "SIA", "EJA", "ACA", "QFA", "ZZZ", "PVT"})
        EXPECT_TRUE(gf_isIcaoAirline(code)) << code;
    for (const char* code : {"B738", "E75L", "A20N", "CRJ9", "B763", "A333", "C68A", "AT76", "B789", "DH8D", "E145",
                             "B712", "MD11", "PC12", "SR22", "C172", "R44", "B407", "GLF6", "CL35", "A388", "B744"})
        EXPECT_TRUE(gf_isValidModel(code)) << code;
    EXPECT_GE(g_validModels.size(), 250u);
    EXPECT_EQ(gf_modelCodeCategory("E75L"), AcCategory::Large);
    EXPECT_EQ(gf_modelCodeCategory("B748"), AcCategory::Heavy);
    EXPECT_EQ(gf_modelCodeCategory("GLF6"), AcCategory::Buzjets);
    EXPECT_EQ(gf_modelCodeCategory("R44"), AcCategory::Rotorcraft);
    // Every model comes with a span: none falls back to the default half span.
    for (const auto& code : g_validModels) {
        const std::uint16_t id = gf_modelId(code);
        ASSERT_LT(id, g_halfSpans.size()) << code;
        EXPECT_GT(g_halfSpans[id], 3.0 * kNmPerMetre) << code;
        EXPECT_LT(g_halfSpans[id], 45.0 * kNmPerMetre) << code;
    }
}

TEST_F(RefDataTest, AmsterdamToHeathrowIsTwoHundredNm)
{
    const auto a = *gf_airportByCode("EHAM");
    const auto b = *gf_airportByCode("EGLL");
    EXPECT_NEAR(gf_distanceNm(a.latitude, a.longitude, b.latitude, b.longitude), 200.0, 1.0);
}

using PlainDataTest = CoreTest;

TEST_F(PlainDataTest, BrokenOrForeignFilesAreRefusedWithALogLine)
{
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    writeFile(dir() / "cut.xml", "<root><meta><info name=\"author\" value=\"Quillon\"/>");
    EXPECT_FALSE(gf_readDbase(dir() / "cut.xml"));
    EXPECT_FALSE(gf_readAirports(dir() / "cut.xml"));
    writeFile(dir() / "nometa.xml", "<root><airports><a icao=\"EHAM\" lat=\"52\" lon=\"4\"/></airports></root>");
    EXPECT_FALSE(gf_readAirports(dir() / "nometa.xml"));
    EXPECT_TRUE(g_airports.empty());
    EXPECT_FALSE(gf_readDbase(dir() / "missing.xml"));
    gf_closeLog();
    const std::string log = readFile(dir() / "Log.txt");
    EXPECT_NE(log.find("cut.xml"), std::string::npos);
    EXPECT_NE(log.find("nometa.xml"), std::string::npos);
}

TEST_F(PlainDataTest, BadEntriesAreSkippedAndTheRestIsRead)
{
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    writeFile(dir() / "a.xml", "<root><meta><info name=\"author\" value=\"Quillon\"/><info name=\"version\" value=\"12.0.0\"/></meta>"
                               "<airports>"
                               "<a icao=\"eham\" iata=\"AMS\" lat=\"52.3086\" lon=\"4.7639\" alt=\"-11\" stands=\"220\"/>"
                               "<a icao=\"EH-M\" lat=\"52\" lon=\"4\"/>"
                               "<a icao=\"EGLLX\" lat=\"51\" lon=\"0\"/>"
                               "<a icao=\"ZZZZ\" lat=\"95\" lon=\"0\"/>"
                               "<a icao=\"EDDF\" iata=\"F!\" lat=\"50.03\" lon=\"8.57\"/>"
                               "<a icao=\"EHAM\" lat=\"0\" lon=\"0\"/>"
                               "<a icao=\"LFPG\" lat=\"nan\" lon=\"2.5\"/>"
                               "<a icao=\"LFPO\" lat=\"48.7\" lon=\"-inf\"/>"
                               "<a icao=\"LEMD\" lat=\"40.5\" lon=\"-3.6\" alt=\"10000000000\"/>"
                               "<a icao=\"LEBL\" lat=\"41.3\" lon=\"2.1\" alt=\"1e10\"/>"  // not 1 ft
                               "<a icao=\"LEPA\" lat=\"39.5x\" lon=\"2.7\"/>"
                               "</airports></root>");
    ASSERT_TRUE(gf_readAirports(dir() / "a.xml"));
    ASSERT_EQ(g_airports.size(), 2u);
    EXPECT_EQ(g_airports[0].icao.str(), "EDDF");
    EXPECT_TRUE(g_airports[0].iata.empty());
    EXPECT_EQ(g_airports[1].icao.str(), "EHAM");
    EXPECT_NEAR(g_airports[1].latitude, 52.3086, 1e-9); // the first of two entries is kept
    EXPECT_EQ(g_airports[1].altitude, -11);
    gf_closeLog();
    const std::string log = readFile(dir() / "Log.txt");
    EXPECT_NE(log.find("8 airport entries with a bad code, position or altitude skipped (first number refused: "
                       "LFPG lat: 'nan' is out of range)"),
              std::string::npos);
}

// The airports list is parsed a piece at a time; whatever the file holds between, around or
// inside its entries, every cut gives the airports (and the log line) that the whole tree gives.
TEST_F(PlainDataTest, AirportsReadInPiecesAreThoseOfTheWholeFile)
{
    const std::string meta = "<root><meta><info name=\"author\" value=\"Quillon\"/><info name=\"version\" value=\"12.0.0\"/></meta>";
    const std::string eham = "<a icao=\"EHAM\" lat=\"52.3\" lon=\"4.76\"/>";
    const std::string egll = "<a icao=\"EGLL\" lat=\"51.47\" lon=\"-0.46\"/>";
    const std::string bad = "<a icao=\"LFPG\" lat=\"nan\" lon=\"2.5\"/>";
    struct Case {
        const char* what;
        std::string text;
        std::string codes; // what is read, "" when the file is refused
        bool skipsOne = false;
    };
    const std::vector<Case> cases = {
        {"plain", meta + "<airports>\n  " + eham + "\n  " + egll + "\n</airports></root>", "EGLL EHAM"},
        {"comment with an entry in it", meta + "<airports>" + eham + "<!-- <a icao=\"ZZZZ\" lat=\"1\" lon=\"1\"/> > -->" + egll + "</airports></root>", "EGLL EHAM"},
        {"'>' and '/>' in a value", meta + "<airports><a note=\"x > y /> z\" icao=\"EHAM\" lat=\"52.3\" lon=\"4.76\"/>" + egll + "</airports></root>", "EGLL EHAM"},
        {"entry with children, after a bad one", meta + "<airports>" + bad + eham + "<a icao=\"EGLL\" lat=\"51.47\" lon=\"-0.46\"><a icao=\"ZZZZ\" lat=\"1\" lon=\"1\"/></a></airports></root>", "EGLL EHAM", true},
        {"list in another element first", "<root><old><airports><a icao=\"ZZZZ\" lat=\"1\" lon=\"1\"/></airports></old>" + meta.substr(6) + "<airports>" + eham + "</airports></root>", "EHAM"},
        {"second list", meta + "<airports>" + eham + "</airports><airports>" + egll + "</airports></root>", "EHAM"},
        {"start tag with an attribute", meta + "<airports n=\"2\">" + eham + egll + "</airports></root>", "EGLL EHAM"},
        {"byte order mark", "\xEF\xBB\xBF" + meta + "<airports>" + eham + "</airports></root>", "EHAM"},
        {"entry in CDATA", meta + "<airports><![CDATA[" + egll + "]]>" + eham + "</airports></root>", "EHAM"},
        {"character references", meta + "<airports><a icao=\"&#69;H&#x41;M\" lat=\"52.3\" lon=\"4.76\"/></airports></root>", "EHAM"},
        {"NUL byte in the list", meta + "<airports>" + eham + std::string(1, '\0') + egll + "</airports></root>", ""},
        {"'<>' between entries", meta + "<airports>" + eham + "\n<>" + egll + "</airports></root>", ""},
        {"entry cut off", meta + "<airports>" + eham + "<a icao=\"EGLL\" lat=\"51.47\"</airports></root>", ""},
        {"list not closed", meta + "<airports>" + eham + egll + "</root>", ""},
    };
    for (const Case& c : cases) {
        writeFile(dir() / "a.xml", c.text);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{40}, kXmlListPieceBytes}) {
            ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
            const bool read = gf_readAirportsInPieces(dir() / "a.xml", piece);
            gf_closeLog();
            std::string codes;
            for (const AirportEntry& a : g_airports)
                codes += (codes.empty() ? "" : " ") + a.icao.str();
            EXPECT_EQ(read, !c.codes.empty()) << c.what << ", pieces of " << piece;
            EXPECT_EQ(codes, c.codes) << c.what << ", pieces of " << piece;
            const bool skipLine = readFile(dir() / "Log.txt").find("1 airport entry with a bad code") != std::string::npos;
            EXPECT_EQ(skipLine, c.skipsOne) << c.what << ", pieces of " << piece;
        }
    }
}

TEST_F(PlainDataTest, ImpossibleWingSpansAreLeftOut)
{
    writeFile(dir() / "d.xml", "<root><meta><info name=\"author\" value=\"Quillon\"/><info name=\"version\" value=\"12.0.0\"/></meta>"
                               "<models><m c=\"B738\" span=\"35.8\"/><m c=\"XINF\" span=\"inf\"/>"
                               "<m c=\"XBIG\" span=\"1e308\"/><m c=\"XNAN\" span=\"nan\"/></models></root>");
    ASSERT_TRUE(gf_readDbase(dir() / "d.xml"));
    EXPECT_NEAR(hwsp(gf_modelId("B738")), 17.9 * kNmPerMetre, 1e-12);
    for (const char* code : {"XINF", "XBIG", "XNAN"}) {
        EXPECT_EQ(hwsp(gf_modelId(code)), kDefaultHalfSpanNm) << code;
    }
}

TEST(FixedCodeTest, FoldsCaseAndRejectsOthers)
{
    EXPECT_EQ(IcaoCode("eHaM").str(), "EHAM");
    EXPECT_EQ(IataCode("ams").view(), "AMS");
    EXPECT_TRUE(IcaoCode().empty());
    EXPECT_LT(IcaoCode("EDDF"), IcaoCode("EHAM"));
    for (const char* bad : {"", "EHA", "EHAMX", "EH M", "EH-M", "\xC3\x9CHAM"}) {
        try {
            IcaoCode c{std::string_view(bad)};
            ADD_FAILURE() << bad;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "FixedCode: invalid string (length/charset)");
        }
    }
    EXPECT_FALSE(IcaoCode::tryParse("EH#M").has_value());
}

} // namespace
} // namespace qmt::test
