#pragma once
// Property tests of the readers of outside input: seeded variations of a sample file in which
// numbers are replaced by hostile values (not a number, infinities, huge, negative, empty,
// text) and, now and then, a byte is changed or the file is cut. The same seed gives the same
// variations, so a failure reproduces.

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace qmt::test {

class InputMutator {
public:
    explicit InputMutator(unsigned SEED) : m_rng(SEED) {}

    std::string mutate(const std::string& SAMPLE)
    {
        std::string text = SAMPLE;
        const std::vector<std::pair<size_t, size_t>> numbers = numbersOf(text);
        const int count = pick(1, 4);
        // Replaced from the back, so that the earlier positions stay valid.
        std::vector<size_t> chosen;
        for (int i = 0; i < count && !numbers.empty(); ++i) {
            chosen.push_back(static_cast<size_t>(pick(0, static_cast<int>(numbers.size()) - 1)));
        }
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
            const auto [start, length] = numbers[*it];
            text.replace(start, length, hostile());
        }
        if (!text.empty() && pick(0, 9) == 0) {
            text[static_cast<size_t>(pick(0, static_cast<int>(text.size()) - 1))] = static_cast<char>(pick(0, 255));
        }
        if (!text.empty() && pick(0, 19) == 0) {
            text.resize(static_cast<size_t>(pick(0, static_cast<int>(text.size()) - 1)));
        }
        return text;
    }

private:
    int pick(int LOW, int HIGH) { return std::uniform_int_distribution<int>(LOW, HIGH)(m_rng); }

    std::string hostile()
    {
        static const char* values[] = {"nan", "NaN", "inf", "-inf", "1e308", "-1e308", "1e10", "-1e10", "3e38",
                                       "4294967296", "-2147483649", "99999999999999999999", "-0", "0", "-1", "",
                                       "abc", "1e-320", "0x10", "  7  ", "360", "-720", "100000"};
        return values[pick(0, static_cast<int>(std::size(values)) - 1)];
    }

    // Start and length of every run of number characters that holds a digit.
    static std::vector<std::pair<size_t, size_t>> numbersOf(std::string_view TEXT)
    {
        std::vector<std::pair<size_t, size_t>> found;
        const auto numberChar = [](char C) { return (C >= '0' && C <= '9') || C == '-' || C == '+' || C == '.' || C == 'e'; };
        for (size_t i = 0; i < TEXT.size();) {
            if (!numberChar(TEXT[i])) {
                ++i;
                continue;
            }
            size_t j = i;
            bool digit = false;
            while (j < TEXT.size() && numberChar(TEXT[j])) {
                digit = digit || (TEXT[j] >= '0' && TEXT[j] <= '9');
                ++j;
            }
            if (digit) {
                found.emplace_back(i, j - i);
            }
            i = j;
        }
        return found;
    }

    std::mt19937 m_rng;
};

} // namespace qmt::test
