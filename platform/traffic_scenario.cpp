#include "platform/traffic_scenario.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>

namespace qmt {

namespace {

using nlohmann::json;

// Thrown inside one line's parse; turned into a ScenarioLineError by the caller.
struct LineFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const json& lf_field(const json& OBJ, const char* NAME)
{
    auto it = OBJ.find(NAME);
    if (it == OBJ.end()) {
        throw LineFault(fmt::format("missing field \"{}\"", NAME));
    }
    return *it;
}

double lf_number(const json& OBJ, const char* NAME, double LOW, double HIGH)
{
    const json& v = lf_field(OBJ, NAME);
    if (!v.is_number()) {
        throw LineFault(fmt::format("field \"{}\" must be a number", NAME));
    }
    const double d = v.get<double>();
    if (!std::isfinite(d) || d < LOW || d > HIGH) {
        throw LineFault(fmt::format("field \"{}\" out of range ({} not in {}..{})", NAME, d, LOW, HIGH));
    }
    return d;
}

std::optional<double> lf_optionalNumber(const json& OBJ, const char* NAME, double LOW, double HIGH)
{
    if (!OBJ.contains(NAME)) {
        return std::nullopt;
    }
    return lf_number(OBJ, NAME, LOW, HIGH);
}

int lf_integer(const json& OBJ, const char* NAME, int LOW, int HIGH)
{
    const json& v = lf_field(OBJ, NAME);
    if (!v.is_number_integer()) {
        throw LineFault(fmt::format("field \"{}\" must be a whole number", NAME));
    }
    const auto i = v.get<long long>();
    if (i < LOW || i > HIGH) {
        throw LineFault(fmt::format("field \"{}\" out of range ({} not in {}..{})", NAME, i, LOW, HIGH));
    }
    return static_cast<int>(i);
}

std::string lf_text(const json& OBJ, const char* NAME, std::size_t MAX_LENGTH)
{
    const json& v = lf_field(OBJ, NAME);
    if (!v.is_string()) {
        throw LineFault(fmt::format("field \"{}\" must be a string", NAME));
    }
    std::string s = v.get<std::string>();
    if (s.size() > MAX_LENGTH) {
        throw LineFault(fmt::format("field \"{}\" longer than {} characters", NAME, MAX_LENGTH));
    }
    return s;
}

std::string lf_optionalText(const json& OBJ, const char* NAME, std::size_t MAX_LENGTH)
{
    return OBJ.contains(NAME) ? lf_text(OBJ, NAME, MAX_LENGTH) : std::string();
}

// Airport codes of a route are IATA codes: three characters or none.
std::string lf_airportCode(const json& OBJ, const char* NAME)
{
    std::string s = lf_optionalText(OBJ, NAME, 3);
    if (!s.empty() && s.size() != 3) {
        throw LineFault(fmt::format("field \"{}\" must hold 3 characters or none", NAME));
    }
    return s;
}

uint32_t lf_hexId(const json& OBJ)
{
    const std::string s = lf_text(OBJ, "hex", 64);
    const bool allHex = !s.empty() && s.size() <= 6
        && std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
    if (!allHex) {
        throw LineFault(fmt::format("field \"hex\" must be 1 to 6 hex digits, not \"{}\"", s));
    }
    const auto id = static_cast<uint32_t>(std::stoul(s, nullptr, 16));
    if (id == 0) {
        throw LineFault("field \"hex\" must not be 0");
    }
    return id;
}

bool lf_bool(const json& OBJ, const char* NAME)
{
    const json& v = lf_field(OBJ, NAME);
    if (!v.is_boolean()) {
        throw LineFault(fmt::format("field \"{}\" must be true or false", NAME));
    }
    return v.get<bool>();
}

constexpr double lc_maxTime = 7.0 * 86400.0;

void lf_parseHeader(const json& OBJ, Scenario& SCENARIO)
{
    SCENARIO.name = lf_optionalText(OBJ, "name", 64);
    if (OBJ.contains("start_hh")) {
        SCENARIO.startHalfHour = lf_integer(OBJ, "start_hh", 0, 47);
    }
    SCENARIO.playFrom = lf_optionalNumber(OBJ, "play_from", 0.0, lc_maxTime).value_or(0.0);
    if (OBJ.contains("interval_ms")) {
        SCENARIO.intervalMs = lf_integer(OBJ, "interval_ms", 100, 60000);
    }
    SCENARIO.airport = lf_optionalText(OBJ, "airport", 4);
    SCENARIO.sessionLifetimeSeconds = lf_optionalNumber(OBJ, "session_s", 0.0, lc_maxTime).value_or(0.0);
}

ScenarioUserPoint lf_parseUser(const json& OBJ)
{
    ScenarioUserPoint p;
    p.time = lf_number(OBJ, "t", 0.0, lc_maxTime);
    p.lat = lf_number(OBJ, "lat", -90.0, 90.0);
    p.lon = lf_number(OBJ, "lon", -180.0, 180.0);
    p.altitudeFt = lf_number(OBJ, "alt", -2000.0, 60000.0);
    p.headingDeg = lf_number(OBJ, "hdg", 0.0, 360.0);
    p.groundSpeedKt = lf_number(OBJ, "gs", 0.0, 2000.0);
    p.onGround = lf_bool(OBJ, "gnd");
    return p;
}

TrafficReport lf_parseLive(const json& OBJ)
{
    TrafficReport r;
    r.reportTime = lf_number(OBJ, "t", 0.0, lc_maxTime);
    r.hexId = lf_hexId(OBJ);
    r.callsign = lf_text(OBJ, "cs", 16);
    r.registration = lf_optionalText(OBJ, "reg", 16);
    r.model = lf_text(OBJ, "model", 8);
    r.origin = lf_airportCode(OBJ, "from");
    r.destination = lf_airportCode(OBJ, "to");
    r.lat = lf_number(OBJ, "lat", -90.0, 90.0);
    r.lon = lf_number(OBJ, "lon", -180.0, 180.0);
    r.altitudeFt = lf_number(OBJ, "alt", -2000.0, 60000.0);
    r.groundSpeedKt = lf_number(OBJ, "gs", 0.0, 2000.0);
    r.airspeedKt = lf_number(OBJ, "tas", 0.0, 2000.0);
    r.trackDeg = lf_number(OBJ, "trk", 0.0, 360.0);
    r.verticalRateFpm = lf_number(OBJ, "vr", -20000.0, 20000.0);
    r.onGround = lf_bool(OBJ, "gnd");
    r.rollDeg = lf_optionalNumber(OBJ, "roll", -90.0, 90.0);
    r.trueHeadingDeg = lf_optionalNumber(OBJ, "hdg", 0.0, 360.0);
    return r;
}

ScenarioParked lf_parseParked(const json& OBJ)
{
    ScenarioParked p;
    p.report.hexId = lf_hexId(OBJ);
    p.report.callsign = lf_text(OBJ, "cs", 16);
    p.report.registration = lf_optionalText(OBJ, "reg", 16);
    p.report.model = lf_text(OBJ, "model", 8);
    p.report.airline = lf_optionalText(OBJ, "airline", 8);
    p.report.lat = lf_number(OBJ, "lat", -90.0, 90.0);
    p.report.lon = lf_number(OBJ, "lon", -180.0, 180.0);
    p.report.stand = lf_optionalText(OBJ, "stand", 16);
    p.report.halfHour = lf_integer(OBJ, "hh", 0, 47);
    p.untilTime = lf_optionalNumber(OBJ, "until", 0.0, lc_maxTime).value_or(std::numeric_limits<double>::infinity());
    return p;
}

ScenarioQnh lf_parseQnh(const json& OBJ)
{
    return ScenarioQnh{lf_number(OBJ, "t", 0.0, lc_maxTime), lf_number(OBJ, "qnh", 800.0, 1200.0)};
}

json lf_lineObject(const std::string& LINE)
{
    json obj = json::parse(LINE, nullptr, false);
    if (obj.is_discarded()) {
        throw LineFault("not valid JSON");
    }
    if (!obj.is_object()) {
        throw LineFault("not a JSON object");
    }
    return obj;
}

// Parses one line into the scenario; a live report goes to LIVE instead when it is given.
void lf_parseLine(const std::string& LINE, Scenario& SCENARIO, std::optional<TrafficReport>* LIVE = nullptr)
{
    const json obj = lf_lineObject(LINE);
    const std::string type = lf_text(obj, "type", 16);
    if (type == "live") {
        if (LIVE != nullptr) {
            *LIVE = lf_parseLive(obj);
        } else {
            SCENARIO.reports.push_back(lf_parseLive(obj));
        }
    } else if (type == "parked") {
        SCENARIO.parked.push_back(lf_parseParked(obj));
    } else if (type == "qnh") {
        SCENARIO.qnh.push_back(lf_parseQnh(obj));
    } else if (type == "user") {
        SCENARIO.user.push_back(lf_parseUser(obj));
    } else if (type == "header") {
        lf_parseHeader(obj, SCENARIO);
    } else {
        throw LineFault(fmt::format("unknown type \"{}\"", type));
    }
}

// The next line that holds something, without its line end; false at the end.
bool lf_nextLine(std::istream& IN, std::string& LINE, std::size_t& NUMBER)
{
    while (std::getline(IN, LINE)) {
        ++NUMBER;
        if (!LINE.empty() && LINE.back() == '\r') {
            LINE.pop_back();
        }
        if (LINE.find_first_not_of(" \t") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Every line of the scenario, each line's live report given to LIVE when LIVE is given.
ScenarioParseResult lf_parseLines(std::istream& IN, const std::function<void(TrafficReport&&)>& LIVE)
{
    ScenarioParseResult result;
    std::string line;
    std::size_t number = 0;
    std::optional<TrafficReport> report;
    while (lf_nextLine(IN, line, number)) {
        try {
            report.reset();
            lf_parseLine(line, result.scenario, LIVE ? &report : nullptr);
            if (report) {
                LIVE(std::move(*report));
            }
        } catch (const std::exception& e) {
            result.errors.push_back({number, fmt::format("line {}: {}", number, e.what())});
        }
    }
    auto& qnh = result.scenario.qnh;
    std::stable_sort(qnh.begin(), qnh.end(), [](const ScenarioQnh& A, const ScenarioQnh& B) { return A.time < B.time; });
    auto& user = result.scenario.user;
    std::stable_sort(user.begin(), user.end(),
                     [](const ScenarioUserPoint& A, const ScenarioUserPoint& B) { return A.time < B.time; });
    return result;
}

} // namespace

ScenarioParseResult gf_parseScenario(std::istream& IN)
{
    ScenarioParseResult result = lf_parseLines(IN, nullptr);
    auto& reports = result.scenario.reports;
    std::stable_sort(reports.begin(), reports.end(),
                     [](const TrafficReport& A, const TrafficReport& B) { return A.reportTime < B.reportTime; });
    return result;
}

bool gf_readScenarioFile(const std::filesystem::path& PATH, ScenarioParseResult& RESULT, std::string& ERROR)
{
    std::ifstream in(PATH, std::ios::binary);
    if (!in) {
        ERROR = fmt::format("cannot open scenario file {}", PATH.string());
        return false;
    }
    RESULT = gf_parseScenario(in);
    return true;
}

bool gf_readScenarioHead(const std::filesystem::path& PATH, ScenarioParseResult& RESULT, ScenarioHeadFacts& FACTS,
                         std::string& ERROR)
{
    std::ifstream in(PATH, std::ios::binary);
    if (!in) {
        ERROR = fmt::format("cannot open scenario file {}", PATH.string());
        return false;
    }
    FACTS = ScenarioHeadFacts{};
    double latest = -std::numeric_limits<double>::infinity();
    RESULT = lf_parseLines(in, [&FACTS, &latest](TrafficReport&& REPORT) {
        ++FACTS.liveReports;
        FACTS.inTimeOrder = FACTS.inTimeOrder && REPORT.reportTime >= latest;
        latest = std::max(latest, REPORT.reportTime);
        FACTS.lastReportTime = latest;
        FACTS.latSum += REPORT.lat;
        FACTS.lonSum += REPORT.lon;
    });
    return true;
}

ScenarioReportStream::ScenarioReportStream(const std::filesystem::path& PATH, double LAST_REPORT_TIME)
    : m_path(PATH), m_lastReportTime(LAST_REPORT_TIME), m_in(PATH, std::ios::binary)
{
}

void ScenarioReportStream::rewind()
{
    m_in.close();
    m_in.clear();
    m_in.open(m_path, std::ios::binary);
    m_number = 0;
}

bool ScenarioReportStream::next(TrafficReport& REPORT)
{
    Scenario ignored;
    std::optional<TrafficReport> report;
    while (lf_nextLine(m_in, m_line, m_number)) {
        try {
            lf_parseLine(m_line, ignored, &report);
        } catch (const std::exception&) {
            // Told at the head's reading already.
            continue;
        }
        if (report) {
            REPORT = std::move(*report);
            return true;
        }
        ignored = Scenario{};
    }
    return false;
}

} // namespace qmt
