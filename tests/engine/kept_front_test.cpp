// The tick keeps what it tests of the front point in the record; whatever changes that point
// between ticks must be seen at the next tick.

#include <gtest/gtest.h>

#include "engine/Intake.h"
#include "engine/Tick.h"
#include "spawn_fixture.h"

namespace qmt::test {
namespace {

class KeptFrontTest : public SpawnTest {
protected:
    void SetUp() override
    {
        SpawnTest::SetUp();
        g_userOnGround = false;
        g_userAc.onGround = false;
        g_liveAcs.reserve(512); // as the tick does: the records below stay where they are
    }

    // An active airborne aircraft whose next point falls due in ten seconds.
    static LiveAc& waitingAc()
    {
        LiveAc& ac = activeAc(0x484001, "KLM1", 5.0);
        ac.stream[0].playTick = g_tickCounter.load() + 1000;
        ac.stream[1].playTick = g_tickCounter.load() + 1200;
        return ac;
    }
};

TEST_F(KeptFrontTest, AReportThatEndsTheMadeUpPointsIsPlayedAtTheNextTick)
{
    LiveAc& ac = waitingAc();
    ac.extrapolations = 1;
    ac.block[kBlockHeading] = 90.0 * DEG_TO_RAD;
    lf_handleAddingStack();
    ASSERT_EQ(ac.stream.front().playTick, g_tickCounter.load() + 999);

    // The report goes on where the made-up points went: the front point falls due at once.
    LiveTrafficRecord r;
    r.kind = ac.kind;
    r.callsign = ac.callsign;
    r.registration = ac.registration;
    r.pos = ac.stream.back();
    const LatLon ahead = away(5.3);
    r.pos.lat = ahead.lat;
    r.pos.lon = ahead.lon;
    r.reportTime = ac.lastReportTime + 6.0;
    r.hexId = ac.id;
    lf_mergeLiveRecord(r);
    ASSERT_EQ(ac.extrapolations, 0) << "the report was taken";
    const int32_t due = ac.stream.front().playTick;
    ASSERT_LE(due, g_tickCounter.load() + 1);

    lf_handleAddingStack();
    lf_handleAddingStack();
    EXPECT_NE(ac.stream.front().playTick, due) << "the due point was played";
}

TEST_F(KeptFrontTest, AnAircraftBackInTheSimulatorLooksAtItsFrontPointAgain)
{
    LiveAc& ac = waitingAc();
    ac.stream.front().repeat = 1; // standing: the tick does not move it
    ac.latStep = 0.001;
    lf_handleAddingStack();
    const double lat = ac.block[kBlockLat];
    lf_handleAddingStack();
    EXPECT_EQ(ac.block[kBlockLat], lat);

    // Away for a respawn, the front point is changed in place as the spawn does; back, it moves.
    ac.state = AcState::adding2sim;
    lf_handleAddingStack();
    ac.stream.front().repeat = 0;
    ac.state = AcState::active;
    lf_handleAddingStack();
    EXPECT_NE(ac.block[kBlockLat], lat);
}

} // namespace
} // namespace qmt::test
