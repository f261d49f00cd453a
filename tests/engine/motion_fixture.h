#pragma once

// Set-up of the motion tests: the spawn world (user aircraft, park airport EHAM) plus live
// aircraft with full per-category profiles, driven tick by tick through updateLiveAc.

#include <initializer_list>
#include <string>

#include "core/Log.h"
#include "engine/Motion.h"
#include "engine/Profile.h"
#include "engine/Tick.h"
#include "feed/TrafficFeed.h"
#include "platform/sim_Control.h"
#include "simlink/SimClient.h"
#include "spawn_fixture.h"

namespace qmt::test {

inline constexpr double kMetre = kNmPerMetre;

class MotionTest : public SpawnTest {
protected:
    void SetUp() override
    {
        SpawnTest::SetUp();
        g_userOnGround = false;
        g_userAc.onGround = false;
        g_userAc.altitude = 30000.0; // far from every test aircraft unless a test moves the user
        g_trafficRangeNm = 60.0;
        g_qnh = 1013;
    }

    // The profile a live aircraft of the model gets at intake.
    static AcProfile liveProfile(uint32_t HEX, const std::string& MODEL)
    {
        TrafficRecordHead head;
        head.kind.modelId = gf_modelId(MODEL);
        head.kind.airlineId = gf_airlineId("KLM");
        head.kind.marker = 1;
        head.callsign = "KLM" + std::to_string(HEX & 0xFF);
        head.registration = "PH-" + std::to_string(HEX & 0xFF);
        AcProfile p;
        gf_makeParkedAc(p, head);
        p.id = HEX;
        p.halfSpan = kB738HalfSpanNm;
        p.pitchRateLive = p.pitchRate;
        p.climbFactor = gf_climbFactorOf(p.category);
        p.turnFactor = gf_turnFactorOf(p.category);
        p.cgHeight = 8.0;
        p.groundPitch = 0.01;
        return p;
    }

    static StreamPos pt(LatLon AT, double ALT, double GS, int32_t PLAY_TICK, bool AIRBORNE = false)
    {
        StreamPos p = point(AT, AIRBORNE, ALT, GS, PLAY_TICK);
        p.track = 0.0;
        return p;
    }

    // An active live aircraft at the first point, facing the second, with the points as its stream.
    static LiveAc& driven(std::initializer_list<StreamPos> POINTS, FlightState STATE, const std::string& MODEL = "B738",
                          uint32_t HEX = 0x484001)
    {
        auto it = POINTS.begin();
        g_liveAcs.emplace_back(*it, liveProfile(HEX, MODEL), 1000.0);
        LiveAc& ac = g_liveAcs.back();
        for (++it; it != POINTS.end(); ++it) {
            ac.stream.push_back(*it);
        }
        ac.state = AcState::active;
        ac.objectId = HEX % 100000 + 100;
        ac.flightState = STATE;
        ac.previousFlightState = STATE;
        const StreamPos& f = ac.stream.front();
        ac.onGround = f.airborne == 0 ? 1 : 0;
        ac.block[kBlockLat] = f.lat;
        ac.block[kBlockLon] = f.lon;
        ac.block[kBlockAlt] = f.alt;
        ac.block[kBlockPitch] = ac.onGround != 0 ? ac.groundPitch : 0.0;
        if (ac.stream.size() > 1) {
            ac.block[kBlockHeading] = gf_bearing(f.lat, f.lon, ac.stream[1].lat, ac.stream[1].lon);
        }
        ac.heightAboveGround = f.alt;
        return ac;
    }

    // N ticks of the update pass over every live aircraft (positions are dropped).
    static void ticks(int N)
    {
        for (int n = 0; n < N; ++n) {
            for (LiveAc& ac : g_liveAcs) {
                updateLiveAc(ac);
            }
            g_positionWriteBuffer.clear();
            ++g_tickCounter;
        }
    }

    static int32_t now() { return g_tickCounter.load(); }

    static std::size_t queuedRemovals(uint32_t OBJECT_ID)
    {
        return static_cast<std::size_t>(std::count(g_removalDeque.begin(), g_removalDeque.end(), OBJECT_ID));
    }

    static std::size_t eventsSent(uint32_t OBJECT_ID, uint32_t EVENT_ID, uint32_t VALUE)
    {
        std::lock_guard lock(g_simQueueMutex);
        return static_cast<std::size_t>(std::count_if(g_clientEventQueue.begin(), g_clientEventQueue.end(),
                                                       [&](const ClientEventCmd& C) {
                                                           return C.objectId == OBJECT_ID && C.eventId == EVENT_ID &&
                                                                  C.value == VALUE;
                                                       }));
    }

    static std::size_t occurrences(const std::string& TEXT, const std::string& PART)
    {
        std::size_t n = 0;
        for (std::size_t at = TEXT.find(PART); at != std::string::npos; at = TEXT.find(PART, at + 1)) {
            ++n;
        }
        return n;
    }
};

// Motion against the simulated simulator, its client driven frame by frame by the test.
class SimulatorMotionTest : public MotionTest {
protected:
    void SetUp() override
    {
        MotionTest::SetUp();
        SimStandIn& sim = gf_simStandIn();
        sim.reset();
        sim.setRunning(true);
        sim.setUserObjectId(100);
        sim.setCallRecording(false);
        ASSERT_TRUE(m_client.connect());
        m_client.dispatch();
        openLog();
    }

    void TearDown() override
    {
        m_client.close();
        gf_simStandIn().reset();
        MotionTest::TearDown();
    }

    SimClient m_client;
};

} // namespace qmt::test
