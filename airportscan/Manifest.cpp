#include "airportscan/Manifest.h"

#include "airportscan/AirportScan.h"
#include "core/Log.h"
#include "core/RefData.h"
#include "core/ScanFolder.h"
#include "core/Text.h"
#include "core/XmlMeta.h"

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <fstream>
#include <sstream>
#include <vector>

namespace qmt {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSimaddon = "simaddon";

// The personal first name that lf_isExcludedCreator rejects; none is held.
constexpr std::string_view kExcludedCreator = "";

// A member's text; a missing member, or one whose value is null (no value given), is empty.
std::string lf_jsonString(const nlohmann::json& OBJECT, const char* KEY)
{
    const auto it = OBJECT.find(KEY);
    return it == OBJECT.end() || it->is_null() ? std::string() : it->get<std::string>();
}

bool lf_isCommunityFolder(const fs::path& FOLDER)
{
    const fs::path name = FOLDER.has_filename() ? FOLDER.filename() : FOLDER.parent_path().filename();
    return gf_lower(gf_utf16ToUtf8(name)) == "community";
}

bool lf_isPackageFolder(const fs::path& FOLDER)
{
    std::error_code ec;
    return fs::exists(FOLDER / "manifest.json", ec) || fs::exists(FOLDER / "layout.json", ec);
}

// The index among PARTS (a path below SCAN_FOLDER, part by part) of its package folder: the
// shallowest folder with a manifest.json or layout.json, else the first.
std::size_t lf_packagePart(const std::vector<fs::path>& PARTS, const fs::path& SCAN_FOLDER)
{
    fs::path folder = SCAN_FOLDER;
    for (std::size_t i = 0; i + 1 < PARTS.size(); ++i) {
        folder /= PARTS[i];
        if (lf_isPackageFolder(folder)) {
            return i;
        }
    }
    return 0;
}

// The manifest of FOLDER when it has one that reads with a value; logged.
ManifestInfo lf_manifestOfFolder(const fs::path& FOLDER)
{
    const fs::path file = lf_findManifestIn(FOLDER);
    if (file.empty()) {
        return std::nullopt;
    }
    ManifestInfo manifest;
    try {
        manifest = gf_readManifest(file);
    } catch (const std::exception& e) {
        // Named with its file: the search's own line does not say which manifest it was.
        throw std::runtime_error(fmt::format("{}: {}", gf_utf16ToUtf8(file), e.what()));
    }
    if (manifest) {
        gf_scanLog("Manifest file: {}", lf_logManifest(*manifest));
    }
    return manifest;
}

} // namespace

std::optional<std::string> gf_publisherInPath(std::string_view PATH)
{
    for (const auto& entry : g_publishers) {
        for (const std::string& name : entry) {
            // An exact occurrence is also one without regard to case.
            if (gf_containsNoCase(PATH, name)) {
                return entry.front();
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> gf_publisherInPath(const fs::path& PATH)
{
    return gf_publisherInPath(std::string_view(gf_utf16ToUtf8(PATH)));
}

fs::path lf_findManifestIn(const fs::path& FOLDER)
{
    std::error_code ec;
    if (!fs::is_directory(FOLDER, ec)) {
        return {};
    }
    for (fs::directory_iterator it(FOLDER, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fec;
        if (it->is_regular_file(fec) && it->path().stem() == "manifest" && it->path().extension() == ".json") {
            return it->path();
        }
    }
    return {};
}

ManifestInfo gf_parseManifest(std::string_view TEXT)
{
    if (TEXT.empty()) {
        return std::nullopt;
    }
    const nlohmann::json json = nlohmann::json::parse(TEXT.begin(), TEXT.end());
    if (!json.is_object()) {
        return std::nullopt;
    }
    return ManifestData{lf_jsonString(json, "manufacturer"), lf_jsonString(json, "creator"),
                        lf_jsonString(json, "title")};
}

ManifestInfo gf_readManifest(const fs::path& FILE)
{
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(FILE, ec);
    if (ec || size > kManifestMaxBytes) {
        return std::nullopt;
    }
    std::ifstream in(FILE, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return gf_parseManifest(text.str());
}

std::string lf_logManifest(const ManifestData& MANIFEST)
{
    return fmt::format("title:'{}, manufacturer:'{}', creator:'{}", MANIFEST.title, MANIFEST.manufacturer,
                       MANIFEST.creator);
}

std::string lf_pathFromCommunity(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    return lf_packagePlace(PATH, SCAN_FOLDER).fromPackage;
}

PackageOrder lf_packageOrder(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    return lf_packagePlace(PATH, SCAN_FOLDER).order;
}

PackagePlace lf_packagePlace(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    PackagePlace place;
    PackageOrder& order = place.order;
    const fs::path relative = gf_relativeToScanFolder(PATH, SCAN_FOLDER);
    if (relative.empty()) {
        order.package = gf_utf16ToUtf8(PATH);
        order.name = gf_lower(order.package);
        order.file = order.package;
        fs::path below;
        bool found = false;
        for (const fs::path& part : PATH) {
            below /= part;
            if (lf_isCommunityFolder(part)) {
                below.clear();
                found = true;
            }
        }
        place.fromPackage = gf_utf16ToUtf8(found && !below.empty() ? below : PATH.filename());
        return place;
    }
    const std::vector<fs::path> parts(relative.begin(), relative.end());
    const std::size_t packagePart = lf_packagePart(parts, SCAN_FOLDER);
    fs::path package;
    for (std::size_t i = 0; i <= packagePart && i < parts.size(); ++i) {
        package /= parts[i];
    }
    fs::path fromPackage;
    for (std::size_t i = packagePart; i < parts.size(); ++i) {
        fromPackage /= parts[i];
    }
    order.folderRank = lf_isCommunityFolder(SCAN_FOLDER) ? 1 : 0;
    order.name = gf_lower(gf_utf16ToUtf8(package));
    order.file = gf_utf16ToUtf8(relative);
    order.package = gf_utf16ToUtf8(SCAN_FOLDER / package);
    place.fromPackage = gf_utf16ToUtf8(fromPackage);
    return place;
}

ManifestInfo gf_searchManifest(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    try {
        if (const fs::path relative = gf_relativeToScanFolder(PATH, SCAN_FOLDER); !relative.empty()) {
            if (lf_isCommunityFolder(SCAN_FOLDER)) {
                // The package folder is the one right below Community; only its manifest counts.
                const fs::path package = SCAN_FOLDER / *relative.begin();
                std::error_code ec;
                return fs::exists(package, ec) ? lf_manifestOfFolder(package) : std::nullopt;
            }
            for (fs::path folder = PATH.parent_path(); !gf_relativeToScanFolder(folder, SCAN_FOLDER).empty();
                 folder = folder.parent_path()) {
                if (ManifestInfo manifest = lf_manifestOfFolder(folder)) {
                    return manifest;
                }
            }
            return std::nullopt;
        }
        fs::path package;
        bool inCommunity = false;
        for (const fs::path& part : PATH) {
            package /= part;
            if (inCommunity) {
                // The package folder is the one right below Community; only its manifest counts.
                std::error_code ec;
                return fs::exists(package, ec) ? lf_manifestOfFolder(package) : std::nullopt;
            }
            inCommunity = gf_lower(gf_utf16ToUtf8(part)) == "community";
        }
        if (inCommunity) {
            return std::nullopt;  // the path ends at the Community folder itself
        }
        for (fs::path folder = PATH.parent_path(); !folder.empty(); folder = folder.parent_path()) {
            if (ManifestInfo manifest = lf_manifestOfFolder(folder)) {
                return manifest;
            }
            if (folder == folder.parent_path()) {
                break;  // the root
            }
        }
    } catch (const std::exception& e) {
        gf_scanLog("exception in gf_searchManifest: {}", e.what());
    }
    return std::nullopt;
}

PublisherInfo gf_findPublisher(const fs::path& PATH, const ManifestInfo& MANIFEST, const fs::path& SCAN_FOLDER)
{
    if (MANIFEST) {
        gf_scanLog("Try to find publisher in BGL path and manifest file");
    } else {
        gf_scanLog("Try to find publisher in: {}", gf_utf16ToUtf8(PATH));
    }
    PublisherInfo result;
    const std::string text = gf_belowScanFolder(PATH, SCAN_FOLDER);
    if (gf_containsNoCase(text, "microsoft-airport") || gf_containsNoCase(text, "asobo-airport")) {
        result.publisher = kSimaddon;
        gf_scanLog("from BGL path => publisher {}", kSimaddon);
        return result;
    }
    if (auto publisher = gf_publisherInPath(std::string_view(text))) {
        gf_scanLog("publisher '{}' found", *publisher);
        result.publisher = std::move(*publisher);
        return result;
    }
    const ManifestInfo manifest = MANIFEST ? MANIFEST : gf_searchManifest(PATH, SCAN_FOLDER);
    if (!manifest) {
        gf_scanLog("{}No publisher found", "===> ");
        return result;
    }
    result.manufacturer = manifest->manufacturer;
    result.creator = manifest->creator;
    result.title = manifest->title;
    for (const std::string* name : {&manifest->manufacturer, &manifest->creator}) {
        if (name->empty()) {
            continue;
        }
        if (auto publisher = gf_publisherInPath(std::string_view(*name))) {
            gf_scanLog("-> publisher '{}'", *publisher);
            result.publisher = std::move(*publisher);
            return result;
        }
    }
    gf_scanLog("no valid info found in manifest about publisher");
    return result;
}

bool lf_isExcludedCreator(std::string_view TEXT)
{
    return !kExcludedCreator.empty() && TEXT == kExcludedCreator;
}

bool lf_isKnownOrigin(const ApfOrigin& ORIGIN)
{
    if (!ORIGIN.publisher.empty()) {
        return true;
    }
    const auto usable = [](const std::string& NAME) { return NAME.size() >= 4 && !lf_isExcludedCreator(NAME); };
    return usable(ORIGIN.manufacturer) || usable(ORIGIN.creator);
}

bool lf_hasKnownOrigin(const fs::path& APF)
{
    pugi::xml_document doc;
    if (!doc.load_file(APF.c_str())) {
        gf_logWarning("'{}' not found", gf_utf16ToUtf8(APF));
        return false;
    }
    return lf_isKnownOrigin({gf_stringParameterByName(doc, "publisher").value_or(""),
                             gf_stringParameterByName(doc, "manufacturer").value_or(""),
                             gf_stringParameterByName(doc, "creator").value_or("")});
}

} // namespace qmt
