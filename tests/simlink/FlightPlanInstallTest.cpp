#include "SimTestSupport.h"

#include "core/Airports.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "simlink/FlightPlan.h"
#include "simlink/Install.h"

#include <pugixml.hpp>

namespace qmt::test {
namespace {

AirportEntry lf_airport(const char* ICAO, const char* IATA, double LAT, double LON, int ALT)
{
    AirportEntry a;
    a.icao = IcaoCode(ICAO);
    a.iata = IataCode(IATA);
    a.latitude = LAT;
    a.longitude = LON;
    a.altitude = ALT;
    return a;
}

TEST_F(SimLinkTest, FlightPlanFileIsNamedByObjectIdInTheFlightPlanFolder)
{
    gf_setWorkFolder(m_dir);
    EXPECT_EQ(gf_flightPlanFileName(4711), m_dir / "orig_dest" / "4711.pln");
}

TEST_F(SimLinkTest, FlightPlanNamesBothAirportsByIcaoCode)
{
    gf_setAirports({lf_airport("EGLL", "LHR", 51.4706, -0.461941, 83), lf_airport("EHAM", "AMS", 52.308601, 4.76389, -11)});
    const auto path = m_dir / "100.pln";
    ASSERT_TRUE(gf_writeFlightPlan(path, FlightPlanData{"KLM1001", "AMS", "EGLL", 0.0}));
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(path.c_str()));
    const auto plan = doc.child("SimBase.Document").child("FlightPlan.FlightPlan");
    EXPECT_STREQ(doc.child("SimBase.Document").attribute("Type").value(), "AceXML");
    EXPECT_STREQ(plan.child("DepartureID").text().get(), "EHAM");
    EXPECT_STREQ(plan.child("DestinationID").text().get(), "EGLL");
    EXPECT_STREQ(plan.child("DepartureLLA").text().get(), "N52\xC2\xB0 18' 30.96\",E4\xC2\xB0 45' 50.00\",-000011.00");
    EXPECT_STREQ(plan.child("DestinationLLA").text().get(), "N51\xC2\xB0 28' 14.16\",W0\xC2\xB0 27' 42.99\",+000083.00");
    int waypoints = 0;
    for (auto wp : plan.children("ATCWaypoint")) {
        ++waypoints;
        EXPECT_STREQ(wp.child("ATCWaypointType").text().get(), "Airport");
    }
    EXPECT_EQ(waypoints, 2);
}

TEST_F(SimLinkTest, FlightPlanNeedsBothCodesAndAWritableFolder)
{
    EXPECT_FALSE(gf_writeFlightPlan(m_dir / "1.pln", FlightPlanData{"X", "", "EGLL", 0.0}));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "1.pln"));
    EXPECT_FALSE(gf_writeFlightPlan(m_dir / "missing" / "2.pln", FlightPlanData{"X", "EHAM", "EGLL", 0.0}));
    // Codes that the airports data do not know are passed on as given.
    EXPECT_TRUE(gf_writeFlightPlan(m_dir / "3.pln", FlightPlanData{"X", "EHAM", "KJFK", 0.0}));
}

TEST_F(SimLinkTest, InstallSubfolderFollowsTheSimulatorChoice)
{
    SIM_CHOICE.set(2020);
    EXPECT_TRUE(gf_installSubfolder("Community").empty());
    MSFS_INSTALL_PATH.set((m_dir / "fs20").string());
    MSFS2024_INSTALL_PATH.set((m_dir / "fs24").string());
    EXPECT_EQ(gf_installSubfolder("Community"), m_dir / "fs20" / "Community");
    gf_applySimChoice();
    EXPECT_TRUE(g_isMsfs2020.load());
    SIM_CHOICE.set(2024);
    gf_applySimChoice();
    EXPECT_FALSE(g_isMsfs2020.load());
    EXPECT_EQ(gf_installSubfolder("StreamedPackages"), m_dir / "fs24" / "StreamedPackages");
}

TEST_F(SimLinkTest, PackagesPathComesFromUserCfg)
{
    std::ofstream(m_dir / "UserCfg.opt", std::ios::binary)
        << "Version 75\r\n{Graphics\r\n}\r\nInstalledPackagesPath \"D:\\MSFS\\Packages\"\r\n";
    EXPECT_EQ(gf_packagesPathFromUserCfg(m_dir / "UserCfg.opt").string(), "D:\\MSFS\\Packages");
    EXPECT_TRUE(gf_packagesPathFromUserCfg(m_dir / "none.opt").empty());
    // A path longer than any path can be is refused.
    std::ofstream(m_dir / "UserCfg.opt", std::ios::binary | std::ios::trunc)
        << "InstalledPackagesPath \"D:\\" << std::string(1 << 20, 'x') << "\"\r\n";
    EXPECT_TRUE(gf_packagesPathFromUserCfg(m_dir / "UserCfg.opt").empty());
    EXPECT_NE(logText().find("InstalledPackagesPath of 1048579 bytes is longer than a path can be, not taken"),
              std::string::npos);
    // Only the key itself names the path, not a longer key that begins with it.
    std::ofstream(m_dir / "UserCfg.opt", std::ios::binary | std::ios::trunc)
        << "InstalledPackagesPathological \"C:\\x\"\r\nInstalledPackagesPath\t\"E:\\P\"\r\n";
    EXPECT_EQ(gf_packagesPathFromUserCfg(m_dir / "UserCfg.opt").string(), "E:\\P");
    // A file far larger than the simulator's settings is not read (nor held in memory).
    std::ofstream(m_dir / "UserCfg.opt", std::ios::binary | std::ios::trunc)
        << std::string(kMaxUserCfgBytes, 'x') << "\nInstalledPackagesPath \"D:\\P\"\n";
    EXPECT_TRUE(gf_packagesPathFromUserCfg(m_dir / "UserCfg.opt").empty());
    EXPECT_NE(logText().find("UserCfg.opt of " + std::to_string(std::filesystem::file_size(m_dir / "UserCfg.opt")) +
                             " bytes is larger than the simulator's settings ever are (4194304), not read"),
              std::string::npos);
}

} // namespace
} // namespace qmt::test
