#include "core/Text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <stdexcept>

#include <fmt/format.h>

namespace qmt {
namespace {

bool lf_isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char lf_upperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char lf_lowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void lf_appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 code points of the bytes 0x80..0x9F (0 where the code page has no character).
constexpr char16_t CP1252_HIGH[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

std::string gf_replaceAll(std::string_view text, std::string_view from, std::string_view to)
{
    std::string result;
    std::size_t start = 0;
    for (std::size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, start)) {
        result.append(text.substr(start, at - start));
        result.append(to);
        start = at + from.size();
    }
    result.append(text.substr(start));
    return result;
}

std::string gf_excerpt(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit) return std::string(text);
    std::size_t cut = limit;
    // Not in the middle of a character: continuation bytes are 10xxxxxx.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return fmt::format("{}... ({} more bytes)", text.substr(0, cut), text.size() - cut);
}

template <typename T>
NumberRead<T> gf_readNumber(std::string_view name, std::string_view text)
{
    const std::string t = gf_trim(text);
    // A sign in front is taken for integers as it is for floating-point numbers.
    const std::size_t start = t.size() > 1 && t[0] == '+' && t[1] != '-' ? 1 : 0;
    T value{};
    const auto [end, ec] = std::from_chars(t.data() + start, t.data() + t.size(), value);
    NumberRead<T> read;
    if (t.empty() || (ec != std::errc() && ec != std::errc::result_out_of_range) || end != t.data() + t.size()) {
        read.error = fmt::format("{}: '{}' is not a {}", name, gf_excerpt(text),
                                 std::is_floating_point_v<T> ? "number" : "whole number");
    } else if (ec == std::errc::result_out_of_range || !std::isfinite(static_cast<double>(value))) {
        read.error = fmt::format("{}: '{}' is out of range", name, gf_excerpt(text));
    } else {
        read.value = value;
    }
    return read;
}

template NumberRead<int> gf_readNumber<int>(std::string_view, std::string_view);
template NumberRead<unsigned> gf_readNumber<unsigned>(std::string_view, std::string_view);
template NumberRead<long long> gf_readNumber<long long>(std::string_view, std::string_view);
template NumberRead<double> gf_readNumber<double>(std::string_view, std::string_view);

std::string gf_trim(std::string_view text) { return std::string(gf_trimView(text)); }

std::string_view gf_trimView(std::string_view text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && lf_isSpace(text[b])) ++b;
    while (e > b && lf_isSpace(text[e - 1])) --e;
    return text.substr(b, e - b);
}

std::vector<std::string> gf_splitTrim(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t pos = text.find(separator, start);
        if (pos == std::string_view::npos) {
            parts.push_back(gf_trim(text.substr(start)));
            break;
        }
        parts.push_back(gf_trim(text.substr(start, pos - start)));
        start = pos + 1;
    }
    return parts;
}

std::vector<std::string> gf_splitComma(std::string_view text) { return gf_splitTrim(text, ','); }

std::vector<std::string> gf_splitCommaTrim(std::string_view text) { return gf_splitTrim(text, ','); }

void gf_normaliseList(std::string& text)
{
    if (std::none_of(text.begin(), text.end(), lf_isSpace)) return;
    std::string joined;
    bool first = true;
    for (const auto& item : gf_splitTrim(text, ',')) {
        if (!first) joined += ',';
        joined += item;
        first = false;
    }
    text = std::move(joined);
}

std::string_view gf_plural(long long count) { return count == 1 || count < 0 ? "" : "s"; }
std::string_view gf_plural(unsigned long long count) { return count == 1 ? "" : "s"; }

void gf_appendFixed(std::string& out, double value, int precision)
{
    static constexpr std::uint64_t kPowers[] = {1,      10,      100,      1000,      10000,
                                                100000, 1000000, 10000000, 100000000, 1000000000};
    // The value is exactly mantissa x 2^exponent; with a negative exponent (magnitudes below 2^52)
    // it is scaled by 10^precision in 128-bit integers and rounded once, as the exact value is.
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (biased != 0 ? std::uint64_t{1} << 52 : 0);
    const int shift = 1075 - (biased == 0 ? 1 : biased);
    if (precision >= 0 && precision <= 9 && biased != 0x7ff && shift > 0) {
        using Wide = unsigned __int128;
        const Wide scaled = static_cast<Wide>(mantissa) * kPowers[precision];  // below 2^83
        Wide units = 0;  // a shift of 128 or more leaves less than half a unit
        if (shift < 128) {
            units = scaled >> shift;
            const Wide rest = scaled - (units << shift);
            const Wide half = static_cast<Wide>(1) << (shift - 1);
            if (rest > half || (rest == half && (units & 1) != 0)) {
                ++units;
            }
        }
        if ((units >> 64) == 0) {
            const auto whole = static_cast<std::uint64_t>(units);
            if ((bits >> 63) != 0) {
                out += '-';
            }
            char digits[24];
            out.append(digits, std::to_chars(digits, digits + sizeof digits, whole / kPowers[precision]).ptr);
            if (precision > 0) {
                const char* end = std::to_chars(digits, digits + sizeof digits, whole % kPowers[precision]).ptr;
                out += '.';
                out.append(static_cast<std::size_t>(precision - (end - digits)), '0');
                out.append(static_cast<const char*>(digits), end);
            }
            return;
        }
    }
    char digits[400];  // the largest double has 309 digits before the point
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision).ptr);
}

std::string gf_hexText(std::uint64_t number) { return fmt::format("{:x}", number); }

std::string gf_bannerLine(int budget, int secondWidth, bool leadingNewline, bool trailingNewline, std::string_view title)
{
    int total = budget + secondWidth;
    if (total % 2 != 0) ++total;
    std::string out;
    if (leadingNewline) out += '\n';
    if (title.empty()) {
        out.append(static_cast<std::size_t>(std::max(total, 0)), '*');
    } else {
        const int side = std::max(total / 2 - 1, 0);
        out.append(static_cast<std::size_t>(side), '*');
        out += ' ';
        out += title;
        out += ' ';
        out.append(static_cast<std::size_t>(side), '*');
    }
    if (trailingNewline) out += '\n';
    return out;
}

std::int32_t gf_percent(double a, double b)
{
    if (!(b >= 1.0)) return 0;
    return gf_roundNarrow<std::int32_t>(a * 100.0 / b);
}

float gf_dropdownValue(std::int32_t h)
{
    if (h >= 44) return 24.0f;
    if (h >= 38) return 21.0f;
    if (h >= 32) return 18.0f;
    if (h >= 26) return 15.0f;
    if (h >= 22) return 12.0f;
    if (h >= 20) return 11.0f;
    if (h >= 18) return 10.0f;
    if (h >= 16) return 9.0f;
    if (h >= 14) return 8.0f;
    if (h >= 12) return 7.0f;
    if (h >= 10) return 6.0f;
    switch (h) {
    case 9: return 5.0f;
    case 8: return 4.5f;
    case 7: return 4.0f;
    case 6: return 3.5f;
    case 5: return 3.0f;
    case 4: return 2.5f;
    case 3: return 2.0f;
    case 2: return 1.5f;
    case 1: return 1.0f;
    default: return 0.5f;
    }
}

std::string gf_upper(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lf_upperChar);
    return out;
}

std::string gf_lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lf_lowerChar);
    return out;
}

bool gf_containsNoCase(std::string_view text, std::string_view needle)
{
    if (needle.empty()) return true;
    const auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                                [](char a, char b) { return lf_lowerChar(a) == lf_lowerChar(b); });
    return it != text.end();
}

std::string_view gf_encodingName(FileEncoding encoding)
{
    switch (encoding) {
    case FileEncoding::ANSI: return "ANSI";
    case FileEncoding::Unicode: return "Unicode";
    case FileEncoding::Unicode_big_endian: return "Unicode_big_endian";
    case FileEncoding::UTF8_with_BOM: return "UTF8_with_BOM";
    case FileEncoding::UTF8_without_BOM: return "UTF8_without_BOM";
    case FileEncoding::none_found: return "none_found";
    }
    return "none_found";
}

std::string wide_to_utf8(std::u16string_view wide)
{
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t u = wide[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF)
                throw std::runtime_error("wide_to_utf8: invalid UTF-16");
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            lf_appendUtf8(out, cp);
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            throw std::runtime_error("wide_to_utf8: invalid UTF-16");
        } else {
            lf_appendUtf8(out, u);
        }
    }
    return out;
}

std::string wide_to_utf8(std::wstring_view wide)
{
    std::string out;
    out.reserve(wide.size());
    for (const wchar_t w : wide) {
        const auto cp = static_cast<char32_t>(w);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) throw std::runtime_error("wide_to_utf8: invalid UTF-16");
        lf_appendUtf8(out, cp);
    }
    return out;
}

std::string gf_utf16ToUtf8(const std::filesystem::path& path) { return path.string(); }

std::string_view gf_fileNameText(const std::filesystem::path& path)
{
    const std::string_view text = path.native();
    const std::size_t slash = text.find_last_of('/');
    return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

std::string gf_pathToUtf8(const std::filesystem::path& path) { return wide_to_utf8(std::wstring_view(path.wstring())); }

std::string gf_ansiToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else if (b < 0xA0) {
            const char16_t cp = CP1252_HIGH[b - 0x80];
            lf_appendUtf8(out, cp != 0 ? cp : b); // undefined bytes map to the C1 control of the same value
        } else {
            lf_appendUtf8(out, b);
        }
    }
    return out;
}

std::size_t gf_utf8SequenceLength(std::string_view text)
{
    if (text.empty()) return 0;
    const auto b0 = static_cast<unsigned char>(text[0]);
    if (b0 < 0x80) return 1;
    std::size_t len = 0;
    // The allowed range of the second byte narrows for E0, ED, F0 and F4 (overlong forms,
    // surrogates and code points above U+10FFFF are refused).
    unsigned char low = 0x80, high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) len = 2;
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else return 0;
    if (text.size() < len) return 0;
    const auto b1 = static_cast<unsigned char>(text[1]);
    if (b1 < low || b1 > high) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 0;
    return len;
}

std::string gf_cleanUtf8(std::string_view text)
{
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        // Runs of ASCII other than NUL, most of any text, are taken whole.
        std::size_t ascii = i;
        while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) - 1u < 0x7Fu)
            ++ascii;
        if (ascii > i) {
            out.append(text.substr(i, ascii - i));
            i = ascii;
            continue;
        }
        const std::size_t len = gf_utf8SequenceLength(text.substr(i));
        if (len == 0 || text[i] == '\0') {
            out += replacement;
            ++i;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::string gf_cleanIdentText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = gf_utf8SequenceLength(text.substr(i));
        if (len == 0) {
            ++i;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 control characters are two bytes in UTF-8: C2 80 to C2 9F.
        const bool control = c < 0x20 || c == 0x7f || (len == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (!control && c != ';') out.append(text.substr(i, len));
        i += len;
    }
    return gf_trim(out);
}

} // namespace qmt
