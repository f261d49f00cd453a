#pragma once
// The simulator's client interface as this program uses it. On this machine the calls are
// served by an in-process simulated simulator (platform/sim_*.cpp), driven by tests frame by
// frame through platform/sim_Control.h, or free-running for the program.

#include <cstddef>
#include <cstdint>

namespace qmt {

using HRESULT = std::int32_t; // negative values are failures
using SIMCONNECT_HANDLE = void*;
using SIMCONNECT_OBJECT_ID = std::uint32_t;
using SIMCONNECT_DATA_DEFINITION_ID = std::uint32_t;
using SIMCONNECT_DATA_REQUEST_ID = std::uint32_t;
using SIMCONNECT_CLIENT_EVENT_ID = std::uint32_t;
using SIMCONNECT_NOTIFICATION_GROUP_ID = std::uint32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005U);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057U);
inline bool SUCCEEDED(HRESULT HR) { return HR >= 0; }
inline bool FAILED(HRESULT HR) { return HR < 0; }

// Object id 0 in a request means the user aircraft.
constexpr SIMCONNECT_OBJECT_ID SIMCONNECT_OBJECT_ID_USER = 0;
constexpr std::uint32_t SIMCONNECT_GROUP_PRIORITY_HIGHEST = 1;
constexpr std::uint32_t SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY = 0x10;

enum SIMCONNECT_DATATYPE : std::uint32_t {
    SIMCONNECT_DATATYPE_INT32 = 1,
    SIMCONNECT_DATATYPE_FLOAT64 = 4,
    SIMCONNECT_DATATYPE_STRING32 = 7,
};

enum SIMCONNECT_PERIOD : std::uint32_t {
    SIMCONNECT_PERIOD_NEVER = 0,
    SIMCONNECT_PERIOD_ONCE = 1,
    SIMCONNECT_PERIOD_VISUAL_FRAME = 2,
    SIMCONNECT_PERIOD_SIM_FRAME = 3,
    SIMCONNECT_PERIOD_SECOND = 4,
};

enum SIMCONNECT_SIMOBJECT_TYPE : std::uint32_t {
    SIMCONNECT_SIMOBJECT_TYPE_USER = 0,
    SIMCONNECT_SIMOBJECT_TYPE_ALL = 1,
    SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT = 2,
};

// Where a new AI aircraft starts: degrees, feet, knots.
struct SIMCONNECT_DATA_INITPOSITION {
    double Latitude = 0.0;
    double Longitude = 0.0;
    double Altitude = 0.0;
    double Pitch = 0.0;
    double Bank = 0.0;
    double Heading = 0.0;
    std::uint32_t OnGround = 0;
    std::uint32_t Airspeed = 0;
};

// Kinds of received messages.
enum SIMCONNECT_RECV_ID : std::uint32_t {
    SIMCONNECT_RECV_ID_NULL = 0,
    SIMCONNECT_RECV_ID_EXCEPTION,
    SIMCONNECT_RECV_ID_OPEN,
    SIMCONNECT_RECV_ID_QUIT,
    SIMCONNECT_RECV_ID_EVENT,
    SIMCONNECT_RECV_ID_EVENT_FRAME,
    SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE,
    SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID,
    SIMCONNECT_RECV_ID_SIMOBJECT_DATA,
    SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE,
    SIMCONNECT_RECV_ID_FACILITY_DATA,
    SIMCONNECT_RECV_ID_FACILITY_DATA_END,
    SIMCONNECT_RECV_ID_SYSTEM_STATE,
};

// Every received message starts with this head; dwID tells which record follows.
struct SIMCONNECT_RECV {
    std::uint32_t dwSize = 0;
    std::uint32_t dwID = SIMCONNECT_RECV_ID_NULL;
};

enum SIMCONNECT_EXCEPTION : std::uint32_t {
    SIMCONNECT_EXCEPTION_NONE = 0,
    SIMCONNECT_EXCEPTION_ERROR = 1,
    SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID = 3,
    SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED = 27,
    SIMCONNECT_EXCEPTION_OBJECT_CONTAINER = 30,
};

constexpr std::uint32_t SIMCONNECT_UNKNOWN_SENDID = 0;
constexpr std::uint32_t SIMCONNECT_UNKNOWN_INDEX = 0xFFFFFFFFU;

// A call that failed inside the simulator, reported later among the received messages. It names
// no request: dwSendID is the packet of the failed call (as SimConnect_GetLastSentPacketID told
// right after that call) and dwIndex the 1-based parameter that was refused.
struct SIMCONNECT_RECV_EXCEPTION : SIMCONNECT_RECV {
    std::uint32_t dwException = SIMCONNECT_EXCEPTION_NONE;
    std::uint32_t dwSendID = SIMCONNECT_UNKNOWN_SENDID;
    std::uint32_t dwIndex = SIMCONNECT_UNKNOWN_INDEX;
};

// The answer of SimConnect_RequestSystemState ("Sim": dwInteger 1 while a flight runs).
struct SIMCONNECT_RECV_SYSTEM_STATE : SIMCONNECT_RECV {
    std::uint32_t dwRequestID = 0;
    std::uint32_t dwInteger = 0;
    float fFloat = 0.0F;
    char szString[260] = {};
};

struct SIMCONNECT_RECV_EVENT : SIMCONNECT_RECV {
    std::uint32_t uGroupID = 0;
    std::uint32_t uEventID = 0;
    std::uint32_t dwData = 0;
};

struct SIMCONNECT_RECV_EVENT_FRAME : SIMCONNECT_RECV_EVENT {
    float fFrameRate = 0.0F;
    float fSimSpeed = 1.0F;
};

// Subscribed "ObjectAdded" / "ObjectRemoved": uEventID is the subscribed event, dwData the object.
struct SIMCONNECT_RECV_EVENT_OBJECT_ADDREMOVE : SIMCONNECT_RECV_EVENT {
    SIMCONNECT_SIMOBJECT_TYPE eObjType = SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT;
};

struct SIMCONNECT_RECV_ASSIGNED_OBJECT_ID : SIMCONNECT_RECV {
    std::uint32_t dwRequestID = 0;
    std::uint32_t dwObjectID = 0;
};

// Data of one object, packed in the order of the definition: FLOAT64 8 bytes, INT32 4 bytes,
// STRING32 32 bytes (zero-terminated). Also used for the answers of a request by type, where
// dwEntryNumber counts 1..dwOutOf.
struct SIMCONNECT_RECV_SIMOBJECT_DATA : SIMCONNECT_RECV {
    std::uint32_t dwRequestID = 0;
    std::uint32_t dwObjectID = 0;
    std::uint32_t dwDefineID = 0;
    std::uint32_t dwEntryNumber = 0;
    std::uint32_t dwOutOf = 0;
    std::uint32_t dwDataSize = 0;
    const std::uint8_t* pData = nullptr;
};

enum SIMCONNECT_FACILITY_DATA_TYPE : std::uint32_t {
    SIMCONNECT_FACILITY_DATA_AIRPORT = 0,
    SIMCONNECT_FACILITY_DATA_TAXI_PARKING = 1,
    SIMCONNECT_FACILITY_DATA_HELIPAD = 2,
};

// One facility record of a requested airport, packed like object data: the fields that the
// facility definition opened for this record type, in the definition's order.
struct SIMCONNECT_RECV_FACILITY_DATA : SIMCONNECT_RECV {
    std::uint32_t dwRequestID = 0;
    std::uint32_t uniqueRequestId = 0;
    SIMCONNECT_FACILITY_DATA_TYPE Type = SIMCONNECT_FACILITY_DATA_AIRPORT;
    std::uint32_t dwDataSize = 0;
    const std::uint8_t* pData = nullptr;
};

struct SIMCONNECT_RECV_FACILITY_DATA_END : SIMCONNECT_RECV {
    std::uint32_t dwRequestID = 0;
};

// Connection.
HRESULT SimConnect_Open(SIMCONNECT_HANDLE* HANDLE_OUT, const char* NAME, void* WINDOW,
                        std::uint32_t USER_EVENT, void* EVENT_HANDLE, std::uint32_t CONFIG_INDEX);
HRESULT SimConnect_Close(SIMCONNECT_HANDLE HANDLE);
// Takes the next received message, or answers E_FAIL when none is waiting. The message stays
// valid until the next call on the same handle.
HRESULT SimConnect_GetNextDispatch(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_RECV** DATA_OUT,
                                   std::uint32_t* SIZE_OUT);
// The send id of the last packet sent on the handle: every call that reaches the simulator sends
// one. Taken right after a call, it is how a later exception is traced back to that call.
HRESULT SimConnect_GetLastSentPacketID(SIMCONNECT_HANDLE HANDLE, std::uint32_t* SEND_ID_OUT);
// Asks once for a system state ("Sim", "AircraftLoaded", ...); answered with SYSTEM_STATE.
HRESULT SimConnect_RequestSystemState(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID,
                                      const char* STATE);

// Data definitions and requests.
HRESULT SimConnect_AddToDataDefinition(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                       const char* DATUM_NAME, const char* UNITS_NAME,
                                       SIMCONNECT_DATATYPE DATUM_TYPE = SIMCONNECT_DATATYPE_FLOAT64);
HRESULT SimConnect_RequestDataOnSimObject(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID,
                                          SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                          SIMCONNECT_OBJECT_ID OBJECT_ID, SIMCONNECT_PERIOD PERIOD);
HRESULT SimConnect_RequestDataOnSimObjectType(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID,
                                              SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                              std::uint32_t RADIUS_METERS, SIMCONNECT_SIMOBJECT_TYPE TYPE);
HRESULT SimConnect_SetDataOnSimObject(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                      SIMCONNECT_OBJECT_ID OBJECT_ID, std::uint32_t FLAGS,
                                      std::uint32_t ARRAY_COUNT, std::uint32_t UNIT_SIZE, void* DATA);

// Events.
HRESULT SimConnect_SubscribeToSystemEvent(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_CLIENT_EVENT_ID EVENT_ID,
                                          const char* SYSTEM_EVENT_NAME);
HRESULT SimConnect_MapClientEventToSimEvent(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_CLIENT_EVENT_ID EVENT_ID,
                                            const char* EVENT_NAME);
HRESULT SimConnect_TransmitClientEvent(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                       SIMCONNECT_CLIENT_EVENT_ID EVENT_ID, std::uint32_t DATA,
                                       SIMCONNECT_NOTIFICATION_GROUP_ID GROUP_ID, std::uint32_t FLAGS);

// AI objects.
HRESULT SimConnect_AICreateNonATCAircraft(SIMCONNECT_HANDLE HANDLE, const char* CONTAINER_TITLE,
                                          const char* TAIL_NUMBER, SIMCONNECT_DATA_INITPOSITION INIT_POS,
                                          SIMCONNECT_DATA_REQUEST_ID REQUEST_ID);
HRESULT SimConnect_AIRemoveObject(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                  SIMCONNECT_DATA_REQUEST_ID REQUEST_ID);
HRESULT SimConnect_AISetAircraftFlightPlan(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_OBJECT_ID OBJECT_ID,
                                           const char* FLIGHT_PLAN_PATH, SIMCONNECT_DATA_REQUEST_ID REQUEST_ID);

// Facility data. Field names "OPEN AIRPORT", "OPEN TAXI_PARKING", "OPEN HELIPAD" start a record
// type, "CLOSE ..." ends it; the names between are the fields wanted of that record type.
HRESULT SimConnect_AddToFacilityDefinition(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                           const char* FIELD_NAME);
HRESULT SimConnect_RequestFacilityData(SIMCONNECT_HANDLE HANDLE, SIMCONNECT_DATA_DEFINITION_ID DEFINE_ID,
                                       SIMCONNECT_DATA_REQUEST_ID REQUEST_ID, const char* ICAO,
                                       const char* REGION = "");

} // namespace qmt
