// The manual and settings folders that the main window opens.
#include "app/MainWindow.h"
#include "core/Paths.h"
#include "platform/window_shell.h"

namespace qmt {

namespace {

constexpr const char* MANUAL_FOLDER = "manual";

}  // namespace

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
