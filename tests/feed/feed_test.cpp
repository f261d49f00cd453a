#include "core/StopFlags.h"
#include "feed/feed_fixture.h"

#include <cmath>
#include <limits>

#include "core/AcKind.h"
#include "core/Airports.h"
#include "core/Parameters.h"
#include "core/Text.h"
#include "InputMutation.h"
#include "feed/FixedTrafficSource.h"
#include "platform/traffic_scenario.h"

#include <fstream>
#include <sstream>

using namespace qmt;
using namespace qmt::test;
using namespace std::chrono_literals;

namespace {

ScenarioParked lf_parked(uint32_t HEX, const std::string& CALLSIGN, const std::string& STAND, int HALF_HOUR)
{
    ScenarioParked p;
    p.report = ParkedReport{HEX, CALLSIGN, "PH-" + CALLSIGN, "B738", "KLM", 52.31, 4.76, HALF_HOUR, STAND};
    p.untilTime = std::numeric_limits<double>::infinity();
    return p;
}

std::vector<SimNotification> lf_takeNotifications()
{
    std::lock_guard lock(g_simNotifyMutex);
    return std::exchange(g_simNotifications, {});
}

} // namespace

TEST_F(FeedTest, QnhIsKeptWithinItsBounds)
{
    EXPECT_EQ(g_qnh.load(), 1013);
    EXPECT_FALSE(g_qnhReceived.load());
    EXPECT_TRUE(gf_setQnh(1018.4));
    EXPECT_EQ(g_qnh.load(), 1018);
    EXPECT_TRUE(g_qnhReceived.load());
    EXPECT_TRUE(gf_setQnh(1100.4));
    EXPECT_EQ(g_qnh.load(), 1100);
    EXPECT_TRUE(gf_setQnh(899.6));
    EXPECT_EQ(g_qnh.load(), 900);
    for (double bad : {899.4, 1100.5, 0.0, -5.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(gf_setQnh(bad)) << bad;
        EXPECT_EQ(g_qnh.load(), 900);
    }
    EXPECT_NE(logText().find("==> QNH 1100.5 hPa refused (not within 900..1100), keeping 900"), std::string::npos);
}

TEST_F(FeedTest, WeatherReaderStoresTheServiceQnh)
{
    Scenario s;
    s.qnh = {{0.0, 1021.3}};
    start(s);
    EXPECT_TRUE(gf_readWeatherOnce());
    EXPECT_EQ(g_qnh.load(), 1021);

    source->failNext(TrafficQuery::weather, 1, "HTTP 500");
    gf_setQnh(1005.0);
    EXPECT_FALSE(gf_readWeatherOnce());
    EXPECT_EQ(g_qnh.load(), 1005); // a failed query keeps the last QNH
    EXPECT_NE(logText().find("Weather Reader: query failed (1 time in a row): HTTP 500"), std::string::npos);
    EXPECT_TRUE(gf_readWeatherOnce());
    EXPECT_NE(logText().find("Weather Reader: answers again after 1 failed query"), std::string::npos);
}

TEST_F(FeedTest, AuthenticaterKeepsTheSessionUntilLogout)
{
    EXPECT_FALSE(gf_authenticate()); // no source yet
    EXPECT_FALSE(gf_readLiveTrafficOnce());
    Scenario s;
    s.intervalMs = 1500;
    start(s);
    EXPECT_FALSE(gf_sessionGuid().empty());
    EXPECT_EQ(gf_trafficInterval(), 1500ms);
    gf_advanceClockForTests(3500ms);
    EXPECT_NEAR(gf_secondsSinceApiVisit(), 3.5, 1e-6);
    gf_logout();
    EXPECT_TRUE(gf_sessionGuid().empty());
    EXPECT_EQ(source->callCount(TrafficQuery::logout), 1);
    gf_logout(); // not logged in: nothing asked
    EXPECT_EQ(source->callCount(TrafficQuery::logout), 1);
    EXPECT_FALSE(gf_readLiveTrafficOnce());

    source->failNext(TrafficQuery::login, 1, "key refused");
    EXPECT_FALSE(gf_authenticate());
    EXPECT_TRUE(gf_sessionGuid().empty());
    EXPECT_NE(logText().find("==> Authenticater: login failed: key refused"), std::string::npos);
}

TEST_F(FeedTest, LiveCallsignsAndHexIdsAreGatheredOnlyWhileTheFlagIsUp)
{
    Scenario s;
    s.reports = {lf_report(0x484001, 0.0, "KLM1"), lf_report(0x484002, 0.0, ""), lf_report(5000, 0.0, "LOW1")};
    start(s);
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    {
        std::lock_guard lock(g_bufferMutex);
        EXPECT_TRUE(g_bufferCallsigns.empty());
        EXPECT_TRUE(g_bufferHexIds.empty());
    }
    g_buffersLoaded = true;
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    {
        std::lock_guard lock(g_bufferMutex);
        EXPECT_EQ(g_bufferCallsigns, (std::unordered_set<std::string>{"KLM1"}));
        // A hex id of 10000 or less is no live aircraft: left out everywhere.
        EXPECT_EQ(g_bufferHexIds, (std::unordered_set<uint32_t>{0x484001, 0x484002}));
    }
    EXPECT_NE(logText().find("Live traffic: 1 report without a usable hex id or position left out"),
              std::string::npos);
}

TEST_F(FeedTest, BlockedCallsignIsReportedOncePerAircraftAndAgainAfterAChangeOfTheList)
{
    Scenario s;
    s.reports = {lf_report(0x484001, 0.0, "KLM1"), lf_report(0x484002, 0.0, "TRA5"),
                 lf_report(0x484003, 0.0, "EZY7")};
    start(s);
    BLOCKED_CALLSIGNS.set("KLM1, TRA5 ");
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    gf_advanceClockForTests(2s);
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    auto notes = lf_takeNotifications();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].kind, kNoteCallsignBlocked);
    EXPECT_EQ(notes[0].aircraftId, 0x484001u);
    EXPECT_EQ(notes[0].objectId, 0u);
    EXPECT_EQ(notes[1].aircraftId, 0x484002u);

    BLOCKED_CALLSIGNS.set("KLM1");
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    notes = lf_takeNotifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].aircraftId, 0x484001u);
}

TEST_F(FeedTest, ParkedTrafficIsAgedSortedAndOnePerStand)
{
    Scenario s;
    // Played at half-hour 20, recorded unshifted.
    s.parked = {lf_parked(0x484011, "KLM11", "D7", 17), lf_parked(0x484012, "KLM12", "D7", 19),
                lf_parked(0x484013, "KLM13", "D8", 20), lf_parked(0x484014, "KLM14", "", 18),
                lf_parked(0x484015, "KLM15", "", 15), lf_parked(0x484016, "KLM16", "E2", 22),
                lf_parked(0x484017, "KLM17", "E3", 10)};
    start(s);
    readerTurn = [] { gf_serveParkedRequest(); };
    MAX_FIT.set(24);
    ASSERT_TRUE(gf_getParkedTrafficAt(52.31, 4.76));
    std::vector<std::pair<std::string, int>> got;
    for (const ParkedTrafficRecord& r : g_parkedTraffic) {
        got.emplace_back(r.callsign, r.age);
    }
    // E2 was seen at 22, so yesterday: 46 half hours old, beyond MAX_FIT. D7's older report is a repeat.
    const std::vector<std::pair<std::string, int>> expected = {
        {"KLM13", 0}, {"KLM12", 1}, {"KLM14", 2}, {"KLM15", 5}, {"KLM17", 10}};
    EXPECT_EQ(got, expected);
    const ParkedTrafficRecord& first = g_parkedTraffic.front();
    EXPECT_EQ(first.hexId, 0x484013u);
    EXPECT_EQ(first.stand, "D8");
    EXPECT_EQ(gf_modelCode(first.kind.modelId), "B738");
    EXPECT_EQ(gf_airlineCode(first.kind.airlineId), "KLM");
    EXPECT_EQ(first.registration, "PH-KLM13");
    EXPECT_EQ(sleeps, 1);

    MAX_FIT.set(4);
    ASSERT_TRUE(gf_getParkedTrafficAt(52.31, 4.76));
    EXPECT_EQ(g_parkedTraffic.size(), 3u);

    // Parked traffic only: no age limit.
    RT_PARKTRAFFIC_ONLY.set(true);
    ASSERT_TRUE(gf_getParkedTrafficAt(52.31, 4.76));
    EXPECT_EQ(g_parkedTraffic.size(), 6u);
    EXPECT_EQ(g_parkedTraffic.back().callsign, "KLM16");
    EXPECT_EQ(g_parkedTraffic.back().age, 46);

    // Nothing in the box: no records available.
    EXPECT_FALSE(gf_getParkedTrafficAt(40.0, -3.0));
    EXPECT_TRUE(g_parkedTraffic.empty());
}

TEST_F(FeedTest, ParkedTrafficTimesOutAfterTenSecondsOnTheClock)
{
    Scenario s;
    s.parked = {lf_parked(0x484011, "KLM11", "D7", 17)};
    start(s);
    const TimePoint before = gf_unshiftedNow();
    EXPECT_FALSE(gf_getParkedTrafficAt(52.31, 4.76)); // no reader answers
    EXPECT_EQ(gf_unshiftedNow() - before, 10s);
    EXPECT_EQ(sleeps, 100);
    EXPECT_NE(logText().find("==> ParkedTraffic receiving timed out after 10 seconds\n"), std::string::npos);

    // The reader takes the stale request up late: its answer must not count for the next one.
    EXPECT_FALSE(gf_serveParkedRequest());
    sleeps = 0;
    int turns = 0;
    readerTurn = [&turns] {
        if (++turns == 30) { // answers after 3 s
            gf_serveParkedRequest();
        }
    };
    ASSERT_TRUE(gf_getParkedTrafficAt(52.31, 4.76));
    EXPECT_EQ(sleeps, 30);
    ASSERT_EQ(g_parkedTraffic.size(), 1u);

    // A failing query ends the wait at once.
    source->failNext(TrafficQuery::parked, 1, "HTTP 429");
    sleeps = 0;
    readerTurn = [] { gf_serveParkedRequest(); };
    EXPECT_FALSE(gf_getParkedTrafficAt(52.31, 4.76));
    EXPECT_EQ(sleeps, 1);
    EXPECT_NE(logText().find("==> ParkedTraffic query failed: HTTP 429"), std::string::npos);
}

TEST_F(FeedTest, ParkedTrafficWaitEndsWithTheSession)
{
    start(Scenario{});
    readerTurn = [this] {
        if (sleeps == 5) {
            g_stopSession = true;
        }
    };
    EXPECT_FALSE(gf_getParkedTrafficAt(52.31, 4.76));
    EXPECT_EQ(sleeps, 5);
    EXPECT_EQ(logText().find("timed out"), std::string::npos);
}

TEST_F(FeedTest, ParkedTrafficIsAskedAroundTheParkAirport)
{
    Scenario s;
    ScenarioParked near = lf_parked(0x484011, "KLM11", "D7", 19);
    ScenarioParked far = lf_parked(0x484012, "KLM12", "A1", 19);
    far.report.lat = 52.40; // 5.4 nm north
    s.parked = {near, far};
    start(s);
    readerTurn = [] { gf_serveParkedRequest(); };
    EXPECT_FALSE(gf_getParkedTraffic()); // no park airport
    EXPECT_EQ(source->callCount(TrafficQuery::parked), 0);

    g_parkAirport.icao = IcaoCode("EHAM");
    g_parkAirport.latitude = 52.3086;
    g_parkAirport.longitude = 4.7639;
    ASSERT_TRUE(gf_getParkedTraffic());
    ASSERT_EQ(g_parkedTraffic.size(), 1u);
    EXPECT_EQ(g_parkedTraffic[0].callsign, "KLM11");
}

// Callsigns and registrations reach the log and ObjectIdList.txt, whose fields ';' separates.
TEST_F(FeedTest, TextsOfTheServiceEnterWithoutControlCharactersOrSeparator)
{
    Scenario s;
    s.reports = {lf_report(0x484001, 0.0, "KLM1;x\nEvil"), lf_report(0x484002, 0.0, " TRA\x01" "5\xC2\x85\xFF ")};
    s.reports[0].registration = "PH-\rBXA;";
    ScenarioParked p = lf_parked(0x484011, "KLM\t11;", "D\n7", 20);
    p.report.registration = "PH\x7f-K;";
    p.report.lat = std::nan("");
    s.parked = {lf_parked(0x484012, "KLM;12\n", "D;8", 20), p};
    start(s);
    g_acceptBatches = true;
    ASSERT_TRUE(gf_readLiveTrafficOnce());
    std::vector<std::pair<std::string, std::string>> live;
    {
        std::lock_guard lock(g_batchMutex);
        for (const LiveTrafficRecord& r : g_bufferedTraffic) {
            live.emplace_back(r.callsign, r.registration);
        }
    }
    std::sort(live.begin(), live.end());
    const std::vector<std::pair<std::string, std::string>> expected = {{"KLM1xEvil", "PH-BXA"}, {"TRA5", "PH-BXA"}};
    EXPECT_EQ(live, expected);

    readerTurn = [] { gf_serveParkedRequest(); };
    ASSERT_TRUE(gf_getParkedTrafficAt(52.31, 4.76));
    ASSERT_EQ(g_parkedTraffic.size(), 1u) << "a parked aircraft without a position is left out";
    EXPECT_EQ(g_parkedTraffic[0].callsign, "KLM12");
    EXPECT_EQ(g_parkedTraffic[0].registration, "PH-KLM12");
    EXPECT_EQ(g_parkedTraffic[0].stand, "D8");
}

// Whatever the service answers, what reaches the engine has finite numbers and clean texts.
TEST_F(FeedTest, AnswersOfAnyNumbersGiveFiniteRecords)
{
    std::ifstream in(std::filesystem::path(QUILLON_SOURCE_DIR) / "fuzz" / "corpus" / "traffic_records" /
                     "eham_slice.jsonl");
    const std::string sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    InputMutator mutator(16);
    readerTurn = [] { gf_serveParkedRequest(); };
    std::size_t liveSeen = 0, parkedSeen = 0;
    for (int i = 0; i < 40; ++i) {
        std::istringstream text(mutator.mutate(sample));
        gf_setTrafficSource(std::make_shared<FixedTrafficSource>(gf_parseScenario(text).scenario));
        ASSERT_TRUE(gf_authenticate());
        gf_setQueryCentre(52.31, 4.76);
        g_acceptBatches = true;
        gf_readLiveTrafficOnce();
        {
            std::lock_guard lock(g_batchMutex);
            for (const LiveTrafficRecord& r : g_bufferedTraffic) {
                ASSERT_TRUE(std::isfinite(r.pos.lat) && std::isfinite(r.pos.lon) && std::isfinite(r.reportTime)) << i;
                ASSERT_TRUE(std::fabs(r.pos.lat) <= 90.0 && std::fabs(r.pos.lon) <= 180.0) << i;
                ASSERT_EQ(gf_cleanIdentText(r.callsign), r.callsign) << i;
                ++liveSeen;
            }
            g_bufferedTraffic.clear();
        }
        gf_getParkedTrafficAt(52.31, 4.76);
        for (const ParkedTrafficRecord& r : g_parkedTraffic) {
            ASSERT_TRUE(std::fabs(r.lat) <= 90.0 && std::fabs(r.lon) <= 180.0) << i;
            ASSERT_TRUE(r.age >= 0 && r.age < 48) << i;
            ++parkedSeen;
        }
    }
    EXPECT_GT(liveSeen, 100u);
    EXPECT_GT(parkedSeen, 50u);
}
