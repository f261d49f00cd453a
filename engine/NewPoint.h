#pragma once

// New reports of known live aircraft: whether a report joins the stream, is changed first or
// is dropped, and what it means for a parked, pushed-back, held, extrapolated or landing aircraft.
// Worker thread only.

#include "engine/AcLists.h"

namespace qmt {

// Takes one accepted report of a known aircraft (any state but liveryrespawn and
// removingfromsim) into its stream, or drops it; may remove the aircraft. Logs and rethrows.
void decodeExisting(LiveAc& AC, StreamPos POINT);

// True when the point is to be appended (it may have been changed), judged by the situation
// the aircraft is in (parked, pushing back, pushed back, extrapolated or held, landing).
bool checkExtendingSituations(LiveAc& AC, StreamPos& POINT);

// The plain filter of repeats, jitter and stops for an aircraft in no special situation.
// May mark the point a repeat or replace it by a stopped copy of the last point.
bool lf_isNewPointPlausible(LiveAc& AC, StreamPos& POINT);

// The filter while on approach or rolling out: drops stream points the report shows to lie
// behind the aircraft and caps the roll-out speed.
bool checkNewPosDuringLanding(LiveAc& AC, StreamPos& POINT);

// The parked aircraft begins to leave its stand.
void lf_settleParked(LiveAc& AC, StreamPos& POINT);

// A taxiing aircraft begins its departure: configuration, lights and timing windows.
void lf_towedTakeOffCheck(LiveAc& AC);

} // namespace qmt
