#pragma once
// The rules the livery scan and the add-on airport scan share about their scan folder: only what
// lies below it says anything about a package (the folders above it are the user's own), and
// packages linked into it (symbolic links, junctions) are followed at its own level, with a guard
// against loops.

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qmt {

// PATH relative to SCAN_FOLDER; empty when it does not lie below it or no folder is given.
std::filesystem::path gf_relativeToScanFolder(const std::filesystem::path& PATH,
                                              const std::filesystem::path& SCAN_FOLDER);
// The part of PATH below SCAN_FOLDER as text; the whole path when it does not lie below it (or
// none is given).
std::string gf_belowScanFolder(const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER);
// The same without building paths for the paths a walk makes itself (the scan folder's text, a
// separator, the rest): that rest as a view into PATH. Other paths go the general way, into
// STORAGE.
std::string_view gf_belowScanFolder(const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER,
                                    std::string& STORAGE);

// PATH is FOLDER or lies below it (both canonical).
bool gf_isWithin(const std::filesystem::path& PATH, const std::filesystem::path& FOLDER);
// A folder entry that is a link of any kind (a symbolic link or a junction): its own status is
// no plain folder.
bool gf_isFolderLink(const std::filesystem::directory_entry& ENTRY);

// The packages linked into one scan folder: a link is followed unless it leads nowhere, back
// into the scan folder or above it (its package is walked anyway), or into or around the target
// of a link followed before.
class PackageLinks {
public:
    explicit PackageLinks(const std::filesystem::path& SCAN_FOLDER);

    enum class Verdict { follow, broken, intoScanFolder, throughOtherLink };
    struct Answer {
        Verdict verdict = Verdict::broken;
        std::filesystem::path target; // where the link leads, when it leads anywhere
        std::filesystem::path other;  // throughOtherLink: the target of the link followed before
        std::string error;            // broken: why it leads nowhere
    };
    Answer check(const std::filesystem::path& LINK);
    // The same for a link whose canonical target (or the error of finding it) is known already.
    Answer decide(std::filesystem::path TARGET, const std::error_code& ERROR);

private:
    std::filesystem::path m_scanFolder;
    std::vector<std::filesystem::path> m_targets;
};

// The links met anywhere in one walk (packages linked into the scan folder, folders linked
// further down): each target is walked once, and never one that leads back into the scan folder
// or into or around a target walked before, so that no link loop is walked twice. Several
// workers list folders at once: the guard has its own leaf lock, taken only to decide; the target
// is found before, outside it.
class WalkLinks {
public:
    explicit WalkLinks(const std::filesystem::path& SCAN_FOLDER) : m_links(SCAN_FOLDER) {}
    PackageLinks::Answer check(const std::filesystem::path& LINK);

private:
    std::mutex m_mutex;
    PackageLinks m_links;
};

} // namespace qmt
