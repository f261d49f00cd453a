#include "app/pending_parking.h"

namespace qmt {

// Replaced when the park-airport manager is built.
std::string g_reservedStand;
// Replaced when the park-airport manager is built.
std::int32_t g_renewalMinutes = 20;
// Replaced when the park-airport manager is built.
std::atomic<std::uint8_t> g_parkCheckRequested{0};

// Replaced when the learned stand options are built.
void gf_findLearnedStand(WeekTime, LiveAc&) {}
// Replaced when the park-airport manager is built.
void gf_checkParkAirports() {}
// Replaced when the park-airport manager is built.
void gf_manageParkAirport(std::uint8_t) {}
// Replaced when the park-airport manager is built.
void gf_announceStaticParkingUpdate() {}
// Replaced when the park-airport manager is built.
void gf_addParkAirport(const std::string&, double, double) {}
// Replaced when the park-airport manager is built.
void gf_resetParkAirport() {}
// Replaced when the reconciliation of static parking is built.
void gf_applyParkTrafficChanges(bool) {}

}  // namespace qmt
