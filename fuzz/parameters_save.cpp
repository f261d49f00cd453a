// parameters.xml of any bytes, read at start; then the user changes one setting in the window and
// that one setting is written into the file again. Reading the file once more gives every setting
// as the program holds it: the one saved, and all that the first read took from the file.
#include "FuzzSupport.h"

#include "core/Parameters.h"

#include <vector>

using namespace qmt;

namespace {

std::vector<std::string> lf_texts()
{
    std::vector<std::string> texts;
    for (const Parameter* p : gf_allParameters()) {
        texts.push_back(p->text());
    }
    return texts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    gf_resetParametersFileForTests();
    fuzz::writeBytes(g_parametersPath, fuzz::bytesOf(DATA, SIZE));
    gf_loadParameters(g_parametersPath);
    const Parameter* changed = nullptr;
    switch (SIZE % 4) {
    case 0:
        RANGE.set(RANGE.value() == 40 ? 50 : 40);
        changed = &RANGE;
        break;
    case 1:
        LIGHT_AIRCRAFT.set(!LIGHT_AIRCRAFT.value());
        changed = &LIGHT_AIRCRAFT;
        break;
    case 2:
        MATCHING_DEPTH.setText(MATCHING_DEPTH.text() == "2" ? "3" : "2");
        changed = &MATCHING_DEPTH;
        break;
    default:
        BLOCKED_CALLSIGNS.set(BLOCKED_CALLSIGNS.text() == "KLM1" ? "KLM1,DAL2" : "KLM1");
        changed = &BLOCKED_CALLSIGNS;
        break;
    }
    if (!gf_saveParameter(*changed)) {
        return 0;  // not written: nothing to read back
    }
    const std::vector<std::string> held = lf_texts();
    gf_resetParameters();
    gf_resetParametersFileForTests();
    fuzz::require(gf_loadParameters(g_parametersPath), "the file written does not read");
    fuzz::require(lf_texts() == held, "a setting read back is not the one the program held");
    return 0;
}
