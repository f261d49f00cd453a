#pragma once
// One folder held open while a walk lists it: its entries are read straight from the system,
// and its files and sub-folders are opened relative to it, so that the folder's path is not
// looked up again, component by component, for each of them.

#include <dirent.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/Files.h"

namespace qmt {

class FolderHandle {
public:
    // Opens the folder PATH; errno tells why when it is not opened().
    explicit FolderHandle(const char* PATH);
    // Opens the sub-folder NAME of PARENT (which must be opened).
    FolderHandle(const FolderHandle& PARENT, const char* NAME);
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    bool opened() const;
    // The next entry; nullptr at the end (errno 0) or when the listing fails (errno set). The
    // entry lives until the next call.
    const dirent* next();
    // Reads the file NAME of this folder whole as text, as gf_readWholeTextFile does.
    void readTextFile(const char* NAME, std::uintmax_t MAX_BYTES, TextFile& FILE) const;

private:
    friend class FolderOpener;
#if defined(__linux__)
    int m_fd;
    std::size_t m_pos = 0;
    std::size_t m_size = 0;
#else
    std::unique_ptr<DIR, int (*)(DIR*)> m_dir;
#endif
};

// Opens the folders one listing task lists, one after the other. Folders that lie side by side
// (a walk hands out the sub-folders of one folder together) are opened relative to their
// parent, which is opened once for them: the parent's path is not looked up again for each.
// A folder opened so answers as one opened by its path does (a folder gone meanwhile is not
// opened, errno telling why).
class FolderOpener {
public:
    // The folder that will be opened after the next one (empty when none).
    void setFollowing(std::string_view FOLLOWING) { m_following = FOLLOWING; }
    // Opens FOLDER (a path as the walk makes it: its parent's path, '/', its name).
    std::unique_ptr<FolderHandle> open(const std::string& FOLDER);

private:
    std::string m_parentPath;
    std::unique_ptr<FolderHandle> m_parent;
    std::string m_following;
};

} // namespace qmt
