#include "core/DurationHistogram.h"

#include <algorithm>
#include <cmath>

namespace qmt {

void DurationHistogram::add(std::chrono::nanoseconds DURATION)
{
    const auto micros = std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(DURATION).count());
    if (micros < static_cast<std::int64_t>(kFine)) {
        ++m_fine[static_cast<std::size_t>(micros)];
    } else if (micros < static_cast<std::int64_t>(kFine + kCoarse * 1000)) {
        ++m_coarse[static_cast<std::size_t>((micros - static_cast<std::int64_t>(kFine)) / 1000)];
    } else {
        ++m_beyond;
    }
    ++m_count;
    m_longest = std::max(m_longest, DURATION);
}

void DurationHistogram::clear()
{
    *this = DurationHistogram{};
}

std::chrono::microseconds DurationHistogram::percentile(double SHARE) const
{
    if (m_count == 0) {
        return std::chrono::microseconds{0};
    }
    // The rank of the wanted duration, 1-based: the smallest count that reaches the share.
    const double wanted = std::clamp(SHARE, 0.0, 1.0) * static_cast<double>(m_count);
    const auto rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(wanted)));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < kFine; ++i) {
        seen += m_fine[i];
        if (seen >= rank) {
            return std::chrono::microseconds{static_cast<std::int64_t>(i)};
        }
    }
    for (std::size_t i = 0; i < kCoarse; ++i) {
        seen += m_coarse[i];
        if (seen >= rank) {
            return std::chrono::microseconds{static_cast<std::int64_t>(kFine + i * 1000)};
        }
    }
    return std::chrono::microseconds{static_cast<std::int64_t>(kFine + kCoarse * 1000)};
}

std::chrono::microseconds DurationHistogram::longest() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(m_longest);
}

} // namespace qmt
