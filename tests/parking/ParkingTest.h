#pragma once
// Shared fixture of the parking tests: a temporary working folder, fresh globals, the
// EHAM park airport and helpers for files and the log.

#include "core/Airports.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/StatusLine.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "parking/ParkAirport.h"
#include "parking/ParkingReset.h"
#include "parking/StandSearch.h"
#include "parking/StaticPositions.h"
#include "simlink/SimClient.h"
#include "stands/AirportFile.h"
#include "stands/LearnedApf.h"
#include "stands/StandTable.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qmt::test {

inline std::string readFile(const std::filesystem::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::filesystem::path& PATH, const std::string& TEXT)
{
    std::filesystem::create_directories(PATH.parent_path());
    std::ofstream out(PATH, std::ios::binary | std::ios::trunc);
    out << TEXT;
}

// The file without its meta block, which carries the save date.
inline std::string withoutMeta(const std::string& TEXT)
{
    const size_t start = TEXT.find("<meta>");
    const size_t end = TEXT.find("</meta>");
    if (start == std::string::npos || end == std::string::npos) {
        return TEXT;
    }
    return TEXT.substr(0, start) + TEXT.substr(end + 7);
}

inline const char* kMeta = R"(<meta><info name="author" value="Quillon"/><info name="version" value="12.0.0"/></meta>)";

// An airport file document around the given parameters and parkpos elements.
inline std::string apfXml(const std::string& PARAMETERS, const std::string& POSITIONS,
                          const std::string& META = kMeta)
{
    return "<?xml version=\"1.0\"?>\n<root>" + META + "<parameters>" + PARAMETERS + "</parameters><parkpositions>" +
           POSITIONS + "</parkpositions></root>\n";
}

inline std::string param(const std::string& NAME, const std::string& VALUE)
{
    return "<parameter name=\"" + NAME + "\" value=\"" + VALUE + "\"/>";
}

class ParkingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static std::atomic<int> counter{0};
        m_dir = std::filesystem::temp_directory_path() /
                ("quillon-parking-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        gf_resetCoreForTests();
        gf_setWorkFolder(m_dir);
        gf_createWorkFolders();
        gf_resetParkingForTests();
        gf_resetWindowForTests();
        gf_resetStatusForTests();
        g_liveAcs.clear();
        g_staticAcs.clear();
        g_isMsfs2020 = true;
        g_userOnGround = true;
        AirportEntry eham;
        eham.icao = IcaoCode("EHAM");
        eham.iata = IataCode("AMS");
        eham.latitude = 52.3086;
        eham.longitude = 4.7639;
        eham.altitude = -11;
        eham.stands = 200;
        gf_setAirports({eham});
        g_parkAirport = eham;
        gf_openLog(m_dir / "Log.txt", "test");
    }

    void TearDown() override
    {
        gf_closeLog();
        g_liveAcs.clear();
        g_staticAcs.clear();
        gf_resetStandsForTests();
        gf_resetCoreForTests();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    std::string logText()
    {
        gf_flushLog();
        return readFile(m_dir / "Log.txt");
    }

    bool logHas(const std::string& TEXT) { return logText().find(TEXT) != std::string::npos; }

    // A local airport file below the working folder; returns its airport-file name.
    std::string putLocal(const std::string& NAME, const std::string& XML)
    {
        writeFile(m_dir / NAME, XML);
        return NAME;
    }

    std::filesystem::path m_dir;
};

inline const Stand* standNamed(const std::string& NAME)
{
    const auto it = std::find_if(g_stands.begin(), g_stands.end(), [&](const Stand& S) { return S.name == NAME; });
    return it == g_stands.end() ? nullptr : &*it;
}

} // namespace qmt::test
