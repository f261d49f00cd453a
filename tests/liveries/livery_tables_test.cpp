#include <algorithm>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LiveryFixtures.h"
#include "core/Parameters.h"
#include "core/UserError.h"
#include "core/WindowState.h"
#include "liveries/Regcodes.h"

namespace qmt::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// Every title text that any livery or regcode table can still reach.
std::set<std::string> reachableTitles()
{
    std::set<std::string> titles;
    for (const auto& [key, models] : g_liveryTable) {
        for (const auto& [model, entries] : models) {
            for (const LiveryEntry& entry : entries) {
                titles.insert(entry.title);
            }
        }
    }
    for (const auto& table : g_kindLiveries) {
        for (const auto& [key, models] : table) {
            for (const auto& [model, views] : models) {
                titles.insert(views.begin(), views.end());
            }
        }
    }
    for (const ModelTitleMap* table : {&g_paxModelLiveries, &g_cargoModelLiveries}) {
        for (const auto& [model, views] : *table) {
            titles.insert(views.begin(), views.end());
        }
    }
    for (const auto& [regcode, title] : g_regcodeLiveries) {
        titles.insert(std::string(title));
    }
    for (const auto& [title, regcode] : g_titleRegcodes) {
        titles.insert(std::string(title));
    }
    titles.insert(g_specialLiveries.begin(), g_specialLiveries.end());
    for (const auto& [id, title] : g_chosenLiveries) {
        titles.insert(std::string(title));
    }
    return titles;
}

std::vector<std::string> titlesOf(int SELECTOR, const char* AIRLINE_KEY, const char* MODEL)
{
    const auto& models = g_kindLiveries[static_cast<std::size_t>(SELECTOR)].at(gf_airlineId(AIRLINE_KEY));
    const TitleViews& views = models.at(gf_modelId(MODEL));
    return std::vector<std::string>(views.begin(), views.end());
}

class LiveryTablesTest : public LiveryTest {};

TEST_F(LiveryTablesTest, FixtureGivesTheExactTableBuildLog)
{
    writeLiveriesFile(FIXTURE_LIVERIES);
    writeAigRegcodes(FIXTURE_AIG, m_work);
    HIGH_PERF_AIRCRAFT.set(true);
    gf_processScannedLiveries();

    const std::string livPath = gf_liveriesScannedPath().string();
    const std::string offlinePath = (g_infoPath / "OfflineRegcodes.txt").string();
    EXPECT_THAT(logLines(),
                ElementsAre("   25 liveries read from " + livPath, "    4 liveries read from AIG-regcodes.xml",
                            "Offline regcode files processed, results can be found in '" + offlinePath + "'",
                            "    2 special liveries", "    1 unique liveries", "   22 registration codes",
                            "   15 airlines, 9 pax aircraft models and 1 cargo aircraft models",
                            "   10 similar model definitions", " ", "Category Light: 4 pax liveries", "  C172",
                            "Category Buzjets: 1 pax liverie", "  C56X", "Category Large: 15 pax liveries",
                            "  A320,B738,E190,AT76", "Category Heavy: 3 pax liveries and 1 cargo liverie",
                            "  B77W,A333,B77L", "Category HighPerf: No livery found", "HIGH_PERF_AIRCRAFT=false",
                            "HIGH_PERF_AIRCRAFT temporarily switched off because you do not have High Perf aircraft "
                            "installed",
                            "Category Rotorcraft: 1 pax liverie", "  EC35", "4 models have a generic livery",
                            "  A320,B738,AT76,C172"));

    EXPECT_THAT(splitLines(readFile(offlinePath)),
                ElementsAre("Processing file " + (g_inputPath / "AIG-regcodes.xml").string(),
                            "   regcode PH-HSA for 'Transavia Boeing 737-800 PH-HXA', instead of the same for "
                            "'Transavia Boeing 737-800 PH-HSA'",
                            "1 new regcode added, 1 regcode replaced, 2 regcodes defined as special"));
    EXPECT_FALSE(std::filesystem::exists(g_inputPath / "AIG-regcodes.xml"));
    EXPECT_TRUE(g_liveriesProcessed);
    EXPECT_TRUE(g_scannedLiveries.empty());
    EXPECT_EQ(g_liveryCount.load(), 25u);
}

TEST_F(LiveryTablesTest, OperatorLiveriesAreKeyedByTheCombinedCode)
{
    writeLiveriesFile(FIXTURE_LIVERIES);
    gf_processScannedLiveries();

    const uint16_t e190 = gf_modelId("E190");
    EXPECT_TRUE(gf_hasAirlineModelLivery(gf_airlineId("DLHCLH"), e190));
    EXPECT_TRUE(gf_hasAirlineModelLivery(gf_airlineId("BAWCFE"), e190));
    EXPECT_TRUE(gf_hasAirlineModelLivery(gf_airlineId("KLMKLC"), e190));
    EXPECT_FALSE(gf_hasAirlineModelLivery(gf_airlineId("DLH"), e190));
    EXPECT_TRUE(gf_hasAirlineModelLivery(gf_airlineId("DLH"), gf_modelId("A320")));
    // An operator group followed by another gives the operator a key without models; the
    // last operator group does not.
    ASSERT_TRUE(g_liveryTable.contains(gf_airlineId("CLH")));
    EXPECT_TRUE(g_liveryTable.at(gf_airlineId("CLH")).empty());
    ASSERT_TRUE(g_liveryTable.contains(gf_airlineId("CFE")));
    EXPECT_TRUE(g_liveryTable.at(gf_airlineId("CFE")).empty());
    EXPECT_FALSE(g_liveryTable.contains(gf_airlineId("KLC")));
    EXPECT_EQ(g_liveryTable.size(), 15u);

    // Titles of one airline and model keep ascending order; cargo liveries go to the cargo map.
    EXPECT_THAT(titlesOf(kPaxTable, "TRA", "B738"),
                ElementsAre("Transavia Boeing 737-800 PH-HSA", "Transavia Boeing 737-800 PH-HXA"));
    EXPECT_THAT(titlesOf(kCargoTable, "FDX", "B77L"), ElementsAre("FedEx Boeing 777F N850FD"));
    EXPECT_FALSE(g_kindLiveries[kPaxTable].contains(gf_airlineId("FDX")));
    EXPECT_EQ(g_paxModelLiveries.at(gf_modelId("A320")).size(), 6u);
    EXPECT_EQ(g_cargoModelLiveries.at(gf_modelId("B77L")).size(), 1u);

    // The similar models: only members with liveries, and per airline the models it lacks.
    EXPECT_THAT(g_similarModels.at(gf_modelId("A20N")), ElementsAre(gf_modelId("A320")));
    EXPECT_THAT(g_similarModels.at(gf_modelId("B772")), ElementsAre(gf_modelId("B77W"), gf_modelId("B77L")));
    EXPECT_FALSE(g_similarModels.contains(gf_modelId("A320")));
    const auto& klm = g_airlineSimilarModels.at(gf_airlineId("KLM"));
    EXPECT_THAT(klm.at(gf_modelId("B38M")), ElementsAre(gf_modelId("B738")));
    EXPECT_THAT(klm.at(gf_modelId("B772")), ElementsAre(gf_modelId("B77W")));
    EXPECT_FALSE(klm.contains(gf_modelId("A20N")));

    EXPECT_THAT(g_genericModels[kGenericLight], ElementsAre(gf_modelId("C172")));
    EXPECT_THAT(g_genericModels[kGenericBuzjets], ElementsAre(gf_modelId("C56X")));
    EXPECT_THAT(g_genericModels[kGenericRotorcraft], ElementsAre(gf_modelId("EC35")));
}

TEST_F(LiveryTablesTest, MissingCategoryIsSwitchedOffSavedAndItsControlDisabled)
{
    // No helicopter and no light aircraft.
    writeLiveriesFile(R"(<l a="KLM" m="B738" t="KLM 737"/><l a="KLM" m="C56X" t="KLM jet"/>)");
    HELICOPTERS.set(true);
    LIGHT_AIRCRAFT.set(false);
    HIGH_PERF_AIRCRAFT.set(false);
    gf_enableControl("LIGHT_AIRCRAFT", true);
    gf_processScannedLiveries();

    const std::vector<std::string> lines = logLines();
    auto has = [&](const std::string& LINE) { return std::find(lines.begin(), lines.end(), LINE) != lines.end(); };
    EXPECT_TRUE(has("HELICOPTERS temporarily switched off because you do not have Helicopters installed"));
    EXPECT_TRUE(has("Category Light: No livery found"));
    // Already off: nothing saved or reported, only the control disabled.
    EXPECT_FALSE(has("LIGHT_AIRCRAFT temporarily switched off because you do not have light aircraft installed"));
    EXPECT_TRUE(has("No generic liveries"));
    EXPECT_TRUE(has("Category Large: 1 pax liverie"));

    EXPECT_FALSE(HELICOPTERS.value());
    EXPECT_FALSE(gf_controlState("HELICOPTERS").enabled);
    EXPECT_FALSE(gf_controlState("LIGHT_AIRCRAFT").enabled);
    EXPECT_FALSE(gf_controlState("HIGH_PERF_AIRCRAFT").enabled);
    const std::string parameters = readFile(g_parametersPath);
    EXPECT_NE(parameters.find("name=\"HELICOPTERS\" value=\"false\""), std::string::npos) << parameters;

    // A later build with helicopters enables the control again (the setting stays off).
    gf_clearLiveryTables();
    g_liveriesProcessed = false;
    writeLiveriesFile(R"(<l a="PVT" m="EC35" t="EC135"/>)");
    gf_processScannedLiveries();
    EXPECT_TRUE(gf_controlState("HELICOPTERS").enabled);
    EXPECT_FALSE(HELICOPTERS.value());
}

TEST_F(LiveryTablesTest, RebuildFromAnotherFileLeavesNoOldTitleReachable)
{
    writeLiveriesFile(FIXTURE_LIVERIES);
    writeAigRegcodes(FIXTURE_AIG, m_work);
    gf_processScannedLiveries();
    const std::set<std::string> oldTitles = reachableTitles();
    ASSERT_EQ(oldTitles.size(), 25u);
    // An aircraft remembers its livery.
    g_chosenLiveries[0x484A3B] = g_regcodeLiveries.at("PH-BXA");
    ASSERT_FALSE(g_similarModels.empty());

    // Another simulator: only 737s and Cessnas.
    gf_clearLiveryTables();
    g_liveriesProcessed = false;
    EXPECT_THAT(reachableTitles(), IsEmpty());
    EXPECT_TRUE(g_similarModels.empty());
    EXPECT_TRUE(g_airlineSimilarModels.empty());
    EXPECT_TRUE(g_chosenLiveries.empty());
    EXPECT_TRUE(lf_regcodeOwner("KLM Boeing 737-800 PH-BXA").empty());

    writeLiveriesFile(R"(<l a="KLM" m="B738" t="KLM new 737" r="PH-BXA"/><l a="ZZZ" m="C172" t="Cessna white"/>)");
    gf_processScannedLiveries();
    EXPECT_THAT(reachableTitles(), UnorderedElementsAre("KLM new 737", "Cessna white"));
    for (const std::string& old : oldTitles) {
        EXPECT_TRUE(lf_regcodeOwner(old).empty()) << old;
    }
    EXPECT_EQ(g_regcodeLiveries.at("PH-BXA"), "KLM new 737");
    // No similar-model entry names a model without liveries any more.
    for (const auto& [model, similar] : g_similarModels) {
        for (uint16_t other : similar) {
            EXPECT_TRUE(g_paxModelLiveries.contains(other) || g_cargoModelLiveries.contains(other))
                << gf_modelCode(model) << " -> " << gf_modelCode(other);
        }
    }
    EXPECT_FALSE(g_similarModels.contains(gf_modelId("A20N")));
    for (const auto& [key, models] : g_airlineSimilarModels) {
        EXPECT_TRUE(g_liveryTable.contains(key)) << gf_airlineCode(key);
    }
    EXPECT_THAT(g_genericModels[kGenericLight], ElementsAre(gf_modelId("C172")));
    EXPECT_THAT(g_genericModels[kGenericBuzjets], IsEmpty());
}

TEST_F(LiveryTablesTest, SecondStartUpSkipsTheBuildAndEmptiesTheList)
{
    writeLiveriesFile(FIXTURE_LIVERIES);
    gf_processScannedLiveries();
    clearLog();
    g_scannedLiveries.emplace_back();
    gf_processScannedLiveries();
    EXPECT_THAT(logLines(), ElementsAre("Processing scanned liveries skipped; already done in previous start-up"));
    EXPECT_TRUE(g_scannedLiveries.empty());
    EXPECT_EQ(g_liveryTable.size(), 15u);
}

TEST_F(LiveryTablesTest, ReaderErrorLeavesTheTablesUnbuilt)
{
    EXPECT_THROW(gf_processScannedLiveries(), UserErrorException);
    EXPECT_FALSE(g_liveriesProcessed);
    EXPECT_TRUE(g_liveryTable.empty());
}

TEST_F(LiveryTablesTest, LongModelListsAreLoggedTwentyCodesALine)
{
    std::string liveries;
    for (int i = 0; i < 45; ++i) {
        liveries += fmt::format(R"(<l a="ZZZ" m="L{:02}" t="Light {}"/>)", i, i);
    }
    for (int i = 0; i < 45; ++i) {
        gf_modelId(fmt::format("L{:02}", i));
    }
    writeLiveriesFile(liveries);
    gf_processScannedLiveries();
    std::vector<std::string> modelLines;
    for (const std::string& line : logLines()) {
        if (line.starts_with("  L")) {
            modelLines.push_back(line);
        }
    }
    // The Light summary and the generic summary each list the 45 models.
    ASSERT_EQ(modelLines.size(), 6u);
    EXPECT_EQ(modelLines[0].substr(0, 12), "  L00,L01,L0");
    EXPECT_EQ(std::count(modelLines[0].begin(), modelLines[0].end(), ','), 19);
    EXPECT_EQ(std::count(modelLines[1].begin(), modelLines[1].end(), ','), 19);
    EXPECT_EQ(modelLines[2], "  L40,L41,L42,L43,L44");
    EXPECT_EQ(g_genericModels[kGenericLight].size(), 45u);
}

} // namespace
} // namespace qmt::test
