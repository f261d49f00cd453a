// The simulator's answers of any content: user-aircraft answers, ground data and static-CG answers
// taken one after another. What reaches the worker is always within the bounds of an aircraft on
// the globe, and a refused value leaves the last good one.
#include "FuzzSupport.h"

#include "core/Text.h"
#include "simlink/SimAnswers.h"

#include <cmath>
#include <cstring>

using namespace qmt;

namespace {

bool lf_within(double VALUE, double BOUND)
{
    return std::isfinite(VALUE) && std::fabs(VALUE) <= BOUND;
}

void lf_checkUser(const UserAcShared& SHARED)
{
    const UserAcData& ac = SHARED.ac;
    fuzz::require(lf_within(ac.latitude, 90.0) && lf_within(ac.longitude, 180.0), "user position");
    fuzz::require(lf_within(ac.pitch, 7.0) && lf_within(ac.bank, 7.0) && lf_within(ac.heading, 7.0), "user attitude");
    fuzz::require(lf_within(ac.altitude, 200000.0) && lf_within(ac.altitudeAboveGround, 200000.0), "user altitude");
    fuzz::require(lf_within(ac.groundVelocity, 5000.0), "user ground velocity");
    // 500 ft of span at most: a quarter of a mile.
    fuzz::require(std::isfinite(SHARED.halfSpanNm) && SHARED.halfSpanNm >= 0.0 && SHARED.halfSpanNm < 0.05,
                  "user half span");
    fuzz::require(SHARED.callsign.size() <= 32 && gf_cleanIdentText(SHARED.callsign) == SHARED.callsign,
                  "user callsign");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    UserAcShared shared;
    std::uint32_t logged = 0;
    // Each answer is a kind byte and the bytes of its values, as the simulator lays them out.
    size_t at = 0;
    while (at < SIZE) {
        const uint8_t kind = DATA[at++] % 3;
        if (kind == 0) {
            UserAnswer answer;
            const size_t n = std::min(sizeof answer.values + sizeof answer.callsign, SIZE - at);
            std::memcpy(static_cast<void*>(answer.values), DATA + at, std::min(n, sizeof answer.values));
            if (n > sizeof answer.values) {
                std::memcpy(answer.callsign, DATA + at + sizeof answer.values, n - sizeof answer.values);
            }
            at += n;
            const UserAcShared before = shared;
            gf_takeUserAnswer(answer, shared, logged);
            lf_checkUser(shared);
            fuzz::require(shared.ac.dataArrived, "an answer arrived");
            if (!(std::fabs(answer.values[0]) <= 90.0)) {
                fuzz::require(shared.ac.latitude == before.ac.latitude, "a refused latitude kept the last good one");
            }
            continue;
        }
        double v[2] = {};
        const size_t n = std::min(sizeof v, SIZE - at);
        std::memcpy(static_cast<void*>(v), DATA + at, n);
        at += n;
        const bool ok = kind == 1 ? gf_groundAnswerOk(v[0], v[1], logged) : gf_staticCgAnswerOk(v[0], v[1], logged);
        if (ok) {
            fuzz::require(std::isfinite(v[0]) && std::isfinite(v[1]), "a taken answer is finite");
        }
    }
    return 0;
}
