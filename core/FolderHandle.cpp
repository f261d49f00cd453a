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

namespace {
// The parent of a path the walk made ("" when it has no '/' past its first character).
std::string_view lf_parentOf(std::string_view PATH)
{
    const std::size_t slash = PATH.find_last_of('/');
    return slash == std::string_view::npos || slash == 0 ? std::string_view() : PATH.substr(0, slash);
}
} // namespace

std::unique_ptr<FolderHandle> FolderOpener::open(const std::string& FOLDER)
{
    const std::string_view parent = lf_parentOf(FOLDER);
    if (parent.empty() || FOLDER.ends_with('/'))
        return std::make_unique<FolderHandle>(FOLDER.c_str());
    if (!m_parent || m_parentPath != parent) {
        m_parent.reset();
        // Opening the parent pays only when the next folder shares it.
        if (lf_parentOf(m_following) != parent)
            return std::make_unique<FolderHandle>(FOLDER.c_str());
        m_parentPath = parent;
        m_parent = std::make_unique<FolderHandle>(m_parentPath.c_str());
        if (!m_parent->opened()) {
            m_parent.reset();
            return std::make_unique<FolderHandle>(FOLDER.c_str());
        }
    }
    return std::make_unique<FolderHandle>(*m_parent, FOLDER.c_str() + parent.size() + 1);
}

} // namespace qmt
