// The work of a ground-data round and of the birth stage grows with the number of aircraft, not
// with its square: counted as records looked at, which does not depend on the machine's speed.

#include <gtest/gtest.h>

#include <mutex>

#include "engine/Tick.h"
#include "spawn_fixture.h"

namespace qmt::test {
namespace {

constexpr uint32_t kFirstHex = 0x400000;
constexpr uint32_t kFirstObject = 1000;

class LinearWorkTest : public SpawnTest {
protected:
    void SetUp() override
    {
        SpawnTest::SetUp();
        g_userOnGround = false;
        g_userAc.onGround = false;
        COLLISION_USER_AIR.set(false);
    }

    static void notify(const SimNotification& NOTE)
    {
        std::lock_guard lock(g_simNotifyMutex);
        g_simNotifications.push_back(NOTE);
    }

    static void groundData(uint32_t OBJECT_ID, double HEIGHT)
    {
        notify({OBJECT_ID, 0, 0, kNoteGroundData, 0.0, HEIGHT});
    }

    // COUNT active aircraft with the object ids kFirstObject + i.
    static void activeFleet(uint32_t COUNT)
    {
        for (uint32_t i = 0; i < COUNT; ++i) {
            activeAc(kFirstHex + i, "ACT" + std::to_string(i), 1.0 + i * 0.01, false, kFirstObject + i);
        }
    }

    // Records visited by one drain of the ground data of COUNT aircraft and as many static objects
    // (which the range request reports too, and which no live record holds).
    static uint64_t groundRoundVisits(uint32_t COUNT)
    {
        gf_resetEngineForTests();
        activeFleet(COUNT);
        for (uint32_t i = 0; i < COUNT; ++i) {
            groundData(kFirstObject + i, 1000.0 + i);
            groundData(kFirstObject + COUNT + i, 5.0);
        }
        g_liveRecordVisits = 0;
        gf_handleSimNotifications();
        for (uint32_t i = 0; i < COUNT; ++i) {
            EXPECT_EQ(g_liveAcs[i].heightAboveGround, 1000.0 + i) << "aircraft " << i;
        }
        return g_liveRecordVisits;
    }

    // Records visited by one tick in which COUNT aircraft wait at birth beside COUNT active ones.
    // Each waiting one stands where there is no stand, so it reaches the count of the limit and
    // then waits for a point that moves.
    static uint64_t birthTickVisits(uint32_t COUNT)
    {
        gf_resetEngineForTests();
        g_tickCounter = 1000;
        MAX_LIVE_SEL.set(MAX_LIVE_SEL.maxValue()); // above COUNT: nobody is displaced
        activeFleet(COUNT);
        for (uint32_t i = 0; i < COUNT; ++i) {
            LiveAc& ac = bufferAc(kFirstHex + COUNT + i, "WAIT" + std::to_string(i), 2.0, false);
            ac.stream.back().repeat = 1;
            ac.liveryTitle = "Any livery";
        }
        g_liveRecordVisits = 0;
        lf_handleAddingStack();
        for (uint32_t i = 0; i < COUNT; ++i) {
            const LiveAc& waiting = g_liveAcs[COUNT + i];
            EXPECT_EQ(waiting.state, AcState::buffer);
            EXPECT_EQ(waiting.stream.size(), 1u) << "each waiting aircraft got as far as the spawn";
        }
        return g_liveRecordVisits;
    }
};

TEST_F(LinearWorkTest, DoublingTheAircraftDoublesTheWorkOfAGroundDataRound)
{
    const uint64_t single = groundRoundVisits(250);
    const uint64_t twice = groundRoundVisits(500);
    EXPECT_GT(single, 0u);
    EXPECT_LE(twice, single * 5 / 2) << single << " then " << twice;
    EXPECT_LE(single, 2u * 250u) << "a few passes over the records, not one per notification";
}

TEST_F(LinearWorkTest, DoublingTheAircraftDoublesTheWorkOfTheBirthStage)
{
    const uint64_t single = birthTickVisits(200);
    const uint64_t twice = birthTickVisits(400);
    EXPECT_GT(single, 0u);
    EXPECT_LE(twice, single * 5 / 2) << single << " then " << twice;
}

TEST_F(LinearWorkTest, ObjectIdsAssignedOrMovedWithinADrainAreFound)
{
    activeFleet(3);
    bufferAc(0x484100, "NEW1").state = AcState::adding2sim;

    // The first report builds the index before the creation gives the new record its object.
    groundData(kFirstObject, 10.0);
    notify({777, 0x484100, 0, kNoteLiveCreated, 0.0, 0.0});
    notify({777, 1, 0, kNoteGroundData, 0.0, 20.0}); // on the ground
    // The create of the first record failed: the new record, the last one, takes its place.
    g_liveAcs[0].state = AcState::adding2sim;
    notify({0, kFirstHex, 0, kNoteCreateFailed, 0.0, 0.0});
    groundData(777, 30.0);
    groundData(kFirstObject + 2, 40.0);
    gf_handleSimNotifications();

    EXPECT_EQ(gf_findLiveAc(kFirstHex), nullptr);
    ASSERT_EQ(g_liveAcs[0].id, 0x484100u);
    EXPECT_EQ(g_liveAcs[0].objectId, 777u);
    EXPECT_EQ(g_liveAcs[0].onGround, 1);
    EXPECT_EQ(g_liveAcs[0].heightAboveGround, 30.0);
    EXPECT_EQ(gf_findLiveAc(kFirstHex + 2)->heightAboveGround, 40.0);
}

TEST_F(LinearWorkTest, TheKeptCountFollowsAnAircraftDisplacedEarlierInTheSamePass)
{
    MAX_LIVE_SEL.set(3);
    activeAc(kFirstHex, "NEAR", 3.0);
    activeAc(kFirstHex + 1, "MID", 9.0);
    activeAc(kFirstHex + 2, "FAR", 15.0);
    // The first newcomer takes the farthest one's place, then waits for a point that moves; the
    // second one then finds a free place and displaces nobody.
    for (const char* callsign : {"WAIT1", "WAIT2"}) {
        LiveAc& ac = bufferAc(kFirstHex + 10 + (callsign[4] - '0'), callsign, 5.0, false);
        ac.stream.back().repeat = 1;
        ac.liveryTitle = "Any livery";
    }
    lf_handleAddingStack();
    EXPECT_EQ(gf_findLiveAc(kFirstHex + 2)->state, AcState::removingfromsim);
    EXPECT_EQ(gf_findLiveAc(kFirstHex + 1)->state, AcState::active);
    EXPECT_EQ(gf_findLiveAc(kFirstHex)->state, AcState::active);
    EXPECT_EQ(gf_activeLiveCount(), 2u);
}

} // namespace
} // namespace qmt::test
