#include "ParkingTest.h"
#include "core/WeekTime.h"
#include "core/WindowState.h"

#include "core/Parameters.h"
#include "core/Random.h"

namespace qmt::test {
namespace {

constexpr double kMetreLat = 1.0 / 1852.0 / 60.0;  // one metre north in degrees

class StandTableTest : public ParkingTest {
protected:
    // Stands in a row northwards from 52.3/4.76, SPACING_M apart.
    void makeRow(int COUNT, double SPACING_M, double RADIUS_M, bool HELI = false)
    {
        for (int i = 0; i < COUNT; ++i) {
            g_stands.emplace_back("S" + std::to_string(i + 1), std::vector<StandOption>{},
                                  52.3 + i * SPACING_M * kMetreLat, 4.76, 0.0, RADIUS_M, 3, false, false, HELI);
        }
        gf_numberStandsAndAdjacency(g_stands);
    }
    static AcProfile aircraft(double HALF_SPAN_M, const std::string& CALLSIGN = "KLM1",
                              AcCategory CATEGORY = AcCategory::Large)
    {
        AcProfile p;
        p.halfSpan = HALF_SPAN_M * kNmPerMetre;
        p.callsign = CALLSIGN;
        p.category = static_cast<uint32_t>(CATEGORY);
        p.kind.airlineId = gf_airlineId("KLM");
        p.kind.modelId = gf_modelId("B738");
        return p;
    }
    static StandOption option(uint32_t DAY, const std::string& HH, uint32_t ID, const std::string& REG = "",
                              const std::string& CS = "")
    {
        StandOption o;
        o.kind.airlineId = gf_airlineId("KLM");
        o.kind.modelId = gf_modelId("B738");
        o.day = DAY;
        o.hours = gf_hours2bitset(HH);
        o.optionId = ID;
        o.real = 1;
        o.source = 1;
        o.registration = REG;
        o.callsign = CS;
        return o;
    }
};

TEST_F(StandTableTest, TooSmallStandsAreTakenOnlyWithin20mAndWidenedAtMost85m)
{
    makeRow(1, 0.0, 10.0);
    const AcProfile wide = aircraft(20.0);
    EXPECT_EQ(gf_findStandNear(52.3 - 21 * kMetreLat, 4.76, wide, 0.05, false), nullptr);
    Stand* s = gf_findStandNear(52.3 - 19 * kMetreLat, 4.76, wide, 0.05, false);
    ASSERT_NE(s, nullptr);
    EXPECT_NEAR(s->radius * kMetresPerNm, 19.0, 1e-9);
    EXPECT_EQ(s->radiusChanged, 1);
    EXPECT_EQ(g_learnedUpdates, 1u);
    EXPECT_EQ(gf_windowValues().learnedUpdates, 1u);

    // A model missing from the wing-span table must not turn the stand into a field.
    const AcProfile huge = aircraft(35.0 * 1852.0);
    s = gf_findStandNear(52.3, 4.76, huge, 0.05, false);
    ASSERT_NE(s, nullptr);
    EXPECT_NEAR(s->radius * kMetresPerNm, 85.0, 1e-6);
}

TEST_F(StandTableTest, HelipadsOnlyForRotorcraft)
{
    makeRow(3, 60.0, 30.0);
    g_stands[1].heli = 1;
    const AcProfile heli = aircraft(6.0, "PHHEL", AcCategory::Rotorcraft);
    EXPECT_EQ(gf_findStandNear(52.3, 4.76, heli, 0.05, false), nullptr);
    EXPECT_EQ(gf_findStandNear(52.3 + 60 * kMetreLat, 4.76, aircraft(17.0), 0.05, false), nullptr);
    EXPECT_EQ(gf_findStandNear(52.3 + 60 * kMetreLat, 4.76, heli, 0.05, false), &g_stands[1]);
}

TEST_F(StandTableTest, LearnedPreferenceFindsAStandBeyondTheLimit)
{
    makeRow(2, 70.0, 30.0);
    g_stands[1].options.push_back(option(1, "0:47", 1, "PH-A", "KLM1"));
    // 60 m from S2, beyond a 50 m limit, but S2 has learned this callsign.
    Stand* s = gf_findStandNear(52.3 + 130 * kMetreLat, 4.76, aircraft(17.0), 50 * kNmPerMetre, true);
    EXPECT_EQ(s, &g_stands[1]);
    EXPECT_EQ(gf_findStandNear(52.3 + 130 * kMetreLat, 4.76, aircraft(17.0), 50 * kNmPerMetre, false), nullptr);
}

TEST_F(StandTableTest, StandAtPositionAndNames)
{
    makeRow(2, 100.0, 30.0);
    EXPECT_EQ(gf_standAtPosition(52.3 + 45 * kMetreLat, 4.76), "S1");
    EXPECT_EQ(gf_standAtPosition(52.3 + 100 * kMetreLat + 54 * kMetreLat, 4.76), "S2");
    EXPECT_EQ(gf_standAtPosition(52.3 - 56 * kMetreLat, 4.76), "");
    // Another table at the same position answers from the new table.
    const std::string before = gf_standAtPosition(52.3, 4.76);
    EXPECT_EQ(before, "S1");
    gf_clearStands();
    makeRow(1, 0.0, 30.0);
    g_stands[0].name = "K9";
    EXPECT_EQ(gf_standAtPosition(52.3, 4.76), "K9");
    g_userOnGround = false;
    EXPECT_EQ(gf_standAtPosition(52.3, 4.76), "");
    gf_clearStands();
    makeRow(2, 100.0, 30.0);
    EXPECT_EQ(gf_standName(2), "S2");
    EXPECT_EQ(gf_standName(0), "sid==0?");
    EXPECT_EQ(gf_standName(3), "sid==?");
    gf_setStandOccupied(2, 1);
    gf_setStandOccupied(0, 1);
    gf_setStandOccupied(9, 1);
    EXPECT_EQ(g_stands[1].liveHere, 1);
    EXPECT_EQ(g_stands[0].liveHere, 0);
}

TEST_F(StandTableTest, FitStepSearchesEarlierHalfHoursAcrossTheWeek)
{
    makeRow(2, 100.0, 30.0);
    g_stands[0].options.push_back(option(7, "46", 1, "PH-A", "KLM1"));
    g_stands[1].options.push_back(option(3, "46", 1, "PH-B", "KLM2"));
    std::vector<StaticPosition> out;
    lf_searchStands({1, 1}, 1, 1, 3, out);  // day pass: only day 7 counts
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].standId, 1u);
    EXPECT_EQ(out[0].rank, 3);
    EXPECT_EQ(out[0].source, 1u);
    EXPECT_EQ(out[0].registration, "PH-A");
    EXPECT_EQ(out[0].preferCallsign, 1);
    EXPECT_EQ(g_stands[0].staticHere, 1);

    out.clear();
    lf_searchStands({1, 1}, 1, 0, 3, out);  // week pass: any day
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].standId, 2u);
    out.clear();
    lf_searchStands({1, 1}, 0, 0, 3, out);  // soft pass finds no real option
    EXPECT_TRUE(out.empty());
}

TEST_F(StandTableTest, OptionInUseIsSwitchedOffAndBlockedStandsSkipped)
{
    makeRow(3, 20.0, 15.0);  // neighbours overlap
    g_stands[0].options.push_back(option(2, "10", 1, "PH-A", "KLM1"));
    g_stands[2].options.push_back(option(2, "10", 1, "PH-C", "KLM3"));
    StaticPosition elsewhere;
    elsewhere.registration = "PH-A";
    g_staticPositions.push_back(elsewhere);
    std::vector<StaticPosition> out;
    lf_searchStands({2, 10}, 1, 1, 0, out);
    EXPECT_EQ(g_stands[0].options[0].optionId, 0u);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].standId, 3u);
    EXPECT_EQ(g_stands[1].blocked, 1);
    EXPECT_FALSE(lf_optionFits(g_stands[2].options[0], 1, 1, {2, 10}, g_stands[1]));

    g_recentCallsigns.insert("KLM3_");
    EXPECT_TRUE(lf_optionInUse(g_stands[2].options[0]));
}

TEST_F(StandTableTest, StandingStaticAircraftKeepsItsOption)
{
    makeRow(1, 0.0, 30.0);
    for (uint32_t i = 1; i <= 4; ++i) {
        g_stands[0].options.push_back(option(2, "10", i, "PH-" + std::to_string(i), "KLM" + std::to_string(i)));
    }
    SimAc ac;
    ac.standId = 1;
    ac.notFromParkedTraffic = 1;
    ac.callsign = "KLM3*";
    ac.kind = g_stands[0].options[2].kind;
    g_staticAcs.push_back(ac);
    for (int round = 0; round < 5; ++round) {
        std::vector<uint32_t> ids{1, 2, 3, 4};
        lf_chooseOption(ids, g_stands[0]);
        EXPECT_EQ(ids.front(), 3u);
    }
    g_staticAcs.clear();
    gf_scriptRandomDraws({0, 0, 0});
    std::vector<uint32_t> ids{1, 2, 3, 4};
    lf_chooseOption(ids, g_stands[0]);
    EXPECT_EQ(ids, (std::vector<uint32_t>{2, 3, 4, 1}));
    gf_clearRandomScript();
}

TEST_F(StandTableTest, OptionStillFitsLooksBackAcrossMidnight)
{
    makeRow(1, 0.0, 30.0);
    g_stands[0].options.push_back(option(2, "0", 1, "PH-A"));
    g_stands[0].options.push_back(option(1, "46:47", 2, "PH-A"));
    SimAc ac;
    ac.registration = "PH-A";
    ac.kind = g_stands[0].options[0].kind;
    g_realFitStep = 4;
    EXPECT_TRUE(gf_optionStillFits({2, 3}, 1, ac));
    EXPECT_FALSE(gf_optionStillFits({2, 5}, 1, ac));
    g_stands[0].options[0].hours = gf_hours2bitset("9");
    EXPECT_TRUE(gf_optionStillFits({2, 1}, 1, ac));  // 1 - 4 < 0: yesterday's 47..45
    EXPECT_FALSE(gf_optionStillFits({2, 1}, 0, ac));
    ac.registration = "PH-B";
    EXPECT_FALSE(gf_optionStillFits({2, 1}, 1, ac));
}

TEST_F(StandTableTest, CountAndMeanAgeOfStatics)
{
    g_weekTime = WeekTime{3, 10};
    SimAc a;
    a.state = AcState::active;
    a.timeStamp = WeekTime{3, 6};
    SimAc b = a;
    b.state = AcState::removingfromsim;
    b.timeStamp = WeekTime{3, 8};
    SimAc c = a;
    c.state = AcState::adding2sim;
    g_staticAcs = {a, b, c};
    EXPECT_EQ(gf_countStaticAc(true), 2u);
    EXPECT_FLOAT_EQ(gf_windowValues().meanAgeStatic, 2.0f);  // (4 + 2) / 4 + 0.5
    // A static parked on Sunday evening, counted on Monday morning, is old, not "in the future".
    g_weekTime = WeekTime{1, 2};
    g_staticAcs[0].timeStamp = WeekTime{7, 46};
    g_staticAcs[1].timeStamp = WeekTime{1, 0};
    EXPECT_EQ(gf_countStaticAc(true), 2u);
    EXPECT_FLOAT_EQ(gf_windowValues().meanAgeStatic, 2.0f);  // (4 + 2) / 4 + 0.5
}

} // namespace
} // namespace qmt::test
