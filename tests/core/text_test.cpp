#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "CoreTestSupport.h"
#include "core/Text.h"
#include "core/UserError.h"

namespace qmt::test {
namespace {

TEST(TextTest, FindInLineFindsWhatFindFinds)
{
    // Every place of the byte in and around the eight-byte steps, bytes next to it that differ
    // by one bit or have the high bit set, and starts past the end.
    for (std::size_t length = 0; length <= 19; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
            std::string text(length, '^');
            for (std::size_t i = 0; i < length; i += 3)
                text[i] = static_cast<char>(i % 2 == 0 ? '\xDF' : '`');
            if (at < length)
                text[at] = '_';
            for (std::size_t from = 0; from <= length + 1; ++from)
                EXPECT_EQ(gf_findInLine(text, '_', from), std::string_view(text).find('_', from))
                    << length << " " << at << " " << from;
        }
    }
}

TEST(TextTest, TrimAndSplit)
{
    EXPECT_EQ(gf_trim(" \t\r\n a b \n"), "a b");
    EXPECT_EQ(gf_trim("   "), "");
    EXPECT_EQ(gf_splitTrim(" a, ,b ,", ','), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_TRUE(gf_splitTrim("", ',').empty());
    EXPECT_EQ(gf_splitTrim("x", ';'), (std::vector<std::string>{"x"}));
    EXPECT_EQ(gf_splitCommaTrim(" PH-BXA ,\tPH-BXB\r\n"), (std::vector<std::string>{"PH-BXA", "PH-BXB"}));
    EXPECT_TRUE(gf_splitCommaTrim("").empty());
    EXPECT_EQ(gf_splitComma("a,,b"), (std::vector<std::string>{"a", "", "b"}));
    std::string list = "KLM, TRA ,\tEZY";
    gf_normaliseList(list);
    EXPECT_EQ(list, "KLM,TRA,EZY");
    std::string plain = "KLM,,TRA";
    gf_normaliseList(plain);
    EXPECT_EQ(plain, "KLM,,TRA");
}

TEST(TextTest, PluralHexCaseAndContains)
{
    EXPECT_EQ(gf_plural(1), "");
    EXPECT_EQ(gf_plural(0), "s");
    EXPECT_EQ(gf_plural(2), "s");
    EXPECT_EQ(gf_plural(-3), "");
    EXPECT_EQ(gf_plural(std::size_t{1}), "");
    EXPECT_EQ(gf_plural(std::size_t{5}), "s");
    EXPECT_EQ(gf_hexText(0x4840d6), "4840d6");
    EXPECT_EQ(gf_upper("eHam-1"), "EHAM-1");
    EXPECT_TRUE(gf_containsNoCase("Community/PolderWorks-EHAM", "polderworks"));
    EXPECT_FALSE(gf_containsNoCase("abc", "abd"));
}

// The fixed-point text is the formatter's for every double: ties, the edges of each precision,
// values that round to zero, the largest and the smallest, and seeded draws of every kind.
TEST(TextTest, FixedNumbersAreTheFormattersText)
{
    const auto expectFormatted = [](double VALUE, int PRECISION) {
        std::string text = "x";
        gf_appendFixed(text, VALUE, PRECISION);
        ASSERT_EQ(text, "x" + fmt::format("{:.{}f}", VALUE, PRECISION)) << fmt::format("{:a} .{}f", VALUE, PRECISION);
    };
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double table[] = {0.0, -0.0, 0.25, 0.75, -0.25, 2.5, 0.125, 0.0078125, 1.0000005, 0.0000005, 0.05, -0.04,
                            -1e-9, 52.310512, 4.762011, 359.96, 199.95, 9.9999995, 99999.95, 0.5, 1.5, -0.5,
                            4503599627370495.5, 4503599627370496.0, 9.0e15, 1.8446744073709552e13, 1e22, 1e300,
                            std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                            std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
                            inf, -inf, std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    for (const double value : table) {
        for (int precision = 0; precision <= 9; ++precision) {
            expectFormatted(value, precision);
        }
    }
    std::mt19937_64 draw(20261208);
    for (int i = 0; i < 100000; ++i) {
        double value = 0;
        switch (i % 4) {
        case 0:  // any bits
            value = std::bit_cast<double>(draw());
            break;
        case 1:  // exact binary fractions, many of them ties
            value = std::ldexp(static_cast<double>(static_cast<std::int64_t>(draw() >> 24) - (std::int64_t{1} << 39)),
                               -static_cast<int>(draw() % 48));
            break;
        case 2:  // positions and headings
            value = static_cast<double>(static_cast<std::int64_t>(draw() % 720000001) - 360000000) / 1e6;
            break;
        default:  // near the largest whole units a precision takes
            value = std::ldexp(1.0 + static_cast<double>(draw() % 1000) / 1000.0, static_cast<int>(draw() % 70));
            break;
        }
        expectFormatted(value, static_cast<int>(draw() % 10));
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

TEST(TextTest, BannerLine)
{
    const std::string title = "Matching summary";
    const int budget = 100 - static_cast<int>(title.size());
    const std::string head = gf_bannerLine(budget, 0, true, false, title);
    EXPECT_EQ(head.front(), '\n');
    EXPECT_NE(head.find("* Matching summary *"), std::string::npos);
    EXPECT_EQ(head.size(), 1 + 2 * static_cast<std::size_t>(budget / 2 - 1) + title.size() + 2);
    EXPECT_EQ(gf_bannerLine(budget, static_cast<int>(title.size()), false, true, ""), std::string(100, '*') + "\n");
    EXPECT_EQ(gf_bannerLine(3, 0, false, false, ""), "****"); // rounded up to even
}

TEST(TextTest, PercentAndDropdown)
{
    EXPECT_EQ(gf_percent(1, 3), 33);
    EXPECT_EQ(gf_percent(2, 3), 67);
    EXPECT_EQ(gf_percent(5, 0), 0);
    EXPECT_EQ(gf_percent(5, 0.5), 0);
    EXPECT_THROW(gf_percent(1e12, 1), gsl::narrowing_error);
    EXPECT_THROW(gf_percent(std::numeric_limits<double>::infinity(), 1), gsl::narrowing_error);
    EXPECT_THROW(gf_percent(std::nan(""), 1), gsl::narrowing_error);
    EXPECT_FLOAT_EQ(gf_dropdownValue(47), 24.0f);
    EXPECT_FLOAT_EQ(gf_dropdownValue(44), 24.0f);
    EXPECT_FLOAT_EQ(gf_dropdownValue(43), 21.0f);
    EXPECT_FLOAT_EQ(gf_dropdownValue(20), 11.0f);
    EXPECT_FLOAT_EQ(gf_dropdownValue(9), 5.0f);
    EXPECT_FLOAT_EQ(gf_dropdownValue(8), 4.5f);
    EXPECT_FLOAT_EQ(gf_dropdownValue(1), 1.0f);
    EXPECT_FLOAT_EQ(gf_dropdownValue(0), 0.5f);
    EXPECT_FLOAT_EQ(gf_dropdownValue(-5), 0.5f);
}

TEST(TextTest, NarrowingChecksFinitenessAndRangeFirst)
{
    EXPECT_EQ(gf_roundNarrow<int>(47.5), 48);
    EXPECT_EQ(gf_roundNarrow<int>(-2.4), -2);
    EXPECT_EQ(gf_narrow<int>(2147483647.0), 2147483647);
    EXPECT_EQ(gf_narrow<int>(-2147483648.0), std::numeric_limits<int>::min());
    EXPECT_THROW(gf_narrow<int>(2147483648.0), gsl::narrowing_error);
    EXPECT_THROW(gf_narrow<int>(2.5), gsl::narrowing_error);
    EXPECT_THROW(gf_roundNarrow<int>(3e9), gsl::narrowing_error);
    EXPECT_THROW(gf_roundNarrow<int>(-3e9), gsl::narrowing_error);
    EXPECT_THROW(gf_roundNarrow<int>(std::numeric_limits<double>::infinity()), gsl::narrowing_error);
    EXPECT_THROW(gf_roundNarrow<int>(-std::numeric_limits<double>::infinity()), gsl::narrowing_error);
    EXPECT_THROW(gf_roundNarrow<int>(std::nan("")), gsl::narrowing_error);
    EXPECT_THROW(gf_roundNarrow<std::uint16_t>(-1.0), gsl::narrowing_error);
    EXPECT_THROW(gf_roundNarrow<std::int64_t>(1e19), gsl::narrowing_error);
}

// Numbers from outside are read whole: what follows the leading digits is not ignored.
TEST(TextTest, NumbersAreReadWhole)
{
    struct Case {
        const char* text;
        std::optional<int> value;
        const char* error;
    };
    for (const Case& c : {Case{" -11 ", -11, ""}, Case{"+5", 5, ""}, Case{"1e4", {}, "alt: '1e4' is not a whole number"},
                          Case{"-11abc", {}, "alt: '-11abc' is not a whole number"}, Case{"", {}, "alt: '' is not a whole number"},
                          Case{"99999999999", {}, "alt: '99999999999' is out of range"}}) {
        const NumberRead<int> read = gf_readNumber<int>("alt", c.text);
        EXPECT_EQ(read.value, c.value) << c.text;
        EXPECT_EQ(read.error, c.error) << c.text;
    }
    EXPECT_EQ(gf_readNumber<double>("lat", "1e4").value, 1e4);
    EXPECT_EQ(gf_readNumber<double>("lat", "52.3x").error, "lat: '52.3x' is not a number");
    EXPECT_EQ(gf_readNumber<double>("lat", "nan").error, "lat: 'nan' is out of range");
    EXPECT_EQ(gf_readNumber<double>("lat", "1e400").error, "lat: '1e400' is out of range");
    EXPECT_EQ(gf_readNumber<unsigned>("day", "-2").error, "day: '-2' is not a whole number");
    const std::string line(1000000, 'x');
    EXPECT_EQ(gf_excerpt(line), std::string(200, 'x') + "... (999800 more bytes)");
    EXPECT_EQ(gf_excerpt("\xc3\xa9", 1), "... (2 more bytes)");  // never half a character
}

TEST(TextTest, WideToUtf8)
{
    EXPECT_EQ(wide_to_utf8(std::u16string_view(u"Z\u00fcrich \u2014 \U0001F6EB")), "Z\xC3\xBCrich \xE2\x80\x94 \xF0\x9F\x9B\xAB");
    const char16_t lone[] = {u'a', 0xD800, u'b'};
    EXPECT_THROW(wide_to_utf8(std::u16string_view(lone, 3)), std::runtime_error);
    const char16_t trailing[] = {0xDC00};
    EXPECT_THROW(wide_to_utf8(std::u16string_view(trailing, 1)), std::runtime_error);
    EXPECT_EQ(wide_to_utf8(std::wstring_view(L"EHAM")), "EHAM");
    EXPECT_EQ(gf_ansiToUtf8("caf\xE9 \x97 \x80"), "caf\xC3\xA9 \xE2\x80\x94 \xE2\x82\xAC");
}

TEST(TextTest, UserErrorText)
{
    const UserErrorException e(43, "no AI packages found");
    EXPECT_STREQ(e.what(), "43: no AI packages found");
    EXPECT_EQ(e.code(), 43);
    EXPECT_EQ(e.message(), "no AI packages found");
    EXPECT_STREQ(UserErrorException(99, "plain").what(), "plain");
    try {
        throw UserErrorException(93, "x");
    } catch (const std::runtime_error& r) {
        EXPECT_STREQ(r.what(), "93: x");
    }
}

TEST(TextTest, CleanUtf8TakesAsciiRunsWholeAsThePlainLoopDoes)
{
    // The plain loop: each sequence on its own, NUL and broken bytes replaced.
    const auto plain = [](std::string_view TEXT) {
        std::string out;
        for (std::size_t i = 0; i < TEXT.size();) {
            const std::size_t len = gf_utf8SequenceLength(TEXT.substr(i));
            if (len == 0 || TEXT[i] == '\0') {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(TEXT.substr(i, len));
                i += len;
            }
        }
        return out;
    };
    std::mt19937 rng(11);
    const std::string pieces[] = {"title=A320", std::string(1, '\0'), "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x9B\xAB",
                                  "\xC3", "\xED\xA0\x80", "\x80", "\x7F\x01", "\r\n"};
    for (int i = 0; i < 500; ++i) {
        std::string text;
        for (int k = static_cast<int>(rng() % 12); k > 0; --k)
            text += pieces[rng() % std::size(pieces)];
        EXPECT_EQ(gf_cleanUtf8(text), plain(text)) << i;
    }
}

} // namespace
} // namespace qmt::test
