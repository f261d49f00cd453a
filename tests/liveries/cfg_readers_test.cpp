// The hand-written line readers against the regular expressions they stand for.
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Text.h"
#include "liveries/CfgReaders.h"

namespace qmt::test {
namespace {

std::string regexValue(const std::string& LINE, const std::string& KEY)
{
    const std::regex expression("\\s*(" + KEY + ")\\s*=\\s*(.*\\S)\\s*", std::regex::ECMAScript | std::regex::icase);
    std::smatch match;
    return std::regex_match(LINE, match, expression) ? match[2].str() : std::string();
}

std::string regexHeader(const std::string& LINE)
{
    static const std::regex comment(R"([ \t]*(;|//)[^]*)", std::regex::ECMAScript);
    if (std::regex_match(LINE, comment))
        return {};
    static const std::regex header(R"(\s*(\[fltsim\.)(\d+)\]\s*)", std::regex::ECMAScript | std::regex::icase);
    std::smatch match;
    if (std::regex_match(LINE, match, header))
        return match[2].str();
    if (LINE.find("[fltsim.") != std::string::npos || LINE.find("[FLTSIM.") != std::string::npos)
        return "10000";
    return {};
}

// Lines built from the pieces that the expressions care about: white space of every kind, keys
// in mixed case and as prefixes of longer names, '=', quotes, brackets, digits, comments and
// bytes outside ASCII.
std::vector<std::string> generatedLines(std::string_view KEY, int COUNT)
{
    const std::vector<std::string> pieces = {
        " ", "\t", "\r", "\v", "\f", "\n", "=", "\"", "//", "[", "]", ".", "x", "Q", "7", "12", "-", ";", ",",
        "\xC3\xA9", "\xFF", std::string(1, '\0'), "fltsim", "FLTSIM", "[fltsim.", "ZZZZ", "..\\Asobo_A320_NEO",
        std::string(KEY), gf_upper(KEY), std::string(KEY) + "_x", "a long value with blanks"};
    std::mt19937 rng(42);
    std::vector<std::string> lines = {"", std::string(KEY) + "=", std::string(KEY) + " = \"\"",
                                      std::string(KEY) + "=\"a\" // c"};
    const std::string spaces[] = {"", " ", "\t", "  \t", "\r", "\v\f", "\n"};
    auto somePieces = [&](int MAX) {
        std::string text;
        for (int k = static_cast<int>(rng() % static_cast<unsigned>(MAX)); k > 0; --k)
            text += pieces[rng() % pieces.size()];
        return text;
    };
    for (int i = 0; i < COUNT; ++i) {
        std::string line;
        if (rng() % 2) {
            // Shaped like a key line, with something odd in any of its parts. One draw per
            // statement: the order of operands is not fixed, and compilers differ in it.
            line = spaces[rng() % 7];
            line += rng() % 2 ? std::string(KEY) : gf_upper(KEY);
            line += spaces[rng() % 7];
            line += rng() % 8 ? "=" : "";
            line += spaces[rng() % 7];
            line += somePieces(5);
            line += spaces[rng() % 7];
        } else {
            line = somePieces(9);
            if (rng() % 3 == 0)
                line.insert(rng() % (line.size() + 1), "=");
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(CfgReadersTest, KeyMatcherEqualsTheExpressionOnGeneratedLines)
{
    for (const std::string key : {"title", "atc_id", "icao_airline", "texture", "base_container"}) {
        int matched = 0;
        for (const std::string& line : generatedLines(key, 600)) {
            const std::string expected = regexValue(line, key);
            matched += expected.empty() ? 0 : 1;
            EXPECT_EQ(std::string(lf_cfgValue(line, key)), expected) << key << " in '" << line << "'";
        }
        EXPECT_GT(matched, 60) << key; // the generated lines reach the matching side too
    }
}

TEST(CfgReadersTest, HeaderReaderEqualsTheExpressionOnGeneratedLines)
{
    int headers = 0;
    for (const std::string& line : generatedLines("[fltsim.3]", 800)) {
        headers += regexHeader(line) == "3" ? 1 : 0;
        EXPECT_EQ(lf_readFltsimHeader(line), regexHeader(line)) << "'" << line << "'";
    }
    EXPECT_GT(headers, 15);
    for (const char* line : {"[fltsim.12]", "  [FLTSIM.3]  ", "[fltsim.3] // comment", "//[fltsim.3]", "[fltsim.]",
                             "[FltSim.3]", "[FltSim.3] x", "[fltsim.99999999999]", " ; [fltsim.3]", "\t// [FLTSIM.3]"})
        EXPECT_EQ(lf_readFltsimHeader(line), regexHeader(line)) << line;
}

TEST(CfgReadersTest, KeyReadersApplyTheQuoteAndValueRules)
{
    std::string v = "untouched";
    EXPECT_TRUE(lf_readCfgKey::title("title = \"Air Foo\" // comment \"x\"", v));
    EXPECT_EQ(v, "Air Foo");
    v = "untouched";
    EXPECT_FALSE(lf_readCfgKey::title("title=\"\"", v));
    EXPECT_FALSE(lf_readCfgKey::title("title=\"open", v));
    EXPECT_FALSE(lf_readCfgKey::texture("texture.1=x", v));
    EXPECT_FALSE(lf_readCfgKey::title("//title=x", v));
    EXPECT_EQ(v, "untouched");
    EXPECT_TRUE(lf_readCfgKey::title("TITLE=Foo", v));
    EXPECT_EQ(v, "Foo");

    EXPECT_FALSE(lf_readCfgKey::atcId("atc_id=D-AB", v));
    EXPECT_TRUE(lf_readCfgKey::atcId("atc_id=\"D-ABCD\"", v));
    EXPECT_EQ(v, "D-ABCD");

    for (const auto& [line, expected] : std::vector<std::pair<std::string, std::string>>{
             {"icao_airline=dlh", "DLH"}, {"icao_airline=\"\"", "ZZZ"}, {"icao_airline=ZZZZ", "ZZZ"},
             {"icao_airline=zzzz", "ZZZZ"}}) {
        ASSERT_TRUE(lf_readCfgKey::icaoAirline(line, v)) << line;
        EXPECT_EQ(v, expected) << line;
    }
    EXPECT_EQ(lf_readCfgKey::icaoTypeDesignator("icao_type_designator=b7378"), "B737");
    EXPECT_EQ(lf_readCfgKey::icaoTypeDesignator("icao_type_designator = a20n"), "A20N");
    EXPECT_EQ(lf_readCfgKey::icaoTypeDesignator("icao_type_designator_x=A20N"), "");
    EXPECT_EQ(lf_readCfgKey::baseContainer("base_container = \"..\\Asobo_A320_NEO\""), "A20N");
    EXPECT_EQ(lf_readCfgKey::baseContainer("base_container=..\\Asobo_A320_NEO"), "A20N");
    EXPECT_EQ(lf_readCfgKey::baseContainer("base_container=..\\Asobo_a320_neo"), "");
    EXPECT_EQ(lf_readCfgKey::baseContainer("base_container=abc"), "");

    // Values as real packages write them: unquoted up to a ';' comment, quoted with a comment
    // after the quotes or a ';' inside them, keys in any case; comment lines are no keys.
    const std::vector<std::pair<std::string, std::string>> titles = {
        {"title = FSLTL_Cessna 208B Grand Caravan Aztec Airways ; Variation name",
         "FSLTL_Cessna 208B Grand Caravan Aztec Airways"},
        {"title = \"FSLTL A20N BAW British Airways\" ; Variation name", "FSLTL A20N BAW British Airways"},
        {"Title = \"Air; Foo\" ; x", "Air; Foo"},
        {"TITLE=Plain;comment \"quoted\"", "Plain"},
        {"title = ; only a comment", ""},
        {"; title = commented out", ""},
        {"  ;title=commented out", ""}};
    for (const auto& [line, expected] : titles) {
        v.clear();
        EXPECT_EQ(lf_readCfgKey::title(line, v), !expected.empty()) << line;
        EXPECT_EQ(v, expected) << line;
    }
    for (const auto& [line, expected] : std::vector<std::pair<std::string, std::string>>{
             {"icao_airline = AAL ; ###", "AAL"}, {"ICAO_Airline = \"\" ;", "ZZZ"}, {"icao_airline = \"BAW\"", "BAW"}}) {
        ASSERT_TRUE(lf_readCfgKey::icaoAirline(line, v)) << line;
        EXPECT_EQ(v, expected) << line;
    }
    EXPECT_FALSE(lf_readCfgKey::icaoAirline("icao_airline = ; no airline", v));
    EXPECT_FALSE(lf_readCfgKey::icaoAirline("; icao_airline = KLM", v));
    ASSERT_TRUE(lf_readCfgKey::atcId("atc_id = N123AB ; tail \"number\"", v));
    EXPECT_EQ(v, "N123AB");
    EXPECT_FALSE(lf_readCfgKey::atcId("atc_id = \"\"  ; tail number", v));
    EXPECT_EQ(lf_readCfgKey::icaoTypeDesignator("icao_type_designator = A20N ; type"), "A20N");
    EXPECT_EQ(lf_readCfgKey::baseContainer("base_container = ..\\Asobo_A320_NEO ; stock"), "A20N");

    EXPECT_FALSE(lf_keyWords("atc_id_color=0xFFFFFF").atcId);
    EXPECT_FALSE(lf_keyWords("ATC_ID=D-ABCD").atcId);
    EXPECT_TRUE(lf_keyWords("x atc_parking_types").atcParkingTypes);
    EXPECT_EQ(g_stockContainerTypes.size(), 30u);
}

// The one-pass search of the key words finds what the plain searches of each word find.
TEST(CfgReadersTest, KeyWordsOfALineAreThoseOfThePlainSearches)
{
    struct Case {
        std::string_view line;
        bool atcId;
        bool parkingTypes;
    };
    const Case cases[] = {
        {"atc_id=D-ABCD", true, false},
        {"  atc_id=\"D-ABCD\" ; atc_parking_types=GATE", true, true},
        {"atc_id_color=0xFFFFFF", false, false},
        {"ATC_ID=D-ABCD", false, false},
        {"atc_id =D-ABCD", false, false},
        {"// atc_id=D-ABCD", true, false},
        {"x atc_parking_types", false, true},
        {"atc_parking_type=GATE", false, false},
        {"_atc_id=_", true, false},
        {"at_", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lf_hasAtcIdLine(c.line), c.atcId) << c.line;
        EXPECT_EQ(lf_hasAtcParkingTypesLine(c.line), c.parkingTypes) << c.line;
        const KeyWords words = lf_keyWords(c.line);
        EXPECT_EQ(words.atcId, c.atcId) << c.line;
        EXPECT_EQ(words.atcParkingTypes, c.parkingTypes) << c.line;
    }
}

TEST(CfgReadersTest, LongLinesAreMatchedWithoutRecursion)
{
    const std::string value(2'000'000, 'x');
    EXPECT_EQ(lf_cfgValue("title=" + value + "  ", "title").size(), value.size());
    EXPECT_EQ(lf_readFltsimHeader("[fltsim." + std::string(1'000'000, '9') + "]"), std::string(1'000'000, '9'));
}

} // namespace
} // namespace qmt::test
