#pragma once
// A thin wrapper over libzip for writing a zip archive from bytes in memory. Entries are stored
// without encryption and without a password.

#include <cstdint>
#include <string>

struct zip;

namespace qmt {

class ZipArchive {
public:
    enum class OpenMode {
        New,  // a new archive; an existing file of that name is replaced at close
    };

    // PATH is UTF-8 text. Nothing is opened yet.
    explicit ZipArchive(std::string PATH);
    // Discards an archive that is still open: nothing is written.
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    bool open(OpenMode MODE);
    bool isOpen() const { return m_archive != nullptr; }
    // Adds LENGTH bytes at DATA as the entry NAME. The archive reads the bytes only at close(),
    // so they must stay alive and unchanged until then. False when the entry cannot be added.
    bool addData(const std::string& NAME, const void* DATA, std::uint64_t LENGTH);
    // Writes the archive and closes it; true when the file was written. The archive is closed
    // afterwards in either case.
    bool close();
    // The library's text for the last failure ("" when none).
    const std::string& errorText() const { return m_error; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    zip* m_archive = nullptr;
    std::string m_error;
};

} // namespace qmt
