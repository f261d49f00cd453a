#pragma once

#include "platform/TrafficSource.h"

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <istream>
#include <string>
#include <vector>

namespace qmt {

// A parked aircraft of a scenario. `untilTime` is the scenario second at which
// it starts to move and leaves the parked list (infinity when it stays).
struct ScenarioParked {
    ParkedReport report;
    double untilTime = 0.0;
};

// A point of the user's aircraft in the simulator while the scenario plays; between points the
// simulated simulator interpolates.
struct ScenarioUserPoint {
    double time = 0.0;   // scenario seconds from play_from on
    double lat = 0.0;
    double lon = 0.0;
    double altitudeFt = 0.0;
    double headingDeg = 0.0;
    double groundSpeedKt = 0.0;
    bool onGround = true;
};

struct ScenarioQnh {
    double time = 0.0;   // scenario seconds
    double qnhHpa = 0.0;
};

// A recorded stretch of traffic played by the traffic stand-in. Scenario files
// are JSON Lines, one object per line, told apart by "type":
//   {"type":"header","name":"EHAM","start_hh":20,"play_from":60,"interval_ms":2000}
//   {"type":"live","t":12.0,"hex":"484b2c","cs":"KLM1723","reg":"PH-BXM","model":"B738",
//    "from":"AMS","to":"BCN","lat":52.31,"lon":4.76,"alt":-11,"gs":0,"tas":0,"trk":180,
//    "vr":0,"gnd":true}            (optional: "roll", "hdg" in degrees)
//   {"type":"parked","hex":"4ca7b1","cs":"EIN605","reg":"EI-DVM","model":"A320",
//    "airline":"EIN","lat":52.30,"lon":4.76,"stand":"D7","hh":18}   (optional: "until")
//   {"type":"qnh","t":0,"qnh":1018.5}
//   {"type":"user","t":0,"lat":52.3098,"lon":4.7600,"alt":-7,"hdg":225,"gs":0,"gnd":true}
// The header may also name the "airport" whose facility data give the ground elevation, and
// "session_s", the lifetime of a session of the traffic service (it then expires as a real one does).
// Times are seconds from the start of the recording; the header's "start_hh" is
// the half-hour of the day at the recording's start, so parked half-hours can be
// shifted to the half-hour in which the scenario is played.
struct Scenario {
    std::string name;
    int startHalfHour = -1;       // -1: parked half-hours are played unshifted
    double playFrom = 0.0;        // scenario second at which playing starts
    int intervalMs = 2000;        // query interval the stand-in announces at login
    std::string airport;          // ICAO code of the scenario's airport ("" = none named)
    double sessionLifetimeSeconds = 0.0; // 0: the service session never expires
    std::vector<ScenarioUserPoint> user; // the user's aircraft; empty: not scripted
    std::vector<TrafficReport> reports; // reportTime in scenario seconds, sorted by time
    std::vector<ScenarioParked> parked;
    std::vector<ScenarioQnh> qnh;       // sorted by time
};

struct ScenarioLineError {
    std::size_t line = 0;         // 1-based
    std::string message;
};

struct ScenarioParseResult {
    Scenario scenario;
    std::vector<ScenarioLineError> errors; // one per skipped line
};

// Parses a scenario; a broken line is skipped with an error naming its line.
ScenarioParseResult gf_parseScenario(std::istream& IN);

// Reads a scenario file; false with ERROR set when the file cannot be opened.
bool gf_readScenarioFile(const std::filesystem::path& PATH, ScenarioParseResult& RESULT, std::string& ERROR);

// What the reading of a scenario's head learned of the live reports it left in the file.
struct ScenarioHeadFacts {
    std::size_t liveReports = 0;
    bool inTimeOrder = true;   // each live report no earlier than the one before it
    double lastReportTime = 0.0;
    double latSum = 0.0;       // of the reports' positions, for their middle
    double lonSum = 0.0;
};

// Reads every line of a scenario file, as gf_readScenarioFile does, but keeps no live report: a
// ScenarioReportStream reads those from the file as they become due, so that a long scenario
// is never held whole.
bool gf_readScenarioHead(const std::filesystem::path& PATH, ScenarioParseResult& RESULT, ScenarioHeadFacts& FACTS,
                         std::string& ERROR);

// The live reports of a scenario file, one by one in file order; lines that do not parse were
// told by gf_readScenarioHead and are passed over.
class ScenarioReportStream {
public:
    // LAST_REPORT_TIME: the time of the file's last live report (ScenarioHeadFacts).
    ScenarioReportStream(const std::filesystem::path& PATH, double LAST_REPORT_TIME);
    // The next live report; false at the end of the file.
    bool next(TrafficReport& REPORT);
    // Back to the file's first report (a looped scenario plays it again).
    void rewind();
    double lastReportTime() const { return m_lastReportTime; }

private:
    std::filesystem::path m_path;
    double m_lastReportTime;
    std::ifstream m_in;
    std::string m_line;
    std::size_t m_number = 0;
};

} // namespace qmt
