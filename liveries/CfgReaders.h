#pragma once
// Readers of single aircraft.cfg lines. The livery scan never parses a file as a whole: it
// offers each line to these readers, which recognise one key each. They are pure functions of
// one line and run on every scan worker at once, over every line of every file, so they are
// written by hand: a whole-line match of "\s*(key)\s*=\s*(.*\S)\s*" (ECMAScript, case-
// insensitive) without building or running a regular expression per line.

#include <string>
#include <string_view>
#include <unordered_map>

#include "liveries/Regcodes.h"

namespace qmt {

// Base container of a stock aircraft -> ICAO type designator (exact, case-sensitive keys).
extern const std::unordered_map<std::string, std::string, Fnv1aHash, std::equal_to<>> g_stockContainerTypes;

// The value of a "key = value" line: the text after '=' without white space around it; empty
// when the line is no such line for the key (key in any case, starting the line after white
// space, followed by white space or '='; a value holding a line break does not match).
std::string_view lf_cfgValue(std::string_view LINE, std::string_view KEY);

// A value after the quote rule: unquoted, it ends at its ';' comment (trimmed); else the text
// between the first two double quotes, which may hold ';', empty when there is no closing one
// or the pair is empty.
std::string_view lf_quoteRule(std::string_view VALUE);

// One reader per key; the bool readers leave VALUE untouched when they give false.
struct lf_readCfgKey {
    // Non-empty value after the quote rule.
    static bool title(std::string_view LINE, std::string& VALUE);
    // The same value as a view into the line; empty when the line is no title line.
    static std::string_view titleText(std::string_view LINE);
    static bool texture(std::string_view LINE, std::string& VALUE);
    static bool atcParkingTypes(std::string_view LINE, std::string& VALUE);
    // Five characters or more after the quote rule.
    static bool atcId(std::string_view LINE, std::string& VALUE);
    // Upper-cased; "ZZZ" for an empty quoted value and for exactly "ZZZZ"; false for a line
    // whose value is only a comment.
    static bool icaoAirline(std::string_view LINE, std::string& VALUE);
    // At most 4 characters, upper-cased; empty when the line is no such key line.
    static std::string icaoTypeDesignator(std::string_view LINE);
    // The type of a stock base container (its value without the first 3 characters, as in
    // "..\Asobo_A320_NEO"), upper-cased; empty for any other line or container.
    static std::string baseContainer(std::string_view LINE);
};

// The number text of a "[fltsim.N]" header line; "10000" for a line that only looks like one
// (text around it, or no number); empty for any other line and for comment lines.
std::string lf_readFltsimHeader(std::string_view LINE);

// Which of the words of the keys that a section takes once a line holds anywhere
// (case-sensitive): a second such key line gives the section up.
struct KeyWords {
    bool icaoAirline = false;     // "icao_airline"
    bool atcId = false;           // "atc_id="
    bool atcParkingTypes = false; // "atc_parking_types"
};
KeyWords lf_keyWords(std::string_view LINE);
// The same words one at a time: the line holds "atc_id=" / "atc_parking_types" anywhere
// (case-sensitive). lf_keyWords finds all three in one pass over the line.
bool lf_hasAtcIdLine(std::string_view LINE);
bool lf_hasAtcParkingTypesLine(std::string_view LINE);

// atc_parking_types and atc_id, which both section readers (ordinary and IVAO) take once per
// section: taken sets PARKING_TYPES (normalised, upper-cased) or REGCODE (from the atc_id value
// and the section's TITLE); a second key of a kind is reported ("has more than one ... key")
// and the section is to be given up; a commented-out key is none.
enum class OnceKey { none, taken, second };
using RegcodeOfAtcId = std::string (*)(std::string_view VALUE, const std::string& TITLE);
OnceKey lf_readOnceKeys(std::string_view LINE, std::string& PARKING_TYPES, std::string& REGCODE,
                        RegcodeOfAtcId REGCODE_OF, const std::string& TITLE, std::string_view FOLDER_TEXT,
                        std::string_view HEADER);
// The same with the key words of the line found already (only asked for when a key was taken).
OnceKey lf_readOnceKeys(std::string_view LINE, const KeyWords& WORDS, std::string& PARKING_TYPES,
                        std::string& REGCODE, RegcodeOfAtcId REGCODE_OF, const std::string& TITLE,
                        std::string_view FOLDER_TEXT, std::string_view HEADER);

// Whether the line is a comment: ';' or "//" after leading blanks and tabs. Comment lines hold
// no key and open or end no section.
bool lf_isCommentLine(std::string_view LINE);

// White space of the key expressions: blank, tab, LF, VT, FF, CR.
constexpr bool lf_isCfgSpace(char C)
{
    return C == ' ' || C == '\t' || C == '\n' || C == '\v' || C == '\f' || C == '\r';
}

// Whether TEXT starts at POS with WORD (ASCII case ignored); POS moves past it when it does.
bool lf_takeNoCase(std::string_view TEXT, std::size_t& POS, std::string_view WORD);
// Moves POS past the white space (lf_isCfgSpace) at it.
void lf_skipSpace(std::string_view TEXT, std::size_t& POS);

} // namespace qmt
