// The main window as a headless model: its controls (enabled, checked, selected value, text),
// its counters and shown values, a repaint counter, and the window commands, which only post
// requests that the worker carries out at its next tick.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qmt {

// Opens the manual / the folder of parameters.xml; a message box (logged) on failure.
void gf_openManual();
void gf_openParametersFolder();

// ---------------------------------------------------------------------------------------------
// Window commands: run on the window thread; they only post requests for the worker

// MAX_LIVE_SEL changed; when lowered, the worker removes the farthest live aircraft above the limit.
void gf_onMaxLiveSelChanged(int OLD_VALUE, int NEW_VALUE);
// The user asks for a new livery scan while the program runs.
void gf_onNewLiveryScan();
// The user chose another simulator (SIM_CHOICE entry).
void gf_onSimChoiceChanged(int CHOICE);
// The park-check command.
void gf_onParkCheck();
// A park command that asks for new static parking.
void gf_onParkRenew();
// RT_PARKTRAFFIC_ONLY switched.
void gf_onParkTrafficOnlyChanged(bool VALUE);
// DESTINATION applied.
void gf_onDestinationApplied(const std::string& CODE);
// The window is closed by the user.
void gf_onWindowClose();

// The controls whose use reaches the window as WM_COMMAND with one of these ids; the command takes
// the control's value (its text, check mark or selected entry) and calls the command above.
enum class WindowCommand : std::int64_t {
    maxLiveSel = 1,       // the MAX_LIVE_SEL edit was changed
    newLiveryScan = 2,    // the new livery scan button
    simChoice = 3,        // an entry of the SIM_CHOICE list was chosen
    parkCheck = 4,        // the park check button
    parkRenew = 5,        // the park renew button
    parkTrafficOnly = 6,  // the RT_PARKTRAFFIC_ONLY check box
    destinationApply = 7, // the apply button beside the DESTINATION edit
};
// The window procedure's handling of WM_COMMAND (window thread); an unknown id does nothing.
void gf_onWindowCommand(std::int64_t COMMAND);

// Installs the repaint hook that posts WM_APP_REPAINT to the window (program start, worker start).
void gf_installRepaintHook();

// Carries out the requests posted by the window (worker thread, once per tick).
void gf_carryOutWindowRequests();

void gf_resetWindowRequestsForTests();
// Replaces the removal of the farthest live aircraft that the MAX_LIVE_SEL request calls.
void gf_setFarthestRemoverForTests(std::function<bool(double)> REMOVER);

}  // namespace qmt
