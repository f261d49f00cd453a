#include <random>
#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LiveryFixtures.h"
#include "core/Parameters.h"
#include "liveries/Regcodes.h"
#include "stands/StandTable.h"

namespace qmt::test {
namespace {

using namespace std::chrono_literals;

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Liveries added to the fixture for the matching paths: operator liveries, cargo and
// passenger liveries of one airline and model, private light aircraft without a generic
// livery, and a livery whose title asks for reverse thrust.
const char* const MATCHING_EXTRA = R"(
<l a="CFE" m="E195" t="CFE Embraer 195 British Airways colours"/>
<l a="CFE" m="E195" t="CFE Embraer 195 plain"/>
<l a="BAW" m="E195" t="BAW E195 Cityflyer"/>
<l a="BAW" m="E195" t="BAW E195"/>
<l a="CFE" m="E175" t="CFE E175 plain"/>
<l a="BAW" m="E175" t="BAW E175 Cityflyer"/>
<l a="BAW" m="E175" t="BAW E175 plain"/>
<l a="CLH" m="CRJ9" t="CityLine CRJ900 D-ACNA"/>
<l a="CLH" m="CRJ9" t="CityLine CRJ900 D-ACNB"/>
<l a="DLH" m="CRJ9" t="Lufthansa CRJ900"/>
<l a="KLM" m="B77W" c="true" t="Martinair Cargo KLM 777"/>
<l a="PVT" m="PA28" t="Piper PA28 PH-PAA" r="PH-PAA"/>
<l a="PVT" m="PA28" t="Piper PA28 D-EPAA" r="D-EPAA"/>
<l a="PVT" m="PA28" t="Piper PA28 G-PAAA" r="G-PAAA"/>
<l a="AFR" m="A333" t="FSLTL_AFR_A333"/>
)";

class MatchingTest : public LiveryTest {
protected:
    void SetUp() override
    {
        LiveryTest::SetUp();
        for (const char* model : {"E175", "CRJ9"}) {
            g_largeModels.insert(model);
        }
        g_buzjetModels.insert("CL35");
        g_rotorcraftModels.insert("EC45");
        g_regPrefixes["M-"] = {"G-"};
        writeLiveriesFile(std::string(FIXTURE_LIVERIES) + MATCHING_EXTRA);
        writeAigRegcodes(FIXTURE_AIG, m_work);
        gf_processScannedLiveries();
        clearLog();
        MATCHING_DEPTH.set(4);
    }

    static SimAc aircraft(const char* AIRLINE, const char* OPERATOR, const char* MODEL, const char* REGISTRATION,
                          bool CARGO = false)
    {
        return testAircraft(AIRLINE, OPERATOR, MODEL, REGISTRATION, CARGO);
    }

    // Matches a live aircraft with scripted draws; expects the step (or no match with -1),
    // the title, and the one log line.
    void expectLive(SimAc AC, int STEP, const std::string& TITLE, std::vector<std::size_t> DRAWS = {})
    {
        clearLog();
        gf_scriptRandomDraws(std::move(DRAWS));
        const auto before = g_matchStepCount;
        gf_matchLiveAcLivery(AC);
        gf_clearRandomScript();
        EXPECT_EQ(AC.liveryTitle, TITLE) << gf_acDescription(AC);
        if (STEP < 0) {
            EXPECT_THAT(logLines(), IsEmpty());
            EXPECT_EQ(g_matchStepCount, before);
            return;
        }
        EXPECT_THAT(logLines(), ElementsAre(fmt::format("          {} ={}= {}", gf_acDescription(AC), STEP, TITLE)));
        auto expected = before;
        ++expected[static_cast<std::size_t>(STEP)];
        EXPECT_EQ(g_matchStepCount, expected);
    }
};

TEST_F(MatchingTest, RegistrationStepsAndAirlineModel)
{
    expectLive(aircraft("KLM", "", "B738", "PH-BXA"), 0, "KLM Boeing 737-800 PH-BXA");
    expectLive(aircraft("KLM", "", "B738", "PH-BXB"), 1, "KLM Boeing 737-800 PH-BXB");
    // The AIG file added a second regcode to a special livery with two regcodes: step 1.
    expectLive(aircraft("EZY", "", "A320", "G-EZTB"), 1, "easyJet Airbus A320 G-EZTA");
    expectLive(aircraft("KLM", "", "B738", "PH-NEW"), 2, "KLM Boeing 737-800 PH-BXB", {1});
    // A registration of another model still wins: the registration is the aircraft's own.
    expectLive(aircraft("TRA", "", "B738", "PH-HSA"), 1, "Transavia Boeing 737-800 PH-HXA");
}

TEST_F(MatchingTest, OperatorLiveriesAreTriedInTheirOrder)
{
    // (a) the combined key DLHCLH.
    expectLive(aircraft("DLH", "CLH", "E190", "D-AECX"), 2, "Lufthansa CityLine Embraer 190 D-AECA");
    // (b) an operator livery whose title names the airline.
    expectLive(aircraft("BAW", "CFE", "E195", "G-LCYX"), 2, "CFE Embraer 195 British Airways colours");
    // (c) an airline livery whose title names the operator.
    expectLive(aircraft("BAW", "CFE", "E175", "G-LCYX"), 2, "BAW E175 Cityflyer");
    // (d) any livery of the operator (DLH and CLH have no word: "not found").
    expectLive(aircraft("DLH", "CLH", "CRJ9", "D-ACNX"), 2, "CityLine CRJ900 D-ACNB", {1});
    // (e) any livery of the airline.
    expectLive(aircraft("DLH", "CLH", "A320", "D-AIZX"), 2, "Lufthansa Airbus A320 D-AIZA");
}

TEST_F(MatchingTest, CargoBeforePassengerLiveries)
{
    expectLive(aircraft("KLM", "", "B77W", "PH-CKA", true), 2, "Martinair Cargo KLM 777");
    expectLive(aircraft("KLM", "", "B77W", "PH-BVX"), 2, "KLM Boeing 777-300ER PH-BVA");
    // Only passenger liveries of the airline and model: one of them.
    expectLive(aircraft("TRA", "", "B738", "PH-HXX", true), 2, "Transavia Boeing 737-800 PH-HXA", {1});
    expectLive(aircraft("FDX", "", "B77L", "N851FD", true), 2, "FedEx Boeing 777F N850FD");
}

TEST_F(MatchingTest, PrivateAircraftAndNationalPrefixes)
{
    // A generic livery of the model comes first, counted as step 4.
    expectLive(aircraft("PVT", "", "C172", "PH-XYZ"), 4, "Cessna 172 white");
    // Without a generic livery: the private livery with the national prefix.
    expectLive(aircraft("PVT", "", "PA28", "D-EXYZ"), 2, "Piper PA28 D-EPAA");
    // No livery with the prefix: an alternative prefix of the reference data.
    expectLive(aircraft("PVT", "", "PA28", "M-ABCD"), 2, "Piper PA28 G-PAAA");
    // No prefix and no alternative: no private livery by prefix, then any of the model.
    expectLive(aircraft("PVT", "", "PA28", "OO-ABC"), 2, "Piper PA28 G-PAAA", {1});
    expectLive(aircraft("PVT", "", "PA28", ""), 2, "Piper PA28 PH-PAA", {2});
}

// The national searches through the candidates filtered when the tables are built pick the very
// titles that filtering the whole lists at each search picks, for national prefixes of every
// shape and alternative prefixes of any text.
TEST_F(MatchingTest, PrefixTablesPickWhatFilteringTheWholeListsPicks)
{
    g_regPrefixes = {{"M-", {"G-"}}, {"PH-", {"OO-", "D-"}}, {"N", {"N1", "C-F"}}, {"X", {"PH-"}}};
    const std::vector<std::string> prefixes = {"PH-", "D-", "G-", "N", "N1", "OO-", "C-F", "C-G", "-", ""};
    const std::vector<std::string> models = {"PA28", "C172", "C56X", "EC35"};
    std::mt19937 rng(3);
    std::string liveries;
    for (int i = 0; i < 400; ++i) {
        const std::string regcode = fmt::format("{}{:04X}", prefixes[rng() % prefixes.size()], i);
        liveries += fmt::format(R"(<l a="{}" m="{}" c="{}" t="Livery {}" r="{}"/>)", i % 3 == 0 ? "FLY" : "PVT",
                                models[rng() % models.size()], i % 7 == 0 ? "true" : "false", i, regcode);
    }
    const std::vector<std::string> registrations = {"PH-AAA", "PHAAA", "D-EAAA", "M-ABCD", "N123", "N1AB", "XYZ",
                                                    "-AB", "C-FAAA", "OO-AAA", "G-AAAA", "Q-AAA"};
    std::vector<SimAc> aircraft;
    for (int i = 0; i < 300; ++i) {
        const char* model = i % 10 == 0 ? "C152" : models[rng() % models.size()].c_str();
        aircraft.push_back(testAircraft(i % 2 == 0 ? "PVT" : "QQQ", "", model,
                                        registrations[rng() % registrations.size()].c_str(), i % 5 == 0));
    }
    const auto matchAll = [&](bool PREFIXED) {
        gf_clearLiveryTables();
        g_liveriesProcessed = false;
        writeLiveriesFile(liveries);
        gf_processScannedLiveries();
        EXPECT_FALSE(g_prefixedModelLiveries[0].empty());
        EXPECT_FALSE(g_prefixedPvtLiveries[0].empty());
        if (!PREFIXED) {
            g_prefixedModelLiveries = {};
            g_prefixedPvtLiveries = {};
        }
        std::vector<std::string> titles;
        for (std::size_t i = 0; i < aircraft.size(); ++i) {
            SimAc ac = aircraft[i];
            gf_seedRngForTests(static_cast<uint32_t>(i));
            gf_matchLiveAcLivery(ac);
            titles.emplace_back(ac.liveryTitle);
        }
        return titles;
    };
    const std::vector<std::string> plain = matchAll(false);
    EXPECT_GT(std::count_if(plain.begin(), plain.end(), [](const std::string& T) { return !T.empty(); }), 200);
    EXPECT_EQ(matchAll(true), plain);
}

TEST_F(MatchingTest, SimilarAndGenericModels)
{
    expectLive(aircraft("KLM", "", "B38M", "PH-XRA"), 3, "KLM Boeing 737-800 PH-BXB", {1});
    // Light aircraft of an unknown operator: national livery of the model (5), of a random
    // generic model when the model has none and no similar models (6).
    expectLive(aircraft("FLY", "", "PA28", "G-BXYZ"), 5, "Piper PA28 G-PAAA");
    expectLive(aircraft("FLY", "", "C150", "D-EFGH"), 6, "Cessna 172 D-EABC", {0});
    expectLive(aircraft("FLY", "", "C150", "G-EFGH"), 6, "Piper PA28 G-PAAA", {1});
    // A similar model of the group.
    expectLive(aircraft("FLY", "", "C152", "PH-EFG"), 6, "Cessna 172 PH-ABC", {1});
    expectLive(aircraft("FLY", "", "C152", "PH-EFG"), 6, "Piper PA28 PH-PAA", {0});
    expectLive(aircraft("FLY", "", "CL35", "PH-JET"), 6, "Cessna Citation Excel PH-CXA");
    // No livery with the prefix: any livery of the generic model.
    expectLive(aircraft("FLY", "", "EC45", "OO-XYZ"), 6, "Eurocopter EC135 PH-ECA");
    // A Heavy aircraft never gets a national livery.
    expectLive(aircraft("XYZ", "", "B772", "N123XY"), -1, "");
    // A Light aircraft without registration has no national prefix.
    expectLive(aircraft("FLY", "", "PA28", ""), -1, "");
}

TEST_F(MatchingTest, EveryAircraftAtEveryDepth)
{
    struct Row {
        SimAc ac;
        std::vector<std::size_t> draws;
        std::array<int, 4> steps;         // at depth 1 to 4; -1: no livery
        std::array<const char*, 4> titles;
    };
    const char* const bxa = "KLM Boeing 737-800 PH-BXA";
    const char* const bxb = "KLM Boeing 737-800 PH-BXB";
    const char* const cityLine = "Lufthansa CityLine Embraer 190 D-AECA";
    const char* const britishCfe = "CFE Embraer 195 British Airways colours";
    const char* const martinair = "Martinair Cargo KLM 777";
    const char* const white172 = "Cessna 172 white";
    const char* const pa28D = "Piper PA28 D-EPAA";
    const std::vector<Row> rows = {
        {aircraft("KLM", "", "B738", "PH-BXA"), {}, {0, 0, 0, 0}, {bxa, bxa, bxa, bxa}},
        {aircraft("KLM", "", "B738", "PH-NEW"), {1}, {-1, 2, 2, 2}, {"", bxb, bxb, bxb}},
        {aircraft("DLH", "CLH", "E190", "D-AECX"), {}, {-1, 2, 2, 2}, {"", cityLine, cityLine, cityLine}},
        {aircraft("BAW", "CFE", "E195", "G-LCYX"), {}, {-1, 2, 2, 2}, {"", britishCfe, britishCfe, britishCfe}},
        {aircraft("KLM", "", "B77W", "PH-CKA", true), {}, {-1, 2, 2, 2}, {"", martinair, martinair, martinair}},
        {aircraft("PVT", "", "C172", "PH-XYZ"), {}, {-1, 4, 4, 4}, {"", white172, white172, white172}},
        {aircraft("PVT", "", "PA28", "D-EXYZ"), {}, {-1, 2, 2, 2}, {"", pa28D, pa28D, pa28D}},
        {aircraft("KLM", "", "B38M", "PH-XRA"), {1}, {-1, -1, 3, 3}, {"", "", bxb, bxb}},
        {aircraft("FLY", "", "PA28", "G-BXYZ"), {}, {-1, -1, -1, 5}, {"", "", "", "Piper PA28 G-PAAA"}},
        {aircraft("FLY", "", "C150", "D-EFGH"), {0}, {-1, -1, -1, 6}, {"", "", "", "Cessna 172 D-EABC"}},
        {aircraft("FLY", "", "CL35", "PH-JET"), {}, {-1, -1, -1, 6}, {"", "", "", "Cessna Citation Excel PH-CXA"}},
        {aircraft("FLY", "", "EC45", "OO-XYZ"), {}, {-1, -1, -1, 6}, {"", "", "", "Eurocopter EC135 PH-ECA"}},
        {aircraft("XYZ", "", "B772", "N123XY"), {}, {-1, -1, -1, -1}, {"", "", "", ""}},
    };
    for (int depth = 1; depth <= 4; ++depth) {
        MATCHING_DEPTH.set(depth);
        for (const Row& row : rows) {
            SCOPED_TRACE(fmt::format("depth {} {}", depth, gf_acDescription(row.ac)));
            const auto d = static_cast<std::size_t>(depth - 1);
            expectLive(row.ac, row.steps[d], row.titles[d], row.draws);
        }
    }
}

TEST_F(MatchingTest, SpecialLiveriesAreAvoidedByRandomPicks)
{
    // Five special draws: a non-special candidate is taken.
    expectLive(aircraft("KLM", "", "B738", "PH-NEW"), 2, "KLM Boeing 737-800 PH-BXB", {0, 0, 0, 0, 0});
    // A special draw is drawn again.
    expectLive(aircraft("KLM", "", "B738", "PH-NEW"), 2, "KLM Boeing 737-800 PH-BXB", {0, 1});
    // Only special candidates: the last special draw stays.
    for (const char* title : {"Transavia Boeing 737-800 PH-HSA", "Transavia Boeing 737-800 PH-HXA"}) {
        g_specialLiveries.push_back(lf_regcodeOwner(title));
        g_specialTitleSet.insert(lf_regcodeOwner(title));
    }
    expectLive(aircraft("TRA", "", "B738", "PH-HXX"), 2, "Transavia Boeing 737-800 PH-HXA", {0, 0, 0, 0, 1});
    expectLive(aircraft("TRA", "", "B738", "PH-HXX"), 2, "Transavia Boeing 737-800 PH-HSA", {1, 1, 1, 1, 0});
}

TEST_F(MatchingTest, RefusedTitlesAreNeverGivenAndDoNotSinkAStep)
{
    g_notCreatedTitles["KLM Boeing 737-800 PH-BXB"].forGood = true;
    // The registration's title is refused; step 2 picks among the others even with a draw
    // that would have hit the refused one.
    expectLive(aircraft("KLM", "", "B738", "PH-BXB"), 2, "KLM Boeing 737-800 PH-BXA", {1});
    expectLive(aircraft("KLM", "", "B38M", "PH-XRA"), 3, "KLM Boeing 737-800 PH-BXA", {1});
    // Every title of the airline and model refused: the sequence goes on to the generic livery.
    g_notCreatedTitles["KLM Boeing 737-800 PH-BXA"].forGood = true;
    expectLive(aircraft("KLM", "", "B738", "PH-NEW"), 4, "Boeing 737-800 generic white");
    // A refused operator livery: the next operator attempt.
    g_notCreatedTitles["CFE Embraer 195 British Airways colours"].forGood = true;
    expectLive(aircraft("BAW", "CFE", "E195", "G-LCYX"), 2, "BAW E195 Cityflyer");
}

// The simulator refusing a title now and then does not lose it: one refusal keeps it back for a
// while, a creation of it forgives the refusal, and only a title refused again after its ban,
// with no creation between, is never given again.
TEST_F(MatchingTest, ARefusedTitleComesBackAfterItsBanUnlessRefusedAgain)
{
    gf_useManualLoopClockForTests();
    const std::string bxb = "KLM Boeing 737-800 PH-BXB";
    const std::string bxa = "KLM Boeing 737-800 PH-BXA";
    enum class Event { refused, created, none };
    struct Case {
        std::chrono::minutes after; // since the case before
        Event event;
        bool given;
        std::size_t refusedForGood;
    };
    const Case cases[] = {
        {0min, Event::refused, false, 0},
        {29min, Event::none, false, 0},
        {2min, Event::none, true, 0},
        {0min, Event::created, true, 0},
        {0min, Event::refused, false, 0},  // forgiven by the creation: a first refusal again
        {31min, Event::none, true, 0},
        {0min, Event::refused, false, 1},  // refused again after its ban
        {48h, Event::none, false, 1},
    };
    SimAc refused = aircraft("KLM", "", "B738", "PH-BXB");
    refused.liveryTitle = bxb;
    for (const Case& c : cases) {
        gf_advanceLoopClockForTests(c.after);
        if (c.event == Event::refused) {
            EXPECT_EQ(gf_refuseTitle(refused, gf_loopNow()), c.refusedForGood);
        } else if (c.event == Event::created) {
            gf_titleCreated(bxb);
        }
        if (c.given) {
            expectLive(aircraft("KLM", "", "B738", "PH-BXB"), 1, bxb);
        } else {
            expectLive(aircraft("KLM", "", "B738", "PH-BXB"), 2, bxa, {1});
        }
    }
    EXPECT_EQ(g_notCreatedList, (std::unordered_set<std::string>{"KLM B738 " + bxb}));
    gf_useRealLoopClock();
}

TEST_F(MatchingTest, ReverseThrustFollowsTheTitle)
{
    SimAc ac = aircraft("AFR", "", "A333", "F-HXYZ");
    gf_matchLiveAcLivery(ac);
    EXPECT_EQ(ac.liveryTitle, "FSLTL_AFR_A333");
    EXPECT_EQ(ac.reverseThrust, 1u);
    ac = aircraft("AFR", "", "B77W", "F-HXYZ");
    ac.reverseThrust = 1;
    gf_matchLiveAcLivery(ac);
    EXPECT_EQ(ac.reverseThrust, 0u);
}

TEST_F(MatchingTest, StaticMatchesLogButDoNotCount)
{
    Stand stand("E7", {}, 52.3, 4.76, 0.0, 30.0, 0, false, false, false);
    const auto before = g_matchStepCount;

    SimAc given = aircraft("KLM", "", "B738", "PH-BXA");
    given.liveryTitle = "Some given title";
    EXPECT_TRUE(gf_matchStaticAcLivery(given, stand));

    SimAc byRegistration = aircraft("KLM", "", "B738", "PH-BXA");
    EXPECT_TRUE(gf_matchStaticAcLivery(byRegistration, stand));

    SimAc rotor = aircraft("FLY", "", "EC45", "OO-XYZ");
    EXPECT_TRUE(gf_matchStaticAcLivery(rotor, stand));

    SimAc heavy = aircraft("XYZ", "", "B772", "N123XY");
    EXPECT_FALSE(gf_matchStaticAcLivery(heavy, stand));
    EXPECT_TRUE(heavy.liveryTitle.empty());

    // A refused registration title goes on to the airline and model.
    g_notCreatedTitles["KLM Boeing 737-800 PH-BXB"].forGood = true;
    SimAc refused = aircraft("KLM", "", "B738", "PH-BXB");
    EXPECT_TRUE(gf_matchStaticAcLivery(refused, stand));

    EXPECT_THAT(logLines(),
                ElementsAre("          " + gf_acDescription(given) + " =s= Some given title",
                            "          " + gf_acDescription(byRegistration) + " =0= KLM Boeing 737-800 PH-BXA",
                            "          " + gf_acDescription(rotor) + " =6= Eurocopter EC135 PH-ECA",
                            "E7      : " + gf_acDescription3(heavy) + " no livery match ...",
                            "          " + gf_acDescription(refused) + " =2= KLM Boeing 737-800 PH-BXA"));
    EXPECT_EQ(g_matchStepCount, before);
    EXPECT_EQ(byRegistration.reverseThrust, 0u);
}

TEST_F(MatchingTest, StaticPrivateAircraftTakesTheStandsCargoFlag)
{
    Stand cargoStand("C1", {}, 52.3, 4.76, 0.0, 40.0, 0, true, false, false);
    // A generic cargo livery of the model exists only as cargo.
    gf_clearLiveryTables();
    g_liveriesProcessed = false;
    writeLiveriesFile(R"(<l a="ZZZ" m="B77L" c="true" t="Generic 777F"/><l a="PVT" m="B77L" t="Private 777"/>)");
    gf_processScannedLiveries();
    clearLog();
    SimAc ac = aircraft("PVT", "", "B77L", "N777PV");
    EXPECT_TRUE(gf_matchStaticAcLivery(ac, cargoStand));
    EXPECT_EQ(ac.liveryTitle, "Generic 777F");
    EXPECT_THAT(logLines(), ElementsAre("          " + gf_acDescription(ac) + " =4= Generic 777F"));
}

TEST_F(MatchingTest, EmptyTablesMatchNothing)
{
    gf_clearLiveryTables();
    expectLive(aircraft("KLM", "", "B738", "PH-BXA"), -1, "");
    Stand stand("A1", {}, 52.3, 4.76, 0.0, 30.0, 0, false, false, false);
    SimAc ac = aircraft("PVT", "", "C172", "PH-ABC");
    EXPECT_FALSE(gf_matchStaticAcLivery(ac, stand));
}

} // namespace
} // namespace qmt::test
