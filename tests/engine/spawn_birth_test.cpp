#include <gtest/gtest.h>

#include <cmath>
#include <string_view>

#include "core/Airports.h"
#include "core/WeekTime.h"
#include "spawn_fixture.h"
#include "liveries/Matching.h"

namespace qmt::test {
namespace {

constexpr std::string_view kTitle = "KLM Boeing 737-800 PH-BXA";

class BirthTest : public SpawnTest {
protected:
    void SetUp() override
    {
        SpawnTest::SetUp();
        g_userOnGround = false; // no spawn checks against the user unless a test asks for them
        g_userAc.onGround = false;
        g_userAc.altitude = 30000.0; // far above every newborn: no conflict in the air either
        g_weekTime = WeekTime{3, 20};
    }

    // The livery is taken as already chosen for the hex id, so no matching runs.
    static void knownLivery(uint32_t HEX) { g_chosenLiveries[HEX] = kTitle; }
};

TEST_F(BirthTest, WaitsForItsPlayTickAndNeedsTwoPoints)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    ac.stream.front().playTick = g_tickCounter.load() + 5;
    lf_birthStage(ac);
    EXPECT_EQ(ac.state, AcState::buffer);
    EXPECT_EQ(ac.stream.size(), 2u);
    EXPECT_EQ(ac.remove, 0);

    ac.stream.pop_back();
    g_tickCounter = ac.stream.front().playTick;
    lf_birthStage(ac);
    EXPECT_TRUE(ac.stream.empty());
    EXPECT_EQ(ac.remove, 1);

    LiveAc& empty = bufferAc(0x484002, "KLM2");
    empty.stream.clear();
    lf_birthStage(empty);
    EXPECT_EQ(empty.remove, 1);
}

TEST_F(BirthTest, AStreamOfAirAndGroundPointsLosesItsFrontPoint)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    ac.stream.back().airborne = 0;
    lf_birthStage(ac);
    EXPECT_EQ(ac.stream.size(), 1u);
    EXPECT_EQ(ac.state, AcState::buffer);
    EXPECT_EQ(ac.remove, 0);
}

TEST_F(BirthTest, NoLiveAircraftAtAllWithLimitZero)
{
    MAX_LIVE_SEL.set(0);
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    knownLivery(ac.id);
    lf_birthStage(ac);
    EXPECT_EQ(ac.remove, 1);
    EXPECT_TRUE(g_addingStack.empty());
}

TEST_F(BirthTest, AtTheLimitANewcomerDisplacesOnlyAnAircraftMoreThanATenthFarther)
{
    MAX_LIVE_SEL.set(1);
    LiveAc& near = activeAc(0x484010, "KLM10", 10.05);
    LiveAc& newcomer = bufferAc(0x484001, "KLM1", 10.0);
    knownLivery(newcomer.id);
    lf_birthStage(newcomer);
    EXPECT_EQ(newcomer.remove, 1);
    EXPECT_EQ(near.state, AcState::active);

    g_liveAcs.clear();
    LiveAc& far = activeAc(0x484010, "KLM10", 10.2);
    LiveAc& second = bufferAc(0x484002, "KLM2", 10.0);
    knownLivery(second.id);
    lf_birthStage(second);
    EXPECT_EQ(far.state, AcState::removingfromsim);
    EXPECT_TRUE(inRemovalDeque(far.objectId));
    EXPECT_EQ(second.state, AcState::adding2sim);
    EXPECT_EQ(g_addingStack.back(), second.id);
}

TEST_F(BirthTest, FarthestWithNegativeDistanceTakesTheFarthestActiveOne)
{
    LiveAc& a = activeAc(0x484010, "KLM10", 3.0);
    LiveAc& b = activeAc(0x484011, "KLM11", 9.0);
    LiveAc& c = activeAc(0x484012, "KLM12", 9.05);
    EXPECT_FALSE(gf_removeFarthestLiveAc(-1.0));
    EXPECT_EQ(a.state, AcState::active);
    EXPECT_EQ(b.state, AcState::removingfromsim);
    EXPECT_EQ(c.state, AcState::active); // not more than 0.1 nm beyond b
    g_liveAcs.clear();
    EXPECT_TRUE(gf_removeFarthestLiveAc(-1.0));
}

TEST_F(BirthTest, CallsignsThatCannotBeShownAreReplacedByTheRegistration)
{
    LiveAc& ats = bufferAc(0x484001, "@@@@@@@@");
    ats.registration = "PH-BXA";
    knownLivery(ats.id);
    lf_birthStage(ats);
    EXPECT_EQ(ats.callsign, "PH-BXA");
    EXPECT_EQ(ats.state, AcState::adding2sim);

    LiveAc& nine = bufferAc(0x484002, "KLM123456");
    nine.registration = "PHBXB";
    knownLivery(nine.id);
    lf_birthStage(nine);
    EXPECT_EQ(nine.callsign, "PHBXB");

    LiveAc& none = bufferAc(0x484003, "");
    none.registration.clear();
    lf_birthStage(none);
    EXPECT_EQ(none.remove, 1);
}

TEST_F(BirthTest, AnAircraftWithoutAMatchBeforeIsDroppedWithoutMatchingAgain)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    g_noMatchSet.insert(lf_spawnText(ac));
    knownLivery(ac.id); // would match, but the set answers first
    lf_birthStage(ac);
    EXPECT_EQ(ac.remove, 1);
    EXPECT_TRUE(g_addingStack.empty());
}

TEST_F(BirthTest, TheUserAircraftsOwnCallsignIsNeverSpawned)
{
    g_userCallsign = "KLM1";
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    knownLivery(ac.id);
    lf_birthStage(ac);
    EXPECT_EQ(ac.remove, 1);
}

TEST_F(BirthTest, AnUnfinishedKindTakesItsAirlineFromTheCallsignElsePrivate)
{
    LiveAc& airline = bufferAc(0x484001, "EZY12");
    airline.kind.marker = 0;
    airline.kind.airlineId = 0;
    airline.registration = "G-EZAA";
    knownLivery(airline.id);
    lf_birthStage(airline);
    EXPECT_EQ(gf_airlineCode(airline.kind.airlineId), "EZY");

    LiveAc& privateAc = bufferAc(0x484002, "PHABC");
    privateAc.kind.marker = 0;
    privateAc.kind.airlineId = 0;
    knownLivery(privateAc.id);
    lf_birthStage(privateAc);
    EXPECT_EQ(gf_airlineCode(privateAc.kind.airlineId), "PVT");
}

TEST_F(BirthTest, ABlockedGhostIsNeverBorn)
{
    g_blockedGhosts.push_back("EZY12_");
    LiveAc& ghost = bufferAc(0x484001, "EZY12_");
    knownLivery(ghost.id);
    lf_birthStage(ghost);
    EXPECT_EQ(ghost.remove, 1);

    // not yet blocked, but its real aircraft is live
    g_blockedGhosts.clear();
    activeAc(0x484010, "EZY34", 4.0);
    LiveAc& other = bufferAc(0x484002, "EZY34_");
    knownLivery(other.id);
    lf_birthStage(other);
    EXPECT_EQ(other.remove, 1);
}

TEST_F(BirthTest, AGroundStartTooCloseToTheUserOnTheGroundWaits)
{
    g_userOnGround = true;
    LiveAc& ac = bufferAc(0x484001, "KLM1", 0.05, false);
    knownLivery(ac.id);
    lf_birthStage(ac);
    EXPECT_EQ(ac.stream.size(), 1u);
    EXPECT_EQ(ac.state, AcState::buffer);

    COLLISION_USER_GND.set(false);
    LiveAc& other = bufferAc(0x484002, "KLM2", 0.05, false);
    EXPECT_FALSE(lf_spawnCheckNearUser(other));
}

TEST_F(BirthTest, TheSpawnCheckInTheAirGivesTheBlockAltitudeAndHeading)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1", 3.0);
    ac.stream.front().alt = 4200.0;
    ac.stream.front().track = 180.0;
    EXPECT_FALSE(lf_spawnCheckNearUser(ac));
    EXPECT_DOUBLE_EQ(ac.block[kBlockAlt], 4200.0);
    EXPECT_NEAR(ac.block[kBlockHeading], PI, 1e-12);

    ac.stream.front().hasTrueHeading = 1;
    ac.stream.front().trueHeading = 1.0;
    lf_spawnCheckNearUser(ac);
    EXPECT_DOUBLE_EQ(ac.block[kBlockHeading], 1.0);
}

TEST_F(BirthTest, TooManyWaitingCreatesHoldBackANewborn)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    ac.stream.push_back(point(away(5.3), true, 3000.0, 200.0, g_tickCounter.load() + 200));
    g_liveAddingDeque.resize(11);
    lf_birthStage(ac);
    EXPECT_EQ(ac.stream.size(), 2u);
    EXPECT_EQ(ac.state, AcState::buffer);
}

// ---- spawn ----

TEST_F(BirthTest, AnAirborneSpawnFliesWithItsBlockFromTheFrontPoint)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    StreamPos& f = ac.stream.front();
    f.verticalRate = 1200.0;
    f.airspeed = 210.0;
    knownLivery(ac.id);
    spawnLiveAc(ac);
    EXPECT_EQ(ac.flightState, FlightState::flying);
    EXPECT_EQ(ac.state, AcState::adding2sim);
    EXPECT_EQ(ac.liveryTitle, kTitle);
    EXPECT_EQ(g_addingStack, std::vector<uint32_t>{ac.id});
    EXPECT_EQ(g_twinCheckIds.back(), ac.id);
    EXPECT_DOUBLE_EQ(ac.block[kBlockVerticalSpeed], 20.0); // ft/min into ft/s
    EXPECT_DOUBLE_EQ(ac.block[kBlockAirspeed], 210.0);
    EXPECT_NEAR(ac.block[kBlockPitch], -(3.0 + 1200.0 / 600.0 * 2.2) * kDegToRad, 1e-12);
    const double east = gf_bearing(f.lat, f.lon, ac.stream[1].lat, ac.stream[1].lon);
    EXPECT_NEAR(ac.block[kBlockHeading], east, 1e-12);
    EXPECT_DOUBLE_EQ(ac.headingStep, 0.0);
}

TEST_F(BirthTest, PitchAtSpawnFollowsTheVerticalRateWithinItsLimits)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    ac.stream.front().verticalRate = -1500.0;
    lf_attitudeFromStream(ac);
    EXPECT_NEAR(ac.block[kBlockPitch] * kRadToDeg, -0.25, 1e-9);
    ac.stream.front().verticalRate = 5000.0;
    lf_attitudeFromStream(ac);
    EXPECT_NEAR(ac.block[kBlockPitch] * kRadToDeg, -(3.0 + 4.0 * 2.2), 1e-9);
    ac.stream.front().airborne = 0;
    lf_attitudeFromStream(ac);
    EXPECT_NEAR(ac.block[kBlockPitch] * kRadToDeg, 0.6, 1e-9);
}

TEST_F(BirthTest, AStandingStartTakesItsHeadingFromTheTrackInRadians)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1", 3.0, false);
    ac.stream.front().track = 270.0;
    ac.stream[1].repeat = 1;
    lf_attitudeFromStream(ac);
    EXPECT_NEAR(ac.block[kBlockHeading], 1.5 * PI, 1e-12);
    EXPECT_NEAR(ac.headingStep, 1.5 * PI, 1e-12);

    ac.useRespawnHeading = 1;
    ac.respawnHeading = 0.5;
    lf_attitudeFromStream(ac);
    EXPECT_DOUBLE_EQ(ac.block[kBlockHeading], 0.5);
}

TEST_F(BirthTest, TheLiveryIsRememberedPerHexIdAndANoMatchIsRecorded)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    knownLivery(ac.id);
    spawnLiveAc(ac);
    EXPECT_EQ(g_chosenLiveries.at(ac.id), kTitle);
}

TEST_F(BirthTest, AGroundSpawnNearAFreeStandStartsParkedOnIt)
{
    const LatLon standAt = away(0.5, 0.0);
    parkAirportWithStands({away(0.3, 0.0), standAt});
    LiveAc& ac = bufferAc(0x484001, "KLM1", 0.0, false);
    ac.stream.clear();
    const LatLon reported = away(0.015, 90.0, standAt); // 28 m from the stand
    ac.stream.push_back(point(reported, false, 0.0, 0.0, g_tickCounter.load()));
    ac.stream.push_back(point(reported, false, 0.0, 0.0, g_tickCounter.load() + 100));
    knownLivery(ac.id);
    spawnLiveAc(ac);
    EXPECT_EQ(ac.flightState, FlightState::parked);
    EXPECT_EQ(ac.standId, 2u);
    EXPECT_EQ(ac.state, AcState::adding2sim);
    ASSERT_EQ(ac.stream.size(), 1u);
    EXPECT_DOUBLE_EQ(ac.stream.front().lat, standAt.lat);
    EXPECT_DOUBLE_EQ(ac.stream.front().lon, standAt.lon);
    EXPECT_EQ(ac.stream.front().repeat, 1);
    EXPECT_NEAR(ac.stream.front().track, kRadToDeg, 1e-12);
    EXPECT_DOUBLE_EQ(ac.block[kBlockHeading], 1.0);
    EXPECT_EQ(ac.timeStamp, (WeekTime{3, 20}));
    EXPECT_GT(ac.parkStart, 0u);
}

// Created on the ground at an airport 125 ft up, whatever altitude the reports give there: 0 ft
// (a feed's ground value), a barometric value 67 ft too high; parked on a stand or taxiing.
TEST_F(BirthTest, AGroundSpawnStandsOnTheAirportsGroundFromItsFirstFrame)
{
    const LatLon standAt = away(0.5, 0.0);
    for (const auto& [reportedFt, onStand] : {std::pair{0.0, true}, {192.0, true}, {0.0, false}, {-40.0, false}}) {
        g_liveAcs.clear();
        gf_resetStandTableForTests();
        parkAirportWithStands({standAt});
        gf_setAirports({AirportEntry{IcaoCode("EHAM"), IataCode("AMS"), kHomeLat, kHomeLon, 125, 220}});
        LiveAc& ac = bufferAc(0x484001, "KLM1", 0.0, false);
        ac.stream.clear();
        const LatLon at = onStand ? standAt : away(0.3, 180.0);
        const double kt = onStand ? 0.0 : 10.0;
        ac.stream.push_back(point(at, false, reportedFt, kt, g_tickCounter.load()));
        ac.stream.push_back(point(onStand ? at : away(0.01, 180.0, at), false, reportedFt, kt, g_tickCounter.load() + 100));
        knownLivery(ac.id);
        spawnLiveAc(ac);
        gf_clearAirports();
        EXPECT_EQ(ac.flightState, onStand ? FlightState::parked : FlightState::taxi) << reportedFt;
        EXPECT_DOUBLE_EQ(ac.block[kBlockAlt], 125.0 + ac.cgHeight) << reportedFt;
    }
}

TEST_F(BirthTest, AGroundSpawnFartherThan55MetresFromAStandTaxisOrWaits)
{
    const LatLon standAt = away(0.5, 0.0);
    parkAirportWithStands({standAt});
    const LatLon reported = away(0.035, 90.0, standAt); // 65 m
    LiveAc& moving = bufferAc(0x484001, "KLM1", 0.0, false);
    moving.stream.clear();
    moving.stream.push_back(point(reported, false, 0.0, 3.0, g_tickCounter.load()));
    moving.stream.push_back(point(away(0.01, 90.0, reported), false, 0.0, 3.0, g_tickCounter.load() + 100));
    knownLivery(moving.id);
    spawnLiveAc(moving);
    EXPECT_EQ(moving.flightState, FlightState::taxi);
    EXPECT_EQ(moving.standId, 0u);

    LiveAc& standing = bufferAc(0x484002, "KLM2", 0.0, false);
    standing.stream.clear();
    standing.stream.push_back(point(reported, false, 0.0, 0.0, g_tickCounter.load()));
    standing.stream.push_back(point(reported, false, 0.0, 0.0, g_tickCounter.load() + 100, true));
    knownLivery(standing.id);
    spawnLiveAc(standing);
    EXPECT_EQ(standing.state, AcState::buffer);
    EXPECT_EQ(standing.flightState, FlightState::birth);
    EXPECT_EQ(standing.stream.size(), 1u);
}

TEST_F(BirthTest, TheReservedStandIsNeverTakenAtSpawn)
{
    const LatLon standAt = away(0.5, 0.0);
    parkAirportWithStands({standAt});
    g_reservedStand = "A1";
    LiveAc& ac = bufferAc(0x484001, "KLM1", 0.0, false);
    ac.stream.clear();
    ac.stream.push_back(point(standAt, false, 0.0, 0.0, g_tickCounter.load()));
    ac.stream.push_back(point(standAt, false, 0.0, 0.0, g_tickCounter.load() + 100));
    EXPECT_EQ(lf_findSpawnStand(ac), nullptr);
    g_reservedStand.clear();
    EXPECT_NE(lf_findSpawnStand(ac), nullptr);
}

TEST_F(BirthTest, NoLiveryMeansNoSpawnAndTheKindIsNotMatchedAgain)
{
    LiveAc& ac = bufferAc(0x484001, "KLM1");
    spawnLiveAc(ac); // nothing matches: the livery tables are empty
    EXPECT_EQ(ac.remove, 1);
    EXPECT_TRUE(g_noMatchSet.contains(lf_spawnText(ac)));
    EXPECT_TRUE(g_addingStack.empty());
}

TEST_F(BirthTest, SpawningTheRealAircraftRemovesAndBlocksItsGhost)
{
    LiveAc& ghost = activeAc(0x484010, "EZY12_", 4.0);
    LiveAc& lookalike = activeAc(0x484011, "EZY12K", 4.5);
    LiveAc& real = bufferAc(0x484001, "EZY12");
    knownLivery(real.id);
    spawnLiveAc(real);
    EXPECT_EQ(ghost.state, AcState::removingfromsim);
    EXPECT_EQ(lookalike.state, AcState::active);
    EXPECT_EQ(g_blockedGhosts, std::vector<std::string>{"EZY12_"});
}

} // namespace
} // namespace qmt::test
