#include "core/KindText.h"

#include <array>
#include <stdexcept>

#include <fmt/format.h>

namespace qmt {

std::string gf_kindText(const AcKind& KIND)
{
    const std::string operatorPart =
        KIND.operatorId != 0 ? fmt::format(",{}", gf_airlineCode(KIND.operatorId)) : std::string();
    return fmt::format("{:3}{:4} {:4}{}{:3}", gf_airlineCode(KIND.airlineId), operatorPart,
                       gf_modelCode(KIND.modelId), KIND.marker != 0 ? '.' : ' ',
                       KIND.cargo != 0 ? "(C)" : "");
}

std::string_view gf_categoryName(uint32_t CATEGORY)
{
    static constexpr std::array<std::string_view, 6> names{"Light",    "Buzjets",  "Large",
                                                           "Heavy",    "HighPerf", "Rotorcraft"};
    if (CATEGORY >= names.size()) {
        throw std::out_of_range("invalid unordered_map<K, T> key");
    }
    return names[CATEGORY];
}

} // namespace qmt
