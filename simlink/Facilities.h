#pragma once
// An airport's parkings and helipads read from the simulator as facility data, through a second
// connection of their own ("PARKING_DATA_RDR") that the add-on airport scan closes after use.

#include "platform/SimConnect.h"

#include <functional>
#include <string>

namespace qmt {

struct AirportFile;

// The facility-data connection: its handle and whether it is open (worker thread only).
struct ParkingDataReader {
    SIMCONNECT_HANDLE handle = nullptr;
    bool open = false;
};
// The PARKING_DATA_RDR connection (worker thread only).
extern ParkingDataReader PARKING_DATA_RDR;

// How a facility read ended.
enum class FacilityRead {
    ok,          // at least one stand was read
    noStands,    // the simulator answered, but the airport has no stand
    refused,     // the simulator refused this one request (an airport it does not describe)
    timedOut,    // no complete answer within 10 s
    notRead,     // no connection, the request could not be sent, or the simulator was closed
};

// Reads the parkings and helipads of the airport ICAO into RECORD (stands, code, name,
// altitude in feet) and the number of helipads into HELIPADS. True only when at least one stand
// was read. Waits at most 10 s for the answer and gives up when a stop flag is set. STATUS, when
// given, tells why not.
bool gf_readFacilityParkings(const std::string& ICAO, AirportFile& RECORD, int& HELIPADS,
                             FacilityRead* STATUS = nullptr);

// Closes PARKING_DATA_RDR when it is open, with its log lines.
void gf_closeParkingDataReader();

// The pause between two dispatch calls while waiting for facility data; answers the
// milliseconds that passed. Tests replace it so that the 10 s bound passes without sleeping.
extern std::function<double()> g_facilityWaitStep;

void gf_resetFacilitiesForTests();

} // namespace qmt
