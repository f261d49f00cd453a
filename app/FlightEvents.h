// The event lines of the traffic: the landings, parkings, push-backs and departures of the live
// aircraft, and the static aircraft placed, renewed or removed at the park airport. Watched once
// a second on the worker from the lists it is given; the lines go to core/EventLines.h.
#pragma once

#include "records/AcRecords.h"

#include <span>
#include <string>

namespace qmt {

// Compares each active live aircraft's flight state with the one seen at the last call and tells
// the changes that a user would call an event. PARK_CODE names the park airport ("" for none).
void gf_tellFlightEvents(std::span<const LiveAc> LIVE, const std::string& PARK_CODE);

// What the static parking shows at a second.
struct StaticParkingNow
{
    std::span<const SimAc> statics;  // the static aircraft
    std::string parkCode;            // the park airport ("" for none)
    int wanted = 0;                  // static aircraft wanted there
    bool busy = false;               // positions or creates still pending, a park change armed
};
// Tells the static aircraft standing once the parking has settled after a calculation or a
// renewal, and when all are gone: how many were placed and removed since it was last told.
// Answers how many stand (created and active).
int gf_tellStaticParking(const StaticParkingNow& NOW);

// Forgets what was seen (a new session, tests).
void gf_resetFlightEvents();

}  // namespace qmt
