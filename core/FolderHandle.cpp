#include "core/FolderHandle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace qmt {

#if defined(__linux__)

// The entries are read into the thread's buffer: opendir would ask for the folder's status and
// allocate a buffer of its own for every folder, and a package has thousands.
FolderHandle::FolderHandle(const char* PATH) : m_fd(::open(PATH, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

FolderHandle::FolderHandle(const FolderHandle& PARENT, const char* NAME)
    : m_fd(::openat(PARENT.m_fd, NAME, O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{}

FolderHandle::~FolderHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FolderHandle::opened() const
{
    return m_fd >= 0;
}

const dirent* FolderHandle::next()
{
    thread_local std::vector<char> buffer(std::size_t{32} << 10);
    if (m_pos >= m_size) {
        const ssize_t got = ::getdents64(m_fd, buffer.data(), buffer.size());
        if (got <= 0) {
            if (got == 0)
                errno = 0;
            return nullptr;
        }
        m_size = static_cast<std::size_t>(got);
        m_pos = 0;
    }
    // The kernel's records are laid out as dirent is here.
    const auto* entry = reinterpret_cast<const dirent*>(buffer.data() + m_pos);
    m_pos += entry->d_reclen;
    return entry;
}

void FolderHandle::readTextFile(const char* NAME, std::uintmax_t MAX_BYTES, TextFile& FILE) const
{
    gf_readWholeTextFileAt(m_fd, NAME, MAX_BYTES, FILE);
}

#else

FolderHandle::FolderHandle(const char* PATH) : m_dir(::opendir(PATH), &::closedir) {}

FolderHandle::FolderHandle(const FolderHandle& PARENT, const char* NAME) : m_dir(nullptr, &::closedir)
{
    const int fd = ::openat(::dirfd(PARENT.m_dir.get()), NAME, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        m_dir.reset(::fdopendir(fd));
        if (!m_dir)
            ::close(fd);
    }
}

FolderHandle::~FolderHandle() = default;

bool FolderHandle::opened() const
{
    return m_dir != nullptr;
}

const dirent* FolderHandle::next()
{
    errno = 0;
    return ::readdir(m_dir.get());
}

void FolderHandle::readTextFile(const char* NAME, std::uintmax_t MAX_BYTES, TextFile& FILE) const
{
    gf_readWholeTextFileAt(::dirfd(m_dir.get()), NAME, MAX_BYTES, FILE);
}

#endif

} // namespace qmt
