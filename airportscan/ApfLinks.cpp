#include "airportscan/ApfLinks.h"

#include "airportscan/AirportScan.h"
#include "airportscan/ScanSteps.h"
#include "core/Files.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Text.h"
#include "records/UserAircraft.h"
#include "stands/AirportFile.h"
#include "stands/ApfLookup.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <set>
#include <utility>

namespace qmt {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSimaddon = "simaddon";

// The airports being written now, as FOLDER/<ICAO> (g_apfWriteMutex): the link file and the
// generated file of one airport are never written at the same time.
std::set<fs::path> s_writing;
std::condition_variable s_written;
// The package whose airport stands in FOLDER/<ICAO> after this scan (g_apfWriteMutex).
std::map<fs::path, PackageOrder> s_owners;
// The origin named by each generated file FOLDER/<ICAO>.xml of this scan (g_apfWriteMutex).
std::map<fs::path, ApfOrigin> s_origins;

// The claim of one airport's files in one folder for the time of its decision and write.
class WriteClaim {
public:
    WriteClaim(const fs::path& FOLDER, std::string_view CODE) : m_airport(FOLDER / CODE)
    {
        std::unique_lock lock(g_apfWriteMutex);
        s_written.wait(lock, [this] { return !s_writing.contains(m_airport); });
        s_writing.insert(m_airport);
    }
    ~WriteClaim()
    {
        {
            std::lock_guard lock(g_apfWriteMutex);
            s_writing.erase(m_airport);
        }
        s_written.notify_all();
    }
    WriteClaim(const WriteClaim&) = delete;
    WriteClaim& operator=(const WriteClaim&) = delete;

private:
    fs::path m_airport;
};

// The scan-log line on an airport that two packages (or two files of one) hold.
void lf_tellTwoSources(std::string_view CODE, const PackageOrder& EARLIER, const PackageOrder& LATER)
{
    if (EARLIER.package != LATER.package) {
        gf_scanLog("{} is in two packages, {} and {}: the simulator loads {} later, its airport is taken", CODE,
                   EARLIER.package, LATER.package, LATER.package);
    } else {
        gf_scanLog("{} is in two files of {}, {} and {}: {} is taken, as the later by name", CODE, LATER.package,
                   EARLIER.file, LATER.file, LATER.file);
    }
}

fs::path lf_folderOf(const AirportFile& RECORD)
{
    return lf_scanOutputFolder(RECORD.publisher == kSimaddon ? g_mySimaddonPath : g_myThirdpartyPath);
}

// Whether FROM may write the airport CODE into FOLDER (its claim held): true unless a package
// that the simulator loads later wrote it. A package loaded later replaces what an earlier one
// wrote (its link file and generated file are removed); either way the scan log names both
// packages and the one taken.
bool lf_takeAirport(const fs::path& FOLDER, std::string_view CODE, const PackageOrder& FROM)
{
    PackageOrder earlier;
    PackageOrder later;
    bool replaces = false;
    {
        std::lock_guard lock(g_apfWriteMutex);
        auto [owner, taken] = s_owners.try_emplace(FOLDER / CODE, FROM);
        if (taken || owner->second.sameSource(FROM)) {
            return true;
        }
        replaces = owner->second < FROM;
        earlier = replaces ? owner->second : FROM;
        later = replaces ? FROM : owner->second;
        if (replaces) {
            owner->second = FROM;
            s_origins.erase(FOLDER / gf_apfXmlPath(CODE));
        }
    }
    lf_tellTwoSources(CODE, earlier, later);
    if (replaces) {
        lf_removeScanOutput(FOLDER / gf_apfTxtPath(CODE));
        lf_removeScanOutput(FOLDER / gf_apfXmlPath(CODE));
    }
    return replaces;
}

// Writes the link file FOLDER/<ICAO>.txt naming ARCHIVE_PATH, unless a package loaded later holds
// the airport (false); a failed write goes to the scan log.
bool lf_writeLink(const fs::path& FOLDER, std::string_view CODE, const std::string& ARCHIVE_PATH,
                  const PackageOrder& FROM)
{
    const fs::path link = FOLDER / gf_apfTxtPath(CODE);
    std::error_code ec;
    {
        std::lock_guard lock(g_apfWriteMutex);
        fs::create_directories(FOLDER, ec);
    }
    const WriteClaim claim(FOLDER, CODE);
    if (!lf_takeAirport(FOLDER, CODE, FROM)) {
        return false;
    }
    std::string failureLine = fmt::format("{}could not write link file {}", "===> ", gf_utf16ToUtf8(link));
    if (ec) {
        gf_scanLog(failureLine);
    } else {
        lf_writeScanOutput(ARCHIVE_PATH + "\n", link, std::move(failureLine));
    }
    return true;
}

// Notes the origin that the generated file FILE of RECORD names: the texts as the file holds them,
// each up to a NUL, and the manufacturer and creator only when the record has no publisher.
void lf_noteOrigin(const fs::path& FILE, const AirportFile& RECORD)
{
    const auto asWritten = [](const std::string& TEXT) { return std::string(TEXT.c_str()); };
    ApfOrigin origin{asWritten(RECORD.publisher), {}, {}};
    if (RECORD.publisher.empty()) {
        origin.manufacturer = asWritten(RECORD.manufacturer);
        origin.creator = asWritten(RECORD.creator);
    }
    std::lock_guard lock(g_apfWriteMutex);
    s_origins.insert_or_assign(FILE, std::move(origin));
}

} // namespace

std::optional<std::string> lf_findSimaddonArchive(std::string_view CODE)
{
    const std::string path = fmt::format("archive/{}/{}", kSimaddon, gf_apfFileName(CODE));
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
    return lf_linkToArchive(RECORD, MANIFEST, ARCHIVED, PATH, SCAN_FOLDER, lf_packagePlace(PATH, SCAN_FOLDER));
}

bool lf_linkToArchive(AirportFile& RECORD, const ManifestInfo& MANIFEST, std::int32_t& ARCHIVED, const fs::path& PATH,
                      const fs::path& SCAN_FOLDER, const PackagePlace& PLACE)
{
    const PackageOrder& from = PLACE.order;
    ARCHIVED = 0;
    RECORD.bglPath = PLACE.fromPackage;
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
    if (RECORD.publisher != kSimaddon) {
        const auto archive = lf_findThirdpartyArchive(RECORD.publisher, code, ARCHIVED);
        if (!archive) {
            return false;
        }
        if (lf_writeLink(lf_scanOutputFolder(g_myThirdpartyPath), code, *archive, from)) {
            gf_scanLog("thirdparty airport {} linked to {}\n", code, *archive);
        }
        return true;
    }
    const auto archive = lf_findSimaddonArchive(code);
    if (!archive) {
        return false;
    }
    if (lf_writeLink(lf_scanOutputFolder(g_mySimaddonPath), code, *archive, from)) {
        gf_scanLog("{} airport {} linked to {}\n", kSimaddon, code, *archive);
    }
    return true;
}

void lf_generateApf(AirportFile& RECORD, int HELIPADS, const PackageOrder& FROM, StandSource SOURCE)
{
    if (RECORD.stands.empty()) {
        return;
    }
    const std::string fileName = gf_apfFileName(RECORD.code.view());
    // A file that the reader would refuse is not written.
    if (RECORD.stands.size() > kMaxAirportStands) {
        gf_scanLog("{}{} has {} stands, more than {}: no airport file generated", "===> ", fileName,
                   RECORD.stands.size(), kMaxAirportStands);
        return;
    }
    const fs::path folder = lf_folderOf(RECORD);
    std::sort(RECORD.stands.begin(), RECORD.stands.end(),
              [](const Stand& A, const Stand& B) { return A.name < B.name; });
    // The document is made before the file is claimed, so that the tasks make theirs at the same time.
    std::optional<std::string> text = gf_apfText(RECORD, ApfWriteMode::generated, g_simNumber);
    {
        std::lock_guard lock(g_apfWriteMutex);
        if (!fs::exists(folder)) {
            fs::create_directory(folder);
        }
    }
    const WriteClaim claim(folder, RECORD.code.view());
    if (!lf_takeAirport(folder, RECORD.code.view(), FROM)) {
        return;
    }
    const std::size_t n = RECORD.stands.size();
    std::string origin;
    if (SOURCE == StandSource::facilityData) {
        origin = fmt::format(" from the simulator's facility data ({})", RECORD.bglPath);
    } else if (!RECORD.bglPath.empty()) {
        origin = " from " + RECORD.bglPath;
    }
    gf_scanLog("Generated {}{}: {} position{}{}", fileName, origin, n, gf_plural(n),
               HELIPADS >= 1 ? fmt::format(", of which {} helipad{}\n", HELIPADS, gf_plural(HELIPADS)) : "");
    const fs::path file = folder / gf_apfXmlPath(RECORD.code.view());
    std::string failureLine = fmt::format("{}Generating {} did not succeed", "===> ", gf_utf16ToUtf8(file));
    if (text) {
        lf_noteOrigin(file, RECORD);
        lf_writeScanOutput(std::move(*text), file, std::move(failureLine));
    } else {
        gf_scanLog(failureLine);
    }
}

bool lf_heldByLaterPackage(const AirportFile& RECORD, const PackageOrder& FROM)
{
    PackageOrder later;
    {
        std::lock_guard lock(g_apfWriteMutex);
        const auto owner = s_owners.find(lf_folderOf(RECORD) / RECORD.code.view());
        if (owner == s_owners.end() || !(FROM < owner->second)) {
            return false;
        }
        later = owner->second;
    }
    lf_tellTwoSources(RECORD.code.view(), FROM, later);
    return true;
}

std::optional<ApfOrigin> lf_generatedOrigin(const fs::path& FILE)
{
    std::lock_guard lock(g_apfWriteMutex);
    const auto found = s_origins.find(FILE);
    if (found == s_origins.end()) {
        return std::nullopt;
    }
    return found->second;
}

void lf_clearAirportOwners()
{
    std::lock_guard lock(g_apfWriteMutex);
    s_owners.clear();
    s_origins.clear();
}

} // namespace qmt
