#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LiveryFixtures.h"
#include "liveries/Regcodes.h"

namespace qmt::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RegcodesTest : public LiveryTest {
protected:
    std::filesystem::path myRegcodes(const std::string& NAME, const std::string& TEXT)
    {
        const std::filesystem::path path = g_myRegcodesPath / NAME;
        writeFile(path, TEXT);
        return path;
    }
};

bool hasRecord(const std::vector<RegcodeRecord>& RECORDS, const std::string& TITLE,
               const std::vector<std::string>& REGCODES, bool SPECIAL)
{
    for (const RegcodeRecord& record : RECORDS) {
        if (record.title == TITLE) {
            return record.regcodes == REGCODES && record.special == SPECIAL;
        }
    }
    return false;
}

TEST_F(RegcodesTest, TextFileLinesBecomeRecords)
{
    const auto path = myRegcodes("mine.txt",
                                 "short\n"                                   // under 6 bytes: passed over
                                 "Title only livery\n"                       // don't-use title
                                 "Empty regcode field ;  \n"                 // don't-use title
                                 "One short regcode; AB\n"                   // nothing, result false
                                 "Three long regcodes;ABCDEFGHIJKLM,BCDEFGHIJKLMN,CDEFGHIJKLMNO\n" // nothing
                                 "Single regcode; PH-BXA\n"                  // special, unique
                                 "Two regcodes; PH-BXB , PH-BXC ;#  \n"      // special, not unique
                                 "Two regcodes no mark; PH-BXD,PH-BXE\n"     // plain
                                 "Two hashes; PH-BXF,PH-BXG;##\n"            // not special
                                 "One bad of two; PH-BXH,X\n"                // the valid one stays
                                 "a;b;c;d\n");                               // four fields: passed over
    myRegcodes("ignored.csv", "Other file; PH-ZZZ\n");
    std::vector<RegcodeRecord> records;
    EXPECT_FALSE(gf_readRegcodeTxtFiles(g_myRegcodesPath, records));
    EXPECT_EQ(records.size(), 7u);
    EXPECT_TRUE(hasRecord(records, "Title only livery", {}, false));
    EXPECT_TRUE(hasRecord(records, "Empty regcode field", {}, false));
    EXPECT_FALSE(hasRecord(records, "One short regcode", {}, false));
    EXPECT_FALSE(hasRecord(records, "Three long regcodes", {}, false));
    EXPECT_TRUE(hasRecord(records, "Single regcode", {"PH-BXA"}, true));
    EXPECT_TRUE(hasRecord(records, "Two regcodes", {"PH-BXB", "PH-BXC"}, true));
    EXPECT_TRUE(hasRecord(records, "Two regcodes no mark", {"PH-BXD", "PH-BXE"}, false));
    EXPECT_TRUE(hasRecord(records, "Two hashes", {"PH-BXF", "PH-BXG"}, false));
    EXPECT_TRUE(hasRecord(records, "One bad of two", {"PH-BXH"}, false));
    const std::string file = path.string();
    EXPECT_THAT(logLines(), ElementsAre("==> wrong regcode length 'AB' in " + file,
                                        "==> wrong regcode length 'ABCDEFGHIJKLM' in " + file,
                                        "==> wrong regcode length 'BCDEFGHIJKLMN' in " + file,
                                        "==> wrong regcode length 'CDEFGHIJKLMNO' in " + file,
                                        "==> wrong regcode length 'X' in " + file, "    7 liveries read from " + file));
}

TEST_F(RegcodesTest, OversizedTextFileIsRefusedAndTheOthersRead)
{
    myRegcodes("a.txt", "Single regcode; PH-BXA\n");
    const auto huge = myRegcodes("huge.txt", "Huge livery; PH-BXB\n");
    std::filesystem::resize_file(huge, kMaxLiveryTextBytes + 1); // sparse: nothing is written
    std::vector<RegcodeRecord> records;
    EXPECT_FALSE(gf_readRegcodeTxtFiles(g_myRegcodesPath, records));
    EXPECT_EQ(records.size(), 1u);
    EXPECT_THAT(logLines(), Contains("==> regcode file " + huge.string() + " is larger than 64 MiB, not read"));
}

TEST_F(RegcodesTest, MissingFolderIsAnErrorWithRecordsKept)
{
    std::vector<RegcodeRecord> records{RegcodeRecord{"kept", {}, false}};
    EXPECT_FALSE(gf_readRegcodeTxtFiles(m_work / "nowhere", records));
    EXPECT_EQ(records.size(), 1u);
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("==> Error reading regcode files in " + (m_work / "nowhere").string() + ", what: "))
        << lines[0];
}

TEST_F(RegcodesTest, AigXmlRecordsAndItsProblems)
{
    const std::filesystem::path xml = g_inputPath / "AIG-regcodes.xml";
    writeFile(xml, aigXml(R"(<l t="A" r="PH-AAA, PH-AAB" s="yes"/><l t="A" r="PH-AAC"/><l r="PH-X"/>)"
                          R"(<l t="B"/><x t="C" r="PH-CCC"/>)"));
    std::vector<RegcodeRecord> records;
    EXPECT_FALSE(gf_readAigRegcodesXml(records)); // the duplicate title
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(hasRecord(records, "A", {"PH-AAA", "PH-AAB"}, true));
    EXPECT_TRUE(hasRecord(records, "B", {}, false));
    EXPECT_THAT(logLines(), ElementsAre("==> Duplicate title 'A' (same as previous)",
                                        "    2 liveries read from AIG-regcodes.xml"));

    clearLog();
    writeFile(xml, aigXml(""));
    pugi::xml_document doc;
    doc.load_file(xml.c_str());
    doc.child("root").remove_child("aig");
    doc.save_file(xml.c_str());
    EXPECT_FALSE(gf_readAigRegcodesXml(records));
    EXPECT_THAT(logLines(), ElementsAre("==> No <aig> node found in XML."));

    clearLog();
    writeFile(xml, "<root><aig>");
    EXPECT_FALSE(gf_readAigRegcodesXml(records));
    EXPECT_THAT(logLines(), ElementsAre("==> Failed to load " + xml.string()));
    EXPECT_FALSE(std::filesystem::exists(xml));
    EXPECT_EQ(records.size(), 2u);
}

TEST_F(RegcodesTest, DontUseTitlesComeFromBothSources)
{
    writeAigRegcodes(R"(<l t="AIG bad livery"/><l t="AIG good" r="PH-AAA"/>)", m_work);
    myRegcodes("a.TXT", "My bad livery\nMy good livery;PH-BBB\n");
    g_dontUseTitles = {"stale"};
    lf_readDontUseTitles();
    EXPECT_THAT(g_dontUseTitles, ElementsAre("AIG bad livery", "My bad livery"));
    EXPECT_FALSE(std::filesystem::exists(g_inputPath / "AIG-regcodes.xml"));
    const std::vector<std::string> lines = logLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "    1 don't use title read"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "    1 don't use title read from files in " + g_myRegcodesPath.string()),
              lines.end());

    // Without a decryptable AIG file the user's files still count.
    std::filesystem::remove(g_inputPath / kAigRegcodesEncFile);
    lf_readDontUseTitles();
    EXPECT_THAT(g_dontUseTitles, ElementsAre("My bad livery"));
}

TEST_F(RegcodesTest, UserFilesOverrideTheAigFileAndReportIt)
{
    writeLiveriesFile(FIXTURE_LIVERIES);
    writeAigRegcodes(R"(<l t="Lufthansa Airbus A320 D-AIZA" r="D-AIZB"/>)", m_work);
    // The same regcode in the user's file for another title: the user's file wins.
    myRegcodes("mine.txt", "Air France Airbus A320 F-GKXA; D-AIZB, F-GKXB; #\nUnknown title; PH-QQQ\n");
    gf_processScannedLiveries();

    EXPECT_EQ(g_regcodeLiveries.at("D-AIZB"), "Air France Airbus A320 F-GKXA");
    EXPECT_EQ(g_regcodeLiveries.at("F-GKXB"), "Air France Airbus A320 F-GKXA");
    EXPECT_FALSE(g_regcodeLiveries.contains("PH-QQQ"));
    EXPECT_THAT(g_specialLiveries, ElementsAre("Air France Airbus A320 F-GKXA"));
    EXPECT_THAT(g_uniqueRegcodes, IsEmpty());
    EXPECT_EQ(g_titleRegcodes.at("Air France Airbus A320 F-GKXA"), "F-GKXA"); // the merge leaves it
    EXPECT_THAT(splitLines(readFile(g_infoPath / "OfflineRegcodes.txt")),
                ElementsAre("Processing file " + (g_inputPath / "AIG-regcodes.xml").string(), "1 new regcode added",
                            "Processing files in " + g_myRegcodesPath.string(),
                            "   regcode D-AIZB for 'Air France Airbus A320 F-GKXA', instead of the same for "
                            "'Lufthansa Airbus A320 D-AIZA'",
                            "1 new regcode added, 1 regcode replaced, 1 regcode defined as special"));
}

TEST_F(RegcodesTest, UserFilesApplyWhenTheAigFileCannotBeDecrypted)
{
    writeLiveriesFile(FIXTURE_LIVERIES);
    writeFile(g_inputPath / kAigRegcodesEncFile, "not an encrypted file");
    myRegcodes("mine.txt", "KLM Boeing 737-800 PH-BXB; PH-BXZ\n");
    gf_processScannedLiveries();
    EXPECT_EQ(g_regcodeLiveries.at("PH-BXZ"), "KLM Boeing 737-800 PH-BXB");
    EXPECT_TRUE(g_uniqueRegcodes.contains("PH-BXZ"));
    EXPECT_THAT(splitLines(readFile(g_infoPath / "OfflineRegcodes.txt")),
                ElementsAre("Processing files in " + g_myRegcodesPath.string(),
                            "1 new regcode added, 1 regcode defined as special"));
}

TEST_F(RegcodesTest, FirstLiveryInSortedOrderOwnsASharedAtcId)
{
    // Two liveries with the same atc_id, and a title used by two models.
    writeLiveriesFile(R"(<l a="TRA" m="B738" t="Transavia B" r="PH-HSA"/>)"
                      R"(<l a="KLM" m="B738" t="KLM A" r="PH-HSA"/>)"
                      R"(<l a="KLM" m="B77W" t="KLM A" r="PH-BVA"/>)");
    gf_processScannedLiveries();
    EXPECT_EQ(g_regcodeLiveries.at("PH-HSA"), "KLM A");
    EXPECT_EQ(g_titleRegcodes.at("KLM A"), "PH-HSA");
    const std::filesystem::path inline_ = g_errorsPath / "InlineRegcodes.txt";
    EXPECT_THAT(splitLines(readFile(inline_)),
                ElementsAre("KLM A 'PH-BVA' => already in use by 'PH-HSA'",
                            "PH-HSA 'Transavia B' => already in use by 'KLM A'"));
    const std::vector<std::string> lines = logLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "    2 in-line regcode clashes, see '" + inline_.string() + "'"),
              lines.end());
    // The owner view points into the livery table.
    const std::string_view owner = lf_regcodeOwner("KLM A");
    bool inTable = false;
    for (const auto& [model, entries] : g_liveryTable.at(gf_airlineId("KLM"))) {
        for (const LiveryEntry& entry : entries) {
            inTable = inTable || entry.title.data() == owner.data();
        }
    }
    EXPECT_TRUE(inTable);
}

} // namespace
} // namespace qmt::test
