// Parked traffic: the worker asks, the Traffic Reader queries the service, the
// worker waits for the answer and sorts it.

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "core/AcKind.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "feed/FeedInternal.h"
#include "feed/TrafficFeed.h"
#include "records/ParkAirportIdentity.h"

namespace qmt {

namespace {

constexpr auto kParkedPoll = std::chrono::milliseconds(100);
constexpr auto kParkedTimeout = std::chrono::seconds(10);

// One request of the worker and the reader's answer to it.
struct ParkedRequest {
    std::mutex mutex;      // guards the fields; taken alone
    uint64_t number = 0;   // the request being waited for; 0 while none
    bool pending = false;  // asked, not yet taken up by the reader
    QueryBox box;
    bool answered = false; // the reader has stored the answer of `number`
    ParkedAnswer answer;
};
ParkedRequest s_request;
uint64_t s_lastNumber = 0; // worker only

ParkedTrafficRecord lf_parkedRecordOf(const ParkedReport& R, int NOW_HALF_HOUR)
{
    ParkedTrafficRecord rec;
    if (const std::string airline = gf_cleanIdentText(R.airline); !airline.empty()) {
        rec.kind.airlineId = gf_airlineId(airline);
    }
    if (const std::string model = gf_cleanIdentText(R.model); !model.empty()) {
        rec.kind.modelId = gf_modelId(model);
    }
    // Texts of the service reach log lines and list files: no control character, no separator.
    rec.callsign = gf_cleanIdentText(R.callsign);
    rec.registration = gf_cleanIdentText(R.registration);
    rec.lat = R.lat;
    rec.lon = R.lon;
    rec.hexId = R.hexId;
    rec.halfHour = R.halfHour;
    rec.age = NOW_HALF_HOUR - R.halfHour;
    if (rec.age < 0) {
        rec.age += WeekTime::kHalfHoursPerDay;
    }
    rec.stand = gf_cleanIdentText(R.stand);
    return rec;
}

// Ages, the age limit, youngest first, one aircraft per stand.
std::vector<ParkedTrafficRecord> lf_sortParked(const std::vector<ParkedReport>& REPORTS)
{
    const int nowHalfHour = gf_halfHourSlot();
    const bool onlyParkedTraffic = RT_PARKTRAFFIC_ONLY.value();
    const int maxAge = MAX_FIT.value();
    std::vector<ParkedTrafficRecord> records;
    records.reserve(REPORTS.size());
    for (const ParkedReport& r : REPORTS) {
        // Written so that NaN fails it too.
        const bool placed = std::fabs(r.lat) <= 90.0 && std::fabs(r.lon) <= 180.0;
        if (!placed || r.halfHour < 0 || r.halfHour >= WeekTime::kHalfHoursPerDay) {
            continue;
        }
        ParkedTrafficRecord rec = lf_parkedRecordOf(r, nowHalfHour);
        if (onlyParkedTraffic || rec.age <= maxAge) {
            records.push_back(std::move(rec));
        }
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const ParkedTrafficRecord& A, const ParkedTrafficRecord& B) { return A.age < B.age; });
    // The youngest report of a stand wins. Aircraft without a stand text are not
    // repeats of each other: the static parking finds their stand by position.
    std::unordered_set<std::string> stands;
    std::erase_if(records, [&](const ParkedTrafficRecord& R) {
        return !R.stand.empty() && !stands.insert(R.stand).second;
    });
    return records;
}

} // namespace

void lf_resetParkedRequest()
{
    std::lock_guard lock(s_request.mutex);
    s_request.number = 0;
    s_request.pending = false;
    s_request.answered = false;
    s_request.answer = ParkedAnswer{};
}

bool gf_serveParkedRequest()
{
    uint64_t number = 0;
    QueryBox box;
    {
        std::lock_guard lock(s_request.mutex);
        if (!s_request.pending) {
            return false;
        }
        s_request.pending = false;
        number = s_request.number;
        box = s_request.box;
    }
    ParkedAnswer answer;
    std::shared_ptr<TrafficSource> source;
    std::string guid;
    if (lf_sessionOf(source, guid)) {
        lf_noteApiVisit();
        answer = source->parked(guid, box);
    } else {
        answer.error = "no service session";
    }
    std::lock_guard lock(s_request.mutex);
    // A request that timed out meanwhile has number 0 or a newer one: drop the answer.
    if (s_request.number == number) {
        s_request.answer = std::move(answer);
        s_request.answered = true;
    }
    return true;
}

bool gf_getParkedTrafficAt(double LAT, double LON)
{
    g_parkedTraffic.clear();
    const uint64_t number = ++s_lastNumber;
    {
        std::lock_guard lock(s_request.mutex);
        s_request.number = number;
        s_request.pending = true;
        s_request.box = gf_queryBoxAround(LAT, LON, kParkedBoxNm);
        s_request.answered = false;
        s_request.answer = ParkedAnswer{};
    }
    lf_wakeTrafficReader();
    const TimePoint start = gf_unshiftedNow();
    ParkedAnswer answer;
    for (;;) {
        {
            std::lock_guard lock(s_request.mutex);
            if (s_request.answered) {
                answer = std::move(s_request.answer);
                s_request.number = 0;
                s_request.answered = false;
                break;
            }
        }
        if (gf_unshiftedNow() - start >= kParkedTimeout || gf_stopRequested()) {
            lf_resetParkedRequest();
            if (!gf_stopRequested()) {
                gf_logWarning("ParkedTraffic receiving timed out after 10 seconds");
            }
            return false;
        }
        lf_feedSleep(kParkedPoll);
    }
    if (!answer.ok) {
        gf_logWarning("ParkedTraffic query failed: {}", answer.error);
        return false;
    }
    g_parkedTraffic = lf_sortParked(answer.parked);
    gf_logLine("ParkedTraffic: {} parked aircraft received, {} kept", answer.parked.size(), g_parkedTraffic.size());
    return !g_parkedTraffic.empty();
}

bool gf_getParkedTraffic()
{
    if (!gf_parkAirportSet()) {
        gf_logWarning("ParkedTraffic: no park airport set");
        return false;
    }
    return gf_getParkedTrafficAt(g_parkAirport.latitude, g_parkAirport.longitude);
}

} // namespace qmt
