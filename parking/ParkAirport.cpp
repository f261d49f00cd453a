#include "parking/ParkAirport.h"

#include "core/Clock.h"
#include "core/FileCommit.h"
#include "core/Files.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/StatusLine.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "core/XmlMeta.h"
#include "engine/AcLists.h"
#include "engine/Commands.h"
#include "engine/RemovalRules.h"
#include "feed/TrafficFeed.h"
#include "parking/ParkChange.h"
#include "parking/Reconcile.h"
#include "parking/StandSearch.h"
#include "parking/StaticAircraft.h"
#include "parking/StaticPositions.h"
#include "records/UserAircraft.h"
#include "stands/AirportFile.h"
#include "stands/ApfLookup.h"
#include "stands/ApfSettings.h"
#include "stands/LearnedApf.h"
#include "stands/StandTable.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>
#include <cmath>
#include <exception>
#include <system_error>

namespace qmt {

std::vector<ParkAirport> g_parkAirports;
uint8_t g_parkSwitchPending = 0;
std::atomic<uint8_t> g_parkCheckRequested{0};

namespace fs = std::filesystem;

namespace {

constexpr double kPositionEpsilonDeg = 1e-8;
constexpr double kKnownPositionDeg = 0.0001;
constexpr double kStandStillKt = 2.0;
constexpr size_t kManyParkAirports = 3000;
// Bounds of the user's list: 3000 airports take some 60 KB, and a stand name of an airport file
// is a few characters.
constexpr std::uintmax_t kMaxParkListBytes = 4u << 20;
constexpr size_t kMaxReservedStandBytes = 64;

// The user position of the last sort; a new list forgets it, so that the list is sorted again.
struct SortedAt {
    bool valid = false;
    double latitude = 0.0;
    double longitude = 0.0;
};
SortedAt s_sortedAt;

// Airports whose airport file could not be had in this session (not in the archive, not
// readable): they are not tried again before the next session, so the failure is said once.
std::set<IcaoCode> s_withoutFile;

fs::path lf_myParkAirportsPath()
{
    return g_airportsPath / kMyParkAirportsFile;
}

const std::string& lf_fileName()
{
    static const std::string name(kMyParkAirportsFile);
    return name;
}

std::string lf_lineOf(const ParkAirport& ENTRY)
{
    return fmt::format("{}{}", ENTRY.code.str(),
                       ENTRY.reservedStand.empty() ? std::string() : fmt::format(",{}", ENTRY.reservedStand));
}

bool lf_isListed(IcaoCode CODE)
{
    return std::any_of(g_parkAirports.begin(), g_parkAirports.end(),
                       [CODE](const ParkAirport& P) { return P.code == CODE; });
}

bool lf_firstIsParkAirport()
{
    return !g_parkAirports.empty() && gf_parkAirportSet() && g_parkAirports.front().code == g_parkAirport.icao;
}

bool lf_userPositionKnown(double LATITUDE, double LONGITUDE)
{
    return std::fabs(LATITUDE) > kKnownPositionDeg || std::fabs(LONGITUDE) > kKnownPositionDeg;
}

bool lf_inSight(double DISTANCE_NM)
{
    return DISTANCE_NM <= AIRP_RANGE.value() && g_userAc.altitude <= AIRP_HEIGHT.value();
}

void lf_setReservedMark(const std::string& STAND, uint8_t RESERVED)
{
    for (Stand& stand : g_stands) {
        if (!STAND.empty() && stand.name == STAND) {
            stand.reserved = RESERVED;
        }
    }
}

// Every airport of the add-on folder that has an airport file of its own.
void lf_scanParkAirportFolder()
{
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(g_myThirdpartyPath, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        // Any other file of the folder is none of ours.
        const std::optional<IcaoCode> code = IcaoCode::tryParse(file.stem().string());
        if (!code || lf_isListed(*code)) {
            continue;
        }
        if (const std::optional<AirportEntry> airport = gf_airportByCode(code->view())) {
            g_parkAirports.push_back(ParkAirport{{}, airport->latitude, airport->longitude, 0.0, *code});
        }
    }
}

void lf_announceCalculating(uint8_t SHOW)
{
    gf_disableParkControls();
    gf_startGatheringTraffic();
    if (SHOW != 0) {
        gf_setStatus("Calculating static parked aircraft ...");
    }
}

void lf_chooseParkAirport(double LATITUDE, double LONGITUDE, uint8_t FIRST)
{
    if (g_userOnGround) {
        const std::optional<IcaoCode> code = gf_nearestAirport(LatLon{LATITUDE, LONGITUDE});
        if (!code) {
            gf_setStatus("User aircraft on the ground, no RT supported airport in sight", true);
            return;
        }
        const std::string text = gf_airportCodeText(*code);
        if (s_withoutFile.contains(*code)) {
            return;
        }
        if (!gf_apfExists(code->view())) {
            gf_setStatus(fmt::format("User aircraft on the ground at {}, no airport file found", text), true);
            return;
        }
        gf_logLine("User aircraft on the ground at {}", text);
        if (!lf_setParkAirport(*code)) {
            return;
        }
        if (FIRST != 0) {
            lf_switchParkAirport();
        } else {
            g_parkSwitchPending = 1;
            lf_announceCalculating(0);
        }
        return;
    }
    if (g_parkAirports.empty()) {
        return;
    }
    const ParkAirport next = g_parkAirports.front();
    if (s_withoutFile.contains(next.code) || !lf_inSight(next.distance) || !lf_setParkAirport(next.code)) {
        return;
    }
    gf_setStatus(fmt::format("{} in sight at {:.1F} nm", next.code.str(), next.distance), true);
    g_parkSwitchPending = 1;
    lf_announceCalculating(0);
}

void lf_checkParkAirportInSight(double LATITUDE, double LONGITUDE)
{
    if (g_userOnGround) {
        return;
    }
    const double d = gf_distanceNm(LATITUDE, LONGITUDE, g_parkAirport.latitude, g_parkAirport.longitude);
    const std::string current = gf_airportCodeText(g_parkAirport.icao);
    if (lf_inSight(d)) {
        if (g_parkAirports.empty() || g_parkAirports.front().code == g_parkAirport.icao) {
            return;
        }
        const ParkAirport& next = g_parkAirports.front();
        if (lf_inSight(next.distance) && next.distance <= d) {
            gf_logLine("\n{} {} is in sight ({:.1F} nm), parked aircraft at {} will be removed first",
                       gf_shiftedTimeText(), next.code.str(), next.distance, current);
            gf_resetParkAirport();
        }
        return;
    }
    gf_logLine("\n{} {} is out of sight ({:.1F} nm), parked aircraft will be removed", gf_shiftedTimeText(), current, d);
    gf_resetParkAirport();
}

} // namespace

bool lf_readMyParkAirports()
{
    g_parkAirports.clear();
    s_sortedAt = SortedAt{};
    const fs::path path = lf_myParkAirportsPath();
    const FileLines file = gf_readFileLines(path, kMaxParkListBytes);
    if (file.error == "too_large") {
        // Kept as it is: nothing of it is read, and nothing is written over it.
        gf_logWarning("{} is larger than {} bytes, not read", path.string(), kMaxParkListBytes);
    } else if (!file.ok()) {
        gf_logLine(path.string() + " not found");
    }
    for (const std::string& raw : file.lines) {
        const std::string line = gf_trim(raw);
        if (line.empty()) {
            continue;
        }
        const std::vector<std::string> fields = gf_splitTrim(line, ',');
        if (fields.size() > 2) {
            gf_logWarning("{}:{} wrong syntax, skipped", lf_fileName(), gf_excerpt(line));
            continue;
        }
        IcaoCode code;
        try {
            code = IcaoCode(fields[0]);
        } catch (const std::invalid_argument& e) {
            // One bad line costs only that line.
            gf_logWarning("{}: {}", "lf_readMyParkAirports", fmt::format("{} ({})", e.what(), gf_excerpt(line)));
            continue;
        }
        if (lf_isListed(code)) {
            gf_logWarning("{}:{} double, skipped", lf_fileName(), code.str());
            continue;
        }
        if (fields.size() == 2 && fields[1].size() > kMaxReservedStandBytes) {
            gf_logWarning("{}:{} stand name longer than {} bytes, skipped", lf_fileName(), gf_excerpt(line),
                          kMaxReservedStandBytes);
            continue;
        }
        const std::optional<AirportEntry> airport = gf_airportByCode(code.view());
        if (!airport) {
            gf_setStatus(fmt::format("airport {} is unknown", code.str()), true);
            continue;
        }
        g_parkAirports.push_back(
            ParkAirport{fields.size() == 2 ? fields[1] : std::string(), airport->latitude, airport->longitude, 0.0, code});
    }
    if (!g_parkAirports.empty()) {
        gf_logLine("\n{:5} park airport{} read from '{}'", g_parkAirports.size(), gf_plural(g_parkAirports.size()),
                   lf_fileName());
        if (g_parkAirports.size() > kManyParkAirports) {
            gf_setStatus(fmt::format("Warning: There are a lot of airports ({}), that will cost {} much cpu time and "
                                     "may cause stutters",
                                     g_parkAirports.size(), kProgramName),
                         true);
        }
    }
    lf_scanParkAirportFolder();
    return true;
}

bool lf_updateMyParkAirportStand(std::string& LINE, const ParkAirport& ENTRY)
{
    const std::string_view first = std::string_view(LINE).substr(0, LINE.find(','));
    if (first != ENTRY.code.view()) {
        return false;
    }
    LINE = lf_lineOf(ENTRY);
    return true;
}

void lf_writeMyParkAirports()
{
    if (g_parkAirports.empty()) {
        return;
    }
    const ParkAirport& entry = g_parkAirports.front();
    const std::string line = lf_lineOf(entry);
    const fs::path path = lf_myParkAirportsPath();
    std::error_code ec;
    std::vector<std::string> lines;
    if (!fs::exists(path, ec)) {
        lines.push_back(line);
        gf_logLine("{} created with {}", lf_fileName(), gf_excerpt(line));
    } else {
        FileLines file = gf_readFileLines(path, kMaxParkListBytes);
        if (!file.ok()) {
            // The user's list must not be replaced by one line.
            gf_logWarning("{}: {} could not be read, not written", "lf_writeMyParkAirports", path.string());
            return;
        }
        lines = std::move(file.lines);
        bool updated = false;
        for (std::string& existing : lines) {
            if (lf_updateMyParkAirportStand(existing, entry)) {
                gf_logLine("{}:{} updated stand", lf_fileName(), gf_excerpt(existing));
                updated = true;
                break;
            }
        }
        if (!updated) {
            lines.insert(lines.begin(), line);
            gf_logLine("{}:{} new entry", lf_fileName(), gf_excerpt(line));
        }
    }
    std::string bytes;
    for (const std::string& text : lines) {
        bytes += text;
        bytes += '\n';
    }
    // Written between two ticks: the list replaces the old one whole, without waiting for the
    // disk (a failure is reported by the writer and leaves the old list).
    gf_commitFile(bytes, path);
}

void lf_sortParkAirportsByDistance(double LATITUDE, double LONGITUDE)
{
    if (g_parkAirports.empty()) {
        return;
    }
    const auto distanceTo = [&](const ParkAirport& P) {
        return gf_distanceNm(LATITUDE, LONGITUDE, P.latitude, P.longitude);
    };
    if (s_sortedAt.valid && std::fabs(s_sortedAt.latitude - LATITUDE) < kPositionEpsilonDeg &&
        std::fabs(s_sortedAt.longitude - LONGITUDE) < kPositionEpsilonDeg) {
        g_parkAirports.front().distance = distanceTo(g_parkAirports.front());
        return;
    }
    s_sortedAt = SortedAt{true, LATITUDE, LONGITUDE};
    // The distances are always true ones; a destination only keeps its place at the front.
    for (ParkAirport& airport : g_parkAirports) {
        airport.distance = distanceTo(airport);
    }
    if (DESTINATION.value().empty()) {
        std::stable_sort(g_parkAirports.begin(), g_parkAirports.end(),
                         [](const ParkAirport& A, const ParkAirport& B) { return A.distance < B.distance; });
    }
}

void gf_manageParkAirport(uint8_t FIRST)
{
    if (FIRST != 0) {
        s_withoutFile.clear(); // a new session tries them again
    }
    if (g_parkBusy && g_staticPositions.empty()) {
        gf_enableParkControls();
        gf_clearStatus();
        gf_countStaticAc(true);
        gf_countLiveParked(true);
    }
    if (g_parkSwitchPending == 0) {
        const double latitude = g_userAc.latitude;
        const double longitude = g_userAc.longitude;
        if (!lf_userPositionKnown(latitude, longitude)) {
            return;
        }
        lf_sortParkAirportsByDistance(latitude, longitude);
        if (gf_parkAirportSet()) {
            lf_checkParkAirportInSight(latitude, longitude);
        } else {
            lf_chooseParkAirport(latitude, longitude, FIRST);
        }
        return;
    }
    gf_clearStatus();
    g_parkSwitchPending = 0;
    lf_switchParkAirport();
}

bool lf_setParkAirport(IcaoCode CODE)
{
    const std::optional<AirportEntry> airport = gf_airportByCode(CODE.view());
    if (!airport) {
        gf_updateWindowValues([](WindowValues& V) { V.parkAirportText.clear(); });
        return false;
    }
    g_parkAirport = *airport;
    const std::string text = gf_airportCodeText(CODE);
    gf_logLine("\nThe park airport is {}", text);
    gf_updateWindowValues([&text](WindowValues& V) { V.parkAirportText = text; });
    return true;
}

void lf_switchParkAirport()
{
    const std::string error = lf_readParkedFile();
    if (!error.empty()) {
        s_withoutFile.insert(g_parkAirport.icao);
        gf_enableParkControls();
        gf_setStatus(error, true);
        lf_clearParkAirport();
    } else {
        gf_restartParkRenewal();
        lf_calculateStaticPositions();
    }
    gf_flushLog();
}

namespace {

// What became of a learned file that did not read whole, for the user to see.
void lf_tellLearnedFile(const ParkApfInfo& INFO)
{
    const std::string file = lf_learnedPathOf(INFO.apfName, INFO.publisher).filename().string();
    if (!INFO.learnedSetAside.empty()) {
        gf_setStatus(fmt::format("The learned file {} could not be read: it is kept as {}, learning goes on in a new file",
                                 file, std::filesystem::path(INFO.learnedSetAside).filename().string()));
    } else if (INFO.learnedUnreadable != 0) {
        gf_setStatus(fmt::format("The learned file {} could not be read: nothing is learned into it this visit", file));
    } else if (INFO.learnedKept > 0) {
        gf_setStatus(fmt::format("{} record{} of the learned file {} could not be read: kept in the file as written, "
                                 "see Log.txt",
                                 INFO.learnedKept, gf_plural(INFO.learnedKept), file));
    }
}

} // namespace

std::string lf_readParkedFile()
{
    gf_clearStands();
    const std::string code = gf_parkAirportCode();
    std::string error;
    try {
        const std::string name = lf_resolveApf(code);
        if (name.empty()) {
            error = fmt::format("{} {} not found", "lf_readParkedFile", code);
        } else {
            error = gf_readApf(name, g_parkApfInfo);
        }
    } catch (const std::exception& e) {
        error = fmt::format("{}: {}", "lf_readParkedFile", e.what());
    }
    if (!error.empty()) {
        // Nothing was read, so nothing may be saved over the learned file.
        g_parkLoaded = 0;
        return error;
    }
    lf_tellLearnedFile(g_parkApfInfo);
    if (g_userAc.dataArrived) {
        const std::string stand = gf_standAtPosition(g_userAc.latitude, g_userAc.longitude);
        if (lf_firstIsParkAirport()) {
            if (!stand.empty() && stand != g_parkAirports.front().reservedStand) {
                g_parkAirports.front().reservedStand = stand;
                lf_writeMyParkAirports();
            }
        } else {
            g_parkAirports.insert(g_parkAirports.begin(), ParkAirport{stand, g_parkAirport.latitude,
                                                                      g_parkAirport.longitude, 0.0, g_parkAirport.icao});
            lf_writeMyParkAirports();
        }
    }
    const std::string reserved = lf_firstIsParkAirport() ? g_parkAirports.front().reservedStand : std::string();
    const bool known = !reserved.empty() && std::any_of(g_stands.begin(), g_stands.end(),
                                                        [&reserved](const Stand& S) { return S.name == reserved; });
    g_reservedStand = known ? reserved : std::string();
    const std::string airportName = g_parkApfInfo.airportName;
    gf_updateWindowValues([known, &airportName](WindowValues& V) {
        V.reservedMark = known;
        V.parkAirportName = airportName;
    });
    gf_clearLearnedUpdates();
    return {};
}

void gf_resetParkAirport()
{
    g_staticPositions.clear();
    gf_removeAllStaticAc();
    // Live aircraft tied to the stands of this airport cannot go on without them.
    for (LiveAc& live : g_liveAcs) {
        const FlightState f = live.flightState;
        if (f != FlightState::parked && f != FlightState::pushing_back && f != FlightState::pushed_back &&
            f != FlightState::taxi && f != FlightState::take_off) {
            continue;
        }
        gf_setStandOccupied(static_cast<int32_t>(live.standId), 0);
        live.standId = 0;
        if (live.state == AcState::active || live.state == AcState::adding2sim) {
            removeAircraftFromSim(live, "park airport given up");
        }
    }
    // Those whose create request was still queued never reached the simulator.
    gf_eraseWithdrawnLiveAcs();
    lf_clearParkAirport();
}

void lf_clearParkAirport()
{
    if (g_parkLoaded.load() != 0) {
        lf_saveLearnedApf();
        gf_refreshOptionControls();
    }
    g_parkLoaded = 0;
    g_parkAirport = AirportEntry{};
    g_reservedStand.clear();
    gf_updateWindowValues([](WindowValues& V) {
        V.parkAirportText.clear();
        V.parkAirportName.clear();
        V.learnedUpdates = 0;
        V.reservedMark = false;
    });
    g_staticRemovals.clear();
    g_staticPositions.clear();
    gf_clearStands();
    // Nothing to check or renew without a park airport (with INITIAL_LOAD_ONLY the renew button is
    // off anyway).
    gf_enableControl(PARK_CHECK_BUTTON, false);
    if (!INITIAL_LOAD_ONLY.value()) {
        gf_enableControl(PARK_RENEW_BUTTON, false);
    }
}

void gf_addParkAirport(const std::string& CODE, double LATITUDE, double LONGITUDE)
{
    const std::optional<IcaoCode> code = IcaoCode::tryParse(gf_trim(CODE));
    if (!code) {
        gf_logWarning("{}: '{}' is no airport code", "gf_addParkAirport", gf_excerpt(CODE));
        return;
    }
    const auto it = std::find_if(g_parkAirports.begin(), g_parkAirports.end(),
                                 [&code](const ParkAirport& P) { return P.code == *code; });
    if (it == g_parkAirports.end()) {
        g_parkAirports.insert(g_parkAirports.begin(), ParkAirport{{}, LATITUDE, LONGITUDE, 0.0, *code});
        lf_writeMyParkAirports();
        return;
    }
    std::rotate(g_parkAirports.begin(), it, it + 1);
}

void gf_noteUserParkAirport()
{
    if (!g_userAc.dataArrived || g_userAc.groundVelocity > kStandStillKt) {
        return;
    }
    const std::string stand = gf_standAtPosition(g_userAc.latitude, g_userAc.longitude);
    if (stand.empty() || !lf_firstIsParkAirport() || g_parkAirports.front().reservedStand == stand) {
        return;
    }
    g_parkAirports.front().reservedStand = stand;
    lf_writeMyParkAirports();
}

bool lf_checkParkAirports(uint8_t CHECK_RESERVED, std::string& MESSAGE)
{
    MESSAGE.clear();
    if (!lf_readMyParkAirports()) {
        return false;
    }
    if (CHECK_RESERVED != 0 && g_userAc.dataArrived && !g_parkBusy && lf_firstIsParkAirport()) {
        const std::string wanted = g_parkAirports.front().reservedStand;
        if (!wanted.empty() && wanted != g_reservedStand) {
            MESSAGE = fmt::format("reserved stand changed from '{}' to '{}'", gf_excerpt(g_reservedStand),
                                  gf_excerpt(wanted));
            lf_setReservedMark(g_reservedStand, 0);
            g_reservedStand = wanted;
            gf_removeAcAtStand(g_reservedStand);
            lf_setReservedMark(g_reservedStand, 1);
            gf_updateWindowValues([](WindowValues& V) { V.reservedMark = true; });
            gf_repaintWindow();
        }
    }
    if (MESSAGE.empty()) {
        MESSAGE = "park airports and stands are okay";
    }
    return true;
}

void gf_requestParkCheck()
{
    g_parkCheckRequested = 1;
}

void gf_checkParkAirports()
{
    if (g_parkCheckRequested.load() == 0 || g_parkBusy) {
        return;
    }
    std::string message;
    if (lf_checkParkAirports(1, message)) {
        gf_setStatus(message, true);
        gf_repaintWindow();
    }
    gf_enableControl(PARK_CHECK_BUTTON);
    gf_enableControl(PARK_RENEW_BUTTON, !INITIAL_LOAD_ONLY.value() && g_parkLoaded.load() != 0);
    g_parkCheckRequested = 0;
}

void gf_resetParkAirportForTests()
{
    g_parkAirports.clear();
    g_parkAirport = AirportEntry{};
    g_parkAirportElevation = -1000.0f;
    g_reservedStand.clear();
    g_parkLoaded = 0;
    g_parkSwitchPending = 0;
    g_parkCheckRequested = 0;
    gf_restartParkRenewal();
    s_sortedAt = SortedAt{};
    s_withoutFile.clear();
}

} // namespace qmt
