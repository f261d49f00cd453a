#include "platform/SimConnect.h"
#include "simlink/FlightPlan.h"

namespace qmt {

// Replaced when the flight plan files are built.
std::filesystem::path gf_flightPlanFileName(std::uint32_t /*OBJECT_ID*/) { return {}; }
// Replaced when the flight plan files are built.
bool gf_writeFlightPlan(const std::filesystem::path& /*PATH*/, const LiveAc& /*AC*/) { return false; }
// Replaced when the simulator stand-in is built.
HRESULT SimConnect_RequestDataOnSimObject(SIMCONNECT_HANDLE /*HANDLE*/, SIMCONNECT_DATA_REQUEST_ID /*REQUEST_ID*/,
                                          SIMCONNECT_DATA_DEFINITION_ID /*DEFINE_ID*/,
                                          SIMCONNECT_OBJECT_ID /*OBJECT_ID*/, SIMCONNECT_PERIOD /*PERIOD*/)
{
    return S_OK;
}
// Replaced when the simulator stand-in is built.
HRESULT SimConnect_SetDataOnSimObject(SIMCONNECT_HANDLE /*HANDLE*/, SIMCONNECT_DATA_DEFINITION_ID /*DEFINE_ID*/,
                                      SIMCONNECT_OBJECT_ID /*OBJECT_ID*/, std::uint32_t /*FLAGS*/,
                                      std::uint32_t /*ARRAY_COUNT*/, std::uint32_t /*UNIT_SIZE*/, void* /*DATA*/)
{
    return S_OK;
}
// Replaced when the simulator stand-in is built.
HRESULT SimConnect_AISetAircraftFlightPlan(SIMCONNECT_HANDLE /*HANDLE*/, SIMCONNECT_OBJECT_ID /*OBJECT_ID*/,
                                           const char* /*FLIGHT_PLAN_PATH*/,
                                           SIMCONNECT_DATA_REQUEST_ID /*REQUEST_ID*/)
{
    return S_OK;
}

} // namespace qmt
