// The Traffic Reader and Weather Reader threads and what one turn of each does:
// asking the service, turning its reports into records, handing them to the intake.

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <thread>
#include <unordered_set>

#include "core/AcKind.h"
#include "core/Clock.h"
#include "core/Geo.h"
#include "core/LoopClock.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "core/ThreadName.h"
#include "feed/FeedInternal.h"
#include "feed/TrafficFeed.h"
#include "records/AcIds.h"
#include "simlink/SimQueues.h"

namespace qmt {

namespace {

constexpr uint32_t kMaxHexId = 0xFFFFFF;
constexpr auto kWeatherInterval = std::chrono::seconds(60);
// Longest single wait of a reader, so that a stop flag of the session is seen soon.
constexpr auto kWaitSlice = std::chrono::milliseconds(250);
// A failing query is logged the first time and then every this many times.
constexpr int kFailureLogEvery = 30;
// Live queries that keep failing this long end the session with a reader error.
constexpr auto kLiveFailureLimit = std::chrono::seconds(30);

// The reader threads and their own stop flag.
struct Readers {
    std::mutex mutex; // guards stop and the wake-up below; taken alone
    std::condition_variable wake;
    bool stop = false;
    bool wakeTraffic = false;
    std::thread traffic; // started and joined by the worker only
    std::thread weather;
};
Readers s_readers;

// Hex ids already reported blocked, and the blocked list they were reported for.
// Traffic Reader thread (and tests) only.
struct BlockedNotes {
    std::mutex mutex; // guards the fields; taken alone
    std::string listText;
    std::unordered_set<uint32_t> reported;
};
BlockedNotes s_blocked;

// Consecutive failures of each query, for the log.
std::atomic<int> s_liveFailures{0};
// When the live queries began to fail in a row (unshifted clock, nanoseconds; 0: they answer).
std::atomic<std::int64_t> s_liveFailingSince{0};
std::atomic<int> s_weatherFailures{0};

// The engine's intake, registered at start-up; read by the reader thread.
std::atomic<TrafficBatchSink> s_batchSink{nullptr};

// Hands g_trafficRecords to the engine's intake; the reader's buffer is empty afterwards.
void lf_handOverBatch(int32_t DELAY)
{
    if (g_trafficRecords.empty()) {
        g_trafficCount = 0;
    } else if (const TrafficBatchSink sink = s_batchSink.load()) {
        sink(g_trafficRecords, DELAY);
    }
    g_trafficRecords.clear();
}

void lf_noteFailure(std::atomic<int>& COUNTER, const char* WHAT, const std::string& ERROR)
{
    const int n = ++COUNTER;
    if (n == 1 || n % kFailureLogEvery == 0) {
        gf_logWarning("{}: query failed ({} time{} in a row): {}", WHAT, n, gf_plural(n), ERROR);
    }
}

// The live traffic will not come back within this session: it ends, and the restart logs in anew.
void lf_readerError(const std::string& TEXT)
{
    if (gf_stopRequested()) {
        return;
    }
    gf_logWarning(TEXT);
    gf_setStatus(TEXT);
    gf_requestExit(ExitReason::readerError);
}

std::int64_t lf_clockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(gf_unshiftedNow().time_since_epoch()).count();
}

// A failed live query: the session ends at once when the service no longer knows it, and after
// kLiveFailureLimit of failures in a row otherwise.
void lf_liveFailed(const std::string& ERROR, AnswerFault FAULT)
{
    lf_noteFailure(s_liveFailures, "Traffic Reader", ERROR);
    if (FAULT == AnswerFault::sessionExpired) {
        lf_readerError(fmt::format("Traffic Reader: the service session expired ({})", ERROR));
        return;
    }
    const std::int64_t now = lf_clockNs();
    std::int64_t since = 0;
    if (s_liveFailingSince.compare_exchange_strong(since, now)) {
        return;
    }
    const auto failing = std::chrono::nanoseconds(now - since);
    if (failing >= kLiveFailureLimit) {
        lf_readerError(fmt::format("Traffic Reader: no traffic for {} seconds ({})",
                                   std::chrono::duration_cast<std::chrono::seconds>(failing).count(), ERROR));
    }
}

void lf_noteSuccess(std::atomic<int>& COUNTER, const char* WHAT)
{
    const int n = COUNTER.exchange(0);
    if (n > 0) {
        gf_logLine("{}: answers again after {} failed quer{}", WHAT, n, n == 1 ? "y" : "ies");
    }
}

bool lf_isUsable(const TrafficReport& R)
{
    return R.hexId > kMaxStaticId && R.hexId <= kMaxHexId && std::isfinite(R.lat) && std::isfinite(R.lon)
        && std::abs(R.lat) <= 90.0 && std::abs(R.lon) <= 180.0 && std::isfinite(R.reportTime);
}

// Texts of the service reach log lines and list files: no control character, no separator.
TrafficReport lf_cleanTexts(const TrafficReport& R)
{
    TrafficReport clean = R;
    for (std::string* text : {&clean.callsign, &clean.registration, &clean.model, &clean.origin, &clean.destination}) {
        *text = gf_cleanIdentText(*text);
    }
    return clean;
}

LiveTrafficRecord lf_recordOf(const TrafficReport& R)
{
    LiveTrafficRecord rec;
    if (!R.model.empty()) {
        rec.kind.modelId = gf_modelId(R.model);
    }
    rec.origin = R.origin.substr(0, 3);
    rec.destination = R.destination.substr(0, 3);
    rec.callsign = R.callsign;
    rec.registration = R.registration;
    StreamPos& p = rec.pos;
    p.lat = R.lat;
    p.lon = R.lon;
    p.alt = R.altitudeFt;
    p.groundSpeed = R.groundSpeedKt;
    p.track = R.trackDeg;
    p.verticalRate = R.verticalRateFpm;
    p.airspeed = R.airspeedKt;
    p.airborne = R.onGround ? 0 : 1;
    if (R.rollDeg) {
        p.roll = *R.rollDeg * kDegToRad;
        p.hasRoll = 1;
    }
    if (R.trueHeadingDeg) {
        p.trueHeading = *R.trueHeadingDeg * kDegToRad;
        p.hasTrueHeading = 1;
    }
    rec.reportTime = R.reportTime;
    rec.hexId = R.hexId;
    return rec;
}

// The user's blocked callsigns; a change of the list reports every blocked aircraft anew.
std::unordered_set<std::string> lf_blockedCallsigns()
{
    const std::string text = BLOCKED_CALLSIGNS.value();
    std::lock_guard lock(s_blocked.mutex);
    if (text != s_blocked.listText) {
        s_blocked.listText = text;
        s_blocked.reported.clear();
    }
    const auto parts = gf_splitCommaTrim(text);
    return {parts.begin(), parts.end()};
}

// Tells the worker once per aircraft that its callsign is blocked.
void lf_reportBlocked(const TrafficReport& R)
{
    {
        std::lock_guard lock(s_blocked.mutex);
        if (!s_blocked.reported.insert(R.hexId).second) {
            return;
        }
    }
    SimNotification note;
    note.aircraftId = R.hexId;
    note.kind = kNoteCallsignBlocked;
    gf_addSimNotification(note);
}

// Turns an answer into g_trafficRecords: unusable reports and blocked callsigns are left
// out; while the static parking gathers live traffic, every callsign and hex id is noted.
void lf_fillTrafficRecords(const std::vector<TrafficReport>& REPORTS, const char* WHAT)
{
    g_trafficRecords.clear();
    g_trafficRecords.reserve(REPORTS.size());
    const auto blocked = lf_blockedCallsigns();
    const bool gather = g_buffersLoaded.load();
    std::vector<std::string> callsigns;
    std::vector<uint32_t> hexIds;
    std::size_t unusable = 0;
    for (const TrafficReport& report : REPORTS) {
        if (!lf_isUsable(report)) {
            ++unusable;
            continue;
        }
        const TrafficReport r = lf_cleanTexts(report);
        if (gather) {
            hexIds.push_back(r.hexId);
            if (!r.callsign.empty()) {
                callsigns.push_back(r.callsign);
            }
        }
        if (!r.callsign.empty() && blocked.contains(r.callsign)) {
            lf_reportBlocked(r);
            continue;
        }
        g_trafficRecords.push_back(lf_recordOf(r));
    }
    if (unusable > 0) {
        gf_logLine("{}: {} report{} without a usable hex id or position left out", WHAT, unusable,
                   gf_plural(unusable));
    }
    if (gather) {
        std::lock_guard lock(g_bufferMutex);
        // The gathering may have ended while this answer was read.
        if (!g_buffersLoaded) {
            return;
        }
        g_bufferHexIds.insert(hexIds.begin(), hexIds.end());
        g_bufferCallsigns.insert(callsigns.begin(), callsigns.end());
    }
}

void lf_waitFor(std::chrono::milliseconds DURATION, bool TRAFFIC)
{
    const LoopTime until = gf_loopNow() + DURATION;
    std::unique_lock lock(s_readers.mutex);
    while (!s_readers.stop && !gf_stopRequested()) {
        if (TRAFFIC && s_readers.wakeTraffic) {
            return;
        }
        const LoopTime now = gf_loopNow();
        if (now >= until) {
            return;
        }
        gf_loopWaitFor(lock, s_readers.wake, std::min<LoopTime::duration>(until - now, kWaitSlice),
                       [TRAFFIC] { return s_readers.stop || (TRAFFIC && s_readers.wakeTraffic); });
    }
}

void lf_trafficReaderMain()
{
    try {
        gf_logLine("Traffic Reader started");
        gf_loadHistoryTraffic();
        LoopTime nextLive = gf_loopNow();
        while (!lf_readersStopping()) {
            {
                std::lock_guard lock(s_readers.mutex);
                s_readers.wakeTraffic = false;
            }
            gf_serveParkedRequest();
            if (gf_loopNow() >= nextLive) {
                gf_readLiveTrafficOnce();
                nextLive = gf_loopNow() + gf_trafficInterval();
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextLive - gf_loopNow());
            lf_waitFor(std::max(left, std::chrono::milliseconds(1)), true);
        }
        gf_logLine("Traffic Reader ended");
    } catch (const std::exception& e) {
        // Without its reader the session would run on with no traffic and no word.
        lf_readerError(fmt::format("Traffic Reader exception: {}", e.what()));
    }
}

void lf_weatherReaderMain()
{
    try {
        gf_logLine("Weather Reader started");
        while (!lf_readersStopping()) {
            gf_readWeatherOnce();
            lf_waitFor(kWeatherInterval, false);
        }
        gf_logLine("Weather Reader ended");
    } catch (const std::exception& e) {
        lf_readerError(fmt::format("Weather Reader exception: {}", e.what()));
    }
}

void lf_startThread(std::thread& THREAD, void (*MAIN)())
{
    if (THREAD.joinable()) {
        return;
    }
    {
        std::lock_guard lock(s_readers.mutex);
        s_readers.stop = false;
    }
    const char* name = MAIN == &lf_trafficReaderMain ? "TrafficReader" : "WeatherReader";
    LoopThread::announce();
    THREAD = std::thread([MAIN, name] {
        gf_nameThisThread(name);
        const LoopThread keepsTime;
        MAIN();
    });
}

} // namespace

void gf_setTrafficBatchSink(TrafficBatchSink SINK)
{
    s_batchSink.store(SINK);
}

bool lf_readersStopping()
{
    if (gf_stopRequested()) {
        return true;
    }
    std::lock_guard lock(s_readers.mutex);
    return s_readers.stop;
}

void lf_wakeTrafficReader()
{
    {
        std::lock_guard lock(s_readers.mutex);
        s_readers.wakeTraffic = true;
    }
    s_readers.wake.notify_all();
    gf_loopWake();
}

void lf_resetBlockedNotes()
{
    std::lock_guard lock(s_blocked.mutex);
    s_blocked.listText.clear();
    s_blocked.reported.clear();
    s_liveFailures = 0;
    s_liveFailingSince = 0;
    s_weatherFailures = 0;
}

void gf_loadHistoryTraffic()
{
    std::shared_ptr<TrafficSource> source;
    std::string guid;
    if (!lf_sessionOf(source, guid)) {
        gf_logWarning("Traffic Reader: no service session for the buffered traffic");
        return;
    }
    const QueryBox box = gf_trafficQueryBox();
    std::size_t total = 0;
    for (int32_t delay : kHistoryDelays) {
        if (lf_readersStopping()) {
            return;
        }
        lf_noteApiVisit();
        // A batch played `delay` seconds from now was reported 30 - delay seconds ago,
        // so that it plays right before the first live batch.
        const TrafficAnswer answer = source->buffered(guid, box, kLiveDelay - delay);
        if (!answer.ok) {
            gf_logWarning("Traffic Reader: buffered traffic ({} s) failed: {}", kLiveDelay - delay, answer.error);
            continue;
        }
        lf_fillTrafficRecords(answer.reports, "Buffered traffic");
        total += g_trafficRecords.size();
        lf_handOverBatch(delay);
    }
    gf_logLine("Traffic Reader: {} buffered report{} loaded", total, gf_plural(total));
}

bool gf_readLiveTrafficOnce()
{
    std::shared_ptr<TrafficSource> source;
    std::string guid;
    if (!lf_sessionOf(source, guid)) {
        lf_liveFailed("no service session", AnswerFault::failed);
        return false;
    }
    lf_noteApiVisit();
    const TrafficAnswer answer = source->live(guid, gf_trafficQueryBox());
    if (!answer.ok) {
        if (answer.intervalMs > 0) {
            lf_setTrafficInterval(std::chrono::milliseconds(answer.intervalMs));
        }
        lf_liveFailed(answer.error, answer.fault);
        return false;
    }
    s_liveFailingSince = 0;
    lf_noteSuccess(s_liveFailures, "Traffic Reader");
    if (answer.intervalMs > 0) {
        lf_setTrafficInterval(std::chrono::milliseconds(answer.intervalMs));
    }
    lf_fillTrafficRecords(answer.reports, "Live traffic");
    g_trafficCount = static_cast<int>(g_trafficRecords.size());
    lf_handOverBatch(kLiveDelay);
    g_trafficReceived = true;
    return true;
}

bool gf_readWeatherOnce()
{
    std::shared_ptr<TrafficSource> source;
    std::string guid;
    if (!lf_sessionOf(source, guid)) {
        lf_noteFailure(s_weatherFailures, "Weather Reader", "no service session");
        return false;
    }
    double lat = 0.0;
    double lon = 0.0;
    {
        std::lock_guard lock(g_feedSession.mutex);
        lat = g_feedSession.state.centreLat;
        lon = g_feedSession.state.centreLon;
    }
    lf_noteApiVisit();
    const WeatherAnswer answer = source->weather(guid, lat, lon);
    if (!answer.ok) {
        lf_noteFailure(s_weatherFailures, "Weather Reader", answer.error);
        return false;
    }
    lf_noteSuccess(s_weatherFailures, "Weather Reader");
    return gf_setQnh(answer.qnhHpa);
}

void gf_startTrafficReader()
{
    // A new session waits for its own first traffic.
    if (!s_readers.traffic.joinable()) {
        g_trafficReceived = false;
        g_trafficCount = 0;
        // Failures of an ended session say nothing about the new one.
        s_liveFailures = 0;
        s_liveFailingSince = 0;
    }
    lf_startThread(s_readers.traffic, &lf_trafficReaderMain);
}

void gf_startWeatherReader()
{
    if (!s_readers.weather.joinable()) {
        g_qnhReceived = false;
    }
    lf_startThread(s_readers.weather, &lf_weatherReaderMain);
}

void gf_stopReaders()
{
    {
        std::lock_guard lock(s_readers.mutex);
        s_readers.stop = true;
    }
    s_readers.wake.notify_all();
    gf_loopWake();
    const LoopBlocked joining;
    if (s_readers.traffic.joinable()) {
        s_readers.traffic.join();
    }
    if (s_readers.weather.joinable()) {
        s_readers.weather.join();
    }
    // Both have ended: the flag is free for the next session (and for turns run directly).
    std::lock_guard lock(s_readers.mutex);
    s_readers.stop = false;
    s_readers.wakeTraffic = false;
}

} // namespace qmt
