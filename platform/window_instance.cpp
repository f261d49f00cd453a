#include "platform/window_instance.h"

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

bool gf_acquireInstanceGuard(const std::string& NAME, const std::filesystem::path& FOLDER)
{
    if (s_lockFd >= 0)
        return true;
    const std::filesystem::path path = FOLDER / lf_fileNameOf(NAME);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
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
