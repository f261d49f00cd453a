#include "platform/window_instance.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qmt {

namespace {
int s_lockFd = -1;

// The name as a file name: characters a file name cannot hold become '_'.
std::string lf_fileNameOf(const std::string& NAME)
{
    std::string name;
    for (const char c : NAME)
        name += (c == '\\' || c == '/' || c == '$' || c == ':') ? '_' : c;
    return name + ".lock";
}
}  // namespace

std::filesystem::path gf_instanceLockPath(const std::string& NAME, const std::filesystem::path& FOLDER)
{
    return FOLDER / lf_fileNameOf(NAME);
}

bool gf_acquireInstanceGuard(const std::string& NAME, const std::filesystem::path& FOLDER, std::string* WHY)
{
    if (s_lockFd >= 0)
        return true;
    const std::filesystem::path path = gf_instanceLockPath(NAME, FOLDER);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (WHY != nullptr)
            *WHY = "cannot open the lock file " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (WHY != nullptr) {
            *WHY = error == EWOULDBLOCK ? "another Quillon runs there (it holds the lock " + path.string() + ")"
                                        : "cannot lock " + path.string() + ": " + std::strerror(error);
        }
        return false;
    }
    s_lockFd = fd;
    return true;
}

void gf_releaseInstanceGuard()
{
    if (s_lockFd < 0)
        return;
    ::flock(s_lockFd, LOCK_UN);
    ::close(s_lockFd);
    s_lockFd = -1;
}

}  // namespace qmt
