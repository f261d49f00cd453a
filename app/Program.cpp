#include "app/Program.h"

#include "app/TerminalView.h"
#include "app/TrackRecording.h"

#include "app/MainWindow.h"
#include "app/Worker.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/StopFlags.h"
#include "core/ThreadName.h"
#include "core/WindowState.h"
#include "feed/TrafficFeed.h"
#include "platform/sim_Control.h"
#include "platform/sim_install.h"
#include "platform/traffic_scenario.h"
#include "platform/traffic_standin.h"
#include "platform/window_instance.h"
#include "platform/window_messages.h"
#include "stands/ApfLookup.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>
#include <thread>

#include <unistd.h>

namespace qmt {

namespace {

constexpr const char* INSTANCE_NAME = "Local\\$Quillon$";
constexpr const char* USER_CALLSIGN = "PH-QLN";
constexpr double USER_WING_SPAN_FT = 117.4;
// A scenario farther than this from the scripted user aircraft is played around its own apron.
constexpr double SCENARIO_REACH_NM = 50.0;
constexpr std::chrono::milliseconds MESSAGE_WAIT{100};

std::atomic<bool> s_closeRequested{false};
std::atomic<bool> s_workerRunning{false};
std::thread s_worker;

std::string lf_lower(std::string TEXT)
{
    std::transform(TEXT.begin(), TEXT.end(), TEXT.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return TEXT;
}

extern "C" void lf_onStopSignal(int)
{
    gf_requestWindowClose();
}

void lf_startWorker(bool AUTOMATIC_RESTART)
{
    if (s_worker.joinable())
        s_worker.join();
    s_workerRunning = true;
    s_worker = std::thread([AUTOMATIC_RESTART] {
        gf_nameThisThread("Worker");
        lf_startUpQuillon(AUTOMATIC_RESTART);
        s_workerRunning = false;
    });
}

// The scenario named on the command line, else the first one of the data folder.
std::filesystem::path lf_scenarioPath(const CommandLine& LINE)
{
    if (!LINE.scenarioFile.empty())
        return LINE.scenarioFile;
    if (LINE.dataFolder.empty())
        return {};
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(LINE.dataFolder) / "scenarios", error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".jsonl")
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::filesystem::path{} : found.front();
}

double lf_epochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The user aircraft stands on the apron of the scenario's airport: the middle of its parked
// traffic (of all its reports when nothing is parked).
UserScriptPoint lf_userPointOf(const Scenario& SCENARIO)
{
    UserScriptPoint point;
    double lat = 0.0;
    double lon = 0.0;
    std::size_t count = 0;
    for (const ScenarioParked& parked : SCENARIO.parked) {
        lat += parked.report.lat;
        lon += parked.report.lon;
        ++count;
    }
    if (count == 0) {
        for (const TrafficReport& report : SCENARIO.reports) {
            lat += report.lat;
            lon += report.lon;
            ++count;
        }
    }
    if (count > 0) {
        point.latitude = lat / static_cast<double>(count);
        point.longitude = lon / static_cast<double>(count);
    }
    point.onGround = true;
    return point;
}

// The user's aircraft flies the scenario's script; a scenario without one puts it on its apron.
void lf_placeUser(SimStandIn& SIM, const Scenario& SCENARIO)
{
    if (SCENARIO.user.empty()) {
        SIM.setUserAircraft(lf_userPointOf(SCENARIO), USER_WING_SPAN_FT, USER_CALLSIGN);
        return;
    }
    std::vector<UserScriptPoint> script;
    for (const ScenarioUserPoint& p : SCENARIO.user)
        script.push_back({p.time, p.lat, p.lon, p.altitudeFt, p.headingDeg, p.groundSpeedKt, p.onGround});
    SIM.setUserAircraft(script.front(), USER_WING_SPAN_FT, USER_CALLSIGN);
    SIM.setUserScript(std::move(script));
}

// The simulated simulator (with a data folder the way a user meets a real one: late, lost and
// out-of-order answers, its own removals) and the traffic service playing the scenario with the
// roughness of the real one. False (with the message) when the sample data or the scenario
// cannot be read.
bool lf_setUpStandIns(const CommandLine& LINE, std::string& ERROR)
{
    SimStandIn& sim = gf_simStandIn();
    const auto seed = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    if (!LINE.dataFolder.empty()) {
        ERROR = gf_setUpSimStandIn(LINE.dataFolder, seed);
        // The simulated installation: UserCfg.opt names its packages and Community folder.
        gf_setSimUserFolder(std::filesystem::path(LINE.dataFolder) / "simulator");
        // Our download site: the archive of airport files that the airport scan's links name.
        std::error_code siteError;
        const std::filesystem::path site =
            std::filesystem::absolute(std::filesystem::path(LINE.dataFolder) / "site", siteError);
        if (!siteError && std::filesystem::is_directory(site, siteError))
            g_archiveBaseUrl = "file://" + site.generic_string() + "/";
        if (!ERROR.empty())
            return false;
    } else {
        sim.reset();
        sim.setRunning(true);
        sim.setCallRecording(false);
        sim.setFreeRunning(true);
    }
    sim.setUserAircraft(UserScriptPoint{}, USER_WING_SPAN_FT, USER_CALLSIGN);
    if (!LINE.facilityFile.empty()) {
        ERROR = sim.addFacilityFile(LINE.facilityFile);
        if (!ERROR.empty())
            return false;
    }
    if (!LINE.recordFile.empty()) {
        ERROR = sim.startTrackRecording(LINE.recordFile);
        if (!ERROR.empty())
            return false;
        gf_logLine("Track recording {}", LINE.recordFile);
    }

    const std::filesystem::path scenarioPath = lf_scenarioPath(LINE);
    if (scenarioPath.empty())
        return true;
    ScenarioParseResult result;
    if (!gf_readScenarioFile(scenarioPath, result, ERROR))
        return false;
    for (const ScenarioLineError& lineError : result.errors)
        gf_logWarning("{}:{} {}", scenarioPath.string(), lineError.line, lineError.message);
    if (!LINE.airportFile.empty()) {
        std::error_code fileError;
        if (result.scenario.airport.empty()) {
            ERROR = "--airport-file needs a scenario whose header names its airport";
            return false;
        }
        if (!std::filesystem::is_regular_file(LINE.airportFile, fileError)) {
            ERROR = fmt::format("cannot read the airport file {}", LINE.airportFile);
            return false;
        }
        gf_setGivenAirportFile(result.scenario.airport, std::filesystem::absolute(LINE.airportFile, fileError));
        gf_logLine("Airport file of {}: {}", result.scenario.airport, LINE.airportFile);
    }
    lf_placeUser(sim, result.scenario);
    if (!result.scenario.airport.empty()) {
        const std::string elevation = sim.setGroundElevationOf(result.scenario.airport);
        if (!elevation.empty())
            gf_logWarning("{}", elevation);
    }
    const double lifetime = LINE.sessionLifetime.value_or(result.scenario.sessionLifetimeSeconds);
    gf_logLine("Traffic scenario {} ({} reports, {} parked); stand-ins seeded with {}{}",
               scenarioPath.filename().string(), result.scenario.reports.size(), result.scenario.parked.size(), seed,
               lifetime > 0.0 ? fmt::format(", service sessions expire after {} s", lifetime) : std::string());
    auto source = std::make_shared<ScenarioTrafficSource>(
        std::move(result.scenario), lf_epochSeconds,
        [](std::chrono::milliseconds DELAY) { std::this_thread::sleep_for(DELAY); },
        gf_realServiceBehaviour(seed, lifetime));
    gf_setRecordingClock([source] { return source->scenarioTime(); });
    gf_setTrafficSource(std::move(source));
    return true;
}

}  // namespace

std::string gf_usageText()
{
    return "usage: quillon [--work FOLDER] [--data FOLDER] [--scenario FILE] [--duration SECONDS]\n"
           "               [--session-lifetime SECONDS] [--record FILE] [--airport-file FILE]\n"
           "               [--facility FILE] [--production | --no-production]\n"
           "  --work FOLDER      working folder (Log.txt, input, output, airports); default: .\n"
           "  --data FOLDER      bundled sample data (scenarios, facilities)\n"
           "  --scenario FILE    traffic scenario to play (default: the first of DATA/scenarios)\n"
           "  --airport-file FILE  airport file (stands) of the scenario's airport, in place of the\n"
           "                     archive's\n"
           "  --facility FILE    facility data (JSON) of an airport for the simulated simulator, in\n"
           "                     place of DATA/facilities/ICAO.json\n"
           "  --duration SECONDS run this long, then close down (default: until stopped)\n"
           "  --session-lifetime SECONDS  the traffic service's sessions expire this long after\n"
           "                     their login (default: the scenario's, else never)\n"
           "  --record FILE      write every object's track in the simulated simulator to FILE\n"
           "  --production       end after the start-up checks\n";
}

std::optional<CommandLine> gf_parseCommandLine(const std::vector<std::string>& ARGS, std::string& ERROR)
{
    CommandLine line;
    for (std::size_t i = 0; i < ARGS.size(); ++i) {
        const std::string& arg = ARGS[i];
        const std::string lower = lf_lower(arg);
        if (lower == "--production" || lower == "/production") {
            line.production = true;
            continue;
        }
        if (lower == "--no-production" || lower == "/no-production")
            continue;
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            continue;
        }
        if (arg != "--work" && arg != "--data" && arg != "--scenario" && arg != "--duration"
            && arg != "--session-lifetime" && arg != "--record" && arg != "--airport-file" && arg != "--facility") {
            ERROR = fmt::format("unknown option '{}'", arg);
            return std::nullopt;
        }
        if (i + 1 >= ARGS.size()) {
            ERROR = fmt::format("option '{}' needs a value", arg);
            return std::nullopt;
        }
        const std::string& value = ARGS[++i];
        if (arg == "--work") {
            line.workFolder = value;
        } else if (arg == "--data") {
            line.dataFolder = value;
        } else if (arg == "--scenario") {
            line.scenarioFile = value;
        } else if (arg == "--record") {
            line.recordFile = value;
        } else if (arg == "--airport-file") {
            line.airportFile = value;
        } else if (arg == "--facility") {
            line.facilityFile = value;
        } else {
            double seconds = 0.0;
            std::size_t used = 0;
            try {
                seconds = std::stod(value, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            // A lifetime of 0 switches the expiry off.
            const bool lifetime = arg == "--session-lifetime";
            if (used != value.size() || !(seconds > 0.0 || (lifetime && seconds == 0.0)) || seconds > 1.0e7) {
                ERROR = fmt::format("{} needs a number of seconds above 0, not '{}'", arg, value);
                return std::nullopt;
            }
            if (lifetime)
                line.sessionLifetime = seconds;
            else
                line.duration = std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000.0));
        }
    }
    return line;
}

void gf_requestWindowClose()
{
    s_closeRequested = true;
}

int gf_runMessageLoop(std::optional<std::chrono::milliseconds> RUN_FOR, TerminalView* VIEW)
{
    const auto start = std::chrono::steady_clock::now();
    s_closeRequested = false;
    gf_installRepaintHook();
    gf_postWindowMessage(WM_APP_STARTUP, 0);
    int exitCode = 0;
    bool closing = false;
    for (;;) {
        if (VIEW != nullptr)
            VIEW->refresh(std::chrono::steady_clock::now());
        const bool timeUp = RUN_FOR && std::chrono::steady_clock::now() - start >= *RUN_FOR;
        if (!closing && (timeUp || s_closeRequested)) {
            closing = true;
            gf_onWindowClose();
        }
        // A worker that ended without a message (an error kept in the window) leaves nothing to wait for.
        if (closing && !s_workerRunning && gf_pendingWindowMessages() == 0) {
            exitCode = gf_exitCodeOf(gf_exitReason());
            break;
        }
        const auto message = gf_waitWindowMessage(MESSAGE_WAIT);
        if (!message)
            continue;
        if (message->id == WM_APP_STARTUP && !closing) {
            lf_startWorker(message->param != 0);
        } else if (message->id == WM_APP_REPAINT) {
            gf_repaintHandled();
        } else if (message->id == WM_APP_EXIT) {
            exitCode = static_cast<int>(message->param);
            break;
        }
    }
    if (!closing)
        gf_onWindowClose();
    if (s_worker.joinable())
        s_worker.join();
    if (VIEW != nullptr)
        VIEW->finish();
    return exitCode;
}

int gf_quillonMain(const CommandLine& LINE)
{
    std::error_code error;
    const std::filesystem::path work = std::filesystem::absolute(LINE.workFolder, error);
    if (error || !std::filesystem::is_directory(work)) {
        std::cerr << fmt::format("Quillon must be run from the {} folder!\n", LINE.workFolder);
        return 1;
    }
    gf_setWorkFolder(work);
    if (!gf_acquireInstanceGuard(INSTANCE_NAME, work))
        return -1;

    // The simulator named in the log's first line comes from the saved settings.
    gf_loadParameters(g_parametersPath);
    if (!gf_openLog(g_logFilePath, SIM_CHOICE.value() == 2020 ? "MSFS 2020" : "MSFS 2024")) {
        std::cerr << fmt::format("cannot open {}\n", g_logFilePath.string());
        gf_releaseInstanceGuard();
        return 1;
    }
    std::string standInError;
    if (!lf_setUpStandIns(LINE, standInError)) {
        gf_logWarning(standInError);
        std::cerr << standInError << "\n";
        gf_closeLog();
        gf_releaseInstanceGuard();
        return 2;
    }
    g_runOptions.workFolder = work.string();
    g_runOptions.dataFolder = LINE.dataFolder;
    g_runOptions.scenarioFile = LINE.scenarioFile;
    g_runOptions.production = LINE.production;
    g_runOptions.runFor = LINE.duration;

    std::signal(SIGINT, lf_onStopSignal);
    std::signal(SIGTERM, lf_onStopSignal);
    TerminalView view(stdout, ::isatty(::fileno(stdout)) != 0);
    const int exitCode = gf_runMessageLoop(LINE.duration, &view);
    gf_logLine("Quillon ends with exit code {}", exitCode);
    gf_simStandIn().stopTrackRecording();
    gf_closeLog();
    gf_releaseInstanceGuard();
    return exitCode;
}

}  // namespace qmt
