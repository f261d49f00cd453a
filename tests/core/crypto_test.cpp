#include "CoreTestSupport.h"
#include "core/Crypto.h"
#include "core/Log.h"

namespace qmt::test {
namespace {

class CryptoTest : public CoreTest {
protected:
    std::filesystem::path encryptSample(const std::string& plain)
    {
        writeFile(dir() / "plain.xml", plain);
        EXPECT_TRUE(gf_streamEncrypt(dir() / "plain.xml", dir() / "data.enc"));
        return dir() / "data.enc";
    }
    std::string bigText() const
    {
        std::string s;
        for (int i = 0; i < 3000; ++i) s += "<line n=\"" + std::to_string(i) + "\"/>\n"; // several chunks
        return s;
    }
};

TEST_F(CryptoTest, SampleDataRoundTripsByteForByte)
{
    for (const char* name : {"dbase.xml", "airports.xml", "AIG-regcodes.xml"}) {
        const auto out = dir() / (std::string(name) + ".out");
        ASSERT_TRUE(gf_streamDecrypt(builtInputFolder() / (std::filesystem::path(name).stem().string() + ".enc"), out)) << name;
        EXPECT_EQ(readFile(out), readFile(referenceSource(name))) << name;
    }
}

TEST_F(CryptoTest, EmptyAndMultiChunkFilesRoundTrip)
{
    for (const std::string& plain : {std::string(), std::string(4096, 'x'), bigText()}) {
        const auto enc = encryptSample(plain);
        ASSERT_TRUE(gf_streamDecrypt(enc, dir() / "out.xml"));
        EXPECT_EQ(readFile(dir() / "out.xml"), plain);
    }
}

TEST_F(CryptoTest, DamagedFilesGiveFalseAndNoOutput)
{
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    const std::string plain = bigText();
    const std::string good = readFile(encryptSample(plain));
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x20;
    std::string headerFlipped = good;
    headerFlipped[3] ^= 0x01;
    const std::size_t chunk = 4096 + 17;
    const std::size_t body = good.size() - 24;
    const std::size_t lastChunk = body % chunk == 0 ? chunk : body % chunk;
    const std::vector<Case> cases = {
        {"flipped byte", flipped},
        {"flipped header", headerFlipped},
        {"last chunk cut off", good.substr(0, good.size() - lastChunk)},
        {"last chunk cut short", good.substr(0, good.size() - 5)},
        {"appended bytes", good + "extra"},
        {"header only", good.substr(0, 24)},
        {"too short", good.substr(0, 10)},
        {"empty", std::string()},
    };
    for (const auto& c : cases) {
        writeFile(dir() / "bad.enc", c.bytes);
        writeFile(dir() / "out.xml", "old content");
        EXPECT_FALSE(gf_streamDecrypt(dir() / "bad.enc", dir() / "out.xml")) << c.what;
        EXPECT_FALSE(std::filesystem::exists(dir() / "out.xml")) << c.what;
    }
    EXPECT_FALSE(gf_streamDecrypt(dir() / "missing.enc", dir() / "out.xml"));
    gf_closeLog();
    const std::string log = readFile(dir() / "Log.txt");
    EXPECT_NE(log.find("bad.enc"), std::string::npos);
    EXPECT_NE(log.find("missing.enc"), std::string::npos);
}

} // namespace
} // namespace qmt::test
