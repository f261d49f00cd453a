#pragma once
// The park airport: the one airport near the user whose stands get static parked aircraft. The
// manager keeps the user's list of park airports (my_park_airports.txt), chooses the park airport
// from the user aircraft's position, switches or drops it, loads its stand table and keeps the
// stand reserved for the user aircraft. Worker thread only unless a comment says otherwise.

#include "core/Airports.h"
#include "records/ParkAirportIdentity.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace qmt {

// One airport of the user's list.
struct ParkAirport {
    std::string reservedStand;   // stand reserved for the user aircraft; may be empty
    double latitude = 0.0;       // degrees, from the airports database
    double longitude = 0.0;
    double distance = 0.0;       // nm to the user aircraft
    IcaoCode code;
};

// The user's park airports; the first entry is the current or next one.
extern std::vector<ParkAirport> g_parkAirports;
// The next manager call loads the chosen park airport.
extern uint8_t g_parkSwitchPending;
// Set by the window's park-check command (window thread), cleared by the worker.
extern std::atomic<uint8_t> g_parkCheckRequested;

// The periodic manager (FIRST: the call at the start of a session).
void gf_manageParkAirport(uint8_t FIRST);
// Reads my_park_airports.txt into g_parkAirports, then adds the airports of my_thirdparty.
bool lf_readMyParkAirports();
// Writes the first entry of g_parkAirports into my_park_airports.txt.
void lf_writeMyParkAirports();
// LINE replaced by the first entry's line when it names that airport; true when it did.
bool lf_updateMyParkAirportStand(std::string& LINE, const ParkAirport& ENTRY);
// Puts the destination airport at the front of the list.
void gf_addParkAirport(const std::string& CODE, double LATITUDE, double LONGITUDE);
// Looks at the stand under the user aircraft and reserves it at the park airport. The simulator
// link only raises a flag on its own thread; this runs on the worker.
void gf_noteUserParkAirport();
// Re-reads the list; with CHECK_RESERVED applies a changed reserved stand. MESSAGE tells what was found.
bool lf_checkParkAirports(uint8_t CHECK_RESERVED, std::string& MESSAGE);
// The window's park-check command (window thread): asks for the check below.
void gf_requestParkCheck();
// Every 5 s: carries out the window's park-check request.
void gf_checkParkAirports();
// Drops the park airport: removes its static aircraft and the live ones tied to its stands,
// saves its learned file.
void gf_resetParkAirport();

// Steps of the manager, for tests.
void lf_sortParkAirportsByDistance(double LATITUDE, double LONGITUDE);
bool lf_setParkAirport(IcaoCode CODE);
std::string lf_readParkedFile();
void lf_switchParkAirport();
void lf_clearParkAirport();

// Back to the state of a fresh start (tests).
void gf_resetParkAirportForTests();

} // namespace qmt
