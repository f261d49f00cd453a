#pragma once

// Driving of live aircraft along their stream: the clock of the stream (when a point is played,
// what happens when the reports stop), the ground driver (taxi legs, curves, turn rates, runway
// exit, take-off), the manoeuvres at a stand (pull-out, push-back, parking) and the air driver
// (climb, descent, bank, configuration by phase, flare). Worker thread only.
//
// Every time is counted in ticks of 10 ms, distances in nautical miles, speeds in knots,
// altitudes in feet; headings, pitch and bank are radians (pitch negative nose up, bank
// negative to the right) unless a name says degrees.

#include <array>
#include <cstdint>

#include "core/Geo.h"
#include "engine/AcLists.h"

namespace qmt {

// ---- per-category tables ----

// One value per AcCategory (Light, Buzjets, Large, Heavy, HighPerf, Rotorcraft).
struct CategoryTable {
    std::array<double, 6> values{};
    // The value of a category; std::out_of_range for a category outside the table.
    double at(uint32_t CATEGORY) const;
};

extern const CategoryTable g_takeOffSpeeds; // knots; 0 for Rotorcraft
extern const CategoryTable g_pitchRates;    // largest pitch change per tick, radians
extern const CategoryTable g_bankLimits;    // largest bank, radians
extern const CategoryTable g_bankRates;     // largest bank change per tick, radians
// Speeds of a fixed-wing aircraft in the air, knots: never slower than its least speed (the
// stall with a margin; 0 for Rotorcraft), never faster than its greatest, touching down between
// the two approach speeds; and the speed change it flies with, knots a second.
extern const CategoryTable g_leastAirSpeeds;
extern const CategoryTable g_greatestAirSpeeds;
extern const CategoryTable g_slowestApproachSpeeds;
extern const CategoryTable g_fastestApproachSpeeds;
extern const CategoryTable g_airAccelerations;

// How close to the user aircraft a live aircraft may come: within DISTANCE, inside the altitude
// band and ahead of the user within the lateral limit is a conflict.
struct UserConflictLimit {
    double distanceNm = 0.0;
    double altitudeBandFt = 0.0;
    double lateralFt = 0.0;
};
// Row 0 the ground rule (4 nm, 1000 ft, 700 ft), row 1 the spawn (6 nm, 3000 ft, 4000 ft).
extern const std::array<UserConflictLimit, 2> g_userConflictLimits;

// ---- shared by the motion code ----

// No leg is played in fewer ticks than this.
inline constexpr int32_t kMinLegTicks = 25;
inline constexpr int32_t kTicksPerMinute = 6000;
// Reports at or above this ground speed are a take-off run (or a landing roll), not taxiing.
inline constexpr double kTakeOffRunKt = 43.0;
// Braking on the runway after a touchdown, knots a tick (5 kt a second).
inline constexpr double kRunwayBrakeKtPerTick = 0.05;
// A planned leg moves at this speed at least, knots, so that it always comes to its end.
inline constexpr double kLeastPlannedKt = 3.0;
// The end point of a planned leg waits for the aircraft at most this long after it fell due.
inline constexpr int32_t kLongestLateTicks = 3000;

// The tick counter now.
inline int32_t lf_now()
{
    return g_tickCounter.load(std::memory_order_relaxed);
}
// The two positions are the same (longitudes compared the short way round).
bool lf_samePosition(double LAT_A, double LON_A, double LAT_B, double LON_B);
bool lf_samePosition(const StreamPos& A, const StreamPos& B);
// Great-circle distance between two points of a stream, nm.
inline double lf_distanceNm(const StreamPos& A, const StreamPos& B)
{
    return gf_distanceNm(A.lat, A.lon, B.lat, B.lon);
}
// The aircraft no longer belongs to a stand: its stand position, heading, stand and cabin mark go.
void lf_forgetStand(LiveAc& AC);
// North and east (metres) of a position in the flat frame of a curve around an origin, and back.
inline constexpr double kFrameMetresPerDegree = 111132.95; // of latitude
void gf_toFrame(double ORIGIN_LAT, double ORIGIN_LON, double LAT, double LON, double& NORTH, double& EAST);
void gf_fromFrame(double ORIGIN_LAT, double ORIGIN_LON, double NORTH, double EAST, double& LAT, double& LON);
// The elevation (feet) of the ground where the aircraft lands at or near POINT: the nearest known
// airport's, else the simulator's ground under the aircraft.
double lf_touchdownElevation(const LiveAc& AC, const StreamPos& POINT);

// ---- stream advance and extrapolation ----

// Advances the stream of an active aircraft whose front point is due, or removes it. Logs an
// exception, removes the aircraft and throws on.
void nextPosMain(LiveAc& AC);
// Plays the next point (stream of at least two points).
void lf_nextPos(LiveAc& AC);
// Fewer than two points left: true when a point was appended, false when the aircraft is to go.
bool lf_streamRanDry(LiveAc& AC);
// Appends one made-up point after the front point, made with count K.
void lf_extrapolateStream(LiveAc& AC, int32_t K);
// Re-times the next point to now + TICKS within the early and late windows.
void lf_adjustPlayTick(LiveAc& AC, int32_t TICKS);
// A newly created aircraft stands at its front point, created later than that point was due:
// points after it that are already past are left out, so that it heads for the first point
// still to come instead of flying the past late.
void lf_skipOverduePoints(LiveAc& AC);
// The next point is due when the leg planned to it has been driven: never before the least
// interval, never sooner than the aircraft gets there at a plausible speed (a quarter and at
// most 50 kt faster than its reports go, on the FIRST leg of a new aircraft no faster than
// they go; at least 10 kt on the ground and 60 kt in the air), and on the ground never sooner
// than it can turn along the path of the leg.
void lf_paceLeg(LiveAc& AC, bool FIRST);
// Speed of the leg from the front point to the next, knots (at least 1).
double lf_segmentSpeed(const StreamPos& FRONT, const StreamPos& NEXT);
// Ticks to cover DISTANCE_NM at SPEED_KT, rounded; the narrowing error when out of 32 bits.
int32_t lf_legTicks(double DISTANCE_NM, double SPEED_KT);
// Ticks of the leg from FRONT to NEXT at its segment speed, at least kMinLegTicks.
int32_t lf_segmentTicks(const StreamPos& FRONT, const StreamPos& NEXT);
// Ticks until the point is due, at least 25.
int32_t lf_ticksUntil(const StreamPos& POINT);
// Latitude and longitude steps from the current position to the next point.
void lf_setStepsToNext(LiveAc& AC);

// Windows back to 3000 early and 3000 late (5000 while departing).
void lf_resetWindows(LiveAc& AC);
// Both windows 100 smaller, not below 1000.
void lf_shrinkWindows(LiveAc& AC);
// Changes the flight state, keeping the one it came from; the same state changes nothing.
void lf_setFlightState(LiveAc& AC, FlightState STATE);

// ---- ground driver ----

// Ground planner at a reached point.
void nextPosGround(LiveAc& AC);
// Ground step after the per-tick steps were set, when the next point is not a repeat.
void lf_rollOnGround(LiveAc& AC);
// Timing and turn rate of the ground step.
void lf_groundMove(LiveAc& AC);
// Inserts the midpoint of the front and next points as the new next point.
void lf_setupGroundTurn(LiveAc& AC);
// Inserts a midpoint when the speed changes strongly over a long leg.
void lf_straightOrTurn(LiveAc& AC);
// Starts a curve that takes the next point as its control point.
void lf_setupCurve(LiveAc& AC);
// The fastest the path of the curve turns, radians per unit of its parameter: where its direction
// vector is shortest.
double lf_curveTurnRate(const GroundCurve& CURVE);
// Bearing from the next point to the one after it, minus the heading (-pi..pi); 0 with fewer
// than three points.
double lf_turnAngle(const LiveAc& AC);
// The point and path heading (0..2pi) of the curve at T; false when the curve has no such point.
bool gf_bezierPoint(const GroundCurve& CURVE, double T, double& LAT, double& LON, double& HEADING);
// Every point from the next on is at the category's take-off speed.
bool lf_canTakeOff(const LiveAc& AC);
void lf_startTakeOff(LiveAc& AC);
// The per-tick mover: position and heading, then attitude and altitude.
void lf_tickMove(LiveAc& AC);
// Turns the heading toward TARGET (radians) by at most the turn rate in use, never past it.
void lf_turnToward(LiveAc& AC, double TARGET);
// The same at a given rate, radians per tick.
void lf_turnTowardAt(LiveAc& AC, double TARGET, double RATE);

// ---- push-back, pull-out and parking ----

// The ground planner of a parked aircraft: leaving the stand when it is to go.
void lf_leaveStand(LiveAc& AC);
// The ground planner while pushing back.
void lf_pushBackStep(LiveAc& AC);
void lf_pullOut(LiveAc& AC);
void lf_pushBack(LiveAc& AC);
// A taxiing aircraft that stops near a free stand claims it and drives on.
void try2Park(LiveAc& AC, bool TOWED);
// Appends the drive onto the stand and the stop on it.
void drive2Stand(LiveAc& AC, double LAT, double LON, double HEADING);
// The stream ran dry while parking: parked on the stand, or on to taxi.
void lf_arriveAtStand(LiveAc& AC);

// ---- the path of a leg ----

// The arc tangent of X, and the direction (radians from north, clockwise, in [0, 2 pi)) of a move
// NORTH and EAST, both within 1.2e-5 rad and without a library call: the per-tick path uses them.
double gf_quickAtan(double X);
double gf_quickBearing(double NORTH, double EAST);

// The direction in which to reach the next point (stream[1]): along the middle of the leg to it
// and the leg after it, unless that one turns sharply or is no move.
double lf_arrivalHeading(const LiveAc& AC);
// Sets up the path of the leg from the aircraft's position along its heading to the next point,
// reached along ARRIVAL (radians); false (and no path) for a leg too short to have one.
bool lf_shapeLegPath(LiveAc& AC, double ARRIVAL);
// The fastest the path turns, radians per unit of its parameter (on the ground, where the
// parameter runs evenly).
double lf_legPathTurnRate(const LegPath& PATH);
// The set-up path is driven over T ticks from now: on the ground slower where it turns most; a
// planned leg (in the air) at its planned speed.
void lf_startLegPath(LiveAc& AC, int32_t T);
// The radius of a turn at the category's bank (no more than 45 degrees counted) at the speed
// flown, metres.
double lf_airTurnRadiusM(const LiveAc& AC);
// Length of the set-up path, metres.
double lf_legPathLength(const LegPath& PATH);
// One tick along the path: the position moves; HEADING becomes the path's direction. Answers the
// metres moved on a planned leg (0 otherwise). A planned leg's end point is played when the
// path reaches it.
double lf_followLegPath(LiveAc& AC, double& HEADING);
// The speed of a planned leg this tick, knots (also the speed the aircraft shows).
double lf_plannedSpeedTick(LiveAc& AC);

// ---- air driver ----

// Air planner at a reached point, before the per-tick steps are set.
void lf_nextPosAirborne(LiveAc& AC);
// Air step toward the next point (stream[1]) once the position steps are set.
void lf_nextPosAir(LiveAc& AC);
// Plans the speed of the air leg to the next point along its set-up path: from the speed flown
// now to the speed aimed at, within the category's acceleration and speeds, and re-times the
// next point to the arrival; it stays within a tolerance of the point's reported time where the
// acceleration allows.
void lf_planAirSpeed(LiveAc& AC);
// Sets up the path of the leg to the next point (stream[1]), leaving along the heading, and
// plans its speed.
void lf_shapeAirPath(LiveAc& AC);
// Starts the set-up path (T ticks); without one, the wings are levelled.
void lf_setupAirPath(LiveAc& AC, int32_t T);
// One tick along the air path: position, heading, and the bank of the turn being flown.
void lf_flyAirPath(LiveAc& AC);
// Skips ahead to point K - 1 when it is airborne; true when it did.
bool lf_planFlightStep(LiveAc& AC, std::size_t K);
void lf_climbPerTick(LiveAc& AC);
// The pitch (radians, negative nose up) at which an aircraft flies with the vertical rate FPM.
double lf_pitchForVerticalRate(double FPM);
// Feet per minute of a descent, corrected by the QNH.
double lf_descentRate(const LiveAc& AC);
void lf_bankTowards(LiveAc& AC, double HEADING_CHANGE, int32_t TICKS);
void lf_configureByHeight(LiveAc& AC);
void lf_configureApproach(LiveAc& AC);
// The attitude and altitude half of the per-tick mover.
void lf_tickAttitude(LiveAc& AC);
// True when the aircraft was removed because it conflicts with the user aircraft (ROW 0 or 1).
bool lf_checkUserConflict(LiveAc& AC, uint32_t ROW);

} // namespace qmt
