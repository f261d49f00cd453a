#include "core/WindowState.h"

#include "core/Parameters.h"
#include "core/StopFlags.h"

#include <cmath>

#include <map>
#include <mutex>

namespace qmt {

std::atomic<std::uint32_t> g_liveryCount{0};
std::atomic<std::uint32_t> g_simaddonFileCount{0};
std::atomic<std::uint32_t> g_thirdpartyFileCount{0};
std::atomic<bool> g_parkBusy{false};
std::atomic<std::uint64_t> g_repaintCount{0};

namespace {

// Guards the controls and the shown values; taken alone (no other lock is taken inside).
std::mutex s_windowMutex;
std::map<std::string, ControlState, std::less<>> s_controls;
WindowValues s_values;

// A repaint request is waiting; further repaints are folded into it.
std::atomic<bool> s_repaintPending{false};
// Asks the window to repaint; installed by the shell before any thread can repaint.
std::atomic<void (*)()> s_repaintHook{nullptr};

// The controls that a park calculation disables while it runs.
constexpr const char* PARK_CONTROLS[] = {
    "MAX_PARK_SEL", "parking_percentage", "CUSTOM_PARKING_PERCENTAGE", "WEEK", "PARK_SOFT",
    "RT_PARKTRAFFIC_ONLY", "INITIAL_LOAD_ONLY", "MAX_FIT_FL", "DESTINATION", PARK_CHECK_BUTTON,
    PARK_RENEW_BUTTON,
};

// The controls that RT_PARKTRAFFIC_ONLY switches off (they choose learned positions).
constexpr const char* PARK_SOURCE_CONTROLS[] = {"WEEK", "PARK_SOFT", "MAX_FIT_FL"};

template <typename CHANGE>
void lf_changeControl(const std::string& NAME, CHANGE&& APPLY)
{
    bool changed = false;
    {
        std::lock_guard lock(s_windowMutex);
        ControlState& control = s_controls[NAME];
        const ControlState before = control;
        APPLY(control);
        changed = !(before == control);
    }
    if (changed)
        gf_repaintWindow();
}

}  // namespace

void gf_repaintWindow()
{
    ++g_repaintCount;
    if (s_repaintPending.exchange(true))
        return;
    if (auto* hook = s_repaintHook.load())
        hook();
}

void gf_repaintHandled()
{
    s_repaintPending = false;
}

void gf_setRepaintHook(void (*HOOK)())
{
    s_repaintHook = HOOK;
}

WindowValues gf_windowValues()
{
    std::lock_guard lock(s_windowMutex);
    return s_values;
}

void gf_updateWindowValues(const std::function<void(WindowValues&)>& CHANGE)
{
    bool changed = false;
    {
        std::lock_guard lock(s_windowMutex);
        const WindowValues before = s_values;
        CHANGE(s_values);
        changed = !(before == s_values);
    }
    if (changed)
        gf_repaintWindow();
}

ControlState gf_controlState(const std::string& NAME)
{
    ControlState state;
    {
        std::lock_guard lock(s_windowMutex);
        const auto found = s_controls.find(NAME);
        if (found != s_controls.end())
            state = found->second;
    }
    // A parameter's control keeps its enabled state in the parameter itself.
    if (const Parameter* parameter = gf_parameterByName(NAME))
        state.enabled = parameter->control().isEnabled();
    return state;
}

void gf_enableControl(Parameter& PARAMETER, bool ENABLE)
{
    const bool before = PARAMETER.control().isEnabled();
    PARAMETER.control().enable(ENABLE);
    if (before != ENABLE)
        gf_repaintWindow();
}

void gf_enableControl(const std::string& NAME, bool ENABLE)
{
    if (Parameter* parameter = gf_parameterByName(NAME)) {
        gf_enableControl(*parameter, ENABLE);
        return;
    }
    lf_changeControl(NAME, [ENABLE](ControlState& CONTROL) { CONTROL.enabled = ENABLE; });
}

void gf_checkControl(const std::string& NAME, bool CHECKED)
{
    lf_changeControl(NAME, [CHECKED](ControlState& CONTROL) { CONTROL.checked = CHECKED; });
}

void gf_selectControlEntry(const std::string& NAME, int INDEX)
{
    lf_changeControl(NAME, [INDEX](ControlState& CONTROL) { CONTROL.selected = INDEX; });
}

void gf_setControlText(const std::string& NAME, const std::string& TEXT)
{
    lf_changeControl(NAME, [&TEXT](ControlState& CONTROL) { CONTROL.text = TEXT; });
}

void gf_disableParkControls()
{
    g_parkBusy = true;
    for (const char* name : PARK_CONTROLS)
        gf_enableControl(name, false);
}

void gf_enableParkControls()
{
    g_parkBusy = false;
    for (const char* name : PARK_CONTROLS)
        gf_enableControl(name, true);
    gf_enableParkSourceControls();
}

void gf_enableParkSourceControls()
{
    const bool enable = !RT_PARKTRAFFIC_ONLY.value() && !g_parkBusy;
    for (const char* name : PARK_SOURCE_CONTROLS)
        gf_enableControl(name, enable);
}

// A control shows the current value of its parameter.
void gf_pushToControl(Parameter& PARAMETER)
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


void gf_fillControls()
{
    for (Parameter* parameter : gf_allParameters())
        gf_pushToControl(*parameter);
    gf_enableParkSourceControls();
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

void gf_windowSetLiveryCount(std::uint32_t COUNT)
{
    g_liveryCount = COUNT;
}

void gf_windowSetSimaddonCount(std::uint32_t COUNT)
{
    g_simaddonFileCount = COUNT;
}

void gf_windowSetThirdpartyCount(std::uint32_t COUNT)
{
    g_thirdpartyFileCount = COUNT;
}

void gf_resetWindowForTests()
{
    {
        std::lock_guard lock(s_windowMutex);
        s_controls.clear();
        s_values = WindowValues{};
    }
    g_liveryCount = 0;
    g_simaddonFileCount = 0;
    g_thirdpartyFileCount = 0;
    g_parkBusy = false;
    g_repaintCount = 0;
    g_windowClosed = false;
    s_repaintPending = false;
}

}  // namespace qmt
