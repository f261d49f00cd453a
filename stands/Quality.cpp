#include "stands/Quality.h"

#include "stands/StandTable.h"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cmath>

namespace qmt {

std::string g_qualityText;

namespace {

struct GroupScore {
    double real = 0.0;
    double soft = 0.0;
};

// (min(20 n, 4000) + 10000 + 100 d + 2 min(h, 600)) for one group of options.
double lf_groupScore(int64_t COUNT, int64_t DAYS, int64_t SLOTS)
{
    return static_cast<double>(std::min<int64_t>(20 * COUNT, 4000) + 10000 + 100 * DAYS +
                               2 * std::min<int64_t>(SLOTS, 600));
}

int32_t lf_factor(double SUM, double WEIGHTS)
{
    const double value = std::round(SUM / WEIGHTS * 0.00625);
    return static_cast<int32_t>(std::clamp(value, 0.0, 100.0));
}

} // namespace

int64_t gf_computeQualityFactors()
{
    const bool anyOption =
        std::any_of(g_stands.begin(), g_stands.end(), [](const Stand& S) { return !S.options.empty(); });
    if (!anyOption) {
        return gf_packQualityFactors(-1, -1);
    }
    double weights = 0.0;
    GroupScore sums;
    for (const Stand& stand : g_stands) {
        if (stand.heli) {
            continue;
        }
        // The radius is in nautical miles, so every real stand weighs 0.3.
        const double w = stand.radius <= 7.0 ? 0.3 : (stand.radius <= 10.0 ? 1.5 : 1.0);
        weights += w;
        for (const uint32_t real : {1u, 0u}) {
            int64_t count = 0;
            int64_t slots = 0;
            uint32_t dayMask = 0;
            for (const StandOption& opt : stand.options) {
                if (opt.optionId == 0 || (opt.real != 0) != (real != 0)) {
                    continue;
                }
                ++count;
                slots += static_cast<int64_t>(opt.hours.count());
                if (opt.day >= 1 && opt.day <= 7) {
                    dayMask |= 1u << opt.day;
                }
            }
            if (count == 0) {
                continue;
            }
            const double score = lf_groupScore(count, std::popcount(dayMask), slots) * w;
            (real ? sums.real : sums.soft) += score;
        }
    }
    if (weights <= 0.0) {
        return gf_packQualityFactors(0, 0);
    }
    return gf_packQualityFactors(lf_factor(sums.real, weights), lf_factor(sums.soft, weights));
}

std::string gf_qualityFactorText()
{
    const int32_t real = gf_qualityReal(g_qualityFactors);
    const int32_t soft = gf_qualitySoft(g_qualityFactors);
    if (real < 0 && soft < 0) {
        return "  ";
    }
    if (real < 45) {
        return fmt::format("{:2}/{:2}", real, soft);
    }
    return fmt::format("{:2}", real);
}

} // namespace qmt
