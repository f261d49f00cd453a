#pragma once
// The simulator's answers are outside input like any file: a value that is not finite, or that no
// aircraft or airport can have, is refused where it enters the program. The user aircraft keeps
// its last good value of a refused field; a ground-data or static-CG answer with such a value is
// dropped. Each kind of refusal is logged once per connection (LOGGED holds the kinds logged).

#include "simlink/SimClient.h"

#include <cstdint>

namespace qmt {

// The user-aircraft answer as the simulator sends it (data definition 404): latitude, longitude
// (degrees), pitch, bank, true heading (radians), altitude, altitude above ground (feet), ground
// velocity (knots), on-ground flag, wing span (feet), then the 32 bytes of "ATC ID".
struct UserAnswer {
    static constexpr int kValues = 10;
    double values[kValues] = {};
    char callsign[32] = {};
};

// Takes the answer into SHARED (worker's values under g_userAcMutex): every value within its
// bounds replaces the last one, every other is refused and the last good one stays.
void gf_takeUserAnswer(const UserAnswer& ANSWER, UserAcShared& SHARED, std::uint32_t& LOGGED);
// A ground-data answer (ground altitude and height above ground, feet) that can be true.
bool gf_groundAnswerOk(double GROUND_FT, double ABOVE_GROUND_FT, std::uint32_t& LOGGED);
// A static-CG answer (height of the centre of gravity, feet; static pitch, radians) that can be true.
bool gf_staticCgAnswerOk(double CG_FT, double PITCH_RAD, std::uint32_t& LOGGED);

} // namespace qmt
