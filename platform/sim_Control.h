#pragma once
// Control of the simulated simulator that serves the calls of platform/SimConnect.h.
//
// Tests drive it frame by frame (advanceFrame) and assert on the recorded calls; the program
// lets it run free, a frame every 1/fps seconds of the steady clock, produced when the client
// asks for its next message. Every member is safe to call from any thread.

#include "platform/SimConnect.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qmt {

// One call made on the simulated simulator, as recorded for tests.
struct SimCall {
    std::string function;     // e.g. "SimConnect_AICreateNonATCAircraft"
    std::uint32_t objectId = 0;
    std::uint32_t id = 0;      // the request, definition or client event id of the call
    std::uint32_t value = 0;   // event data
    std::string text;          // title, tail number, event or datum name, path, ICAO
    std::string text2;
    SIMCONNECT_DATA_INITPOSITION initPos{};
    std::vector<double> data;  // FLOAT64 values of a data write
    HRESULT result = S_OK;
};

// One point of the user aircraft's script; between two points the position is interpolated.
struct UserScriptPoint {
    double seconds = 0.0;      // simulated time since the script started
    double latitude = 0.0;
    double longitude = 0.0;
    double altitudeFt = 0.0;
    double headingDeg = 0.0;
    double groundSpeedKt = 0.0;
    bool onGround = true;
};

// An airport of the simulated scenery: the ground around it lies at its elevation.
struct TerrainPoint {
    double latitude = 0.0;
    double longitude = 0.0;
    double elevationFt = 0.0;
};

class SimStandIn {
public:
    SimStandIn();
    ~SimStandIn();

    // Back to the start: not running (setRunning starts it), a flight loaded, no connection, no object but the user
    // aircraft (object id 1000 at 0,0), create delay 3 frames, 30 frames per second, manual frames.
    void reset();

    // A simulator that is not running refuses SimConnect_Open.
    void setRunning(bool RUNNING);
    // Ends the simulator: every connection receives the quit message.
    void quit();
    // A flight is loaded or ended: "SimStart"/"SimStop" to the subscribers on a change only (a
    // client that connects while a flight runs hears no "SimStart"; it asks for the "Sim" state).
    void setFlightRunning(bool RUNNING);
    // The user loads a new flight: "SimStop", every AI object removed, the user aircraft becomes
    // a new object with a new id, "SimStart".
    void newFlight();
    // A paused simulator still makes frames, but the user aircraft stands and the per-second
    // answers stop.
    void setPaused(bool PAUSED);
    // Frames per second of simulated time; the unit of the user script and of period SECOND.
    void setFramesPerSecond(int FPS);
    // Free running: frames are made by the steady clock when a client takes its messages.
    void setFreeRunning(bool FREE);

    // One frame: moves the user aircraft, assigns object ids to the creates whose delay ran
    // out, carries out removals, answers periodic requests and sends the "Frame" event.
    void advanceFrame();
    std::uint64_t frameCount() const;

    // Creates take this many frames before their object id is assigned.
    void setCreateDelayFrames(int FRAMES);
    // Each create takes a number of frames drawn from LOWEST..HIGHEST, so answers come out of order.
    void setCreateDelayFrames(int LOWEST, int HIGHEST);
    // This many creates in a thousand are never answered, neither with an object id nor an exception.
    void setLostCreatesPerThousand(int COUNT);
    // This many creates in a thousand are refused with an exception.
    void setFailedCreatesPerThousand(int COUNT);
    // At the first frame at or after AT (on the loop clock) the simulator quits, as when the user
    // closes it; the other, the user loads a new flight. A default time point: never.
    void setQuitAt(std::chrono::steady_clock::time_point AT);
    void setNewFlightAt(std::chrono::steady_clock::time_point AT);
    // The simulator removes each AI object by itself this often an hour (on average).
    void setSelfRemovalsPerHour(double PER_OBJECT);
    // Seeds the draws of delays, lost creates and removals.
    void setSeed(std::uint32_t SEED);
    // Removes an AI object as the simulator would by itself ("ObjectRemoved" to the subscribers).
    // False for the user aircraft or an unknown object.
    bool removeObjectBySim(std::uint32_t OBJECT_ID);
    // A create with this livery title fails (exception on the next message).
    void failTitle(const std::string& TITLE);
    // The user aircraft's object id; AI objects get ids above it.
    void setUserObjectId(std::uint32_t OBJECT_ID);
    std::uint32_t userObjectId() const;
    // The user aircraft's values (wing span in feet, callsign as "ATC ID").
    void setUserAircraft(const UserScriptPoint& POINT, double WING_SPAN_FT, const std::string& CALLSIGN);
    // The user aircraft follows these points from the current frame on.
    void setUserScript(std::vector<UserScriptPoint> POINTS);
    // Reads a script from a JSON file: an array of objects with "t", "lat", "lon", "alt", "hdg",
    // "gs", "onGround". Answers an error text, empty on success.
    std::string loadUserScript(const std::filesystem::path& PATH);
    // Ground elevation everywhere, feet.
    void setGroundElevation(double FEET);
    // Ground elevation from the facility data of an airport (its altitude). An error text, empty on success.
    std::string setGroundElevationOf(const std::string& ICAO);
    // The scenery's airports: within 3 nm of an airport of the list the ground lies at the
    // nearest one's elevation, elsewhere at the ground elevation set above.
    void setTerrain(std::vector<TerrainPoint> AIRPORTS);
    // Reads the airports of a plain airports XML file (a: lat, lon, alt; those marked minor left
    // out) as the terrain. An error text, empty on success.
    std::string loadTerrain(const std::filesystem::path& AIRPORTS_XML);
    // Static CG height (ft) and static pitch (rad) reported for a livery title.
    void setStaticCg(const std::string& TITLE, double CG_FT, double PITCH_RAD);
    // An aircraft that another program put into the simulator.
    std::uint32_t addForeignAircraft(double LATITUDE, double LONGITUDE, double ALTITUDE_FT, bool ON_GROUND);

    // Facility data come from "<ICAO>.json" files of this folder.
    void setFacilityFolder(const std::filesystem::path& FOLDER);
    // The facility data of one airport come from this file instead (its "icao" names the
    // airport). An error text, empty on success.
    std::string addFacilityFile(const std::filesystem::path& FILE);
    // A silent simulator accepts facility requests but never answers them.
    void setFacilitySilent(bool SILENT);

    // Calls are recorded unless switched off; beyond 200000 the older half is dropped.
    void setCallRecording(bool ON);

    // The track recording: at every frame one line per object with its position, altitude,
    // heading and ground flag ("P"), a line naming each object when it first appears ("O"), and
    // the notes the program adds ("S", the flight states of its aircraft). Answers an error text,
    // empty when the file was opened; a recording runs until stopped or reset. With EVERY above
    // 1 the position lines are thinned for a picture: an object's line comes every EVERY frames,
    // at its first frame and whenever it touches down or lifts off.
    std::string startTrackRecording(const std::filesystem::path& PATH, std::uint32_t EVERY = 1);
    void stopTrackRecording();
    bool trackRecording() const;
    void recordNote(std::uint32_t OBJECT_ID, const std::string& TEXT);

    // Inspection.
    std::vector<SimCall> calls() const;
    std::size_t countCalls(const std::string& FUNCTION) const;
    void clearCalls();
    bool objectExists(std::uint32_t OBJECT_ID) const;
    std::vector<std::uint32_t> aiObjectIds() const;
    // A value of an object by datum name ("PLANE LATITUDE", ...); empty when unknown.
    std::optional<double> objectValue(std::uint32_t OBJECT_ID, const std::string& DATUM) const;
    // The last data of a client event sent to an object, by the simulator's event name.
    std::optional<std::uint32_t> eventValue(std::uint32_t OBJECT_ID, const std::string& EVENT_NAME) const;
    std::string objectTitle(std::uint32_t OBJECT_ID) const;
    std::size_t openConnections() const;
    // Calls made with a handle after it was closed (in the real library: a dangling handle).
    std::size_t callsOnClosedHandles() const;

    struct State;
    State& state() { return *m_state; }

private:
    std::unique_ptr<State> m_state;
};

// The one simulated simulator of the process.
SimStandIn& gf_simStandIn();

// Sets the simulated simulator up for a program run on the sample data of DATA_FOLDER as a user
// meets a real one: free running at 30 frames a second, no call recording, facility data from
// the "facilities" folder, creates answered after 1 to 300 frames (2 in 1000 never), AI objects
// now and then removed by the simulator itself, all drawn from SEED. The caller places the user
// aircraft. Answers an error text, empty on success.
std::string gf_setUpSimStandIn(const std::filesystem::path& DATA_FOLDER, std::uint32_t SEED);

} // namespace qmt
