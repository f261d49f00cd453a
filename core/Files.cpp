#include "core/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <iterator>
#include <system_error>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "core/FileCommit.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Text.h"

namespace qmt {
namespace {

// Whether all of the text is UTF-8 (NUL counts as ASCII here).
bool lf_isUtf8(std::string_view TEXT)
{
    for (std::size_t i = 0; i < TEXT.size();) {
        // Runs of ASCII, most of any text, eight bytes at a time and without the general
        // sequence test.
        std::uint64_t word = 0;
        while (i + 8 <= TEXT.size() && (std::memcpy(&word, TEXT.data() + i, 8), (word & 0x8080808080808080u) == 0))
            i += 8;
        while (i < TEXT.size() && static_cast<unsigned char>(TEXT[i]) < 0x80)
            ++i;
        if (i == TEXT.size())
            break;
        const std::size_t len = gf_utf8SequenceLength(TEXT.substr(i));
        if (len == 0) return false;
        i += len;
    }
    return true;
}

#if !defined(_WIN32)
TextReadStatus lf_readAllFrom(int fd, std::uintmax_t MAX_BYTES, std::string& data, std::string& error);
#endif

// Reads the whole file into DATA, at most MAX_BYTES of it.
TextReadStatus lf_readAll(const std::filesystem::path& path, std::uintmax_t MAX_BYTES, std::string& data, std::string& error)
{
#if defined(_WIN32)
    // One buffer per thread: a scan reads thousands of small files, and a fresh buffer for each
    // would be cleared and freed as often.
    thread_local std::vector<char> chunk(std::size_t{1} << 16);
    TextReadStatus status = TextReadStatus::ok;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::error_code(errno, std::generic_category()).message();
        return TextReadStatus::cannotOpen;
    }
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
        if (data.size() + got > MAX_BYTES) {
            status = TextReadStatus::tooLarge;
            break;
        }
        data.append(chunk.data(), got);
        if (got < chunk.size()) {
            if (std::ferror(file) != 0) {
                // A folder opens, but cannot be read.
                error = std::error_code(errno != 0 ? errno : EIO, std::generic_category()).message();
                status = TextReadStatus::readFailed;
            }
            break;
        }
    }
    std::fclose(file);
    return status;
#else
    return lf_readAllFrom(::open(path.c_str(), O_RDONLY | O_CLOEXEC), MAX_BYTES, data, error);
#endif
}

#if !defined(_WIN32)
// Reads the whole of the file open as FD (closed here; -1 when it could not be opened, errno
// telling why) into DATA, at most MAX_BYTES of it.
TextReadStatus lf_readAllFrom(int fd, std::uintmax_t MAX_BYTES, std::string& data, std::string& error)
{
    // Plain reads into the thread's buffer: a stream would ask for the file's status and
    // allocate a buffer of its own for every file.
    thread_local std::vector<char> chunk(std::size_t{1} << 16);
    TextReadStatus status = TextReadStatus::ok;
    if (fd < 0) {
        error = std::error_code(errno, std::generic_category()).message();
        return TextReadStatus::cannotOpen;
    }
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            // A folder opens, but cannot be read.
            error = std::error_code(errno, std::generic_category()).message();
            status = TextReadStatus::readFailed;
            break;
        }
        if (got == 0)
            break;
        if (data.size() + static_cast<std::size_t>(got) > MAX_BYTES) {
            status = TextReadStatus::tooLarge;
            break;
        }
        data.append(chunk.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return status;
}
#endif

std::string lf_utf16ToUtf8Lenient(std::string_view bytes, bool bigEndian)
{
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0));
    }
    // Lone surrogates become U+FFFD so that one bad unit does not lose the file.
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) ++i;
            else units[i] = 0xFFFD;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            units[i] = 0xFFFD;
        }
    }
    return wide_to_utf8(std::u16string_view(units));
}

// TEXT in ENCODING made clean UTF-8 (no byte order mark, no NUL, no invalid sequence), in its
// own memory when it is UTF-8 already. DETECTED: the encoding was found from TEXT itself, so
// UTF-8 and Windows-1252 need no second look.
void lf_toUtf8InPlace(FileEncoding encoding, std::string& text, bool detected)
{
    switch (encoding) {
    case FileEncoding::UTF8_with_BOM:
    case FileEncoding::UTF8_without_BOM:
        if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
        break;
    case FileEncoding::Unicode:
        if (text.starts_with("\xFF\xFE")) text.erase(0, 2);
        text = lf_utf16ToUtf8Lenient(text, false);
        break;
    case FileEncoding::Unicode_big_endian:
        if (text.starts_with("\xFE\xFF")) text.erase(0, 2);
        text = lf_utf16ToUtf8Lenient(text, true);
        break;
    case FileEncoding::ANSI:
        // The mark of a UTF-8 text whose bytes proved to be Windows-1252 is no text of it.
        if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
        text = gf_ansiToUtf8(text);
        break;
    case FileEncoding::none_found: text.clear(); break;
    }
    // A byte order mark says nothing about what follows it, and an encoding given by the caller
    // may not fit: whatever the file holds, its text is clean. A text found to be UTF-8 or
    // Windows-1252 is clean already unless it holds a NUL.
    const bool clean = detected && (encoding == FileEncoding::UTF8_without_BOM || encoding == FileEncoding::UTF8_with_BOM ||
                                    encoding == FileEncoding::ANSI);
    if (!clean || text.find('\0') != std::string::npos) text = gf_cleanUtf8(text);
}

// The same as a text of its own.
std::string lf_toUtf8(FileEncoding encoding, std::string data, bool detected)
{
    lf_toUtf8InPlace(encoding, data, detected);
    return data;
}

void lf_appendLines(std::string_view text, std::vector<std::string>& lines)
{
    std::vector<std::string_view> views;
    gf_splitTextLines(text, views);
    lines.insert(lines.end(), views.begin(), views.end());
}

std::string lf_joinLines(const std::vector<std::string>& LIST)
{
    std::size_t size = 0;
    for (const auto& s : LIST) size += s.size() + 1;
    std::string bytes;
    bytes.reserve(size);
    for (const auto& s : LIST) {
        bytes += s;
        bytes += '\n';
    }
    return bytes;
}

} // namespace

FileEncoding gf_detectEncoding(std::string_view data)
{
    auto startsWith = [&](std::string_view bom) { return data.starts_with(bom); };
    // A UTF-8 byte order mark whose text is no UTF-8 (an editor saved Windows-1252 bytes behind
    // it) is believed no more than the bytes: the text is read as one without a mark would be.
    if (startsWith("\xEF\xBB\xBF"))
        return lf_isUtf8(data.substr(3)) ? FileEncoding::UTF8_with_BOM : FileEncoding::ANSI;
    if (startsWith("\xFF\xFE")) return FileEncoding::Unicode;
    if (startsWith("\xFE\xFF")) return FileEncoding::Unicode_big_endian;

    // UTF-16 without a byte order mark: mostly-Latin text has a zero in every other byte. The
    // start of the file tells it, and a stray NUL further on does not make a text file binary.
    const std::string_view start = data.substr(0, 4096);
    std::size_t evenZeros = 0, oddZeros = 0;
    for (std::size_t i = start.find('\0'); i < start.size(); ++i)
        if (start[i] == '\0') (i % 2 == 0 ? evenZeros : oddZeros)++;
    const std::size_t pairs = start.size() / 2;
    if (pairs > 0 && evenZeros + oddZeros > 0) {
        if (oddZeros * 10 >= pairs * 4 && evenZeros * 10 < pairs) return FileEncoding::Unicode;
        if (evenZeros * 10 >= pairs * 4 && oddZeros * 10 < pairs) return FileEncoding::Unicode_big_endian;
        return FileEncoding::none_found; // binary data
    }
    // UTF-8 or Windows-1252 is decided by all of the text: the first accented letter of a long
    // file may come late.
    return lf_isUtf8(data) ? FileEncoding::UTF8_without_BOM : FileEncoding::ANSI;
}

bool gf_readFileBytes(const std::filesystem::path& path, std::string& data, std::uintmax_t maxBytes)
{
    std::string error;
    data.clear();
    if (lf_readAll(path, maxBytes, data, error) == TextReadStatus::ok) return true;
    data.clear();
    return false;
}

FileEncoding gf_detectFileEncoding(const std::filesystem::path& path)
{
    std::string data;
    if (!gf_readFileBytes(path, data))
        return FileEncoding::none_found;
    return gf_detectEncoding(data);
}

TextFile gf_readWholeTextFile(const std::filesystem::path& path, std::uintmax_t maxBytes)
{
    TextFile file;
    gf_readWholeTextFile(path, maxBytes, file);
    return file;
}

namespace {
// Finds the encoding of the bytes read into FILE and makes them UTF-8.
void lf_decodeText(TextFile& file)
{
    if (file.status != TextReadStatus::ok) {
        file.text.clear();
        return;
    }
    file.encoding = gf_detectEncoding(file.text);
    if (file.encoding == FileEncoding::none_found) {
        file.status = TextReadStatus::noEncoding;
        file.text.clear();
        return;
    }
    lf_toUtf8InPlace(file.encoding, file.text, true);
}
} // namespace

void gf_readWholeTextFile(const std::filesystem::path& path, std::uintmax_t maxBytes, TextFile& file)
{
    file.encoding = FileEncoding::none_found;
    file.error.clear();
    file.text.clear();
    file.status = lf_readAll(path, maxBytes, file.text, file.error);
    lf_decodeText(file);
}

#if !defined(_WIN32)
void gf_readWholeTextFileAt(int folderFd, const char* name, std::uintmax_t maxBytes, TextFile& file)
{
    file.encoding = FileEncoding::none_found;
    file.error.clear();
    file.text.clear();
    file.status = lf_readAllFrom(::openat(folderFd, name, O_RDONLY | O_CLOEXEC), maxBytes, file.text, file.error);
    lf_decodeText(file);
}
#endif

void gf_splitTextLines(std::string_view text, std::vector<std::string_view>& lines)
{
    // The next LF and the next CR are each looked for once and kept until a line passes them:
    // a text without CR costs one search per line, and one without LF (the old Mac line end)
    // is not searched to its end again for every line.
    std::size_t nextLf = text.find('\n');
    std::size_t nextCr = text.find('\r');
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min({nextLf, nextCr, text.size()});
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (start < text.size() && text[end] == '\r' && text[start] == '\n') ++start;
        if (nextLf != std::string_view::npos && nextLf < start) nextLf = gf_findInLine(text, '\n', start);
        if (nextCr != std::string_view::npos && nextCr < start) nextCr = gf_findInLine(text, '\r', start);
    }
}

bool gf_readTextFile(FileEncoding encoding, const std::filesystem::path& path, std::vector<std::string>& lines)
{
    if (encoding == FileEncoding::none_found) {
        gf_logLine("file {} has unknown charset: {}", gf_utf16ToUtf8(path), gf_encodingName(encoding));
        return false;
    }
    std::string data, error;
    if (lf_readAll(path, std::numeric_limits<std::uintmax_t>::max(), data, error) != TextReadStatus::ok) {
        gf_logLine("Read failed for '{}': {}", gf_utf16ToUtf8(path), error);
        return false;
    }
    lf_appendLines(lf_toUtf8(encoding, std::move(data), false), lines);
    return true;
}

FileLines gf_readFileLines(const std::filesystem::path& path, std::uintmax_t maxBytes)
{
    FileLines result;
    const TextFile file = gf_readWholeTextFile(path, maxBytes);
    switch (file.status) {
    case TextReadStatus::ok: lf_appendLines(file.text, result.lines); break;
    case TextReadStatus::noEncoding:
        gf_logLine("file {} has unknown charset: {}", gf_utf16ToUtf8(path), gf_encodingName(file.encoding));
        result.error = "open_failed";
        break;
    case TextReadStatus::tooLarge: result.error = "too_large"; break;
    case TextReadStatus::cannotOpen:
    case TextReadStatus::readFailed:
        if (file.status == TextReadStatus::readFailed) gf_logLine("Read failed for '{}': {}", gf_utf16ToUtf8(path), file.error);
        result.error = "open_failed";
        break;
    }
    return result;
}

bool gf_writeListToFile(const std::vector<std::string>& list, const std::filesystem::path& path)
{
    return gf_commitFile(lf_joinLines(list), path);
}

bool gf_writeStringToFile(const std::vector<std::string>& lines, const std::filesystem::path& path)
{
    return gf_commitFile(lf_joinLines(lines), path);
}

bool gf_writeTextFile(std::string_view text, const std::filesystem::path& path, bool newline)
{
    if (!newline) return gf_commitFile(text, path);
    std::string bytes(text);
    bytes += '\n';
    return gf_commitFile(bytes, path);
}

bool gf_removeFileWarn(const std::filesystem::path& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return true;
    if (!std::filesystem::remove(path, ec) || ec) {
        gf_logLine("Warning: could not remove {}, errorcode: {}", gf_utf16ToUtf8(path), ec.value());
        return false;
    }
    return true;
}

std::size_t gf_countFolderEntries(const std::filesystem::path& folder)
{
    std::error_code ec;
    std::size_t n = 0;
    std::filesystem::directory_iterator it(folder, ec), end;
    if (ec) return 0;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        ++n;
    }
    return n;
}

std::filesystem::path gf_generationPath(const std::filesystem::path& path, int n)
{
    const std::string name = path.filename().string();
    const std::size_t dot = name.rfind('.');
    const std::string zeros(static_cast<std::size_t>(std::max(n, 0)), '0');
    std::string generation = dot == std::string::npos ? name + zeros : name.substr(0, dot) + zeros + name.substr(dot);
    return path.parent_path() / generation;
}

bool gf_save1GenerationOf(const std::filesystem::path& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return true;
    std::string failure;
    return gf_commitCopy(path, gf_generationPath(path, 1), failure);
}

std::filesystem::path gf_keepBrokenCopy(const std::filesystem::path& path)
{
    std::filesystem::path kept = path;
    kept.replace_extension(".broken" + path.extension().string());
    std::string failure;
    return gf_commitCopy(path, kept, failure) ? kept : std::filesystem::path();
}

std::filesystem::path gf_setAsideBrokenFile(const std::filesystem::path& path, std::string_view stamp)
{
    const std::string base = path.stem().string() + ".broken-" + std::string(stamp);
    const std::string extension = path.extension().string();
    std::error_code ec;
    for (int n = 1; n <= 100; ++n) {
        const std::filesystem::path kept =
            path.parent_path() / (n == 1 ? base + extension : fmt::format("{}-{}{}", base, n, extension));
        if (std::filesystem::exists(kept, ec) || ec) {
            continue;
        }
        std::filesystem::rename(path, kept, ec);
        return ec ? std::filesystem::path() : kept;
    }
    return {};
}

bool gf_rotateGenerations(const std::filesystem::path& path, int count)
{
    std::error_code ec;
    if (count < 1 || !std::filesystem::exists(path, ec)) return true;
    bool ok = true;
    for (int i = count; i >= 2; --i) {
        const auto from = gf_generationPath(path, i - 1);
        if (!std::filesystem::exists(from, ec)) continue;
        std::filesystem::rename(from, gf_generationPath(path, i), ec);
        if (ec) ok = false;
    }
    std::filesystem::rename(path, gf_generationPath(path, 1), ec);
    return ok && !ec;
}

void gf_removeFilesFromDirectory(const std::filesystem::path& folder)
{
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fec;
        if (it->is_regular_file(fec)) files.push_back(it->path());
    }
    for (const auto& f : files) {
        std::error_code rec;
        std::filesystem::remove(f, rec);
        if (rec) gf_logLine("Failed to remove {} ({})", gf_utf16ToUtf8(f), rec.message());
    }
}

void gf_removeXMLFilesFromDirectory()
{
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator it(g_tbloPath, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fec;
        if (it->is_regular_file(fec) && gf_lower(it->path().extension().string()) == ".xml") files.push_back(it->path());
    }
    for (const auto& f : files) {
        std::error_code rec;
        std::filesystem::remove(f, rec);
        if (rec) gf_logLine("Failed to remove {} ({})", gf_utf16ToUtf8(f), rec.message());
    }
}

std::vector<std::filesystem::path> gf_collectXmlFiles(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fec;
        if (!it->is_regular_file(fec)) continue;
        const auto& p = it->path();
        if (gf_lower(p.extension().string()) != ".xml") continue;
        const std::string stem = p.stem().string();
        if (stem.size() != 4) continue;
        if (!std::all_of(stem.begin(), stem.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            }))
            continue;
        files.push_back(p);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace qmt
