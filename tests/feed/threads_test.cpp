// The reader threads against a worker on the test's thread: meant to run under
// ThreadSanitizer as well. Real threads need the real clock; nothing sleeps
// (the feed's waits only yield), and every wait has a deadline.

#include "core/StopFlags.h"
#include "feed/feed_fixture.h"

#include <thread>

#include "core/Parameters.h"
#include "engine/AcLists.h"
#include "engine/Intake.h"

using namespace qmt;
using namespace qmt::test;
using namespace std::chrono_literals;

namespace {

// Waits for CONDITION while doing the worker's WORK; false after the deadline.
template <typename Condition, typename Work>
bool lf_waitWhileWorking(Condition CONDITION, Work WORK)
{
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!CONDITION()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        WORK();
        std::this_thread::yield();
    }
    return true;
}

} // namespace

class ReaderThreadsTest : public FeedTest {
protected:
    void TearDown() override
    {
        gf_stopReaders();
        gf_resetIntakeForTests();
        gf_resetEngineForTests();
        FeedTest::TearDown();
    }
    void SetUp() override
    {
        FeedTest::SetUp();
        gf_resetEngineForTests();
        gf_resetIntakeForTests();
        gf_resetClockForTests();
        gf_setFeedSleepForTests([](std::chrono::milliseconds) { std::this_thread::yield(); });
    }
};

TEST_F(ReaderThreadsTest, ReadersServeTheWorkerAndStopPromptly)
{
    Scenario s;
    s.intervalMs = 100;
    s.playFrom = 40.0;
    for (int i = 0; i < 120; ++i) {
        s.reports.push_back(lf_report(0x484001, i * 1.0, "KLM1"));
        s.reports.push_back(lf_report(0x484002, i * 1.0 + 0.5, "TRA5"));
    }
    ScenarioParked p;
    p.report = ParkedReport{0x484011, "KLM11", "PH-BXB", "B738", "KLM", 52.31, 4.76, 0, "D7"};
    p.untilTime = 1e9;
    s.parked = {p};
    s.qnh = {{0.0, 1016.0}};
    auto src = std::make_shared<ScenarioTrafficSource>(s, [] { return lf_clockSeconds(); }, nullptr);
    gf_setTrafficSource(src);
    ASSERT_TRUE(gf_authenticate());
    gf_setQueryCentre(52.31, 4.76);
    g_trafficRangeNm = 20.0;
    g_acceptBatches = true;
    BLOCKED_CALLSIGNS.set("TRA5");
    RT_PARKTRAFFIC_ONLY.set(true);

    gf_startWeatherReader();
    gf_startTrafficReader();

    // The worker's share: ticks, range changes, query box moves, batches taken.
    int turn = 0;
    int liveBatches = 0;
    int historyBatches = 0;
    auto work = [&turn, &liveBatches, &historyBatches] {
        ++g_tickCounter;
        ++turn;
        g_trafficRangeNm = 20.0 + (turn % 3);
        gf_setQueryCentre(52.31 + (turn % 2) * 0.001, 4.76);
        std::lock_guard lock(g_batchMutex);
        liveBatches += g_bufferedTraffic.empty() ? 0 : 1;
        g_bufferedTraffic.clear();
        historyBatches += static_cast<int>(g_historyBatches.size());
        g_historyBatches.clear();
    };
    ASSERT_TRUE(lf_waitWhileWorking([&liveBatches] { return liveBatches >= 3 && g_qnhReceived.load(); }, work));
    EXPECT_EQ(historyBatches, 5);
    EXPECT_EQ(g_qnh.load(), 1016);

    ASSERT_TRUE(gf_getParkedTraffic() || gf_getParkedTrafficAt(52.31, 4.76));
    ASSERT_EQ(g_parkedTraffic.size(), 1u);

    g_buffersLoaded = true;
    std::unordered_set<std::string> callsigns;
    ASSERT_TRUE(lf_waitWhileWorking(
        [&callsigns] {
            std::lock_guard lock(g_bufferMutex);
            callsigns.insert(g_bufferCallsigns.begin(), g_bufferCallsigns.end());
            g_bufferCallsigns.clear();
            return callsigns.size() == 2;
        },
        work));
    EXPECT_TRUE(g_buffersLoaded.exchange(false));

    ASSERT_TRUE(lf_waitWhileWorking(
        [] {
            std::lock_guard lock(g_simNotifyMutex);
            return !g_simNotifications.empty();
        },
        work));

    const auto before = std::chrono::steady_clock::now();
    gf_stopReaders();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_GE(src->callCount(TrafficQuery::buffered), 5);
    EXPECT_GE(src->callCount(TrafficQuery::live), 1);
    EXPECT_GE(src->callCount(TrafficQuery::weather), 1);
    EXPECT_EQ(src->callCount(TrafficQuery::parked), 1);
}

TEST_F(ReaderThreadsTest, StopFlagOfTheSessionEndsTheReaders)
{
    Scenario s;
    s.intervalMs = 60000; // the reader would wait a minute for its next turn
    auto src = std::make_shared<ScenarioTrafficSource>(s, [] { return lf_clockSeconds(); }, nullptr);
    gf_setTrafficSource(src);
    ASSERT_TRUE(gf_authenticate());
    gf_startTrafficReader();
    gf_startWeatherReader();
    ASSERT_TRUE(lf_waitWhileWorking([] { return g_trafficReceived.load(); }, [] {}));
    const auto before = std::chrono::steady_clock::now();
    g_stopSession = true;
    gf_stopReaders();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    g_stopSession = false;
}
