#pragma once
// Text helpers: trimming, splitting, plural suffixes, number texts, banners, checked narrowing,
// encodings and UTF conversions.

#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gsl/narrow>

namespace qmt {

// The first C in TEXT at or after POS, npos when there is none: text.find(C, POS) for the short
// texts of a line, eight bytes at a time without a call per search.
inline std::size_t gf_findInLine(std::string_view text, char c, std::size_t pos = 0)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    const std::uint64_t pattern = kOnes * static_cast<unsigned char>(c);
    for (; pos + 8 <= text.size(); pos += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + pos, 8);
        const std::uint64_t x = word ^ pattern; // a zero byte where C is
        if (((x - kOnes) & ~x & kHighs) != 0)
            break;
    }
    for (; pos < text.size(); ++pos)
        if (text[pos] == c)
            return pos;
    return std::string_view::npos;
}

// Without blanks, tabs, CR and LF at both ends.
std::string gf_trim(std::string_view text);
std::string_view gf_trimView(std::string_view text);
// Parts between ',' separators, each trimmed; an empty text gives no part.
std::vector<std::string> gf_splitCommaTrim(std::string_view text);
// Parts between the separators, each trimmed; empty parts kept; an empty text gives no part.
std::vector<std::string> gf_splitTrim(std::string_view text, char separator);
// Items split at ',', each trimmed, empty items kept; an empty text gives no item.
std::vector<std::string> gf_splitComma(std::string_view text);
// When the text holds a blank, tab, CR or LF: split at ',', trim each item, join with ','.
void gf_normaliseList(std::string& text);

// "" for 1 (and for negative counts), else "s".
std::string_view gf_plural(long long count);
std::string_view gf_plural(unsigned long long count);
template <std::signed_integral T>
std::string_view gf_plural(T count) { return gf_plural(static_cast<long long>(count)); }
template <std::unsigned_integral T>
std::string_view gf_plural(T count) { return gf_plural(static_cast<unsigned long long>(count)); }

// The number as "{:x}".
std::string gf_hexText(std::uint64_t number);
// Appends the number with PRECISION digits after the point (0 to 9), correctly rounded (an exact
// tie to the even digit): the text of "{:.Nf}" ("nan", "-inf" and "-0.0" alike), at a fraction
// of its cost for the numbers of positions, headings and sizes.
void gf_appendFixed(std::string& out, double value, int precision);
// Banner of '*' around a title (see the matching summary).
std::string gf_bannerLine(int budget, int secondWidth, bool leadingNewline, bool trailingNewline, std::string_view title);
// round(a x 100 / b), 0 when b < 1; throws gsl::narrowing_error when the result does not fit.
std::int32_t gf_percent(double a, double b);
// Half hours to the hours offered by MAX_FIT_FL.
float gf_dropdownValue(std::int32_t halfHours);

// Every FROM in TEXT replaced by TO (FROM not empty).
std::string gf_replaceAll(std::string_view text, std::string_view from, std::string_view to);

// Outside text as it may appear in a log line or message: at most LIMIT bytes (cut at a character
// boundary), followed by "... (N more bytes)" when it was cut.
inline constexpr std::size_t kLoggedTextLimit = 200;
std::string gf_excerpt(std::string_view text, std::size_t limit = kLoggedTextLimit);

// A number of outside text read whole: blanks around it are allowed, nothing else. Either the
// value, or why it was refused: "NAME: 'TEXT' is not a whole number" (or "not a number" for a
// floating-point T) when anything else is in the text, "NAME: 'TEXT' is out of range" when it
// does not fit T or is not finite.
template <typename T>
struct NumberRead {
    std::optional<T> value;
    std::string error;
};
template <typename T>
NumberRead<T> gf_readNumber(std::string_view name, std::string_view text);
extern template NumberRead<int> gf_readNumber<int>(std::string_view, std::string_view);
extern template NumberRead<unsigned> gf_readNumber<unsigned>(std::string_view, std::string_view);
extern template NumberRead<long long> gf_readNumber<long long>(std::string_view, std::string_view);
extern template NumberRead<double> gf_readNumber<double>(std::string_view, std::string_view);

// Upper-case / lower-case copy (ASCII letters).
std::string gf_upper(std::string_view text);
std::string gf_lower(std::string_view text);
// Whether the needle occurs in the text, ASCII case ignored.
bool gf_containsNoCase(std::string_view text, std::string_view needle);

// Checked conversion of a double to an integer type: gsl::narrowing_error for a non-finite
// value, a value outside the target's range, or (gf_narrow) a value with a fraction.
template <std::integral T>
T gf_narrow(double value)
{
    if (!std::isfinite(value) || value < static_cast<double>(std::numeric_limits<T>::lowest()) ||
        value >= static_cast<double>(std::numeric_limits<T>::max()) + 1.0)
        throw gsl::narrowing_error();
    const T result = static_cast<T>(value);
    if (static_cast<double>(result) != value) throw gsl::narrowing_error();
    return result;
}
// The same after rounding to the nearest whole number.
template <std::integral T>
T gf_roundNarrow(double value)
{
    if (!std::isfinite(value)) throw gsl::narrowing_error();
    return gf_narrow<T>(std::round(value));
}

// ---- encodings ----
enum class FileEncoding { ANSI, Unicode, Unicode_big_endian, UTF8_with_BOM, UTF8_without_BOM, none_found };
// "ANSI", "Unicode", "Unicode_big_endian", "UTF8_with_BOM", "UTF8_without_BOM", "none_found".
std::string_view gf_encodingName(FileEncoding encoding);

// UTF-16 to UTF-8; throws std::runtime_error "wide_to_utf8: invalid UTF-16" on a bad sequence.
std::string wide_to_utf8(std::u16string_view wide);
// Platform wide text (UTF-32 here) to UTF-8; the same error on an invalid code point.
std::string wide_to_utf8(std::wstring_view wide);
// A path as UTF-8 text (for log lines); no validity check.
std::string gf_utf16ToUtf8(const std::filesystem::path& path);
// The file name part of a path's text, without building a path (the walks call it per entry).
std::string_view gf_fileNameText(const std::filesystem::path& path);
// A path as UTF-8 text; throws like wide_to_utf8 when it cannot be converted.
std::string gf_pathToUtf8(const std::filesystem::path& path);
// One Windows-1252 byte string to UTF-8.
std::string gf_ansiToUtf8(std::string_view text);
// Length of the well-formed UTF-8 sequence at the start of TEXT (no overlong form, no
// surrogate, nothing above U+10FFFF); 0 when there is none.
std::size_t gf_utf8SequenceLength(std::string_view text);
// TEXT as valid UTF-8 without NUL: every NUL and every byte that does not begin a well-formed
// sequence becomes U+FFFD, so that what a reader passes on is always clean.
std::string gf_cleanUtf8(std::string_view text);
// An identity text from outside (a callsign, a registration, a code) as it may enter the
// program: valid UTF-8 without control characters and without ';' (the separator of the list
// files that carry it), trimmed; what does not belong is left out.
std::string gf_cleanIdentText(std::string_view text);

} // namespace qmt
