#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LiveryTestSupport.h"

namespace qmt::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class MatchingSummaryTest : public LiveryTest {};

TEST_F(MatchingSummaryTest, NothingWithoutMatchesWhateverCouldNotBeCreated)
{
    g_notCreatedList.insert("KLM B738 KLM Boeing 737-800 PH-BXA");
    gf_writeMatchingSummary();
    EXPECT_THAT(logLines(), IsEmpty());
}

TEST_F(MatchingSummaryTest, ListsAllSevenStepsAndTheRefusedLiveries)
{
    g_matchStepCount[0] = 3;
    g_matchStepCount[2] = 12;
    g_matchStepCount[6] = 1;
    g_notCreatedList.insert("KLM B738 KLM Boeing 737-800 PH-BXA");
    gf_writeMatchingSummary();
    const std::string stars31(31, '*');
    EXPECT_THAT(logLines(), ElementsAre("", stars31 + " live traffic livery matching summary " + stars31,
                                        "Matches at step: ", "  0: 3", "  1: 0", "  2: 12", "  3: 0", "  4: 0",
                                        "  5: 0", "  6: 1", "", "Could not be created",
                                        "  KLM B738 KLM Boeing 737-800 PH-BXA", std::string(100, '*'), ""));
}

TEST_F(MatchingSummaryTest, SummaryWithoutRefusedLiveries)
{
    g_matchStepCount[1] = 1;
    gf_writeMatchingSummary();
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[9], "  6: 0");
    EXPECT_EQ(lines[10], std::string(100, '*'));
    EXPECT_EQ(lines[11], "");
}

TEST_F(MatchingSummaryTest, NoMatchList)
{
    gf_logNoMatches();
    EXPECT_THAT(logLines(), IsEmpty());

    g_noMatchSet.insert("KLM     B738   PH-XXA");
    g_noMatchSet.insert("PVT     C172   D-EXYZ");
    gf_logNoMatches();
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "No match found for:");
    EXPECT_THAT((std::vector<std::string>{lines[2], lines[3]}),
                ::testing::UnorderedElementsAre("KLM     B738   PH-XXA", "PVT     C172   D-EXYZ"));
    EXPECT_EQ(lines[4], "");
    // The set is kept: the next call lists it again.
    gf_logNoMatches();
    EXPECT_EQ(logLines().size(), 10u);
}

} // namespace
} // namespace qmt::test
