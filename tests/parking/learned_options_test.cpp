// Learning stand use from live aircraft at the stands, half-hour by half-hour.
#include "StaticParkingTest.h"

namespace qmt::test {
namespace {

class LearnedOptionsTest : public StaticParkingTest {
protected:
    void SetUp() override
    {
        StaticParkingTest::SetUp();
        makeStands(2);
    }

    // The live aircraft seen at stand 1 at DAY/HALF_HOUR.
    void seenAt(LiveAc& AC, uint32_t DAY, uint32_t HALF_HOUR, int32_t EVENT = kStandEventSeen)
    {
        g_weekTime = WeekTime{DAY, HALF_HOUR};
        lf_addRealStandOption(1, AC, EVENT);
    }

    static std::vector<StandOption>& options() { return g_stands[0].options; }
};

TEST_F(LearnedOptionsTest, AircraftWithoutAKnownRegistrationTeachNothing)
{
    LiveAc& none = liveAc(0x484001, "KLM1", "");
    LiveAc& unknown = liveAc(0x484002, "KLM2", "PH-ZZZ");
    LiveAc& known = liveAc(0x484003, "KLM3", "PH-BXA");
    seenAt(none, 1, 20);
    seenAt(unknown, 1, 20);
    lf_addRealStandOption(0, known, kStandEventSeen);
    lf_addRealStandOption(9, known, kStandEventSeen);
    seenAt(known, 0, 20);  // before the main loop has a time of week
    EXPECT_TRUE(options().empty());
    EXPECT_EQ(g_learnedUpdates, 0u);
}

TEST_F(LearnedOptionsTest, AStayIsOneOptionWithinTheWindowOfItsKind)
{
    LiveAc& ac = liveAc(0x484001, "KLM1_", "PH-BXA_");
    seenAt(ac, 2, 20);
    ASSERT_EQ(options().size(), 1u);
    EXPECT_EQ(options()[0].callsign, "KLM1");        // ghost marks are not learned
    EXPECT_EQ(options()[0].registration, "PH-BXA");
    EXPECT_EQ(options()[0].day, 2u);
    seenAt(ac, 2, 20);                                 // twice in one half-hour: nothing new
    EXPECT_EQ(g_learnedUpdates, 1u);
    seenAt(ac, 2, 23);
    ASSERT_EQ(options().size(), 1u);
    EXPECT_EQ(gf_rangeText(options()[0].hours), "20:23");
    EXPECT_EQ(g_learnedUpdates, 2u);
    EXPECT_EQ(gf_windowValues().learnedUpdates, 2u);
    seenAt(ac, 2, 29);                                 // a gap of 6: a new stay
    ASSERT_EQ(options().size(), 2u);
    EXPECT_EQ(gf_rangeText(options()[1].hours), "29");
    EXPECT_EQ(options()[1].optionId, 2u);

    // A heavy may stand unseen for 7 half-hours, a cargo aircraft for 11.
    struct Case {
        const char* registration;
        uint32_t gap;
        size_t options;
    };
    for (const Case c : {Case{"PH-BVA", 7, 1}, Case{"PH-BVA", 8, 2}, Case{"PH-MPS", 11, 1}, Case{"PH-MPS", 12, 2}}) {
        g_stands[0].options.clear();
        LiveAc& other = liveAc(0x485000 + c.gap, "KLM9", c.registration);
        seenAt(other, 3, 10);
        seenAt(other, 3, 10 + c.gap);
        EXPECT_EQ(options().size(), c.options) << c.registration << " gap " << c.gap;
    }
}

// A stay from half-hour 46 of Wednesday to half-hour 1 of Thursday.
TEST_F(LearnedOptionsTest, AStayAcrossMidnightIsLearnedOnBothDays)
{
    LiveAc& ac = liveAc(0x484001, "KLM1", "PH-BXA");
    seenAt(ac, 3, 46);
    seenAt(ac, 4, 1);
    ASSERT_EQ(options().size(), 2u);
    EXPECT_EQ(options()[0].day, 3u);
    EXPECT_EQ(gf_rangeText(options()[0].hours), "46:47");
    EXPECT_EQ(options()[1].day, 4u);
    EXPECT_EQ(gf_rangeText(options()[1].hours), "0:1");
    // The stay goes on in today's option from now on.
    seenAt(ac, 4, 3);
    ASSERT_EQ(options().size(), 2u);
    EXPECT_EQ(gf_rangeText(options()[1].hours), "0:3");
    // Sunday night to Monday morning the same way.
    g_stands[0].options.clear();
    seenAt(ac, 7, 47);
    seenAt(ac, 1, 0);
    ASSERT_EQ(options().size(), 2u);
    EXPECT_EQ(gf_rangeText(options()[0].hours), "47");
    EXPECT_EQ(options()[1].day, 1u);
    EXPECT_EQ(gf_rangeText(options()[1].hours), "0");
}

// An option of the airport file for this registration today that does not cover now means the
// airport file knows better: nothing is learned.
TEST_F(LearnedOptionsTest, AnArchivedOptionOfTheRegistrationElsewhenTodayBlocksLearning)
{
    StandOption archived = option(1, "30:32", "PH-BXA", "KLM1");
    archived.source = 1;
    addOption(0, archived);
    LiveAc& ac = liveAc(0x484001, "KLM1", "PH-BXA");
    seenAt(ac, 1, 20);
    EXPECT_EQ(options().size(), 1u);
    seenAt(ac, 1, 31);  // covered by the archived option: learned as the aircraft's own
    EXPECT_EQ(options().size(), 2u);
}

TEST_F(LearnedOptionsTest, ASeenEndOfStayMarksTheOptionAndAReturnStartsANewOne)
{
    LiveAc& ac = liveAc(0x484001, "KLM1", "PH-BXA");
    seenAt(ac, 1, 20);
    seenAt(ac, 1, 20, kStandEventLeaving);
    EXPECT_EQ(options()[0].cpl, 1);
    seenAt(ac, 1, 22);
    ASSERT_EQ(options().size(), 2u);
    EXPECT_EQ(gf_rangeText(options()[1].hours), "22");
    seenAt(ac, 1, 23, kStandEventGone);
    ASSERT_EQ(options().size(), 2u);
    EXPECT_EQ(gf_rangeText(options()[1].hours), "22:23");
    EXPECT_EQ(options()[1].cpl, 1);
}

// A second stay of the day goes on in its own option, not in a new one every half-hour.
TEST_F(LearnedOptionsTest, ASecondStayOfTheDayGrowsItsOwnOption)
{
    LiveAc& ac = liveAc(0x484001, "KLM1", "PH-BXA");
    seenAt(ac, 1, 10);
    seenAt(ac, 1, 12);
    seenAt(ac, 1, 29);
    seenAt(ac, 1, 30);
    seenAt(ac, 1, 32);
    ASSERT_EQ(options().size(), 2u);
    EXPECT_EQ(gf_rangeText(options()[0].hours), "10:12");
    EXPECT_EQ(gf_rangeText(options()[1].hours), "29:32");
}

// Load, learn, save and reload: every half-hour at which a stay was seen is in the file read back,
// and a stay grows one option.
TEST_F(LearnedOptionsTest, EveryHalfHourSeenIsReadBack)
{
    struct Case {
        const char* what;
        const char* stored;  // the learned option of PH-BXA on Monday at S1
        bool switchedOff;    // a calculation switched it off: its aircraft was on its way in
        const char* twin;    // an option added to the table after the read
        std::vector<uint32_t> seen;
        std::vector<std::string> readBack;
    };
    const Case cases[] = {
        {"switched-off option", "18:22", true, "", {22, 23, 24}, {"18:24"}},
        {"an earlier week's option later in the day", "30:35", false, "", {10, 11, 12, 13}, {"30:35", "10:13"}},
        {"overlapping twins", "10:12", false, "12:14", {}, {"10:14"}},
    };
    for (const Case& c : cases) {
        const std::string name = writeQlnaFile(2);
        writeFile(learnedQlna(),
                  apfXml("", fmt::format(R"(<parkpos id="S1"><opt reg="PH-BXA" day="1" hh="{}"/></parkpos>)", c.stored)));
        gf_clearStands();
        ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "") << c.what;
        options()[0].optionId = c.switchedOff ? 0 : 1;
        if (*c.twin != 0) {
            addOption(0, option(1, c.twin, "PH-BXA", ""));
        }
        LiveAc& ac = liveAc(0x484001, "KLM1", "PH-BXA");
        for (const uint32_t h : c.seen) {
            seenAt(ac, 1, h);
        }
        if (*c.twin == 0) {
            EXPECT_EQ(options().size(), c.readBack.size()) << c.what;
        }
        lf_saveLearnedApf();
        gf_clearStands();
        ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "") << c.what;
        std::vector<std::string> read;
        for (const StandOption& o : options()) {
            read.push_back(gf_rangeText(o.hours).value_or("?"));
        }
        EXPECT_EQ(read, c.readBack) << c.what;
    }
}

// Nine days of aircraft coming and going at six stands (so that stays meet the options of the
// week before), with calculations switching options off and the airport left and loaded again
// every six hours: every half-hour at which an aircraft was seen at a stand is in the learned file
// read back at the end.
TEST_F(LearnedOptionsTest, DaysOfLearningLoseNoHalfHour)
{
    const std::string name = writeQlnaFile(6);
    gf_clearStands();
    ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
    std::mt19937 rng(23);
    const auto draw = [&rng](int LOW, int HIGH) { return std::uniform_int_distribution<int>(LOW, HIGH)(rng); };
    struct Plane {
        std::string registration;
        int standId = 0;   // 0 while away
        int leftHalfHours = 0;
    };
    std::vector<Plane> planes;
    for (const char* r : {"PH-BXA", "PH-BXB", "PH-BXC", "PH-BVA", "PH-MPS", "G-EZUA", "D-AIZA", "EI-DCL"}) {
        planes.push_back(Plane{r, 0, draw(0, 6)});
    }
    std::set<std::tuple<std::string, std::string, uint32_t, uint32_t>> seen;
    for (int i = 0; i < 9 * WeekTime::kHalfHoursPerDay; ++i) {
        const WeekTime now = WeekTime::fromIndex(40 + i);
        g_weekTime = now;
        for (Plane& p : planes) {
            if (p.leftHalfHours-- <= 0) {
                p.standId = p.standId == 0 ? draw(1, 6) : 0;
                p.leftHalfHours = p.standId == 0 ? draw(2, 20) : draw(1, 16);
            }
            // Seen at most of the half-hours of its stay, and told when it leaves.
            if (p.standId == 0 || draw(0, 4) == 0) {
                continue;
            }
            LiveAc& ac = liveAc(0x485000, "KLM" + p.registration.substr(3), p.registration);
            lf_addRealStandOption(p.standId, ac, p.leftHalfHours == 0 ? kStandEventLeaving : kStandEventSeen);
            g_liveAcs.clear();
            seen.emplace(g_stands[static_cast<size_t>(p.standId - 1)].name, p.registration, now.day, now.halfHour);
        }
        // A calculation switches off the options of aircraft on their way in; a park change renumbers.
        for (Stand& stand : g_stands) {
            for (StandOption& o : stand.options) {
                o.optionId = draw(0, 3) == 0 ? 0 : o.optionId;
            }
        }
        if (i % 3 == 0) {
            gf_renumberAllOptions();
        }
        if (i % 12 == 11 || i == 9 * WeekTime::kHalfHoursPerDay - 1) {
            lf_saveLearnedApf();
            gf_clearStands();
            ASSERT_EQ(gf_readApf(name, g_parkApfInfo), "");
        }
    }
    ASSERT_FALSE(seen.empty());
    for (const auto& [stand, registration, day, halfHour] : seen) {
        const Stand* s = standNamed(stand);
        ASSERT_NE(s, nullptr);
        bool kept = false;
        for (const StandOption& o : s->options) {
            kept = kept || (o.registration == registration && o.day == day && o.hours.test(halfHour));
        }
        EXPECT_TRUE(kept) << stand << " " << registration << " day " << day << " half-hour " << halfHour;
    }
}

TEST_F(LearnedOptionsTest, NamesOfAnOption)
{
    addOption(0, option(1, "20", "PH-BXA", ""));
    lf_addStandOptionName(g_stands[0], 1, "KLM1_");
    EXPECT_EQ(options()[0].callsign, "KLM1");
    lf_addStandOptionName(g_stands[0], 1, "KLM1");
    EXPECT_EQ(options()[0].furtherName, "");
    lf_addStandOptionName(g_stands[0], 1, "KLM2");
    lf_addStandOptionName(g_stands[0], 1, "KLM3");
    EXPECT_EQ(options()[0].furtherName, "KLM3");  // the latest further name wins
    lf_addStandOptionName(g_stands[0], 0, "KLM4");
    lf_addStandOptionName(g_stands[0], 1, "");
    EXPECT_EQ(options()[0].callsign, "KLM1");
    EXPECT_EQ(options()[0].furtherName, "KLM3");
}

TEST_F(LearnedOptionsTest, SlotListsAndTheirBounds)
{
    EXPECT_EQ(lf_precedingSlots({2, 1}, 4), (std::vector<uint32_t>{1, 0, 47, 46}));
    EXPECT_TRUE(lf_precedingSlots({2, 1}, 0).empty());
    addOption(0, option(3, "46", "PH-BXA", "KLM1"));
    addOption(0, option(4, "1", "PH-BXA", "KLM1"));
    EXPECT_TRUE(updateOptionsWrapped(g_stands[0], {1, 0, 47}, 1, 2));
    EXPECT_EQ(gf_rangeText(options()[0].hours), "46:47");
    EXPECT_EQ(gf_rangeText(options()[1].hours), "0:1");
    EXPECT_FALSE(updateOptions(g_stands[0], {48}, 1));
    EXPECT_TRUE(logHas("==> updateOptions exception:"));
    EXPECT_FALSE(updateOptions(g_stands[0], {3}, 7));
    EXPECT_FALSE(updateOptionsWrapped(g_stands[0], {1, 0}, 1, 7));
}

TEST_F(LearnedOptionsTest, ALandedAircraftGetsTheCallsignPairLearnedNearNow)
{
    addOption(1, option(1, "30:34", "PH-BXB", "KLM1269", "KLM1270"));
    addOption(1, option(1, "5", "PH-BXB", "KLM1270", "KLM1271"));
    LiveAc& ac = liveAc(0x484001, "KLM1270_", "PH-BXC");
    gf_findLearnedStand({1, 20}, ac);  // 30 is 10 half-hours away: in the window
    EXPECT_EQ(ac.callsignCopy, "KLM1269");
    EXPECT_EQ(ac.extraText, "KLM1270");
    LiveAc& early = liveAc(0x484002, "KLM1270", "PH-BXC");
    gf_findLearnedStand({1, 4}, early);  // only the option at 5 is near enough now
    EXPECT_EQ(early.callsignCopy, "KLM1270");
    EXPECT_EQ(early.extraText, "KLM1271");
    LiveAc& tomorrow = liveAc(0x484003, "KLM1270", "PH-BXC");
    gf_findLearnedStand({2, 20}, tomorrow);
    gf_findLearnedStand({1, 45}, tomorrow);
    EXPECT_EQ(tomorrow.callsignCopy, "");
}

} // namespace
} // namespace qmt::test
