// The tick keeps what it tests of the front point in the record; whatever changes that point
// between ticks must be seen at the next tick.

#include <gtest/gtest.h>

#include "engine/Intake.h"
#include "engine/Tick.h"
#include "liveries/Matching.h"
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
    ac.block[kBlockHeading] = 90.0 * kDegToRad;
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

// A waiting aircraft is born at the tick its first point falls due, whether that tick was kept
// while it waited or its point was changed in place while it was active before (a respawn).
TEST_F(KeptFrontTest, AWaitingAircraftIsBornWhenItsFirstPointFallsDue)
{
    struct Case {
        const char* name;
        bool activeBefore;
    };
    g_userAc.altitude = 30000.0; // far above the newborn: no conflict in the air
    for (const Case c : {Case{"waiting from the start", false}, Case{"waiting after a respawn", true}}) {
        SCOPED_TRACE(c.name);
        g_liveAcs.clear();
        LiveAc& ac = c.activeBefore ? waitingAc() : bufferAc(0x484002, "KLM2");
        g_chosenLiveries[ac.id] = "KLM Boeing 737-800 PH-BXA";
        const int32_t due = g_tickCounter.load() + 3;
        if (c.activeBefore) {
            lf_handleAddingStack();
            gf_setAcState(ac, AcState::buffer);
        }
        ac.stream.front().playTick = due;
        ac.stream.back().playTick = due + 100;
        while (g_tickCounter.load() < due) {
            lf_handleAddingStack();
            ASSERT_EQ(ac.state, AcState::buffer) << "born early at tick " << g_tickCounter.load();
        }
        lf_handleAddingStack();
        EXPECT_EQ(ac.state, AcState::adding2sim);
    }
}

} // namespace
} // namespace qmt::test
