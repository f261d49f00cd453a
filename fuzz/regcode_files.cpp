// A user's regcode text file and the AIG regcode XML, both of any bytes.
#include "FuzzSupport.h"

#include "liveries/Regcodes.h"

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    const auto folder = g_inputPath / "my_regcodes";
    fuzz::freshFolder(folder);
    const std::string_view bytes = fuzz::bytesOf(DATA, SIZE);
    fuzz::writeBytes(folder / "mine.TXT", bytes);
    std::vector<RegcodeRecord> records;
    gf_readRegcodeTxtFiles(folder, records);
    for (const RegcodeRecord& r : records) {
        for (const std::string& code : r.regcodes) {
            fuzz::require(code.size() >= 3 && code.size() <= 12, "regcode of a wrong length taken");
        }
    }
    fuzz::writeBytes(g_inputPath / "AIG-regcodes.xml", bytes);
    records.clear();
    gf_readAigRegcodesXml(records);
    return 0;
}
