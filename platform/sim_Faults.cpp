// The faults the simulated simulator can be made to show, as a real one does: creates answered
// late and out of order, creates never answered, titles it refuses, AI objects it takes away by
// itself, and facility requests it never answers.

#include "platform/sim_State.h"

#include "core/Log.h"
#include "core/LoopClock.h"

#include <cmath>

namespace qmt {

// Now and then the simulator takes an AI object away by itself (its own traffic rules, a crash
// on the runway).
void SimStandIn::State::selfRemovals()
{
    if (selfRemovalsPerHour <= 0.0) {
        return;
    }
    const double chance = selfRemovalsPerHour / (3600.0 * fps);
    std::vector<std::uint32_t> gone;
    for (auto& [id, obj] : objects) {
        if (obj.user) {
            continue;
        }
        if (obj.selfRemovalFrame == 0) {
            // Each object's age at its removal is drawn once, from the seed and its id alone: the
            // same object goes at the same age in every run with the seed, however the frames
            // fall, and the draws of creates are not moved on by it.
            std::uint64_t h = (static_cast<std::uint64_t>(seed) << 32) ^ id ^ 0x5E1F0000ULL;
            h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ULL;
            h = (h ^ (h >> 27)) * 0x94D049BB133111EBULL;
            h ^= h >> 31;
            const double unit = 1.0 - static_cast<double>(h >> 11) * 0x1.0p-53;  // (0, 1]
            obj.selfRemovalFrame = frame + 1 + static_cast<std::uint64_t>(-std::log(unit) / chance);
        }
        if (frame >= obj.selfRemovalFrame) {
            gone.push_back(id);
        }
    }
    for (const std::uint32_t id : gone) {
        // The program's next update of the object is refused with exception 3 (unknown id): the
        // log says beforehand that this is the stand-in's doing, not a fault of the program.
        gf_logLine("Simulator stand-in: object {} ({}) removed by the simulator itself, on purpose, as a real "
                   "one now and then does; updates sent to it end in exception 3",
                   id, objects[id].tail);
        // a recording tells these from the removals the client asked for
        if (track) {
            *track << "S," << frame << ',' << id << ",removed by the simulator\n";
        }
        removeObject(id);
    }
}

int SimStandIn::State::drawCreateDelay()
{
    return std::uniform_int_distribution<int>(createDelayFrames, std::max(createDelayFrames, createDelayMaxFrames))(rng);
}

bool SimStandIn::State::drawFailedCreate()
{
    // No draw without failures, so that the draws of a run without them stay as they were.
    return failedCreatesPerThousand > 0 &&
           std::uniform_int_distribution<int>(0, 999)(rng) < failedCreatesPerThousand;
}

void SimStandIn::State::scheduledFaults()
{
    const LoopTime now = gf_loopNow();
    if (newFlightAt != LoopTime{} && now >= newFlightAt) {
        newFlightAt = {};
        newFlightLocked();
    }
    if (quitAt != LoopTime{} && now >= quitAt) {
        quitAt = {};
        quitLocked();
    }
}

void SimStandIn::setFailedCreatesPerThousand(int COUNT)
{
    std::lock_guard lock(m_state->mutex);
    m_state->failedCreatesPerThousand = std::clamp(COUNT, 0, 1000);
}

void SimStandIn::setQuitAt(std::chrono::steady_clock::time_point AT)
{
    std::lock_guard lock(m_state->mutex);
    m_state->quitAt = AT;
}

void SimStandIn::setNewFlightAt(std::chrono::steady_clock::time_point AT)
{
    std::lock_guard lock(m_state->mutex);
    m_state->newFlightAt = AT;
}

void SimStandIn::setCreateDelayFrames(int FRAMES)
{
    setCreateDelayFrames(FRAMES, FRAMES);
}

void SimStandIn::setCreateDelayFrames(int LOWEST, int HIGHEST)
{
    std::lock_guard lock(m_state->mutex);
    m_state->createDelayFrames = std::max(1, LOWEST);
    m_state->createDelayMaxFrames = std::max(m_state->createDelayFrames, HIGHEST);
}

void SimStandIn::setLostCreatesPerThousand(int COUNT)
{
    std::lock_guard lock(m_state->mutex);
    m_state->lostCreatesPerThousand = std::clamp(COUNT, 0, 1000);
}

void SimStandIn::setSelfRemovalsPerHour(double PER_OBJECT)
{
    std::lock_guard lock(m_state->mutex);
    m_state->selfRemovalsPerHour = std::max(0.0, PER_OBJECT);
}

void SimStandIn::setSeed(std::uint32_t SEED)
{
    std::lock_guard lock(m_state->mutex);
    m_state->rng.seed(SEED);
    m_state->seed = SEED;
}

void SimStandIn::failTitle(const std::string& TITLE)
{
    std::lock_guard lock(m_state->mutex);
    m_state->failingTitles.insert(TITLE);
}

void SimStandIn::setFacilitySilent(bool SILENT)
{
    std::lock_guard lock(m_state->mutex);
    m_state->facilitySilent = SILENT;
}

} // namespace qmt
