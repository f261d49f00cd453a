#pragma once
// The one way the program writes a file. The bytes go to a temporary file beside the target and
// are flushed; only a complete temporary file replaces the target, by a rename. Older generations
// ("0", "00", "000" inserted before the extension) are made from a copy that is written under a
// temporary name of its own and renamed into place. Whatever step a full disk or a kill stops,
// the target holds either its old bytes or its new ones, whole, and so does every generation.

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace qmt {

struct CommitOptions {
    // Older generations kept (0 to 3).
    int generations = 0;
    // The bytes reach the disk before the rename, not only the system's cache, so that a power
    // cut loses no settings or scanned liveries. The wait takes milliseconds to seconds on a busy
    // disk: never for a file written while the loop runs (a kill or a full disk leaves every file
    // whole without it).
    bool durable = false;
};

// Replaces PATH by BYTES. A failure is a warning in the log ("{} could not be saved: {}") and a
// line in the window; PATH then holds what it held before. True when PATH holds BYTES.
bool gf_commitFile(std::string_view BYTES, const std::filesystem::path& PATH, CommitOptions OPTIONS = {});
// The same, quiet: the reason of a failure is given back for the caller to report.
bool gf_commitFile(std::string_view BYTES, const std::filesystem::path& PATH, CommitOptions OPTIONS,
                   std::string& FAILURE);
// Copies FROM to TO the same way (TO is whole or untouched); false with the reason when FROM
// cannot be read or TO not written. Nothing is logged.
bool gf_commitCopy(const std::filesystem::path& FROM, const std::filesystem::path& TO, std::string& FAILURE);
// The temporary name under which the bytes for PATH are written.
std::filesystem::path gf_commitTempPath(const std::filesystem::path& PATH);

// A folder whose files are all written anew at once (the files a scan generates): they go
// straight, once each, into a new folder beside it ("<name>.new"), which takes the folder's place
// in one step when it is complete. Until then the folder keeps its old files, whole, whatever
// ends the writing (a failure, a stop, a kill): a new folder that was not put in place is never
// read, and the next one made for the folder removes it.
class FolderCommit {
public:
    // Makes the new folder, empty; see ready().
    explicit FolderCommit(std::filesystem::path FOLDER);
    // A new folder that was not put in place is removed; the folder keeps its old files.
    ~FolderCommit();
    FolderCommit(const FolderCommit&) = delete;
    FolderCommit& operator=(const FolderCommit&) = delete;

    // Whether the new folder was made; the reason when it was not.
    bool ready() const { return m_failure.empty(); }
    const std::string& failure() const { return m_failure; }
    const std::filesystem::path& folder() const { return m_folder; }
    // Where the files go until commit(): the new folder.
    const std::filesystem::path& newFolder() const { return m_new; }
    // Puts the new folder in the folder's place and removes the old files. False with the reason
    // when it could not: the folder then holds its old files, whole.
    bool commit(std::string& FAILURE);

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_new;
    std::string m_failure;
    bool m_committed = false;
};

// Writes BYTES as PATH, a file of a FolderCommit's new folder: straight, without a temporary
// name, since nothing reads that folder before it is put in place. False with the reason; what
// was written of it is removed.
bool gf_writeNewFile(std::string_view BYTES, const std::filesystem::path& PATH, std::string& FAILURE);

// What the writer does to the disk, one call per step. The real disk is this class itself; a
// test derives from it to fail a step (as a full disk does) or to stop at a step (as a kill does).
class FileSystemSeam {
public:
    virtual ~FileSystemSeam() = default;
    // Creates or truncates PATH and writes all of BYTES; DURABLE waits until they are on the disk.
    virtual std::error_code writeFile(const std::filesystem::path& PATH, std::string_view BYTES, bool DURABLE);
    virtual std::error_code readFile(const std::filesystem::path& PATH, std::string& BYTES);
    // Replaces TO by FROM in one step.
    virtual std::error_code rename(const std::filesystem::path& FROM, const std::filesystem::path& TO);
    // Swaps the folders A and B in one step; std::errc::operation_not_supported where the system
    // cannot.
    virtual std::error_code exchange(const std::filesystem::path& A, const std::filesystem::path& B);
    virtual std::error_code remove(const std::filesystem::path& PATH);
};

// The disk the writer uses: the real one, or the one a test put in its place.
FileSystemSeam& gf_fileSystem();
// Puts SEAM in the real disk's place (nullptr: the real disk again). Tests only; the seam must
// outlive its use.
void gf_setFileSystemSeam(FileSystemSeam* SEAM);

} // namespace qmt
