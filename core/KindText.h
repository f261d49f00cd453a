#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/AcKind.h"

namespace qmt {

// Text of an aircraft kind as it stands at the start of aircraft log lines:
// airline (3), ",operator" (4), blank, model (4), marker, "(C)" (3).
std::string gf_kindText(const AcKind& KIND);

// Name of an aircraft category; std::out_of_range for a value outside 0 to 5.
std::string_view gf_categoryName(uint32_t CATEGORY);

} // namespace qmt
