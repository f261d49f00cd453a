#include "app/SoakSampler.h"

#include "app/Worker.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "engine/AcLists.h"
#include "liveries/LiveryTables.h"
#include "liveries/Matching.h"
#include "liveries/Regcodes.h"
#include "parking/ParkAirport.h"
#include "parking/StaticPositions.h"
#include "records/ParkAirportIdentity.h"
#include "records/StaticPosition.h"
#include "stands/StandTable.h"
#include "platform/sim_Control.h"
#include "simlink/SimQueues.h"

#include <fmt/format.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string_view>
#include <tuple>

#include <unistd.h>

namespace qmt {

namespace {

std::mutex s_mutex;  // guards s_path
std::string s_path;
// The sizes of the simulator link's queues at the last sample that could read them (worker only).
std::size_t s_notifications = 0;
std::size_t s_directRequests = 0;

// A live aircraft that is not parked and whose last report is this old has outlived every
// removal rule (a parked one stays until the parking limits take it).
constexpr double kStuckLiveSeconds = 30.0 * 60.0;

// "VmRSS" or "VmHWM" of the process, in kB.
long lf_statusKb(const char* FIELD)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(FIELD) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    }
    return 0;
}

std::uintmax_t lf_folderBytes(const std::filesystem::path& FOLDER)
{
    std::uintmax_t bytes = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(FOLDER, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error))
            bytes += it->file_size(error);
    }
    return bytes;
}

// The half-hours of stand use that the stand table knows, each (stand, day, registration, airline,
// model, half-hour) once: options that a save merges or that a read takes as one count the same,
// so a smaller number at the next visit of the airport is use that was lost.
std::size_t lf_knownHalfHours()
{
    std::set<std::tuple<std::string_view, std::uint32_t, std::string_view, std::uint32_t, std::size_t>> known;
    for (const Stand& stand : g_stands) {
        for (const StandOption& option : stand.options) {
            const std::uint32_t kind = (static_cast<std::uint32_t>(option.kind.airlineId) << 16) | option.kind.modelId;
            for (std::size_t slot = 0; slot < option.hours.size(); ++slot) {
                if (option.hours.test(slot))
                    known.emplace(stand.name, option.day, option.registration, kind, slot);
            }
        }
    }
    return known.size();
}

// Records older than their rules allow: live aircraft silent for half an hour away from a stand
// (the activation list counts its own ticks and is watched by its size).
std::size_t lf_stuckRecords()
{
    const double now = static_cast<double>(gf_nowSeconds() - gf_timeShift().count());
    std::size_t stuck = 0;
    for (const LiveAc& ac : g_liveAcs) {
        if (ac.flightState != FlightState::parked && ac.lastReportTime > 0.0 &&
            now - ac.lastReportTime > kStuckLiveSeconds) {
            ++stuck;
            gf_logLine("Sample: {} silent for {} minutes, {} and {}", gf_acDescription(ac),
                       static_cast<int>((now - ac.lastReportTime) / 60.0), gf_lifeStateName(ac.state),
                       gf_phaseName(ac.flightState));
        }
    }
    return stuck;
}

const char* const HEADER =
    "time,pid,rss_kb,peak_kb,live,static,adding_stack,live_adding,static_adding,removal,activation,blocked_ghosts,"
    "twin_check,no_match,chosen_liveries,not_created,stands,static_positions,live_parked,recent_callsigns,"
    "recent_hex_ids,park_airports,livery_table,regcode_liveries,sim_objects,notifications,direct_requests,"
    "stuck,park,known_half_hours,learned_bytes,log_bytes,late_p99_us,late_max_us,behind\n";

} // namespace

void gf_startSoakSampling(const std::string& PATH)
{
    std::lock_guard lock(s_mutex);
    s_path = PATH;
    std::error_code error;
    if (!std::filesystem::exists(PATH, error)) {
        std::ofstream out(PATH, std::ios::binary);
        out << HEADER;
    }
}

void gf_writeSoakSample()
{
    std::string path;
    {
        std::lock_guard lock(s_mutex);
        path = s_path;
    }
    if (path.empty())
        return;
    // The loop never waits for the simulator thread's mutexes: a queue busy at this minute keeps
    // the size it had at the last one.
    if (std::unique_lock lock(g_simNotifyMutex, std::try_to_lock); lock)
        s_notifications = g_simNotifications.size();
    if (std::unique_lock lock(g_simQueueMutex, std::try_to_lock); lock)
        s_directRequests = g_directRequests.size();
    const std::size_t notifications = s_notifications;
    const std::size_t directRequests = s_directRequests;
    const MainLoopTimes& times = gf_mainLoopTimes();
    // The park airport once its stand table is loaded; "" while none is (or while it loads).
    const std::string park = g_parkLoaded.load() != 0 ? gf_parkAirportCode() : std::string();
    std::error_code error;
    const auto logBytes = std::filesystem::file_size(g_logFilePath, error);
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << fmt::format("{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{}\n",
                       gf_nowSeconds() - gf_timeShift().count(), ::getpid(), lf_statusKb("VmRSS"), lf_statusKb("VmHWM"),
                       g_liveAcs.size(), g_staticAcs.size(), g_addingStack.size(), g_liveAddingDeque.size(),
                       g_staticAddingDeque.size(), g_removalDeque.size(), g_activationList.size(),
                       g_blockedGhosts.size(), g_twinCheckIds.size(), g_noMatchSet.size(), g_chosenLiveries.size(),
                       g_notCreatedTitles.size(), g_stands.size(), g_staticPositions.size(), g_liveParked.size(),
                       g_recentCallsigns.size(), g_recentHexIds.size(), g_parkAirports.size(), g_liveryTable.size(),
                       g_regcodeLiveries.size(), gf_simStandIn().aiObjectIds().size(), notifications,
                       directRequests, lf_stuckRecords(), park, park.empty() ? 0 : lf_knownHalfHours(),
                       lf_folderBytes(g_learnedPath), error ? 0 : logBytes,
                       times.lateness.percentile(0.99).count(), times.lateness.longest().count(),
                       times.realignedBehind);
}

} // namespace qmt
