#pragma once

// Records of the aircraft that the program puts into the simulator, their two state
// enumerations and the log texts that describe an aircraft. The engine keeps them in the
// containers of engine/AcLists.h. Everything here belongs to the worker thread.

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <deque>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/AcKind.h"
#include "core/WeekTime.h"
#include "records/AcIds.h"
#include "records/StreamPos.h"

namespace qmt {

// Life state of an aircraft in the simulator.
enum class AcState : uint32_t {
    buffer = 0,          // record exists, not yet in the simulator
    adding2sim = 1,      // create request queued or sent, object id not yet known
    active = 2,          // in the simulator and driven (live) or parked (static)
    liveryrespawn = 3,   // removed to be created again with another livery
    removingfromsim = 4, // removal from the simulator requested
};

// Flight state of a live aircraft.
enum class FlightState : uint32_t {
    pushing_back = 0,
    pushed_back = 1,
    taxi = 2,
    take_off = 3,
    flying = 4,
    parking = 5,
    parked = 6,
    birth = 7, // not yet set
};

// Identity and per-category performance head of every aircraft record.
struct AcProfile {
    AcKind kind{};
    std::string origin;               // origin airport code, empty when unknown
    std::string destination;          // destination airport code, empty when unknown
    uint16_t learnedStandChecked = 0; // the learned-stand lookup ran for this landed aircraft
    std::string callsign;
    std::string callsignCopy;         // live: copy of the callsign; static: second callsign text
    std::string extraText;            // third text of the traffic record; empty for live aircraft
    std::string registration;
    double halfSpan = 0.0;            // nm
    double cgHeight = 0.0;            // feet; 0 until the simulator reports it
    double groundPitch = 0.0;         // radians, negative nose up; 0 until reported
    double takeOffPitch = 0.0;        // radians
    double climbPitch = 0.0;          // radians
    double pitchRate = 0.0;           // ground turn rate, radians per tick
    double pitchRateLive = 0.0;       // live: turn rate in use
    double climbFactor = 0.0;         // live: largest climb per tick, feet
    double turnFactor = 0.0;          // live: stand manoeuvre speed, knots
    uint32_t id = 0;                  // live: hex id (> 10000); static: 10000 or less
    uint32_t category = 2;            // AcCategory; Large until the profile is built
    std::string_view liveryTitle;     // view into the livery tables, which outlive every record
    uint32_t groundSlots = 0;         // ticks of the flare pitch change
    uint32_t touchdownSlots = 0;      // ticks to ground attitude after touchdown
    uint32_t rotationSlots = 0;       // ticks of the take-off rotation
    uint32_t airSlots = 0;            // ticks of the change to climb pitch
    uint64_t reverseThrust = 0;       // flag: reverse thrust at touchdown
};

// The record of any aircraft in the simulator; static parked aircraft use it unchanged.
struct SimAc : AcProfile {
    SimAc() = default;
    SimAc(const AcProfile& PROFILE, uint32_t STAND_ID, double LAT, double LON, double HEADING,
          bool NO_CABIN_LIGHT);

    uint32_t objectId = 0;            // simulator object id, 0 while none is known
    double lat = 0.0;                 // degrees
    double lon = 0.0;                 // degrees
    double heading = 0.0;             // radians
    WeekTime timeStamp{};             // time of week it arrived at (static: is taken to have parked at) its stand
    uint32_t parkedTrafficId = 0;     // hex id of the parked-traffic report it stands for
    uint32_t standId = 0;             // stand of the park airport, 0 for none
    AcState state = AcState::buffer;
    uint32_t throttleIndex = 5;       // 0..4, 5 = never sent
    uint32_t flapsIndex = 4;          // 0..3, 4 = never sent
    uint8_t noCabinLight = 0;
    uint32_t notFromParkedTraffic = 1;
    uint8_t removeWhenCreated = 0;    // removal asked for while the create request was with the simulator
    uint8_t remove = 0;               // erase at the end of this tick's update pass
    uint8_t removed = 0;              // create request withdrawn; erase like remove

    bool isLive() const { return id > kMaxStaticId; }
};

// The per-tick position block, in the order the simulator's position definition expects.
enum BlockIndex : std::size_t {
    kBlockLat = 0, kBlockLon, kBlockPitch, kBlockBank, kBlockHeading, kBlockAlt,
    kBlockVerticalSpeed, kBlockAirspeed, kBlockSize
};

// A quadratic ground curve in a flat frame around its origin (north and east in metres): the
// origin is the first point, the control point the corner it cuts, the end point the last. The
// control values are not-a-number while no curve runs.
struct GroundCurve {
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double originLat = 0.0;     // degrees
    double originLon = 0.0;     // degrees
    double startT = kNone;
    double endNorth = 0.0;      // metres from the origin
    double endEast = 0.0;
    double endT = kNone;
    double controlEast = kNone; // metres from the origin
    double controlNorth = kNone;

    bool running() const { return !std::isnan(controlEast) && !std::isnan(controlNorth); }
    void clear()
    {
        startT = kNone;
        endT = kNone;
        controlEast = kNone;
        controlNorth = kNone;
    }
};

// The path of one leg, in the air or on the ground: a cubic curve in a flat frame around its
// origin (north and east in metres) that leaves the origin along the heading there and reaches
// the end point along the direction wanted there, so that the nose follows the path driven; its
// parameter runs from 0 to 1 over the leg.
struct LegPath {
    // first, next to the ground curve's fields, as every tick tests them
    double t = 0.0;             // parameter now
    double step = 0.0;          // its increase per tick; 0 while the path is not driven
    double originLat = 0.0;     // degrees
    double originLon = 0.0;
    double firstNorth = 0.0;    // the two inner control points and the end point, metres
    double firstEast = 0.0;
    double secondNorth = 0.0;
    double secondEast = 0.0;
    double endNorth = 0.0;
    double endEast = 0.0;
    double lonPerMetre = 0.0;   // degrees of longitude per metre east at the origin
    double lastNorth = 0.0;     // the point reached, metres from the origin
    double lastEast = 0.0;
    double speed = 0.0;         // metres per unit of the parameter, where the path is now
    // A planned leg is flown at a speed that changes evenly from the speed the aircraft has to
    // the one it is to reach the end with: no step in speed from one leg to the next.
    double speedKt = 0.0;       // the speed flown now
    double speedStepKt = 0.0;   // its change per tick, up to speedEndKt
    double speedEndKt = 0.0;
    double rollOutKt = 0.0;     // after a touchdown on the leg, braked down to this speed
    int32_t dueTick = 0;        // when the end point was due by its report
    int32_t endTick = 0;        // when the end point is due by the plan (someone may cut it short)
    uint8_t endOnGround = 0;    // the end point is on the ground
    uint8_t straight = 0;       // the path is a straight line along the heading
    uint8_t planned = 0;        // flown by speed, not by an even parameter
    uint8_t shaped = 0;         // the curve is set up for the leg

    bool running() const { return step > 0.0; }
    void clear()
    {
        step = 0.0;
        shaped = 0;
        planned = 0;
    }
};

// A live aircraft, driven along its reported positions.
struct LiveAc : SimAc {
    LiveAc(const StreamPos& FIRST_POINT, const AcProfile& PROFILE, double REPORT_TIME);

    std::array<double, kBlockSize> block{}; // lat, lon (deg), pitch, bank, heading (rad), alt (ft), vs (ft/s), TAS (kt)
    std::deque<StreamPos> stream;           // reported positions still to be played; front is the point reached
    double lastReportTime = 0.0;            // seconds, of the last accepted record

    // What the tick reads of the front point every tick, kept in the record so that a tick in
    // which no point falls due does not reach into the stream's storage (a cache miss per
    // aircraft). It holds while frontKept is set and the stream's front is still the element at
    // frontAt with the stream of frontSize points: the tick's update pass keeps it for an active
    // aircraft (kFrontKeptActive) and for one waiting to be created (kFrontKeptBuffered), leaves
    // it in every other state, and the merge of a report, which may change the front point in
    // place, forgets it (gf_forgetKeptFront).
    static constexpr uint8_t kFrontKeptActive = 1;
    static constexpr uint8_t kFrontKeptBuffered = 2;
    const StreamPos* frontAt = nullptr;
    std::size_t frontSize = 0;
    int32_t frontPlayTick = 0;
    uint8_t frontRepeat = 0;
    uint8_t frontKept = 0;
    uint8_t frontHasRoll = 0;
    double frontRoll = 0.0;                 // radians, valid while frontHasRoll

    // driving state
    double checkLat = 0.0;                  // position at the last check for statics in the way
    double checkLon = 0.0;
    uint64_t parkStart = 0;                 // clock time (100 ns) last seen standing at its stand
    int32_t extrapolations = 0;             // 0 playing reports, k > 0 extrapolating, -1 used up
    uint32_t holdStartTick = 0;             // tick at which the current hold began, 0 when not holding
    FlightState flightState = FlightState::birth;
    FlightState previousFlightState = FlightState::birth;
    uint8_t keepParked = 0;                 // reports still show the parked aircraft at its stand
    uint8_t onGround = 0;
    uint8_t hasFlightPlan = 0;              // an AI flight plan file was written
    uint8_t spawnCheckPending = 0;
    uint8_t holding = 0;                    // a taxiing aircraft held in place while no reports come
    double latStep = 0.0;                   // degrees added to the position every tick
    double lonStep = 0.0;
    double pitchStep = 0.0;                 // radians per tick
    double bankStep = 0.0;                  // radians per tick
    double headingStep = 0.0;               // radians per tick
    double climbPerTick = 0.0;              // feet per tick
    double verticalRate = 0.0;              // feet per minute
    double groundSpeed = 0.0;               // knots; negative while pushing back
    GroundCurve curve;                      // the ground curve being driven, if any
    double curveT = 0.0;                    // current curve parameter
    double curveStep = 0.0;                 // its increase per tick
    double turnAngle = 0.0;                 // degrees of the turn that the running curve makes
    LegPath legPath;                        // the path of the leg being driven, if any
    StreamPos savedPushBackPoint;           // the other side's end point of a push-back
    double parkTryLat = 0.0;                // where the last parking attempt was made
    double parkTryLon = 0.0;
    int32_t earlyWindow = 1000;             // ticks a point may be played early
    int32_t lateWindow = 1000;              // ticks a point may be played late
    int32_t transitionSlots = 1;            // take-off rotation and climb-out countdown
    uint32_t pushBackCountdown = 0;         // 2, 1, 0 through the push-back
    uint32_t standLeaveCount = 0;           // consecutive reports moving away from the stand
    double bearingToNext = 0.0;             // radians, from the point just reached to the next one
    double heightAboveGround = 2500.0;      // feet, from the simulator's ground data
    double heightAboveAirport = 0.0;        // feet above the touchdown elevation
    double touchdownHeading = 0.0;          // radians
    double pushBackDistance = 0.0;          // nm, latest report after the push-back that did not start the taxi
    double standDistanceFirst = 0.0;        // nm, first distance of a report from the stand while parked
    double standDistanceMax = 0.0;          // nm, largest distance of a report from the stand while parked
    double headingChange = 0.0;             // degrees between the heading and bearingToNext
    double respawnHeading = 0.0;            // radians, heading for the next creation
    uint8_t useRespawnHeading = 0;
    uint8_t pushBackTurnRight = 0;          // the push-back ends with the nose turned clockwise
    uint8_t pushBackTurnKnown = 0;          // reports have told the side of the push-back turn
    double touchdownElevation = 0.0;        // feet, the elevation the flare heights refer to
    uint8_t touchdownElevationKnown = 0;
    uint32_t flareStage = 0;                // 0 none, 1 to 4
    uint8_t approach = 0;
    uint8_t touchedDown = 0;
    uint8_t shortTurnaround = 0;            // left its stand soon after arriving
    uint8_t climbConfigured = 0;            // go-around or climb configuration sent
    uint8_t departing = 0;
    uint8_t cruiseConfigured = 0;           // configuration above 10000 ft sent
    uint8_t lightsSet = 0;                  // full light set sent in flight
    uint8_t derotating = 0;
    uint8_t landingRoll = 0;
    uint8_t pullOutPending = 0;             // the aircraft is to leave its stand at its next step
    uint8_t turning = 0;                    // the heading differs from bearingToNext by more than 3 degrees
    // what the air planner works out for the next leg before its path is set up (not every tick)
    double legAimKt = 0.0;                  // the speed the reports show at the end point
    double legArcArrival = 0.0;             // radians: the heading at the end of a turn before a sharp corner
    uint8_t legArc = 0;                     // the leg is such a turn
};

// ---- records ----

// Copies every field of the profile; the records take theirs through it when they are made.
void gf_copyAcProfile(AcProfile& TARGET, const AcProfile& SOURCE);
// Name of an AcState / FlightState value; std::out_of_range for an unknown value.
std::string_view gf_lifeStateName(uint32_t STATE);
std::string_view gf_phaseName(uint32_t STATE);
inline std::string_view gf_lifeStateName(AcState STATE) { return gf_lifeStateName(static_cast<uint32_t>(STATE)); }
inline std::string_view gf_phaseName(FlightState STATE) { return gf_phaseName(static_cast<uint32_t>(STATE)); }
// Whoever changes a point of an active aircraft's stream in place outside the tick's update
// pass calls this, so that the tick looks at the front point again.
inline void gf_forgetKeptFront(LiveAc& AC) { AC.frontKept = 0; }
// The kept front point holds, kept by the pass of the given kind, when the stream's front is
// still the element it was taken from. Only the stream's own bookkeeping in the record is read,
// never the point.
inline bool gf_keptFrontHolds(const LiveAc& AC, uint8_t KIND)
{
    return AC.frontKept == KIND && !AC.stream.empty() && AC.frontAt == &AC.stream.front() &&
           AC.frontSize == AC.stream.size();
}

// ---- log texts of an aircraft ----

std::string lf_routeText(const AcProfile& AC);
std::string lf_acText(const AcProfile& AC);
std::string gf_acDescription(const AcProfile& AC);
std::string gf_acDescription3(const AcProfile& AC);
std::string lf_width8Text(const AcProfile& AC);
std::string lf_spawnText(const AcProfile& AC);
// Airline code of an airline callsign (three letters and a digit at the start), upper-cased.
std::optional<std::string> gf_normalizeCallsign(std::string_view CALLSIGN);

} // namespace qmt
