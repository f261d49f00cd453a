#include "core/Files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/Log.h"
#include "core/Paths.h"
#include "core/Text.h"

namespace qmt {
namespace {

// A lead byte and continuation bytes only, shorter than the lead byte asks for: a sequence
// that the end of a full sample cut off.
bool lf_cutSequence(std::string_view TAIL, bool FULL_SAMPLE)
{
    const auto lead = static_cast<unsigned char>(TAIL[0]);
    const std::size_t wanted = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
    if (!FULL_SAMPLE || wanted == 0 || TAIL.size() >= wanted) return false;
    return std::all_of(TAIL.begin() + 1, TAIL.end(), [](char C) { return (static_cast<unsigned char>(C) & 0xC0) == 0x80; });
}

// Whether the sample is UTF-8; a sequence cut off by the end of the sample (not of the file)
// does not count against it.
bool lf_isUtf8(std::string_view s, bool& hasHighBytes)
{
    hasHighBytes = false;
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i; // ASCII, without the general sequence test
            continue;
        }
        const std::size_t len = gf_utf8SequenceLength(s.substr(i));
        if (len == 0) return lf_cutSequence(s.substr(i), s.size() == 4096);
        if (len > 1) hasHighBytes = true;
        i += len;
    }
    return true;
}

bool lf_readAll(const std::filesystem::path& path, std::string& data, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec(errno, std::generic_category());
        error = ec.message();
        return false;
    }
    try {
        // In chunks smaller than the stream's buffer, so that a read error throws from the
        // buffer as it does for a character-wise read.
        char chunk[4096];
        for (std::streamsize got; (got = in.rdbuf()->sgetn(chunk, sizeof chunk)) > 0;)
            data.append(chunk, static_cast<std::size_t>(got));
    } catch (const std::exception& e) {
        // The stream buffer throws for some unreadable paths (a folder).
        error = e.what();
        return false;
    }
    if (in.bad()) {
        error = "read error";
        return false;
    }
    return true;
}

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

void lf_splitLines(std::string_view text, std::vector<std::string>& lines)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
}

bool lf_writeLines(const std::vector<std::string>& list, const std::filesystem::path& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const auto& s : list) out << s << '\n';
    out.flush();
    return static_cast<bool>(out);
}

} // namespace

FileEncoding gf_detectFileEncoding(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return FileEncoding::none_found;
    std::string sample(4096, '\0');
    in.read(sample.data(), static_cast<std::streamsize>(sample.size()));
    sample.resize(static_cast<std::size_t>(in.gcount()));

    auto startsWith = [&](std::string_view bom) { return sample.compare(0, bom.size(), bom) == 0; };
    if (startsWith("\xEF\xBB\xBF")) return FileEncoding::UTF8_with_BOM;
    if (startsWith("\xFF\xFE")) return FileEncoding::Unicode;
    if (startsWith("\xFE\xFF")) return FileEncoding::Unicode_big_endian;

    // UTF-16 without a byte order mark: mostly-Latin text has a zero in every other byte.
    std::size_t evenZeros = 0, oddZeros = 0;
    for (std::size_t i = 0; i < sample.size(); ++i)
        if (sample[i] == '\0') (i % 2 == 0 ? evenZeros : oddZeros)++;
    const std::size_t pairs = sample.size() / 2;
    if (pairs > 0 && evenZeros + oddZeros > 0) {
        if (oddZeros * 10 >= pairs * 4 && evenZeros * 10 < pairs) return FileEncoding::Unicode;
        if (evenZeros * 10 >= pairs * 4 && oddZeros * 10 < pairs) return FileEncoding::Unicode_big_endian;
        return FileEncoding::none_found; // binary data
    }
    bool high = false;
    if (lf_isUtf8(sample, high)) return FileEncoding::UTF8_without_BOM;
    return FileEncoding::ANSI;
}

bool gf_readTextFile(FileEncoding encoding, const std::filesystem::path& path, std::vector<std::string>& lines)
{
    if (encoding == FileEncoding::none_found) {
        gf_logLine("file {} has unknown charset: {}", gf_utf16ToUtf8(path), gf_encodingName(encoding));
        return false;
    }
    std::string data, error;
    if (!lf_readAll(path, data, error)) {
        gf_logLine("Read failed for '{}': {}", gf_utf16ToUtf8(path), error);
        return false;
    }
    std::string text;
    switch (encoding) {
    case FileEncoding::UTF8_with_BOM:
    case FileEncoding::UTF8_without_BOM:
        text = std::move(data);
        if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
        break;
    case FileEncoding::Unicode:
        if (data.starts_with("\xFF\xFE")) data.erase(0, 2);
        text = lf_utf16ToUtf8Lenient(data, false);
        break;
    case FileEncoding::Unicode_big_endian:
        if (data.starts_with("\xFE\xFF")) data.erase(0, 2);
        text = lf_utf16ToUtf8Lenient(data, true);
        break;
    case FileEncoding::ANSI: text = gf_ansiToUtf8(data); break;
    case FileEncoding::none_found: break;
    }
    // The encoding was guessed from the start of the file only, and a byte order mark says
    // nothing about what follows: whatever the file holds past that, its lines are clean.
    lf_splitLines(gf_cleanUtf8(text), lines);
    return true;
}

FileLines gf_readFileLines(const std::filesystem::path& path)
{
    FileLines result;
    const FileEncoding enc = gf_detectFileEncoding(path);
    if (enc == FileEncoding::none_found) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) {
            result.error = "open_failed";
            return result;
        }
    }
    if (!gf_readTextFile(enc, path, result.lines)) {
        result.lines.clear();
        result.error = "open_failed";
    }
    return result;
}

bool gf_writeListToFile(const std::vector<std::string>& list, const std::filesystem::path& path)
{
    return lf_writeLines(list, path);
}

bool gf_writeStringToFile(const std::vector<std::string>& lines, const std::filesystem::path& path)
{
    return lf_writeLines(lines, path);
}

bool gf_writeTextFile(std::string_view text, const std::filesystem::path& path, bool newline)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    if (newline) out << '\n';
    out.flush();
    return static_cast<bool>(out);
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
    std::filesystem::copy_file(path, gf_generationPath(path, 1), std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
}

std::filesystem::path gf_keepBrokenCopy(const std::filesystem::path& path)
{
    std::filesystem::path kept = path;
    kept.replace_extension(".broken" + path.extension().string());
    std::error_code ec;
    std::filesystem::copy_file(path, kept, std::filesystem::copy_options::overwrite_existing, ec);
    return ec ? std::filesystem::path() : kept;
}

bool gf_rotateGenerations(const std::filesystem::path& path, int count, bool keepFile)
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
    if (keepFile) {
        std::filesystem::copy_file(path, gf_generationPath(path, 1), std::filesystem::copy_options::overwrite_existing, ec);
    } else {
        std::filesystem::rename(path, gf_generationPath(path, 1), ec);
    }
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
