#include "parking/ParkingTest.h"

#include "stands/ApfLookup.h"

namespace qmt::test {
namespace {

const std::filesystem::path kData = std::filesystem::path(QUILLON_SOURCE_DIR) / "tests" / "stands" / "data";

class RobustnessTest : public ParkingTest {};

// Damaged airport and learned files (flipped, cut and doubled bytes) never crash the
// readers or escape as an exception; each read ends with a text.
TEST_F(RobustnessTest, DamagedFilesGiveATextNeverACrash)
{
    const std::string archived = readFile(kData / "archived_EHAM.xml");
    const std::string learned = readFile(kData / "learned_EHAM.xml");
    const char noise[] = {'<', '>', '"', '/', ':', ',', '0', '9', '-', 'x', '\0', '\xff', ' ', '='};
    uint32_t seed = 99;
    auto next = [&seed](uint32_t N) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % N;
    };
    for (int round = 0; round < 150; ++round) {
        std::string a = archived;
        std::string l = learned;
        std::string& target = round % 2 ? a : l;
        const int edits = 1 + static_cast<int>(next(6));
        for (int e = 0; e < edits; ++e) {
            const size_t at = next(static_cast<uint32_t>(target.size()));
            switch (next(3)) {
            case 0: target[at] = noise[next(sizeof noise)]; break;
            case 1: target.erase(at, next(40)); break;
            default: target.insert(at, target.substr(next(static_cast<uint32_t>(target.size())), next(60))); break;
            }
        }
        writeFile(m_dir / "airports" / "stock" / "EHAM.xml", a);
        writeFile(m_dir / "airports" / "learned" / "stock" / "EHAM.xml", l);
        gf_clearStands();
        EXPECT_NO_THROW(gf_readApf("airports/stock/EHAM.xml", g_parkApfInfo)) << round;
        for (const Stand& s : g_stands) {
            EXPECT_TRUE(std::isfinite(s.latitude) && std::isfinite(s.longitude) && std::isfinite(s.radius));
            for (uint32_t id : s.adjacent) {
                EXPECT_TRUE(id >= 1 && id <= g_stands.size());
            }
        }
        if (g_parkLoaded) {
            EXPECT_NO_THROW(lf_saveLearnedApf()) << round;
        }
    }
}

TEST_F(RobustnessTest, LinkFilesOfAnyShape)
{
    const auto link = m_dir / "airports" / "my_thirdparty" / "EGLL.txt";
    std::string name;
    for (const std::string& text :
         {std::string(), std::string("\xff\xfe", 2), std::string("\xff\xfe" "a\0.\0x\0m\0l\0", 12),
          std::string(5000, 'x') + ".xml", std::string("\0\0\0\0", 4), std::string(".xml"), std::string("a.xml")}) {
        writeFile(link, text);
        EXPECT_NO_THROW(lf_readApfLink(link, name));
        EXPECT_NO_THROW(lf_resolveApf("EGLL"));
    }
    writeFile(link, "archive/stock/a.xml");
    EXPECT_TRUE(lf_readApfLink(link, name));
    EXPECT_EQ(name, "archive/stock/a.xml");
    writeFile(link, "archive/thirdparty/Some%20Publisher/EGLL.xml");
    EXPECT_TRUE(lf_readApfLink(link, name));
    // Only files of the archive: nothing else on disk, nor out of the archive.
    for (const char* elsewhere :
         {"a.xml", "airports/EGLL.xml", "/etc/EGLL.xml", "C:\\EGLL.xml", "archive/../../EGLL.xml",
          "archive/stock/../../x/EGLL.xml", "archive//EGLL.xml", "archive/C:/EGLL.xml", "archive/stock\\..\\EGLL.xml",
          "archive/stock/EGLL.xml?x=.xml", "archive/EGLL\x01.xml",
          // Escapes that a server decodes into dot segments or separators; the program writes "%20" only.
          "archive/%2e%2e/%2e%2e/EGLL.xml", "archive/stock/..%2f..%2fEGLL.xml", "archive/%2E%2E%5cEGLL.xml",
          "archive/stock/%252e%252e/EGLL.xml", "archive/..%20/EGLL.xml", "archive/%20/EGLL.xml", "archive/a%/EGLL.xml"}) {
        writeFile(link, elsewhere);
        EXPECT_FALSE(lf_readApfLink(link, name)) << elsewhere;
        EXPECT_TRUE(name.empty()) << elsewhere;
    }
}

} // namespace
} // namespace qmt::test
