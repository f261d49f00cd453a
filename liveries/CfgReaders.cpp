#include "liveries/CfgReaders.h"

#include "core/Text.h"
#include "liveries/LiveryScan.h"

#include <fmt/format.h>

namespace qmt {

const std::unordered_map<std::string, std::string, Fnv1aHash, std::equal_to<>> g_stockContainerTypes = {
    {"Asobo_FlightDesignCT", "FDCT"},
    {"Asobo_DV20", "DV20"},
    {"Asobo_Longitude", "C700"},
    {"Asobo_DR400", "DR40"},
    {"Asobo_VL3", "VL3"},
    {"Asobo_DA62", "DA62"},
    {"Asobo_Savage_Cub", "SAVG"},
    {"Asobo_DA40_TDI", "DA40"},
    {"Asobo_Savage_ShockUltra", "SAVG"},
    {"Asobo_DA40_NG", "DA40"},
    {"Asobo_XCub", "CC19"},
    {"Asobo_Cap10C", "CP10"},
    {"Asobo_Pitts", "PTS2"},
    {"Asobo_CJ4", "C25C"},
    {"Asobo_SR22", "SR22"},
    {"Asobo_C152", "C152"},
    {"Asobo_Icon", "A5"},
    {"Asobo_C152_Aerobat", "C152"},
    {"Asobo_TBM930", "TBM9"},
    {"Asobo_C172sp_AS1000", "C172"},
    {"Asobo_KingAir350", "B350"},
    {"Asobo_C172sp_classic", "C172"},
    {"Asobo_E330", "E300"},
    {"Asobo_Bonanza_G36", "BE36"},
    {"Asobo_B747_8i", "B748"},
    {"Asobo_Baron_G58", "B58T"},
    {"Asobo_B787_10", "B78X"},
    {"Asobo_208B_GRAND_CARAVAN_EX", "C208"},
    {"Asobo_A320_NEO", "A20N"},
    {"FlyByWire_A320_NEO", "A20N"},
};

namespace {

constexpr char lf_lowerAscii(char C)
{
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

// The value of the key, after the quote rule; empty when the line is no such key line.
std::string_view lf_quotedValue(std::string_view LINE, std::string_view KEY)
{
    const std::string_view value = lf_cfgValue(LINE, KEY);
    return value.empty() ? value : lf_quoteRule(value);
}

bool lf_readNonEmpty(std::string_view LINE, std::string_view KEY, std::string& VALUE)
{
    const std::string_view value = lf_quotedValue(LINE, KEY);
    if (value.empty())
        return false;
    VALUE.assign(value);
    return true;
}

} // namespace

bool lf_takeNoCase(std::string_view TEXT, std::size_t& POS, std::string_view WORD)
{
    if (TEXT.size() - POS < WORD.size())
        return false;
    for (std::size_t i = 0; i < WORD.size(); ++i)
        if (lf_lowerAscii(TEXT[POS + i]) != lf_lowerAscii(WORD[i]))
            return false;
    POS += WORD.size();
    return true;
}

void lf_skipSpace(std::string_view TEXT, std::size_t& POS)
{
    while (POS < TEXT.size() && lf_isCfgSpace(TEXT[POS]))
        ++POS;
}

std::string_view lf_cfgValue(std::string_view LINE, std::string_view KEY)
{
    std::size_t pos = 0;
    lf_skipSpace(LINE, pos);
    if (!lf_takeNoCase(LINE, pos, KEY))
        return {};
    lf_skipSpace(LINE, pos);
    if (pos >= LINE.size() || LINE[pos] != '=')
        return {};
    ++pos;
    lf_skipSpace(LINE, pos);
    std::size_t end = LINE.size();
    while (end > pos && lf_isCfgSpace(LINE[end - 1]))
        --end;
    const std::string_view value = LINE.substr(pos, end - pos);
    // The value is ".*\S": '.' never matches a line break, so a value that holds one (a lone
    // CR inside the line) leaves the line unmatched.
    if (value.find('\r') != std::string_view::npos || value.find('\n') != std::string_view::npos)
        return {};
    return value;
}

std::string_view lf_quoteRule(std::string_view VALUE)
{
    const std::size_t first = VALUE.find('"');
    const std::size_t comment = VALUE.find(';');
    if (comment < first) {
        // An unquoted value ends at its comment, which may hold quotes of its own.
        std::string_view value = VALUE.substr(0, comment);
        while (!value.empty() && lf_isCfgSpace(value.back()))
            value.remove_suffix(1);
        return value;
    }
    if (first == std::string_view::npos)
        return VALUE;
    const std::size_t second = VALUE.find('"', first + 1);
    if (second == std::string_view::npos || second == first + 1)
        return {};
    return VALUE.substr(first + 1, second - first - 1);
}

bool lf_readCfgKey::title(std::string_view LINE, std::string& VALUE)
{
    return lf_readNonEmpty(LINE, "title", VALUE);
}

std::string_view lf_readCfgKey::titleText(std::string_view LINE)
{
    return lf_quotedValue(LINE, "title");
}

bool lf_readCfgKey::texture(std::string_view LINE, std::string& VALUE)
{
    return lf_readNonEmpty(LINE, "texture", VALUE);
}

bool lf_readCfgKey::atcParkingTypes(std::string_view LINE, std::string& VALUE)
{
    return lf_readNonEmpty(LINE, "atc_parking_types", VALUE);
}

bool lf_readCfgKey::atcId(std::string_view LINE, std::string& VALUE)
{
    const std::string_view value = lf_quotedValue(LINE, "atc_id");
    if (value.size() < 5)
        return false;
    VALUE.assign(value);
    return true;
}

bool lf_readCfgKey::icaoAirline(std::string_view LINE, std::string& VALUE)
{
    const std::string_view raw = lf_cfgValue(LINE, "icao_airline");
    // No value, or only a comment: no key line (an empty pair of quotes is one).
    if (raw.empty() || raw.front() == ';')
        return false;
    const std::string_view value = lf_quoteRule(raw);
    VALUE = value.empty() || value == "ZZZZ" ? std::string("ZZZ") : gf_upper(value);
    return true;
}

std::string lf_readCfgKey::icaoTypeDesignator(std::string_view LINE)
{
    return gf_upper(lf_quotedValue(LINE, "icao_type_designator").substr(0, 4));
}

std::string lf_readCfgKey::baseContainer(std::string_view LINE)
{
    const std::string_view value = lf_quotedValue(LINE, "base_container");
    if (value.size() <= 3)
        return {};
    const auto it = g_stockContainerTypes.find(value.substr(3));
    return it == g_stockContainerTypes.end() ? std::string() : gf_upper(it->second);
}

std::string lf_readFltsimHeader(std::string_view LINE)
{
    // Most lines hold no '[' at all.
    if (LINE.find('[') == std::string_view::npos || lf_isCommentLine(LINE))
        return {};
    std::size_t pos = 0;
    lf_skipSpace(LINE, pos);
    if (lf_takeNoCase(LINE, pos, "[fltsim.")) {
        const std::size_t digits = pos;
        while (pos < LINE.size() && LINE[pos] >= '0' && LINE[pos] <= '9')
            ++pos;
        if (pos > digits && pos < LINE.size() && LINE[pos] == ']') {
            const std::string_view number = LINE.substr(digits, pos - digits);
            ++pos;
            lf_skipSpace(LINE, pos);
            if (pos == LINE.size())
                return std::string(number);
        }
    }
    if (LINE.find("[fltsim.") != std::string_view::npos || LINE.find("[FLTSIM.") != std::string_view::npos)
        return "10000";
    return {};
}

KeyWords lf_keyWords(std::string_view LINE)
{
    // Each word holds '_' after its first letters: the line is searched for '_' alone, once for
    // all three, which is cheaper than a search for each word that stops at every 'a' and 'i'.
    KeyWords words;
    for (std::size_t pos = gf_findInLine(LINE, '_', 3); pos != std::string_view::npos;
         pos = gf_findInLine(LINE, '_', pos + 1)) {
        const std::string_view atc = LINE.substr(pos - 3);
        words.atcId = words.atcId || atc.starts_with("atc_id=");
        words.atcParkingTypes = words.atcParkingTypes || atc.starts_with("atc_parking_types");
        words.icaoAirline = words.icaoAirline || (pos >= 4 && LINE.substr(pos - 4).starts_with("icao_airline"));
    }
    return words;
}

bool lf_hasAtcIdLine(std::string_view LINE)
{
    return LINE.find("atc_id=") != std::string_view::npos;
}

bool lf_hasAtcParkingTypesLine(std::string_view LINE)
{
    return LINE.find("atc_parking_types") != std::string_view::npos;
}

bool lf_isCommentLine(std::string_view LINE)
{
    std::size_t first = 0;
    while (first < LINE.size() && (LINE[first] == ' ' || LINE[first] == '\t'))
        ++first;
    const std::string_view rest = LINE.substr(first);
    return rest.starts_with(';') || rest.starts_with("//");
}

OnceKey lf_readOnceKeys(std::string_view LINE, std::string& PARKING_TYPES, std::string& REGCODE,
                        RegcodeOfAtcId REGCODE_OF, const std::string& TITLE, std::string_view FOLDER_TEXT,
                        std::string_view HEADER)
{
    // Only a key of a kind already taken is looked for.
    KeyWords words;
    words.atcParkingTypes = !PARKING_TYPES.empty() && lf_hasAtcParkingTypesLine(LINE);
    words.atcId = !REGCODE.empty() && lf_hasAtcIdLine(LINE);
    return lf_readOnceKeys(LINE, words, PARKING_TYPES, REGCODE, REGCODE_OF, TITLE, FOLDER_TEXT, HEADER);
}

OnceKey lf_readOnceKeys(std::string_view LINE, const KeyWords& WORDS, std::string& PARKING_TYPES,
                        std::string& REGCODE, RegcodeOfAtcId REGCODE_OF, const std::string& TITLE,
                        std::string_view FOLDER_TEXT, std::string_view HEADER)
{
    std::string value;
    if (PARKING_TYPES.empty()) {
        if (lf_readCfgKey::atcParkingTypes(LINE, value)) {
            gf_normaliseList(value);
            PARKING_TYPES = gf_upper(value);
            return OnceKey::taken;
        }
    } else if (WORDS.atcParkingTypes && !lf_isCommentLine(LINE)) {
        lf_addIncompleteSection(fmt::format("{} {} has more than one atc_parking_types key", FOLDER_TEXT, HEADER));
        return OnceKey::second;
    }
    if (REGCODE.empty()) {
        if (lf_readCfgKey::atcId(LINE, value)) {
            REGCODE = REGCODE_OF(value, TITLE);
            return OnceKey::taken;
        }
    } else if (WORDS.atcId && !lf_isCommentLine(LINE)) {
        lf_addIncompleteSection(fmt::format("{}, {}, has more than one atc_id key", FOLDER_TEXT, HEADER));
        return OnceKey::second;
    }
    return OnceKey::none;
}

} // namespace qmt
