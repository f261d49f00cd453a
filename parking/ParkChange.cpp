#include "parking/ParkChange.h"

#include "core/Parameters.h"
#include "core/StatusLine.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "core/XmlMeta.h"
#include "feed/TrafficFeed.h"
#include "parking/ParkAirport.h"
#include "parking/Reconcile.h"
#include "records/ParkAirportIdentity.h"
#include "stands/StandTable.h"

#include <fmt/format.h>

namespace qmt {

std::atomic<bool> g_parkChangeRequested{false};
std::atomic<bool> g_parkChangeArmed{false};
std::atomic<bool> g_parkRenewAll{false};
int32_t g_renewalMinutes = kRenewalMinutes;

namespace {

uint64_t (*s_secondsSource)() = nullptr;

} // namespace

void gf_setParkSecondsSource(uint64_t (*SOURCE)())
{
    s_secondsSource = SOURCE;
}

void gf_announceStaticParkingUpdate()
{
    gf_disableParkControls();
    const uint64_t t = s_secondsSource != nullptr ? s_secondsSource() : 0;
    const uint64_t s = (t / 15 + 1) * 15 - t;
    if (s > 0) {
        gf_setStatus(fmt::format("{} will update static parking in {} second{} ...", kProgramName, s, gf_plural(s)));
    }
    g_parkChangeRequested = true;
}

void gf_setParkRenewAll(bool VALUE)
{
    g_parkRenewAll = VALUE;
}

void gf_restartParkRenewal()
{
    g_renewalMinutes = kRenewalMinutes;
}

void gf_parkChangeEveryMinute()
{
    if (INITIAL_LOAD_ONLY.value() || g_parkLoaded.load() == 0 || g_parkBusy || g_parkChangeRequested) {
        return;
    }
    if (--g_renewalMinutes <= 0) {
        g_renewalMinutes = kRenewalMinutes;
        gf_announceStaticParkingUpdate();
    }
    const int minutes = g_renewalMinutes;
    gf_updateWindowValues([minutes](WindowValues& VALUES) { VALUES.renewalMinutes = minutes; });
}

void gf_parkChangeEvery15s()
{
    if (g_parkChangeArmed) {
        if (!gf_parkAirportCode().empty() && !g_stands.empty()) {
            gf_applyParkTrafficChanges(g_parkRenewAll.load());
        } else {
            // Nothing to reconcile: the gathering of live traffic would otherwise grow unread.
            gf_dropGatheredTraffic();
            gf_enableParkControls();
        }
        g_parkChangeArmed = false;
        g_parkChangeRequested = false;
        return;
    }
    if (g_parkChangeRequested) {
        gf_disableParkControls();
        gf_startGatheringTraffic();
        g_parkChangeArmed = true;
    }
}

void gf_parkChangeEvery16s()
{
    if (!g_parkChangeArmed) {
        gf_manageParkAirport(0);
    }
}

void gf_endParkChange()
{
    g_parkChangeRequested = false;
    g_parkChangeArmed = false;
}

void gf_resetParkChangeForTests()
{
    g_parkChangeRequested = false;
    g_parkChangeArmed = false;
    g_parkRenewAll = false;
    g_renewalMinutes = kRenewalMinutes;
}

} // namespace qmt
