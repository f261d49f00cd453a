// The BGL reader on files of our own builder: the example airport, the header and walk bounds,
// both airport records, damaged, cut and forged files.
#include "ScanFixture.h"

#include "airportscan/Bgl.h"
#include "core/XmlMeta.h"
#include "stands/StandTable.h"

#include <cmath>
#include <limits>
#include <sstream>
#include <thread>

namespace qmt::test {
namespace {

constexpr double LAT = 52.46;
constexpr double LON = 5.52;
const float NaN = std::numeric_limits<float>::quiet_NaN();

// One airport that exercises every rule of the reader, in a package whose path names a
// publisher that has no archived EHLE, so that its airport file is generated.
bb::Bytes exampleAirport(std::uint32_t ALTITUDE_MM = 3'000'000)
{
    std::vector<bb::Parking> parkings = {
        parking(2, 1, LAT, LON + 0.001),                       // p1
        parking(2, 1, LAT, LON + 0.002),                       // p1 again: p1a
        parking(3, 12, LAT, LON + 0.003),                      // np12
        parking(12, 5, LAT, LON + 0.004, 20.0f, 0.0f),         // A5, heading 0 kept as a full turn
        parking(0, 7, LAT, LON + 0.005),                       // 7
        parking(2, 2, LAT, LON + 0.006, 1.0f),                 // radius at the lower bound: skipped
        parking(2, 3, LAT, LON + 0.007, 200.0f),               // radius at the upper bound: skipped
        parking(2, 4, LAT, LON + 0.008, 20.0f, 90.0f, 12),     // type 12: dropped
        parking(2, 5, LAT, LON + 0.009, 20.0f, 90.0f, 13),     // type 13: dropped
        parking(2, 6, 0.0, 0.0),                               // no position
        parking(2, 8, LAT, LON + 0.010, 20.0f, NaN),           // heading not a number
        parking(10, 9, LAT, LON + 0.011, 20.0f, 270.0f, 15),   // g9, followed by three further values
    };
    parkings.back().extra = 3;
    for (int i = 0; i < 12; ++i) {
        parkings.push_back(parking(1, 1, LAT + 0.001 * (i + 1), LON));  // r1, r1a .. r1j, then refused
    }
    const bb::Helipad heli1{LAT + 0.01, LON, 20.0f};
    const bb::Helipad heli2{LAT + 0.02, LON, 30.0f};
    return bb::bglFile({{bb::kAirportSection, 1,
                         [&] {
                             bb::Bytes records = bb::record(0x0003, 16);  // a record before the airport
                             bb::append(records, bb::airportRecord("EHLE", ALTITUDE_MM,
                                                                   {bb::helipadRecord(heli1), bb::helipadRecord(heli1),
                                                                    bb::helipadRecord({LAT + 0.03, LON, NaN}),
                                                                    bb::record(0x0019, 12), bb::helipadRecord(heli2),
                                                                    bb::parkingRecord(parkings),
                                                                    bb::helipadRecord({LAT + 0.04, LON, 20.0f})}));
                             return records;
                         }()}});
}

BglWords wordsOf(const bb::Bytes& BYTES)
{
    std::istringstream in(std::string(BYTES.begin(), BYTES.end()));
    return lf_readBglWords(in);
}

// The airports a file's words yield, read without linking or writing; none when the file is
// refused.
std::vector<AirportFile> readAirports(const BglWords& WORDS, std::uint64_t BUDGET = kBglStepBudget)
{
    std::vector<AirportFile> airports;
    BglBudget budget(BUDGET);
    const BglSurvey survey = lf_surveyBgl(WORDS, budget, "x.bgl");
    if (!survey.refusal.empty()) {
        return airports;
    }
    for (const BglAirport& airport : survey.airports) {
        AirportFile record = lf_airportFileFromBgl(airport.p, WORDS);
        record.code = airport.code;
        lf_readBglStands(airport, WORDS, record, "x.bgl");
        airports.push_back(std::move(record));
    }
    return airports;
}

class BglReaderTest : public ScanTest {};

TEST_F(BglReaderTest, ExampleAirportGivesItsStandsAndMessages)
{
    const fs::path bgl = dir() / "Community" / "polderworks-ehle" / "scenery" / "EHLE-ap.bgl";
    ASSERT_TRUE(bb::writeFile(bgl, exampleAirport()));
    ASSERT_TRUE(lf_bglHasAirportSection(bgl));

    lf_processBGLfile(bgl);

    const fs::path file = g_myThirdpartyPath / "EHLE.xml";
    ASSERT_TRUE(fs::exists(file));
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(file.c_str()));
    std::vector<Stand> stands;
    lf_readStands(doc, stands);
    std::vector<std::string> names;
    for (const Stand& s : stands) {
        names.push_back(s.name);
    }
    EXPECT_THAT(names, ::testing::ElementsAre("7", "A5", "g9", "helipad1", "helipad2", "np12", "p1", "p1a", "r1",
                                              "r1a", "r1b", "r1c", "r1d", "r1e", "r1f", "r1g", "r1h", "r1i", "r1j"));
    const auto heli2 = std::find_if(stands.begin(), stands.end(), [](const Stand& s) { return s.name == "helipad2"; });
    EXPECT_EQ(heli2->heli, 1);
    EXPECT_NEAR(heli2->radius * 1852.0, 15.0, 1e-6);
    const std::string text = readFile(file);
    EXPECT_THAT(text, ::testing::HasSubstr(R"(<parkpos id="A5" latitude="52.460000" longitude="5.524000" heading="360.0")"));
    EXPECT_THAT(text, ::testing::HasSubstr(R"(<parameter name="altitude" value="9843")"));
    EXPECT_THAT(text, ::testing::HasSubstr(R"(<parameter name="publisher" value="Polder Works")"));
    EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("nan")));

    const std::string path = bgl.string();
    EXPECT_TRUE(scanLogHas("double helipad  (skipped) 52.470000,5.520000 in " + path));
    EXPECT_TRUE(scanLogHas("helipad width nan invalid (skipped): 52.490000,5.520000 in " + path));
    EXPECT_TRUE(scanLogHas("Skipped position with radius 1.0 m in " + path));
    EXPECT_TRUE(scanLogHas("Skipped position with radius 200.0 m in " + path));
    EXPECT_TRUE(scanLogHas("LatLon 0.000000,0.000000 invalid (skipped) in " + path));
    EXPECT_TRUE(scanLogHas("heading nan of parking p8 invalid (skipped) in " + path));
    EXPECT_TRUE(scanLogHas("===> Warning: more than 10 duplicate IDs r1 in " + path));
    EXPECT_TRUE(scanLogHas("EHLE has 19 parkpos while archived one has 0"));
    EXPECT_TRUE(scanLogHas("Generated EHLE.xml from polderworks-ehle/scenery/EHLE-ap.bgl: 19 positions, of which 2 helipads\n"));
    std::lock_guard lock(g_handledBglFilesMutex);
    EXPECT_THAT(g_handledBglFiles, ::testing::ElementsAre(bgl));
}

TEST_F(BglReaderTest, AltitudeInFeetAndAboveTenThousandFeetAsZero)
{
    for (const auto& [millimetres, feet] : std::vector<std::pair<std::uint32_t, int>>{
             {3'000'000, 9843}, {4'000'000, 0}, {0xFFFFFFFFu - 3000, 0}, {0, 0}}) {
        const auto airports = readAirports(wordsOf(exampleAirport(millimetres)));
        ASSERT_EQ(airports.size(), 1u);
        EXPECT_EQ(airports[0].altitudeFt, feet) << millimetres;
    }
}

TEST_F(BglReaderTest, TrailingBytesFormALastWord)
{
    EXPECT_EQ(wordsOf({1, 2, 3, 4, 5, 6}), (BglWords{0x04030201u, 0x00000605u}));
    EXPECT_TRUE(wordsOf({}).empty());
    bb::Bytes big(200'001, 7);
    EXPECT_EQ(wordsOf(big).size(), 50'001u);
    EXPECT_EQ(wordsOf(big).back(), 7u);
}

TEST_F(BglReaderTest, IdentDecodeAndCheck)
{
    EXPECT_EQ(lf_decodeBglIdent(bb::packIdent("EHAM")), std::make_pair(std::string("EHAM"), true));
    EXPECT_EQ(lf_decodeBglIdent(bb::packIdent("K2B9")), std::make_pair(std::string("K2B9"), true));
    // Digit 0 (a blank) or 1 ('?') anywhere makes the ident invalid.
    EXPECT_FALSE(lf_decodeBglIdent(bb::packIdent("EH M")).second);
    EXPECT_FALSE(lf_decodeBglIdent((((16u * 38 + 1) * 38 + 12) << 5)).second);

    EXPECT_EQ(lf_checkIcao("EHAM"), std::make_pair(std::string("EHAM"), true));
    EXPECT_FALSE(lf_checkIcao("AMS").second);
    EXPECT_FALSE(lf_checkIcao("EHAMX").second);
    EXPECT_TRUE(scanLog().empty());
    EXPECT_FALSE(lf_checkIcao("ZZZZ", "x/a.bgl").second);
    EXPECT_THAT(scanLog(), ::testing::ElementsAre("ZZZZ is not an airport supported by RealTraffic in x/a.bgl"));
}

// The newer simulator's airport record: its ident one bit further up, its subrecords after a
// longer head. With a parking list its stands are read; without one the code goes to the
// second pass, which asks the simulator.
TEST_F(BglReaderTest, NewerAirportRecordGivesItsIdentAndStands)
{
    const std::vector<bb::Parking> parkings = {parking(2, 1, LAT, LON), parking(2, 2, LAT, LON + 0.001)};
    auto airports = readAirports(wordsOf(bb::bglFile(
        {{bb::kAirportSection, 1, bb::airportRecord2024("EHLE", 0, {bb::helipadRecord({LAT + 0.01, LON, 20.0f}),
                                                                     bb::parkingRecord(parkings)})}})));
    ASSERT_EQ(airports.size(), 1u);
    EXPECT_EQ(airports[0].code.str(), "EHLE");
    EXPECT_EQ(airports[0].stands.size(), 3u);

    const fs::path bgl = dir() / "Community" / "drone-ehle" / "scenery" / "polygons.bgl";
    bb::writeFile(bgl, bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord2024("EHLE", 0, {})}}));
    lf_processBGLfile(bgl);
    std::lock_guard lock(g_handledBglFilesMutex);
    EXPECT_TRUE(g_handledBglFiles.empty());
    ASSERT_EQ(g_bglNotes.size(), 1u);
    EXPECT_EQ(g_bglNotes[0].code, IcaoCode("EHLE"));
    EXPECT_EQ(g_bglNotes[0].reason, "its airport record of EHLE holds no stand");
}

// A damaged header is named with the reason, by the pre-check where it can tell from the
// header alone, else by the survey; a sound file without an airport section says nothing.
TEST_F(BglReaderTest, DamagedHeadersAreNamedSoundFilesWithoutAirportsAreNot)
{
    const bb::Bytes good = exampleAirport();
    const auto with = [&good](std::size_t AT, std::uint32_t VALUE) {
        bb::Bytes bytes = good;
        bb::putU32(bytes, AT, VALUE);
        return bytes;
    };
    const std::string damaged = "its header is damaged: ";
    const auto withType = [](bb::Bytes BYTES, std::size_t SECTION, std::uint32_t TYPE) {
        bb::putU32(BYTES, 56 + 20 * SECTION, TYPE);
        return BYTES;
    };
    const std::vector<bb::Bytes> one = {bb::parkingRecord({parking(2, 1, LAT, LON)})};
    // Laid out as the newer simulator's compiler writes a file: the airport section and one other.
    const bb::Bytes sections2024 = bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord2024("EHLE", 0, one)},
                                                {0x35, 3, bb::record(0x0027, 16)}});
    const bb::Bytes sections2020 = bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHLE", 0, one)}});
    const bb::Bytes twoAirports = bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHLE", 0, one)},
                                               {bb::kAirportSection, 1, bb::airportRecord("EHAM", 0, one)}});
    const bb::Bytes noAirport = bb::bglFile({{bb::kAirportSection, 1, bb::record(0x0019, 64)}});
    const auto pastEnd = static_cast<std::uint32_t>(good.size() / 20);
    struct Case {
        const char* what;
        bb::Bytes bytes;
        std::string precheck;  // the pre-check's damage; "" with a sound table
        std::string refusal;   // the survey's refusal
    };
    const std::vector<Case> cases = {
        {"section count 0", with(20, 0), damaged + "it lists no section", damaged + "it lists no section"},
        {"section table past the end", with(20, pastEnd),
         damaged + fmt::format("its table of {} sections runs past the end of the file", pastEnd),
         damaged + fmt::format("its table of {} sections runs past the end of the file", pastEnd)},
        {"header size not 56", with(4, 52), "", damaged + "its header size is 52, not 56"},
        {"header size not 56, no airport section", [&] { bb::Bytes b = with(4, 52); bb::putU32(b, 56, 4); return b; }(),
         damaged + "its header size is 52, not 56", damaged + "its header size is 52, not 56"},
        {"header only", bb::Bytes(good.begin(), good.begin() + 56),
         damaged + "it has 56 bytes, too few for a header and its section table", damaged + "it is too short for its header"},
        {"subsection entries of 20 bytes", with(56 + 4, 0x10001), "", ""},
        // The airport section's type lost a bit; the airport summary the compiler writes beside
        // it tells that it was there (its records begin with another record).
        {"airport section type damaged", [] {
             bb::Bytes records = bb::record(0x0003, 16);
             bb::append(records, bb::airportRecord("EHLE", 0, {}));
             bb::Bytes b = bb::bglFile({{bb::kAirportSection, 1, records},
                                        {bb::kAirportSummarySection, 1, bb::record(0x0019, 16)}});
             bb::putU32(b, 56, bb::kAirportSection ^ 0x10);
             return b;
         }(), "", damaged + "it lists an airport summary but no airport section"},
        // The newer simulator's compiler writes no summary: the airport record at the start of
        // a section whose type is one bit away tells.
        {"2024 airport section type damaged", withType(sections2024, 0, bb::kAirportSection ^ 0x100), "",
         damaged + "its section 1 of 2 holds an airport record but has type 0x103, not 0x3"},
        {"2020 airport section type damaged, no summary", withType(sections2020, 0, bb::kAirportSection ^ 0x4), "",
         damaged + "its section 1 of 1 holds an airport record but has type 0x7, not 0x3"},
        {"airport section type damaged before a sound one", withType(twoAirports, 0, bb::kAirportSection ^ 0x1), "",
         damaged + "its section 1 of 2 holds an airport record but has type 0x2, not 0x3"},
        {"type two bits away", withType(sections2024, 0, bb::kAirportSection ^ 0x30), "", ""},
        {"type one bit away without an airport record", withType(noAirport, 0, bb::kAirportSection ^ 0x1), "", ""},
        {"no airport section", with(56, 4), "", ""},
    };
    const fs::path file = dir() / "x.bgl";
    for (const Case& c : cases) {
        bb::writeFile(file, c.bytes);
        std::uintmax_t bytes = 0;
        std::string damage;
        lf_bglHasAirportSection(file, bytes, &damage);
        EXPECT_EQ(damage, c.precheck) << c.what;
        BglBudget budget(kBglStepBudget);
        const BglSurvey survey = lf_surveyBgl(wordsOf(c.bytes), budget, file);
        EXPECT_EQ(survey.refusal, c.refusal) << c.what;
        EXPECT_TRUE(survey.airports.empty()) << c.what;
    }
    std::uintmax_t bytes = 0;
    std::string damage;
    EXPECT_FALSE(lf_bglHasAirportSection(dir() / "missing.bgl", bytes, &damage));
    EXPECT_EQ(damage, "it cannot be opened: No such file or directory");
    EXPECT_TRUE(scanLog().empty());
}

// A file of the newer simulator whose airport section lost its type is named in the scan log,
// and its airport goes to the second pass, which asks the simulator.
TEST_F(BglReaderTest, AirportSectionThatLostItsTypeIsNamed)
{
    bb::Bytes bytes = bb::bglFile({{bb::kAirportSection, 1,
                                    bb::airportRecord2024("EHLE", 0, {bb::parkingRecord({parking(2, 1, LAT, LON)})})},
                                   {0x35, 3, bb::record(0x0027, 16)}});
    bb::putU32(bytes, 56, bb::kAirportSection ^ 0x8);
    const fs::path bgl = dir() / "Community" / "drone-airport-ehle" / "scenery" / "EHLE.bgl";
    bb::writeFile(bgl, bytes);
    ASSERT_TRUE(lf_bglHasAirportSection(bgl));

    lf_processBGLfile(bgl);

    const std::string reason = "its header is damaged: its section 1 of 2 holds an airport record but has type 0xb, not 0x3";
    EXPECT_THAT(scanLog(), ::testing::ElementsAre(bgl.string() + ": " + reason + "; no airport of it is taken"));
    EXPECT_FALSE(fs::exists(g_myThirdpartyPath / "EHLE.xml"));
    std::lock_guard lock(g_handledBglFilesMutex);
    ASSERT_EQ(g_bglNotes.size(), 1u);
    EXPECT_EQ(g_bglNotes[0].reason, reason);
}

// An airport record that is left out says why, for the second pass: not "no airport record".
TEST_F(BglReaderTest, AirportRecordsLeftOutSayWhy)
{
    const std::vector<bb::Parking> one = {parking(2, 1, LAT, LON)};
    const std::vector<std::pair<bb::Bytes, std::string>> cases = {
        // A closed airfield: a sound record whose code the airports database no longer holds.
        {bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHZZ", 0, {bb::parkingRecord(one)})}}),
         "its airport record was left out: EHZZ is not an airport supported by RealTraffic"},
        {bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("LEL", 0, {bb::parkingRecord(one)})}}),
         "its airport record was left out: its ident LEL is no ICAO code of four characters"},
        {bb::bglFile({{bb::kAirportSection, 1, bb::airportRecordPacked(1, 0, {bb::parkingRecord(one)})}}),
         "its airport record was left out: the ident of the airport record at byte 92 is no code"},
        {bb::bglFile({{bb::kAirportSection, 1, bb::record(0x0019, 64)}}), "its airport sections hold no airport record"},
    };
    const fs::path bgl = dir() / "closed" / "field.bgl";
    for (const auto& [bytes, reason] : cases) {
        bb::writeFile(bgl, bytes);
        lf_processBGLfile(bgl);
    }
    std::lock_guard lock(g_handledBglFilesMutex);
    ASSERT_EQ(g_bglNotes.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(g_bglNotes[i].reason, cases[i].second);
        EXPECT_FALSE(g_bglNotes[i].code);
    }
}

// A file cut anywhere gives the whole airport or none, never a part of its stands.
TEST_F(BglReaderTest, EveryTruncationGivesTheWholeAirportOrNone)
{
    const bb::Bytes bytes = exampleAirport();
    const std::size_t full = readAirports(wordsOf(bytes)).at(0).stands.size();
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const auto airports = readAirports(wordsOf(bb::Bytes(bytes.begin(), bytes.begin() + length)));
        ASSERT_LE(airports.size(), 1u);
        if (!airports.empty()) {
            EXPECT_EQ(airports[0].stands.size(), full) << length;
        }
    }
}

TEST_F(BglReaderTest, ParkingSubrecordEndsTheWalk)
{
    // A helipad after the parkings is never read (the example's fourth helipad).
    auto airports = readAirports(wordsOf(exampleAirport()));
    ASSERT_EQ(airports.size(), 1u);
    EXPECT_EQ(std::count_if(airports[0].stands.begin(), airports[0].stands.end(),
                            [](const Stand& s) { return s.heli != 0; }),
              2);
}

TEST_F(BglReaderTest, LongSectionsForgedTablesAndTheBudgetAreBounded)
{
    // 9000 records after an airport: the section ends with its warning, the airport stays read.
    bb::Bytes records = bb::airportRecord("EHLE", 0, {bb::parkingRecord({parking(2, 1, LAT, LON)})});
    for (int i = 0; i < 9001; ++i) {
        bb::append(records, bb::record(0x0019, 8));
    }
    EXPECT_EQ(readAirports(wordsOf(bb::bglFile({{bb::kAirportSection, 1, records}}))).size(), 1u);
    EXPECT_THAT(logText(), ::testing::HasSubstr("Error: Maximum loop iterations reached (2) \x97 possible corrupt BGL"));

    // 3000 sections that all walk the same records: the records are walked and the airport
    // taken once.
    const bb::Bytes forged = bb::forgedSections(3000, records);
    EXPECT_EQ(readAirports(wordsOf(forged)).size(), 1u);
    // A budget too small for the file takes nothing of it.
    EXPECT_TRUE(readAirports(wordsOf(forged), 5'000).empty());
}

// Sound records among many: one airport file per code however often the file names it, and a
// bounded number of scan-log lines however many unknown codes it holds.
TEST_F(BglReaderTest, ForgedFileWritesEachAirportOnceAndFewLines)
{
    bb::Bytes records;
    for (int i = 0; i < 400; ++i) {
        bb::append(records, bb::airportRecord("EHLE", 0, {bb::parkingRecord({parking(2, 1, LAT, LON + 0.0001 * i)})}));
        bb::append(records, bb::airportRecord(fmt::format("Q{:03}", i), 0, {}));
    }
    const fs::path bgl = dir() / "Community" / "forged" / "f.bgl";
    bb::writeFile(bgl, bb::bglFile({{bb::kAirportSection, 1, records}}));
    lf_processBGLfile(bgl);
    const auto lines = scanLog();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Generated EHLE.xml from forged/f.bgl: 1 position"), 1);
    EXPECT_LE(lines.size(), 2 * (kBglMaxLogLines + 1));
    EXPECT_TRUE(scanLogHas(fmt::format("{} more lines about {} left out", 400 + 399 - kBglMaxLogLines, bgl.string())));
}

// Files of one airport read at the same time write its airport file one after the other: the
// file left is whole, that of the package loaded last, and no temporary file is left behind.
TEST_F(BglReaderTest, ReadersOfOneAirportWriteItsFileWhole)
{
    constexpr int kReaders = 8;
    std::vector<fs::path> files;
    for (int i = 0; i < kReaders; ++i) {
        std::vector<bb::Parking> parkings;
        for (int p = 0; p <= i; ++p) {
            parkings.push_back(parking(2, static_cast<std::uint32_t>(p + 1), LAT + 0.001 * p, LON));
        }
        files.push_back(dir() / "Community" / fmt::format("pack{}", i) / "EHLE.bgl");
        bb::writeFile(files.back(),
                      bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHLE", 0, {bb::parkingRecord(parkings)})}}));
    }
    std::vector<std::thread> readers;
    for (const fs::path& file : files) {
        readers.emplace_back([file] { lf_processBGLfile(file); });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file((g_myThirdpartyPath / "EHLE.xml").c_str()));
    const auto positions = doc.child("root").child("parkpositions").children("parkpos");
    EXPECT_EQ(std::distance(positions.begin(), positions.end()), kReaders);
    EXPECT_EQ(gf_stringParameterByName(doc, "num_parkpos"), std::to_string(kReaders));
    const auto lines = scanLog();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Generated EHLE.xml from pack7/EHLE.bgl: 8 positions"), 1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& L) { return L.starts_with("EHLE is in two packages, "); }),
              kReaders - 1);
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                             [](const std::string& LINE) { return LINE.find("did not succeed") != std::string::npos; }));
    EXPECT_EQ(std::distance(fs::directory_iterator(g_myThirdpartyPath), fs::directory_iterator()), 1);
}

TEST_F(BglReaderTest, HugeFileIsNotRead)
{
    const fs::path bgl = dir() / "huge" / "EHLE.bgl";
    ASSERT_TRUE(bb::writeFile(bgl, exampleAirport()));
    fs::resize_file(bgl, kBglMaxBytes + 1);  // sparse: no disk space taken
    lf_processBGLfile(bgl);
    EXPECT_TRUE(scanLogHas(fmt::format("BGL file {} has {} bytes, more than {} (not read)", bgl.string(),
                                       kBglMaxBytes + 1, kBglMaxBytes)));
    EXPECT_FALSE(fs::exists(g_myThirdpartyPath / "EHLE.xml"));
    std::lock_guard lock(g_allBglFilesMutex);
    EXPECT_THAT(g_allBglFiles, ::testing::ElementsAre(bgl));  // the second pass takes it up
}

// A damaged airport record is refused whole: no airport file, a line naming the file and the
// damage, and the code kept for the second pass.
TEST_F(BglReaderTest, DamagedRecordsAreRefusedWithTheirFile)
{
    auto cut = exampleAirport();
    cut.resize(cut.size() - 60);
    const std::vector<bb::Parking> two = {parking(2, 1, LAT, LON), parking(2, 2, LAT, LON)};
    auto zeroSize = bb::record(0x0019, 12);
    bb::putU32(zeroSize, 2, 0);
    const std::vector<std::pair<bb::Bytes, std::string>> cases = {
        {cut, "the airport record of EHLE at byte 108 runs 60 bytes past the end of the file"},
        {bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHLE", 0, {bb::parkingRecord(two, 85)})}}),
         "the airport record of EHLE at byte 92: the 85 parking entries of its subrecord at byte 160 do not end where "
         "it ends"},
        {bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHLE", 0, {zeroSize, bb::parkingRecord(two)})}}),
         "the airport record of EHLE at byte 92: its subrecord at byte 160 (size 0) does not end inside the record"},
    };
    const fs::path bgl = dir() / "damaged" / "EHLE.bgl";
    for (const auto& [bytes, damage] : cases) {
        bb::writeFile(bgl, bytes);
        lf_processBGLfile(bgl);
        EXPECT_TRUE(scanLogHas(bgl.string() + ": " + damage + "; no airport of it is taken")) << damage;
    }
    EXPECT_FALSE(fs::exists(g_myThirdpartyPath / "EHLE.xml"));
    std::lock_guard lock(g_handledBglFilesMutex);
    EXPECT_TRUE(g_handledBglFiles.empty());
    ASSERT_EQ(g_bglNotes.size(), 3u);
    EXPECT_EQ(g_bglNotes[0].code, IcaoCode("EHLE"));
}

// Stands far short of the parking records (a parking list whose id lost a bit, parkings whose
// positions were damaged) make the file damaged: no airport file, and the code for the second
// pass, which asks the simulator.
TEST_F(BglReaderTest, StandsFarShortOfTheParkingRecordsRefuseTheFile)
{
    std::vector<bb::Parking> twelve;
    for (std::uint32_t i = 1; i <= 12; ++i) {
        twelve.push_back(parking(2, i, LAT, LON + 0.001 * i));
    }
    bb::Bytes flipped = bb::parkingRecord(twelve);
    bb::putU16(flipped, 0, 0x00E6);
    std::vector<bb::Parking> lost = {parking(2, 1, LAT, LON)};
    for (std::uint32_t i = 2; i <= 5; ++i) {
        lost.push_back(parking(2, i, 0.0, 0.0));
    }
    const bb::Bytes helipad = bb::helipadRecord({LAT + 0.01, LON, 20.0f});
    const std::vector<std::pair<bb::Bytes, std::string>> cases = {
        {bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHLE", 0, {helipad, flipped})}}),
         "the airport record of EHLE gives 0 stands of its 12 parking records"},
        {bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHLE", 0, {bb::parkingRecord(lost)})}}),
         "the airport record of EHLE gives 1 stand of its 5 parking records"},
    };
    const fs::path bgl = dir() / "Community" / "northwind-ehle" / "EHLE.bgl";
    for (const auto& [bytes, reason] : cases) {
        bb::writeFile(bgl, bytes);
        lf_processBGLfile(bgl);
        EXPECT_TRUE(scanLogHas(bgl.string() + ": " + reason + "; no airport of it is taken")) << reason;
    }
    EXPECT_FALSE(fs::exists(g_myThirdpartyPath / "EHLE.xml"));
    std::lock_guard lock(g_handledBglFilesMutex);
    EXPECT_TRUE(g_handledBglFiles.empty());
    ASSERT_EQ(g_bglNotes.size(), 2u);
    EXPECT_EQ(g_bglNotes[1].code, IcaoCode("EHLE"));
}

// A file read in blocks gives the words of the whole file; one that shrinks while it is read
// fails with an error, not with words that are not there.
TEST_F(BglReaderTest, BlockReadGivesTheWordsOfTheFile)
{
    bb::Bytes bytes(300'001);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    const BglWords whole = wordsOf(bytes);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    const BglView view(in, bytes.size());
    ASSERT_EQ(view.size(), whole.size());
    for (const std::size_t i : {std::size_t{0}, std::size_t{16383}, std::size_t{16384}, std::size_t{70000},
                                whole.size() - 1, std::size_t{5}}) {
        EXPECT_EQ(view.at(i), whole[i]) << i;
    }
    EXPECT_THROW(view.at(whole.size()), std::out_of_range);
    std::istringstream shrunk(std::string(bytes.begin(), bytes.begin() + 100'000));
    const BglView shrinking(shrunk, bytes.size());
    EXPECT_EQ(shrinking.at(10), whole[10]);
    EXPECT_THROW(shrinking.at(70'000), std::runtime_error);
}

} // namespace
} // namespace qmt::test
