#pragma once
// Shared fixture of the airport scan tests: a temporary working folder, fresh globals, a small
// airports database, publishers table and archive lists, and helpers for files and logs.

#include "airportscan/AirportScan.h"
#include "core/Airports.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/WindowState.h"
#include "platform/sim_Control.h"
#include "simlink/Facilities.h"
#include "simlink/SimClient.h"
#include "stands/AirportFile.h"
#include "tools/BglBuilder.h"
#include "TestFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qmt::test {

namespace fs = std::filesystem;
namespace bb = qmt::bglbuild;

inline std::string readFile(const fs::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const fs::path& PATH, const std::string& TEXT)
{
    fs::create_directories(PATH.parent_path());
    std::ofstream out(PATH, std::ios::binary | std::ios::trunc);
    out << TEXT;
}

inline AirportEntry airport(const char* ICAO, double LAT, double LON)
{
    AirportEntry a;
    a.icao = IcaoCode(ICAO);
    a.latitude = LAT;
    a.longitude = LON;
    a.stands = 20;
    return a;
}

// A parking of the builder at a position near LAT/LON.
inline bb::Parking parking(std::uint32_t INDEX, std::uint32_t NUMBER, double LAT, double LON, float RADIUS = 20.0f,
                           float HEADING = 90.0f, std::uint32_t TYPE = 1)
{
    bb::Parking p;
    p.nameIndex = INDEX;
    p.number = NUMBER;
    p.lat = LAT;
    p.lon = LON;
    p.radius = RADIUS;
    p.heading = HEADING;
    p.type = TYPE;
    return p;
}

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = gf_testFolder("quillon-apscan");
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "work");
        gf_resetCoreForTests();
        gf_resetAirportScanForTests();
        gf_resetWindowForTests();
        gf_resetStatusForTests();
        gf_resetFacilitiesForTests();
        gf_simStandIn().reset();
        gf_setWorkFolder(m_dir / "work");
        gf_createWorkFolders();
        g_isMsfs2020 = true;
        SIM_CHOICE.set(2020);
        gf_setAirports({airport("EDDL", 51.2895, 6.7668), airport("EGCC", 53.3537, -2.2750),
                      airport("EHAM", 52.3086, 4.7639), airport("EHEH", 51.4501, 5.3745),
                      airport("EHHV", 52.1911, 5.1469), airport("EHLE", 52.4603, 5.5272),
                      airport("EHRD", 51.9569, 4.4372), airport("KMCI", 39.2976, -94.7139),
                      airport("KSFO", 37.6190, -122.3750), airport("RJAA", 35.7647, 140.3864)});
        g_publishers = {{"Polder Works", "polderworks"},
                        {"Northwind Sceneries", "northwind"},
                        {"SkyForge Studio", "skyforge"},
                        {"Meridian Airports", "meridian"},
                        {"TropicalSim", "tropicalsim"}};
        g_simaddon20 = {"EHAM"};
        g_simaddon24 = {"EHAM"};
        g_thirdparties20 = {{"Polder Works", {"EHRD 20", "EHEH x"}}};
        g_thirdparties24 = {{"Meridian Airports", {"KSFO 120"}}};
        gf_openLog(work() / "Log.txt", "test");
    }

    void TearDown() override
    {
        gf_closeLog();
        g_stopSession = false;
        g_exitRequested = false;
        gf_resetAirportScanForTests();
        gf_resetFacilitiesForTests();
        gf_simStandIn().reset();
        gf_resetCoreForTests();
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    fs::path dir() const { return m_dir; }
    fs::path work() const { return m_dir / "work"; }

    std::vector<std::string> scanLog()
    {
        std::lock_guard lock(g_scanLogMutex);
        return g_scanLogLines;
    }
    bool scanLogHas(const std::string& LINE)
    {
        const auto lines = scanLog();
        return std::find(lines.begin(), lines.end(), LINE) != lines.end();
    }
    std::string logText()
    {
        gf_flushLog();
        return readFile(work() / "Log.txt");
    }

    // Facility data of the simulated simulator for an airport; no PARKINGS is an airfield
    // without stands.
    void facilityAirport(const std::string& ICAO, int PARKINGS, double LAT, double LON)
    {
        std::string parkings;
        for (int i = 1; i <= PARKINGS; ++i) {
            parkings += (i > 1 ? "," : "") +
                        fmt::format(R"({{"name":"G","number":{},"type":1,"heading":90.0,"radius":20.0,"lat":{},"lon":{}}})", i,
                                    LAT + i * 0.001, LON);
        }
        writeFile(m_dir / "facilities" / (ICAO + ".json"),
                  fmt::format(R"({{"icao":"{}","name":"{} airport","altitude_m":10.0,"parkings":[{}]}})", ICAO, ICAO,
                              parkings));
        gf_simStandIn().setFacilityFolder(m_dir / "facilities");
        gf_simStandIn().setRunning(true);
    }

private:
    fs::path m_dir;
};

} // namespace qmt::test
