#include "app/TerminalView.h"

#include "core/EventLines.h"
#include "core/StatusLine.h"
#include "core/Text.h"
#include "core/WindowState.h"

#include <fmt/format.h>

namespace qmt {

namespace {

constexpr std::chrono::seconds kTerminalPeriod{1};
// Into a file or a pipe, a line every few seconds: enough to follow a run, not a flood.
constexpr std::chrono::seconds kPlainPeriod{5};

}  // namespace

std::string gf_windowText()
{
    std::string text;
    const auto add = [&text](const std::string& PART) {
        if (PART.empty())
            return;
        if (!text.empty())
            text += " | ";
        text += PART;
    };
    const std::string error = gf_errorText();
    add(error.empty() ? gf_statusText() : "ERROR: " + error);
    if (const auto liveries = g_liveryCount.load())
        add(fmt::format("# liveries: {}", liveries));
    if (const auto simaddon = g_simaddonFileCount.load())
        add(fmt::format("# simaddon: {}", simaddon));
    if (const auto thirdparty = g_thirdpartyFileCount.load())
        add(fmt::format("# thirdp: {}", thirdparty));
    const WindowValues values = gf_windowValues();
    if (!values.parkAirportText.empty()) {
        const std::string quality = gf_trim(values.qualityText);
        add(fmt::format("park: {}, {} stands{}", values.parkAirportText, values.standCount,
                        quality.empty() ? std::string() : ", quality " + quality));
        add(fmt::format("statics: {} of {} wanted ({}%){}{}{}", values.staticsStanding, values.wantedStatics,
                        values.wantedPercent, values.softMark ? " soft" : "", values.weekMark ? " week" : "",
                        values.reservedMark ? " reserved" : ""));
        add(fmt::format("renewal in {} min", values.renewalMinutes));
    }
    if (values.learnedUpdates != 0)
        add(fmt::format("learned: {}", values.learnedUpdates));
    if (!values.flightStates.empty())
        add(fmt::format("live: {}", values.flightStates));
    return text;
}

TerminalView::TerminalView(std::FILE* OUT, bool TERMINAL) : m_out(OUT), m_terminal(TERMINAL) {}

void TerminalView::lf_printEvents()
{
    EventLines events = gf_takeEventLines();
    if (events.dropped != 0)
        events.lines.insert(events.lines.begin(), fmt::format("({} earlier event lines not shown)", events.dropped));
    if (events.lines.empty())
        return;
    // On a terminal the events go above the status line: it is cleared, and drawn again below.
    if (m_lineOpen)
        std::fprintf(m_out, "\r\033[K");
    for (const std::string& line : events.lines)
        std::fprintf(m_out, "%s\n", line.c_str());
    if (m_lineOpen)
        std::fprintf(m_out, "%s\033[K", m_shown.c_str());
    std::fflush(m_out);
}

void TerminalView::refresh(std::chrono::steady_clock::time_point NOW)
{
    if (m_out == nullptr)
        return;
    lf_printEvents();
    if (NOW < m_next)
        return;
    m_next = NOW + (m_terminal ? kTerminalPeriod : kPlainPeriod);
    const std::string text = gf_windowText();
    if (m_terminal) {
        // Back to the line's start, the new text, the rest of the old one cleared.
        std::fprintf(m_out, "\r%s\033[K", text.c_str());
        m_lineOpen = true;
    } else {
        if (text == m_shown)
            return;
        std::fprintf(m_out, "%s\n", text.c_str());
    }
    m_shown = text;
    std::fflush(m_out);
}

void TerminalView::finish()
{
    if (m_out != nullptr)
        lf_printEvents();
    if (m_out != nullptr && m_lineOpen) {
        std::fprintf(m_out, "\n");
        std::fflush(m_out);
        m_lineOpen = false;
    }
}

}  // namespace qmt
