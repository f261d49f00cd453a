// The main window's stand-in in the terminal: what the window shows (the status or error line
// and its counters) as one line, refreshed about once a second in place on a terminal, and as a
// plain line every few seconds when the output goes to a file or a pipe. Above it, one line per
// event as it comes (core/EventLines.h: landings, parkings, push-backs, departures, static
// aircraft placed and renewed, status texts).
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace qmt {

// The window's content as one line of text.
std::string gf_windowText();

class TerminalView {
public:
    // OUT is the stream written to; TERMINAL: it is a terminal (the line is rewritten in place).
    TerminalView(std::FILE* OUT, bool TERMINAL);
    // Called often by the message loop; shows the window when its time has come.
    void refresh(std::chrono::steady_clock::time_point NOW);
    // Prints the events left and ends the shown line (the program ends).
    void finish();

private:
    void lf_printEvents();
    std::FILE* m_out;
    bool m_terminal;
    std::chrono::steady_clock::time_point m_next{};
    std::string m_shown;
    bool m_lineOpen = false;
};

} // namespace qmt
