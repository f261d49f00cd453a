#pragma once
// Set-up of the livery scan tests: dbase codes and registrations, aircraft.cfg files in any
// encoding, and the scan's outputs read back.

#include <algorithm>
#include <string>
#include <vector>

#include "LiveryTestSupport.h"
#include "core/AcKind.h"
#include "core/ScanTasks.h"
#include "core/StopFlags.h"
#include "liveries/LiveryScan.h"
#include "liveries/Regcodes.h"

namespace qmt::test {

// windows1252Bom: Windows-1252 bytes behind a UTF-8 mark, as an editor that keeps the mark saves them.
enum class Encoding { utf8, utf8Bom, utf16Crlf, windows1252, windows1252Bom, crOnly };

// The text (UTF-8, LF lines) in the encoding; for Windows-1252 only characters it has.
inline std::string encoded(const std::string& TEXT, Encoding ENCODING)
{
    if (ENCODING == Encoding::utf8)
        return TEXT;
    if (ENCODING == Encoding::utf8Bom)
        return "\xEF\xBB\xBF" + TEXT;
    if (ENCODING == Encoding::crOnly) {
        std::string out = TEXT;
        std::replace(out.begin(), out.end(), '\n', '\r');
        return out;
    }
    std::u32string code;
    for (std::size_t i = 0; i < TEXT.size();) {
        const auto b = static_cast<unsigned char>(TEXT[i]);
        const int len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = len == 1 ? b : b & (0x3F >> (len - 1));
        for (int k = 1; k < len; ++k)
            c = (c << 6) | (static_cast<unsigned char>(TEXT[i + static_cast<std::size_t>(k)]) & 0x3F);
        code.push_back(c);
        i += static_cast<std::size_t>(len);
    }
    std::string out = ENCODING == Encoding::utf16Crlf ? "\xFF\xFE" : ENCODING == Encoding::windows1252Bom ? "\xEF\xBB\xBF" : "";
    for (const char32_t c : code) {
        if (ENCODING == Encoding::windows1252 || ENCODING == Encoding::windows1252Bom) {
            out += static_cast<char>(c); // Latin-1 letters only in these tests
            continue;
        }
        if (c == U'\n') {
            out += std::string("\r\0\n\0", 4);
            continue;
        }
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

// Views of the lines, as the readers take them (LINES must outlive them).
inline CfgLines views(const std::vector<std::string>& LINES)
{
    return CfgLines(LINES.begin(), LINES.end());
}

class LiveryScanTest : public LiveryTest {
protected:
    void SetUp() override
    {
        LiveryTest::SetUp();
        gf_resetLiveryScanForTests();
        g_icaoAirlines = {"KLM", "DLH", "BAW", "AAL", "EZY", "TRA", "AFR", "ZZZ", "PVT", "DAL"};
        g_validModels = {"A320", "B738", "B77W", "E190", "C172", "A20N", "B737", "A333"};
        g_modelFixes = {{"B38W", "B738"}, {"A32N", "A20N"}};
        g_dbaseRecords = {{"D-AIZZ", gf_kindValue({gf_airlineId("DLH"), 0, gf_modelId("A320"), 0, 1})},
                          {"N12AB", gf_kindValue({gf_airlineId("PVT"), 0, gf_modelId("C172"), 0, 1})},
                          {"PH-BXZ", gf_kindValue({gf_airlineId("KLM"), gf_airlineId("KLC"), gf_modelId("B738"), 1, 1})}};
        g_maxBglTasks = 4;
        m_community = m_work / "my airports sim" / "Community";
    }
    void TearDown() override
    {
        EXPECT_TRUE(gf_waitForBglTasks(std::chrono::seconds(5)));
        g_stopSession = false;
        gf_resetLiveryScanForTests();
        LiveryTest::TearDown();
    }

    static void writeCfg(const std::filesystem::path& PATH, const std::string& TEXT, Encoding E = Encoding::utf8)
    {
        writeFile(PATH, encoded(TEXT, E));
    }

    // The records of LiveriesScanned.xml (its lines that hold a livery).
    static std::vector<std::string> scannedRecords()
    {
        std::vector<std::string> records;
        for (const std::string& line : splitLines(readFile(gf_liveriesScannedPath())))
            if (line.find("<l ") != std::string::npos)
                records.push_back(line);
        return records;
    }

    static std::vector<std::string> lines(const std::list<std::string>& LIST)
    {
        return {LIST.begin(), LIST.end()};
    }

    int countLog(const std::string& PART) const
    {
        const std::vector<std::string> all = logLines();
        return static_cast<int>(
            std::count_if(all.begin(), all.end(), [&](const std::string& L) { return L.find(PART) != std::string::npos; }));
    }

    std::filesystem::path m_community;
};

} // namespace qmt::test
