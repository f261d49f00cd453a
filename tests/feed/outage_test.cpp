// A traffic service that fails the way the real one does: the session ends with a reader error
// instead of running on without traffic, and the restart logs in again.

#include "feed_fixture.h"

#include <thread>

#include "core/StatusLine.h"
#include "engine/Intake.h"

namespace qmt::test {
namespace {

using namespace std::chrono_literals;

Scenario lf_steadyTraffic(double SECONDS)
{
    Scenario s;
    for (double t = 0.0; t < SECONDS; t += 1.0) {
        s.reports.push_back(lf_report(0x484001, t, "KLM1"));
    }
    return s;
}

class OutageTest : public FeedTest {
protected:
    void startWith(Scenario SCENARIO, ServiceBehaviour BEHAVIOUR)
    {
        source = std::make_shared<ScenarioTrafficSource>(
            std::move(SCENARIO), [] { return lf_clockSeconds(); },
            [](std::chrono::milliseconds D) { gf_advanceClockForTests(D); }, BEHAVIOUR);
        gf_setTrafficSource(source);
        ASSERT_TRUE(gf_authenticate());
        gf_setQueryCentre(52.31, 4.76);
        g_trafficRangeNm = 20.0;
        g_acceptBatches = true;
    }
};

TEST_F(OutageTest, AnExpiredSessionEndsTheSessionWithAReaderError)
{
    ServiceBehaviour b;
    b.sessionLifetimeSeconds = 10.0;
    startWith(lf_steadyTraffic(100.0), b);
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    gf_advanceClockForTests(11s);
    EXPECT_FALSE(gf_readLiveTrafficOnce());
    EXPECT_TRUE(g_exitRequested.load());
    EXPECT_EQ(gf_exitReason(), ExitReason::readerError);
    EXPECT_NE(logText().find("the service session expired (session expired)"), std::string::npos);
    // The restart's login gives a new session that answers again.
    gf_logout();
    ASSERT_TRUE(gf_authenticate());
    EXPECT_TRUE(gf_readLiveTrafficOnce());
}

TEST_F(OutageTest, FailuresInARowEndTheSessionAfterThirtySecondsOnly)
{
    startWith(lf_steadyTraffic(100.0), {});
    source->failNext(TrafficQuery::live, 1000, "HTTP 503");
    EXPECT_FALSE(gf_readLiveTrafficOnce());
    gf_advanceClockForTests(29s);
    EXPECT_FALSE(gf_readLiveTrafficOnce());
    EXPECT_FALSE(g_exitRequested.load());
    // An answer in between starts the count again.
    source->failNext(TrafficQuery::live, 0);
    EXPECT_TRUE(gf_readLiveTrafficOnce());
    source->failNext(TrafficQuery::live, 1000, "HTTP 503");
    EXPECT_FALSE(gf_readLiveTrafficOnce());
    gf_advanceClockForTests(29s);
    EXPECT_FALSE(gf_readLiveTrafficOnce());
    EXPECT_FALSE(g_exitRequested.load());
    gf_advanceClockForTests(1s);
    EXPECT_FALSE(gf_readLiveTrafficOnce());
    EXPECT_EQ(gf_exitReason(), ExitReason::readerError);
    EXPECT_NE(gf_statusText().find("no traffic for 30 seconds (HTTP 503)"), std::string::npos);
}

TEST_F(OutageTest, ThrottlingStretchesTheQueryIntervalThatTheAnswersSet)
{
    ServiceBehaviour b;
    b.throttle = true;
    Scenario s = lf_steadyTraffic(100.0);
    s.intervalMs = 2000;
    startWith(s, b);
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    EXPECT_EQ(gf_trafficInterval(), 2000ms);
    gf_advanceClockForTests(500ms);
    const TrafficAnswer refused = source->live(gf_sessionGuid(), gf_trafficQueryBox());
    EXPECT_EQ(refused.fault, AnswerFault::throttled);
    EXPECT_FALSE(gf_readLiveTrafficOnce());
    EXPECT_EQ(gf_trafficInterval(), 4000ms);
    EXPECT_FALSE(g_exitRequested.load());
    gf_advanceClockForTests(4s);
    EXPECT_TRUE(gf_readLiveTrafficOnce());
    EXPECT_EQ(gf_trafficInterval(), 2000ms);
}

// A source whose reader thread meets an exception.
class ThrowingSource : public TrafficSource {
public:
    LoginAnswer login(const std::string&) override { return {true, "", "guid", 100}; }
    bool logout(const std::string&) override { return true; }
    TrafficAnswer live(const std::string&, const QueryBox&) override { throw std::runtime_error("bad answer"); }
    TrafficAnswer buffered(const std::string&, const QueryBox&, int) override { return {true, "", {}}; }
    ParkedAnswer parked(const std::string&, const QueryBox&) override { return {true, "", {}}; }
    WeatherAnswer weather(const std::string&, double, double) override { return {true, "", 1013.0}; }
};

TEST_F(OutageTest, AReaderThreadEndedByAnExceptionEndsTheSession)
{
    gf_resetClockForTests();
    gf_setTrafficSource(std::make_shared<ThrowingSource>());
    ASSERT_TRUE(gf_authenticate());
    g_acceptBatches = true;
    gf_startTrafficReader();
    for (int i = 0; i < 5000 && !g_exitRequested.load(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    gf_stopReaders();
    EXPECT_EQ(gf_exitReason(), ExitReason::readerError);
    EXPECT_NE(logText().find("==> Traffic Reader exception: bad answer"), std::string::npos);
    gf_resetIntakeForTests();
}

} // namespace
} // namespace qmt::test
