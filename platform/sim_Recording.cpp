// The simulated simulator's recordings: the calls it was made, for tests, and the tracks of its
// objects frame by frame, for drawing them.

#include "platform/sim_State.h"

#include <iomanip>

namespace qmt {

HRESULT SimStandIn::State::record(SimCall CALL)
{
    const HRESULT hr = CALL.result;
    if (recording) {
        // Bounded, so that a long run that keeps recording does not grow without end.
        if (calls.size() >= kSimMaxRecordedCalls) {
            calls.erase(calls.begin(), calls.begin() + kSimMaxRecordedCalls / 2);
        }
        calls.push_back(std::move(CALL));
    }
    return hr;
}

// One line per object and frame (or every trackEvery frames); an object's first line names it.
void SimStandIn::State::recordTracks()
{
    if (!track) {
        return;
    }
    std::ofstream& out = *track;
    const bool due = frame % trackEvery == 0;
    for (const auto& [id, obj] : objects) {
        const bool onGround = value(obj, "SIM ON GROUND") != 0.0;
        const auto [seen, fresh] = trackedObjects.try_emplace(id, onGround);
        if (fresh) {
            out << "O," << frame << ',' << id << ',' << (obj.user ? "user" : "ai") << ',' << csvText(obj.tail) << ','
                << csvText(obj.title) << '\n';
        } else if (!due && seen->second == onGround) {
            continue;
        }
        seen->second = onGround;
        out << "P," << frame << ',' << id << ',' << value(obj, "PLANE LATITUDE") << ','
            << value(obj, "PLANE LONGITUDE") << ',' << value(obj, "PLANE ALTITUDE") << ','
            << value(obj, "PLANE HEADING DEGREES TRUE") * kRadToDeg << ','
            << (onGround ? 1 : 0) << ','
            << value(obj, "PLANE PITCH DEGREES") * kRadToDeg << ','
            << value(obj, "PLANE BANK DEGREES") * kRadToDeg << ','
            << value(obj, "VERTICAL SPEED") * 60.0 << ',' << value(obj, "AIRSPEED TRUE") << ','
            << value(obj, "PLANE ALT ABOVE GROUND") << '\n';
    }
}

// A text field without the separators of the recording.
std::string SimStandIn::State::csvText(std::string TEXT)
{
    std::replace_if(TEXT.begin(), TEXT.end(), [](char C) { return C == ',' || C == '\n' || C == '\r'; }, ' ');
    return TEXT;
}

std::vector<SimCall> SimStandIn::calls() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->calls;
}

std::size_t SimStandIn::countCalls(const std::string& FUNCTION) const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<std::size_t>(std::count_if(m_state->calls.begin(), m_state->calls.end(),
                                                  [&](const SimCall& c) { return c.function == FUNCTION; }));
}

void SimStandIn::clearCalls()
{
    std::lock_guard lock(m_state->mutex);
    m_state->calls.clear();
}

void SimStandIn::setCallRecording(bool ON)
{
    std::lock_guard lock(m_state->mutex);
    m_state->recording = ON;
}

std::string SimStandIn::startTrackRecording(const std::filesystem::path& PATH, std::uint32_t EVERY)
{
    auto out = std::make_unique<std::ofstream>(PATH, std::ios::binary | std::ios::trunc);
    if (!*out) {
        return "cannot write the track recording " + PATH.string();
    }
    *out << std::setprecision(9);
    *out << "# O,frame,object,user|ai,tail,title / P,frame,object,lat,lon,alt_ft,heading_deg,on_ground,"
            "pitch_deg,bank_deg,vs_fpm,tas_kt,agl_ft (pitch negative nose up, bank negative right) / "
            "S,frame,object,note\n";
    std::lock_guard lock(m_state->mutex);
    m_state->track = std::move(out);
    m_state->tracking = true;
    m_state->trackedObjects.clear();
    m_state->trackEvery = std::max<std::uint32_t>(1, EVERY);
    return {};
}

void SimStandIn::stopTrackRecording()
{
    std::lock_guard lock(m_state->mutex);
    m_state->track.reset();
    m_state->tracking = false;
}

bool SimStandIn::trackRecording() const
{
    return m_state->tracking.load(std::memory_order_relaxed);
}

void SimStandIn::recordNote(std::uint32_t OBJECT_ID, const std::string& TEXT)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->track) {
        *m_state->track << "S," << m_state->frame << ',' << OBJECT_ID << ',' << State::csvText(TEXT) << '\n';
    }
}

} // namespace qmt
