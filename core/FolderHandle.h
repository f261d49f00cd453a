#pragma once
// One folder held open while a walk lists it: its entries are read straight from the system,
// and its files and sub-folders are opened relative to it, so that the folder's path is not
// looked up again, component by component, for each of them.

#include <dirent.h>

#include <cstdint>
#include <memory>
#include <string>

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
#if defined(__linux__)
    int m_fd;
    std::size_t m_pos = 0;
    std::size_t m_size = 0;
#else
    std::unique_ptr<DIR, int (*)(DIR*)> m_dir;
#endif
};

} // namespace qmt
