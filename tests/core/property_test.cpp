// Whatever the reference data and parameters.xml hold, every number the readers store is finite
// and within its range, and every text file reads as valid UTF-8 without NUL.
#include <cmath>

#include "CoreTestSupport.h"
#include "InputMutation.h"
#include "core/Airports.h"
#include "core/Files.h"
#include "core/Parameters.h"
#include "core/RefData.h"
#include "core/Text.h"

namespace qmt::test {
namespace {

using ReaderPropertyTest = CoreTest;

TEST_F(ReaderPropertyTest, ReferenceDataOfAnyNumbers)
{
    const std::string airports = readFile(referenceSource("airports.xml"));
    const std::string dbase = readFile(referenceSource("dbase.xml"));
    InputMutator mutator(16);
    for (int i = 0; i < 60; ++i) {
        writeFile(dir() / "a.xml", mutator.mutate(airports));
        gf_readAirports(dir() / "a.xml");
        for (const AirportEntry& a : g_airports) {
            ASSERT_TRUE(std::fabs(a.latitude) <= 90.0 && std::fabs(a.longitude) <= 180.0) << i;
            ASSERT_TRUE(a.altitude >= kLowestAirportFt && a.altitude <= kHighestAirportFt) << i;
        }
        writeFile(dir() / "d.xml", mutator.mutate(dbase));
        gf_readDbase(dir() / "d.xml");
        for (std::size_t id = 0; id < g_halfSpans.size(); ++id) {
            const double half = hwsp(static_cast<std::uint16_t>(id));
            ASSERT_TRUE(std::isfinite(half) && half > 0.0 && half <= kLargestWingSpanM / 2.0 * kNmPerMetre) << i;
        }
    }
}

TEST_F(ReaderPropertyTest, ParametersOfAnyNumbers)
{
    std::string sample = "<root><parameters>";
    for (const Parameter* p : gf_allParameters()) {
        sample += "<parameter name=\"" + p->name() + "\" value=\"" + p->defaultText() + "\"/>";
    }
    sample += "</parameters></root>";
    InputMutator mutator(16);
    for (int i = 0; i < 60; ++i) {
        gf_resetParameters();
        writeFile(dir() / "parameters.xml", mutator.mutate(sample));
        gf_loadParameters(dir() / "parameters.xml");
        for (const Parameter* p : gf_allParameters()) {
            if (const auto* n = dynamic_cast<const IntParameter*>(p)) {
                ASSERT_TRUE(n->value() >= n->minValue() && n->value() <= n->maxValue()) << p->name();
            } else if (const auto* c = dynamic_cast<const IntChoiceParameter*>(p)) {
                ASSERT_TRUE(c->currentIndex().has_value()) << p->name();
            } else if (const auto* f = dynamic_cast<const FloatChoiceParameter*>(p)) {
                ASSERT_TRUE(std::isfinite(f->value()) && f->currentIndex().has_value()) << p->name();
            } else if (const auto* s = dynamic_cast<const StringChoiceParameter*>(p)) {
                ASSERT_TRUE(s->currentIndex().has_value()) << p->name();
            }
        }
    }
}

TEST_F(ReaderPropertyTest, TextFilesOfAnyBytes)
{
    std::mt19937 rng(16);
    const char* heads[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
    for (int i = 0; i < 100; ++i) {
        std::string bytes = heads[i % 4];
        const int length = std::uniform_int_distribution<int>(0, i % 10 == 0 ? 6000 : 64)(rng);
        for (int k = 0; k < length; ++k) {
            // Mostly text, with every kind of byte now and then.
            const int roll = std::uniform_int_distribution<int>(0, 9)(rng);
            bytes += static_cast<char>(roll < 7 ? std::uniform_int_distribution<int>(0x20, 0x7e)(rng)
                                                : std::uniform_int_distribution<int>(0, 255)(rng));
        }
        writeFile(dir() / "t.txt", bytes);
        for (const std::string& line : gf_readFileLines(dir() / "t.txt").lines) {
            ASSERT_EQ(gf_cleanUtf8(line), line) << i;
        }
    }
}

} // namespace
} // namespace qmt::test
