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
// HANDMADE. False when the file was refused or only partly read: it must not be saved over.
bool lf_readLearned(const std::filesystem::path& PATH, ParkApfInfo& INFO, std::vector<Stand>& STANDS,
                    uint8_t& HANDMADE);

// Applies one learned parkpos to STAND when its name equals ID; false otherwise.
bool lf_mergeLearnedOptions(const std::string& ID, pugi::xml_node ELEMENT, bool OLD_VERSION, Stand& STAND);

// Writes the learned file of the current park airport.
void lf_saveLearnedApf();

// Learned stands that no stand of the airport file matched: written back unchanged.
pugi::xml_node gf_learnedOrphans();
void gf_clearLearnedOrphans();

} // namespace qmt
