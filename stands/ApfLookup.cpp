#include "stands/ApfLookup.h"

#include "core/Airports.h"
#include "core/Download.h"
#include "core/FileCommit.h"
#include "core/Files.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Text.h"
#include "core/XmlMeta.h"
#include "records/Stand.h"
#include "records/UserAircraft.h"
#include "stands/AirportFile.h"

#include <fmt/format.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <system_error>

namespace qmt {

namespace fs = std::filesystem;

std::string g_archiveBaseUrl = "https://www.quillon-traffic.net/";

void gf_setArchiveBaseUrl(std::string URL)
{
    g_archiveBaseUrl = std::move(URL);
}

namespace {

// Airport files given for airports, by code.
std::map<std::string, fs::path, std::less<>> s_givenFiles;

std::string lf_stockName(std::string_view ICAO)
{
    return "archive/stock/" + gf_apfFileName(ICAO);
}

// The given file that an archived name stands for, or nothing.
const fs::path* lf_givenFileOf(std::string_view NAME)
{
    for (const auto& [code, file] : s_givenFiles) {
        if (NAME == lf_stockName(code)) {
            return &file;
        }
    }
    return nullptr;
}

// exists() where "not found" is an answer and any other error is not.
bool lf_exists(const fs::path& PATH)
{
    std::error_code ec;
    const bool found = fs::exists(PATH, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        throw fs::filesystem_error("exists", PATH, ec);
    }
    return found;
}

bool lf_endsWithXml(std::string_view TEXT)
{
    if (TEXT.size() < 4) {
        return false;
    }
    const std::string_view tail = TEXT.substr(TEXT.size() - 4);
    return tail[0] == '.' && std::tolower(static_cast<unsigned char>(tail[1])) == 'x' &&
           std::tolower(static_cast<unsigned char>(tail[2])) == 'm' &&
           std::tolower(static_cast<unsigned char>(tail[3])) == 'l';
}

fs::path lf_localDir(const char* SUBFOLDER)
{
    return g_airportsPath / SUBFOLDER;
}

std::string lf_localName(const char* SUBFOLDER, std::string_view ICAO)
{
    return fmt::format("airports/{}/{}", SUBFOLDER, gf_apfFileName(ICAO));
}

bool lf_removeIfPresent(const fs::path& PATH)
{
    std::error_code ec;
    const bool removed = fs::remove(PATH, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        throw fs::filesystem_error("remove", PATH, ec);
    }
    return removed;
}

// A link may only name a file of the archive: "archive/" and then folders and an airport
// file, none of them empty, "." or "..", and nothing that could leave the archive on any
// platform (a drive colon, a backslash, control characters). The name goes into an address as it
// is, so the only escape is the "%20" that the program itself writes for a blank: a server that
// decodes "%2e" or "%2f" would resolve "..%2f" outside the archive folder.
bool lf_isArchiveName(std::string_view NAME)
{
    constexpr std::string_view prefix = "archive/";
    if (!NAME.starts_with(prefix) || !lf_endsWithXml(NAME)) {
        return false;
    }
    for (size_t at = NAME.find('%'); at != std::string_view::npos; at = NAME.find('%', at + 1)) {
        if (NAME.substr(at, 3) != "%20") {
            return false;
        }
    }
    size_t start = prefix.size();
    while (start <= NAME.size()) {
        size_t slash = NAME.find('/', start);
        if (slash == std::string_view::npos) {
            slash = NAME.size();
        }
        const std::string_view part = NAME.substr(start, slash - start);
        // Blanks and dots alone are no folder: a server drops trailing ones, and ".. " is "..".
        const std::string decoded = gf_replaceAll(part, "%20", " ");
        if (decoded.find_first_not_of(". ") == std::string::npos) {
            return false;
        }
        start = slash + 1;
    }
    return std::none_of(NAME.begin(), NAME.end(), [](char C) {
        const auto c = static_cast<unsigned char>(C);
        return c < 0x20 || c == 0x7f || C == ':' || C == '\\' || C == '?' || C == '#';
    });
}

} // namespace

void gf_setGivenAirportFile(std::string_view ICAO, const fs::path& FILE)
{
    if (FILE.empty()) {
        s_givenFiles.erase(std::string(ICAO));
    } else {
        s_givenFiles[std::string(ICAO)] = FILE;
    }
}

std::string gf_apfFileName(std::string_view ICAO)
{
    return fmt::format("{}.xml", ICAO);
}

fs::path gf_apfXmlPath(std::string_view ICAO)
{
    return fs::path(fmt::format("{}.xml", ICAO));
}

fs::path gf_apfTxtPath(std::string_view ICAO)
{
    return fs::path(fmt::format("{}.txt", ICAO));
}

bool lf_readApfLink(const fs::path& LINK, std::string& NAME)
{
    NAME.clear();
    if (!lf_exists(LINK)) {
        return false;
    }
    const FileLines read = gf_readFileLines(LINK);
    if (!read.ok() || read.lines.empty()) {
        return false;
    }
    std::string first = read.lines.front();
    while (!first.empty() && std::isspace(static_cast<unsigned char>(first.back()))) {
        first.pop_back();
    }
    if (first.size() < 4 || !lf_endsWithXml(first)) {
        return false;
    }
    if (!lf_isArchiveName(first)) {
        gf_logWarning(fmt::format("link file {} names '{}', which is no file of the archive: not followed",
                                  gf_pathToUtf8(LINK), gf_excerpt(first)));
        return false;
    }
    NAME = std::move(first);
    return true;
}

std::string lf_resolveApf(std::string_view ICAO)
{
    if (s_givenFiles.contains(ICAO)) {
        return lf_stockName(ICAO);
    }
    std::string name;
    if (lf_readApfLink(lf_localDir("my_thirdparty") / gf_apfTxtPath(ICAO), name)) {
        return name;
    }
    if (lf_exists(lf_localDir("my_thirdparty") / gf_apfXmlPath(ICAO))) {
        return lf_localName("my_thirdparty", ICAO);
    }
    if (lf_readApfLink(lf_localDir("my_simaddon") / gf_apfTxtPath(ICAO), name)) {
        return name;
    }
    if (lf_exists(lf_localDir("my_simaddon") / gf_apfXmlPath(ICAO))) {
        return lf_localName("my_simaddon", ICAO);
    }
    if (const auto airport = gf_airportByCode(ICAO); airport && airport->stands > 0) {
        return lf_stockName(ICAO);
    }
    return {};
}

bool gf_apfExists(std::string_view ICAO)
{
    if (s_givenFiles.contains(ICAO)) {
        return true;
    }
    for (const char* folder : {"my_thirdparty", "my_simaddon"}) {
        if (lf_exists(lf_localDir(folder) / gf_apfXmlPath(ICAO)) ||
            lf_exists(lf_localDir(folder) / gf_apfTxtPath(ICAO))) {
            return true;
        }
    }
    const auto airport = gf_airportByCode(ICAO);
    return airport && airport->stands > 0;
}

std::string gf_archiveFolderOf(std::string_view NAME, int32_t SIM)
{
    // Stock files live in the 2020 folder for both simulators. Only the archive's own
    // stock folder counts: a publisher whose name holds "stock" is a third party.
    const bool stock = NAME.rfind("archive/stock/", 0) == 0;
    return (SIM == 1 || stock) ? "downloads/MSFS/" : "downloads/MSFS2024/";
}

std::string lf_downloadArchivedApf(const std::string& NAME, const fs::path& LOCAL)
{
    if (const fs::path* given = lf_givenFileOf(NAME)) {
        std::string failure;
        return gf_commitCopy(*given, LOCAL, failure)
                   ? std::string()
                   : fmt::format("cannot copy '{}': {}", gf_pathToUtf8(*given), failure);
    }
    const std::string address = g_archiveBaseUrl + gf_archiveFolderOf(NAME, g_simNumber) + NAME;
    std::string why;
    if (!gf_download(address, LOCAL, &why)) {
        lf_removeIfPresent(LOCAL);
        // the caller says it (once)
        return fmt::format("failed to download: '{}' ({})", address, why);
    }
    return {};
}

double gf_readDestApfForClosestStand(std::string_view ICAO, double LATITUDE, double LONGITUDE, std::string& STAND)
{
    double best = 100.0;
    const fs::path local = g_workPath / kDestAirportFile;
    try {
        const std::string name = lf_resolveApf(ICAO);
        if (name.empty()) {
            return best;
        }
        fs::path path;
        if (name.rfind("airports", 0) == 0) {
            path = g_workPath / fs::path(name);
        } else {
            const std::string error = lf_downloadArchivedApf(name, local);
            if (!error.empty()) {
                gf_logLine(error);
                return best;
            }
            path = local;
        }
        pugi::xml_document doc;
        const bool loaded = static_cast<bool>(doc.load_file(path.c_str()));
        const pugi::xml_node positions = loaded ? gf_parkPositionsOf(doc) : pugi::xml_node{};
        if (positions) {
            for (pugi::xml_node pos : positions.children("parkpos")) {
                const NumberRead<double> lat = gf_attributeNumber(pos, "latitude", 0.0);
                const NumberRead<double> lon = gf_attributeNumber(pos, "longitude", 0.0);
                if (!lat.value || !lon.value || !gf_isStandPosition(*lat.value, *lon.value)) {
                    continue;  // not a position that a stand can have (angles past the globe wrap round)
                }
                const double d = gf_distanceNm(LATITUDE, LONGITUDE, *lat.value, *lon.value);
                if (d < best) {
                    best = d;
                    STAND = pos.attribute("id").as_string();
                }
            }
        }
        lf_removeIfPresent(local);
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "gf_readDestApfForClosestStand", e.what()));
        std::error_code ec;
        fs::remove(local, ec);
    }
    return best;
}

void gf_splitCodeNumber(std::string_view TEXT, std::string_view LABEL, std::string_view CODE, int32_t& NUMBER)
{
    if (TEXT.substr(0, CODE.size()) != CODE) {
        return;
    }
    const std::string rest = gf_trim(std::string(TEXT.substr(CODE.size())));
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (rest.empty() || ec != std::errc{} || end != rest.data() + rest.size()) {
        gf_logWarning(fmt::format("{} {} {} {}", LABEL, CODE.empty() ? std::string(20, ' ') : std::string(CODE), TEXT,
                                  "invalid number"));
        return;
    }
    NUMBER = value;
}

} // namespace qmt
