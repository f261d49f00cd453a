// A generated airport file is written as text straight: its bytes must be those of the document
// that the XML library saves, for every value a record may hold.
#include "core/Clock.h"
#include "core/Geo.h"
#include "core/Reset.h"
#include "core/XmlMeta.h"
#include "stands/AirportFile.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>

namespace qmt::test {
namespace {

// The document a generated file was made as, saved by the library: the plain way to its bytes.
std::string lf_documentText(const AirportFile& FILE, int32_t SIM)
{
    pugi::xml_document doc;
    const std::string version =
        fmt::format("{}.{}.{}", QUILLON_VERSION_MAJOR, QUILLON_VERSION_MINOR, QUILLON_VERSION_PATCH);
    EXPECT_TRUE(gf_writeXmlMeta(doc, version, SIM));
    pugi::xml_node root = doc.child("root");
    pugi::xml_node params = root.append_child("parameters");
    const auto parameter = [&params](const char* NAME, const std::string& VALUE) {
        pugi::xml_node p = params.append_child("parameter");
        p.append_attribute("name").set_value(NAME);
        p.append_attribute("value").set_value(VALUE.c_str());
    };
    parameter("airport_name", FILE.airportName);
    parameter("publisher", FILE.publisher);
    parameter("altitude", fmt::format("{}", FILE.altitudeFt));
    parameter("num_parkpos", fmt::format("{}", FILE.stands.size()));
    if (FILE.publisher.empty()) {
        parameter("BGLpath", FILE.bglPath);
        parameter("manufacturer", FILE.manufacturer);
        parameter("creator", FILE.creator);
    }
    pugi::xml_node positions = root.append_child("parkpositions");
    for (const Stand& stand : FILE.stands) {
        pugi::xml_node pos = positions.append_child("parkpos");
        const auto attribute = [&pos](const char* NAME, const std::string& VALUE) {
            pos.append_attribute(NAME).set_value(VALUE.c_str());
        };
        attribute("id", stand.name);
        attribute("latitude", fmt::format("{:.6f}", stand.latitude));
        attribute("longitude", fmt::format("{:.6f}", stand.longitude));
        attribute("heading", fmt::format("{:.1f}", stand.heading * kRadToDeg));
        attribute("radius", fmt::format("{:.1f}", stand.radius * kMetresPerNm));
        if (stand.heli) {
            attribute("heli", "true");
        } else {
            attribute("type", fmt::format("{}", stand.type));
        }
        if (stand.manual) {
            attribute("manual", "true");
        }
    }
    std::ostringstream bytes;
    doc.save(bytes, "  ", pugi::format_indent, pugi::encoding_utf8);
    return std::move(bytes).str();
}

class ApfTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gf_resetCoreForTests();
        gf_setClockForTests(TimePoint(std::chrono::seconds(1796000000)));
    }
    void TearDown() override { gf_resetCoreForTests(); }

    static void expectDocumentBytes(const AirportFile& FILE, int32_t SIM, const std::string& WHAT)
    {
        const std::optional<std::string> text = gf_apfText(FILE, ApfWriteMode::generated, SIM);
        ASSERT_TRUE(text) << WHAT;
        EXPECT_EQ(*text, lf_documentText(FILE, SIM)) << WHAT;
    }
};

Stand lf_stand(std::string NAME, double LAT, double LON, double HEADING_DEG, double RADIUS_M, uint16_t TYPE = 1,
               bool HELI = false)
{
    return Stand(std::move(NAME), {}, LAT, LON, HEADING_DEG * kDegToRad, RADIUS_M, TYPE, false, false, HELI);
}

TEST_F(ApfTextTest, GeneratedTextIsTheDocumentsBytes)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        Stand stand;
    };
    std::vector<Case> cases = {
        {"plain", lf_stand("A 12", 52.310512, 4.762011, 270.0, 25.0, 3)},
        {"south west", lf_stand("B1", -33.9461, -151.17718, -12.34, 0.0, 0)},
        {"half-way digits", lf_stand("C1", 0.0000005, -0.0000005, 0.05, 0.25, 1)},
        {"rounding edges", lf_stand("C2", 1.0000004999999, 179.9999995, 359.96, 199.95, 2)},
        {"exact ties", lf_stand("C5", 0.0078125, -0.0234375, 0.25, 0.75, 5)},
        {"negative zero", lf_stand("C3", -0.0, -0.0, -0.0, -0.0, 0)},
        {"largest values", lf_stand("C4", 90.0, -180.0, 1e300, 1e-300, 65535)},
        {"not a number", lf_stand("N1", nan, -nan, nan, inf, 4)},
        {"infinities", lf_stand("N2", inf, -inf, -inf, nan, 4)},
        {"helipad", lf_stand("H1", 52.3, 4.76, 0.0, 12.0, 0, true)},
        {"markup in the name", lf_stand("<\"&'>\t\r\n\x01\x1f end", 1.0, 2.0, 3.0, 4.0)},
        {"cut at a NUL", lf_stand(std::string("before\0after", 12), 1.0, 2.0, 3.0, 4.0)},
        {"long UTF-8 name", lf_stand(std::string(600, 'x') + "\xc3\xa9\xe2\x82\xac\xff\xfe", 1.0, 2.0, 3.0, 4.0)},
    };
    cases.back().stand.manual = 1;
    cases[1].stand.manual = 1;

    AirportFile all;
    all.code = IcaoCode("EHAM");
    all.airportName = "Schiphol & <\"Amsterdam\">";
    all.publisher = "Northwind Sceneries";
    all.altitudeFt = -11;
    for (const Case& c : cases) {
        AirportFile one = all;
        one.stands = {c.stand};
        expectDocumentBytes(one, 1, c.what);
        all.stands.push_back(c.stand);
    }
    expectDocumentBytes(all, 2, "every stand");

    // Without a publisher the file names its source instead; without stands its list is empty.
    AirportFile unknown;
    unknown.code = IcaoCode("LFMN");
    unknown.bglPath = "Community\\pack & co\\scenery\\<file>.bgl";
    unknown.manufacturer = std::string("Maker\0hidden", 12);
    unknown.creator = "\"Creator\"";
    unknown.altitudeFt = std::numeric_limits<int32_t>::min();
    expectDocumentBytes(unknown, 0, "no publisher, no stands");
    unknown.stands = {cases[0].stand};
    expectDocumentBytes(unknown, -1, "no publisher");
}

TEST_F(ApfTextTest, AnyBytesInTheTextsGiveTheDocumentsBytes)
{
    std::mt19937 draw(20261208);
    const auto text = [&draw] {
        std::string s(draw() % 24, ' ');
        for (char& c : s) {
            c = static_cast<char>(draw() % 4 == 0 ? draw() % 48 : draw() % 256);
        }
        return s;
    };
    for (int i = 0; i < 300; ++i) {
        AirportFile file;
        file.airportName = text();
        file.publisher = i % 2 == 0 ? text() : "";
        file.bglPath = text();
        file.manufacturer = text();
        file.creator = text();
        file.altitudeFt = static_cast<int32_t>(draw());
        for (int s = 0; s < 3; ++s) {
            const auto coordinate = [&draw] { return std::ldexp(static_cast<double>(draw()), -20) - 2048.0; };
            Stand stand = lf_stand(text(), coordinate(), coordinate(), coordinate(), coordinate(),
                                   static_cast<uint16_t>(draw()), draw() % 5 == 0);
            stand.manual = draw() % 3 == 0 ? 1 : 0;
            file.stands.push_back(std::move(stand));
        }
        expectDocumentBytes(file, 1, fmt::format("draw {}", i));
        if (HasFailure()) {
            return;
        }
    }
}

} // namespace
} // namespace qmt::test
