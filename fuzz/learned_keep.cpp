// The save-and-keep rule of learned files, whatever the file holds: a learned file of any bytes is
// read on top of a small airport file, a stay is learned and the file is saved, and the file saved
// is compared with the file that was on disk, not with what the reader made of it. Every opt and
// parkpos of the file is in the file saved: as it was written, or read with all its half-hours
// (the options of a file older than 11.10.0, which the reader clears, and those that the airport
// file holds already, aside). A file that cannot be read at all is moved aside whole and the save
// writes a new one; a read that fails leads to no save. Saving again writes the same file.
#include "FuzzSupport.h"

#include "core/Text.h"
#include "core/XmlMeta.h"

#include <sstream>

using namespace qmt;

namespace {

std::string lf_read(const std::filesystem::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The file without its meta block, which carries the save date.
std::string lf_withoutMeta(const std::string& TEXT)
{
    const size_t start = TEXT.find("<meta>");
    const size_t end = TEXT.find("</meta>");
    return start == std::string::npos || end == std::string::npos ? TEXT : TEXT.substr(0, start) + TEXT.substr(end);
}

bool lf_sameAttributes(pugi::xml_node A, pugi::xml_node B)
{
    pugi::xml_attribute a = A.first_attribute();
    pugi::xml_attribute b = B.first_attribute();
    for (; a && b; a = a.next_attribute(), b = b.next_attribute()) {
        if (std::string_view(a.name()) != b.name() || std::string_view(a.value()) != b.value()) {
            return false;
        }
    }
    return !a && !b;
}

// The parkpos elements of the saved file by id.
using SavedStands = std::unordered_multimap<std::string, pugi::xml_node>;

// The opt element kept as it was written, under a parkpos of the same id.
bool lf_keptVerbatim(const SavedStands& SAVED, const std::string& ID, pugi::xml_node OPT)
{
    const auto [first, last] = SAVED.equal_range(ID);
    for (auto it = first; it != last; ++it) {
        for (pugi::xml_node o : it->second.children("opt")) {
            if (lf_sameAttributes(o, OPT)) {
                return true;
            }
        }
    }
    return false;
}

// Every half-hour of the option in saved options of the same stand, registration, day and flag.
bool lf_keptHours(const SavedStands& SAVED, const std::string& ID, pugi::xml_node OPT, HoursBitset HOURS,
                  uint32_t DAY)
{
    HoursBitset found;
    const auto [first, last] = SAVED.equal_range(ID);
    for (auto it = first; it != last; ++it) {
        for (pugi::xml_node o : it->second.children("opt")) {
            HoursBitset hours;
            uint32_t day = 0;
            if (lf_optionFault(o, hours, day) == OptionFault::none && day == DAY &&
                std::string_view(o.attribute("reg").value()) == OPT.attribute("reg").value() &&
                o.attribute("soft").as_bool(false) == OPT.attribute("soft").as_bool(false)) {
                found |= hours;
            }
        }
    }
    return (HOURS & ~found).none();
}

// The option of the airport file's stand A1 that a learned option of the same stay repeats.
bool lf_repeatsTheAirportFile(const std::string& ID, pugi::xml_node OPT, HoursBitset HOURS, uint32_t DAY)
{
    static pugi::xml_document airport;
    static const pugi::xml_node archived = [] {
        airport.load_string(fuzz::kSmallAirportFile);
        return airport.child("root").child("parkpositions").child("parkpos").child("opt");
    }();
    HoursBitset hours;
    uint32_t day = 0;
    lf_optionFault(archived, hours, day);
    return ID == "A1" && DAY == day && !OPT.attribute("soft").as_bool(false) &&
           std::string_view(OPT.attribute("reg").value()) == archived.attribute("reg").value() &&
           gf_sameKind(lf_readOptIdentity(OPT).kind, lf_readOptIdentity(archived).kind) && (HOURS & hours).any();
}

// Whatever the file on disk said is in the saved file.
void lf_checkNothingLost(const std::string& BYTES, const std::string& SAVED_TEXT)
{
    pugi::xml_document input;
    input.load_buffer(BYTES.data(), BYTES.size());
    pugi::xml_document saved;
    fuzz::require(static_cast<bool>(saved.load_string(SAVED_TEXT.c_str())), "the saved file does not load");
    const bool handmade = gf_stringParameterByName(input, "handmade").has_value();
    const auto version = VersionData::fromText(gf_readXmlMeta(input, 0).version);
    const bool oldVersion = !version || *version < VersionData{11, 10, 0};
    // A handmade list is read with its ids trimmed, a learned file with them as they are.
    const auto idOf = [handmade](pugi::xml_node POS) {
        return handmade ? gf_trim(POS.attribute("id").value()) : std::string(POS.attribute("id").value());
    };
    SavedStands stands;
    for (pugi::xml_node pos : gf_parkPositionsOf(saved).children("parkpos")) {
        stands.emplace(idOf(pos), pos);
    }
    for (pugi::xml_node pos : gf_parkPositionsOf(input).children("parkpos")) {
        const std::string id = idOf(pos);
        const bool manual = pos.attribute("manual").as_bool(false);
        if (handmade || manual || pos.attribute("radius_change").as_bool(false) ||
            pos.attribute("cargo_change").as_bool(false)) {
            fuzz::require(stands.contains(id), "a stand of the file is not in the saved file");
        }
        if (!handmade && !manual && oldVersion) {
            continue;  // the options of an old file are cleared
        }
        for (pugi::xml_node o : pos.children("opt")) {
            if (lf_keptVerbatim(stands, id, o)) {
                continue;
            }
            HoursBitset hours;
            uint32_t day = 0;
            fuzz::require(lf_optionFault(o, hours, day) == OptionFault::none,
                          "an option that does not read is not kept in the file");
            if (!handmade && lf_repeatsTheAirportFile(id, o, hours, day)) {
                continue;
            }
            fuzz::require(lf_keptHours(stands, id, o, hours, day), "a half-hour of the file lost through a save");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetParking();
    fuzz::freshFolder(g_learnedPath);
    fuzz::writeBytes(g_workPath / "airports" / "stock" / "EHAM.xml", fuzz::kSmallAirportFile);
    const auto learned = g_learnedPath / "stock" / "EHAM.xml";
    const std::string bytes(fuzz::bytesOf(DATA, SIZE));
    fuzz::writeBytes(learned, bytes);
    const std::string name = "airports/stock/EHAM.xml";
    const std::string error = gf_readApf(name, g_parkApfInfo);
    if (!g_parkApfInfo.learnedSetAside.empty()) {
        fuzz::require(lf_read(g_parkApfInfo.learnedSetAside) == bytes, "a file moved aside is not the file");
        fuzz::require(!std::filesystem::exists(learned), "a file moved aside is still in the way");
        if (error.empty()) {
            lf_saveLearnedApf();
            gf_clearStands();
            fuzz::require(gf_readApf(name, g_parkApfInfo).empty() && g_parkApfInfo.learnedSetAside.empty() &&
                              g_parkApfInfo.learnedKept == 0,
                          "the new file after a file moved aside does not read");
        }
        return 0;
    }
    if (!error.empty() || g_parkApfInfo.learnedUnreadable) {
        lf_saveLearnedApf();
        fuzz::require(lf_read(learned) == bytes, "a learned file that was not read was saved over");
        return 0;
    }
    // A stay seen at stand A2.
    StandOption stay;
    stay.registration = "PH-QQQ";
    stay.day = 3;
    stay.hours.set(20).set(21);
    stay.real = 1;
    Stand* a2 = nullptr;
    for (Stand& s : g_stands) {
        if (s.name == "A2") {
            a2 = &s;
        }
    }
    if (a2 != nullptr) {
        stay.optionId = static_cast<uint32_t>(a2->options.size() + 1);
        a2->options.push_back(stay);
        ++g_learnedUpdates;
    }
    const uint32_t kept = g_parkApfInfo.learnedKept;
    lf_saveLearnedApf();
    const std::string first = lf_read(learned);
    lf_checkNothingLost(bytes, first);
    if (a2 != nullptr) {
        fuzz::require(first.find("PH-QQQ") != std::string::npos, "the stay learned is not saved");
    }

    gf_clearStands();
    fuzz::require(gf_readApf(name, g_parkApfInfo).empty() && g_parkApfInfo.learnedSetAside.empty(),
                  "a saved learned file that is not read back");
    fuzz::require(g_parkApfInfo.learnedKept == kept, "the records kept are not those of the first read");
    lf_saveLearnedApf();
    fuzz::require(lf_withoutMeta(lf_read(learned)) == lf_withoutMeta(first), "a second save changed the file");
    return 0;
}
