// The program entry: command line, single-instance guard, the stand-ins of the simulator and
// the traffic service, the window's message loop, and the end of the program.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qmt {

struct CommandLine
{
    std::string workFolder = ".";
    std::string dataFolder;      // bundled sample data ("" = none)
    std::string scenarioFile;    // "" = the first scenario of the data folder
    std::optional<std::chrono::milliseconds> duration;
    std::optional<double> sessionLifetime;  // seconds; the traffic service's sessions expire (0: never)
    std::string recordFile;      // "" = no track recording of the simulated simulator
    std::uint32_t recordEvery = 1;  // frames between an object's position lines (1: every frame)
    std::string airportFile;     // "" = the scenario airport's file comes from the archive
    std::string facilityFile;    // "" = the facility data of the data folder only
    std::optional<double> virtualTime;      // times real time; 0: as fast as the work allows
    std::optional<std::uint32_t> seed;      // of the stand-ins' draws (default: from the clock)
    std::optional<double> clockStart;       // seconds since 1970 at which virtual time starts
    // Hours the user stays at one airport in a soak (0: no soak): the stand-ins play a long day
    // of looped traffic and faults, with a user who moves between two airports.
    double soakStayHours = 0.0;
    std::optional<double> quitAt;           // seconds into the run: the simulator quits
    std::optional<double> newFlightAt;      // seconds into the run: the user loads a new flight
    std::string sampleFile;      // "" = no sampling of the process every minute
    bool production = false;
    bool help = false;
};

// Reads the arguments (without the program name). Nothing, with the error text, for a bad one.
std::optional<CommandLine> gf_parseCommandLine(const std::vector<std::string>& ARGS, std::string& ERROR);
// The usage text.
std::string gf_usageText();

// Runs the program; answers the process exit code.
int gf_quillonMain(const CommandLine& LINE);

// The window's message loop until WM_APP_EXIT, or until the run time is over or a stop signal
// came and the worker has closed down. Answers the exit code.
class TerminalView;
// The window's content is shown through VIEW when one is given.
int gf_runMessageLoop(std::optional<std::chrono::milliseconds> RUN_FOR, TerminalView* VIEW = nullptr);
// Raised by the stop signals (SIGINT, SIGTERM): the window is closed.
void gf_requestWindowClose();

}  // namespace qmt
