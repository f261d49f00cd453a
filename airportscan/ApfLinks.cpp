#include "airportscan/ApfLinks.h"

#include "airportscan/AirportScan.h"
#include "core/Files.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Text.h"
#include "records/UserAircraft.h"
#include "stands/AirportFile.h"
#include "stands/ApfLookup.h"

#include <algorithm>
#include <condition_variable>
#include <set>

namespace qmt {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view SIMADDON = "simaddon";

// The paths of the airport files and link files being written now (g_apfWriteMutex).
std::set<fs::path> s_writing;
std::condition_variable s_written;

// The claim of one file's path for the time of its write (g_apfWriteMutex).
class WriteClaim {
public:
    explicit WriteClaim(fs::path PATH) : m_file(std::move(PATH))
    {
        std::unique_lock lock(g_apfWriteMutex);
        s_written.wait(lock, [this] { return !s_writing.contains(m_file); });
        s_writing.insert(m_file);
    }
    ~WriteClaim()
    {
        {
            std::lock_guard lock(g_apfWriteMutex);
            s_writing.erase(m_file);
        }
        s_written.notify_all();
    }
    WriteClaim(const WriteClaim&) = delete;
    WriteClaim& operator=(const WriteClaim&) = delete;

private:
    fs::path m_file;
};

// Writes the link file FOLDER/<ICAO>.txt naming ARCHIVE_PATH; a failure goes to the scan log.
void lf_writeLink(const fs::path& FOLDER, std::string_view CODE, const std::string& ARCHIVE_PATH)
{
    const fs::path link = FOLDER / gf_apfTxtPath(CODE);
    std::error_code ec;
    {
        std::lock_guard lock(g_apfWriteMutex);
        fs::create_directories(FOLDER, ec);
    }
    const WriteClaim claim(link);
    if (ec || !gf_writeTextFile(ARCHIVE_PATH, link, true)) {
        gf_scanLog("{}could not write link file {}", "===> ", gf_utf16ToUtf8(link));
    }
}

} // namespace

std::optional<std::string> lf_findSimaddonArchive(std::string_view CODE)
{
    const std::string path = fmt::format("archive/{}/{}", SIMADDON, gf_apfFileName(CODE));
    const auto& list = g_isMsfs2020.load() ? g_simaddon20 : g_simaddon24;
    if (list.contains(std::string(CODE))) {
        return path;
    }
    gf_scanLog("{} does not exist as simaddon", CODE);
    return std::nullopt;
}

std::optional<std::string> lf_findThirdpartyArchive(const std::string& PUBLISHER, std::string_view CODE,
                                                    std::int32_t& ARCHIVED)
{
    std::string folder;
    for (const char c : PUBLISHER) {
        folder += c == ' ' ? std::string("%20") : std::string(1, c);
    }
    const std::string path = fmt::format("archive/thirdparty/{}/{}", folder, gf_apfFileName(CODE));
    const bool msfs2020 = g_isMsfs2020.load();
    const auto& list = msfs2020 ? g_thirdparties20 : g_thirdparties24;
    for (const ThirdpartyEntry& entry : list) {
        if (entry.publisher != PUBLISHER) {
            continue;
        }
        for (const std::string& text : entry.entries) {
            if (text.starts_with(CODE)) {
                gf_splitCodeNumber(text, msfs2020 ? "thirdparties20" : "thirdparties24", CODE, ARCHIVED);
                return path;
            }
        }
    }
    gf_scanLog("thirdparty {} {} does not exist", PUBLISHER, CODE);
    return std::nullopt;
}

bool lf_linkToArchive(AirportFile& RECORD, const ManifestInfo& MANIFEST, std::int32_t& ARCHIVED, const fs::path& PATH,
                      const fs::path& SCAN_FOLDER)
{
    ARCHIVED = 0;
    RECORD.bglPath = lf_pathFromCommunity(PATH, SCAN_FOLDER);
    if (RECORD.publisher.empty()) {
        PublisherInfo found = gf_findPublisher(PATH, MANIFEST, SCAN_FOLDER);
        RECORD.publisher = std::move(found.publisher);
        RECORD.manufacturer = std::move(found.manufacturer);
        RECORD.creator = std::move(found.creator);
        RECORD.title = std::move(found.title);
    }
    if (RECORD.publisher.empty()) {
        return false;
    }
    const std::string_view code = RECORD.code.view();
    if (RECORD.publisher != SIMADDON) {
        const auto archive = lf_findThirdpartyArchive(RECORD.publisher, code, ARCHIVED);
        if (!archive) {
            return false;
        }
        lf_writeLink(g_myThirdpartyPath, code, *archive);
        gf_scanLog("thirdparty airport {} linked to {}\n", code, *archive);
        return true;
    }
    const auto archive = lf_findSimaddonArchive(code);
    if (!archive) {
        return false;
    }
    lf_writeLink(g_mySimaddonPath, code, *archive);
    gf_scanLog("{} airport {} linked to {}\n", SIMADDON, code, *archive);
    return true;
}

void lf_generateApf(AirportFile& RECORD, int HELIPADS)
{
    if (RECORD.stands.empty()) {
        return;
    }
    // A file that the reader would refuse is not written.
    if (RECORD.stands.size() > MAX_AIRPORT_STANDS) {
        gf_scanLog("{}{} has {} stands, more than {}: no airport file generated", "===> ",
                   gf_apfFileName(RECORD.code.view()), RECORD.stands.size(), MAX_AIRPORT_STANDS);
        return;
    }
    const fs::path& folder = RECORD.publisher == SIMADDON ? g_mySimaddonPath : g_myThirdpartyPath;
    const std::size_t n = RECORD.stands.size();
    gf_scanLog("Generated {}: {} position{}{}", gf_apfFileName(RECORD.code.view()), n, gf_plural(n),
               HELIPADS >= 1 ? fmt::format(", of which {} helipad{}\n", HELIPADS, gf_plural(HELIPADS)) : "");
    std::sort(RECORD.stands.begin(), RECORD.stands.end(),
              [](const Stand& A, const Stand& B) { return A.name < B.name; });
    const fs::path file = folder / gf_apfXmlPath(RECORD.code.view());
    // The document is made before the file is claimed, so that the tasks make theirs at the same time.
    const std::optional<std::string> text = gf_apfText(RECORD, ApfWriteMode::generated, g_simNumber);
    {
        std::lock_guard lock(g_apfWriteMutex);
        if (!fs::exists(folder)) {
            fs::create_directory(folder);
        }
    }
    const WriteClaim claim(file);
    if (!text || !gf_commitApfText(*text, file, ApfWriteMode::generated)) {
        gf_scanLog("{}Generating {} did not succeed", "===> ", gf_utf16ToUtf8(file));
    }
}

} // namespace qmt
