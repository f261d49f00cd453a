#pragma once

// Registration codes of liveries from three sources: the liveries' own atc_id, the AIG regcode
// file that comes with the program, and the user's my_regcodes/*.TXT files. Like the livery
// tables, these tables belong to the worker thread and hold views of the titles of g_liveryTable.

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qmt {

// aircraft.cfg and regcode files larger than this are no such files and are not read whole.
inline constexpr std::uintmax_t kMaxLiveryTextBytes = std::uintmax_t{64} << 20;

// One entry of a regcode file.
struct RegcodeRecord {
    std::string title;
    std::vector<std::string> regcodes; // empty: a don't-use title
    bool special = false;
};

// FNV-1a over the bytes of a text.
struct Fnv1aHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view TEXT) const noexcept;
};

// regcode -> title view (in-line regcodes, then the regcode files)
extern std::unordered_map<std::string, std::string_view, Fnv1aHash, std::equal_to<>> g_regcodeLiveries;
// title view -> regcode (in-line regcodes only)
extern std::unordered_map<std::string_view, std::string> g_titleRegcodes;
// regcodes of special liveries that have exactly one regcode
extern std::set<std::string, std::less<>> g_uniqueRegcodes;
// title views of special liveries, in the order found (repeats possible)
extern std::vector<std::string_view> g_specialLiveries;
// the same titles as a set, so that the random picks test them in constant time
extern std::unordered_set<std::string_view> g_specialTitleSet;
// titles the scan leaves out (records without regcodes)
extern std::vector<std::string> g_dontUseTitles;
// lines of OfflineRegcodes.txt
extern std::vector<std::string> g_offlineRegcodeLines;

// Reads the .TXT files of the folder; false when a regcode had a wrong length or reading failed.
bool gf_readRegcodeTxtFiles(const std::filesystem::path& FOLDER, std::vector<RegcodeRecord>& RECORDS);
// Reads the decrypted AIG-regcodes.xml of the input folder; false on any problem.
bool gf_readAigRegcodesXml(std::vector<RegcodeRecord>& RECORDS);

// Rebuilds g_dontUseTitles before a scan.
void lf_readDontUseTitles();
// Regcodes of the scanned liveries themselves; needs g_liveryTable and g_scannedLiveries.
void lf_processInlineRegcodes();
// Applies the AIG file and the my_regcodes files, writes OfflineRegcodes.txt.
void lf_processOfflineRegcodes();
// The title as stored in g_liveryTable, or an empty view when no livery has it.
std::string_view lf_regcodeOwner(std::string_view TITLE);
// Builds the title index that lf_regcodeOwner searches; needs g_liveryTable.
void lf_buildTitleIndex();

// Empties the regcode tables and the title index (part of gf_clearLiveryTables).
void gf_clearRegcodeTables();

} // namespace qmt
