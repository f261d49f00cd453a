#include "core/ScanFolder.h"

#include "core/Text.h"

#include <algorithm>
#include <type_traits>

namespace qmt {

namespace fs = std::filesystem;

fs::path gf_relativeToScanFolder(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    if (SCAN_FOLDER.empty()) {
        return {};
    }
    fs::path base = SCAN_FOLDER.lexically_normal();
    if (!base.has_filename()) {
        base = base.parent_path();  // a folder given with a trailing separator
    }
    fs::path relative = PATH.lexically_normal().lexically_relative(base);
    if (relative.empty() || relative == "." || *relative.begin() == "..") {
        return {};
    }
    return relative;
}

std::string gf_belowScanFolder(const fs::path& PATH, const fs::path& SCAN_FOLDER)
{
    const fs::path relative = gf_relativeToScanFolder(PATH, SCAN_FOLDER);
    return gf_utf16ToUtf8(relative.empty() ? PATH : relative);
}

std::string_view gf_belowScanFolder(const fs::path& PATH, const fs::path& SCAN_FOLDER, std::string& STORAGE)
{
    if constexpr (std::is_same_v<fs::path::value_type, char>) {
        std::string_view base = SCAN_FOLDER.native();
        while (base.size() > 1 && base.back() == '/') {
            base.remove_suffix(1);
        }
        const std::string_view text = PATH.native();
        if (base.size() > 1 && text.size() > base.size() + 1 && text.starts_with(base) && text[base.size()] == '/' &&
            text[base.size() + 1] != '/') {
            const std::string_view below = text.substr(base.size() + 1);
            if (below.find("./") == std::string_view::npos && !below.ends_with("/.") && !below.ends_with("/..")) {
                return below;
            }
        }
    }
    STORAGE = gf_belowScanFolder(PATH, SCAN_FOLDER);
    return STORAGE;
}

bool gf_isWithin(const fs::path& PATH, const fs::path& FOLDER)
{
    const auto [end, rest] = std::mismatch(FOLDER.begin(), FOLDER.end(), PATH.begin(), PATH.end());
    return end == FOLDER.end();
}

bool gf_isFolderLink(const fs::directory_entry& ENTRY)
{
    std::error_code ec;
#if defined(_WIN32)
    // A junction is no symbolic link but leads elsewhere as well.
    return ENTRY.symlink_status(ec).type() != fs::file_type::directory;
#else
    // The type the listing gave the entry answers without a query of the file system: asking
    // for each folder of a large tree costs as much as listing it. An entry that cannot be asked
    // about is taken for a link, so that the link rules decide about it.
    const bool link = ENTRY.is_symlink(ec);
    return link || ec;
#endif
}

PackageLinks::PackageLinks(const fs::path& SCAN_FOLDER)
{
    std::error_code ec;
    m_scanFolder = fs::canonical(SCAN_FOLDER, ec);
}

PackageLinks::Answer PackageLinks::check(const fs::path& LINK)
{
    std::error_code ec;
    fs::path target = fs::canonical(LINK, ec);
    return decide(std::move(target), ec);
}

PackageLinks::Answer PackageLinks::decide(fs::path TARGET, const std::error_code& ERROR)
{
    Answer answer;
    answer.target = std::move(TARGET);
    if (ERROR || m_scanFolder.empty()) {
        answer.verdict = Verdict::broken;
        answer.error = ERROR ? ERROR.message() : "the scan folder cannot be found";
        return answer;
    }
    if (gf_isWithin(answer.target, m_scanFolder) || gf_isWithin(m_scanFolder, answer.target)) {
        answer.verdict = Verdict::intoScanFolder;
        return answer;
    }
    for (const fs::path& seen : m_targets) {
        if (gf_isWithin(answer.target, seen) || gf_isWithin(seen, answer.target)) {
            answer.verdict = Verdict::throughOtherLink;
            answer.other = seen;
            return answer;
        }
    }
    m_targets.push_back(answer.target);
    answer.verdict = Verdict::follow;
    return answer;
}

PackageLinks::Answer WalkLinks::check(const fs::path& LINK)
{
    std::error_code error;
    fs::path target = fs::canonical(LINK, error);
    std::lock_guard lock(m_mutex);
    return m_links.decide(std::move(target), error);
}

} // namespace qmt
