#include "EngineFixture.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <limits>

#include "core/Airports.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "engine/Tick.h"

namespace qmt::test {
namespace {

using IntakeTest = EngineTest;

void deliver(std::vector<LiveTrafficRecord> RECORDS, int32_t DELAY)
{
    gf_intakeTrafficBatch(RECORDS, DELAY);
    // The reader's batch is taken whole or dropped whole: nothing stays with the reader.
    EXPECT_TRUE(RECORDS.empty());
}

TEST_F(IntakeTest, PlayTicksAroundTheMedian)
{
    g_tickCounter = 1000;
    // Odd count: median 100.0.
    deliver({record(20001, "A1", "B738", 100.0), record(20002, "A2", "B738", 99.04),
             record(20003, "A3", "B738", 100.25)},
            30);
    ASSERT_EQ(g_bufferedTraffic.size(), 3u);
    EXPECT_EQ(g_bufferedTraffic[0].pos.playTick, 4000);
    EXPECT_EQ(g_bufferedTraffic[1].pos.playTick, 4000 - 100); // -9.6 rounds to -10 steps
    EXPECT_EQ(g_bufferedTraffic[2].pos.playTick, 4000 + 30);  // 2.5 rounds away from zero

    // Even count: median is the mean of the middle two (101.0).
    g_bufferedTraffic.clear();
    deliver({record(20001, "A1", "B738", 100.0), record(20002, "A2", "B738", 102.0),
             record(20003, "A3", "B738", 104.0), record(20004, "A4", "B738", 90.0)},
            30);
    ASSERT_EQ(g_bufferedTraffic.size(), 4u);
    EXPECT_EQ(g_bufferedTraffic[0].pos.playTick, 4000 - 100);
    EXPECT_EQ(g_bufferedTraffic[1].pos.playTick, 4000 + 100);
    EXPECT_EQ(g_bufferedTraffic[2].pos.playTick, 4000 + 300);
    EXPECT_EQ(g_bufferedTraffic[3].pos.playTick, 4000 - 1100);

    // One record: its own median, played DELAY seconds from now.
    g_bufferedTraffic.clear();
    deliver({record(20001, "A1", "B738", 555.5)}, 30);
    EXPECT_EQ(g_bufferedTraffic[0].pos.playTick, 4000);

    // A far outlier is clamped, not wrapped.
    g_bufferedTraffic.clear();
    deliver({record(20001, "A1", "B738", 0.0), record(20002, "A2", "B738", 1e12), record(20003, "A3", "B738", 1.0)},
            30);
    EXPECT_EQ(g_bufferedTraffic[1].pos.playTick, std::numeric_limits<int32_t>::max());
}

// Some feeds call every aircraft airborne: a slow report at the elevation of the airport it is
// at is an aircraft on the ground there (a parked airliner must not start a take-off run).
TEST_F(IntakeTest, ASlowReportAtAnAirportsElevationIsOnTheGround)
{
    gf_setAirports({AirportEntry{IcaoCode("EHAM"), IataCode("AMS"), 52.3086, 4.7639, -11, 220}});
    struct Case {
        double lat;
        double alt;
        double gs;
        bool onGround;
    };
    uint32_t hex = 20001;
    for (const Case& c : {Case{52.3, -11.0, 0.0, true}, Case{52.3, 80.0, 20.0, true}, Case{52.3, 150.0, 0.0, false},
                          Case{52.3, -11.0, 120.0, false}, Case{51.0, -11.0, 0.0, false}}) {
        LiveTrafficRecord r = record(hex, "A" + std::to_string(hex), "B738", 1000.0, c.alt, c.gs, true);
        r.pos.lat = c.lat;
        lf_mergeLiveRecord(r);
        const LiveAc* ac = gf_findLiveAc(hex++);
        ASSERT_NE(ac, nullptr);
        EXPECT_EQ(ac->stream.front().airborne == 0, c.onGround) << c.lat << " " << c.alt << " " << c.gs;
    }
    gf_clearAirports();
}

TEST_F(IntakeTest, BatchDroppedWhileThePreviousIsHeld)
{
    deliver({record(20001, "A1", "B738", 100.0)}, 30);
    deliver({record(20002, "A2", "B738", 130.0), record(20003, "A3", "B738", 130.0)}, 30);
    ASSERT_EQ(g_bufferedTraffic.size(), 1u);
    EXPECT_EQ(g_bufferedTraffic[0].hexId, 20001u);

    // Not accepted while the loop is not running.
    g_bufferedTraffic.clear();
    g_acceptBatches = false;
    deliver({record(20002, "A2", "B738", 130.0)}, 30);
    EXPECT_TRUE(g_bufferedTraffic.empty());

    // An empty batch leaves nothing waiting.
    g_acceptBatches = true;
    deliver({}, 30);
    EXPECT_TRUE(g_bufferedTraffic.empty());
}

TEST_F(IntakeTest, UnsoundRecordsDropped)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<LiveTrafficRecord> batch;
    batch.push_back(record(20001, "GOOD", "B738", 100.0));
    batch.push_back(record(20002, "T", "B738", nan));
    batch.push_back(record(20003, "LAT", "B738", 100.0));
    batch.back().pos.lat = inf;
    batch.push_back(record(20004, "GS", "B738", 100.0));
    batch.back().pos.groundSpeed = nan;
    batch.push_back(record(10000, "STATICID", "B738", 100.0));
    batch.push_back(record(20005, "GOOD2", "B738", 102.0));
    ASSERT_TRUE(gf_openLog(m_work / "Log.txt", "test"));
    deliver(std::move(batch), 30);
    gf_closeLog();
    std::ifstream in(m_work / "Log.txt", std::ios::binary);
    std::stringstream log;
    log << in.rdbuf();
    EXPECT_NE(log.str().find("gf_intakeTrafficBatch: 4 records dropped"), std::string::npos) << log.str();
    ASSERT_EQ(g_bufferedTraffic.size(), 2u);
    EXPECT_EQ(g_bufferedTraffic[0].callsign, "GOOD");
    EXPECT_EQ(g_bufferedTraffic[1].callsign, "GOOD2");
    // The median ignores the dropped records: 101.0.
    EXPECT_EQ(g_bufferedTraffic[0].pos.playTick, 3000 - 100);
}

TEST_F(IntakeTest, HistoryBatchesWaitForTheWorker)
{
    deliver({record(20001, "KLM1", "B738", 100.0)}, 0);
    deliver({record(20001, "KLM1", "B738", 106.0), record(20002, "EZY2", "A320", 106.0)}, 6);
    // The reader thread does not touch the live aircraft.
    EXPECT_TRUE(g_liveAcs.empty());
    EXPECT_TRUE(g_bufferedTraffic.empty());

    g_tickCounter = -1; // before their play tick, so the newborns wait in the buffer
    lf_handleAddingStack();
    ASSERT_EQ(g_liveAcs.size(), 2u);
    EXPECT_EQ(g_liveAcs[0].id, 20001u);
    EXPECT_EQ(g_liveAcs[0].lastReportTime, 106.0);
    EXPECT_EQ(g_liveAcs[0].stream.front().playTick, 0);
}

TEST_F(IntakeTest, TwoRecordsATickFromTheBack)
{
    std::vector<LiveTrafficRecord> batch;
    for (uint32_t i = 0; i < 5; ++i) {
        batch.push_back(record(20001 + i, "KLM" + std::to_string(i), "B738", 100.0));
    }
    deliver(std::move(batch), 30);
    lf_handleAddingStack();
    ASSERT_EQ(g_bufferedTraffic.size(), 3u);
    ASSERT_EQ(g_liveAcs.size(), 2u);
    EXPECT_EQ(g_liveAcs[0].id, 20005u);
    EXPECT_EQ(g_liveAcs[1].id, 20004u);
    lf_handleAddingStack();
    lf_handleAddingStack();
    EXPECT_TRUE(g_bufferedTraffic.empty());
    EXPECT_EQ(g_liveAcs.size(), 5u);
}

TEST_F(IntakeTest, MergeByHexIdThenCallsign)
{
    LiveAc& a = addLiveAc(20001, "KLM1");
    EXPECT_EQ(a.callsignCopy, "KLM1");
    EXPECT_EQ(a.stream.size(), 1u);

    // Same callsign and model under another hex id: the same aircraft, dropped.
    LiveTrafficRecord r = record(20002, "KLM1", "B738", 1005.0);
    lf_mergeLiveRecord(r);
    EXPECT_EQ(g_liveAcs.size(), 1u);
    // Same callsign, other model: a second aircraft.
    r = record(20003, "KLM1", "A320", 1005.0);
    lf_mergeLiveRecord(r);
    EXPECT_EQ(g_liveAcs.size(), 2u);
    // Empty callsign: always new.
    r = record(20004, "", "A320", 1005.0);
    lf_mergeLiveRecord(r);
    EXPECT_EQ(g_liveAcs.size(), 3u);

    // Hex id known, one second later: dropped (must be more than 1 s).
    r = record(20001, "KLM1", "B738", 1001.0);
    lf_mergeLiveRecord(r);
    EXPECT_EQ(gf_findLiveAc(20001)->lastReportTime, 1000.0);
    r = record(20001, "KLM1", "B738", 1001.5);
    r.pos.track = 120.0;
    lf_mergeLiveRecord(r);
    EXPECT_EQ(gf_findLiveAc(20001)->lastReportTime, 1001.5);

    // Respawning or removing aircraft take no reports.
    gf_findLiveAc(20001)->state = AcState::removingfromsim;
    r = record(20001, "KLM1", "B738", 1010.0);
    r.pos.track = 150.0;
    lf_mergeLiveRecord(r);
    EXPECT_EQ(gf_findLiveAc(20001)->lastReportTime, 1001.5);
}

TEST_F(IntakeTest, SpeedJumpsAndSteadyReportsThinned)
{
    addLiveAc(20001, "KLM1");
    auto merge = [](double TIME, double GS, double TRACK) {
        LiveTrafficRecord r = record(20001, "KLM1", "B738", TIME, 5000.0, GS, true);
        r.pos.track = TRACK;
        lf_mergeLiveRecord(r);
        return gf_findLiveAc(20001)->lastReportTime == TIME;
    };
    // The stored point has 250 kt; 2600 kt is a tenfold jump.
    EXPECT_FALSE(merge(1010.0, 2600.0, 90.0));
    // Airborne, on track, 450 kt: 450 m take 1.94 s, so 2 s later it is kept.
    gf_findLiveAc(20001)->stream.back().groundSpeed = 450.0;
    EXPECT_TRUE(merge(1002.0, 450.0, 90.0));
    // 200 kt on the same track: dropped until more than 4.37 s have passed.
    gf_findLiveAc(20001)->stream.back().groundSpeed = 200.0;
    EXPECT_FALSE(merge(1006.3, 200.0, 90.5));
    EXPECT_TRUE(merge(1006.4, 200.0, 90.5));
    // While extrapolating, steady reports are not thinned.
    gf_findLiveAc(20001)->stream.back().groundSpeed = 200.0;
    gf_findLiveAc(20001)->extrapolations = 1;
    EXPECT_TRUE(merge(1008.0, 200.0, 90.5));
}

TEST_F(IntakeTest, CategoriesAndAltitudeFilter)
{
    HELICOPTERS.set(false);
    LiveTrafficRecord r = record(20001, "HELI1", "EC35", 100.0);
    lf_mergeLiveRecord(r);
    EXPECT_TRUE(g_liveAcs.empty());
    HELICOPTERS.set(true);
    lf_mergeLiveRecord(r);
    EXPECT_EQ(g_liveAcs.size(), 1u);
    g_liveAcs.clear();
    r = record(20002, "XX1", "ZZZZ", 100.0);
    lf_mergeLiveRecord(r);
    EXPECT_TRUE(g_liveAcs.empty()); // not a valid model

    // Near the park airport's elevation a first report makes no aircraft; well above it does.
    g_parkAirport.icao = IcaoCode("EHAM");
    g_parkAirportElevation = -11.0F;
    r = record(20003, "KLM3", "B738", 100.0, 39.0);
    lf_mergeLiveRecord(r);
    EXPECT_TRUE(g_liveAcs.empty());
    r = record(20003, "KLM3", "B738", 100.0, 139.0);
    lf_mergeLiveRecord(r);
    ASSERT_EQ(g_liveAcs.size(), 1u);
    EXPECT_EQ(g_liveAcs[0].climbFactor, 0.6);
    EXPECT_EQ(g_liveAcs[0].turnFactor, 4.0);
    EXPECT_EQ(g_liveAcs[0].pitchRateLive, g_liveAcs[0].pitchRate);
}

} // namespace
} // namespace qmt::test
