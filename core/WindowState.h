// The main window's state as the subsystems see it: its counters and shown values, its controls
// (enabled, checked, selected value, text) and the repaint request. The shell's window shows them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace qmt {

class Parameter;

// ---------------------------------------------------------------------------------------------
// Counters and values shown in the window

// "# liveries: {}" (shown when not 0); set by the livery Parts, then a repaint.
extern std::atomic<std::uint32_t> g_liveryCount;
// "# simaddon: {}" (add-on airport scan).
extern std::atomic<std::uint32_t> g_simaddonFileCount;
// "# thirdp: {}" (add-on airport scan).
extern std::atomic<std::uint32_t> g_thirdpartyFileCount;
// Static parking is being calculated or created; set and cleared with the park controls.
extern std::atomic<bool> g_parkBusy;
// Repaints asked for since start (WM_APP_REPAINT handled, or posted when no window runs).
extern std::atomic<std::uint64_t> g_repaintCount;
// The counters change only through these.
void gf_windowSetLiveryCount(std::uint32_t COUNT);
void gf_windowSetSimaddonCount(std::uint32_t COUNT);
void gf_windowSetThirdpartyCount(std::uint32_t COUNT);

// Values of the static parking shown in the window; repainted when they change.
struct WindowValues
{
    int wantedStatics = 0;          // wanted static count
    int staticsStanding = 0;        // static aircraft created and standing
    int wantedPercent = 0;          // and its share of the stands
    bool softMark = false;
    bool weekMark = false;
    float meanAgeStatic = -1.0f;    // mean hours parked of the static aircraft (-1: not shown)
    float meanAgeLiveParked = -1.0f;  // the same for live parked aircraft
    std::uint32_t learnedUpdates = 0;
    bool reservedMark = false;
    std::string parkAirportText;    // "EHAM (AMS)"
    std::string parkAirportName;
    int renewalMinutes = 0;
    std::string publisher;          // of the park airport's file
    bool handmade = false;
    int standCount = 0;
    std::string qualityText;        // the park airport's quality factor
    std::string flightStates;       // live aircraft by flight state ("taxi 2, flying 5")

    bool operator==(const WindowValues&) const = default;
};
// A copy of the values (any thread).
WindowValues gf_windowValues();
// Applies a change to the values under the window mutex; repaints when anything changed.
void gf_updateWindowValues(const std::function<void(WindowValues&)>& CHANGE);

// Asks the window to repaint: repaints asked for while one is pending fold into it.
void gf_repaintWindow();
// The window has repainted: the next gf_repaintWindow asks again.
void gf_repaintHandled();
// What asks the window to repaint (the shell installs it; without it repaints are only counted).
void gf_setRepaintHook(void (*HOOK)());

// ---------------------------------------------------------------------------------------------
// Controls: named by their parameter's name or by a button name

// Control names of the window that are not parameters.
inline constexpr const char* TBLO_ZIP_BUTTON = "tblo.zip";
inline constexpr const char* PARK_CHECK_BUTTON = "park check";
inline constexpr const char* PARK_RENEW_BUTTON = "park renew";
inline constexpr const char* BLOCKED_CALLSIGNS_EDIT = "blocked callsigns";

struct ControlState
{
    bool enabled = true;
    bool checked = false;
    int selected = -1;     // selected entry of a list or drop-down
    std::string text;      // text of an edit or label

    bool operator==(const ControlState&) const = default;
};

ControlState gf_controlState(const std::string& NAME);
void gf_enableControl(const std::string& NAME, bool ENABLE = true);
void gf_checkControl(const std::string& NAME, bool CHECKED);
void gf_selectControlEntry(const std::string& NAME, int INDEX);
void gf_setControlText(const std::string& NAME, const std::string& TEXT);
// Enables the window control of a control parameter (its ParameterControl holds the state).
void gf_enableControl(Parameter& PARAMETER, bool ENABLE = true);

// The controls that a park calculation switches off while it runs.
void gf_disableParkControls();
void gf_enableParkControls();
// Enables or disables the controls that RT_PARKTRAFFIC_ONLY switches off.
void gf_enableParkSourceControls();

// Every control takes the value of its parameter (start-up).
void gf_fillControls();
// A control shows the current value of its parameter.
void gf_pushToControl(Parameter& PARAMETER);
// Selects the MAX_FIT_FL entry that matches MAX_FIT.
void gf_selectMaxFitEntry();

void gf_resetWindowForTests();

}  // namespace qmt
