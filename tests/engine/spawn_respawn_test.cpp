#include <gtest/gtest.h>

#include <fstream>
#include <string_view>

#include "core/RefData.h"
#include "spawn_fixture.h"
#include "liveries/Matching.h"

namespace qmt::test {
namespace {

constexpr std::string_view kTitle = "KLM Boeing 737-800 PH-BXA";

class RespawnTest : public SpawnTest {
protected:
    void SetUp() override
    {
        SpawnTest::SetUp();
        g_userOnGround = false;
        GUID_CHANGES.set(true);
    }

    // An active aircraft flying with a livery, its record and the next report of it.
    LiveAc& flying(uint32_t HEX, const std::string& CALLSIGN)
    {
        LiveAc& ac = activeAc(HEX, CALLSIGN, 6.0);
        ac.registration = "PH-BXA";
        ac.liveryTitle = kTitle;
        g_chosenLiveries[HEX] = kTitle;
        ac.block[kBlockHeading] = 1.25;
        return ac;
    }

    static LiveTrafficRecord report(const LiveAc& AC, const std::string& CALLSIGN)
    {
        LiveTrafficRecord r;
        r.kind = AC.kind;
        r.callsign = CALLSIGN;
        r.registration = AC.registration;
        r.hexId = AC.id;
        r.pos = AC.stream.front();
        return r;
    }

    static void addRegRecord(const std::string& REG, const std::string& AIRLINE, const std::string& MODEL)
    {
        AcKind k;
        k.airlineId = gf_airlineId(AIRLINE);
        k.modelId = gf_modelId(MODEL);
        k.marker = 1;
        g_dbaseRecords.push_back({REG, gf_kindValue(k)});
        std::sort(g_dbaseRecords.begin(), g_dbaseRecords.end(),
                  [](const DbaseRecord& A, const DbaseRecord& B) { return A.key < B.key; });
    }
};

TEST_F(RespawnTest, ACallsignChangeRespawnsOnlyWithGuidChanges)
{
    LiveAc& ac = flying(0x484001, "KLM1");
    const uint32_t objectId = ac.objectId;
    LiveTrafficRecord r = report(ac, "KLM1A");
    EXPECT_FALSE(lf_checkRespawn(ac, r));
    EXPECT_EQ(ac.state, AcState::liveryrespawn);
    EXPECT_EQ(ac.callsign, "KLM1A");
    EXPECT_EQ(ac.callsignCopy, "KLM1A");
    EXPECT_TRUE(inRemovalDeque(objectId));
    EXPECT_EQ(ac.liveryTitle, kTitle); // a callsign alone keeps the livery
    EXPECT_EQ(ac.useRespawnHeading, 1);
    EXPECT_DOUBLE_EQ(ac.respawnHeading, 1.25);
    EXPECT_EQ(ac.stream.front().playTick, g_tickCounter.load() + 1);

    GUID_CHANGES.set(false);
    LiveAc& other = flying(0x484002, "KLM2");
    LiveTrafficRecord r2 = report(other, "KLM2B");
    EXPECT_TRUE(lf_checkRespawn(other, r2));
    EXPECT_EQ(other.state, AcState::active);
    EXPECT_EQ(other.callsign, "KLM2B");
    EXPECT_FALSE(inRemovalDeque(other.objectId));
}

TEST_F(RespawnTest, ANewCallsignEqualToTheRegistrationIsNoChange)
{
    LiveAc& ac = flying(0x484001, "KLM1");
    LiveTrafficRecord r = report(ac, "PH-BXA");
    EXPECT_TRUE(lf_checkRespawn(ac, r));
    EXPECT_EQ(ac.callsign, "KLM1");
    EXPECT_EQ(ac.state, AcState::active);
}

TEST_F(RespawnTest, NothingChangesWhileDepartingOrOnApproachOrExtrapolating)
{
    LiveAc& ac = flying(0x484001, "KLM1");
    LiveTrafficRecord r = report(ac, "KLM9");
    ac.departing = 1;
    EXPECT_TRUE(lf_checkRespawn(ac, r));
    ac.departing = 0;
    ac.approach = 1;
    EXPECT_TRUE(lf_checkRespawn(ac, r));
    ac.approach = 0;
    ac.extrapolations = 2;
    EXPECT_TRUE(lf_checkRespawn(ac, r));
    EXPECT_EQ(ac.callsign, "KLM1");
    EXPECT_EQ(ac.state, AcState::active);
}

TEST_F(RespawnTest, ABufferedAircraftCopiesTheNewIdentity)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    LiveTrafficRecord r = report(ac, "KLM7");
    r.registration = "PH-BXZ";
    r.origin = "AMS";
    EXPECT_TRUE(lf_checkRespawn(ac, r));
    EXPECT_EQ(ac.callsign, "KLM7");
    EXPECT_EQ(ac.registration, "PH-BXZ");
    EXPECT_EQ(ac.origin, "AMS");
}

TEST_F(RespawnTest, ALiveryIsForgottenOnlyWhenTheAircraftReallyRespawns)
{
    addRegRecord("PH-EXA", "KLM", "E190");
    GUID_CHANGES.set(false);
    LiveAc& kept = flying(0x484001, "KLM1");
    kept.registration = "KLM1"; // a registration that was only the callsign
    LiveTrafficRecord r = report(kept, "KLM1");
    r.registration = "PH-EXA";
    EXPECT_TRUE(lf_checkRespawn(kept, r));
    EXPECT_EQ(kept.registration, "PH-EXA");
    EXPECT_EQ(gf_modelCode(kept.kind.modelId), "E190");
    EXPECT_EQ(kept.flightState, FlightState::flying); // still driven as before
    EXPECT_EQ(kept.liveryTitle, kTitle);
    EXPECT_TRUE(g_chosenLiveries.contains(kept.id));

    GUID_CHANGES.set(true);
    LiveAc& renewed = flying(0x484002, "KLM2");
    renewed.registration = "KLM2";
    LiveTrafficRecord r2 = report(renewed, "KLM2");
    r2.registration = "PH-EXA";
    EXPECT_FALSE(lf_checkRespawn(renewed, r2));
    EXPECT_EQ(renewed.state, AcState::liveryrespawn);
    EXPECT_EQ(renewed.flightState, FlightState::birth);
    EXPECT_EQ(renewed.previousFlightState, FlightState::flying);
    EXPECT_TRUE(renewed.liveryTitle.empty());
    EXPECT_FALSE(g_chosenLiveries.contains(renewed.id));

    // a report that would rename it to a blocked ghost is dropped: no respawn, so no forgetting
    activeAc(0x484003, "EZY12", 4.0);
    LiveAc& dropped = flying(0x484004, "EZY99");
    dropped.registration = "EZY99";
    LiveTrafficRecord r3 = report(dropped, "EZY12_");
    r3.registration = "PH-EXA";
    EXPECT_FALSE(lf_checkRespawn(dropped, r3));
    EXPECT_EQ(dropped.state, AcState::active);
    EXPECT_EQ(dropped.flightState, FlightState::flying);
    EXPECT_EQ(dropped.liveryTitle, kTitle);
}

TEST_F(RespawnTest, ARegistrationOfAnotherOperatorCountsOnlyForItsOwnAirlineCallsign)
{
    addRegRecord("PH-EXB", "TRA", "B738");
    LiveAc& ac = flying(0x484001, "KLM1");
    LiveTrafficRecord r = report(ac, "KLM1");
    r.registration = "PH-EXB";
    bool forget = false;
    EXPECT_TRUE(lf_updateIdentity(ac, r, forget)); // KLM callsign, TRA registration: no change of kind
    EXPECT_FALSE(forget);
    EXPECT_EQ(ac.registration, "PH-EXB");
    EXPECT_EQ(gf_airlineCode(ac.kind.airlineId), "KLM");

    LiveAc& tra = flying(0x484002, "TRA123");
    LiveTrafficRecord r2 = report(tra, "TRA123");
    r2.registration = "PH-EXB";
    EXPECT_FALSE(lf_updateIdentity(tra, r2, forget));
    EXPECT_TRUE(forget);
    EXPECT_EQ(gf_airlineCode(tra.kind.airlineId), "TRA");
}

TEST_F(RespawnTest, ANewRouteIsTakenExceptTheReturnLegHome)
{
    parkAirportWithStands({});
    LiveAc& ac = flying(0x484001, "KLM1");
    ac.origin = "AMS";
    ac.destination = "LHR";
    LiveTrafficRecord r = report(ac, "KLM1");
    r.origin = "LHR";
    r.destination = "AMS";
    EXPECT_TRUE(lf_updateRoute(ac, r)); // the way back to the park airport
    EXPECT_EQ(ac.origin, "AMS");

    ac.origin = "CDG";
    EXPECT_FALSE(lf_updateRoute(ac, r));
    EXPECT_EQ(ac.origin, "LHR");
    EXPECT_EQ(ac.destination, "AMS");

    LiveAc& blank = flying(0x484002, "KLM2");
    LiveTrafficRecord r2 = report(blank, "KLM2");
    r2.destination = "BCN";
    EXPECT_FALSE(lf_updateRoute(blank, r2));
    EXPECT_EQ(blank.destination, "BCN");
    EXPECT_TRUE(lf_updateRoute(blank, r2));
}

TEST_F(RespawnTest, OnlyATrailingUnderscoreMakesAGhost)
{
    activeAc(0x484001, "EZY12", 4.0);
    EXPECT_TRUE(lf_isBlockedGhost("EZY12_"));
    EXPECT_FALSE(lf_isBlockedGhost("EZY12K"));
    EXPECT_FALSE(lf_isBlockedGhost("EZY1_"));
    EXPECT_FALSE(lf_isBlockedGhost("_"));
    EXPECT_FALSE(lf_isBlockedGhost(""));

    LiveAc& nameless = activeAc(0x484002, "_", 5.0);
    lf_removeGhostOf("");
    EXPECT_EQ(nameless.state, AcState::active);
    EXPECT_TRUE(g_blockedGhosts.empty());
}

TEST_F(RespawnTest, TakingACallsignRemovesItsGhostAndARenameToTheGhostIsDropped)
{
    LiveAc& ghost = activeAc(0x484010, "EZY12_", 4.0);
    LiveAc& ac = flying(0x484001, "EZY1");
    LiveTrafficRecord r = report(ac, "EZY12");
    EXPECT_FALSE(lf_checkRespawn(ac, r)); // respawns with its new callsign
    EXPECT_EQ(ghost.state, AcState::removingfromsim);
    EXPECT_EQ(g_blockedGhosts, std::vector<std::string>{"EZY12_"});

    LiveAc& other = flying(0x484002, "EZY99");
    LiveTrafficRecord r2 = report(other, "EZY12_");
    EXPECT_FALSE(lf_checkRespawn(other, r2));
    EXPECT_EQ(other.callsign, "EZY99");
    EXPECT_EQ(other.state, AcState::active);
}

TEST_F(RespawnTest, ARespawnWithoutAnObjectGoesBackToBufferAtOnce)
{
    LiveAc& ac = flying(0x484001, "KLM1");
    ac.objectId = 0;
    ac.throttleIndex = 2;
    liveryRespawn(ac);
    EXPECT_EQ(ac.state, AcState::buffer);
    EXPECT_EQ(ac.throttleIndex, 5u);
    EXPECT_EQ(ac.flapsIndex, 4u);
    EXPECT_TRUE(g_removalDeque.empty());
}

// A ghost whose respawn already queued its object's removal is not queued a second time when
// the real aircraft turns up.
TEST_F(RespawnTest, AGhostCaughtMidRespawnIsRemovedOnce)
{
    LiveAc& ghost = flying(0x484001, "KLM1_");
    const uint32_t objectId = ghost.objectId;
    ASSERT_NE(objectId, 0u);
    liveryRespawn(ghost);
    ASSERT_EQ(ghost.state, AcState::liveryrespawn);
    lf_removeGhostOf("KLM1");
    EXPECT_EQ(ghost.state, AcState::removingfromsim);
    EXPECT_EQ(std::count(g_removalDeque.begin(), g_removalDeque.end(), objectId), 1);
}

TEST_F(RespawnTest, ARespawnDropsTheFlightPlanOfTheOldObject)
{
    LiveAc& ac = flying(0x484001, "KLM1");
    ac.hasFlightPlan = 1;
    const std::filesystem::path plan = gf_flightPlanFileName(ac.objectId);
    if (!plan.empty()) {
        std::ofstream(plan) << "plan";
        ASSERT_TRUE(std::filesystem::exists(plan));
    }
    liveryRespawn(ac);
    EXPECT_EQ(ac.hasFlightPlan, 0);
    if (!plan.empty()) {
        EXPECT_FALSE(std::filesystem::exists(plan));
    }
}

TEST_F(RespawnTest, AParkedRespawnStaysOnItsStand)
{
    LiveAc& ac = flying(0x484001, "KLM1");
    ac.flightState = FlightState::parked;
    ac.stream.push_back(ac.stream.back());
    ac.block[kBlockHeading] = 0.5 * PI;
    liveryRespawn(ac);
    ASSERT_EQ(ac.stream.size(), 2u);
    EXPECT_EQ(ac.stream[0].repeat, 1);
    EXPECT_EQ(ac.stream[1].repeat, 1);
    EXPECT_NEAR(ac.stream[1].track, 90.0, 1e-12);
}

TEST_F(RespawnTest, AFlyingRespawnRestartsWhereTheBlockIs)
{
    LiveAc& ac = flying(0x484001, "KLM1");
    ac.block[kBlockLat] += 0.01;
    ac.block[kBlockAlt] = 3456.0;
    ac.block[kBlockBank] = -0.1;
    liveryRespawn(ac);
    ASSERT_EQ(ac.stream.size(), 3u);
    EXPECT_DOUBLE_EQ(ac.stream[0].lat, ac.block[kBlockLat]);
    EXPECT_DOUBLE_EQ(ac.stream[0].alt, 3456.0);
    EXPECT_DOUBLE_EQ(ac.stream[0].roll, -0.1);
    EXPECT_EQ(ac.stream[0].hasRoll, 1);
    EXPECT_EQ(ac.stream[1].repeat, 0); // the block had moved on from it
}

} // namespace
} // namespace qmt::test
