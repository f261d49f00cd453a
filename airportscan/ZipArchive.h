#pragma once
// A thin wrapper over libzip for writing a zip archive from bytes in memory. Entries are stored
// without encryption and without a password.

#include <cstdint>
#include <string>
#include <vector>

struct zip;

namespace qmt {

// An entry's bytes compressed ahead of the archive, so that many entries can be compressed at
// once on several threads while the archive itself is written by one.
struct DeflatedEntry {
    std::vector<unsigned char> bytes;  // raw deflate data
    std::uint64_t size = 0;            // the entry's own size
    std::uint32_t crc = 0;             // CRC-32 of the entry's own bytes
};

// Compresses LENGTH bytes at DATA as the archive would.
DeflatedEntry gf_deflateEntry(const void* DATA, std::uint64_t LENGTH);

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
    // Adds an entry compressed ahead (gf_deflateEntry), which the archive writes as it is. As
    // with addData, ENTRY must stay alive and unchanged until close().
    bool addDeflated(const std::string& NAME, const DeflatedEntry& ENTRY);
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
