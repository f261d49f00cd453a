// Control functions of the main window that the other subsystems call.
#include "app/MainWindow.h"
#include "app/Worker.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "engine/AcRecords.h"
#include "feed/TrafficFeed.h"
#include "parking/AirportFile.h"
#include "platform/window_shell.h"

#include <cmath>
#include <map>

namespace qmt {

namespace {

constexpr const char* MANUAL_FOLDER = "manual";

// RANGE as the user set it while AUTO_RANGE is on (worker and window thread).
std::atomic<int> s_manualRange{-1};

// A control shows the current value of its parameter.
void lf_pushToControl(Parameter& PARAMETER)
{
    switch (PARAMETER.kind()) {
    case ParameterKind::Bool:
    case ParameterKind::BoolCtrl:
        gf_checkControl(PARAMETER.name(), static_cast<BoolParameter&>(PARAMETER).value());
        break;
    case ParameterKind::IntChoice: {
        const auto index = static_cast<IntChoiceParameter&>(PARAMETER).currentIndex();
        gf_selectControlEntry(PARAMETER.name(), index ? static_cast<int>(*index) : -1);
        break;
    }
    case ParameterKind::StringChoice: {
        const auto index = static_cast<StringChoiceParameter&>(PARAMETER).currentIndex();
        gf_selectControlEntry(PARAMETER.name(), index ? static_cast<int>(*index) : -1);
        break;
    }
    case ParameterKind::FloatChoice: {
        const auto index = static_cast<FloatChoiceParameter&>(PARAMETER).currentIndex();
        gf_selectControlEntry(PARAMETER.name(), index ? static_cast<int>(*index) : -1);
        break;
    }
    default:
        gf_setControlText(PARAMETER.name(), PARAMETER.text());
        break;
    }
}

}  // namespace

void gf_fillControls()
{
    for (Parameter* parameter : gf_allParameters())
        lf_pushToControl(*parameter);
    gf_enableParkSourceControls();
}

void gf_setRange(int VALUE)
{
    const int stored = RANGE.set(VALUE);
    gf_setControlText(RANGE.name(), RANGE.text());
    g_trafficRangeNm = static_cast<double>(stored);
}

void gf_switchAutoRange()
{
    if (AUTO_RANGE.value()) {
        s_manualRange = RANGE.value();
        gf_enableControl(RANGE, false);
        return;
    }
    const int manual = s_manualRange.exchange(-1);
    if (manual >= 0)
        gf_setRange(manual);
    gf_enableControl(RANGE, true);
}

void gf_selectMaxFitEntry()
{
    // An entry of h hours stands for the fit step of 2h - 1 half hours; without an exact
    // match the next larger entry is taken, else the largest.
    const auto& choices = MAX_FIT_FL.choices();
    if (choices.empty())
        return;
    std::size_t chosen = choices.size() - 1;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (std::lround(choices[i] * 2.0f) - 1 >= MAX_FIT.value()) {
            chosen = i;
            break;
        }
    }
    MAX_FIT_FL.set(choices[chosen]);
    gf_selectControlEntry(MAX_FIT_FL.name(), static_cast<int>(chosen));
}

void gf_refreshOptionControls()
{
    for (std::size_t i = 0; i < kApfSettingCount; ++i) {
        Parameter* parameter = gf_parameterByName(g_apfSettingNames[i]);
        if (parameter != nullptr && parameter->text() != g_apfSettingsAtRead[i])
            lf_pushToControl(*parameter);
    }
}

void gf_refreshBlockedCallsigns()
{
    gf_setControlText(BLOCKED_CALLSIGNS_EDIT, BLOCKED_CALLSIGNS.value());
    std::map<std::string, std::uint32_t> entries;
    for (const LiveAc& ac : g_liveAcs) {
        if (ac.state == AcState::active && !ac.callsign.empty())
            entries.emplace(ac.callsign, ac.objectId);
    }
    CALLSIGN_2_OBJECTID.setEntries(std::move(entries));
    gf_repaintWindow();
}

void gf_openManual()
{
    if (!gf_shellOpen(g_workPath / MANUAL_FOLDER))
        gf_messageBox("Quillon", "Could not open local folder with Manual");
}

void gf_openParametersFolder()
{
    if (!gf_shellOpen(g_configPath))
        gf_messageBox("Quillon", "Could not open folder with parameters.xml");
}

}  // namespace qmt
