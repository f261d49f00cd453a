// The generated airport files of airports that the archive does not know are collected in the
// tblo folder and packed into tblo.zip, for the user to send to us so that the archive learns them.
#include "airportscan/ScanSteps.h"

#include "airportscan/AirportScan.h"
#include "airportscan/ApfLinks.h"
#include "airportscan/Manifest.h"
#include "airportscan/ZipArchive.h"
#include "core/Airports.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/ScanTasks.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "core/XmlMeta.h"
#include "stands/ApfLookup.h"

#include <pugixml.hpp>

#include <deque>
#include <functional>
#include <fstream>
#include <list>

namespace qmt {

namespace fs = std::filesystem;

std::atomic<std::uint32_t> g_tbloZipped{0};

namespace {

// The address the user is asked to mail tblo.zip to.
constexpr std::string_view kTbloMailAddress = "airports@quillon.example";

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

// Copies FILE into tblo, replacing an earlier copy; false (with a warning) when it fails. The copy
// is a second name of the same file where the file system allows it: tblo only holds the files
// until they are zipped, and the generated file is never changed in place (a new one replaces it
// whole), so the bytes need not be written a second time. Elsewhere the bytes are copied.
bool lf_copyToTblo(const fs::path& FILE)
{
    const fs::path target = g_tbloPath / FILE.filename();
    std::error_code ec;
    fs::create_hard_link(FILE, target, ec);
    if (ec == std::errc::file_exists) {
        fs::remove(target, ec);
        fs::create_hard_link(FILE, target, ec);
    }
    if (ec) {
        ec.clear();
        fs::copy_file(FILE, target, fs::copy_options::overwrite_existing, ec);
    }
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

// Runs EACH for every file of FILES on the scan workers, a few batches of files per worker (few
// hand-overs), and hands each result to TAKE on this thread in the order of FILES; TAKE gets no
// result (nullptr) for the files of a batch whose worker failed or did not end in time, or when
// no worker could be had. TAKE answers false to take no more.
template <typename RESULT>
void lf_forEachOnWorkers(ScanPool& POOL, const std::vector<fs::path>& FILES, RESULT (*EACH)(const fs::path&),
                         const std::function<bool(const fs::path&, RESULT*)>& TAKE)
{
    using Results = std::vector<RESULT>;
    const std::size_t perBatch = FILES.size() / (4 * std::max(1u, g_maxBglTasks)) + 1;
    ScanTasks<Results> tasks(POOL);
    std::deque<std::size_t> started;  // the first file of each batch handed out
    const auto takeOldest = [&] {
        const std::size_t first = started.front();
        started.pop_front();
        const std::size_t end = std::min(first + perBatch, FILES.size());
        std::optional<Results> results;
        try {
            results = tasks.takeOldest();
        } catch (const std::exception&) {
        }
        for (std::size_t i = first; i < end; ++i) {
            if (!TAKE(FILES[i], results ? &(*results)[i - first] : nullptr)) {
                return false;
            }
        }
        return true;
    };
    std::size_t at = 0;
    bool more = true;
    for (; more && at < FILES.size(); at += perBatch) {
        const std::vector<fs::path> batch(FILES.begin() + static_cast<std::ptrdiff_t>(at),
                                          FILES.begin() + static_cast<std::ptrdiff_t>(std::min(at + perBatch, FILES.size())));
        try {
            const bool handed = tasks.start([batch, EACH] {
                Results results;
                results.reserve(batch.size());
                for (const fs::path& file : batch) {
                    results.push_back(EACH(file));
                }
                return results;
            });
            if (!handed) {
                break;  // a stop came first: as with no worker
            }
        } catch (const std::exception&) {
            break;  // no worker: this batch and the rest get no result
        }
        started.push_back(at);
        more = !tasks.overfull() || takeOldest();
    }
    while (more && !started.empty()) {
        more = takeOldest();
    }
    for (; more && at < FILES.size(); ++at) {
        more = TAKE(FILES[at], nullptr);
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
    lf_scanOutputsWritten();
    const fs::path simaddon = lf_scanOutputFolder(g_mySimaddonPath);
    for (const fs::path& file : gf_collectXmlFiles(simaddon)) {
        const std::string code = gf_upper(file.stem().string());
        if (!gf_isKnownAirport(code) || !lf_copyToTblo(file)) {
            continue;
        }
        ++copied;
        lf_removeLinkOf(simaddon, code);
    }
    gf_logLine("{} simaddon file{} copied to tblo folder", copied, gf_plural(copied));
}

namespace {

// What becomes of a generated thirdparty file.
enum class TbloVerdict : std::uint8_t { drop, pass, copy };

// A file that this scan generated is not read again: its origin was handed along.
TbloVerdict lf_thirdpartyVerdict(const fs::path& APF)
{
    const std::string code = gf_upper(APF.stem().string());
    const std::optional<ApfOrigin> origin = lf_generatedOrigin(APF);
    if (code == "KMCI" && (origin ? origin->publisher : lf_publisherOf(APF)) == "TropicalSim") {
        // This publisher's KMCI is known to be unusable: it never reaches the archive.
        return TbloVerdict::drop;
    }
    if (!gf_isKnownAirport(code) || !(origin ? lf_isKnownOrigin(*origin) : lf_hasKnownOrigin(APF))) {
        return TbloVerdict::pass;
    }
    return TbloVerdict::copy;
}

} // namespace

void lf_copyThirdpartyToTblo(ScanPool& POOL)
{
    // Loading every file to tell its origin is most of this step: the scan workers load them,
    // and the files are removed or copied here in their order.
    lf_scanOutputsWritten();
    const fs::path thirdparty = lf_scanOutputFolder(g_myThirdpartyPath);
    const auto take = [&thirdparty](const fs::path& APF, TbloVerdict* VERDICT) {
        switch (VERDICT != nullptr ? *VERDICT : lf_thirdpartyVerdict(APF)) {
        case TbloVerdict::drop: {
            std::error_code ec;
            fs::remove(APF, ec);
            if (ec) {
                gf_logWarning("remove({}) failed: {}", gf_utf16ToUtf8(APF), ec.message());
            }
            break;
        }
        case TbloVerdict::copy:
            if (lf_copyToTblo(APF)) {
                lf_removeLinkOf(thirdparty, gf_upper(APF.stem().string()));
            }
            break;
        case TbloVerdict::pass:
            break;
        }
        return true;
    };
    lf_forEachOnWorkers<TbloVerdict>(POOL, gf_collectXmlFiles(thirdparty), lf_thirdpartyVerdict, take);
}

namespace {

// The closing line of a scan that leaves nothing to send: what it found says why.
void lf_tellNothingToLearn()
{
    const fs::path simaddon = lf_scanOutputFolder(g_mySimaddonPath);
    const fs::path thirdparty = lf_scanOutputFolder(g_myThirdpartyPath);
    const std::size_t found = gf_countFolderEntries(simaddon) + gf_countFolderEntries(thirdparty);
    const std::size_t generated = gf_collectXmlFiles(simaddon).size() + gf_collectXmlFiles(thirdparty).size();
    if (found == 0) {
        gf_logLine("The scan found no simaddon or third party airport, no off line learning needed.");
    } else if (generated == 0) {
        gf_logLine("All your simaddon and third party airports are recognised, no off line learning needed.");
    } else {
        gf_logLine("{} of your airports {} not recognised, but without a known maker {} cannot be learned off line.",
                   generated, generated == 1 ? "is" : "are", generated == 1 ? "it" : "they");
    }
}

} // namespace

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

namespace {

// One file of tblo read and compressed by a scan worker; nothing when it could not be read.
using Compressed = std::optional<DeflatedEntry>;

Compressed lf_readCompressed(const fs::path& PATH)
{
    const auto bytes = lf_readFileBytes(PATH);
    if (!bytes) {
        return std::nullopt;
    }
    return gf_deflateEntry(bytes->data(), bytes->size());
}

// Adds the files of tblo to the archive in listing order. The archive reads the bytes only when
// it is closed: the lists keep them in place until then.
class TbloEntries {
public:
    explicit TbloEntries(ZipArchive& ARCHIVE) : m_archive(ARCHIVE) {}

    // The file compressed ahead, or read here and compressed by the archive when its worker
    // failed or did not end in time. False when the archive took no more.
    bool add(const fs::path& PATH, Compressed* COMPRESSED)
    {
        if (COMPRESSED != nullptr && !*COMPRESSED) {
            lf_zipLine(fmt::format("[zip] READ FAIL: {}", gf_utf16ToUtf8(PATH)));
            return true;
        }
        std::vector<char>* read = nullptr;
        if (COMPRESSED == nullptr) {
            auto bytes = lf_readFileBytes(PATH);
            if (!bytes) {
                lf_zipLine(fmt::format("[zip] READ FAIL: {}", gf_utf16ToUtf8(PATH)));
                return true;
            }
            read = &m_read.emplace_back(std::move(*bytes));
        }
        const std::string name = gf_utf16ToUtf8(PATH.filename());
        const std::uint64_t size = read != nullptr ? read->size() : (*COMPRESSED)->size;
        lf_zipLine(fmt::format("[zip] Adding (data) {} -> {} ({} bytes)", gf_utf16ToUtf8(PATH), name, size));
        const bool added = read != nullptr ? m_archive.addData(name, read->data(), read->size())
                                           : m_archive.addDeflated(name, m_compressed.emplace_back(std::move(**COMPRESSED)));
        if (!added) {
            lf_zipLine(fmt::format("[zip] ERROR addData({})", name));
            return false;
        }
        ++m_added;
        return true;
    }
    std::size_t added() const { return m_added; }

private:
    ZipArchive& m_archive;
    std::list<DeflatedEntry> m_compressed;
    std::list<std::vector<char>> m_read;
    std::size_t m_added = 0;
};

// Compressing is most of the zip's time: the scan workers compress the files ahead of the
// archive, which takes them in listing order. Files that no worker took are compressed by the
// archive.
std::size_t lf_addTbloFiles(TbloEntries& ENTRIES, ScanPool& POOL)
{
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(g_tbloPath)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    lf_forEachOnWorkers<Compressed>(POOL, files, lf_readCompressed, [&](const fs::path& PATH, Compressed* COMPRESSED) {
        return ENTRIES.add(PATH, COMPRESSED);
    });
    return ENTRIES.added();
}

} // namespace

bool lf_zipFolder(const fs::path& ZIP, ScanPool& POOL)
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
    TbloEntries entries(archive);
    const std::size_t added = lf_addTbloFiles(entries, POOL);
    return lf_closeZip(archive, zip, added);
}

void lf_zipTblo(ScanPool& POOL)
{
    const std::size_t count = gf_countFolderEntries(g_tbloPath);
    if (count == 0) {
        g_tbloZipped = 0;
        lf_tellNothingToLearn();
        return;
    }
    const bool zipped = lf_zipFolder(g_tbloZipPath, POOL);
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
               gf_utf16ToUtf8(fs::absolute(g_tbloZipPath)), kTbloMailAddress);
    gf_logLine("");
    gf_repaintWindow();
}

} // namespace qmt
