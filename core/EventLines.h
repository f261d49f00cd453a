// Lines that tell what happened, one per event: a landing, a parking, a push-back, a departure,
// static aircraft placed or renewed, a status text of the window. The terminal's stand-in of the
// window prints them above its status line, so that a run can be read as a story.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qmt {

// Queues the text, stamped with the time of day of gf_now ("04:12:31 "). Any thread. Beyond
// kEventLinesKept lines not yet taken the oldest is dropped (counted).
void gf_postEventLine(const std::string& TEXT);
inline constexpr std::size_t kEventLinesKept = 500;

struct EventLines
{
    std::vector<std::string> lines;  // oldest first
    std::size_t dropped = 0;         // lines lost to the bound since the last take
};
// The lines posted since the last take.
EventLines gf_takeEventLines();
void gf_resetEventLinesForTests();

}  // namespace qmt
