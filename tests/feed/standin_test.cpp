#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "TestFolder.h"
#include "platform/TrafficSource.h"
#include "platform/traffic_standin.h"

#include <fmt/format.h>

#include <filesystem>
#include <fstream>
#include <functional>

using namespace qmt;
using namespace std::chrono_literals;

namespace {

// 2026-12-07 10:00:00 UTC: half-hour 20 of the day.
constexpr double kEpoch = 1796637600.0;

TrafficReport lf_report(uint32_t HEX, double T, double LAT, double LON)
{
    TrafficReport r;
    r.hexId = HEX;
    r.callsign = "KLM" + std::to_string(HEX % 1000);
    r.model = "B738";
    r.lat = LAT;
    r.lon = LON;
    r.reportTime = T;
    return r;
}

struct StandinTest : ::testing::Test {
    double now = kEpoch;
    std::vector<std::chrono::milliseconds> slept;
    Scenario scenario;

    std::unique_ptr<ScenarioTrafficSource> make()
    {
        return std::make_unique<ScenarioTrafficSource>(
            scenario, [this] { return now; },
            [this](std::chrono::milliseconds D) {
                slept.push_back(D);
                now += std::chrono::duration<double>(D).count();
            });
    }
};

const QueryBox kAroundEham = gf_queryBoxAround(52.31, 4.76, 20.0);

} // namespace

TEST(QueryBox, AroundAPositionAndAcrossTheAntimeridian)
{
    const QueryBox b = gf_queryBoxAround(52.0, 4.0, 30.0);
    EXPECT_NEAR(b.north - b.south, 1.0, 1e-9);
    EXPECT_TRUE(b.contains(52.4, 4.7));
    EXPECT_FALSE(b.contains(52.6, 4.0));
    EXPECT_FALSE(b.contains(52.0, 4.9));

    const QueryBox d = gf_queryBoxAround(-17.0, 179.9, 30.0);
    EXPECT_GT(d.west, d.east);
    EXPECT_TRUE(d.contains(-17.0, -179.9));
    EXPECT_TRUE(d.contains(-17.0, 179.8));
    EXPECT_FALSE(d.contains(-17.0, 0.0));

    const QueryBox p = gf_queryBoxAround(89.9, 10.0, 30.0);
    EXPECT_TRUE(p.contains(89.95, -170.0));
}

TEST_F(StandinTest, LiveAnswersTheLatestReportInTheBoxAndForgetsQuietAircraft)
{
    scenario.playFrom = 100.0;
    scenario.reports = {lf_report(0x484001, 90.0, 52.31, 4.76), lf_report(0x484001, 99.0, 52.32, 4.76),
                        lf_report(0x484001, 105.0, 52.33, 4.76), lf_report(0x484002, 30.0, 52.30, 4.75),
                        lf_report(0x484003, 98.0, 55.00, 4.76)};
    auto source = make();
    const LoginAnswer login = source->login("key");
    ASSERT_TRUE(login.ok);

    TrafficAnswer a = source->live(login.guid, kAroundEham);
    ASSERT_TRUE(a.ok);
    // 0x484002 went quiet 70 s ago, 0x484003 is outside the box.
    ASSERT_EQ(a.reports.size(), 1u);
    EXPECT_DOUBLE_EQ(a.reports[0].lat, 52.32);
    EXPECT_DOUBLE_EQ(a.reports[0].reportTime, kEpoch - 1.0); // on the player's clock

    now += 6.0;
    a = source->live(login.guid, kAroundEham);
    ASSERT_EQ(a.reports.size(), 1u);
    EXPECT_DOUBLE_EQ(a.reports[0].lat, 52.33);

    const TrafficAnswer b = source->buffered(login.guid, kAroundEham, 12);
    ASSERT_EQ(b.reports.size(), 1u);
    EXPECT_DOUBLE_EQ(b.reports[0].lat, 52.31);
    EXPECT_FALSE(source->buffered(login.guid, kAroundEham, -1).ok);
}

TEST_F(StandinTest, QueriesNeedTheSessionOfTheLastLogin)
{
    auto source = make();
    const LoginAnswer first = source->login("key");
    const LoginAnswer second = source->login("key");
    ASSERT_TRUE(second.ok);
    EXPECT_NE(first.guid, second.guid);
    EXPECT_FALSE(source->live(first.guid, kAroundEham).ok);
    EXPECT_TRUE(source->live(second.guid, kAroundEham).ok);
    EXPECT_TRUE(source->logout(second.guid));
    EXPECT_FALSE(source->logout(second.guid));
    const TrafficAnswer after = source->live(second.guid, kAroundEham);
    EXPECT_FALSE(after.ok);
    EXPECT_EQ(after.error, "not logged in");
}

TEST_F(StandinTest, ParkedHalfHoursFollowThePlayingClockAndMovingAircraftLeave)
{
    scenario.startHalfHour = 20;
    scenario.playFrom = 0.0;
    ScenarioParked stays;
    stays.report = ParkedReport{0x484010, "KLM1", "PH-BXA", "B738", "KLM", 52.31, 4.76, 16, "D7"};
    stays.untilTime = 1e9;
    ScenarioParked leaves = stays;
    leaves.report.hexId = 0x484011;
    leaves.report.stand = "D8";
    leaves.report.halfHour = 19;
    leaves.untilTime = 60.0;
    ScenarioParked far = stays;
    far.report.lat = 53.5;
    scenario.parked = {stays, leaves, far};
    now = kEpoch + 5 * 1800.0; // played at half-hour 25 instead of 20
    auto source = make();
    const std::string guid = source->login("key").guid;

    ParkedAnswer a = source->parked(guid, gf_queryBoxAround(52.31, 4.76, 3.0));
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.parked.size(), 2u);
    EXPECT_EQ(a.parked[0].halfHour, 21); // still four half hours old
    EXPECT_EQ(a.parked[1].halfHour, 24);

    now += 61.0;
    a = source->parked(guid, gf_queryBoxAround(52.31, 4.76, 3.0));
    ASSERT_EQ(a.parked.size(), 1u);
    EXPECT_EQ(a.parked[0].stand, "D7");

    // Across midnight the half-hour wraps.
    scenario.startHalfHour = 2;
    now = kEpoch;
    auto wrapped = make();
    const ParkedAnswer w = wrapped->parked(wrapped->login("key").guid, gf_queryBoxAround(52.31, 4.76, 3.0));
    ASSERT_FALSE(w.parked.empty());
    EXPECT_EQ(w.parked[0].halfHour, 34); // 16 - 2 + 20
}

TEST_F(StandinTest, WeatherGivesTheLastQnhReported)
{
    scenario.qnh = {{0.0, 1018.4}, {600.0, 1017.6}};
    scenario.playFrom = 300.0;
    auto source = make();
    const std::string guid = source->login("key").guid;
    EXPECT_DOUBLE_EQ(source->weather(guid, 52.3, 4.7).qnhHpa, 1018.4);
    now += 301.0;
    EXPECT_DOUBLE_EQ(source->weather(guid, 52.3, 4.7).qnhHpa, 1017.6);

    scenario.qnh.clear();
    auto none = make();
    EXPECT_DOUBLE_EQ(none->weather(none->login("k").guid, 0, 0).qnhHpa, 1013.25);
}

TEST_F(StandinTest, InjectedFailuresAndDelays)
{
    scenario.reports = {lf_report(0x484001, 0.0, 52.31, 4.76)};
    auto source = make();
    const std::string guid = source->login("key").guid;

    source->failNext(TrafficQuery::live, 2, "HTTP 503");
    TrafficAnswer a = source->live(guid, kAroundEham);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, "HTTP 503");
    EXPECT_FALSE(source->live(guid, kAroundEham).ok);
    EXPECT_TRUE(source->live(guid, kAroundEham).ok);
    EXPECT_EQ(source->callCount(TrafficQuery::live), 3);
    EXPECT_TRUE(source->weather(guid, 0, 0).ok); // other queries unaffected

    source->setDelay(TrafficQuery::parked, 2500ms);
    const double before = now;
    EXPECT_TRUE(source->parked(guid, kAroundEham).ok);
    ASSERT_EQ(slept.size(), 1u);
    EXPECT_EQ(slept[0], 2500ms);
    EXPECT_DOUBLE_EQ(now - before, 2.5);

    source->failNext(TrafficQuery::login, 1);
    EXPECT_FALSE(source->login("key").ok);
    EXPECT_TRUE(source->login("key").ok);
}

// The roughness of a real feed, drawn from the seed: the same seed plays the same answers.
TEST_F(StandinTest, DuplicatesOutOfOrderReportsAndGapsWithoutDroppingTheAircraft)
{
    for (int t = 0; t < 600; ++t) {
        scenario.reports.push_back(lf_report(0x484001, t, 52.31 + t * 1e-4, 4.76));
    }
    ServiceBehaviour b;
    b.seed = 3;
    b.duplicatePerThousand = 100;
    b.outOfOrderPerThousand = 100;
    b.gapPerThousand = 100;
    const auto play = [&] {
        now = kEpoch;
        auto source = std::make_unique<ScenarioTrafficSource>(scenario, [this] { return now; }, nullptr, b);
        const std::string guid = source->login("key").guid;
        std::vector<std::vector<double>> answers;
        for (; now < kEpoch + 590.0; now += 2.0) {
            const TrafficAnswer a = source->live(guid, kAroundEham);
            std::vector<double> times;
            for (const TrafficReport& r : a.reports) {
                times.push_back(r.reportTime);
            }
            answers.push_back(times);
        }
        return answers;
    };
    const auto answers = play();
    EXPECT_EQ(play(), answers);
    bool duplicate = false;
    bool older = false;
    double newest = 0.0;
    double lastDistinct = kEpoch;
    double longestGap = 0.0;
    for (const auto& times : answers) {
        ASSERT_FALSE(times.empty()); // never dropped during a gap
        duplicate = duplicate || times.size() == 2;
        const double t = times.back();
        older = older || t < newest;
        if (t > newest) {
            longestGap = std::max(longestGap, t - lastDistinct);
            lastDistinct = t;
            newest = t;
        }
    }
    EXPECT_TRUE(duplicate);
    EXPECT_TRUE(older);
    EXPECT_GE(longestGap, 15.0);
    EXPECT_LE(longestGap, 43.0);
}

TEST_F(StandinTest, ASessionExpiresAfterItsLifetime)
{
    ServiceBehaviour b;
    b.sessionLifetimeSeconds = 30.0;
    auto source = std::make_unique<ScenarioTrafficSource>(scenario, [this] { return now; }, nullptr, b);
    const std::string guid = source->login("key").guid;
    now += 29.0;
    EXPECT_TRUE(source->live(guid, kAroundEham).ok);
    now += 2.0;
    const TrafficAnswer expired = source->live(guid, kAroundEham);
    EXPECT_FALSE(expired.ok);
    EXPECT_EQ(expired.fault, AnswerFault::sessionExpired);
    EXPECT_FALSE(source->weather(guid, 0, 0).ok);
    EXPECT_TRUE(source->live(source->login("key").guid, kAroundEham).ok);
}

// A scenario played from its file, its reports held only while a query can answer them, answers
// every live and buffered query as the scenario held whole does, with the roughness of the real
// service, aircraft that leave for minutes and come back, and laps of a looped scenario; and it
// holds two minutes of reports.
TEST_F(StandinTest, AStreamedScenarioAnswersAsTheWholeOneAndHoldsTwoMinutes)
{
    constexpr int kAircraft = 40;
    constexpr double kSeconds = 1000.0;  // of the scenario; it plays 2200 s
    const std::filesystem::path file = qmt::test::gf_testFolder("standin") / "busy.jsonl";
    std::filesystem::create_directories(file.parent_path());
    {
        std::ofstream out(file);
        for (double t = 0.0; t < kSeconds; t += 0.05) {
            const int i = static_cast<int>(std::lround(t / 0.05)) % kAircraft;
            // Every aircraft reports every 2 s; every fifth is away from 400 s to 700 s.
            if (std::fmod(t, 2.0) > 1.99 || (i % 5 == 0 && t > 400.0 && t < 700.0)) {
                continue;
            }
            const TrafficReport r = lf_report(0x484000 + i, t, 52.0 + 0.001 * t / 10.0 + 0.01 * i, 4.76);
            out << fmt::format(R"({{"type":"live","t":{:.2f},"hex":"{:x}","cs":"{}","model":"B738","lat":{:.6f},)"
                               R"("lon":4.76,"alt":3000,"gs":250,"tas":260,"trk":90,"vr":0,"gnd":false}})",
                               r.reportTime, r.hexId, r.callsign, r.lat)
                << "\n";
        }
    }
    ScenarioParseResult whole;
    std::string error;
    ASSERT_TRUE(gf_readScenarioFile(file, whole, error)) << error;
    ServiceBehaviour rough = gf_realServiceBehaviour(7, 0.0);
    rough.throttle = false;
    rough.duplicatePerThousand = 100;
    rough.outOfOrderPerThousand = 150;
    rough.gapPerThousand = 40;
    const QueryBox everywhere = gf_queryBoxAround(52.5, 4.76, 200.0);
    // Each source starts its scenario at the epoch.
    const auto answers = [&](const std::function<std::unique_ptr<ScenarioTrafficSource>()>& MAKE, std::size_t& HELD) {
        std::vector<std::vector<std::pair<uint32_t, double>>> all;
        now = kEpoch;
        const std::unique_ptr<ScenarioTrafficSource> SOURCE = MAKE();
        const std::string guid = SOURCE->login("key").guid;
        for (; now < kEpoch + 2200.0; now += 2.0) {
            std::vector<TrafficAnswer> asked = {SOURCE->live(guid, everywhere)};
            if (std::fmod(now - kEpoch, 200.0) == 0.0) {
                for (const int ago : {30, 24, 18, 12, 6}) {
                    asked.push_back(SOURCE->buffered(guid, everywhere, ago));
                }
            }
            for (const TrafficAnswer& a : asked) {
                all.emplace_back();
                for (const TrafficReport& r : a.reports) {
                    all.back().emplace_back(r.hexId, r.reportTime);
                }
            }
            HELD = std::max(HELD, SOURCE->heldReports());
        }
        return all;
    };
    const double last = whole.scenario.reports.back().reportTime;
    for (const bool loop : {false, true}) {
        rough.loop = loop;
        ServiceBehaviour keepAll = rough;
        keepAll.heldSeconds = 1.0e9;
        std::size_t heldWhole = 0;
        std::size_t heldStreamed = 0;
        const auto expected = answers(
            [&] { return std::make_unique<ScenarioTrafficSource>(whole.scenario, [this] { return now; }, nullptr, keepAll); },
            heldWhole);
        const auto streamed = answers(
            [&] {
                return std::make_unique<ScenarioTrafficSource>(
                    Scenario{}, std::make_unique<ScenarioReportStream>(file, last), [this] { return now; }, nullptr, rough);
            },
            heldStreamed);
        ASSERT_EQ(streamed.size(), expected.size());
        for (std::size_t i = 0; i < streamed.size(); ++i) {
            ASSERT_EQ(streamed[i], expected[i]) << "answer " << i << (loop ? " looped" : "");
        }
        EXPECT_GT(heldWhole, whole.scenario.reports.size() / 2);
        EXPECT_LE(heldStreamed, static_cast<std::size_t>(2 * kAircraft * (ScenarioTrafficSource::kHeldSeconds / 2.0 + 3.0)));
        EXPECT_GT(std::count_if(streamed.begin(), streamed.end(), [](const auto& A) { return !A.empty(); }),
                  static_cast<std::ptrdiff_t>(loop ? 1000 : 450));
    }
    std::filesystem::remove_all(file.parent_path());
}

TEST_F(StandinTest, ByDefaultASessionLastsHoursAsTheRealServicesDo)
{
    auto source = make();
    const std::string guid = source->login("key").guid;
    now += 3.9 * 3600.0;
    EXPECT_TRUE(source->live(guid, kAroundEham).ok);
    now += 0.2 * 3600.0;
    EXPECT_EQ(source->live(guid, kAroundEham).fault, AnswerFault::sessionExpired);
}

// In a looped scenario the aircraft of one airline and model trade registrations after a drawn
// number of laps: every lap flies each registration once, and a registration comes back to the
// same flight for one lap or for several, so that a stand learns stays of varying length. A
// fleet of one keeps its registration.
TEST_F(StandinTest, ALoopedFleetTradesRegistrationsAfterLapsOfVaryingNumber)
{
    scenario.playFrom = 0.0;
    const std::vector<std::string> fleet = {"PH-BXA", "PH-BXB", "PH-BXC"};
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        TrafficReport r = lf_report(0x484001 + static_cast<uint32_t>(i), 1.0 + static_cast<double>(i), 52.31, 4.76);
        r.registration = fleet[i];
        scenario.reports.push_back(r);
    }
    TrafficReport alone = lf_report(0x400001, 5.0, 52.31, 4.76);
    alone.callsign = "DAL46";
    alone.model = "B763";
    alone.registration = "N196DL";
    scenario.reports.push_back(alone);
    TrafficReport last = scenario.reports.front();
    last.reportTime = 60.0;
    scenario.reports.push_back(last);
    ServiceBehaviour b;
    b.loop = true;
    b.seed = 11;
    auto source = std::make_unique<ScenarioTrafficSource>(scenario, [this] { return now; }, nullptr, b);
    const std::string guid = source->login("key").guid;
    std::vector<std::string> firstFlight;  // the registration of the fleet's first flight, lap by lap
    for (int lap = 0; lap < 40; ++lap) {
        now = kEpoch + lap * 60.0 + 6.0;
        // The lap's flights by the scenario's hex id, and their registrations.
        std::map<uint32_t, std::string> byFlight;
        for (const TrafficReport& r : source->live(guid, kAroundEham).reports) {
            if (r.reportTime > now - 5.5)  // this lap's, not the last report of the lap before
                byFlight[(r.hexId - static_cast<uint32_t>(lap) * 0x3F1) & 0xFFFFFFu] = r.registration;
        }
        ASSERT_EQ(byFlight.size(), 4u) << "lap " << lap;
        EXPECT_EQ(byFlight[0x400001], "N196DL") << "lap " << lap;
        std::vector<std::string> flown = {byFlight[0x484001], byFlight[0x484002], byFlight[0x484003]};
        firstFlight.push_back(flown.front());
        std::sort(flown.begin(), flown.end());
        EXPECT_EQ(flown, fleet) << "lap " << lap;
    }
    EXPECT_EQ(firstFlight.front(), "PH-BXA");
    std::set<int> stays;  // laps in a row under one registration
    int run = 1;
    for (std::size_t i = 1; i < firstFlight.size(); ++i) {
        if (firstFlight[i] == firstFlight[i - 1]) {
            ++run;
        } else {
            stays.insert(run);
            run = 1;
        }
    }
    EXPECT_GE(stays.size(), 3u);
    EXPECT_TRUE(stays.count(1) == 1 && *stays.rbegin() >= 3) << stays.size();
}

TEST_F(StandinTest, ALoopedScenarioComesAgainWithFreshIdsAndShiftedTimes)
{
    scenario.playFrom = 0.0;
    scenario.reports = {lf_report(0x484001, 0.0, 52.31, 4.76), lf_report(0x484001, 100.0, 52.32, 4.76)};
    ServiceBehaviour b;
    b.loop = true;
    auto source = std::make_unique<ScenarioTrafficSource>(scenario, [this] { return now; }, nullptr, b);
    const std::string guid = source->login("key").guid;
    struct Case {
        double at;          // seconds after the start
        std::size_t count;  // aircraft answered
        uint32_t hexId;     // of the newest
        const char* callsign;
        double reportedAgo; // seconds before now of the newest report
    };
    // Lap 1 starts at 100 s; the aircraft of lap 0 is answered beside it until its report is
    // 60 s old.
    const Case cases[] = {{50.0, 1, 0x484001, "KLM977", 50.0},
                          {120.0, 2, 0x484001 + 0x3F1, "KLM984", 20.0},
                          {170.0, 0, 0, "", 0.0},
                          {250.0, 2, 0x484001 + 2 * 0x3F1, "KLM991", 50.0}};
    for (const Case& c : cases) {
        now = kEpoch + c.at;
        const TrafficAnswer a = source->live(guid, kAroundEham);
        ASSERT_EQ(a.reports.size(), c.count) << c.at;
        if (c.count == 0)
            continue;
        const TrafficReport& newest = a.reports.back();
        EXPECT_EQ(newest.hexId, c.hexId) << c.at;
        EXPECT_EQ(newest.callsign, c.callsign) << c.at;
        EXPECT_DOUBLE_EQ(now - newest.reportTime, c.reportedAgo) << c.at;
    }
}
