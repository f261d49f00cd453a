#pragma once

// Shared set-up of the engine tests: fresh globals, a small reference world, a temporary
// working folder and helpers that make traffic records.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/AcKind.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/StopFlags.h"
#include "engine/AcLists.h"
#include "engine/Intake.h"
#include "feed/TrafficFeed.h"
#include "parking/ParkAirport.h"
#include "records/TrafficRecords.h"
#include "simlink/FlightPlan.h"
#include "simlink/SimClient.h"
#include "simlink/SimQueues.h"

namespace qmt::test {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gf_resetCoreForTests();
        gf_resetSimLinkForTests();
        gf_resetFeedForTests();
        gf_resetParkAirportForTests();
        gf_resetEngineForTests();
        g_stopSession = false;
        g_exitRequested = false;

        m_work = std::filesystem::path(QUILLON_BINARY_DIR) / "engine_test_work" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(m_work);
        std::filesystem::create_directories(m_work / "output" / "info");
        std::filesystem::create_directories(m_work / "orig_dest");
        gf_setWorkFolder(m_work);

        for (const char* m : {"A320", "B738", "B77W", "E190", "C172", "EC35", "F16"}) {
            g_validModels.insert(m);
            gf_modelId(m);
        }
        g_largeModels = {"A320", "B738"};
        g_heavyModels = {"B77W"};
        g_buzjetModels = {"E190"};
        g_rotorcraftModels = {"EC35"};
        g_highPerfModels = {"F16"};
        g_acceptBatches = true;
    }

    void TearDown() override
    {
        gf_resetEngineForTests();
        gf_resetSimLinkForTests();
        gf_resetFeedForTests();
        gf_resetCoreForTests();
    }

    static LiveTrafficRecord record(uint32_t HEX, const std::string& CALLSIGN, const std::string& MODEL,
                                    double TIME, double ALT = 5000.0, double GS = 250.0, bool AIRBORNE = true)
    {
        LiveTrafficRecord r;
        r.kind.modelId = gf_modelId(MODEL);
        r.callsign = CALLSIGN;
        r.registration = "PH-" + CALLSIGN.substr(0, 3);
        r.pos.lat = 52.3;
        r.pos.lon = 4.76;
        r.pos.alt = ALT;
        r.pos.groundSpeed = GS;
        r.pos.track = 90.0;
        r.pos.airborne = AIRBORNE ? 1 : 0;
        r.reportTime = TIME;
        r.hexId = HEX;
        return r;
    }

    // A live aircraft in the list, made through the intake path of a new record.
    static LiveAc& addLiveAc(uint32_t HEX, const std::string& CALLSIGN, const std::string& MODEL = "B738")
    {
        LiveTrafficRecord r = record(HEX, CALLSIGN, MODEL, 1000.0);
        lf_mergeLiveRecord(r);
        LiveAc* ac = gf_findLiveAc(HEX);
        EXPECT_NE(ac, nullptr);
        return *ac;
    }

    // Opens the test's own log; logText answers what it holds so far.
    void openLog() { ASSERT_TRUE(gf_openLog(m_work / "Log.txt", "test")); }
    std::string logText() const
    {
        gf_flushLog();
        std::ifstream in(m_work / "Log.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path m_work;
};

} // namespace qmt::test
