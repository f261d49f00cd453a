// The sample simulator installation of the program's sample run: its add-on airport packages
// (scenery files written by our tool at build time) scan into airport files and links that the
// park-airport lookup then finds.
#include "ScanFixture.h"

#include "parking/ParkAirport.h"
#include "platform/sim_install.h"
#include "simlink/Install.h"
#include "stands/ApfLookup.h"
#include "stands/StandTable.h"

#include <set>

namespace qmt::test {
namespace {

const fs::path DATA = fs::path(QUILLON_SOURCE_DIR) / "data";

class SampleInstallTest : public ScanTest {
protected:
    void SetUp() override
    {
        ScanTest::SetUp();
        ASSERT_TRUE(gf_readDbase(DATA / "reference" / "dbase.xml"));
        ASSERT_TRUE(gf_readAirports(DATA / "reference" / "airports.xml"));
        gf_setSimUserFolder(DATA / "simulator");
        gf_findInstallPath();
        gf_simStandIn().setFacilityFolder(DATA / "facilities");
        gf_simStandIn().setRunning(true);
        g_archiveBaseUrl = "file://" + (DATA / "site").generic_string() + "/";
    }
    void TearDown() override
    {
        gf_setSimUserFolder({});
        gf_resetParkAirportForTests();
        ScanTest::TearDown();
    }
};

std::set<std::string> names(const fs::path& FOLDER)
{
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(FOLDER)) {
        found.insert(entry.path().filename().string());
    }
    return found;
}

TEST_F(SampleInstallTest, FirstStartScansThePackagesAndTheLookupFindsTheirFiles)
{
    ASSERT_EQ(MSFS_INSTALL_PATH.value(), (DATA / "simulator" / "Packages").lexically_normal().string());
    gf_scanAirports();

    EXPECT_EQ(names(g_mySimaddonPath), (std::set<std::string>{"EHAM.txt"}));
    EXPECT_EQ(names(g_myThirdpartyPath),
              (std::set<std::string>{"EHEH.xml", "EHGG.xml", "EHLE.xml", "EHMZ.xml", "EHRD.txt", "EHSE.xml", "EHTX.xml"}));
    const std::string scanLogText = readFile(g_scanLogPath);
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("Generated EHLE.xml from northwind-airport-ehle-lelystad/scenery/EHLE.bgl: 18 positions, of which 2 helipads\n"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("Generated EHEH.xml from the simulator's facility data (skyforge-airport-eheh-eindhoven/scenery/objects.bgl): 13 positions, of which 1 helipad\n"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("EHHV has no stand in the simulator's facility data"));
    EXPECT_THAT(scanLogText, ::testing::Not(::testing::HasSubstr("tugs")));
    // A small airfield whose layout.json leaves a stray test file out, the newer simulator's
    // airport record in a file whose name says nothing, and a package linked into Community.
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("Generated EHTX.xml from northwind-airport-ehtx-texel/scenery/EHTX-airport.bgl: 7 positions, of which 1 helipad\n"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("test/EHTX.bgl is not listed in the layout.json of its package"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("Generated EHSE.xml from skyforge-airport-ehse-breda/scenery/airport-polygons.bgl: 9 positions\n"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("Generated EHMZ.xml from meridian-airport-ehmz-midden-zeeland/scenery/EHMZ-ap.bgl: 4 positions\n"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("/Community/meridian-airport-ehmz-midden-zeeland read from "));
    // A backup copy of Lelystad that the simulator loads before the current package, and a file
    // whose parking list lost a bit of its id, read from the simulator's facility data instead.
    const fs::path community = DATA / "simulator" / "Packages" / "Community";
    EXPECT_THAT(scanLogText, ::testing::HasSubstr(fmt::format(
                                 "EHLE is in two packages, {0}/backup-northwind-airport-ehle-lelystad and "
                                 "{0}/northwind-airport-ehle-lelystad: the simulator loads "
                                 "{0}/northwind-airport-ehle-lelystad later, its airport is taken\n",
                                 community.lexically_normal().string())));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("EHGG-ap.bgl: the airport record of EHGG gives 0 stands of its 10 "
                                                  "parking records; no airport of it is taken\n"));
    EXPECT_THAT(scanLogText, ::testing::HasSubstr("Generated EHGG.xml from the simulator's facility data "
                                                  "(meridian-airport-ehgg-groningen/scenery/EHGG-ap.bgl): 11 positions, "
                                                  "of which 1 helipad\n"));
    EXPECT_FALSE(SCAN_AIRPORTS.value());

    // The park-airport lookup finds what the scan wrote; Schiphol comes from the archive.
    EXPECT_EQ(lf_resolveApf("EHAM"), "archive/simaddon/EHAM.xml");
    EXPECT_EQ(lf_resolveApf("EHLE"), "airports/my_thirdparty/EHLE.xml");
    EXPECT_EQ(lf_resolveApf("EHRD"), "archive/thirdparty/Polder%20Works/EHRD.xml");
    EXPECT_FALSE(gf_apfExists("EHHV"));
    for (const char* code : {"EHAM", "EHLE", "EHEH", "EHTX", "EHSE", "EHMZ"}) {
        g_parkAirport = *gf_airportByCode(code);
        ParkApfInfo info;
        EXPECT_EQ(gf_readApf(lf_resolveApf(code), info), "") << code;
        EXPECT_FALSE(g_stands.empty()) << code;
        gf_resetStandsForTests();
    }
}

} // namespace
} // namespace qmt::test
