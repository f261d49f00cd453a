#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "core/Clock.h"
#include "core/Log.h"
#include "core/Reset.h"
#include "core/StopFlags.h"
#include "engine/Intake.h"
#include "feed/TrafficFeed.h"
#include "parking/ParkAirport.h"
#include "platform/traffic_standin.h"
#include "simlink/SimQueues.h"

namespace qmt::test {

// 2026-12-07 10:00:00 UTC, a Monday: half-hour 20.
inline constexpr int64_t kEpoch = 1796637600;

inline double lf_clockSeconds()
{
    return std::chrono::duration<double>(gf_unshiftedNow().time_since_epoch()).count();
}

inline TrafficReport lf_report(uint32_t HEX, double T, const std::string& CALLSIGN, double LAT = 52.31,
                               double LON = 4.76)
{
    TrafficReport r;
    r.hexId = HEX;
    r.callsign = CALLSIGN;
    r.registration = "PH-BXA";
    r.model = "B738";
    r.origin = "LHR";
    r.destination = "AMS";
    r.lat = LAT;
    r.lon = LON;
    r.altitudeFt = 2000.0;
    r.groundSpeedKt = 150.0;
    r.airspeedKt = 155.0;
    r.trackDeg = 181.0;
    r.verticalRateFpm = -700.0;
    r.reportTime = T;
    return r;
}

// Feed state from scratch, the settable clock at kEpoch, the log in a temporary folder,
// and the feed's 100 ms waits passed on that clock (running `readerTurn` as the reader
// thread would, when set).
class FeedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gf_resetCoreForTests();
        gf_resetFeedForTests();
        gf_resetSimQueuesForTests();
        gf_resetParkAirportForTests();
        // The reader hands its batches to the engine's intake, as after start-up.
        gf_resetIntakeForTests();
        g_stopSession = false;
        g_exitRequested = false;
        gf_setClockForTests(TimePoint(std::chrono::seconds(kEpoch)));
        static std::atomic<int> counter{0};
        m_dir = std::filesystem::temp_directory_path()
            / ("quillon_feed_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(m_dir);
        ASSERT_TRUE(gf_openLog(m_dir / "Log.txt", "test"));
        gf_setFeedSleepForTests([this](std::chrono::milliseconds D) {
            ++sleeps;
            gf_advanceClockForTests(D);
            if (readerTurn) {
                readerTurn();
            }
        });
    }

    void TearDown() override
    {
        gf_resetFeedForTests();
        gf_resetIntakeForTests();
        gf_closeLog();
        gf_resetSimQueuesForTests();
        gf_resetParkAirportForTests();
        gf_resetCoreForTests();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    // Plays SCENARIO from now on and logs in.
    void start(Scenario SCENARIO)
    {
        source = std::make_shared<ScenarioTrafficSource>(
            std::move(SCENARIO), [] { return lf_clockSeconds(); },
            [](std::chrono::milliseconds D) { gf_advanceClockForTests(D); });
        gf_setTrafficSource(source);
        ASSERT_TRUE(gf_authenticate());
        gf_setQueryCentre(52.31, 4.76);
        g_trafficRangeNm = 20.0;
    }

    std::string logText()
    {
        gf_flushLog();
        std::ifstream in(m_dir / "Log.txt");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    std::shared_ptr<ScenarioTrafficSource> source;
    std::function<void()> readerTurn;
    int sleeps = 0;

private:
    std::filesystem::path m_dir;
};

} // namespace qmt::test
