#include "stands/ApfSettings.h"

#include "core/Airports.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "core/XmlMeta.h"
#include "feed/TrafficFeed.h"
#include "stands/AirportFile.h"

#include <fmt/format.h>

#include <array>
#include <cstdint>

namespace qmt {

namespace {

Parameter& lf_parameterOf(ApfSetting SETTING)
{
    switch (SETTING) {
    case ApfSetting::range: return RANGE;
    case ApfSetting::autoRange: return AUTO_RANGE;
    case ApfSetting::week: return WEEK;
    case ApfSetting::parkSoft: return PARK_SOFT;
    case ApfSetting::parkingPercentage: return parking_percentage;
    case ApfSetting::initialLoadOnly: return INITIAL_LOAD_ONLY;
    case ApfSetting::maxFit: return MAX_FIT;
    case ApfSetting::rtParkTrafficOnly: return RT_PARKTRAFFIC_ONLY;
    case ApfSetting::maxLiveSel: return MAX_LIVE_SEL;
    }
    return RANGE;
}

BoolParameter& lf_flagOf(ApfSetting SETTING)
{
    switch (SETTING) {
    case ApfSetting::autoRange: return AUTO_RANGE;
    case ApfSetting::week: return WEEK;
    case ApfSetting::parkSoft: return PARK_SOFT;
    case ApfSetting::initialLoadOnly: return INITIAL_LOAD_ONLY;
    case ApfSetting::rtParkTrafficOnly: return RT_PARKTRAFFIC_ONLY;
    default: break;
    }
    return WEEK;
}

void lf_logSetting(const Parameter& P, const std::string& VALUE)
{
    gf_logContinuation(fmt::format("{:24}: {}", P.name(), VALUE));
}

void lf_selectIntChoice(IntChoiceParameter& P)
{
    if (const auto index = P.currentIndex()) {
        gf_selectControlEntry(P.name(), static_cast<int>(*index));
    }
}

// A stored flag: the setting, its check box and the log line.
bool lf_applyFlag(const pugi::xml_document& DOC, ApfSetting SETTING)
{
    BoolParameter& p = lf_flagOf(SETTING);
    const auto value = gf_boolParameterByName(DOC, p.name());
    if (!value) {
        return false;
    }
    gf_setApfFlagSetting(SETTING, *value);
    lf_logSetting(p, p.text());
    return true;
}

} // namespace

std::string gf_apfSettingName(size_t I)
{
    return lf_parameterOf(static_cast<ApfSetting>(I)).name();
}

std::string gf_apfSettingText(size_t I)
{
    const auto setting = static_cast<ApfSetting>(I);
    if (setting == ApfSetting::maxFit) {
        return fmt::format("{}", gf_roundNarrow<int>(2.0 * static_cast<double>(MAX_FIT_FL.value())) - 1);
    }
    return lf_parameterOf(setting).text();
}

void gf_setApfFlagSetting(ApfSetting SETTING, bool VALUE)
{
    BoolParameter& p = lf_flagOf(SETTING);
    p.set(VALUE);
    gf_checkControl(p.name(), VALUE);
}

void gf_setMaxFitHours(float HOURS)
{
    if (!MAX_FIT_FL.set(HOURS)) {
        gf_logWarning(fmt::format("{}: {} is not one of its choices, {} used", MAX_FIT_FL.name(), HOURS,
                                  MAX_FIT_FL.text()));
    }
    if (const auto index = MAX_FIT_FL.currentIndex()) {
        gf_selectControlEntry(MAX_FIT_FL.name(), static_cast<int>(*index));
    }
}

void gf_setParkingPercentage(int VALUE)
{
    if (!parking_percentage.set(VALUE)) {
        gf_logWarning(fmt::format("{}: {} is not one of its choices, {} used", parking_percentage.name(), VALUE,
                                  parking_percentage.text()));
    }
    lf_selectIntChoice(parking_percentage);
}

int gf_airportStandCount(std::string_view ICAO)
{
    const auto airport = gf_airportByCode(ICAO);
    return airport ? static_cast<int>(airport->stands) : 0;
}

void gf_applyLearnedSettings(const pugi::xml_document& DOC)
{
    if (const auto v = gf_takeIntParameter(DOC, MAX_LIVE_SEL.name(), "learned file")) {
        MAX_LIVE_SEL.set(*v);
        gf_setControlText(MAX_LIVE_SEL.name(), MAX_LIVE_SEL.text());
        lf_logSetting(MAX_LIVE_SEL, MAX_LIVE_SEL.text());
    }
    if (const auto v = gf_takeIntParameter(DOC, RANGE.name(), "learned file")) {
        RANGE.set(*v);
        gf_setRange(*v);
        gf_enableControl(RANGE.name(), true);
        lf_logSetting(RANGE, RANGE.text());
    }
    if (lf_applyFlag(DOC, ApfSetting::autoRange)) {
        gf_switchAutoRange();
    }
    if (const auto v = gf_takeIntParameter(DOC, parking_percentage.name(), "learned file")) {
        gf_setParkingPercentage(*v);
        lf_logSetting(parking_percentage, parking_percentage.text());
    } else {
        gf_setParkingPercentage(30);
    }
    lf_applyFlag(DOC, ApfSetting::week);
    lf_applyFlag(DOC, ApfSetting::parkSoft);
    if (const auto v = gf_takeIntParameter(DOC, MAX_FIT.name(), "learned file")) {
        const int fit = MAX_FIT.set(*v);
        MAX_FIT_FL.set(gf_dropdownValue(fit));
        gf_selectMaxFitEntry();
        gf_logContinuation(fmt::format("{:24}: {} (max number of half hours, is {:.1F} hrs decimal)", MAX_FIT.name(),
                                       fit, static_cast<double>(MAX_FIT_FL.value())));
    }
    if (lf_applyFlag(DOC, ApfSetting::rtParkTrafficOnly)) {
        gf_enableParkSourceControls();
    }
    if (lf_applyFlag(DOC, ApfSetting::initialLoadOnly)) {
        gf_enableControl(PARK_RENEW_BUTTON, !INITIAL_LOAD_ONLY.value());
    }
}

void gf_windowSetStandCount(int COUNT)
{
    gf_updateWindowValues([COUNT](WindowValues& V) { V.standCount = COUNT; });
}

void gf_windowShowApf(const std::string& PUBLISHER, bool HANDMADE, const std::string& QUALITY)
{
    gf_updateWindowValues([&](WindowValues& V) {
        V.publisher = PUBLISHER;
        V.handmade = HANDMADE;
        V.qualityText = QUALITY;
    });
}

void gf_windowSetLearnedUpdates(uint32_t COUNT)
{
    gf_updateWindowValues([COUNT](WindowValues& V) { V.learnedUpdates = COUNT; });
}

void gf_refreshOptionControls()
{
    for (std::size_t i = 0; i < kApfSettingCount; ++i) {
        Parameter* parameter = gf_parameterByName(g_apfSettingNames[i]);
        if (parameter != nullptr && parameter->text() != g_apfSettingsAtRead[i])
            gf_pushToControl(*parameter);
    }
}

} // namespace qmt
