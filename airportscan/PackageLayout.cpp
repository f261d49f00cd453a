// The layout.json of a package lists the files that the simulator loads from it; a BGL file that
// it does not list (a stray test copy, an old version left behind) is never loaded, so the scan
// must not take its airport either.
#include "airportscan/ScanSteps.h"

#include "airportscan/AirportScan.h"
#include "core/ScanFolder.h"
#include "core/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qmt {

namespace fs = std::filesystem;

namespace {

// Largest layout.json that is read; a package of a hundred thousand files has some 15 MB.
constexpr std::uintmax_t kLayoutMaxBytes = 64u << 20;
// Folders looked at above a file at most, on the way up to its package.
constexpr int kMaxFolderDepth = 64;

// Collects the member "path" of every object in the top-level array "content", without building
// the document: a large layout.json costs only the BGL paths it lists.
class LayoutSax : public nlohmann::json_sax<nlohmann::json> {
public:
    std::vector<std::string> files;
    std::string error;

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool string(string_t& TEXT) override
    {
        if (m_pathKey) {
            take(TEXT);
        }
        return value();
    }
    bool start_object(std::size_t) override
    {
        ++m_depth;
        return value();
    }
    bool end_object() override
    {
        --m_depth;
        return true;
    }
    bool start_array(std::size_t) override
    {
        ++m_depth;
        if (m_contentKey && m_depth == 2) {
            m_contentDepth = m_depth;
        }
        return value();
    }
    bool end_array() override
    {
        if (m_depth == m_contentDepth) {
            m_contentDepth = -1;
        }
        --m_depth;
        return true;
    }
    bool key(string_t& KEY) override
    {
        m_contentKey = m_depth == 1 && KEY == "content";
        m_pathKey = m_contentDepth != -1 && m_depth == m_contentDepth + 1 && KEY == "path";
        return true;
    }
    bool parse_error(std::size_t POSITION, const std::string&, const nlohmann::detail::exception& E) override
    {
        error = fmt::format("byte {}: {}", POSITION, E.what());
        return false;
    }

private:
    bool value()
    {
        m_contentKey = false;
        m_pathKey = false;
        return true;
    }
    // The simulator runs on a file system that ignores case and takes either separator.
    void take(const std::string& PATH)
    {
        std::string text = gf_lower(PATH);
        std::replace(text.begin(), text.end(), '\\', '/');
        while (text.starts_with("./")) {
            text.erase(0, 2);
        }
        if (text.ends_with(".bgl")) {
            files.push_back(std::move(text));
        }
    }

    int m_depth = 0;
    int m_contentDepth = -1;
    bool m_contentKey = false;
    bool m_pathKey = false;
};

} // namespace

std::vector<std::string> lf_parseLayoutJson(std::string_view TEXT)
{
    LayoutSax sax;
    if (!nlohmann::json::sax_parse(TEXT.begin(), TEXT.end(), &sax)) {
        throw std::runtime_error(sax.error.empty() ? std::string("not JSON") : sax.error);
    }
    std::sort(sax.files.begin(), sax.files.end());
    sax.files.erase(std::unique(sax.files.begin(), sax.files.end()), sax.files.end());
    return std::move(sax.files);
}

bool PackageLayouts::lists(const fs::path& FILE)
{
    const std::shared_ptr<const Layout> layout = layoutOf(FILE.parent_path(), 0);
    if (!layout) {
        return true;
    }
    std::string key = gf_lower(FILE.lexically_normal().lexically_relative(layout->root).generic_string());
    return std::binary_search(layout->files.begin(), layout->files.end(), key);
}

std::shared_ptr<const PackageLayouts::Layout> PackageLayouts::layoutOf(const fs::path& FOLDER, int DEPTH)
{
    if (const auto it = m_folders.find(gf_utf16ToUtf8(FOLDER)); it != m_folders.end()) {
        return it->second;
    }
    std::shared_ptr<const Layout> found;
    // The scan folder and the folders above it belong to no package.
    std::string storage;
    const bool below = gf_belowScanFolder(FOLDER, m_scanFolder, storage).size() < FOLDER.native().size();
    std::error_code ec;
    const fs::path file = FOLDER / "layout.json";
    if (below && DEPTH < kMaxFolderDepth && fs::is_regular_file(file, ec)) {
        try {
            const std::uintmax_t size = fs::file_size(file);
            if (size > kLayoutMaxBytes) {
                throw std::runtime_error(fmt::format("{} bytes, more than {}", size, kLayoutMaxBytes));
            }
            std::ifstream in(file, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            found = std::make_shared<const Layout>(Layout{FOLDER.lexically_normal(), lf_parseLayoutJson(text.str())});
        } catch (const std::exception& e) {
            gf_scanLog("{} could not be read ({}): every BGL file of its package is read", gf_utf16ToUtf8(file),
                       e.what());
        }
    } else if (below && DEPTH < kMaxFolderDepth) {
        found = layoutOf(FOLDER.parent_path(), DEPTH + 1);
    }
    m_folders.emplace(gf_utf16ToUtf8(FOLDER), found);
    return found;
}

} // namespace qmt
