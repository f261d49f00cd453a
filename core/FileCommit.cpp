#include "core/FileCommit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#endif

#include <fmt/format.h>

#include "core/Files.h"
#include "core/Log.h"
#include "core/StatusLine.h"
#include "core/Text.h"

namespace qmt {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxGenerations = 3;

// The disk itself; a test's seam replaces it (written by tests before the writers run).
FileSystemSeam s_realDisk;
std::atomic<FileSystemSeam*> s_seam{nullptr};

std::error_code lf_errno()
{
    return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}

#if !defined(_WIN32)
// The folder's entries reach the disk too, so that a rename is not lost with the power.
void lf_syncFolder(const fs::path& FOLDER)
{
    const int fd = ::open(FOLDER.empty() ? "." : FOLDER.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
#endif

std::string lf_reason(std::string_view STEP, const fs::path& PATH, std::error_code ERROR)
{
    return fmt::format("{} {}: {}", STEP, gf_utf16ToUtf8(PATH.filename()), ERROR.message());
}

fs::path lf_beside(const fs::path& FOLDER, std::string_view SUFFIX)
{
    fs::path path = FOLDER;
    path += SUFFIX;
    return path;
}

constexpr std::string_view kNewFolderSuffix = ".new";
// Where a folder's old files wait while the new folder moves in, where folders cannot be swapped.
constexpr std::string_view kOldFolderSuffix = ".old";

// Moves the older generations one place on and puts the copy written to COPY in the first one.
// A rename fails only on a broken disk; the copy then stays under its temporary name.
std::error_code lf_rotateIn(FileSystemSeam& DISK, const fs::path& PATH, int COUNT, const fs::path& COPY)
{
    std::error_code ec;
    for (int i = COUNT; i >= 2; --i) {
        const fs::path from = gf_generationPath(PATH, i - 1);
        if (!fs::exists(from, ec)) {
            continue;
        }
        if (std::error_code moved = DISK.rename(from, gf_generationPath(PATH, i))) {
            return moved;
        }
    }
    return DISK.rename(COPY, gf_generationPath(PATH, 1));
}

bool lf_commit(std::string_view BYTES, const fs::path& PATH, CommitOptions OPTIONS, std::string& FAILURE)
{
    FileSystemSeam& disk = gf_fileSystem();
    const fs::path temp = gf_commitTempPath(PATH);
    if (std::error_code ec = disk.writeFile(temp, BYTES, OPTIONS.durable)) {
        FAILURE = lf_reason("writing", temp, ec);
        disk.remove(temp);
        return false;
    }
    const int generations = std::clamp(OPTIONS.generations, 0, kMaxGenerations);
    std::error_code ec;
    if (generations > 0 && fs::exists(PATH, ec)) {
        // The copy of the file about to be replaced is whole before it takes a generation's
        // place: a copy made over the generation itself would leave a cut one behind.
        const fs::path copy = gf_commitTempPath(gf_generationPath(PATH, 1));
        std::string old;
        std::error_code kept = disk.readFile(PATH, old);
        if (!kept) {
            kept = disk.writeFile(copy, old, OPTIONS.durable);
        }
        if (!kept) {
            kept = lf_rotateIn(disk, PATH, generations, copy);
        }
        if (kept) {
            // The new bytes go in all the same: they hold everything the old ones did.
            gf_logWarning("could not keep older generations of {}: {}", gf_utf16ToUtf8(PATH), kept.message());
            disk.remove(copy);
        }
    }
    if (std::error_code renamed = disk.rename(temp, PATH)) {
        FAILURE = lf_reason("replacing", PATH, renamed);
        disk.remove(temp);
        return false;
    }
#if !defined(_WIN32)
    if (OPTIONS.durable) {
        lf_syncFolder(PATH.parent_path());
    }
#endif
    return true;
}

} // namespace

std::error_code FileSystemSeam::writeFile(const fs::path& PATH, std::string_view BYTES, bool DURABLE)
{
#if defined(_WIN32)
    std::FILE* file = _wfopen(PATH.c_str(), L"wb");
    if (file == nullptr) {
        return lf_errno();
    }
    bool ok = std::fwrite(BYTES.data(), 1, BYTES.size(), file) == BYTES.size() && std::fflush(file) == 0;
    if (ok && DURABLE) {
        ok = _commit(_fileno(file)) == 0;
    }
    const std::error_code error = ok ? std::error_code() : lf_errno();
    const bool closed = std::fclose(file) == 0;
    return error ? error : (closed ? std::error_code() : lf_errno());
#else
    const int fd = ::open(PATH.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return lf_errno();
    }
    std::error_code error;
    std::size_t done = 0;
    while (done < BYTES.size()) {
        const ssize_t wrote = ::write(fd, BYTES.data() + done, BYTES.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            error = lf_errno();
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (!error && DURABLE && ::fsync(fd) != 0) {
        error = lf_errno();
    }
    // Some file systems report a full disk only when the file is closed.
    if (::close(fd) != 0 && !error) {
        error = lf_errno();
    }
    return error;
#endif
}

std::error_code FileSystemSeam::readFile(const fs::path& PATH, std::string& BYTES)
{
    BYTES.clear();
    return gf_readFileBytes(PATH, BYTES) ? std::error_code() : std::make_error_code(std::errc::io_error);
}

std::error_code FileSystemSeam::rename(const fs::path& FROM, const fs::path& TO)
{
    std::error_code ec;
    fs::rename(FROM, TO, ec);
    return ec;
}

std::error_code FileSystemSeam::remove(const fs::path& PATH)
{
    std::error_code ec;
    fs::remove(PATH, ec);
    return ec;
}

std::error_code FileSystemSeam::exchange(const fs::path& A, const fs::path& B)
{
#if defined(__linux__)
    if (::renameat2(AT_FDCWD, A.c_str(), AT_FDCWD, B.c_str(), RENAME_EXCHANGE) == 0) {
        return {};
    }
    if (errno == EINVAL || errno == ENOSYS) {
        return std::make_error_code(std::errc::operation_not_supported);  // a file system that cannot
    }
    return lf_errno();
#else
    (void)A;
    (void)B;
    return std::make_error_code(std::errc::operation_not_supported);
#endif
}

FileSystemSeam& gf_fileSystem()
{
    FileSystemSeam* seam = s_seam.load();
    return seam != nullptr ? *seam : s_realDisk;
}

void gf_setFileSystemSeam(FileSystemSeam* SEAM)
{
    s_seam.store(SEAM);
}

fs::path gf_commitTempPath(const fs::path& PATH)
{
    fs::path temp = PATH;
    temp += ".tmp";
    return temp;
}

bool gf_commitFile(std::string_view BYTES, const fs::path& PATH, CommitOptions OPTIONS, std::string& FAILURE)
{
    FAILURE.clear();
    return lf_commit(BYTES, PATH, OPTIONS, FAILURE);
}

bool gf_commitFile(std::string_view BYTES, const fs::path& PATH, CommitOptions OPTIONS)
{
    std::string failure;
    if (lf_commit(BYTES, PATH, OPTIONS, failure)) {
        return true;
    }
    gf_logWarning("{} could not be saved: {}", gf_utf16ToUtf8(PATH), failure);
    gf_setStatus(fmt::format("Could not save {}: {}", gf_utf16ToUtf8(PATH.filename()), failure));
    return false;
}

bool gf_commitCopy(const fs::path& FROM, const fs::path& TO, std::string& FAILURE)
{
    std::string bytes;
    if (std::error_code ec = gf_fileSystem().readFile(FROM, bytes)) {
        FAILURE = lf_reason("reading", FROM, ec);
        return false;
    }
    return gf_commitFile(bytes, TO, {}, FAILURE);
}

FolderCommit::FolderCommit(fs::path FOLDER)
    : m_folder(std::move(FOLDER)), m_new(lf_beside(m_folder, kNewFolderSuffix))
{
    if (m_folder.empty() || !m_folder.has_filename()) {
        m_failure = "no folder to write anew";  // a new folder beside nothing would land anywhere
        return;
    }
    std::error_code ec;
    const fs::path old = lf_beside(m_folder, kOldFolderSuffix);
    // A kill between the two renames of a swap without exchange left the old files aside.
    if (!fs::exists(m_folder, ec) && fs::exists(old, ec)) {
        gf_fileSystem().rename(old, m_folder);
    }
    fs::remove_all(old, ec);
    fs::remove_all(m_new, ec);
    if (ec) {
        m_failure = lf_reason("removing", m_new, ec);
        return;
    }
    fs::create_directories(m_new, ec);
    if (ec) {
        m_failure = lf_reason("creating", m_new, ec);
    }
}

FolderCommit::~FolderCommit()
{
    if (!m_committed && ready()) {
        std::error_code ec;
        fs::remove_all(m_new, ec);
    }
}

bool FolderCommit::commit(std::string& FAILURE)
{
    FAILURE.clear();
    if (!ready()) {
        FAILURE = m_failure;
        return false;
    }
    FileSystemSeam& disk = gf_fileSystem();
    std::error_code ec;
    if (!fs::exists(m_folder, ec)) {
        if (std::error_code moved = ec ? ec : disk.rename(m_new, m_folder)) {
            FAILURE = lf_reason("putting in place", m_folder, moved);
            return false;
        }
        m_committed = true;
        return true;
    }
    fs::path oldFiles = m_new;  // after the swap
    std::error_code swapped = disk.exchange(m_new, m_folder);
    if (swapped == std::errc::operation_not_supported) {
        oldFiles = lf_beside(m_folder, kOldFolderSuffix);
        fs::remove_all(oldFiles, ec);
        swapped = disk.rename(m_folder, oldFiles);
        if (!swapped) {
            swapped = disk.rename(m_new, m_folder);
            if (swapped) {
                disk.rename(oldFiles, m_folder);
            }
        }
    }
    if (swapped) {
        FAILURE = lf_reason("putting in place", m_folder, swapped);
        return false;
    }
    m_committed = true;
    // What cannot be removed now goes with the next new folder made for this one.
    fs::remove_all(oldFiles, ec);
    return true;
}

bool gf_writeNewFile(std::string_view BYTES, const fs::path& PATH, std::string& FAILURE)
{
    FAILURE.clear();
    FileSystemSeam& disk = gf_fileSystem();
    if (std::error_code ec = disk.writeFile(PATH, BYTES, false)) {
        FAILURE = lf_reason("writing", PATH, ec);
        disk.remove(PATH);
        return false;
    }
    return true;
}

} // namespace qmt
