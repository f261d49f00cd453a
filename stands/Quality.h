#pragma once

#include <cstdint>
#include <string>

namespace qmt {

// The window's text of g_qualityFactors.
extern std::string g_qualityText;

// The real and soft quality factors of g_stands, packed (real low, soft high);
// -1 each when no stand has any option.
int64_t gf_computeQualityFactors();

// "  " when both are unknown, "{:2}/{:2}" while real is below 45, else "{:2}".
std::string gf_qualityFactorText();

} // namespace qmt
