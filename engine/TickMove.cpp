// The per-tick mover of both drivers: every tick it moves an aircraft one step along what the
// ground or the air planner set up at the last reached point (a curve, a leg path or straight
// steps), then applies the attitude and altitude half that the air driver keeps.

#include <algorithm>
#include <cmath>

#include "core/Geo.h"
#include "core/Log.h"
#include "engine/Motion.h"

namespace qmt {

namespace {

// The parameter of a curve stops just short of its end.
constexpr double kMaxCurveT = 0.999999;

} // namespace

void lf_tickMove(LiveAc& AC)
{
    auto& b = AC.block;
    if (AC.curve.running()) {
        AC.curveT = std::clamp(AC.curveT + AC.curveStep, 0.0, kMaxCurveT);
        double lat = 0.0;
        double lon = 0.0;
        double path = 0.0;
        if (gf_bezierPoint(AC.curve, AC.curveT, lat, lon, path)) {
            b[kBlockLat] = lat;
            b[kBlockLon] = lon;
            // pushed back, the nose points away from the way it goes
            const double target = AC.flightState == FlightState::pushing_back ? gf_wrapTwoPi(path + PI) : path;
            lf_turnTowardAt(AC, target, AC.pitchRate);
        } else {
            gf_logLine("{} error in curve at index: {:.2F}", AC.callsign, AC.curveT);
        }
    } else if (AC.legPath.running() && AC.onGround == 0) {
        lf_flyAirPath(AC);
    } else if (AC.legPath.running()) {
        double path = b[kBlockHeading];
        lf_followLegPath(AC, path);
        lf_turnTowardAt(AC, path, AC.pitchRate);
    } else {
        const FlightState fs = AC.flightState;
        if (fs == FlightState::take_off || fs == FlightState::flying || fs == FlightState::parked ||
            fs == FlightState::birth) {
            b[kBlockHeading] = gf_wrapTwoPi(b[kBlockHeading] + AC.headingStep);
        }
        if (fs == FlightState::parking || AC.turning != 0) {
            lf_turnToward(AC, AC.bearingToNext);
        }
        if (fs != FlightState::pushed_back) {
            b[kBlockLat] += AC.latStep;
            b[kBlockLon] += AC.lonStep;
        }
    }
    b[kBlockLon] = gf_wrapDegrees(b[kBlockLon]);
    if (b[kBlockLat] > 90.0 || b[kBlockLat] < -90.0) {
        b[kBlockLat] = (b[kBlockLat] > 0.0 ? 180.0 : -180.0) - b[kBlockLat];
        b[kBlockLon] = gf_wrapDegrees(b[kBlockLon] + 180.0);
    }
    lf_tickAttitude(AC);
}

} // namespace qmt
