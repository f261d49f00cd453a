// The generated airport files of airports that the archive does not know are collected in the
// tblo folder and packed into tblo.zip, for the user to send to us so that the archive learns them.
#include "airportscan/ScanSteps.h"

#include "airportscan/AirportScan.h"
#include "airportscan/Manifest.h"
#include "airportscan/ZipArchive.h"
#include "core/Airports.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "core/XmlMeta.h"
#include "stands/ApfLookup.h"

#include <pugixml.hpp>

#include <fstream>
#include <list>

namespace qmt {

namespace fs = std::filesystem;

std::atomic<std::uint32_t> g_tbloZipped{0};

namespace {

// The address the user is asked to mail tblo.zip to.
constexpr std::string_view TBLO_MAIL_ADDRESS = "airports@quillon.example";

void lf_zipLine(std::string_view TEXT)
{
    gf_logLine(TEXT);
    gf_flushLog();
}

std::string lf_publisherOf(const fs::path& APF)
{
    pugi::xml_document doc;
    if (!doc.load_file(APF.c_str())) {
        return {};
    }
    return gf_stringParameterByName(doc, "publisher").value_or("");
}

// Copies FILE into tblo, replacing an earlier copy; false (with a warning) when it fails.
bool lf_copyToTblo(const fs::path& FILE)
{
    const fs::path target = g_tbloPath / FILE.filename();
    std::error_code ec;
    fs::copy_file(FILE, target, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        gf_logWarning("'{}' failed to copy '{}': {}", gf_utf16ToUtf8(FILE), gf_utf16ToUtf8(target), ec.message());
        return false;
    }
    return true;
}

// The link file of an airport whose generated file went to tblo is removed.
void lf_removeLinkOf(const fs::path& FOLDER, std::string_view CODE)
{
    const fs::path link = FOLDER / gf_apfTxtPath(CODE);
    std::error_code ec;
    const bool exists = fs::exists(link, ec);
    if (ec) {
        gf_logWarning("exists({}) failed: {}", gf_utf16ToUtf8(link), ec.message());
        return;
    }
    if (exists && !fs::remove(link, ec)) {
        gf_logWarning("remove({}) failed: {}", gf_utf16ToUtf8(link), ec.message());
    }
}

} // namespace

std::optional<std::vector<char>> lf_readFileBytes(const fs::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary | std::ios::ate);
    if (!in) {
        return std::nullopt;
    }
    const std::streamoff size = in.tellg();
    if (size < 0) {
        return std::nullopt;
    }
    std::vector<char> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(bytes.data(), size)) {
        return std::nullopt;
    }
    return bytes;
}

void lf_copySimaddonToTblo()
{
    std::size_t copied = 0;
    for (const fs::path& file : gf_collectXmlFiles(g_mySimaddonPath)) {
        const std::string code = gf_upper(file.stem().string());
        if (!gf_isKnownAirport(code) || !lf_copyToTblo(file)) {
            continue;
        }
        ++copied;
        lf_removeLinkOf(g_mySimaddonPath, code);
    }
    gf_logLine("{} simaddon file{} copied to tblo folder", copied, gf_plural(copied));
}

void lf_copyThirdpartyToTblo()
{
    for (const fs::path& file : gf_collectXmlFiles(g_myThirdpartyPath)) {
        const std::string code = gf_upper(file.stem().string());
        if (code == "KMCI" && lf_publisherOf(file) == "TropicalSim") {
            // This publisher's KMCI is known to be unusable: it never reaches the archive.
            std::error_code ec;
            fs::remove(file, ec);
            if (ec) {
                gf_logWarning("remove({}) failed: {}", gf_utf16ToUtf8(file), ec.message());
            }
            continue;
        }
        if (!gf_isKnownAirport(code)) {
            continue;
        }
        if (!lf_hasKnownOrigin(file)) {
            continue;
        }
        if (!lf_copyToTblo(file)) {
            continue;
        }
        lf_removeLinkOf(g_myThirdpartyPath, code);
    }
}

bool lf_closeZip(ZipArchive& ARCHIVE, const fs::path& ZIP, std::size_t ADDED)
{
    const bool closed = ARCHIVE.close();
    std::error_code ec;
    const bool exists = fs::exists(ZIP, ec);
    const std::uintmax_t size = exists ? fs::file_size(ZIP, ec) : 0;
    lf_zipLine(fmt::format("[zip] Added {} files, ok_close={}, exists={}, size={} bytes", ADDED, closed, exists,
                           ec ? 0 : size));
    if (!closed) {
        lf_zipLine(fmt::format("[zip] {}", ARCHIVE.errorText()));
    }
    return closed && ADDED > 0 && exists && !ec && size != 0;
}

bool lf_zipFolder(const fs::path& ZIP)
{
    if (!fs::is_directory(g_tbloPath)) {
        lf_zipLine(fmt::format("[zip] Not a directory: {}", gf_utf16ToUtf8(g_tbloPath)));
        return false;
    }
    std::error_code ec;
    fs::create_directories(ZIP.parent_path(), ec);
    const fs::path zip = fs::absolute(ZIP, ec);
    const fs::path source = fs::absolute(g_tbloPath, ec);
    lf_zipLine(fmt::format("[zip] Target file: {}", gf_utf16ToUtf8(zip)));
    lf_zipLine(fmt::format("[zip] Source dir : {}", gf_utf16ToUtf8(source)));
    if (fs::exists(zip)) {
        lf_zipLine(fmt::format("[zip] Removing old zip {}", gf_utf16ToUtf8(zip)));
        // What cannot be removed makes the archive fail below; the scan goes on.
        fs::remove(zip, ec);
    }
    ZipArchive archive(gf_utf16ToUtf8(zip));
    if (!archive.open(ZipArchive::OpenMode::New)) {
        lf_zipLine("[zip] Could not open archive for writing");
        return false;
    }
    // The archive reads the bytes only when it is closed; a list keeps them in place until then.
    std::list<std::vector<char>> kept;
    std::size_t added = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(g_tbloPath)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        auto bytes = lf_readFileBytes(entry.path());
        if (!bytes) {
            lf_zipLine(fmt::format("[zip] READ FAIL: {}", gf_utf16ToUtf8(entry.path())));
            continue;
        }
        const std::string name = gf_utf16ToUtf8(entry.path().filename());
        std::vector<char>& data = kept.emplace_back(std::move(*bytes));
        lf_zipLine(fmt::format("[zip] Adding (data) {} -> {} ({} bytes)", gf_utf16ToUtf8(entry.path()), name,
                               data.size()));
        if (!archive.addData(name, data.data(), data.size())) {
            lf_zipLine(fmt::format("[zip] ERROR addData({})", name));
            break;
        }
        ++added;
    }
    return lf_closeZip(archive, zip, added);
}

void lf_zipTblo()
{
    const std::size_t count = gf_countFolderEntries(g_tbloPath);
    if (count == 0) {
        g_tbloZipped = 0;
        gf_logLine("All your simaddon and third party airports are recognised, no off line learning needed.");
        return;
    }
    const bool zipped = lf_zipFolder(g_tbloZipPath);
    if (!zipped) {
        gf_logWarning("Zippen TBLO folder failed");
    }
    gf_removeXMLFilesFromDirectory();
    // Kept also after a failure, so that the tblo folder stays for the user to look at.
    g_tbloZipped = static_cast<std::uint32_t>(count);
    if (!zipped) {
        return;  // no file to mail: no request and no button
    }
    gf_enableControl(TBLO_ZIP_BUTTON, true);
    gf_logLine("");
    gf_logLine("Please mail {} to {}, so that your add-on airports can be learned off line.",
               gf_utf16ToUtf8(fs::absolute(g_tbloZipPath)), TBLO_MAIL_ADDRESS);
    gf_logLine("");
    gf_repaintWindow();
}

} // namespace qmt
