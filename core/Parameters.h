#pragma once
// Settings. Every setting is a global Parameter object with a name (used in parameters.xml and
// in airport files), a default and a current value. Values may be read from any thread: ints,
// bools and floats are atomics, texts sit behind a mutex of their own parameter.
// Window controls: each parameter carries a ParameterControl that the main window binds to.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmt {

enum class ParameterKind { Int, String, Bool, IntChoice, StringChoice, FloatChoice, BoolCtrl, StringCtrl, CallsignMap };

// The window side of a parameter: which control shows it and whether that control is enabled.
// The window model reads both when it repaints; any thread may change them.
struct ParameterControl {
    std::atomic<int> controlId{0}; // id of the control in the main window, 0 while none
    std::atomic<bool> enabled{true};

    void enable(bool on = true) { enabled.store(on); }
    void disable() { enabled.store(false); }
    bool isEnabled() const { return enabled.load(); }
};

class Parameter {
public:
    Parameter(std::string_view name, ParameterKind kind) : m_name(name), m_kind(kind) {}
    Parameter(const Parameter&) = delete;
    Parameter& operator=(const Parameter&) = delete;
    virtual ~Parameter() = default;

    const std::string& name() const { return m_name; }
    ParameterKind kind() const { return m_kind; }
    // The current value as written to parameters.xml.
    virtual std::string text() const = 0;
    virtual std::string defaultText() const = 0;
    // Sets the value from its parameters.xml text; false when the text is not valid: the value
    // is then unchanged, or for a setting with choices its default.
    virtual bool setText(std::string_view text) = 0;
    // Back to the default value.
    virtual void reset() = 0;

    ParameterControl& control() { return m_control; }
    const ParameterControl& control() const { return m_control; }

private:
    std::string m_name;
    ParameterKind m_kind;
    ParameterControl m_control;
};

// Int with lower and upper bounds; set() clamps.
class IntParameter : public Parameter {
public:
    IntParameter(std::string_view name, int defaultValue, int minValue, int maxValue);
    int value() const { return m_value.load(); }
    int defaultValue() const { return m_default; }
    int minValue() const { return m_min; }
    int maxValue() const { return m_max; }
    // Stores the value clamped into the bounds and returns what was stored.
    int set(int v);
    std::string text() const override;
    std::string defaultText() const override;
    bool setText(std::string_view text) override;
    void reset() override { m_value.store(m_default); }

private:
    int m_default, m_min, m_max;
    std::atomic<int> m_value;
};

class BoolParameter : public Parameter {
public:
    BoolParameter(std::string_view name, bool defaultValue, ParameterKind kind = ParameterKind::Bool);
    bool value() const { return m_value.load(); }
    bool defaultValue() const { return m_default; }
    void set(bool v) { m_value.store(v); }
    std::string text() const override;
    std::string defaultText() const override;
    bool setText(std::string_view text) override;
    void reset() override { m_value.store(m_default); }

private:
    bool m_default;
    std::atomic<bool> m_value;
};

// A bool setting with a check box in the main window.
class BoolCtrlParameter : public BoolParameter {
public:
    BoolCtrlParameter(std::string_view name, bool defaultValue) : BoolParameter(name, defaultValue, ParameterKind::BoolCtrl) {}
};

class StringParameter : public Parameter {
public:
    StringParameter(std::string_view name, std::string_view defaultValue, ParameterKind kind = ParameterKind::String);
    std::string value() const;
    const std::string& defaultValue() const { return m_default; }
    void set(std::string_view v);
    bool empty() const;
    std::string text() const override { return value(); }
    std::string defaultText() const override { return m_default; }
    bool setText(std::string_view text) override;
    void reset() override;

private:
    std::string m_default;
    mutable std::mutex m_mutex; // guards m_value
    std::string m_value;
};

// A text setting with an edit control in the main window.
class StringCtrlParameter : public StringParameter {
public:
    StringCtrlParameter(std::string_view name, std::string_view defaultValue) : StringParameter(name, defaultValue, ParameterKind::StringCtrl) {}
};

// A number chosen from a list (a combo box). Only a listed value is stored: set() stores the
// default instead of anything else and answers false. Ints match exactly; a float within 0.01 of
// a choice stores that choice (NaN and 3e38 store the default).
template <typename T>
class NumberChoiceParameter : public Parameter {
public:
    NumberChoiceParameter(std::string_view name, ParameterKind kind, std::vector<T> choices, T defaultValue)
        : Parameter(name, kind), m_choices(std::move(choices)), m_default(defaultValue), m_value(defaultValue)
    {
    }
    T value() const { return m_value.load(); }
    T defaultValue() const { return m_default; }
    bool set(T v);
    const std::vector<T>& choices() const { return m_choices; }
    // Index of the choice equal to the value, empty when none.
    std::optional<std::size_t> currentIndex() const { return indexOf(value()); }
    std::string text() const override;
    std::string defaultText() const override;
    bool setText(std::string_view text) override;
    void reset() override { m_value.store(m_default); }

private:
    std::optional<std::size_t> indexOf(T v) const;

    std::vector<T> m_choices;
    T m_default;
    std::atomic<T> m_value;
};

// An int chosen from a list.
class IntChoiceParameter : public NumberChoiceParameter<int> {
public:
    IntChoiceParameter(std::string_view name, std::vector<int> choices, int defaultValue)
        : NumberChoiceParameter(name, ParameterKind::IntChoice, std::move(choices), defaultValue)
    {
    }
};

// A text chosen from a list (a combo box). Only a listed text is stored: set() stores the
// default instead of anything else (a hand-edited parameters.xml can hold anything) and
// answers false.
class StringChoiceParameter : public Parameter {
public:
    StringChoiceParameter(std::string_view name, std::vector<std::string> choices, std::string_view defaultValue);
    std::string value() const;
    const std::string& defaultValue() const { return m_default; }
    bool set(std::string_view v);
    const std::vector<std::string>& choices() const { return m_choices; }
    std::optional<std::size_t> currentIndex() const;
    std::string text() const override { return value(); }
    std::string defaultText() const override { return m_default; }
    bool setText(std::string_view text) override;
    void reset() override;

private:
    std::vector<std::string> m_choices;
    std::string m_default;
    mutable std::mutex m_mutex; // guards m_value
    std::string m_value;
};

// A float chosen from a list (MAX_FIT_FL: hours).
class FloatChoiceParameter : public NumberChoiceParameter<float> {
public:
    FloatChoiceParameter(std::string_view name, std::vector<float> choices, float defaultValue)
        : NumberChoiceParameter(name, ParameterKind::FloatChoice, std::move(choices), defaultValue)
    {
    }
};

// The callsigns of the active live aircraft with their simulator object ids (refreshed by the
// window), and the one callsign the user chose in that list (the saved value).
class CallsignMapParameter : public Parameter {
public:
    explicit CallsignMapParameter(std::string_view name);
    std::string chosen() const;
    void choose(std::string_view callsign);
    std::map<std::string, std::uint32_t> entries() const;
    void setEntries(std::map<std::string, std::uint32_t> entries);
    std::optional<std::uint32_t> objectIdOf(std::string_view callsign) const;
    std::string text() const override { return chosen(); }
    std::string defaultText() const override { return {}; }
    bool setText(std::string_view text) override;
    void reset() override;

private:
    mutable std::mutex m_mutex; // guards m_chosen and m_entries
    std::string m_chosen;
    std::map<std::string, std::uint32_t> m_entries;
};

// ---------------------------------------------------------------------------------------------
// The settings. Defaults and bounds are in Parameters.cpp.

// Livery scan
extern BoolCtrlParameter SCAN_LIVERIES;           // a livery scan is asked for (cleared after a scan)
extern BoolCtrlParameter LIG_AUTOMATIC;           // automatic AI package detection, else the lfolders
extern BoolCtrlParameter LIG_PRIORITIZE;          // keep only the highest-priority folder's liveries per kind
extern StringChoiceParameter AI_PACKAGE_SELECTOR; // AI packages scanned in automatic mode, in order (64 choices)
extern std::array<StringCtrlParameter, 10> LFOLDERS; // "lfolder0" .. "lfolder9": manual scan folders
extern IntChoiceParameter MATCHING_DEPTH;         // livery matching steps 1..4

// Aircraft classes shown
extern BoolCtrlParameter LIGHT_AIRCRAFT;     // show light aircraft
extern BoolCtrlParameter HIGH_PERF_AIRCRAFT; // show high-performance aircraft
extern BoolCtrlParameter HELICOPTERS;        // show helicopters, allow helicopter stands

// Live traffic
extern IntParameter MAX_LIVE_SEL;                 // most live aircraft in the simulator (0: none)
extern IntParameter RANGE;                        // traffic range, nm
extern BoolCtrlParameter AUTO_RANGE;              // range follows the traffic density
extern BoolCtrlParameter COLLISION_USER_GND;      // remove live aircraft too close to the user on the ground
extern BoolCtrlParameter COLLISION_USER_AIR;      // remove live aircraft in the user's path in the air
extern BoolCtrlParameter COLLISION_LIVE_PARKED_GND; // remove static aircraft in a taxiing live one's way
extern BoolCtrlParameter NAV_LIGHTS_WHILE_PARKED; // nav lights on while parked
extern BoolCtrlParameter GUID_CHANGES;            // a live aircraft whose identity changes respawns
extern BoolCtrlParameter AIRBORNE_ONLY;           // no holding on the ground for taxiing aircraft
extern IntParameter MAX_HOLDING_MINUTES;          // longest hold of a taxiing aircraft without reports, minutes
extern IntParameter HOLDING_THRESHOLD_METERS;     // a new point farther than this ends a hold by removal, metres
extern BoolCtrlParameter STRAIGHT_PBS_ONLY;       // push-backs straight back only
extern CallsignMapParameter CALLSIGN_2_OBJECTID;  // active callsigns and the one chosen by the user
extern StringCtrlParameter BLOCKED_CALLSIGNS;     // callsigns the user blocked, comma-separated
extern BoolCtrlParameter OBJECTID_LIST;           // write ObjectIdList.txt every minute

// Static parking and the park airport
extern IntChoiceParameter MAX_PARK_SEL;           // most static aircraft (0 or less: static parking off)
extern IntChoiceParameter parking_percentage;     // percentage of the park airport's stands to fill
extern IntParameter CUSTOM_PARKING_PERCENTAGE;    // used instead of parking_percentage when >= 0
extern BoolCtrlParameter WEEK;                    // week passes
extern BoolCtrlParameter PARK_SOFT;               // soft passes
extern BoolCtrlParameter RT_PARKTRAFFIC_ONLY;     // static aircraft from parked traffic only
extern BoolCtrlParameter INITIAL_LOAD_ONLY;       // no renewal, no time limit for live parked aircraft
extern IntParameter MAX_FIT;                      // largest fit step, half hours
extern FloatChoiceParameter MAX_FIT_FL;           // the same in hours, as offered in the window
extern IntParameter AIRP_RANGE;                   // park airport in sight within this range, nm
extern IntParameter AIRP_HEIGHT;                  // park airport in sight below this height, ft
extern StringCtrlParameter DESTINATION;           // destination airport; non-empty: park list not re-sorted

// Add-on airport scan
extern BoolCtrlParameter SCAN_AIRPORTS;           // an add-on airport scan is asked for (cleared by the scan)

// Simulator and service
extern IntChoiceParameter SIM_CHOICE;             // 2020 or 2024
extern StringParameter MSFS_INSTALL_PATH;         // install path of the 2020 simulator
extern StringParameter MSFS2024_INSTALL_PATH;     // install path of the 2024 simulator
extern StringCtrlParameter RT_KEY;                // the user's traffic service key

// Window and time
extern IntParameter MAIN_WINDOW_X;                // window position, pixels
extern IntParameter MAIN_WINDOW_Y;
extern IntParameter TIME_SHIFT_MINUTES;           // the user's time shift, minutes (0: off); given to gf_setTimeShift

// Every parameter, in the order of parameters.xml.
const std::vector<Parameter*>& gf_allParameters();
// The parameters of one kind, in the same order.
std::vector<Parameter*> gf_parametersOfKind(ParameterKind kind);
// The parameter with that name, nullptr when none.
Parameter* gf_parameterByName(std::string_view name);
// Every parameter back to its default (tests, and a broken parameters.xml).
void gf_resetParameters();

// Reads parameters.xml (root/parameters/parameter with "name" and "value"). A missing file
// leaves the defaults and returns true. A file that does not load (or holds more than a
// megabyte) is kept as "parameters.broken.xml", the newest generation that loads
// (parameters0.xml ...) gives the settings, else the defaults stay; later saves of this run
// leave the generations alone; a warning is logged and the result is false with the message
// in errorText. Unknown names are ignored; invalid values keep the default.
bool gf_loadParameters(const std::filesystem::path& path, std::string* errorText = nullptr);
// Writes every parameter to the file through a temporary file and a rename (previous file kept
// as one generation).
// Tests: forget that a broken file was kept.
void gf_resetParametersFileForTests();
bool gf_saveParameters(const std::filesystem::path& path);
// Rewrites that one parameter in parameters.xml (g_parametersPath) and logs "{}={}".
bool gf_saveParameter(const Parameter& parameter);
// The same for a bool parameter.
bool gf_saveBoolParameter(const BoolParameter& parameter);

} // namespace qmt
