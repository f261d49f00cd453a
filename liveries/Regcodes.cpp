#include "liveries/Regcodes.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/AcKind.h"
#include "core/Crypto.h"
#include "core/Files.h"
#include "core/KindText.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/StatusLine.h"
#include "core/Text.h"
#include "core/XmlMeta.h"
#include "liveries/LiveryTables.h"
#include "liveries/ScannedLivery.h"

namespace qmt {

std::unordered_map<std::string, std::string_view, Fnv1aHash, std::equal_to<>> g_regcodeLiveries;
std::unordered_map<std::string_view, std::string> g_titleRegcodes;
std::set<std::string, std::less<>> g_uniqueRegcodes;
std::vector<std::string_view> g_specialLiveries;
std::unordered_set<std::string_view> g_specialTitleSet;
std::vector<std::string> g_dontUseTitles;
std::vector<std::string> g_offlineRegcodeLines;

namespace {

constexpr std::string_view kInlineRegcodesFile = "InlineRegcodes.txt";
constexpr std::string_view kOfflineRegcodesFile = "OfflineRegcodes.txt";
constexpr std::size_t kAigRecordsReserve = 7000;
constexpr std::size_t kTxtRecordsReserve = 1000;

// title -> the same title as stored in g_liveryTable; built once per table build so that the
// owner of each of tens of thousands of regcodes is found without walking every table.
std::unordered_map<std::string_view, std::string_view> s_titleIndex;

bool lf_validRegcodeLength(const std::string& REGCODE)
{
    return REGCODE.size() >= 3 && REGCODE.size() <= 12;
}

const char* lf_liveryWord(std::size_t COUNT)
{
    return COUNT == 1 ? "livery" : "liveries";
}

std::filesystem::path lf_aigXmlPath()
{
    return g_inputPath / kAigRegcodesXmlFile;
}

std::filesystem::path lf_aigEncPath()
{
    return g_inputPath / kAigRegcodesEncFile;
}

bool lf_decryptAigRegcodes()
{
    return gf_streamDecrypt(lf_aigEncPath(), lf_aigXmlPath());
}

bool lf_folderHasEntries(const std::filesystem::path& FOLDER)
{
    return gf_countFolderEntries(FOLDER) > 0;
}

void lf_readDontUseTitlesXml()
{
    std::vector<RegcodeRecord> records;
    records.reserve(kAigRecordsReserve);
    gf_readAigRegcodesXml(records);
    std::size_t added = 0;
    for (const RegcodeRecord& record : records) {
        if (record.regcodes.empty()) {
            g_dontUseTitles.push_back(record.title);
            ++added;
        }
    }
    gf_logLine("{:5} don't use title{} read", added, gf_plural(added));
}

void lf_readDontUseTitlesFolder()
{
    std::vector<RegcodeRecord> records;
    records.reserve(kTxtRecordsReserve);
    gf_readRegcodeTxtFiles(g_myRegcodesPath, records);
    std::size_t added = 0;
    for (const RegcodeRecord& record : records) {
        if (record.regcodes.empty()) {
            g_dontUseTitles.push_back(record.title);
            ++added;
        }
    }
    gf_logLine("{:5} don't use title{} read from files in {}", added, gf_plural(added), g_myRegcodesPath.string());
}

void lf_mergeRegcodes(const std::vector<RegcodeRecord>& RECORDS)
{
    std::size_t added = 0;
    std::size_t replaced = 0;
    std::size_t special = 0;
    for (const RegcodeRecord& record : RECORDS) {
        const std::string_view title = lf_regcodeOwner(record.title);
        if (title.empty()) {
            continue;
        }
        for (const std::string& regcode : record.regcodes) {
            auto [it, inserted] = g_regcodeLiveries.try_emplace(regcode, title);
            if (inserted) {
                ++added;
            } else if (it->second != title) {
                g_offlineRegcodeLines.push_back(
                    fmt::format("   regcode {} for '{}', instead of the same for '{}'", regcode, title, it->second));
                it->second = title;
                ++replaced;
            }
            if (record.special && record.regcodes.size() == 1) {
                g_uniqueRegcodes.insert(regcode);
            }
        }
        if (record.special) {
            g_specialLiveries.push_back(title);
            g_specialTitleSet.insert(title);
            ++special;
        }
    }
    std::string line = fmt::format("{} new regcode{} added", added, gf_plural(added));
    if (replaced > 0) {
        line += fmt::format(", {} regcode{} replaced", replaced, gf_plural(replaced));
    }
    if (special > 0) {
        line += fmt::format(", {} regcode{} defined as special", special, gf_plural(special));
    }
    g_offlineRegcodeLines.push_back(std::move(line));
}

void lf_processAigRegcodeFile()
{
    const std::filesystem::path path = lf_aigXmlPath();
    g_offlineRegcodeLines.push_back(fmt::format("Processing file {}", path.string()));
    std::vector<RegcodeRecord> records;
    records.reserve(kAigRecordsReserve);
    if (!gf_readAigRegcodesXml(records)) {
        g_offlineRegcodeLines.push_back(
            fmt::format("There were errors processing the AIG-regcode file '{}', see Log.txt", path.string()));
    }
    lf_mergeRegcodes(records);
    gf_removeFileWarn(path);
}

void lf_processRegcodeFolder()
{
    const std::filesystem::path& folder = g_myRegcodesPath;
    if (!std::filesystem::exists(folder) || !lf_folderHasEntries(folder)) {
        return;
    }
    g_offlineRegcodeLines.push_back(fmt::format("Processing files in {}", folder.string()));
    std::vector<RegcodeRecord> records;
    records.reserve(kTxtRecordsReserve);
    if (!gf_readRegcodeTxtFiles(folder, records)) {
        gf_setStatus(fmt::format("There were errors processing the regcode files in folder '{}', see Log.txt",
                                 folder.string()),
                     true);
    }
    lf_mergeRegcodes(records);
}

// The records of one line of a regcode text file; false when a regcode had a wrong length.
bool lf_regcodeLineRecords(const std::string& LINE, const std::string& FILE_TEXT, std::vector<RegcodeRecord>& RECORDS,
                           std::size_t& COUNT)
{
    const std::vector<std::string> fields = gf_splitTrim(LINE, ';');
    if (fields.size() == 1) {
        if (!fields[0].empty()) {
            RECORDS.push_back(RegcodeRecord{fields[0], {}, false});
            ++COUNT;
        }
        return true;
    }
    if (fields.size() != 2 && fields.size() != 3) {
        return true;
    }
    const auto splitRegcodes = gf_splitCommaTrim(fields[1]);
    std::vector<std::string> regcodes(splitRegcodes.begin(), splitRegcodes.end());
    if (regcodes.empty()) {
        RECORDS.push_back(RegcodeRecord{fields[0], {}, false});
        ++COUNT;
        return true;
    }
    if (regcodes.size() == 1) {
        if (!lf_validRegcodeLength(regcodes[0])) {
            gf_logWarning("wrong regcode length '{}' in {}", regcodes[0], FILE_TEXT);
            return false;
        }
        // One regcode always makes a special, and so unique, livery.
        RECORDS.push_back(RegcodeRecord{fields[0], std::move(regcodes), true});
        ++COUNT;
        return true;
    }
    bool result = true;
    const bool special = fields.size() == 3 && fields[2] == "#";
    std::vector<std::string> valid;
    for (std::string& regcode : regcodes) {
        if (lf_validRegcodeLength(regcode)) {
            valid.push_back(std::move(regcode));
        } else {
            gf_logWarning("wrong regcode length '{}' in {}", regcode, FILE_TEXT);
            result = false;
        }
    }
    // Only bad regcodes: a typo must not make the title a don't-use title (removing the livery).
    if (valid.empty())
        return result;
    RECORDS.push_back(RegcodeRecord{fields[0], std::move(valid), special});
    ++COUNT;
    return result;
}

} // namespace

std::size_t Fnv1aHash::operator()(std::string_view TEXT) const noexcept
{
    uint64_t hash = 14695981039346656037ULL;
    for (const char c : TEXT) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return static_cast<std::size_t>(hash);
}

bool gf_readRegcodeTxtFiles(const std::filesystem::path& FOLDER, std::vector<RegcodeRecord>& RECORDS)
{
    bool result = true;
    try {
        std::vector<std::filesystem::path> files;
        for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(FOLDER)) {
            if (!entry.is_regular_file()) {
                continue;
            }
            std::string extension = entry.path().extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            if (extension == ".TXT") {
                files.push_back(entry.path());
            }
        }
        // A fixed order, so that "the last record wins" means the same on every machine.
        std::sort(files.begin(), files.end());
        for (const std::filesystem::path& file : files) {
            const std::string fileText = file.string();
            std::size_t count = 0;
            const FileLines read = gf_readFileLines(file, kMaxLiveryTextBytes);
            if (read.error == "too_large") {
                gf_logWarning("regcode file {} is larger than {} MiB, not read", fileText, kMaxLiveryTextBytes >> 20);
                result = false;
            }
            for (const std::string& line : read.lines) {
                if (line.size() < 6) {
                    continue;
                }
                if (!lf_regcodeLineRecords(line, fileText, RECORDS, count)) {
                    result = false;
                }
            }
            gf_logLine("{:5} {} read from {}", count, lf_liveryWord(count), fileText);
        }
    } catch (const std::exception& e) {
        gf_logWarning("Error reading regcode files in {}, what: {}", FOLDER.string(), e.what());
        result = false;
    }
    return result;
}

bool gf_readAigRegcodesXml(std::vector<RegcodeRecord>& RECORDS)
{
    const std::filesystem::path path = lf_aigXmlPath();
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str())) {
        gf_logWarning("Failed to load {}", path.string());
        if (std::filesystem::exists(path)) {
            std::filesystem::remove(path);
        }
        return false;
    }
    if (!gf_readXmlMeta(doc).accepted) {
        return false;
    }
    pugi::xml_node aig = doc.child("root").child("aig");
    if (!aig) {
        gf_logWarning("No <aig> node found in XML.");
        return false;
    }
    bool result = true;
    std::string previous;
    std::size_t count = 0;
    for (pugi::xml_node l : aig.children("l")) {
        const std::string title = l.attribute("t").value();
        if (title.empty()) {
            continue;
        }
        if (title == previous) {
            gf_logWarning("Duplicate title '{}' (same as previous)", title);
            result = false;
            continue;
        }
        previous = title;
        const auto splitRegcodes = gf_splitCommaTrim(l.attribute("r").value());
        RECORDS.push_back(RegcodeRecord{title, std::vector<std::string>(splitRegcodes.begin(), splitRegcodes.end()),
                                        l.attribute("s").as_bool(false)});
        ++count;
    }
    gf_logLine("{:5} {} read from {}", count, lf_liveryWord(count), path.filename().string());
    return result;
}

void lf_readDontUseTitles()
{
    g_dontUseTitles.clear();
    try {
        if (lf_decryptAigRegcodes()) {
            lf_readDontUseTitlesXml();
            gf_removeFileWarn(lf_aigXmlPath());
        }
        if (lf_folderHasEntries(g_myRegcodesPath)) {
            lf_readDontUseTitlesFolder();
        }
    } catch (const std::exception& e) {
        gf_logWarning("exception: {}", e.what());
    }
}

void lf_buildTitleIndex()
{
    s_titleIndex.clear();
    // "First hit" follows the sorted livery order: airline key text, model code, title.
    struct Item {
        const std::string* keyText;
        const std::string* modelText;
        std::string_view title;
    };
    std::unordered_map<uint16_t, std::string> keyTexts;
    std::unordered_map<uint16_t, std::string> modelTexts;
    std::vector<Item> items;
    for (const auto& [key, models] : g_liveryTable) {
        const std::string& keyText = keyTexts.try_emplace(key, gf_airlineCode(key)).first->second;
        for (const auto& [model, entries] : models) {
            const std::string& modelText = modelTexts.try_emplace(model, gf_modelCode(model)).first->second;
            for (const LiveryEntry& entry : entries) {
                items.push_back(Item{&keyText, &modelText, entry.title});
            }
        }
    }
    std::sort(items.begin(), items.end(), [](const Item& A, const Item& B) {
        return std::tie(*A.keyText, *A.modelText, A.title) < std::tie(*B.keyText, *B.modelText, B.title);
    });
    s_titleIndex.reserve(items.size());
    for (const Item& item : items) {
        s_titleIndex.try_emplace(item.title, item.title);
    }
}

std::string_view lf_regcodeOwner(std::string_view TITLE)
{
    const auto found = s_titleIndex.find(TITLE);
    return found == s_titleIndex.end() ? std::string_view() : found->second;
}

void lf_processInlineRegcodes()
{
    std::vector<std::string> clashes;
    for (const ScannedLivery& L : g_scannedLiveries) {
        if (L.regcode.empty()) {
            continue;
        }
        const std::string_view title = lf_regcodeOwner(L.title);
        if (title.empty()) {
            clashes.push_back(fmt::format("==> [{}] {} '{}' not available, system error, should not happen?",
                                          gf_kindText(L.kind), L.regcode, L.title));
            continue;
        }
        auto [regcodeEntry, regcodeAdded] = g_regcodeLiveries.try_emplace(L.regcode, title);
        if (!regcodeAdded && regcodeEntry->second != title) {
            clashes.push_back(fmt::format("{} '{}' => already in use by '{}'", L.regcode, title, regcodeEntry->second));
        }
        auto [titleEntry, titleAdded] = g_titleRegcodes.try_emplace(title, L.regcode);
        if (!titleAdded && titleEntry->second != L.regcode) {
            clashes.push_back(fmt::format("{} '{}' => already in use by '{}'", title, L.regcode, titleEntry->second));
        }
    }
    if (clashes.empty()) {
        return;
    }
    std::filesystem::create_directories(g_errorsPath);
    const std::filesystem::path path = g_errorsPath / kInlineRegcodesFile;
    gf_writeListToFile(clashes, path);
    gf_logLine("{:5} in-line regcode clashes, see '{}'", clashes.size(), path.string());
}

void lf_processOfflineRegcodes()
{
    g_offlineRegcodeLines.clear();
    try {
        // The user's own files are applied even when the AIG file cannot be decrypted (the
        // decryption logs its own failure).
        if (lf_decryptAigRegcodes()) {
            lf_processAigRegcodeFile();
        }
        lf_processRegcodeFolder();
        const std::filesystem::path path = g_infoPath / kOfflineRegcodesFile;
        std::filesystem::remove(path);
        if (!g_offlineRegcodeLines.empty()) {
            gf_writeListToFile(g_offlineRegcodeLines, path);
            gf_logLine("Offline regcode files processed, results can be found in '{}'", path.string());
            if (!g_specialLiveries.empty()) {
                gf_logLine("{:5} special liveries", g_specialLiveries.size());
            }
            if (!g_uniqueRegcodes.empty()) {
                gf_logLine("{:5} unique liveries", g_uniqueRegcodes.size());
            }
        }
    } catch (const std::exception& e) {
        gf_logWarning("exception: {}", e.what());
    }
}

void gf_clearRegcodeTables()
{
    g_uniqueRegcodes.clear();
    g_specialLiveries.clear();
    g_specialTitleSet.clear();
    g_regcodeLiveries.clear();
    g_titleRegcodes.clear();
    s_titleIndex.clear();
}

} // namespace qmt
