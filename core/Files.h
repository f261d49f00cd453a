#pragma once
// File helpers: text files of any encoding, write helpers, generations, folder helpers.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/Text.h"

namespace qmt {

// Encoding of a text: from its byte order mark (a UTF-8 mark only when the rest is UTF-8, else
// ANSI); else UTF-16 when its first 4096 bytes have a zero
// in every other byte (none_found for other zeros there: binary data); else UTF-8 when all of it
// is, else Windows-1252 (ANSI).
FileEncoding gf_detectEncoding(std::string_view data);
// The same for a whole file; none_found when it cannot be read.
FileEncoding gf_detectFileEncoding(const std::filesystem::path& path);
// The file's bytes as they are, whole; false (and nothing in DATA) when it cannot be read or
// holds more than maxBytes.
bool gf_readFileBytes(const std::filesystem::path& path, std::string& data,
                      std::uintmax_t maxBytes = std::numeric_limits<std::uintmax_t>::max());

// A text file read once, whole, with its encoding found from all of its bytes.
enum class TextReadStatus { ok, cannotOpen, readFailed, tooLarge, noEncoding };
struct TextFile {
    TextReadStatus status = TextReadStatus::ok;
    FileEncoding encoding = FileEncoding::none_found;
    std::string text;  // valid UTF-8 without NUL and byte order mark, when read
    std::string error; // why it could not be opened or read
};
// At most maxBytes are read: a larger file is tooLarge and not kept.
TextFile gf_readWholeTextFile(const std::filesystem::path& path,
                              std::uintmax_t maxBytes = std::numeric_limits<std::uintmax_t>::max());
// The same into FILE, whose text's memory is used again (a reader of thousands of small files
// would otherwise make and free a buffer for each).
void gf_readWholeTextFile(const std::filesystem::path& path, std::uintmax_t maxBytes, TextFile& file);
#if !defined(_WIN32)
// The same for the file NAME of the folder open as folderFd: the folder's path is not looked up
// again for each of its files.
void gf_readWholeTextFileAt(int folderFd, const char* name, std::uintmax_t maxBytes, TextFile& file);
#endif
// Appends the lines of the text without their ends; CR, LF and CRLF each end a line, and a
// line end at the end of the text opens no further line.
void gf_splitTextLines(std::string_view text, std::vector<std::string_view>& lines);

// Appends every line of the file converted to UTF-8 (BOM and line ends stripped). False when the
// file cannot be read ("Read failed for '{}': {}") or the encoding is none_found
// ("file {} has unknown charset: {}"); both logged.
bool gf_readTextFile(FileEncoding encoding, const std::filesystem::path& path, std::vector<std::string>& lines);

// Lines of a text file after encoding detection, or the error "open_failed" ("too_large" for a
// file of more than maxBytes).
struct FileLines {
    std::vector<std::string> lines;
    std::string error; // empty on success
    bool ok() const { return error.empty(); }
};
FileLines gf_readFileLines(const std::filesystem::path& path,
                           std::uintmax_t maxBytes = std::numeric_limits<std::uintmax_t>::max());

// Replace the file (through gf_commitFile, core/FileCommit.h: a failure is a warning and a line
// in the window, and leaves the old file) by each string followed by "\n". False when it cannot
// be written.
bool gf_writeListToFile(const std::vector<std::string>& list, const std::filesystem::path& path);
bool gf_writeStringToFile(const std::vector<std::string>& lines, const std::filesystem::path& path);
// The same with the text and a trailing newline when asked.
bool gf_writeTextFile(std::string_view text, const std::filesystem::path& path, bool newline);

// Removes the file when it exists; a failure logs "Warning: could not remove {}, errorcode: {}".
// True when the file is gone afterwards.
bool gf_removeFileWarn(const std::filesystem::path& path);
// Number of entries of the folder, 0 when it is missing.
std::size_t gf_countFolderEntries(const std::filesystem::path& folder);
// Keeps one previous generation of the file: a copy with "0" inserted before the last dot, whole
// or not made. True when there was nothing to keep or the copy was made.
bool gf_save1GenerationOf(const std::filesystem::path& path);
// Keeps up to `count` older generations ("0", "00", "000" ...), moving older ones along, and
// moves the file itself to the first one (the log at its opening; a file that is replaced keeps
// its generations through gf_commitFile).
bool gf_rotateGenerations(const std::filesystem::path& path, int count);
// Keeps a file that could not be read under a name of its own that no generation rotation
// touches ("name.broken.ext"), for the user to look at; answers that path, empty when the copy
// failed. The generations keep the last good file.
std::filesystem::path gf_keepBrokenCopy(const std::filesystem::path& path);
// Moves a file that could not be read out of the way under a dated name that no generation
// rotation touches ("name.broken-STAMP.ext", "-2", "-3" ... added when that exists), so that a new
// file can take its place; answers that path, empty when the file could not be moved (it is then
// where it was).
std::filesystem::path gf_setAsideBrokenFile(const std::filesystem::path& path, std::string_view stamp);
// The path of generation n (1: "0", 2: "00" ...) of a file.
std::filesystem::path gf_generationPath(const std::filesystem::path& path, int n);
// Removes all files of the folder; each failure is logged ("Failed to remove {} ({})").
void gf_removeFilesFromDirectory(const std::filesystem::path& folder);
// Removes the ".xml" files of the tblo folder (g_tbloPath).
void gf_removeXMLFilesFromDirectory();
// The airport files (<ICAO>.xml, four letters or digits) of a folder as paths, sorted by name.
std::vector<std::filesystem::path> gf_collectXmlFiles(const std::filesystem::path& folder);

} // namespace qmt
