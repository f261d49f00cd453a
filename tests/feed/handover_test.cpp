// The Traffic Reader's answers handed to the intake: the five history batches at
// start with delays 0 to 24, then live batches with delay 30, one held at a time.

#include "feed/feed_fixture.h"

#include <cmath>
#include <numbers>

#include "core/AcKind.h"
#include "core/Parameters.h"
#include "engine/AcLists.h"
#include "engine/Intake.h"

using namespace qmt;
using namespace qmt::test;
using namespace std::chrono_literals;

namespace {

constexpr int32_t kTick = 5000;

class HandOverTest : public FeedTest {
protected:
    void SetUp() override
    {
        FeedTest::SetUp();
        gf_resetEngineForTests();
        gf_resetIntakeForTests();
        g_tickCounter = kTick;
    }
    void TearDown() override
    {
        gf_resetIntakeForTests();
        gf_resetEngineForTests();
        FeedTest::TearDown();
    }

    // One aircraft reporting every second from 0 to 200 s; played from second 100.
    void startOneAircraft()
    {
        Scenario s;
        s.playFrom = 100.0;
        for (int i = 0; i <= 200; ++i) {
            TrafficReport r = lf_report(0x484001, i, "KLM1");
            r.lat = 52.0 + i * 0.001; // the latitude tells which second was answered
            s.reports.push_back(r);
        }
        start(s);
    }

    // The scenario second an answered record was reported at.
    static double lf_second(const LiveTrafficRecord& R) { return std::round((R.pos.lat - 52.0) / 0.001); }
};

} // namespace

TEST_F(HandOverTest, HistoryBatchesPlayBeforeTheFirstLiveOne)
{
    startOneAircraft();
    gf_loadHistoryTraffic();
    std::vector<std::vector<LiveTrafficRecord>> batches;
    {
        std::lock_guard lock(g_batchMutex);
        batches = g_historyBatches;
    }
    ASSERT_EQ(batches.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
        ASSERT_EQ(batches[k].size(), 1u);
        // Delay 6k: played 6k seconds from now, reported 30 - 6k seconds ago.
        EXPECT_EQ(batches[k][0].pos.playTick, kTick + 600 * static_cast<int32_t>(k));
        EXPECT_EQ(lf_second(batches[k][0]), 70.0 + 6.0 * k);
    }
    EXPECT_EQ(source->callCount(TrafficQuery::buffered), 5);

    g_acceptBatches = true;
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    EXPECT_TRUE(g_trafficReceived.load());
    EXPECT_EQ(g_trafficCount.load(), 1);
    std::lock_guard lock(g_batchMutex);
    ASSERT_EQ(g_bufferedTraffic.size(), 1u);
    EXPECT_EQ(g_bufferedTraffic[0].pos.playTick, kTick + 3000);
    EXPECT_EQ(lf_second(g_bufferedTraffic[0]), 100.0);
    // So each reported second plays 30 s after it happened, buffered or live.
}

TEST_F(HandOverTest, AFailedBufferedAnswerIsSkippedAndTheRestStillCome)
{
    startOneAircraft();
    source->failNext(TrafficQuery::buffered, 2, "HTTP 502");
    gf_loadHistoryTraffic();
    std::lock_guard lock(g_batchMutex);
    ASSERT_EQ(g_historyBatches.size(), 3u);
    EXPECT_EQ(g_historyBatches[0][0].pos.playTick, kTick + 1200);
    EXPECT_NE(logText().find("==> Traffic Reader: buffered traffic (30 s) failed: HTTP 502"), std::string::npos);
}

TEST_F(HandOverTest, ALiveBatchIsDroppedWhileThePreviousOneIsHeld)
{
    startOneAircraft();
    // Before the main loop runs, live batches are not taken over at all.
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    {
        std::lock_guard lock(g_batchMutex);
        EXPECT_TRUE(g_bufferedTraffic.empty());
    }
    g_acceptBatches = true;
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    gf_advanceClockForTests(2s);
    ASSERT_TRUE(gf_readLiveTrafficOnce()); // the worker has not taken the first one yet
    {
        std::lock_guard lock(g_batchMutex);
        ASSERT_EQ(g_bufferedTraffic.size(), 1u);
        EXPECT_EQ(lf_second(g_bufferedTraffic[0]), 100.0);
        g_bufferedTraffic.clear(); // the worker takes it
    }
    gf_advanceClockForTests(2s);
    g_tickCounter = kTick + 400;
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    std::lock_guard lock(g_batchMutex);
    ASSERT_EQ(g_bufferedTraffic.size(), 1u);
    EXPECT_EQ(lf_second(g_bufferedTraffic[0]), 104.0);
    EXPECT_EQ(g_bufferedTraffic[0].pos.playTick, kTick + 400 + 3000);
}

TEST_F(HandOverTest, RecordsCarryTheReportAsTheEngineReadsIt)
{
    Scenario s;
    TrafficReport r = lf_report(0x484001, 0.0, "KLM1723");
    r.rollDeg = -15.0;
    r.trueHeadingDeg = 90.0;
    TrafficReport ground = lf_report(0x484002, 0.0, "TRA5");
    ground.onGround = true;
    ground.model.clear();
    ground.origin = "AMSX"; // longer than a code: only its first three characters are kept
    TrafficReport blocked = lf_report(0x484003, 0.0, "EZY7");
    s.reports = {r, ground, blocked};
    start(s);
    BLOCKED_CALLSIGNS.set("EZY7");
    g_acceptBatches = true;
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    EXPECT_EQ(g_trafficCount.load(), 2);
    std::lock_guard lock(g_batchMutex);
    ASSERT_EQ(g_bufferedTraffic.size(), 2u); // the blocked callsign is left out
    const LiveTrafficRecord& a = g_bufferedTraffic[0];
    EXPECT_EQ(a.hexId, 0x484001u);
    EXPECT_EQ(gf_modelCode(a.kind.modelId), "B738");
    EXPECT_EQ(a.kind.airlineId, 0); // the parser sets the model only
    EXPECT_EQ(a.origin, "LHR");
    EXPECT_EQ(a.destination, "AMS");
    EXPECT_EQ(a.callsign, "KLM1723");
    EXPECT_EQ(a.registration, "PH-BXA");
    EXPECT_TRUE(a.callsignCopy.empty());
    EXPECT_TRUE(a.extraText.empty());
    EXPECT_EQ(a.learnedStandChecked, 0);
    EXPECT_DOUBLE_EQ(a.pos.lat, 52.31);
    EXPECT_DOUBLE_EQ(a.pos.alt, 2000.0);
    EXPECT_DOUBLE_EQ(a.pos.groundSpeed, 150.0);
    EXPECT_DOUBLE_EQ(a.pos.track, 181.0);
    EXPECT_DOUBLE_EQ(a.pos.verticalRate, -700.0);
    EXPECT_DOUBLE_EQ(a.pos.airspeed, 155.0);
    EXPECT_EQ(a.pos.airborne, 1);
    EXPECT_EQ(a.pos.hasRoll, 1);
    EXPECT_DOUBLE_EQ(a.pos.roll, -15.0 * std::numbers::pi / 180.0);
    EXPECT_EQ(a.pos.hasTrueHeading, 1);
    EXPECT_DOUBLE_EQ(a.pos.trueHeading, std::numbers::pi / 2.0);
    EXPECT_DOUBLE_EQ(a.reportTime, static_cast<double>(kEpoch));

    const LiveTrafficRecord& b = g_bufferedTraffic[1];
    EXPECT_EQ(b.pos.airborne, 0);
    EXPECT_EQ(b.kind.modelId, 0);
    EXPECT_EQ(b.origin, "AMS");
    EXPECT_EQ(b.pos.hasRoll, 0);
    EXPECT_EQ(b.pos.hasTrueHeading, 0);
}

TEST_F(HandOverTest, AnEmptyAnswerSetsTheTrafficCountToZero)
{
    Scenario s;
    s.reports = {lf_report(0x484001, 0.0, "KLM1")};
    start(s);
    g_acceptBatches = true;
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    EXPECT_EQ(g_trafficCount.load(), 1);
    gf_advanceClockForTests(61s); // the aircraft has gone quiet
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    EXPECT_EQ(g_trafficCount.load(), 0);
    EXPECT_TRUE(g_trafficReceived.load()); // an empty sky is an answer too
}
