#pragma once

// What the files of the feed share among themselves.

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "core/Clock.h"
#include "feed/TrafficFeed.h"

namespace qmt {

// The session with the traffic service.
struct FeedSession {
    struct State {
        std::shared_ptr<TrafficSource> source;
        std::string guid;                           // empty while not logged in
        std::chrono::milliseconds interval{2000};   // traffic query interval
        double centreLat = 0.0;                     // query box centre
        double centreLon = 0.0;
        TimePoint lastVisit{};                      // last query to the service
        bool visited = false;
    };
    std::mutex mutex; // guards state; taken alone
    State state;
};
extern FeedSession g_feedSession;

// The query interval that the service set last (at login, or in an answer); at least 100 ms.
void lf_setTrafficInterval(std::chrono::milliseconds INTERVAL);
// Notes the time of a query to the service.
void lf_noteApiVisit();
// Lets DURATION pass for a waiting loop (the test hook, else a real sleep).
void lf_feedSleep(std::chrono::milliseconds DURATION);
// Forgets any pending parked-traffic request (tests).
void lf_resetParkedRequest();
// Forgets which blocked hex ids were already reported (tests).
void lf_resetBlockedNotes();
// The traffic source and GUID of the session; false while there is none of either.
bool lf_sessionOf(std::shared_ptr<TrafficSource>& SOURCE, std::string& GUID);
// Wakes the Traffic Reader (a parked-traffic request is waiting).
void lf_wakeTrafficReader();
// True while the readers are to stop (their own flag or a stop flag of the session).
bool lf_readersStopping();

} // namespace qmt
