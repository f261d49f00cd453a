#include "core/EventLines.h"

#include "core/Clock.h"

#include <deque>
#include <mutex>
#include <utility>

namespace qmt {

namespace {

// Guards the queue and its drop count; taken alone (nothing is locked inside).
std::mutex s_eventMutex;
std::deque<std::string> s_events;
std::size_t s_dropped = 0;

// "HH:MM:SS " of the program's clock.
std::string lf_stamp()
{
    const std::string text = gf_timeText(gf_nowSeconds());
    return text.size() >= 19 ? text.substr(11, 8) + " " : std::string();
}

}  // namespace

void gf_postEventLine(const std::string& TEXT)
{
    std::string line = lf_stamp() + TEXT;
    std::lock_guard lock(s_eventMutex);
    if (s_events.size() >= kEventLinesKept) {
        s_events.pop_front();
        ++s_dropped;
    }
    s_events.push_back(std::move(line));
}

EventLines gf_takeEventLines()
{
    EventLines taken;
    std::lock_guard lock(s_eventMutex);
    taken.lines.assign(std::make_move_iterator(s_events.begin()), std::make_move_iterator(s_events.end()));
    taken.dropped = std::exchange(s_dropped, 0);
    s_events.clear();
    return taken;
}

void gf_resetEventLinesForTests()
{
    std::lock_guard lock(s_eventMutex);
    s_events.clear();
    s_dropped = 0;
}

}  // namespace qmt
