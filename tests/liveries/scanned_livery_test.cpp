#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LiveryTestSupport.h"
#include "core/UserError.h"

namespace qmt::test {
namespace {

using ::testing::ElementsAre;

ScannedLivery livery(const char* AIRLINE, const char* OPERATOR, const char* MODEL, const char* TITLE,
                     const char* REGCODE = "", bool CARGO = false, int16_t RANK = 1)
{
    ScannedLivery L;
    L.title = TITLE;
    L.regcode = REGCODE;
    L.kind.airlineId = gf_airlineId(AIRLINE);
    L.kind.operatorId = gf_airlineId(OPERATOR);
    L.kind.modelId = gf_modelId(MODEL);
    L.kind.cargo = CARGO ? 1 : 0;
    L.folderRank = RANK;
    return L;
}

std::string livFile(const std::string& BODY)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n" + BODY + "</root>\n";
}

class ScannedLiveryTest : public LiveryTest {
protected:
    // Reads the file and expects the user error with its code and text; the file stays as it was.
    void expectReadError(const std::string& CONTENT, int CODE, const std::string& TEXT)
    {
        const std::filesystem::path path = gf_liveriesScannedPath();
        writeFile(path, CONTENT);
        try {
            lf_readLiveriesScanned();
            FAIL() << "no error for " << CONTENT;
        } catch (const UserErrorException& e) {
            EXPECT_EQ(e.code(), CODE);
            EXPECT_EQ(e.message(), TEXT);
            EXPECT_EQ(std::string(e.what()), std::to_string(CODE) + ": " + TEXT);
        }
        EXPECT_EQ(readFile(path), CONTENT);
        EXPECT_TRUE(g_scannedLiveries.empty());
    }
};

TEST_F(ScannedLiveryTest, WrittenThenReadGivesTheSameRecords)
{
    g_scannedLiveries.push_back(livery("KLM", "", "B738", "KLM Boeing 737-800 PH-BXA", "PH-BXA"));
    g_scannedLiveries.push_back(livery("DLH", "CLH", "E190", "Lufthansa CityLine E190", "D-AECA", false, 3));
    g_scannedLiveries.push_back(livery("FDX", "", "B77L", "FedEx 777F \"Purple\" & <co>", "", true, 2));
    g_scannedLiveries.push_back(livery("ZZZ", "", "A320", "Airbus A320 white \xC3\xA9t\xC3\xA9"));
    gf_sortAndDedupScannedLiveries();
    const std::vector<ScannedLivery> written(g_scannedLiveries.begin(), g_scannedLiveries.end());

    std::string failure;
    ASSERT_TRUE(lf_writeLiveriesScanned(failure)) << failure;
    const std::string path = gf_liveriesScannedPath().string();
    EXPECT_THAT(logLines(), ElementsAre("4 liveries in " + path));
    EXPECT_TRUE(g_scannedLiveries.size() == 4);

    // Only the optional attributes that carry something are written, in the fixed order.
    const std::string text = readFile(gf_liveriesScannedPath());
    EXPECT_NE(text.find("<l a=\"DLH\" o=\"CLH\" m=\"E190\" t=\"Lufthansa CityLine E190\" r=\"D-AECA\" />"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<l a=\"FDX\" m=\"B77L\" c=\"true\" t="), std::string::npos) << text;
    EXPECT_NE(text.find("<l a=\"ZZZ\" m=\"A320\" t="), std::string::npos) << text;

    clearLog();
    g_scannedLiveries.clear();
    lf_readLiveriesScanned();
    EXPECT_THAT(logLines(), ElementsAre("    4 liveries read from " + path));
    ASSERT_EQ(g_scannedLiveries.size(), written.size());
    auto it = g_scannedLiveries.begin();
    for (const ScannedLivery& expected : written) {
        EXPECT_EQ(it->title, expected.title);
        EXPECT_EQ(it->regcode, expected.regcode);
        EXPECT_EQ(it->kind, expected.kind);
        EXPECT_EQ(it->folderRank, 0); // read back records carry rank 0
        ++it;
    }
}

TEST_F(ScannedLiveryTest, TitlesAreWrittenEscapedAsXmlAttributes)
{
    const struct {
        const char* title;
        const char* written;
    } cases[] = {
        {"FedEx \"Purple\" & <co>", "FedEx &quot;Purple&quot; &amp; &lt;co>"},
        {"it's > 1", "it's > 1"},
        {"tab\there\x1F", "tab&#09;here&#31;"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
    };
    for (const auto& c : cases) {
        g_scannedLiveries.clear();
        g_scannedLiveries.push_back(livery("KLM", "", "B738", c.title, "PH-BXA"));
        std::string failure;
        ASSERT_TRUE(lf_writeLiveriesScanned(failure)) << failure;
        const std::string text = readFile(gf_liveriesScannedPath());
        EXPECT_NE(text.find(std::string("    <l a=\"KLM\" m=\"B738\" t=\"") + c.written + "\" r=\"PH-BXA\" />\n  </liveries>\n</root>\n"),
                  std::string::npos)
            << text;
        EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n  <meta>\n    <info name=\"author\""))
            << text;
    }
}

TEST_F(ScannedLiveryTest, EmptyListWritesNoFileAndLogsNothing)
{
    std::string failure;
    EXPECT_TRUE(lf_writeLiveriesScanned(failure));
    EXPECT_FALSE(std::filesystem::exists(gf_liveriesScannedPath()));
    EXPECT_TRUE(logLines().empty());
}

TEST_F(ScannedLiveryTest, SortOrderIsAirlineOperatorModelTitle)
{
    g_scannedLiveries.push_back(livery("KLM", "", "B738", "b"));
    g_scannedLiveries.push_back(livery("DLH", "CLH", "A320", "a"));
    g_scannedLiveries.push_back(livery("DLH", "", "E190", "c"));
    g_scannedLiveries.push_back(livery("DLH", "", "A320", "z"));
    g_scannedLiveries.push_back(livery("DLH", "", "A320", "Z"));
    g_scannedLiveries.push_back(livery("KLM", "", "B738", "a", "PH-X"));
    gf_sortScannedLiveries();
    std::vector<std::string> titles;
    for (const ScannedLivery& L : g_scannedLiveries) {
        titles.push_back(L.title);
    }
    EXPECT_THAT(titles, ElementsAre("Z", "z", "c", "a", "a", "b"));
    EXPECT_TRUE(lf_liveryLess(livery("DLH", "", "A320", "x"), livery("DLH", "CLH", "A320", "a")));
    EXPECT_FALSE(lf_liveryLess(livery("DLH", "", "A320", "x"), livery("DLH", "", "A320", "x")));
}

TEST_F(ScannedLiveryTest, DeduplicationKeepsTheFirstOfEqualNeighbours)
{
    // Equal but for the cargo flag and the rank: one stays.
    g_scannedLiveries.push_back(livery("KLM", "", "B744", "KLM 747", "PH-BFA", false, 2));
    g_scannedLiveries.push_back(livery("KLM", "", "B744", "KLM 747", "PH-BFA", true, 1));
    // Equal but for the regcode: both stay.
    g_scannedLiveries.push_back(livery("KLM", "", "B738", "KLM 737", "PH-BXA"));
    g_scannedLiveries.push_back(livery("KLM", "", "B738", "KLM 737", "PH-BXB"));
    gf_sortAndDedupScannedLiveries();
    ASSERT_EQ(g_scannedLiveries.size(), 3u);
    const ScannedLivery& kept = g_scannedLiveries.back();
    EXPECT_EQ(kept.title, "KLM 747");
    EXPECT_EQ(kept.kind.cargo, 0); // the stable sort keeps the first one appended
    EXPECT_EQ(kept.folderRank, 2);
}

TEST_F(ScannedLiveryTest, IncompleteLiveryLacksAirlineOrModel)
{
    EXPECT_FALSE(lf_isIncompleteLivery(livery("KLM", "", "B738", "t")));
    EXPECT_TRUE(lf_isIncompleteLivery(livery("", "", "B738", "t")));
    EXPECT_TRUE(lf_isIncompleteLivery(livery("KLM", "", "", "t")));
}

TEST_F(ScannedLiveryTest, CargoAttributeReadsAsXmlBoolean)
{
    writeFile(gf_liveriesScannedPath(),
              livFile("<liveries>"
                      "<l a=\"A\" m=\"M\" c=\"yes\" t=\"1\"/><l a=\"A\" m=\"M\" c=\"Y\" t=\"2\"/>"
                      "<l a=\"A\" m=\"M\" c=\"true\" t=\"3\"/><l a=\"A\" m=\"M\" c=\"T\" t=\"4\"/>"
                      "<l a=\"A\" m=\"M\" c=\"1\" t=\"5\"/><l a=\"A\" m=\"M\" c=\"false\" t=\"6\"/>"
                      "<l a=\"A\" m=\"M\" c=\"0\" t=\"7\"/><l a=\"A\" m=\"M\" c=\"no\" t=\"8\"/>"
                      "<l a=\"A\" m=\"M\" t=\"9\"/></liveries>"));
    lf_readLiveriesScanned();
    std::string cargo;
    for (const ScannedLivery& L : g_scannedLiveries) {
        cargo += L.kind.cargo != 0 ? 'c' : '-';
        EXPECT_EQ(L.kind.operatorId, 0);
    }
    EXPECT_EQ(cargo, "ccccc----");
}

TEST_F(ScannedLiveryTest, BrokenFilesGiveTheirCodeAndTextAndStayUntouched)
{
    const std::string path = gf_liveriesScannedPath().string();
    // Not well-formed.
    expectReadError("<root><liveries><l a=\"KLM\"", 51, "File " + path + " not found");
    // A root without <liveries>.
    expectReadError(livFile("<other/>"), 52, path + " does not contain a <liveries> section");
    // The attributes are tested in the order a, m, t: an element without m and t names m.
    expectReadError(livFile("<liveries><l a=\"KLM\" m=\"B738\" t=\"x\"/><l a=\"KLM\"/></liveries>"), 999,
                    "Missing required attribute 'm' in <l>");
    expectReadError(livFile("<liveries><x m=\"B738\" t=\"x\"/></liveries>"), 999,
                    "Missing required attribute 'a' in <x>");
    expectReadError(livFile("<liveries><l a=\"KLM\" m=\"B738\"/></liveries>"), 999,
                    "Missing required attribute 't' in <l>");
    // No liveries, with and without root.
    expectReadError(livFile("<liveries/>"), 533, path + " does not contain liveries");
    expectReadError("<?xml version=\"1.0\"?>\n<other><liveries><l a=\"K\" m=\"M\" t=\"T\"/></liveries></other>\n",
                    533, path + " does not contain liveries");
}

TEST_F(ScannedLiveryTest, MissingFileIsError51)
{
    try {
        lf_readLiveriesScanned();
        FAIL();
    } catch (const UserErrorException& e) {
        EXPECT_EQ(e.code(), 51);
        EXPECT_EQ(e.message(), "File " + gf_liveriesScannedPath().string() + " not found");
    }
    EXPECT_FALSE(std::filesystem::exists(gf_liveriesScannedPath()));
}

TEST_F(ScannedLiveryTest, EmptyTitleIsDroppedWithOneLogLine)
{
    const std::string path = gf_liveriesScannedPath().string();
    writeFile(gf_liveriesScannedPath(), livFile("<liveries><l a=\"KLM\" m=\"B738\" t=\"\"/>"
                                                "<l a=\"KLM\" m=\"B738\" t=\"KLM 737\" r=\"PH-BXA\"/></liveries>"));
    lf_readLiveriesScanned();
    ASSERT_EQ(g_scannedLiveries.size(), 1u);
    EXPECT_EQ(g_scannedLiveries.front().title, "KLM 737");
    EXPECT_EQ(g_scannedLiveries.front().regcode, "PH-BXA");
    EXPECT_THAT(logLines(), ElementsAre("==> livery without title dropped: <l a=\"KLM\" m=\"B738\"> in " + path,
                                        "    1 liveries read from " + path));

    // A file whose only liveries have no title holds no liveries.
    expectReadError(livFile("<liveries><l a=\"KLM\" m=\"B738\" t=\"\"/></liveries>"), 533,
                    path + " does not contain liveries");
}

} // namespace
} // namespace qmt::test
