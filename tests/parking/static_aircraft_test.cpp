// Static aircraft made one at a time from the positions, removed all at once, and the live
// aircraft parked at the park airport.
#include "StaticParkingTest.h"

#include "engine/Commands.h"

namespace qmt::test {
namespace {

class StaticAircraftTest : public StaticParkingTest {
protected:
    void SetUp() override
    {
        StaticParkingTest::SetUp();
        loadLiveries();
        makeStands(3, 50.0);  // 50 m apart: neighbours overlap
    }

    static StaticPosition position(uint32_t STAND_ID, const std::string& CALLSIGN, const std::string& REGISTRATION,
                                   int32_t RANK = 0)
    {
        StaticPosition p;
        p.sourceId = 0x484001;
        p.source = 0;
        p.standId = STAND_ID;
        p.rank = RANK;
        p.kind = gf_findRegRecord(REGISTRATION).value_or(AcKind{});
        p.callsign = CALLSIGN;
        p.registration = REGISTRATION;
        p.preferCallsign = 1;
        return p;
    }

    // One creation attempt of the pacing for this position.
    static void create(StaticPosition POSITION)
    {
        g_staticPositions.push_back(std::move(POSITION));
        lf_detcs();
    }
};

TEST_F(StaticAircraftTest, ShownCallsigns)
{
    EXPECT_EQ(lf_staticCallsign("ABC123_"), "ABC123*");
    EXPECT_EQ(lf_staticCallsign("ABC123*"), "ABC123*");
    EXPECT_EQ(lf_staticCallsign("ABC__"), "ABC*");
}

TEST_F(StaticAircraftTest, APositionBecomesAStaticAircraftOnItsStand)
{
    create(position(2, "KLM11_", "PH-BXA", 3));
    ASSERT_EQ(g_staticAcs.size(), 1u);
    const SimAc& ac = g_staticAcs[0];
    EXPECT_EQ(ac.callsign, "KLM11*");
    EXPECT_EQ(ac.callsignCopy, "KLM11_");
    EXPECT_EQ(ac.id, 1u);
    EXPECT_EQ(ac.standId, 2u);
    EXPECT_EQ(ac.state, AcState::adding2sim);
    EXPECT_EQ(ac.timeStamp, g_weekTime.load().minus(3));  // it parked three half-hours ago
    EXPECT_EQ(ac.parkedTrafficId, 0x484001u);
    EXPECT_EQ(ac.notFromParkedTraffic, 0u);
    EXPECT_EQ(ac.liveryTitle, "AIG Boeing 737-800 KLM Royal Dutch Airlines (PH-BXA)");
    ASSERT_EQ(g_staticAddingDeque.size(), 1u);
    const AiCreateRequest& r = g_staticAddingDeque.front();
    EXPECT_DOUBLE_EQ(r.initPos.Latitude, g_stands[1].latitude);
    EXPECT_DOUBLE_EQ(r.initPos.Longitude, g_stands[1].longitude);
    EXPECT_EQ(r.initPos.OnGround, 1u);
    EXPECT_EQ(r.callsign, "KLM11*");
    EXPECT_EQ(r.aircraftId, 1u);

    // Named by the further name, or by the airline and the static id when it has no callsign.
    g_staticAcs.clear();
    StaticPosition further = position(1, "KLM12", "PH-BXB");
    further.furtherName = "KLM13_";
    further.preferCallsign = 0;
    create(further);
    EXPECT_EQ(g_staticAcs.back().callsign, "KLM13*");
    g_staticAcs.clear();
    create(position(3, "", "PH-BXC"));
    EXPECT_EQ(g_staticAcs.back().callsign, "KLM3*");
}

TEST_F(StaticAircraftTest, APositionIsRefusedWhereAnAircraftStandsOrComes)
{
    LiveAc& live = parkedLive(0x484501, "KLM51", 1, 10);
    create(position(1, "KLM11", "PH-BXA"));
    EXPECT_TRUE(logHas("S1      : no static parking for KLM11, live aircraft KLM51 standing here"));
    live.flightState = FlightState::parking;  // still on its way, to the neighbour of S2
    create(position(2, "KLM12", "PH-BXA"));
    EXPECT_TRUE(logHas("S2      : no static parking for KLM12, live aircraft KLM51 is adjacent at S1, possibly colliding"));
    g_liveAcs.clear();
    staticAc(7, "KLM71*", 3, 1, g_weekTime.load());
    create(position(3, "KLM13", "PH-BXA"));
    EXPECT_TRUE(logHas("S3      : no static parking for KLM13, static aircraft KLM71* is adjacent at S3, possibly colliding"));
    g_staticAcs.clear();
    g_stands[0].liveHere = 1;
    create(position(1, "KLM14", "PH-BXA"));
    EXPECT_TRUE(logHas("S1      : no static parking for KLM14, live aircraft occupies the stand"));
    create(position(9, "KLM15", "PH-BXA"));
    EXPECT_TRUE(logHas("==> stand with id sid==? not found"));
    EXPECT_TRUE(g_staticAcs.empty());
    EXPECT_TRUE(g_staticPositions.empty());
}

// Ids run 1..9999 and wrap; they never are 0 nor the id of a static aircraft still there.
TEST_F(StaticAircraftTest, StaticIdsSkipZeroAndIdsInUse)
{
    staticAc(1, "KLM1*", 1, 1, g_weekTime.load());
    staticAc(2, "KLM2*", 2, 1, g_weekTime.load());
    EXPECT_EQ(lf_nextStaticId(), 3u);
    uint32_t id = 0;
    for (int i = 0; i < 9996; ++i) {
        id = lf_nextStaticId();
    }
    EXPECT_EQ(id, 9999u);
    EXPECT_EQ(lf_nextStaticId(), 3u);
}

// A new aircraft for a stand whose old one is being removed waits for it to leave.
TEST_F(StaticAircraftTest, AReplacementWaitsForTheAircraftItReplaces)
{
    SimAc& old = staticAc(7, "KLM71*", 1, 1, g_weekTime.load());
    removeAircraftFromSim(old, "test");
    create(position(1, "KLM11", "PH-BXA"));
    EXPECT_EQ(g_staticAcs.size(), 1u);
    ASSERT_EQ(g_staticPositions.size(), 1u);  // back, for a later pacing slot
    g_tickCounter += 50;
    lf_detcs();
    EXPECT_EQ(g_staticPositions.size(), 1u);
    g_staticAcs.clear();  // the simulator reported it removed
    g_tickCounter += 50;
    lf_detcs();
    ASSERT_EQ(g_staticAcs.size(), 1u);
    EXPECT_EQ(g_staticAcs[0].callsign, "KLM11*");
    EXPECT_FALSE(logHas("no static parking"));

    // One that never leaves is given up after 30 s.
    g_staticAcs.clear();
    SimAc& stuck = staticAc(8, "KLM81*", 2, 1, g_weekTime.load());
    removeAircraftFromSim(stuck, "test");
    create(position(2, "KLM12", "PH-BXA"));
    g_tickCounter += kReplacementWaitTicks - 1;
    lf_detcs();
    EXPECT_EQ(g_staticPositions.size(), 1u);
    g_tickCounter += 1;
    lf_detcs();
    EXPECT_TRUE(g_staticPositions.empty());
    EXPECT_TRUE(logHas("S2      : no static parking for KLM12, static aircraft KLM81* is adjacent at S2"));
}

// A replacement waiting for its stand keeps its place; the positions behind it are created.
TEST_F(StaticAircraftTest, AWaitingReplacementLetsTheOthersThrough)
{
    makeStands(5, 50.0);  // S1-S2, S2-S3, S3-S4 and S4-S5 overlap
    SimAc& old = staticAc(7, "KLM71*", 1, 1, g_weekTime.load());
    removeAircraftFromSim(old, "replaced");
    g_staticPositions = {position(3, "KLM13", "PH-BXB"), position(5, "KLM15", "PH-BXC"),
                         position(1, "KLM11", "PH-BXA")};
    for (int pass = 0; pass < 20; ++pass) {  // 10 s of the pacing
        lf_detcs();
        g_tickCounter += 50;
    }
    EXPECT_EQ(g_staticAcs.size(), 3u);  // the leaving one and the two behind the waiting one
    ASSERT_EQ(g_staticPositions.size(), 1u);
    EXPECT_EQ(g_staticPositions[0].callsign, "KLM11");
}

TEST_F(StaticAircraftTest, RemovingAllStaticsTakesEachItsWay)
{
    create(position(1, "KLM11", "PH-BXA"));  // its request still queued
    create(position(3, "KLM13", "PH-BXB"));
    AiCreateRequest sent = g_staticAddingDeque.back();  // already with the simulator
    g_staticAddingDeque.pop_back();
    SimAc& active = staticAc(9, "KLM19*", 2, 1, g_weekTime.load());
    const uint32_t object = active.objectId;
    gf_removeAllStaticAc();
    EXPECT_TRUE(g_staticAddingDeque.empty());
    ASSERT_EQ(g_staticAcs.size(), 2u);
    EXPECT_EQ(g_staticAcs[0].callsign, "KLM13*");
    EXPECT_EQ(g_staticAcs[0].removeWhenCreated, 1);
    EXPECT_EQ(g_staticAcs[1].state, AcState::removingfromsim);
    EXPECT_EQ(g_removalDeque, std::deque<uint32_t>{object});
    (void)sent;
}

TEST_F(StaticAircraftTest, LiveAircraftParkedTooLongAreRemoved)
{
    parkedLive(0x484001, "KLM1", 1, 91);
    parkedLive(0x484002, "KLM2", 2, 89);
    LiveAc& heavy = parkedLive(0x484003, "KLM3", 3, 120, "PH-BVA");
    heavy.category = static_cast<uint32_t>(AcCategory::Heavy);
    LiveAc& kept = parkedLive(0x484004, "KLM4", 0, 500);
    kept.keepParked = 1;
    LiveAc& taxiing = parkedLive(0x484005, "KLM5", 0, 500);
    taxiing.flightState = FlightState::taxi;
    gf_collectLiveParked();
    EXPECT_EQ(gf_findLiveAc(0x484001)->state, AcState::removingfromsim);
    ASSERT_EQ(g_liveParked.size(), 3u);
    EXPECT_EQ(g_liveParked[0].callsign, "KLM4");
    EXPECT_EQ(g_liveParked[0].minutesParked, 0);
    EXPECT_EQ(g_liveParked[1].callsign, "KLM2");
    EXPECT_EQ(g_liveParked[1].minutesParked, 89);
    EXPECT_EQ(g_liveParked[2].callsign, "KLM3");
    EXPECT_EQ(g_liveParked[2].standId, 3u);

    INITIAL_LOAD_ONLY.set(true);
    parkedLive(0x484006, "KLM6", 1, 91);
    gf_collectLiveParked();
    EXPECT_EQ(gf_findLiveAc(0x484006)->state, AcState::active);
    ASSERT_EQ(g_liveParked.size(), 4u);
    EXPECT_EQ(g_liveParked[2].callsign, "KLM6");  // 91 minutes, before the heavy's 120
}

} // namespace
} // namespace qmt::test
