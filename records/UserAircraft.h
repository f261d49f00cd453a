#pragma once
// The user's aircraft as the worker sees it, and which simulator runs: what the simulator link
// reports and every floor above it reads.

#include <atomic>
#include <cstdint>
#include <string>

namespace qmt {

// The user aircraft as the simulator reports it.
struct UserAcData {
    double latitude = 0.0;          // degrees
    double longitude = 0.0;         // degrees
    double pitch = 0.0;             // radians
    double bank = 0.0;              // radians
    double heading = 0.0;           // radians, true
    double altitude = 0.0;          // feet
    double altitudeAboveGround = 0.0; // feet
    double groundVelocity = 0.0;    // knots
    bool onGround = false;
    bool dataArrived = false;

    // Latitude and longitude both within 0.0001 degrees of 0 mean no known position.
    bool hasPosition() const;
};

// The worker's snapshot of the user aircraft, taken once per tick (worker thread only).
extern UserAcData g_userAc;
// The worker's snapshot of the user's on-ground flag.
extern bool g_userOnGround;
// The worker's snapshot of the user aircraft's half wing span, nautical miles.
extern double g_userHalfSpan;
// The worker's snapshot of the user's callsign; empty while unknown.
extern std::string g_userCallsign;

// The configured simulator is MSFS 2020 (else 2024); follows the simulator choice setting.
extern std::atomic<bool> g_isMsfs2020;
// The simulator's number in the files we write (airport files, the archive's folders): 1 for
// MSFS 2020, 2 for MSFS 2024. Read from g_isMsfs2020 at each use, so that the two never disagree.
struct SimNumber {
    operator int32_t() const { return g_isMsfs2020.load() ? 1 : 2; }
};
inline constexpr SimNumber g_simNumber{};

} // namespace qmt
