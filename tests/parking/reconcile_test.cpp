// The park change at a loaded park airport: who stays, who goes, what is added.
#include "StaticParkingTest.h"

#include "engine/Commands.h"

namespace qmt::test {
namespace {

class ReconcileTest : public StaticParkingTest {
protected:
    void SetUp() override
    {
        StaticParkingTest::SetUp();
        loadLiveries();
    }

    // A learned static aircraft named CALLSIGN* with its two learned names.
    static SimAc& learnedStatic(uint32_t ID, uint32_t STAND_ID, const std::string& SECOND, const std::string& THIRD,
                                WeekTime PARKED, const std::string& REGISTRATION = "PH-BXA")
    {
        SimAc& ac = staticAc(ID, SECOND + "*", STAND_ID, 1, PARKED, REGISTRATION);
        ac.callsignCopy = SECOND;
        ac.extraText = THIRD;
        return ac;
    }
};

// A learned aircraft whose stay under its callsign ends now is re-created under its further
// name; the new one keeps the time the old one parked, and waits for it to leave its stand.
TEST_F(ReconcileTest, ARenewalKeepsTheParkingTime)
{
    makeStands(4);
    CUSTOM_PARKING_PERCENTAGE.set(25);  // 1 of 4
    startTraffic({});
    addOption(0, option(1, "15:20", "PH-BXA", "KLM1", "KLM2"));
    const WeekTime now = g_weekTime.load();
    SimAc& old = learnedStatic(1, 1, "KLM1", "KLM2", now.minus(5));
    const uint32_t oldObject = old.objectId;
    gf_applyParkTrafficChanges(false);
    EXPECT_EQ(gf_statusText(), "Parking adjustments: 1 to be removed, 1 to be added\n");
    EXPECT_TRUE(logHas("Parking adjustments: 1 to be removed, 1 to be added\n\n"));
    ASSERT_EQ(g_staticPositions.size(), 1u);
    const StaticPosition& renewal = g_staticPositions[0];
    EXPECT_EQ(renewal.rank, 5);  // an age, not a clock value
    EXPECT_EQ(renewal.callsign, "KLM1");
    EXPECT_EQ(renewal.furtherName, "KLM2");
    EXPECT_EQ(renewal.preferCallsign, 0);
    EXPECT_EQ(g_staticAcs[0].state, AcState::removingfromsim);
    EXPECT_EQ(g_removalDeque, std::deque<uint32_t>{oldObject});

    lf_detcs();  // the old one is still there
    EXPECT_EQ(g_staticAcs.size(), 1u);
    g_staticAcs.clear();  // the simulator reported it removed
    g_tickCounter += 50;
    lf_detcs();
    ASSERT_EQ(g_staticAcs.size(), 1u);
    EXPECT_EQ(g_staticAcs[0].callsign, "KLM2*");
    EXPECT_EQ(g_staticAcs[0].timeStamp, now.minus(5));
}

TEST_F(ReconcileTest, ParkedTrafficAircraftStayGoOrComeByTheServicesList)
{
    makeStands(6);
    CUSTOM_PARKING_PERCENTAGE.set(50);  // 3 of 6
    const WeekTime now = g_weekTime.load();
    startTraffic({servicePark(0x484001, "KLM11", "PH-BXA", "B738", 0, 4),
                  servicePark(0x484002, "KLM12", "PH-BXB", "B738", 1, 4),
                  servicePark(0x484003, "KLM13", "PH-BXC", "B738", 2, 1)});
    SimAc& stays = staticAc(1, "KLM11*", 1, 0, now.minus(4), "PH-BXA");
    stays.parkedTrafficId = 0x484001;
    SimAc& moving = staticAc(2, "KLM12*", 2, 0, now.minus(4), "PH-BXB");
    moving.parkedTrafficId = 0x484002;
    g_bufferHexIds = {0x484002};  // gathered while the change was armed: it is flying now
    gf_applyParkTrafficChanges(false);
    EXPECT_EQ(source->callCount(TrafficQuery::parked), 1);  // asked once per change
    EXPECT_EQ(stays.state, AcState::active);
    EXPECT_EQ(moving.state, AcState::removingfromsim);
    ASSERT_EQ(g_staticPositions.size(), 1u);
    EXPECT_EQ(g_staticPositions[0].callsign, "KLM13");
    EXPECT_TRUE(logHas("1 new parking position from PT"));
    EXPECT_EQ(gf_statusText(), "Parking adjustments: 1 to be removed, 1 to be added\n");
}

TEST_F(ReconcileTest, LearnedAircraftStayWhileTheirOptionsStillFit)
{
    makeStands(6);
    CUSTOM_PARKING_PERCENTAGE.set(50);
    MAX_FIT.set(4);  // an option still fits when it covers one of the last 4 half-hours
    startTraffic({});
    const WeekTime now = g_weekTime.load();
    addOption(0, option(1, "10:30", "PH-BXA", "KLM1"));
    addOption(1, option(1, "10:12", "PH-BXB", "KLM2"));  // its stay ended long ago
    addOption(2, option(1, "10:30", "PH-BXC", "KLM3"));
    SimAc& fits = learnedStatic(1, 1, "KLM1", "", now.minus(2), "PH-BXA");
    SimAc& over = learnedStatic(2, 2, "KLM2", "", now.minus(8), "PH-BXB");
    SimAc& seenLive = learnedStatic(3, 3, "KLM3", "", now.minus(2), "PH-BXC");
    g_bufferCallsigns = {"KLM3"};
    gf_applyParkTrafficChanges(false);
    EXPECT_EQ(fits.state, AcState::active);
    EXPECT_EQ(over.state, AcState::removingfromsim);
    EXPECT_EQ(seenLive.state, AcState::removingfromsim);
    EXPECT_TRUE(g_staticPositions.empty());  // the options of the freed stands do not fit now either
}

// A static aircraft and a position too near it: the one that parked later goes. Ages, not week
// slots: Sunday night is earlier than Monday morning.
TEST_F(ReconcileTest, TheYoungerOfAStaticAndANearPositionGoes)
{
    makeStands(2);
    g_weekTime = WeekTime{1, 1};
    struct Case {
        int positionAge;
        bool stays;
    };
    for (const Case c : {Case{3, true}, Case{2, true}, Case{1, false}, Case{0, false}}) {
        g_keptStatics.clear();
        g_staticRemovals.clear();
        g_staticAcs.clear();
        const SimAc& ac = learnedStatic(1, 1, "KLM1", "", WeekTime{7, 47});  // parked Sunday 23:30
        StaticPosition near;
        near.source = 1;
        near.standId = 2;
        near.rank = c.positionAge;
        g_staticPositions = {near};
        lf_keepOrRemoveByAge(ac, 0);
        EXPECT_EQ(g_keptStatics.size(), c.stays ? 1u : 0u) << c.positionAge;
        EXPECT_EQ(g_staticPositions.empty(), c.stays) << c.positionAge;
        EXPECT_EQ(lf_isListedForRemoval("KLM1*", 1), !c.stays) << c.positionAge;
    }
}

TEST_F(ReconcileTest, SwitchingToParkedTrafficOnlyRenewsEveryLearnedAircraft)
{
    makeStands(4);
    startTraffic({});
    learnedStatic(1, 1, "KLM1", "", g_weekTime.load());
    learnedStatic(2, 3, "KLM2", "", g_weekTime.load(), "PH-BXB");
    RT_PARKTRAFFIC_ONLY.set(true);
    gf_applyParkTrafficChanges(true);
    EXPECT_EQ(g_staticAcs[0].state, AcState::removingfromsim);
    EXPECT_EQ(g_staticAcs[1].state, AcState::removingfromsim);
    EXPECT_EQ(gf_statusText(), "ParkTraffic changes: 2 to be removed, 0 to be added");
}

TEST_F(ReconcileTest, MoreLiveParkedThanWantedLoseTheLongestParked)
{
    makeStands(4);
    CUSTOM_PARKING_PERCENTAGE.set(25);  // 1 of 4
    startTraffic({});
    LiveAc& a = parkedLive(0x484001, "KLM1", 1, 10);
    LiveAc& b = parkedLive(0x484002, "KLM2", 2, 50);
    LiveAc& c = parkedLive(0x484003, "KLM3", 3, 30);
    gf_applyParkTrafficChanges(false);
    EXPECT_TRUE(logHas("Parking adjustments: 2 more live ac than wanted"));
    EXPECT_EQ(a.state, AcState::active);
    EXPECT_EQ(b.state, AcState::removingfromsim);
    EXPECT_EQ(c.state, AcState::removingfromsim);
    EXPECT_EQ(gf_statusText(), "Parking adjustments: 0 to be removed, 0 to be added\n");
}

} // namespace
} // namespace qmt::test
