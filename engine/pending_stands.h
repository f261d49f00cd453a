#pragma once

// Stand table calls of the engine, until the stand table is built.

#include <cstdint>
#include <string>

namespace qmt {

// Sets or clears the live-aircraft mark of a stand; ids below 1 and unknown ids are ignored.
void gf_setStandOccupied(int32_t STAND_ID, uint8_t OCCUPIED);
// The stand's name, "sid==0?" for id 0 and "sid==?" for an unknown id.
std::string gf_standName(uint32_t STAND_ID);

} // namespace qmt
