#include "app/Program.h"

#include "app/TerminalView.h"
#include "app/TrackRecording.h"

#include "app/MainWindow.h"
#include "app/SoakSampler.h"
#include "app/Worker.h"
#include "core/Clock.h"
#include "core/Geo.h"
#include "core/Random.h"
#include "core/Log.h"
#include "core/LoopClock.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/StopFlags.h"
#include "core/ThreadName.h"
#include "core/WindowState.h"
#include "feed/TrafficFeed.h"
#include "platform/sim_Control.h"
#include "platform/sim_install.h"
#include "platform/standin_meter.h"
#include "platform/traffic_scenario.h"
#include "platform/traffic_standin.h"
#include "platform/window_instance.h"
#include "platform/window_messages.h"
#include "stands/ApfLookup.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <fstream>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include <unistd.h>

namespace qmt {

namespace {

constexpr const char* INSTANCE_NAME = "Local\\$Quillon$";
constexpr const char* USER_CALLSIGN = "PH-QLN";
constexpr double kUserWingSpanFt = 117.4;
// A scenario farther than this from the scripted user aircraft is played around its own apron.
constexpr double kScenarioReachNm = 50.0;
constexpr std::chrono::milliseconds kMessageWait{100};

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
    if (s_worker.joinable()) {
        const LoopBlocked joining;
        s_worker.join();
    }
    s_workerRunning = true;
    LoopThread::announce();
    s_worker = std::thread([AUTOMATIC_RESTART] {
        gf_nameThisThread("Worker");
        const LoopThread keepsTime;
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
    return std::chrono::duration<double>(gf_unshiftedNow().time_since_epoch()).count();
}

// The airport of the facility data that is nearest to the scenario's, other than it: the
// user's second airport in a soak.
std::optional<UserScriptPoint> lf_secondAirportOf(const CommandLine& LINE, const std::string& FIRST)
{
    std::optional<UserScriptPoint> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(LINE.dataFolder) / "facilities", error)) {
        const std::string code = entry.path().stem().string();
        if (code == FIRST || entry.path().extension() != ".json")
            continue;
        std::ifstream in(entry.path());
        const nlohmann::json airport = nlohmann::json::parse(in, nullptr, false);
        // An airport without stands gives the park airport nothing to do.
        if (!airport.is_object() || airport.value("parkings", nlohmann::json::array()).empty())
            continue;
        UserScriptPoint point;
        point.latitude = airport.value("lat", 0.0);
        point.longitude = airport.value("lon", 0.0);
        point.altitudeFt = airport.value("altitude_m", 0.0) * 3.280839895013123;
        if (!found)
            found = point;
    }
    return found;
}

// The user of a soak: at the scenario's airport, then every few hours a flight of a quarter of an
// hour to the other one, and back.
void lf_scriptSoakUser(SimStandIn& SIM, const UserScriptPoint& HOME, const UserScriptPoint& AWAY, double STAY_HOURS)
{
    constexpr double kFlightSeconds = 900.0;
    constexpr double kUserCruiseFt = 3000.0;
    const double stay = std::max(STAY_HOURS * 3600.0, 2.0 * kFlightSeconds);
    std::vector<UserScriptPoint> script;
    for (int leg = 0; leg < 200; ++leg) {
        UserScriptPoint from = leg % 2 == 0 ? HOME : AWAY;
        UserScriptPoint to = leg % 2 == 0 ? AWAY : HOME;
        from.onGround = to.onGround = true;
        from.groundSpeedKt = to.groundSpeedKt = 0.0;
        const double end = (leg + 1) * stay;
        from.seconds = leg * stay;
        script.push_back(from);
        from.seconds = end - kFlightSeconds;
        script.push_back(from);
        UserScriptPoint up = from;
        up.seconds += 30.0;
        up.onGround = false;
        up.altitudeFt += kUserCruiseFt;
        up.groundSpeedKt = 250.0;
        script.push_back(up);
        UserScriptPoint down = to;
        down.seconds = end - 30.0;
        down.onGround = false;
        down.altitudeFt += kUserCruiseFt;
        down.groundSpeedKt = 250.0;
        script.push_back(down);
        to.seconds = end;
        script.push_back(to);
    }
    SIM.setUserScript(std::move(script));
}

// The faults of a soak's simulator and the times of a quit and a new flight.
void lf_setUpSimFaults(const CommandLine& LINE, SimStandIn& SIM)
{
    if (LINE.soakStayHours > 0.0)
        SIM.setFailedCreatesPerThousand(2);
    const auto at = [](double SECONDS) {
        return gf_loopNow() + std::chrono::duration_cast<LoopTime::duration>(std::chrono::duration<double>(SECONDS));
    };
    if (LINE.quitAt)
        SIM.setQuitAt(at(*LINE.quitAt));
    if (LINE.newFlightAt)
        SIM.setNewFlightAt(at(*LINE.newFlightAt));
}

// The user aircraft stands on the apron of the scenario's airport: the middle of its parked
// traffic (of all its reports when nothing is parked).
UserScriptPoint lf_userPointOf(const Scenario& SCENARIO, const ScenarioHeadFacts& FACTS)
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
        lat = FACTS.latSum;
        lon = FACTS.lonSum;
        count = FACTS.liveReports;
    }
    if (count > 0) {
        point.latitude = lat / static_cast<double>(count);
        point.longitude = lon / static_cast<double>(count);
    }
    point.onGround = true;
    return point;
}

// The user's aircraft flies the scenario's script; a scenario without one puts it on its apron.
void lf_placeUser(SimStandIn& SIM, const Scenario& SCENARIO, const ScenarioHeadFacts& FACTS)
{
    if (SCENARIO.user.empty()) {
        SIM.setUserAircraft(lf_userPointOf(SCENARIO, FACTS), kUserWingSpanFt, USER_CALLSIGN);
        return;
    }
    std::vector<UserScriptPoint> script;
    for (const ScenarioUserPoint& p : SCENARIO.user)
        script.push_back({p.time, p.lat, p.lon, p.altitudeFt, p.headingDeg, p.groundSpeedKt, p.onGround});
    SIM.setUserAircraft(script.front(), kUserWingSpanFt, USER_CALLSIGN);
    SIM.setUserScript(std::move(script));
}

// The airport file given on the command line stands in for the archive's file of the scenario's
// airport. False with the message when it cannot be used.
bool lf_giveAirportFile(const CommandLine& LINE, const std::string& AIRPORT, std::string& ERROR)
{
    if (LINE.airportFile.empty())
        return true;
    std::error_code error;
    if (AIRPORT.empty()) {
        ERROR = "--airport-file needs a scenario whose header names its airport";
        return false;
    }
    if (!std::filesystem::is_regular_file(LINE.airportFile, error)) {
        ERROR = fmt::format("cannot read the airport file {}", LINE.airportFile);
        return false;
    }
    gf_setGivenAirportFile(AIRPORT, std::filesystem::absolute(LINE.airportFile, error));
    gf_logLine("Airport file of {}: {}", AIRPORT, LINE.airportFile);
    return true;
}

// The traffic service playing the scenario with the roughness of the real one, its live reports
// read from the file as they become due (a file whose reports are not in time order is read whole
// and sorted). False (with the message) when the scenario cannot be read.
bool lf_setUpTrafficStandIn(const CommandLine& LINE, SimStandIn& SIM, std::uint32_t SEED, std::string& ERROR)
{
    const std::filesystem::path scenarioPath = lf_scenarioPath(LINE);
    if (scenarioPath.empty())
        return true;
    ScenarioParseResult result;
    ScenarioHeadFacts facts;
    {
        const StandInScope scope(StandInPart::traffic);
        if (!gf_readScenarioHead(scenarioPath, result, facts, ERROR))
            return false;
        if (!facts.inTimeOrder) {
            gf_logLine("Traffic scenario {}: reports not in time order, read whole", scenarioPath.filename().string());
            if (!gf_readScenarioFile(scenarioPath, result, ERROR))
                return false;
        }
    }
    for (const ScenarioLineError& lineError : result.errors)
        gf_logWarning("{}:{} {}", scenarioPath.string(), lineError.line, lineError.message);
    if (!lf_giveAirportFile(LINE, result.scenario.airport, ERROR))
        return false;
    lf_placeUser(SIM, result.scenario, facts);
    if (LINE.soakStayHours > 0.0) {
        const std::optional<UserScriptPoint> away = lf_secondAirportOf(LINE, result.scenario.airport);
        if (away) {
            lf_scriptSoakUser(SIM, lf_userPointOf(result.scenario, facts), *away, LINE.soakStayHours);
            gf_logLine("Soak: the user moves between {} and a second airport every {} hours",
                       result.scenario.airport, LINE.soakStayHours);
        }
    }
    if (!result.scenario.airport.empty()) {
        const std::string elevation = SIM.setGroundElevationOf(result.scenario.airport);
        if (!elevation.empty())
            gf_logWarning("{}", elevation);
    }
    // The real service's sessions last hours; a scenario or the command line may say otherwise.
    const double lifetime = LINE.sessionLifetime.value_or(result.scenario.sessionLifetimeSeconds > 0.0
                                                              ? result.scenario.sessionLifetimeSeconds
                                                              : kRealSessionLifetimeSeconds);
    gf_logLine("Traffic scenario {} ({} reports, {} parked); stand-ins seeded with {}{}",
               scenarioPath.filename().string(), facts.liveReports, result.scenario.parked.size(), SEED,
               lifetime > 0.0 ? fmt::format(", service sessions expire after {} s", lifetime) : std::string());
    const auto sleep = [](std::chrono::milliseconds DELAY) { gf_loopSleepFor(DELAY); };
    ServiceBehaviour behaviour = gf_realServiceBehaviour(SEED, lifetime);
    behaviour.loop = LINE.soakStayHours > 0.0;
    auto source = facts.inTimeOrder
                      ? std::make_shared<ScenarioTrafficSource>(
                            std::move(result.scenario),
                            std::make_unique<ScenarioReportStream>(scenarioPath, facts.lastReportTime), lf_epochSeconds,
                            sleep, behaviour)
                      : std::make_shared<ScenarioTrafficSource>(std::move(result.scenario), lf_epochSeconds, sleep,
                                                                behaviour);
    gf_setRecordingClock([source] { return source->scenarioTime(); });
    gf_setTrafficSource(std::move(source));
    gf_startStandInLog();
    return true;
}

// The simulated simulator (with a data folder the way a user meets a real one: late, lost and
// out-of-order answers, its own removals) and the traffic service playing the scenario with the
// roughness of the real one. False (with the message) when the sample data or the scenario
// cannot be read.
bool lf_setUpStandIns(const CommandLine& LINE, std::string& ERROR)
{
    SimStandIn& sim = gf_simStandIn();
    const auto seed = LINE.seed.value_or(
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    if (LINE.seed)
        gf_seedThreadRngs(seed);
    if (!LINE.dataFolder.empty()) {
        ERROR = gf_setUpSimStandIn(LINE.dataFolder, seed);
        // The simulated installation: UserCfg.opt names its packages and Community folder.
        gf_setSimUserFolder(std::filesystem::path(LINE.dataFolder) / "simulator");
        // Our download site: the archive of airport files that the airport scan's links name.
        std::error_code siteError;
        const std::filesystem::path site =
            std::filesystem::absolute(std::filesystem::path(LINE.dataFolder) / "site", siteError);
        if (!siteError && std::filesystem::is_directory(site, siteError))
            gf_setArchiveBaseUrl("file://" + site.generic_string() + "/");
        if (!ERROR.empty())
            return false;
    } else {
        sim.reset();
        sim.setRunning(true);
        sim.setCallRecording(false);
        sim.setFreeRunning(true);
    }
    sim.setUserAircraft(UserScriptPoint{}, kUserWingSpanFt, USER_CALLSIGN);
    lf_setUpSimFaults(LINE, sim);
    if (!LINE.facilityFile.empty()) {
        ERROR = sim.addFacilityFile(LINE.facilityFile);
        if (!ERROR.empty())
            return false;
    }
    if (!LINE.recordFile.empty()) {
        ERROR = sim.startTrackRecording(LINE.recordFile, LINE.recordEvery);
        if (!ERROR.empty())
            return false;
        gf_logLine("Track recording {}", LINE.recordFile);
    }

    return lf_setUpTrafficStandIn(LINE, sim, seed, ERROR);
}

}  // namespace

std::string gf_usageText()
{
    return "usage: quillon [--work FOLDER] [--data FOLDER] [--scenario FILE] [--duration SECONDS]\n"
           "               [--session-lifetime SECONDS] [--record FILE] [--record-every FRAMES]\n"
           "               [--virtual-time N|max]\n"
           "               [--seed N] [--clock-start S] [--soak HOURS] [--quit-at S] [--new-flight-at S]\n"
           "               [--sample FILE] [--airport-file FILE] [--facility FILE]\n"
           "               [--production | --no-production]\n"
           "  --work FOLDER      working folder (Log.txt, input, output, airports); default: .\n"
           "  --data FOLDER      bundled sample data (scenarios, facilities)\n"
           "  --scenario FILE    traffic scenario to play (default: the first of DATA/scenarios)\n"
           "  --duration SECONDS run this long, then close down (default: until stopped)\n"
           "  --session-lifetime SECONDS  the traffic service's sessions expire this long after\n"
           "                     their login (default: the scenario's, else never)\n"
           "  --record FILE      write every object's track in the simulated simulator to FILE\n"
           "  --record-every FRAMES  an object's position every FRAMES frames (30 a second) and\n"
           "                     at each touchdown and lift-off, for a picture (default: 1)\n"
           "  --virtual-time N|max  run every clock N times faster than real time, or as fast\n"
           "                     as the work allows ('max')\n"
           "  --seed N           seed of the stand-ins' draws (default: from the clock)\n"
           "  --clock-start S    virtual time starts at S seconds since 1970 (default: now)\n"
           "  --soak HOURS       a long day: the scenario loops with fresh ids, the simulator\n"
           "                     refuses and loses creates, the user moves between two airports\n"
           "                     every HOURS\n"
           "  --quit-at S, --new-flight-at S  the simulator quits, or the user loads a new\n"
           "                     flight, S seconds into the run\n"
           "  --sample FILE      write the process's sizes to FILE every minute\n"
           "  --airport-file FILE  airport file (stands) of the scenario's airport, in place of the\n"
           "                     archive's\n"
           "  --facility FILE    facility data (JSON) of an airport for the simulated simulator, in\n"
           "                     place of DATA/facilities/ICAO.json\n"
           "  --production       end after the start-up checks\n";
}

namespace {

// A number of an option: above 0 (or 0 where ZERO_OK), at most 1e7, or nothing.
std::optional<double> lf_number(const std::string& VALUE, bool ZERO_OK, double LIMIT = 1.0e7)
{
    double number = 0.0;
    std::size_t used = 0;
    try {
        number = std::stod(VALUE, &used);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (used != VALUE.size() || !(number > 0.0 || (ZERO_OK && number == 0.0)) || number > LIMIT)
        return std::nullopt;
    return number;
}

// Stores the value of an option that takes one; false with the error text for a bad value.
bool lf_takeValue(CommandLine& LINE, const std::string& ARG, const std::string& VALUE, std::string& ERROR)
{
    if (ARG == "--work" || ARG == "--data" || ARG == "--scenario" || ARG == "--record" || ARG == "--sample" ||
        ARG == "--airport-file" || ARG == "--facility") {
        std::string& text = ARG == "--work" ? LINE.workFolder : ARG == "--data" ? LINE.dataFolder
                          : ARG == "--scenario" ? LINE.scenarioFile : ARG == "--record" ? LINE.recordFile
                          : ARG == "--airport-file" ? LINE.airportFile : ARG == "--facility" ? LINE.facilityFile
                                                                     : LINE.sampleFile;
        text = VALUE;
        return true;
    }
    if (ARG == "--soak") {
        const auto hours = lf_number(VALUE, false, 1000.0);
        LINE.soakStayHours = hours.value_or(0.0);
        if (!hours)
            ERROR = fmt::format("--soak needs the hours the user stays at one airport, not '{}'", VALUE);
        return hours.has_value();
    }
    if (ARG == "--virtual-time") {
        LINE.virtualTime = VALUE == "max" ? std::optional<double>(0.0) : lf_number(VALUE, false, 1.0e6);
        if (!LINE.virtualTime)
            ERROR = fmt::format("--virtual-time needs a factor above 0 or 'max', not '{}'", VALUE);
        return LINE.virtualTime.has_value();
    }
    if (ARG == "--record-every") {
        const auto frames = lf_number(VALUE, false, 100000.0);
        if (!frames || *frames != static_cast<double>(static_cast<std::uint32_t>(*frames))) {
            ERROR = fmt::format("--record-every needs a whole number of frames above 0, not '{}'", VALUE);
            return false;
        }
        LINE.recordEvery = static_cast<std::uint32_t>(*frames);
        return true;
    }
    // A lifetime of 0 switches the expiry off; a seed or a clock start may be 0 as well.
    const bool zeroOk = ARG == "--session-lifetime" || ARG == "--seed" || ARG == "--clock-start";
    const auto number = lf_number(VALUE, zeroOk, ARG == "--seed" || ARG == "--clock-start" ? 1.0e10 : 1.0e7);
    if (!number || (ARG == "--seed" && *number > 4294967295.0)) {
        ERROR = fmt::format("{} needs a number{} above 0, not '{}'", ARG,
                            ARG == "--seed" || ARG == "--clock-start" ? "" : " of seconds", VALUE);
        return false;
    }
    if (ARG == "--session-lifetime")
        LINE.sessionLifetime = *number;
    else if (ARG == "--seed")
        LINE.seed = static_cast<std::uint32_t>(*number);
    else if (ARG == "--clock-start")
        LINE.clockStart = *number;
    else if (ARG == "--quit-at")
        LINE.quitAt = *number;
    else if (ARG == "--new-flight-at")
        LINE.newFlightAt = *number;
    else
        LINE.duration = std::chrono::milliseconds(static_cast<std::int64_t>(*number * 1000.0));
    return true;
}

bool lf_takesValue(const std::string& ARG)
{
    static const char* const options[] = {"--work",    "--data",    "--scenario",      "--duration",
                                          "--session-lifetime", "--record", "--virtual-time", "--seed",
                                          "--clock-start", "--quit-at", "--new-flight-at", "--sample",
                                          "--soak", "--airport-file", "--facility", "--record-every"};
    return std::any_of(std::begin(options), std::end(options), [&](const char* O) { return ARG == O; });
}

}  // namespace

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
        if (!lf_takesValue(arg)) {
            ERROR = fmt::format("unknown option '{}'", arg);
            return std::nullopt;
        }
        if (i + 1 >= ARGS.size()) {
            ERROR = fmt::format("option '{}' needs a value", arg);
            return std::nullopt;
        }
        if (!lf_takeValue(line, arg, ARGS[++i], ERROR))
            return std::nullopt;
    }
    return line;
}

void gf_requestWindowClose()
{
    s_closeRequested = true;
}

int gf_runMessageLoop(std::optional<std::chrono::milliseconds> RUN_FOR, TerminalView* VIEW)
{
    const LoopTime start = gf_loopNow();
    s_closeRequested = false;
    gf_installRepaintHook();
    gf_postWindowMessage(WM_APP_STARTUP, 0);
    int exitCode = 0;
    bool closing = false;
    for (;;) {
        if (VIEW != nullptr)
            VIEW->refresh(std::chrono::steady_clock::now());
        const bool timeUp = RUN_FOR && gf_loopNow() - start >= *RUN_FOR;
        if (!closing && (timeUp || s_closeRequested)) {
            closing = true;
            if (timeUp && !s_closeRequested)
                gf_noteWindowCloseCause(fmt::format("DURATION REACHED ({} s)", RUN_FOR->count() / 1000.0));
            gf_onWindowClose();
        }
        // A worker that ended without a message (an error kept in the window) leaves nothing to wait for.
        if (closing && !s_workerRunning && gf_pendingWindowMessages() == 0) {
            exitCode = gf_exitCodeOf(gf_exitReason());
            break;
        }
        const auto message = gf_waitWindowMessage(kMessageWait);
        if (!message)
            continue;
        if (message->id == WM_APP_STARTUP && !closing) {
            lf_startWorker(message->param != 0);
        } else if (message->id == WM_APP_REPAINT) {
            gf_repaintHandled();
        } else if (message->id == WM_COMMAND) {
            gf_onWindowCommand(message->param);
        } else if (message->id == WM_APP_EXIT) {
            exitCode = static_cast<int>(message->param);
            break;
        }
    }
    if (!closing)
        gf_onWindowClose();
    if (s_worker.joinable()) {
        const LoopBlocked joining;
        s_worker.join();
    }
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
    std::string locked;
    if (!gf_acquireInstanceGuard(INSTANCE_NAME, work, &locked)) {
        // The window of the real program would simply not open; here the user must learn why.
        std::cerr << fmt::format("Quillon cannot start on the working folder {}: {}\n",
                                 work.string(), locked);
        return -1;
    }
    // Every clock of the run follows from here on, the log's first line included.
    if (LINE.virtualTime)
        gf_startVirtualTime(*LINE.virtualTime, LINE.clockStart);
    const LoopThread keepsTime;

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
    if (!LINE.sampleFile.empty())
        gf_startSoakSampling(LINE.sampleFile);

    std::signal(SIGINT, lf_onStopSignal);
    std::signal(SIGTERM, lf_onStopSignal);
    TerminalView view(stdout, ::isatty(::fileno(stdout)) != 0);
    const int exitCode = gf_runMessageLoop(LINE.duration, &view);
    gf_logStandInUse();
    if (LINE.virtualTime)
        gf_logLine("Virtual time: {} s in {} s of real time, {} forced steps", gf_virtualSecondsRun(),
                   gf_realSecondsRun(), gf_forcedVirtualSteps());
    gf_logLine("Quillon ends with exit code {}", exitCode);
    gf_simStandIn().stopTrackRecording();
    gf_closeLog();
    gf_releaseInstanceGuard();
    return exitCode;
}

}  // namespace qmt
