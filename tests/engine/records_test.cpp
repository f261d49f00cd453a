#include "EngineFixture.h"

#include <stdexcept>

#include "core/KindText.h"
#include "liveries/Matching.h"

namespace qmt::test {
namespace {

using RecordsTest = EngineTest;

AcKind kindOf(const char* AIRLINE, const char* OPERATOR, const char* MODEL)
{
    AcKind k;
    k.airlineId = gf_airlineId(AIRLINE);
    k.operatorId = OPERATOR[0] != '\0' ? gf_airlineId(OPERATOR) : 0;
    k.modelId = gf_modelId(MODEL);
    return k;
}

TEST_F(RecordsTest, KindTextColumns)
{
    AcKind k = kindOf("DLH", "", "A320");
    EXPECT_EQ(gf_kindText(k), "DLH     A320    ");
    EXPECT_EQ(gf_kindText(k).size(), 16u);

    k = kindOf("DLH", "CLH", "A320");
    EXPECT_EQ(gf_kindText(k), "DLH,CLH A320    ");

    k = kindOf("DLH", "", "A320");
    k.cargo = 1;
    EXPECT_EQ(gf_kindText(k), "DLH     A320 (C)");
    k.cargo = 0;
    k.marker = 1;
    EXPECT_EQ(gf_kindText(k), "DLH     A320.   ");

    // Ids beyond the interned lists read as empty codes; long codes are not cut.
    AcKind unknown;
    unknown.airlineId = 60000;
    unknown.modelId = 60000;
    EXPECT_EQ(gf_kindText(unknown), std::string(16, ' '));
    EXPECT_EQ(gf_kindText(kindOf("ABCDE", "", "A320")), "ABCDE     A320    ");
}

TEST_F(RecordsTest, CategoryAndStateNames)
{
    EXPECT_EQ(gf_categoryName(0), "Light");
    EXPECT_EQ(gf_categoryName(5), "Rotorcraft");
    EXPECT_THROW(gf_categoryName(6), std::out_of_range);

    EXPECT_EQ(gf_phaseName(7), "birth");
    EXPECT_EQ(gf_phaseName(FlightState::pushing_back), "pushing_back");
    EXPECT_EQ(gf_lifeStateName(AcState::removingfromsim), "removingfromsim");
    try {
        gf_phaseName(8);
        FAIL() << "no error for flight state 8";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid unordered_map<K, T> key");
    }
    EXPECT_THROW(gf_lifeStateName(5), std::out_of_range);
}

TEST_F(RecordsTest, DescriptionTexts)
{
    AcProfile p;
    p.kind = kindOf("KLM", "", "B738");
    p.callsign = "KLM1234";
    p.registration = "PH-BXA";
    EXPECT_EQ(lf_routeText(p), "        ");
    p.origin = "AMS";
    EXPECT_EQ(lf_routeText(p), "AMS->   ");
    p.destination = "LHR";
    EXPECT_EQ(lf_routeText(p), "AMS->LHR");
    EXPECT_EQ(gf_acDescription(p), "KLM     B738     KLM1234  PH-BXA       AMS->LHR");
    EXPECT_EQ(gf_acDescription3(p), "KLM1234  PH-BXA KLM     B738    ");
    EXPECT_EQ(lf_spawnText(p), "KLM     B738     PH-BXA");
}

TEST_F(RecordsTest, NormalizeCallsign)
{
    EXPECT_EQ(gf_normalizeCallsign("klm1234"), std::optional<std::string>("KLM"));
    EXPECT_EQ(gf_normalizeCallsign("EZY12"), std::optional<std::string>("EZY"));
    EXPECT_FALSE(gf_normalizeCallsign("KLM"));
    EXPECT_FALSE(gf_normalizeCallsign("PHBXA"));
    EXPECT_FALSE(gf_normalizeCallsign("N123AB"));
}

TEST_F(RecordsTest, ConstructorsSetTheirDefaults)
{
    AcProfile p;
    p.id = 77;
    p.callsign = "STATIC1";
    SimAc s(p, 12, 52.3, 4.7, 1.5, true);
    EXPECT_EQ(s.standId, 12u);
    EXPECT_EQ(s.state, AcState::buffer);
    EXPECT_EQ(s.throttleIndex, 5u);
    EXPECT_EQ(s.flapsIndex, 4u);
    EXPECT_EQ(s.noCabinLight, 1);
    EXPECT_EQ(s.notFromParkedTraffic, 1u);
    EXPECT_FALSE(s.isLive());

    StreamPos first;
    first.lat = 52.0;
    p.id = 0x484C53;
    LiveAc a(first, p, 123.5);
    EXPECT_TRUE(a.isLive());
    EXPECT_EQ(a.stream.size(), 1u);
    EXPECT_EQ(a.lastReportTime, 123.5);
    EXPECT_EQ(a.flightState, FlightState::birth);
    EXPECT_EQ(a.previousFlightState, FlightState::birth);
    EXPECT_EQ(a.earlyWindow, 1000);
    EXPECT_EQ(a.lateWindow, 1000);
    EXPECT_EQ(a.transitionSlots, 1);
    EXPECT_EQ(a.heightAboveGround, 2500.0);
    EXPECT_EQ(a.lat, 0.0);
    EXPECT_EQ(a.standId, 0u);
}

TEST_F(RecordsTest, EraseMovesLastIntoPlace)
{
    StreamPos pt;
    for (uint32_t id : {20001u, 20002u, 20003u}) {
        AcProfile p;
        p.id = id;
        g_liveAcs.emplace_back(pt, p, 0.0);
    }
    lf_eraseLiveAc(g_liveAcs[0]);
    ASSERT_EQ(g_liveAcs.size(), 2u);
    EXPECT_EQ(g_liveAcs[0].id, 20003u);
    EXPECT_EQ(g_liveAcs[1].id, 20002u);
    lf_eraseLiveAc(g_liveAcs[1]);
    ASSERT_EQ(g_liveAcs.size(), 1u);
    EXPECT_EQ(g_liveAcs[0].id, 20003u);
}

TEST_F(RecordsTest, ARememberedLiveryIsForgottenOnceItsAircraftHasBeenGoneAWhole20Minutes)
{
    addLiveAc(0x484001, "KLM1");
    for (const uint32_t hex : {0x484001u, 0x484002u, 0x484003u})
        g_chosenLiveries[hex] = "Generic";
    // Rows: the aircraft gone before the call, then the ids remembered after it.
    const struct {
        std::vector<uint32_t> leave;
        std::vector<uint32_t> remembered;
    } rows[] = {{{}, {0x484001, 0x484002, 0x484003}},  // 2 and 3 have just gone
                {{0x484001}, {0x484001}},               // 2 and 3 gone a whole period, 1 just gone
                {{}, {}}};
    for (const auto& row : rows) {
        for (const uint32_t hex : row.leave)
            lf_eraseLiveAc(*gf_findLiveAc(hex));
        gf_forgetLiveriesOfGoneAircraft();
        std::vector<uint32_t> remembered;
        for (const auto& [hex, title] : g_chosenLiveries)
            remembered.push_back(hex);
        std::sort(remembered.begin(), remembered.end());
        EXPECT_EQ(remembered, row.remembered);
    }
}

} // namespace
} // namespace qmt::test
