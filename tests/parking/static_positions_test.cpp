// How many static aircraft the park airport gets, where, and as which aircraft.
#include "StaticParkingTest.h"

#include "engine/Commands.h"

#include <fmt/format.h>

#include <random>

namespace qmt::test {
namespace {

class StaticPositionsTest : public StaticParkingTest {
protected:
    static std::vector<std::string> standsOfPositions()
    {
        std::vector<std::string> names;
        for (const StaticPosition& p : g_staticPositions) {
            names.push_back(gf_standName(p.standId) + "/" + std::to_string(p.rank));
        }
        return names;
    }
};

TEST_F(StaticPositionsTest, WantedCountFollowsStandsPercentageAndLimit)
{
    struct Case {
        int stands;
        int percentage;  // custom percentage
        int maxSelected;
        int64_t wanted;
        int shownPercent;
    };
    for (const Case c : {Case{0, 30, 100, 1, 0}, Case{2, 30, 100, 1, 50}, Case{3, 40, 100, 1, 33},
                         Case{2, 50, 100, 1, 50}, Case{3, 50, 100, 2, 67}, Case{10, 30, 100, 3, 30},
                         Case{600, 30, 100, 100, 17}, Case{8, 30, 0, 0, 30}}) {
        makeStands(c.stands);
        CUSTOM_PARKING_PERCENTAGE.set(c.percentage);
        MAX_PARK_SEL.set(c.maxSelected);
        EXPECT_EQ(lf_wantedStaticCount(), c.wanted) << c.stands << " stands at " << c.percentage << "%";
        EXPECT_EQ(gf_windowValues().wantedStatics, c.wanted);
        EXPECT_EQ(gf_windowValues().wantedPercent, c.shownPercent) << c.stands << " stands";
    }
    CUSTOM_PARKING_PERCENTAGE.set(-1);
    MAX_PARK_SEL.set(100);
    makeStands(10);
    EXPECT_EQ(lf_wantedStaticCount(), 3);  // parking_percentage 30
}

// The passes in their order: real/day, real/week, soft/day; fit steps go back across midnight.
TEST_F(StaticPositionsTest, PassesAndFitStepsReachBackIntoTheWeek)
{
    makeStands(3);
    addOption(0, option(7, "46", "PH-BXA", "KLM1"));  // reached from Monday 00:30 at step 3
    addOption(1, option(3, "0:47", "PH-BXB", "KLM2"));  // any half-hour, but Wednesday
    StandOption soft = option(1, "1", "PH-BXC", "KLM3");
    soft.real = 0;
    addOption(2, soft);
    MAX_FIT.set(5);
    WEEK.set(true);
    PARK_SOFT.set(true);
    lf_addPositions({1, 1}, 3, 0);
    EXPECT_EQ(standsOfPositions(), (std::vector<std::string>{"S1/3", "S2/0", "S3/0"}));
    EXPECT_EQ(g_realFitStep, 5);
    EXPECT_EQ(g_softFitStep, 0);
    EXPECT_TRUE(logHas("1 real position found, Max fit=24.0 hours, day 1, hh:1 or 1.0 hrs, fit: 3.0 hour"));
    EXPECT_TRUE(logHas("1 week/real position found"));
    EXPECT_TRUE(logHas("1 soft position found"));
    EXPECT_TRUE(gf_windowValues().softMark);
    EXPECT_TRUE(gf_windowValues().weekMark);

    // A day pass alone finds only the day-7 option.
    g_staticPositions.clear();
    for (Stand& s : g_stands) {
        s.staticHere = 0;
    }
    WEEK.set(false);
    PARK_SOFT.set(false);
    lf_addPositions({1, 1}, 3, 0);
    EXPECT_EQ(standsOfPositions(), (std::vector<std::string>{"S1/3"}));
}

TEST_F(StaticPositionsTest, TheFullCalculationTakesParkedTrafficThenLearnedOptionsBestFirst)
{
    makeStands(8);
    CUSTOM_PARKING_PERCENTAGE.set(50);  // 4 of 8
    startTraffic({servicePark(0x484001, "KLM11", "PH-BXA", "B738", 0, 3),
                  servicePark(0x484002, "KLM12", "PH-BXB", "B738", 1, 1)});
    addOption(5, option(1, "20", "PH-BXC", "KLM13"));
    addOption(6, option(1, "18", "PH-BXD", "KLM14"));
    addOption(7, option(1, "10", "PH-BXE", "KLM15"));
    g_stands[5].options[0].optionId = 0;  // switched off by an earlier calculation: counts again
    lf_calculateStaticPositions();
    // Created from the back: the smallest rank first.
    EXPECT_EQ(standsOfPositions(), (std::vector<std::string>{"S1/3", "S7/2", "S2/1", "S6/0"}));
    EXPECT_EQ(g_staticPositions.front().sourceId, 0x484001u);
    EXPECT_EQ(g_staticPositions.back().callsign, "KLM13");
    EXPECT_EQ(g_staticPositions.back().source, 1u);
    EXPECT_TRUE(logHas("It is day 1 (Mon), 11.0 hours"));
    EXPECT_TRUE(logHas("2 parking positions from PT"));
    EXPECT_TRUE(logHas("2 real positions found"));
    EXPECT_TRUE(logHas("4 positions (50% vs wanted 30%, with Max fit=24.0 hours)"));
    EXPECT_TRUE(g_parkBusy);  // until the positions are created
}

TEST_F(StaticPositionsTest, WithoutStaticParkingNothingIsAskedOrKept)
{
    makeStands(8);
    startTraffic({servicePark(0x484001, "KLM11", "PH-BXA", "B738", 0, 3)});
    addOption(5, option(1, "20", "PH-BXC", "KLM13"));
    MAX_PARK_SEL.set(0);
    lf_calculateStaticPositions();
    EXPECT_TRUE(g_staticPositions.empty());
    EXPECT_EQ(source->callCount(TrafficQuery::parked), 0);
    EXPECT_TRUE(logHas("no parking positions found"));
    EXPECT_FALSE(g_parkBusy);
}

TEST_F(StaticPositionsTest, WithParkedTrafficOnlyThePositionsAreNotCut)
{
    makeStands(8);
    CUSTOM_PARKING_PERCENTAGE.set(10);  // 1 of 8
    RT_PARKTRAFFIC_ONLY.set(true);
    startTraffic({servicePark(0x484001, "KLM11", "PH-BXA", "B738", 0, 3),
                  servicePark(0x484002, "KLM12", "PH-BXB", "B738", 1, 1),
                  servicePark(0x484003, "KLM13", "PH-BXC", "B738", 2, 2)});
    addOption(5, option(1, "20", "PH-BXD", "KLM14"));
    lf_calculateStaticPositions();
    EXPECT_EQ(standsOfPositions(), (std::vector<std::string>{"S1/3", "S3/2", "S2/1"}));
    EXPECT_TRUE(logHas("3 positions from RT parktraffic only"));
}

TEST_F(StaticPositionsTest, ParkedAircraftThatAreLiveOrRecentGetNoPosition)
{
    makeStands(8);
    CUSTOM_PARKING_PERCENTAGE.set(100);
    liveAc(0x484009, "KLM9", "PH-BXE");
    liveAc(0x484099, "KLM20_", "PH-ZZX");
    g_recentHexIds = {0x484007};
    g_recentCallsigns = {"KLM18_"};
    g_parkedTraffic = {parkedRecord(0x484009, "KLM19", "PH-ZZA", 0, 1),   // same hex id
                       parkedRecord(0x484002, "KLM9", "PH-ZZB", 1, 1),    // same callsign
                       parkedRecord(0x484003, "KLM20", "PH-ZZC", 2, 1),   // its ghost is live
                       parkedRecord(0x484004, "KLM21", "PH-BXE", 3, 1),   // same registration
                       parkedRecord(0x484007, "KLM22", "PH-ZZD", 4, 1),   // recently seen live
                       parkedRecord(0x484008, "KLM18", "PH-ZZE", 5, 1),   // its ghost recently live
                       parkedRecord(0x484010, "", "PH-ZZF", 6, 1),        // no callsign
                       parkedRecord(0x484011, "KLM23", "PH-ZZG", 7, 4)};
    ParkedTrafficRecord far = parkedRecord(0x484012, "KLM24", "PH-BXB", 7, 2);
    far.lon += 0.01;
    far.stand = "X1";
    g_parkedTraffic.push_back(far);
    lf_positionsFromParkedTraffic();
    EXPECT_EQ(standsOfPositions(), (std::vector<std::string>{"S8/4"}));
    EXPECT_EQ(gf_airlineCode(g_staticPositions[0].kind.airlineId), "KLM");  // from the callsign
    EXPECT_TRUE(logHas("[X1        :   484012 KLM24    B738        , hh:18 ===> no stand for PT 50.006299,5.010000"));
}

// Another service aircraft already standing there: the older of the two stays; the one to go is
// removed through the one removal road, and only an active aircraft of this airport counts.
TEST_F(StaticPositionsTest, TheCalculationKeepsTheYoungerOfTwoAircraftOnAStand)
{
    makeStands(8);
    CUSTOM_PARKING_PERCENTAGE.set(100);
    const WeekTime now = g_weekTime.load();
    SimAc& older = staticAc(1, "KLM31*", 1, 0, now.minus(2));
    SimAc& younger = staticAc(2, "KLM32*", 2, 0, now.minus(2));
    SimAc& leaving = staticAc(3, "KLM33*", 3, 0, now.minus(2));
    leaving.state = AcState::removingfromsim;
    g_parkedTraffic = {parkedRecord(0x484001, "KLM41", "PH-BXA", 0, 1), parkedRecord(0x484002, "KLM42", "PH-BXB", 1, 5),
                       parkedRecord(0x484003, "KLM43", "PH-BXC", 2, 1),
                       parkedRecord(0x484004, "KLM44", "PH-BXD", 1, 6)};  // the stand that stays is planned
    lf_positionsFromParkedTraffic();
    lf_removeListedStatics();
    EXPECT_EQ(older.state, AcState::removingfromsim);
    EXPECT_EQ(std::count(g_removalDeque.begin(), g_removalDeque.end(), older.objectId), 1);
    EXPECT_EQ(younger.state, AcState::active);
    EXPECT_EQ(std::count(g_removalDeque.begin(), g_removalDeque.end(), leaving.objectId), 0);
    ASSERT_EQ(g_staticPositions.size(), 3u);
    EXPECT_EQ(g_staticPositions[0].callsign, "KLM41");
    EXPECT_EQ(g_staticPositions[1].callsign, "KLM32");  // the one that stays, at its own age
    EXPECT_EQ(g_staticPositions[1].rank, 2);
    EXPECT_EQ(g_staticPositions[2].callsign, "KLM43");
    EXPECT_TRUE(g_staticRemovals.empty());
}

} // namespace
} // namespace qmt::test

namespace qmt::test {
namespace {

// The fit step through the option slots finds exactly what the plain walk over every option finds.
TEST_F(StaticPositionsTest, TheFastFitStepMatchesThePlainOne)
{
    std::mt19937 rng(5);
    makeStands(40, 40.0);  // neighbours overlap
    const char* registrations[] = {"PH-BXA", "PH-BXB", "PH-BVA", "PH-EZB", "PH-HSA", "PH-MPS"};
    for (int i = 0; i < 40; ++i) {
        for (int k = 0; k < 12; ++k) {
            const uint32_t first = rng() % 44;
            StandOption o = option(1 + rng() % 7, fmt::format("{}:{}", first, first + rng() % 4), registrations[rng() % 6],
                                   fmt::format("KLM{}", rng() % 30));
            o.real = rng() % 4 == 0 ? 0 : 1;
            addOption(i, o);
        }
    }
    for (uint32_t id = 1; id <= 6; ++id) {
        staticAc(id, fmt::format("KLM{}*", id), 1 + rng() % 40, rng() % 2, g_weekTime.load(), registrations[id - 1]);
    }
    const std::vector<Stand> table = g_stands;
    for (uint32_t real : {0u, 1u}) {
        for (uint32_t day : {0u, 1u}) {
            std::vector<StaticPosition> plain;
            std::vector<StaticPosition> fast;
            g_stands = table;
            gf_seedRngForTests(3);
            for (uint32_t step = 0; step < 48; ++step) {
                lf_searchStands({1, 20}, real, day, step, plain);
            }
            const std::vector<Stand> afterPlain = g_stands;
            g_stands = table;
            gf_seedRngForTests(3);
            const OptionSlots slots = gf_optionSlots(real);
            for (uint32_t step = 0; step < 48; ++step) {
                lf_searchStands({1, 20}, real, day, step, fast, &slots);
            }
            ASSERT_EQ(fast.size(), plain.size()) << "real " << real << " day " << day;
            EXPECT_GT(plain.size(), 5u);
            for (size_t i = 0; i < plain.size(); ++i) {
                EXPECT_EQ(fast[i].standId, plain[i].standId);
                EXPECT_EQ(fast[i].rank, plain[i].rank);
                EXPECT_EQ(fast[i].callsign, plain[i].callsign);
            }
            for (size_t i = 0; i < table.size(); ++i) {
                EXPECT_EQ(g_stands[i].blocked, afterPlain[i].blocked);
                for (size_t k = 0; k < table[i].options.size(); ++k) {
                    EXPECT_EQ(g_stands[i].options[k].optionId, afterPlain[i].options[k].optionId);
                }
            }
        }
    }
}

} // namespace
} // namespace qmt::test
