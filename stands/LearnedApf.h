#pragma once

#include "stands/StandTable.h"

#include <pugixml.hpp>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qmt {

// The learned file of the airport file NAME (publisher from its parameters); empty
// when the name has no learned file or would lead outside the learned folder. The
// reader and the saver both take the path from here.
std::filesystem::path lf_learnedPathOf(std::string_view NAME, std::string_view PUBLISHER);

// Leading and trailing blanks (character 32) removed.
std::string lf_trimBlanks(std::string_view TEXT);

// Reads the learned file into STANDS (already filled from the airport file) and sets
// HANDMADE; a record that does not read is kept for the saves (INFO.learnedKept counts them).
// False when the file was refused whole: it is then moved aside under a dated name
// (INFO.learnedSetAside) so that the saves write a new one, or where that fails
// INFO.learnedUnreadable is set and nothing may be saved over it.
bool lf_readLearned(const std::filesystem::path& PATH, ParkApfInfo& INFO, std::vector<Stand>& STANDS,
                    uint8_t& HANDMADE);

// Applies one learned parkpos to STAND when its name equals ID; false otherwise.
bool lf_mergeLearnedOptions(const std::string& ID, pugi::xml_node ELEMENT, bool OLD_VERSION, Stand& STAND);

// Writes the learned file of the current park airport.
void lf_saveLearnedApf();

// What the last read of a learned file could not take (records that do not read, stands that
// the airport file lacks): every save writes it back as it was read.
pugi::xml_node gf_learnedKept();
void gf_clearLearnedKept();

} // namespace qmt
