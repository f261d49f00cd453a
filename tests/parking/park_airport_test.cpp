// The park airport: the user's list, the choice by position, loading, the reserved stand, and
// dropping the airport again.
#include "FaultyDisk.h"
#include "StaticParkingTest.h"

#include "engine/Commands.h"
#include "parking/ParkChange.h"
#include "platform/sim_Control.h"
#include "simlink/SimClient.h"
#include "stands/ApfLookup.h"

#include <thread>

namespace qmt::test {
namespace {

class ParkAirportTest : public StaticParkingTest {
protected:
    void SetUp() override
    {
        StaticParkingTest::SetUp();
        g_parkAirport = AirportEntry{};
        const AirportEntry egll{IcaoCode("EGLL"), IataCode("LHR"), 51.4700, -0.4543, 83, 200};
        std::vector<AirportEntry> airports = g_airports;
        airports.push_back(egll);
        gf_setAirports(std::move(airports));
    }

    static std::vector<std::string> listed()
    {
        std::vector<std::string> entries;
        for (const ParkAirport& p : g_parkAirports) {
            entries.push_back(p.code.str() + (p.reservedStand.empty() ? "" : "," + p.reservedStand));
        }
        return entries;
    }
};

TEST_F(ParkAirportTest, TheListKeepsEveryGoodLine)
{
    writeFile(parkList(), "qlna,S3\nEHAM,A1,B2\n\nQLNA\nEH*M\nZZZZ\nEHAM\n");
    writeFile(g_myThirdpartyPath / "EGLL.xml", "<root/>");
    writeFile(g_myThirdpartyPath / "readme.txt", "not an airport");
    EXPECT_TRUE(lf_readMyParkAirports());
    EXPECT_EQ(listed(), (std::vector<std::string>{"QLNA,S3", "EHAM", "EGLL"}));
    EXPECT_TRUE(logHas("==> my_park_airports.txt:EHAM,A1,B2 wrong syntax, skipped"));
    EXPECT_TRUE(logHas("==> my_park_airports.txt:QLNA double, skipped"));
    // One bad code costs only its own line.
    EXPECT_TRUE(logHas("==> lf_readMyParkAirports: FixedCode: invalid string (length/charset) (EH*M)"));
    EXPECT_TRUE(logHas("airport ZZZZ is unknown"));
    EXPECT_TRUE(logHas("\n    2 park airports read from 'my_park_airports.txt'"));

    // A line of a megabyte reaches the log cut, with a mark.
    const size_t logBefore = logText().size();
    writeFile(parkList(), "EHAM,A1," + std::string(1 << 20, 'x') + "\n");
    EXPECT_TRUE(lf_readMyParkAirports());
    EXPECT_TRUE(logHas("==> my_park_airports.txt:EHAM,A1," + std::string(192, 'x') + "... (1048384 more bytes) wrong syntax"));
    EXPECT_LT(logText().size() - logBefore, 1000u);

    std::filesystem::remove(parkList());
    EXPECT_TRUE(lf_readMyParkAirports());
    EXPECT_EQ(listed(), (std::vector<std::string>{"EGLL"}));
    EXPECT_TRUE(logHas(parkList().string() + " not found"));
}

// A stand name of a megabyte, or a list of megabytes, is not taken: a clear warning, and the
// user's lines stay in the file as they are.
TEST_F(ParkAirportTest, OverLongStandNamesAndListsAreRefusedAndKept)
{
    const std::string longStand = "EHAM," + std::string(1 << 20, 's');
    writeFile(parkList(), longStand + "\nQLNA,S1\n");
    EXPECT_TRUE(lf_readMyParkAirports());
    EXPECT_EQ(listed(), (std::vector<std::string>{"QLNA,S1"}));
    EXPECT_TRUE(logHas("==> my_park_airports.txt:EHAM," + std::string(195, 's') +
                       "... (1048381 more bytes) stand name longer than 64 bytes, skipped"));
    g_parkAirports.front().reservedStand = "S3";
    lf_writeMyParkAirports();
    EXPECT_EQ(readFile(parkList()), longStand + "\nQLNA,S3\n");

    std::string huge;
    while (huge.size() <= (4u << 20)) {
        huge += "QLNA\n";
    }
    writeFile(parkList(), huge);
    EXPECT_TRUE(lf_readMyParkAirports());
    EXPECT_TRUE(listed().empty());
    EXPECT_TRUE(logHas("==> " + parkList().string() + " is larger than 4194304 bytes, not read"));
    g_parkAirports = {ParkAirport{"S3", kQlnaLat, kQlnaLon, 0.0, IcaoCode("QLNA")}};
    lf_writeMyParkAirports();
    EXPECT_EQ(readFile(parkList()), huge);
}

TEST_F(ParkAirportTest, WritingTheFirstEntryIntoTheList)
{
    g_parkAirports = {ParkAirport{"S3", kQlnaLat, kQlnaLon, 0.0, IcaoCode("QLNA")}};
    lf_writeMyParkAirports();
    EXPECT_EQ(readFile(parkList()), "QLNA,S3\n");
    EXPECT_TRUE(logHas("my_park_airports.txt created with QLNA,S3"));

    writeFile(parkList(), "EHAM\nQLNA,S1\nEGLL\n");
    lf_writeMyParkAirports();
    EXPECT_EQ(readFile(parkList()), "EHAM\nQLNA,S3\nEGLL\n");
    EXPECT_TRUE(logHas("my_park_airports.txt:QLNA,S3 updated stand"));
    EXPECT_FALSE(std::filesystem::exists(parkList().string() + ".tmp"));
    // A write that fails halfway (the disk fills up) leaves the list as it was.
    g_parkAirports.front().reservedStand = "S4";
    {
        const FaultyDisk full(0, FaultyDisk::Fault::full);
        lf_writeMyParkAirports();
    }
    EXPECT_EQ(readFile(parkList()), "EHAM\nQLNA,S3\nEGLL\n");
    EXPECT_TRUE(logHas("my_park_airports.txt could not be saved: writing my_park_airports.txt.tmp: No space left on device"));
    g_parkAirports.front().reservedStand = "S3";

    // A line written in lower case is not this airport's line: the entry goes on top, and the
    // next reading finds the airport twice.
    writeFile(parkList(), "qlna,S1\n");
    lf_writeMyParkAirports();
    EXPECT_EQ(readFile(parkList()), "QLNA,S3\nqlna,S1\n");
    EXPECT_TRUE(logHas("my_park_airports.txt:QLNA,S3 new entry"));
    lf_readMyParkAirports();
    EXPECT_EQ(listed(), (std::vector<std::string>{"QLNA,S3"}));
    EXPECT_TRUE(logHas("my_park_airports.txt:QLNA double, skipped"));
}

// Distances are always true ones; a destination only keeps the list from being re-sorted.
TEST_F(ParkAirportTest, SortingByDistanceAndTheDestination)
{
    writeFile(parkList(), "EHAM\nQLNA\n");
    lf_readMyParkAirports();
    lf_sortParkAirportsByDistance(kQlnaLat, kQlnaLon);
    EXPECT_EQ(listed(), (std::vector<std::string>{"QLNA", "EHAM"}));
    // A new reading restores the file's order and must be sorted again at the same position.
    lf_readMyParkAirports();
    lf_sortParkAirportsByDistance(kQlnaLat, kQlnaLon);
    EXPECT_EQ(listed(), (std::vector<std::string>{"QLNA", "EHAM"}));

    DESTINATION.set("EHAM");
    gf_addParkAirport("EHAM", 52.3086, 4.7639);
    lf_sortParkAirportsByDistance(kQlnaLat + 0.01, kQlnaLon);
    EXPECT_EQ(listed(), (std::vector<std::string>{"EHAM", "QLNA"}));
    EXPECT_GT(g_parkAirports.front().distance, 100.0);  // far away, not "in sight" at 0 nm
    // In the air over QLNA with EHAM as destination: EHAM is not in sight, so nothing is chosen.
    userAt(standPoint(0), false, 3000.0);
    gf_manageParkAirport(0);
    EXPECT_EQ(gf_parkAirportCode(), "");
    EXPECT_FALSE(logHas("in sight"));
}

TEST_F(ParkAirportTest, NoUserPositionNoParkAirport)
{
    writeQlnaFile(4);
    userAt(LatLon{0.0, 0.0}, true);
    gf_manageParkAirport(1);
    EXPECT_EQ(gf_parkAirportCode(), "");
    EXPECT_FALSE(logHas("User aircraft"));
}

// On the ground at a stand: the airport is loaded at once and the stand kept for the user.
TEST_F(ParkAirportTest, OnTheGroundTheAirportIsLoadedAndTheUsersStandReserved)
{
    writeQlnaFile(4, {"", "", R"(<opt reg="PH-BXA" day="1" hh="0:47" cs="KLM1"/>)"});
    startTraffic({});
    userAt(standPoint(1), true);
    gf_manageParkAirport(1);
    EXPECT_TRUE(logHas("User aircraft on the ground at QLNA (QLN)"));
    EXPECT_TRUE(logHas("\nThe park airport is QLNA (QLN)"));
    EXPECT_EQ(g_stands.size(), 4u);
    EXPECT_EQ(g_reservedStand, "S2");
    EXPECT_EQ(readFile(parkList()), "QLNA,S2\n");
    EXPECT_TRUE(gf_windowValues().reservedMark);
    EXPECT_EQ(gf_windowValues().parkAirportText, "QLNA (QLN)");
    EXPECT_EQ(gf_windowValues().parkAirportName, "Quillon Field");
    EXPECT_EQ(g_renewalMinutes, kRenewalMinutes);
    ASSERT_EQ(g_staticPositions.size(), 1u);  // 30% of 4 stands
    EXPECT_EQ(gf_standName(g_staticPositions[0].standId), "S3");

    // Standing still on another stand moves the reservation; the 5-second check applies it.
    userAt(standPoint(3), true);
    g_userAc.groundVelocity = 5.0;
    gf_noteUserParkAirport();
    EXPECT_EQ(readFile(parkList()), "QLNA,S2\n");
    g_userAc.groundVelocity = 0.0;
    gf_noteUserParkAirport();
    EXPECT_EQ(readFile(parkList()), "QLNA,S4\n");
    g_parkBusy = false;
    std::string message;
    EXPECT_TRUE(lf_checkParkAirports(1, message));
    EXPECT_EQ(message, "reserved stand changed from 'S2' to 'S4'");
    EXPECT_EQ(g_reservedStand, "S4");
    EXPECT_EQ(g_stands[1].reserved, 0);
    EXPECT_EQ(g_stands[3].reserved, 1);
    EXPECT_TRUE(lf_checkParkAirports(1, message));
    EXPECT_EQ(message, "park airports and stands are okay");
}

// A broken airport file ends as an error of that airport: no park airport, nothing saved.
TEST_F(ParkAirportTest, AnAirportFileThatCannotBeUsedLeavesNoParkAirport)
{
    for (const std::string& xml :
         {apfXml(param("altitude", "30"), R"(<parkpos latitude="50.0" longitude="5.0"/>)"),
          apfXml(param("altitude", "30"), R"(<parkpos id="A" latitude="50.0" longitude="5.0"/><parkpos id="A" latitude="50.1" longitude="5.0"/>)"),
          apfXml(param("airport_name", "Quillon Field"), R"(<parkpos id="A" latitude="50.0" longitude="5.0"/>)"),
          apfXml(param("altitude", "30"), "")}) {
        putLocal("airports/my_simaddon/QLNA.xml", xml);
        gf_clearStatus();
        userAt(standPoint(0), true);
        ASSERT_NO_THROW(gf_manageParkAirport(1));
        EXPECT_EQ(gf_parkAirportCode(), "");
        EXPECT_TRUE(g_stands.empty());
        EXPECT_FALSE(std::filesystem::exists(learnedQlna()));
    }
    EXPECT_TRUE(logHas("93: Parking position #1 has no 'id' attribute."));
    EXPECT_TRUE(logHas("94: Stand 'A' appears more than once."));
    EXPECT_TRUE(logHas("65: Parameter altitude not found"));
    EXPECT_TRUE(logHas("no stands found"));
    EXPECT_EQ(gf_statusText(), "no stands found");
}

// An airport whose file the archive lacks is said once a session, in one line; the manager's
// next calls do not try it again until the next session.
TEST_F(ParkAirportTest, AnAirportFileMissingFromTheArchiveIsTriedOnceASession)
{
    g_archiveBaseUrl = "file://" + (m_dir / "site").generic_string() + "/";
    const auto failures = [this] {
        const std::string log = logText();
        std::size_t n = 0;
        for (std::size_t at = log.find("failed to download"); at != std::string::npos;
             at = log.find("failed to download", at + 1)) {
            ++n;
        }
        return n;
    };
    userAt(LatLon{51.4700, -0.4543}, true);
    gf_manageParkAirport(1);
    for (int call = 0; call < 3; ++call) {
        gf_manageParkAirport(0);
    }
    EXPECT_EQ(failures(), 1u);
    EXPECT_EQ(gf_parkAirportCode(), "");
    gf_manageParkAirport(1); // a new session
    EXPECT_EQ(failures(), 2u);
}

TEST_F(ParkAirportTest, InTheAirTheNearestListedAirportInRangeIsChosenAndDroppedOutOfSight)
{
    writeQlnaFile(4);
    writeFile(parkList(), "EHAM\nQLNA\n");
    lf_readMyParkAirports();
    startTraffic({});
    const LatLon threeNm = gf_destinationPoint(LatLon{kQlnaLat, kQlnaLon}, 0.0, 3.0 * kFeetPerNm);
    userAt(threeNm, false, 3000.0);
    gf_manageParkAirport(0);
    EXPECT_TRUE(logHas("QLNA in sight at 3.0 nm"));
    EXPECT_EQ(g_parkSwitchPending, 1);
    EXPECT_TRUE(g_stands.empty());
    gf_manageParkAirport(0);
    EXPECT_EQ(g_stands.size(), 4u);
    EXPECT_EQ(g_parkLoaded.load(), 1);

    const LatLon far = gf_destinationPoint(LatLon{kQlnaLat, kQlnaLon}, 0.0, 25.0 * kFeetPerNm);
    userAt(far, false, 3000.0);
    gf_manageParkAirport(0);
    EXPECT_TRUE(logHas("QLNA (QLN) is out of sight (25.0 nm), parked aircraft will be removed"));
    EXPECT_EQ(gf_parkAirportCode(), "");
    EXPECT_TRUE(g_stands.empty());
    EXPECT_TRUE(std::filesystem::exists(learnedQlna()));
}

TEST_F(ParkAirportTest, DroppingTheAirportRemovesWhatDependsOnItsStands)
{
    makeStands(4);
    g_parkAirport = g_airports.back();
    g_parkLoaded = 1;
    g_parkApfInfo.apfName = "airports/my_simaddon/QLNA.xml";
    g_parkApfInfo.publisher = "simaddon";
    staticAc(1, "KLM1*", 1, 1, g_weekTime.load());
    LiveAc& parked = parkedLive(0x484001, "KLM11", 2, 10);
    LiveAc& taxiing = parkedLive(0x484002, "KLM12", 3, 10);
    taxiing.flightState = FlightState::taxi;
    LiveAc& flying = parkedLive(0x484003, "KLM13", 0, 10);
    flying.flightState = FlightState::flying;
    g_stands[1].liveHere = 1;
    g_staticPositions.push_back(StaticPosition{});
    gf_resetParkAirport();
    EXPECT_EQ(g_staticAcs[0].state, AcState::removingfromsim);
    EXPECT_EQ(parked.state, AcState::removingfromsim);
    EXPECT_EQ(parked.standId, 0u);
    EXPECT_EQ(taxiing.state, AcState::removingfromsim);
    EXPECT_EQ(flying.state, AcState::active);
    EXPECT_TRUE(g_staticPositions.empty());
    EXPECT_TRUE(g_stands.empty());
    EXPECT_EQ(gf_parkAirportCode(), "");
    EXPECT_EQ(g_parkLoaded.load(), 0);
    EXPECT_TRUE(std::filesystem::exists(learnedQlna()));
    // Nothing left to check or renew.
    EXPECT_FALSE(gf_controlState(PARK_CHECK_BUTTON).enabled);
    EXPECT_FALSE(gf_controlState(PARK_RENEW_BUTTON).enabled);
}

TEST_F(ParkAirportTest, AParkChangeIsAnnouncedForTheNext15SecondMark)
{
    gf_setParkSecondsSource([]() -> uint64_t { return 37; });
    gf_announceStaticParkingUpdate();
    EXPECT_EQ(gf_statusText(), "Quillon will update static parking in 8 seconds ...");
    EXPECT_TRUE(g_parkChangeRequested);
    EXPECT_TRUE(g_parkBusy);
    gf_setParkSecondsSource(nullptr);
}

// The simulator thread delivers the user aircraft's data while the worker loads and drops the park
// airport again and again: the stand table and the list are touched on the worker only.
TEST_F(ParkAirportTest, UserDataArriveFromTheSimulatorThreadDuringParkAirportChanges)
{
    writeQlnaFile(8);
    writeFile(parkList(), "QLNA\n");
    lf_readMyParkAirports();
    startTraffic({});
    SimStandIn& sim = gf_simStandIn();
    sim.reset();
    sim.setRunning(true);
    sim.setUserObjectId(1000);
    sim.setFramesPerSecond(200);
    sim.setFreeRunning(true);
    const LatLon s3 = standPoint(2);
    sim.setUserAircraft(UserScriptPoint{0.0, s3.lat, s3.lon, 30.0, 90.0, 0.0, true}, 117.4, "PH-QLN");
    gf_startSimClient();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (g_simLinkState.load() == SimLinkState::connecting && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_EQ(g_simLinkState.load(), SimLinkState::connected);
    int changes = 0;
    while (changes < 10 && std::chrono::steady_clock::now() < deadline) {
        gf_requestAcWithinRange();  // every 20th call asks for the user aircraft's position too
        gf_takeUserAcSnapshot();
        if (!g_userAc.dataArrived) {
            std::this_thread::yield();
            continue;
        }
        if (gf_parkAirportCode().empty()) {
            gf_manageParkAirport(1);
        } else {
            gf_resetParkAirport();
            ++changes;
        }
    }
    gf_stopSimClient();
    sim.reset();
    EXPECT_EQ(changes, 10);
    EXPECT_EQ(readFile(parkList()), "QLNA,S3\n");
}

} // namespace
} // namespace qmt::test

namespace qmt::test {
namespace {

// Options that a calculation switched off are learned data all the same: leaving the airport
// before any reconciliation keeps them in the learned file.
TEST_F(ParkAirportTest, LeavingTheAirportKeepsOptionsTheCalculationSwitchedOff)
{
    writeQlnaFile(4);
    startTraffic({});
    userAt(standPoint(0), true);
    gf_manageParkAirport(1);
    ASSERT_EQ(g_stands.size(), 4u);
    addOption(2, option(1, "20", "PH-BXA", "KLM1"));
    addOption(3, option(1, "21", "PH-BXB", "KLM2"));
    g_stands[2].options[0].optionId = 0;
    g_stands[3].options[0].optionId = 0;
    gf_resetParkAirport();
    const std::string learned = readFile(learnedQlna());
    EXPECT_NE(learned.find(R"(reg="PH-BXA")"), std::string::npos);
    EXPECT_NE(learned.find(R"(reg="PH-BXB")"), std::string::npos);
}

} // namespace
} // namespace qmt::test
