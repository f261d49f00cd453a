#pragma once

// The livery fixture of the table and matching tests and helpers that write the files the
// table build reads.

#include <filesystem>
#include <string>

#include <pugixml.hpp>

#include "LiveryTestSupport.h"
#include "core/Crypto.h"
#include "core/XmlMeta.h"

namespace qmt::test {

// 25 liveries of the EHAM world: airlines without and with operators, a cargo livery,
// generic ("ZZZ") and private ("PVT") light aircraft, a business jet and a helicopter.
inline const char* const FIXTURE_LIVERIES = R"(
<l a="KLM" m="B738" t="KLM Boeing 737-800 PH-BXA" r="PH-BXA"/>
<l a="KLM" m="B738" t="KLM Boeing 737-800 PH-BXB" r="PH-BXB"/>
<l a="KLM" m="B77W" t="KLM Boeing 777-300ER PH-BVA" r="PH-BVA"/>
<l a="KLM" o="KLC" m="E190" t="KLM Cityhopper Embraer 190 PH-EZA" r="PH-EZA"/>
<l a="TRA" m="B738" t="Transavia Boeing 737-800 PH-HXA" r="PH-HXA"/>
<l a="TRA" m="B738" t="Transavia Boeing 737-800 PH-HSA" r="PH-HSA"/>
<l a="EZY" m="A320" t="easyJet Airbus A320 G-EZTA" r="G-EZTA"/>
<l a="EZY" m="A320" t="easyJet Europe Airbus A320 OE-IVA" r="OE-IVA"/>
<l a="BAW" m="A320" t="British Airways Airbus A320 G-EUUA" r="G-EUUA"/>
<l a="BAW" o="CFE" m="E190" t="BA Cityflyer Embraer 190 G-LCYJ" r="G-LCYJ"/>
<l a="DLH" m="A320" t="Lufthansa Airbus A320 D-AIZA" r="D-AIZA"/>
<l a="DLH" o="CLH" m="E190" t="Lufthansa CityLine Embraer 190 D-AECA" r="D-AECA"/>
<l a="AFR" m="A320" t="Air France Airbus A320 F-GKXA" r="F-GKXA"/>
<l a="AFR" m="B77W" t="Air France Boeing 777-300ER F-GSQA" r="F-GSQA"/>
<l a="DAL" m="A333" t="Delta Air Lines Airbus A330-300 N801NW" r="N801NW"/>
<l a="FDX" m="B77L" c="true" t="FedEx Boeing 777F N850FD" r="N850FD"/>
<l a="ZZZ" m="A320" t="Airbus A320 generic white"/>
<l a="ZZZ" m="B738" t="Boeing 737-800 generic white"/>
<l a="ZZZ" m="AT76" t="ATR 72-600 generic white"/>
<l a="ZZZ" m="C172" t="Cessna 172 white"/>
<l a="PVT" m="C172" t="Cessna 172 PH-ABC" r="PH-ABC"/>
<l a="PVT" m="C172" t="Cessna 172 D-EABC" r="D-EABC"/>
<l a="PVT" m="C172" t="Cessna 172 G-ABCD" r="G-ABCD"/>
<l a="PVT" m="C56X" t="Cessna Citation Excel PH-CXA" r="PH-CXA"/>
<l a="PVT" m="EC35" t="Eurocopter EC135 PH-ECA" r="PH-ECA"/>
)";

// The AIG regcode entries of the fixture: one special unique livery, one special livery with
// two regcodes (one new), one title that is not installed, one regcode moved to another title.
inline const char* const FIXTURE_AIG = R"(
<l t="KLM Boeing 737-800 PH-BXA" r="PH-BXA" s="true"/>
<l t="easyJet Airbus A320 G-EZTA" r="G-EZTA, G-EZTB" s="1"/>
<l t="Not installed livery" r="N12345"/>
<l t="Transavia Boeing 737-800 PH-HXA" r="PH-HSA"/>
)";

inline void writeLiveriesFile(const std::string& LIVERIES)
{
    writeFile(gf_liveriesScannedPath(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n<liveries>" + LIVERIES +
                                            "</liveries>\n</root>\n");
}

// The plain AIG regcode XML (meta block and <aig> with the given elements).
inline std::string aigXml(const std::string& ELEMENTS)
{
    pugi::xml_document doc;
    gf_writeXmlMeta(doc, gf_programVersionText());
    pugi::xml_document elements;
    elements.load_string(("<aig>" + ELEMENTS + "</aig>").c_str());
    doc.child("root").append_copy(elements.child("aig"));
    std::ostringstream out;
    doc.save(out);
    return out.str();
}

// Writes the encrypted AIG regcode file of the input folder.
inline void writeAigRegcodes(const std::string& ELEMENTS, const std::filesystem::path& WORK)
{
    const std::filesystem::path plain = WORK / "aig-plain.xml";
    writeFile(plain, aigXml(ELEMENTS));
    std::filesystem::create_directories(g_inputPath);
    ASSERT_TRUE(gf_streamEncrypt(plain, g_inputPath / kAigRegcodesEncFile));
    std::filesystem::remove(plain);
}

} // namespace qmt::test
