#include "EngineFixture.h"

#include <cmath>

#include "core/Geo.h"
#include "core/Parameters.h"
#include "core/Random.h"
#include "engine/Commands.h"
#include "engine/Profile.h"

namespace qmt::test {
namespace {

constexpr double kDeg = kDegToRad;

using ProfileTest = EngineTest;
using CommandsTest = EngineTest;

TrafficRecordHead headOf(const char* MODEL)
{
    TrafficRecordHead h;
    h.kind.modelId = gf_modelId(MODEL);
    h.callsign = "DAL12";
    h.callsignCopy = "second";
    h.extraText = "third";
    h.registration = "N123DL";
    h.origin = "JFK";
    h.destination = "AMS";
    return h;
}

TEST_F(ProfileTest, HeavyProfileFromTables)
{
    for (std::size_t draw : {0u, 1u}) {
        gf_scriptRandomDraws({draw, draw});
        AcProfile p;
        gf_makeParkedAc(p, headOf("B77W"));
        EXPECT_EQ(p.category, 3u);
        const double takeOffDeg = p.takeOffPitch / kDeg;
        EXPECT_TRUE(std::abs(takeOffDeg + 5.125) < 1e-9 || std::abs(takeOffDeg + 4.875) < 1e-9) << takeOffDeg;
        const double climbDeg = p.climbPitch / kDeg;
        EXPECT_TRUE(std::abs(climbDeg + 13.125) < 1e-9 || std::abs(climbDeg + 11.875) < 1e-9) << climbDeg;
        EXPECT_EQ(p.groundSlots, 450u);
        EXPECT_EQ(p.touchdownSlots, 450u);
        EXPECT_EQ(p.rotationSlots, 250u);
        EXPECT_EQ(p.airSlots, 400u);
        EXPECT_DOUBLE_EQ(p.pitchRate, 0.0008726646259971647);
        EXPECT_EQ(p.callsign, "DAL12");
        EXPECT_EQ(p.callsignCopy, "second");
        EXPECT_EQ(p.extraText, "third");
        EXPECT_EQ(p.origin, "JFK");
        EXPECT_EQ(p.id, 0u);
        EXPECT_TRUE(p.liveryTitle.empty());
    }
}

TEST_F(ProfileTest, UnknownSpanIsThirtyFiveMetres)
{
    AcProfile p;
    gf_makeParkedAc(p, headOf("C172"));
    EXPECT_EQ(p.category, 0u);
    // 35 m, not 35 nm: a collision radius of 35 nm would clear half an airport.
    EXPECT_NEAR(p.halfSpan, 35.0 * 0.0005399568034557236, 1e-12);
    EXPECT_LT(p.halfSpan, 0.1);
}

TEST_F(ProfileTest, LiveTablesRefuseUnknownCategory)
{
    EXPECT_DOUBLE_EQ(gf_climbFactorOf(4), 1.0);
    EXPECT_DOUBLE_EQ(gf_turnFactorOf(3), 3.0);
    EXPECT_THROW(gf_climbFactorOf(6), std::out_of_range);
}

SimAc& staticAc(uint32_t ID, const std::string& CALLSIGN, AcState STATE)
{
    AcProfile p;
    p.id = ID;
    p.callsign = CALLSIGN;
    g_staticAcs.emplace_back(p, 0, 0.0, 0.0, 0.0, false);
    g_staticAcs.back().state = STATE;
    return g_staticAcs.back();
}

AiCreateRequest requestOf(uint32_t ID, const std::string& CALLSIGN)
{
    AiCreateRequest r;
    r.aircraftId = ID;
    r.callsign = CALLSIGN;
    return r;
}

TEST_F(CommandsTest, RemoveByState)
{
    LiveAc& a = addLiveAc(0x100001, "KLM11");
    removeAircraftFromSim(a, "test");
    removeAircraftFromSim(a, "test");
    EXPECT_EQ(a.remove, 1);
    EXPECT_TRUE(g_removalDeque.empty());

    a.state = AcState::active;
    a.remove = 0;
    a.objectId = 0x55;
    g_callsignObjectId = 0x55;
    removeAircraftFromSim(a, "test");
    EXPECT_EQ(a.state, AcState::removingfromsim);
    EXPECT_EQ(g_callsignObjectId, 0u);
    ASSERT_EQ(g_removalDeque.size(), 1u);
    EXPECT_EQ(g_removalDeque.front(), 0x55u);
}

TEST_F(CommandsTest, WithdrawOnlyTheOwnRequest)
{
    // Two aircraft under one callsign: withdrawing one must leave the other's request.
    LiveAc& a = addLiveAc(0x100001, "KLM11");
    a.state = AcState::adding2sim;
    g_liveAddingDeque.push_back(requestOf(0x100002, "KLM11"));
    g_liveAddingDeque.push_back(requestOf(0x100001, "KLM11"));
    g_liveAddingDeque.push_back(requestOf(0x100003, "EZY22"));

    removeAircraftFromSim(a, "test");
    EXPECT_EQ(a.removed, 1);
    EXPECT_EQ(a.removeWhenCreated, 0);
    ASSERT_EQ(g_liveAddingDeque.size(), 2u);
    EXPECT_EQ(g_liveAddingDeque[0].aircraftId, 0x100002u);
    EXPECT_EQ(g_liveAddingDeque[1].aircraftId, 0x100003u);

    // A static request is looked for in the static deque.
    SimAc& s = staticAc(7, "STAT7", AcState::adding2sim);
    g_staticAddingDeque.push_back(requestOf(7, "STAT7"));
    removeAircraftFromSim(s, "test");
    EXPECT_EQ(s.removed, 1);
    EXPECT_TRUE(g_staticAddingDeque.empty());

    // Already with the simulator: removed when created.
    SimAc& t = staticAc(8, "STAT8", AcState::adding2sim);
    removeAircraftFromSim(t, "test");
    EXPECT_EQ(t.removeWhenCreated, 1);
    EXPECT_EQ(t.removed, 0);
    EXPECT_FALSE(gf_removeFromAddingDeque(g_liveAddingDeque, 0x999999));
}

TEST_F(CommandsTest, ConfigurationEvents)
{
    SimAc& s = staticAc(9, "STAT9", AcState::active);
    s.objectId = 0x40;
    gf_setFlaps(s, 2);
    gf_setFlaps(s, 2);
    gf_setThrottle(s, 5);
    gf_setThrottle(s, 0);
    gf_setGear(s, 1);
    gf_setSpoilers(s, true);
    gf_setFlaps(s, 7);
    EXPECT_EQ(s.flapsIndex, 7u);
    ASSERT_EQ(g_clientEventQueue.size(), 4u);
    EXPECT_EQ(g_clientEventQueue[0].eventId, FLAPS_SET);
    EXPECT_EQ(g_clientEventQueue[0].value, 10240u);
    EXPECT_EQ(g_clientEventQueue[1].eventId, THROTTLE_SET);
    EXPECT_EQ(g_clientEventQueue[1].value, 0u);
    EXPECT_EQ(g_clientEventQueue[2].eventId, GEAR_SET);
    EXPECT_EQ(g_clientEventQueue[3].eventId, SPOILERS_SET);
    EXPECT_EQ(g_clientEventQueue[3].value, 16383u);

    g_clientEventQueue.clear();
    s.category = 5; // Rotorcraft: throttle only
    gf_setFlaps(s, 1);
    gf_setGear(s, 0);
    gf_setSpoilers(s, false);
    gf_setThrottle(s, 4);
    ASSERT_EQ(g_clientEventQueue.size(), 1u);
    EXPECT_EQ(g_clientEventQueue[0].eventId, THROTTLE_SET);
    EXPECT_EQ(g_clientEventQueue[0].value, 16383u);
}

TEST_F(CommandsTest, ParkedConfiguration)
{
    SimAc& s = staticAc(10, "STAT10", AcState::active);
    s.objectId = 0x41;
    gf_scriptRandomDraws({9});
    lf_setParkedConfig(s);
    auto valueOf = [](uint32_t EVENT) {
        for (const auto& c : g_clientEventQueue) {
            if (c.eventId == EVENT) {
                return static_cast<int64_t>(c.value);
            }
        }
        return int64_t{-1};
    };
    EXPECT_EQ(valueOf(ENGINE_AUTO_SHUTDOWN), 0);
    EXPECT_EQ(valueOf(LOGO_LIGHTS_SET), 1);
    EXPECT_EQ(valueOf(BEACON_LIGHTS_SET), 0);
    EXPECT_EQ(valueOf(CABIN_LIGHTS_SET), 0); // the draw of 9 leaves the cabin dark
    EXPECT_EQ(s.throttleIndex, 0u);
    EXPECT_EQ(s.flapsIndex, 0u);

    g_clientEventQueue.clear();
    gf_scriptRandomDraws({3});
    s.throttleIndex = 5;
    lf_setParkedConfig(s);
    EXPECT_EQ(valueOf(CABIN_LIGHTS_SET), 1);
}

} // namespace
} // namespace qmt::test
