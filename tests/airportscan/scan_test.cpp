// Whole scans of simulated simulator installations: the walk with its tasks, the second pass
// through facility data, streamed packages, the scan log and tblo.zip.
#include "ScanFixture.h"
#include "StalledReads.h"

#include "airportscan/Bgl.h"
#include "airportscan/ScanSteps.h"
#include "core/Files.h"
#include "core/ScanTasks.h"
#include "core/UserError.h"

#include <zip.h>

#include <cstdlib>
#include <map>
#include <set>
#include <tuple>

namespace qmt::test {
namespace {

// An airport BGL with a few parkings near the given position.
bb::Bytes airportBgl(const char* ICAO, double LAT, double LON, int PARKINGS = 3)
{
    std::vector<bb::Parking> parkings;
    for (int i = 1; i <= PARKINGS; ++i) {
        parkings.push_back(parking(2, i, LAT + 0.001 * i, LON));
    }
    return bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord(ICAO, 0, {bb::parkingRecord(parkings)})}});
}

// A BGL with an airport section but no airport record in it (an airport the reader cannot see).
bb::Bytes unreadableBgl() { return bb::bglFile({{bb::kAirportSection, 1, bb::record(0x0019, 64)}}); }

std::set<std::string> folderNames(const fs::path& FOLDER)
{
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(FOLDER, ec), end; !ec && it != end; it.increment(ec)) {
        names.insert(it->path().filename().string());
    }
    return names;
}

// The entry names of a zip file, read back with libzip.
std::set<std::string> zipEntries(const fs::path& ZIP)
{
    std::set<std::string> names;
    int error = 0;
    zip_t* archive = zip_open(ZIP.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (archive == nullptr) {
        return names;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        names.insert(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0));
    }
    zip_close(archive);
    return names;
}

// The bytes of the entry NAME of a zip file, read back with libzip ("" when missing).
std::string zipEntry(const fs::path& ZIP, const std::string& NAME)
{
    std::string bytes;
    int error = 0;
    zip_t* archive = zip_open(ZIP.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (archive == nullptr) {
        return bytes;
    }
    zip_stat_t st;
    zip_file_t* file = zip_stat(archive, NAME.c_str(), 0, &st) == 0 ? zip_fopen(archive, NAME.c_str(), 0) : nullptr;
    if (file != nullptr) {
        bytes.resize(st.size);
        if (zip_fread(file, bytes.data(), st.size) != static_cast<zip_int64_t>(st.size)) {
            bytes.clear();
        }
        zip_fclose(file);
    }
    zip_close(archive);
    return bytes;
}

class AirportScanTest : public ScanTest {
protected:
    void SetUp() override
    {
        ScanTest::SetUp();
        g_maxBglTasks = 2;
        SCAN_AIRPORTS.set(true);
        gf_enableControl(TBLO_ZIP_BUTTON, false);
    }

    // An installation below folders whose names exclude packages ("aircraft"), name a publisher
    // ("polderworks"), an airport ("-eham-") and a streamed skip text ("-scenery-"): the names
    // above the scan folders must say nothing.
    fs::path install() const { return dir() / "polderworks-eham-my-scenery-disk" / "aircraft-sims" / "MSFS"; }
    fs::path community() const { return install() / "Community"; }

    void package(const fs::path& FOLDER, const std::string& TITLE, const std::string& CREATOR = "")
    {
        writeFile(FOLDER / "manifest.json",
                  fmt::format(R"({{"title":"{}","manufacturer":"","creator":"{}"}})", TITLE, CREATOR));
    }

    // The 2020 installation: one airport linked to the archive, one generated from its BGL, one
    // read through facility data, an excluded package, a stand-less airfield, a stem that is no
    // code, and an airport of the simulator's maker.
    void make2020Installation()
    {
        MSFS_INSTALL_PATH.setText(install().string());
        bb::writeFile(install() / "Official" / "OneStore" / "asobo-airport-eham" / "scenery" / "EHAM.bgl",
                      airportBgl("EHAM", 52.30, 4.76));
        package(community() / "polderworks-airport-ehrd", "Rotterdam");
        bb::writeFile(community() / "polderworks-airport-ehrd" / "scenery" / "world" / "ap.bgl",
                      airportBgl("EHRD", 51.95, 4.43));
        bb::writeFile(community() / "polderworks-airport-ehrd" / "scenery" / "statics" / "ap2.bgl",
                      airportBgl("EHEH", 51.45, 5.37));
        package(community() / "northwind-ehle", "Lelystad");
        bb::writeFile(community() / "northwind-ehle" / "scenery" / "ehle.bgl", airportBgl("EHLE", 52.46, 5.52, 5));
        package(community() / "skyforge-airport-eddl-v2", "Dusseldorf Intl");
        bb::writeFile(community() / "skyforge-airport-eddl-v2" / "scenery" / "objects.bgl", unreadableBgl());
        facilityAirport("EDDL", 3, 51.28, 6.76);
        package(community() / "meridian-airfield", "EHHV Hilversum");
        bb::writeFile(community() / "meridian-airfield" / "scenery" / "ehhv-apt.bgl", unreadableBgl());
        facilityAirport("EHHV", 0, 52.19, 5.14);
        package(community() / "tropicalsim-kmci", "KMCI Kansas City");
        bb::writeFile(community() / "tropicalsim-kmci" / "scenery" / "ab_c.bgl", unreadableBgl());
        facilityAirport("KMCI", 2, 39.29, -94.71);
        bb::writeFile(community() / "gsx-world-pack" / "scenery" / "EHEH.bgl", airportBgl("EHEH", 51.45, 5.37));
        bb::writeFile(community() / "some-aircraft-pack" / "EHEH.bgl", airportBgl("EHEH", 51.45, 5.37));
    }
};

TEST_F(AirportScanTest, Installation2020)
{
    make2020Installation();
    const std::uint64_t pools = ScanPool::started();
    gf_scanAirports();
    // Both folders, the tblo copy and the zip ran on one set of workers.
    EXPECT_EQ(ScanPool::started() - pools, 1u);

    EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EDDL.xml", "EHLE.xml", "EHRD.txt"}));
    EXPECT_EQ(folderNames(g_mySimaddonPath), (std::set<std::string>{"EHAM.txt"}));
    EXPECT_EQ(readFile(g_myThirdpartyPath / "EHRD.txt"), "archive/thirdparty/Polder%20Works/EHRD.xml\n");
    EXPECT_THAT(readFile(g_myThirdpartyPath / "EDDL.xml"),
                ::testing::HasSubstr(R"(<parameter name="publisher" value="SkyForge Studio")"));
    EXPECT_THAT(readFile(g_myThirdpartyPath / "EHLE.xml"),
                ::testing::HasSubstr(R"(<parameter name="publisher" value="Northwind Sceneries")"));
    EXPECT_EQ(g_thirdpartyFileCount.load(), 3u);

    const std::string scanLogText = readFile(g_scanLogPath);
    for (const std::string& line : std::vector<std::string>{"thirdparty airport EHRD linked to archive/thirdparty/Polder%20Works/EHRD.xml\n\n",
          "simaddon airport EHAM linked to archive/simaddon/EHAM.xml\n\n",
          "Generated EHLE.xml from northwind-ehle/scenery/ehle.bgl: 5 positions\n",
          "\n\n\n ******************** 3 BGL files without an airport taken from its records\n",
          "no airport taken from its records: its airport sections hold no airport record\n",
          "no supported airport ICAO code 'AB_C' as BGL stem " + (community() / "tropicalsim-kmci" / "scenery" / "ab_c.bgl").string() + "\n",
          "airport has ICAO 'KMCI' in title of manifest\n",
          "airport has ICAO 'EHHV' in title of manifest\n",
          "EHHV has no stand in the simulator's facility data, no airport file generated\n",
          "no supported airport ICAO in title of manifest\n",
          "airport has ICAO 'EDDL' in BGL path\n",
          "Generated EDDL.xml from the simulator's facility data (skyforge-airport-eddl-v2/scenery/objects.bgl): 3 positions\n"}) {
        EXPECT_THAT(scanLogText, ::testing::HasSubstr(line));
    }
    EXPECT_THAT(scanLogText, ::testing::Not(::testing::HasSubstr("EHEH")));

    // The KMCI of that publisher never reaches the archive; the two generated files do.
    EXPECT_EQ(folderNames(g_tbloPath), (std::set<std::string>{"tblo.zip"}));
    EXPECT_EQ(zipEntries(g_tbloZipPath), (std::set<std::string>{"EDDL.xml", "EHLE.xml"}));
    EXPECT_EQ(std::system(("unzip -tq " + g_tbloZipPath.string() + " > /dev/null").c_str()), 0);
    for (const char* name : {"EDDL.xml", "EHLE.xml"}) {
        EXPECT_EQ(zipEntry(g_tbloZipPath, name), readFile(g_myThirdpartyPath / name)) << name;
    }
    EXPECT_EQ(g_tbloZipped.load(), 2u);
    EXPECT_TRUE(gf_controlState(TBLO_ZIP_BUTTON).enabled);

    const std::string log = logText();
    EXPECT_THAT(log, ::testing::HasSubstr("The scan will search 2 folders"));
    EXPECT_THAT(log, ::testing::HasSubstr(g_scanLogPath.string() + " written"));
    EXPECT_THAT(log, ::testing::HasSubstr("[zip] Added 2 files, ok_close=true, exists=true, size="));
    EXPECT_THAT(log, ::testing::HasSubstr("Please mail " + g_tbloZipPath.string()));
    EXPECT_THAT(log, ::testing::HasSubstr("SCAN_AIRPORTS=false"));
    EXPECT_THAT(log, ::testing::HasSubstr("SimConnect (PARKING_DATA_RDR) closed"));
    EXPECT_FALSE(SCAN_AIRPORTS.value());
    EXPECT_FALSE(PARKING_DATA_RDR.open);

    // A second run replaces the first's zip and finds the same.
    const auto firstZip = fs::last_write_time(g_tbloZipPath);
    gf_scanAirports();
    EXPECT_EQ(zipEntries(g_tbloZipPath), (std::set<std::string>{"EDDL.xml", "EHLE.xml"}));
    EXPECT_GE(fs::last_write_time(g_tbloZipPath), firstZip);
}

// An airport that the simulator will not describe costs that airport only; a missing
// connection ends the scan with the user error 779 and asks for the scan again.
TEST_F(AirportScanTest, RefusedFacilityDataCostOneAirportAMissingSimulatorTheScan)
{
    make2020Installation();
    package(community() / "zulu-airfield-egcc-", "Manchester");
    const fs::path egcc = community() / "zulu-airfield-egcc-" / "scenery" / "x.bgl";
    bb::writeFile(egcc, unreadableBgl());
    gf_scanAirports();
    EXPECT_THAT(readFile(g_scanLogPath),
                ::testing::HasSubstr("The simulator refused the facility data of EGCC (" + egcc.string() +
                                     "), no airport file generated\n"));
    EXPECT_TRUE(fs::exists(g_myThirdpartyPath / "EDDL.xml"));
    EXPECT_FALSE(SCAN_AIRPORTS.value());

    SCAN_AIRPORTS.set(true);
    gf_simStandIn().setRunning(false);
    try {
        gf_scanAirports();
        FAIL() << "no user error";
    } catch (const UserErrorException& e) {
        EXPECT_STREQ(e.what(), "779: MSFS must be connected to get addon airport data via SimConnect");
    }
    EXPECT_THAT(readFile(g_scanLogPath),
                ::testing::HasSubstr("Reading Facilites data for EHHV via SimConnect failed, is MSFS connected?\n"));
    EXPECT_FALSE(PARKING_DATA_RDR.open);
    EXPECT_TRUE(scanLog().empty());
    {
        std::scoped_lock lock(g_allBglFilesMutex, g_handledBglFilesMutex);
        EXPECT_TRUE(g_allBglFiles.empty());
        EXPECT_TRUE(g_handledBglFiles.empty());
    }
    EXPECT_TRUE(SCAN_AIRPORTS.value());  // asked for again at the next start
}

// An airport in two packages: the one the simulator loads later stands, whatever order the
// folders are listed and read in (Community after Official, then by package name, letters in
// any case), and the scan log names both packages and the one taken.
TEST_F(AirportScanTest, AirportInTwoPackagesIsTakenFromTheOneLoadedLater)
{
    MSFS_INSTALL_PATH.setText(install().string());
    const fs::path official = install() / "Official" / "OneStore";
    const std::vector<std::tuple<fs::path, const char*, int>> packages = {
        {official / "asobo-airport-eham", "EHAM", 3},
        {community() / "asobo-airport-eham", "EHAM", 3},
        {community() / "northwind-ehle-old", "EHLE", 3},
        {community() / "northwind-ehle-v2", "EHLE", 5},
        {community() / "meridian-ehhv", "EHHV", 2},
        {community() / "Skyforge-ehhv", "EHHV", 4},      // before "meridian" byte-wise, after it by name
        {community() / "polderworks-ehrd", "EHRD", 3},   // in the archive: a link file
        {community() / "zz-northwind-ehrd", "EHRD", 6},  // loaded later and generated: the link goes
        // One that needs facility data, held by a package loaded later: the simulator (not
        // running here) is not asked.
        {community() / "meridian-egcc", "EGCC", 0},
        {community() / "northwind-egcc", "EGCC", 3},
    };
    for (const auto& [folder, code, parkings] : packages) {
        package(folder, code);
        bb::writeFile(folder / "scenery" / "ap.bgl", parkings > 0 ? airportBgl(code, 52.0, 5.0, parkings) : unreadableBgl());
    }
    gf_scanAirports();

    EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EGCC.xml", "EHHV.xml", "EHLE.xml", "EHRD.xml"}));
    EXPECT_EQ(folderNames(g_mySimaddonPath), (std::set<std::string>{"EHAM.txt"}));
    for (const auto& [code, parkings] : std::vector<std::pair<const char*, int>>{{"EHLE", 5}, {"EHHV", 4}, {"EHRD", 6}}) {
        EXPECT_THAT(readFile(g_myThirdpartyPath / (std::string(code) + ".xml")),
                    ::testing::HasSubstr(fmt::format(R"(<parameter name="num_parkpos" value="{}")", parkings)))
            << code;
    }
    const std::string scanLogText = readFile(g_scanLogPath);
    const auto told = [&](const char* CODE, const fs::path& EARLIER, const fs::path& LATER) {
        return fmt::format("{} is in two packages, {} and {}: the simulator loads {} later, its airport is taken\n", CODE,
                           EARLIER.string(), LATER.string(), LATER.string());
    };
    EXPECT_THAT(scanLogText, ::testing::HasSubstr(told("EHAM", official / "asobo-airport-eham",
                                                       community() / "asobo-airport-eham")));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr(told("EHLE", community() / "northwind-ehle-old",
                                                       community() / "northwind-ehle-v2")));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr(told("EHHV", community() / "meridian-ehhv",
                                                       community() / "Skyforge-ehhv")));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr(told("EHRD", community() / "polderworks-ehrd",
                                                       community() / "zz-northwind-ehrd")));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr(told("EGCC", community() / "meridian-egcc", community() / "northwind-egcc")));
    EXPECT_FALSE(SCAN_AIRPORTS.value());
}

// Whatever the walk leaves unread is named with the reason: a linked package that leads
// nowhere, a path too long to be read, a BGL file whose header is damaged.
TEST_F(AirportScanTest, EveryFileTheWalkLeavesIsNamedWithItsReason)
{
    fs::create_directories(community());
    fs::create_directory_symlink(dir() / "removed-disk" / "northwind-ehle", community() / "northwind-ehle");
    fs::path deep = community() / "meridian-ehhv" / "scenery";
    while (deep.string().size() < 240) {
        deep /= "deeper";
    }
    bb::writeFile(deep / "some-longer-folder-name" / "ehhv.bgl", airportBgl("EHHV", 52.19, 5.14));
    bb::Bytes damaged = airportBgl("EHRD", 51.95, 4.43);
    bb::putU32(damaged, 20, 1000);
    bb::writeFile(community() / "polderworks-ehrd" / "scenery" / "ap.bgl", damaged);

    ScanPool pool;
    lf_scanBglFolders(community(), pool);

    EXPECT_TRUE(scanLogHas("linked package " + (community() / "northwind-ehle").string() + " not followed: it leads nowhere"));
    const fs::path tooLong = deep / "some-longer-folder-name";
    EXPECT_TRUE(scanLogHas(fmt::format("{}: not read, its path has {} characters, 250 or more", tooLong.string(),
                                       tooLong.string().size())));
    EXPECT_TRUE(scanLogHas((community() / "polderworks-ehrd" / "scenery" / "ap.bgl").string() +
                           ": not read, its header is damaged: its table of 1000 sections runs past the end of the file"));
}

// The line that closes a scan with nothing to send says what the scan found.
TEST_F(AirportScanTest, ClosingLineTellsWhatWasFound)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "The scan found no simaddon or third party airport, no off line learning needed."},
        {{"EHRD.txt"}, "All your simaddon and third party airports are recognised, no off line learning needed."},
        {{"EHRD.txt", "EHLE.xml"}, "1 of your airports is not recognised, but without a known maker it cannot be learned off line."},
    };
    for (const auto& [files, line] : cases) {
        gf_removeFilesFromDirectory(g_myThirdpartyPath);
        for (const std::string& file : files) {
            writeFile(g_myThirdpartyPath / file, "x");
        }
        ScanPool pool;
        lf_zipTblo(pool);
        EXPECT_THAT(logText(), ::testing::HasSubstr(line));
    }
}

// A read that hangs (a drive that stopped answering) costs its own time-out and no more: on 2
// workers, with one or both of them stuck, every other airport is written, each hanging file
// is named, and the scan counts them as not read so that the next start scans again.
TEST_F(AirportScanTest, HangingReadsCostTheirTimeOutAndEveryOtherAirportIsKept)
{
    const std::vector<std::tuple<std::string, double, double>> airports = {
        {"EHLE", 52.46, 5.52}, {"EHRD", 51.95, 4.43}, {"EHHV", 52.19, 5.14},
        {"EDDL", 51.28, 6.76}, {"EGCC", 53.35, -2.27}, {"EHAM", 52.31, 4.76}};
    std::map<std::string, fs::path> files;
    for (const auto& [code, lat, lon] : airports) {
        const fs::path file = community() / ("northwind-" + gf_lower(code)) / "scenery" / (gf_lower(code) + ".bgl");
        bb::writeFile(file, airportBgl(code.c_str(), lat, lon));
        files[code] = file;
    }
    g_maxBglTasks = 2;
    {
        ScanPool pool;
        lf_scanBglFolders(community(), pool);
    }
    const std::set<std::string> healthy = folderNames(g_myThirdpartyPath);
    ASSERT_EQ(healthy.size(), airports.size());
    for (const std::set<std::string>& hanging : {std::set<std::string>{"EHRD"}, std::set<std::string>{"EHLE", "EHRD"}}) {
        gf_removeFilesFromDirectory(g_myThirdpartyPath);
        {
            std::lock_guard lock(g_scanLogMutex);
            g_scanLogLines.clear();
        }
        g_bglNotReadInTime = 0;
        StalledReads reads(kScanWaitLimit);
        {
            ScanPool pool;
            lf_scanBglFolders(community(), pool, [&](const fs::path& PATH, const BglWalkState* WALK) {
                if (hanging.count(gf_upper(PATH.stem().string())) != 0)
                    reads.stall();
                lf_processBGLfile(PATH, WALK);
            });
        }
        std::set<std::string> expected;
        for (const std::string& name : healthy)
            if (hanging.count(name.substr(0, 4)) == 0)
                expected.insert(name);
        EXPECT_EQ(folderNames(g_myThirdpartyPath), expected);
        EXPECT_EQ(g_bglNotReadInTime.load(), hanging.size());
        EXPECT_LE(reads.advances(), static_cast<int>(hanging.size()));
        for (const std::string& code : hanging)
            EXPECT_TRUE(scanLogHas("===> " + files[code].string() +
                                   ": not read: Future wait timed out after 10 seconds; the next start scans again"))
                << code;
        reads.release();
        EXPECT_TRUE(gf_waitForBglTasks(std::chrono::seconds(5)));
    }
}

// A scan that left a file unread for want of time keeps SCAN_AIRPORTS set and says why; the
// next scan, whole, clears it.
TEST_F(AirportScanTest, ScanThatLeftAFileUnreadIsAskedForAgain)
{
    const fs::path ehle = community() / "northwind-ehle" / "scenery" / "ehle.bgl";
    bb::writeFile(ehle, airportBgl("EHLE", 52.46, 5.52));
    bb::writeFile(community() / "northwind-ehrd" / "scenery" / "ehrd.bgl", airportBgl("EHRD", 51.95, 4.43));
    SCAN_AIRPORTS.set(true);
    {
        StalledReads reads(kScanWaitLimit);
        lf_scanAndReport({community()}, [&](const fs::path& PATH, const BglWalkState* WALK) {
            if (PATH == ehle)
                reads.stall();
            lf_processBGLfile(PATH, WALK);
        });
        EXPECT_TRUE(SCAN_AIRPORTS.value());
        EXPECT_THAT(logText(), ::testing::HasSubstr("1 BGL file or folder could not be read in time"));
        EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EHRD.xml"}));
        reads.release();
        EXPECT_TRUE(gf_waitForBglTasks(std::chrono::seconds(5)));
    }
    lf_scanAndReport({community()});
    EXPECT_FALSE(SCAN_AIRPORTS.value());
    EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EHLE.xml", "EHRD.xml"}));
}

// A stop during the scan leaves SCAN_AIRPORTS set: the next start scans again.
TEST_F(AirportScanTest, StoppedScanIsAskedForAgain)
{
    make2020Installation();
    g_stopSession = true;
    gf_scanAirports();
    EXPECT_TRUE(SCAN_AIRPORTS.value());
    EXPECT_THAT(logText(), ::testing::HasSubstr("The airport scan was stopped before its end"));
}

// The airport files of the last whole scan stay as they were until a scan ends whole: one that
// is stopped or fails (no simulator for facility data) leaves them, one that ends replaces them
// all at once, leaving no folder of its own behind.
TEST_F(AirportScanTest, OnlyAWholeScanReplacesTheFilesOfTheLastOne)
{
    make2020Installation();
    const auto lastScan = [] {
        gf_removeFilesFromDirectory(g_myThirdpartyPath);
        writeFile(g_myThirdpartyPath / "EHLE.xml", "EHLE of the last scan");
        writeFile(g_myThirdpartyPath / "RJAA.xml", "RJAA of the last scan");
        writeFile(g_mySimaddonPath / "EHAM.txt", "EHAM of the last scan");
    };
    const auto untouched = [](const std::string& CASE) {
        EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EHLE.xml", "RJAA.xml"})) << CASE;
        EXPECT_EQ(readFile(g_myThirdpartyPath / "EHLE.xml"), "EHLE of the last scan") << CASE;
        EXPECT_EQ(readFile(g_mySimaddonPath / "EHAM.txt"), "EHAM of the last scan") << CASE;
    };
    const auto noScanFolderLeft = [](const std::string& CASE) {
        EXPECT_EQ(folderNames(g_airportsPath), (std::set<std::string>{"learned", "my_simaddon", "my_thirdparty"})) << CASE;
    };

    lastScan();
    g_stopSession = true;
    gf_scanAirports();
    untouched("stopped");
    noScanFolderLeft("stopped");
    g_stopSession = false;

    lastScan();
    gf_simStandIn().setRunning(false);
    EXPECT_THROW(gf_scanAirports(), UserErrorException);
    untouched("failed");
    noScanFolderLeft("failed");
    gf_simStandIn().setRunning(true);

    lastScan();
    gf_scanAirports();
    EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EDDL.xml", "EHLE.xml", "EHRD.txt"}));
    EXPECT_THAT(readFile(g_myThirdpartyPath / "EHLE.xml"), ::testing::HasSubstr("Northwind Sceneries"));
    EXPECT_EQ(readFile(g_mySimaddonPath / "EHAM.txt"), "archive/simaddon/EHAM.xml\n");
    noScanFolderLeft("whole");
}

// Where a package has a layout.json, only the BGL files it lists are read (compared without
// regard to case); packages linked into Community are followed once, and never back up.
TEST_F(AirportScanTest, LayoutListsTheFilesAndLinkedPackagesAreFollowed)
{
    const fs::path lelystad = community() / "northwind-ehle";
    package(lelystad, "Lelystad");
    writeFile(lelystad / "layout.json", bb::layoutJson({"manifest.json", "Scenery/World/EHLE-AP.BGL"}));
    bb::writeFile(lelystad / "scenery" / "world" / "ehle-ap.bgl", airportBgl("EHLE", 52.46, 5.52, 4));
    bb::writeFile(lelystad / "scenery" / "test" / "EHLE.bgl", airportBgl("EHLE", 52.46, 5.52, 1));
    const fs::path outside = dir() / "other-disk" / "skyforge-eddl";
    package(outside, "Dusseldorf");
    bb::writeFile(outside / "scenery" / "eddl.bgl", airportBgl("EDDL", 51.28, 6.76, 2));
    fs::create_directory_symlink(outside, community() / "skyforge-eddl-link");
    fs::create_directory_symlink(outside, community() / "skyforge-eddl-again");
    fs::create_directory_symlink(install(), community() / "loop");
    fs::create_directory_symlink(lelystad, lelystad / "scenery" / "inner-link");

    ScanPool pool;
    lf_scanBglFolders(community(), pool);

    EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EDDL.xml", "EHLE.xml"}));
    EXPECT_THAT(readFile(g_myThirdpartyPath / "EHLE.xml"), ::testing::HasSubstr(R"(<parkpos id="p4")"));
    const auto lines = scanLog();
    EXPECT_TRUE(scanLogHas((lelystad / "scenery" / "test" / "EHLE.bgl").string() +
                           " is not listed in the layout.json of its package, which the simulator loads from: not read"));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& L) {
                                return L.starts_with("Generated EDDL.xml from skyforge-eddl-") && L.ends_with(": 2 positions");
                            }),
              1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& L) { return L.find(" not followed: ") != std::string::npos; }),
              3);
    EXPECT_TRUE(scanLogHas("linked package " + (community() / "loop").string() +
                           " not followed: it leads back into the scan folder or above it"));
    EXPECT_TRUE(scanLogHas("linked folder " + (lelystad / "scenery" / "inner-link").string() +
                           " not followed: it leads back into the scan folder or above it"));
}

// A folder linked below the package level (a scenery folder kept on another disk) is followed
// under the same loop guard as a linked package; a link that is not followed is named.
TEST_F(AirportScanTest, FoldersLinkedFurtherDownAreFollowedOnce)
{
    const fs::path elsewhere = dir() / "other-disk" / "scenery-ehle";
    bb::writeFile(elsewhere / "ehle-ap.bgl", airportBgl("EHLE", 52.46, 5.52, 3));
    fs::create_directory_symlink(dir() / "other-disk", elsewhere / "up");
    const fs::path scenery = community() / "northwind-ehle" / "scenery";
    package(community() / "northwind-ehle", "Lelystad");
    fs::create_directories(scenery);
    fs::create_directory_symlink(elsewhere, scenery / "world");
    fs::create_directory_symlink(elsewhere, scenery / "world-again");
    fs::create_directory_symlink(dir() / "removed-disk", scenery / "gone");

    ScanPool pool;
    lf_scanBglFolders(community(), pool);

    EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EHLE.xml"}));
    EXPECT_THAT(readFile(g_myThirdpartyPath / "EHLE.xml"), ::testing::HasSubstr(R"(<parkpos id="p3")"));
    const auto lines = scanLog();
    const auto count = [&lines](std::string_view PART) {
        return std::count_if(lines.begin(), lines.end(),
                             [PART](const std::string& L) { return L.find(PART) != std::string::npos; });
    };
    EXPECT_EQ(count("Generated EHLE.xml from northwind-ehle/scenery/world"), 1);
    EXPECT_EQ(count(" read from " + fs::canonical(elsewhere).string()), 1);
    // The second link to it, and the link back up from inside it, lead into or around it.
    EXPECT_EQ(count("is reached through another link already (" + fs::canonical(elsewhere).string() + ")"), 2);
    EXPECT_TRUE(scanLogHas("link " + (scenery / "gone").string() + " not followed: it leads nowhere"));
    EXPECT_EQ(count(" not followed: "), 3);
}

// The BGL paths of a layout.json: only the members "path" of the objects of the top-level
// "content" array, lower-cased with '/' separators; text that is not JSON is an error.
TEST_F(AirportScanTest, LayoutJsonGivesTheBglPathsItLists)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {R"({"content":[{"path":"Scenery/A.BGL"},{"path":"scenery\\b.bgl"},{"path":"./c.bgl"},{"path":"x.json"}]})",
         {"c.bgl", "scenery/a.bgl", "scenery/b.bgl"}},
        {R"({"other":[{"path":"a.bgl"}],"content":[{"size":1,"inner":{"path":"deep.bgl"}},{"path":"a.bgl"}]})",
         {"a.bgl"}},
        {R"({"content":{"path":"a.bgl"}})", {}},
        {R"([{"path":"a.bgl"}])", {}},
    };
    for (const auto& [text, files] : cases) {
        EXPECT_EQ(lf_parseLayoutJson(text), files) << text;
    }
    EXPECT_THROW(lf_parseLayoutJson(R"({"content":[{"path":"a.bgl"})"), std::runtime_error);
}

// The second pass waits a bounded time for a reader that does not end, names its file and goes
// on; the reader's late result changes nothing.
TEST_F(AirportScanTest, SecondPassWaitsABoundedTimeForReaders)
{
    const fs::path ehle = community() / "northwind-ehle" / "scenery" / "ehle.bgl";
    bb::writeFile(ehle, airportBgl("EHLE", 52.46, 5.52));
    const fs::path hanging = community() / "northwind-ehle" / "scenery" / "hangs.bgl";
    BglWalkState walk(community());
    lf_processBGLfile(ehle, &walk);
    EXPECT_FALSE(walk.close(2, std::chrono::milliseconds(0), {}));
    BglResult late;
    late.path = hanging;
    late.handled = true;
    walk.finish(late);
    lf_readUnrecognisedBgls(community(), {ehle, hanging});
    EXPECT_TRUE(scanLogHas("\nBGL: " + hanging.string() + "\n==> its reading did not end within 10 seconds; it is left out of this scan"));
    std::scoped_lock lock(g_allBglFilesMutex, g_handledBglFilesMutex);
    EXPECT_TRUE(g_allBglFiles.empty());
    EXPECT_TRUE(g_handledBglFiles.empty());
}

TEST_F(AirportScanTest, StreamedAirports2024)
{
    g_isMsfs2020 = false;
    SIM_CHOICE.set(2024);
    MSFS2024_INSTALL_PATH.setText(install().string());
    const fs::path streamed = install() / "StreamedPackages";
    for (const char* name : {"microsoft-airport-eham-schiphol", "asobo-airport-rjaa-narita", "meridian-airport-ksfo-sf",
                             "northwind-airport-egcc-manchester", "acme-airport-ehle-", "fs20-asobo-airport-ehhv-x",
                             "asobo-airport-ehrd-scenery-x", "asobo-airport-nowhere"}) {
        fs::create_directories(streamed / name);
    }
    writeFile(streamed / "asobo-airport-ehlv-file", "not a package folder");
    fs::create_directories(community());
    facilityAirport("RJAA", 2, 35.76, 140.38);
    facilityAirport("EGCC", 4, 53.35, -2.27);
    facilityAirport("EHLE", 1, 52.46, 5.52);

    gf_scanAirports();

    EXPECT_EQ(folderNames(g_mySimaddonPath), (std::set<std::string>{"EHAM.txt", "RJAA.xml"}));
    EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EGCC.xml", "EHLE.xml", "KSFO.txt"}));
    EXPECT_EQ(readFile(g_myThirdpartyPath / "KSFO.txt"), "archive/thirdparty/Meridian%20Airports/KSFO.xml\n");
    EXPECT_THAT(readFile(g_myThirdpartyPath / "EHLE.xml"),
                ::testing::HasSubstr(R"(<parameter name="manufacturer" value="streamed thirdy party")"));
    const std::string scanLogText = readFile(g_scanLogPath);
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("airport has ICAO 'RJAA' in directory path\n"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("airport has ICAO 'EGCC' in folder path\npublisher 'Northwind Sceneries' found\n"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("voorbij link2archive\n"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("asobo-airport-nowhere\nno supported airport ICAO in BGL path\n"));
    EXPECT_THAT(scanLogText, ::testing::Not(::testing::HasSubstr("EHHV")));
    EXPECT_THAT(scanLogText, ::testing::Not(::testing::HasSubstr("EHRD")));
    // The simaddon file of a known airport and the thirdparty files go to tblo (the one without a
    // publisher names its origin through its manufacturer text).
    EXPECT_EQ(zipEntries(g_tbloZipPath), (std::set<std::string>{"EGCC.xml", "EHLE.xml", "RJAA.xml"}));
    EXPECT_EQ(g_simaddonFileCount.load(), 2u);
    EXPECT_THAT(logText(), ::testing::HasSubstr("1 simaddon file copied to tblo folder"));
}

TEST_F(AirportScanTest, ScanThatFindsNothing)
{
    MSFS_INSTALL_PATH.setText("");
    gf_scanAirports();
    EXPECT_EQ(gf_statusText(), "Warning: Scan has not found any add-on airports");
    EXPECT_FALSE(SCAN_AIRPORTS.value());
    EXPECT_TRUE(fs::exists(g_scanLogPath));
    EXPECT_FALSE(fs::exists(g_tbloPath));
    EXPECT_THAT(logText(), ::testing::HasSubstr(
                               "The scan found no simaddon or third party airport, no off line learning needed."));
    EXPECT_THAT(logText(), ::testing::Not(::testing::HasSubstr("are recognised")));

    // A folder of the list that is a file, then one that does not exist.
    writeFile(dir() / "afile", "x");
    ScanPool pool;
    lf_scanFolders({dir() / "afile", dir() / "missing"}, pool);
    EXPECT_THAT(logText(), ::testing::HasSubstr((dir() / "afile").string() + " is not a folder name, skipped!"));
    EXPECT_EQ(gf_statusText(), (dir() / "missing").string() + " does not exist, skipped!");
}

TEST_F(AirportScanTest, ScanLogFileKeepsEntriesThatEndInANewline)
{
    gf_scanLog("first\n");
    gf_scanLog("second\n");
    ASSERT_TRUE(gf_writeScanLogFile());
    EXPECT_EQ(readFile(g_scanLogPath), "first\n\nsecond\n\n");

    // A log that cannot be written is reported as such, not as written.
    fs::remove_all(g_infoPath);
    writeFile(g_infoPath, "a file where the folder belongs");
    lf_runAirportScan({});
    EXPECT_THAT(logText(), ::testing::HasSubstr("==> could not write " + g_scanLogPath.string()));
    EXPECT_THAT(logText(), ::testing::Not(::testing::HasSubstr(g_scanLogPath.string() + " written")));
}

TEST_F(AirportScanTest, FailedZipAsksForNoMail)
{
    writeFile(g_tbloPath / "EHLE.xml", "<root/>");
    fs::create_directories(g_tbloZipPath / "in the way");
    ScanPool pool;
    lf_zipTblo(pool);
    const std::string log = logText();
    EXPECT_THAT(log, ::testing::HasSubstr("==> Zippen TBLO folder failed"));
    EXPECT_THAT(log, ::testing::Not(::testing::HasSubstr("Please mail")));
    EXPECT_FALSE(gf_controlState(TBLO_ZIP_BUTTON).enabled);
    EXPECT_EQ(g_tbloZipped.load(), 2u);  // tblo is kept for the user to look at
    EXPECT_FALSE(fs::exists(g_tbloPath / "EHLE.xml"));
}

TEST_F(AirportScanTest, DetectionAndExclusionRules)
{
    ManifestInfo manifest;
    // The stem decides whatever the manifest says.
    package(community() / "pkg-eddl-", "EHLE");
    EXPECT_EQ(lf_detectIcao(community() / "pkg-eddl-" / "ehrd.bgl", manifest), std::make_pair(std::string("EHRD"), true));
    EXPECT_FALSE(manifest);
    // No manifest: no title or path rule.
    EXPECT_FALSE(lf_detectIcao(community() / "none-eddl-" / "x.bgl", manifest).second);

    const fs::path scan = install() / "Community";
    EXPECT_FALSE(lf_isExcludedPackagePath(scan / "northwind-ehle" / "x.bgl", scan));
    EXPECT_TRUE(lf_isExcludedPackagePath(scan / "FS-Base-stuff", scan));
    EXPECT_TRUE(lf_isExcludedPackagePath(scan / "Some-AIRCRAFT", scan));
    EXPECT_TRUE(lf_isExcludedPackagePath(scan / std::string(250, 'x'), scan));
    EXPECT_FALSE(lf_isExcludedPackagePath(scan / "northwind-ehle", scan.string() + "/"));
    // The paths the walk makes are tested on their text; the same paths written another way go
    // the general way and must give the same answers.
    const std::pair<std::string, bool> cases[] = {{"northwind-ehle/scenery/x.bgl", false}, {"pkg/Some-AIRCRAFT/x.bgl", true},
                                                  {"pkg/x.FS-Base", true},  {"aircraft", true},
                                                  {"northwind/./x.bgl", false}, {"northwind/GSX-pro.bgl", true}};
    for (const auto& [below, excluded] : cases) {
        EXPECT_EQ(lf_isExcludedPackagePath(scan / below, scan), excluded) << below;
        EXPECT_EQ(lf_isExcludedPackagePath(fs::path(scan.string() + "//" + below), scan), excluded) << below;
        EXPECT_EQ(lf_isExcludedPackagePath(scan / below, scan.string() + "/"), excluded) << below;
    }
}

TEST_F(AirportScanTest, BglExtensionInAnyCaseButOnlyAsExtension)
{
    const fs::path scenery = community() / "northwind-names" / "scenery";
    package(community() / "northwind-names", "Names");
    bb::writeFile(scenery / "lelystad.BGL", airportBgl("EHLE", 52.46, 5.52, 5));
    bb::writeFile(scenery / ".bgl", airportBgl("EHRD", 51.95, 4.43));
    bb::writeFile(scenery / "eindhoven.bglx", airportBgl("EHEH", 51.45, 5.37));
    ScanPool pool;
    lf_scanBglFolders(community(), pool);
    EXPECT_EQ(folderNames(g_myThirdpartyPath), (std::set<std::string>{"EHLE.xml"}));
}

} // namespace
} // namespace qmt::test
