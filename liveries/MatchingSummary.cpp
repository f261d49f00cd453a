#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "core/Log.h"
#include "core/Text.h"
#include "liveries/Matching.h"

namespace qmt {

void gf_writeMatchingSummary()
{
    std::vector<std::string> notCreated;
    for (const std::string& entry : g_notCreatedList) {
        notCreated.push_back("  " + entry);
    }
    if (std::none_of(g_matchStepCount.begin(), g_matchStepCount.end(), [](int32_t COUNT) { return COUNT > 0; })) {
        return;
    }
    constexpr std::string_view title = "live traffic livery matching summary";
    constexpr int budget = 100 - static_cast<int>(title.size());
    std::vector<std::string> lines;
    lines.push_back(gf_bannerLine(budget, 0, true, false, title));
    lines.emplace_back("Matches at step: ");
    for (std::size_t step = 0; step < g_matchStepCount.size(); ++step) {
        lines.push_back(fmt::format("  {}: {}", step, g_matchStepCount[step]));
    }
    if (!notCreated.empty()) {
        lines.emplace_back("\nCould not be created");
        lines.insert(lines.end(), notCreated.begin(), notCreated.end());
    }
    lines.push_back(gf_bannerLine(budget, static_cast<int>(title.size()), false, true, ""));
    for (const std::string& line : lines) {
        gf_logLine(line);
    }
}

void gf_logNoMatches()
{
    if (g_noMatchSet.empty()) {
        return;
    }
    gf_logLine("\nNo match found for:");
    for (const std::string& text : g_noMatchSet) {
        gf_logLine(text);
    }
    gf_logLine("");
}

} // namespace qmt
