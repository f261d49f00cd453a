#pragma once
// The settings that an airport file stores and the window values that reading one changes.

#include <pugixml.hpp>

#include <cstddef>
#include <string>

namespace qmt {

// The nine stored settings in their order in the file.
enum class ApfSetting : size_t {
    range = 0,
    autoRange,
    week,
    parkSoft,
    parkingPercentage,
    initialLoadOnly,
    maxFit,
    rtParkTrafficOnly,
    maxLiveSel,
};

// The parameter name of setting I (0..8, file order).
std::string gf_apfSettingName(size_t I);
// The value of setting I as written to a file ("true"/"false", decimal; MAX_FIT is
// derived from MAX_FIT_FL: round(2 x hours) - 1).
std::string gf_apfSettingText(size_t I);

// Sets a flag setting and its check box.
void gf_setApfFlagSetting(ApfSetting SETTING, bool VALUE);
// Sets MAX_FIT_FL (hours) and selects its list entry.
void gf_setMaxFitHours(float HOURS);
// Sets parking_percentage and selects its list entry.
void gf_setParkingPercentage(int VALUE);
// Stand count of the airport in the airports database (0 when unknown).
int gf_airportStandCount(std::string_view ICAO);

// Applies the settings stored in a learned file, in their fixed order, logging each.
void gf_applyLearnedSettings(const pugi::xml_document& DOC);

// Window: the stand count, and publisher, handmade mark and quality text of the file read.
void gf_windowSetStandCount(int COUNT);
// Pushes setting values that differ from those at the airport file's reading into their controls.
void gf_refreshOptionControls();
void gf_windowShowApf(const std::string& PUBLISHER, bool HANDMADE, const std::string& QUALITY);
void gf_windowSetLearnedUpdates(uint32_t COUNT);

} // namespace qmt
