// A learned airport file of any bytes, read on top of a small airport file, then saved.
#include "FuzzSupport.h"

using namespace qmt;

namespace {

const char* kAirport = R"(<?xml version="1.0"?>
<root><meta><info name="author" value="Quillon"/><info name="version" value="12.0.0"/></meta>
<parameters><parameter name="publisher" value="stock"/><parameter name="altitude" value="-11"/></parameters>
<parkpositions>
<parkpos id="A1" latitude="52.3" longitude="4.76" radius="30" type="3"><opt reg="PH-AAA" airl="KLM" type="B738" day="2" hh="12:14"/></parkpos>
<parkpos id="A2" latitude="52.3001" longitude="4.76" radius="30" type="0" cargo="true" ramp="true"/>
</parkpositions></root>
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetParking();
    fuzz::freshFolder(g_learnedPath);
    fuzz::writeBytes(g_workPath / "airports" / "stock" / "EHAM.xml", kAirport);
    fuzz::writeBytes(g_learnedPath / "stock" / "EHAM.xml", fuzz::bytesOf(DATA, SIZE));
    if (gf_readApf("airports/stock/EHAM.xml", g_parkApfInfo).empty()) {
        fuzz::checkStandTable();
        lf_saveLearnedApf();
    }
    fuzz::checkStandTable();
    return 0;
}
