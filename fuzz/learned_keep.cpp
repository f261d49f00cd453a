// The save-and-keep rule of learned files, whatever the file holds: a learned file of any bytes is
// read on top of a small airport file, a stay is learned, the file is saved and read again. A read
// that failed never leads to a save that changes the file; after a good read every half-hour of
// every option read or learned is in the file read back, and saving again writes the same file.
#include "FuzzSupport.h"

#include <set>
#include <sstream>
#include <tuple>

using namespace qmt;

namespace {

// One learned half-hour: stand, registration, day, real flag, airline, operator, model, half-hour.
using HalfHour = std::tuple<std::string, std::string, uint32_t, uint32_t, uint16_t, uint16_t, uint16_t, size_t>;

std::set<HalfHour> lf_halfHours()
{
    std::set<HalfHour> known;
    for (const Stand& stand : g_stands) {
        for (const StandOption& o : stand.options) {
            // What the airport file itself holds is not the learned file's to keep.
            if (o.source == 1 && !g_handmade) {
                continue;
            }
            for (size_t h = 0; h < o.hours.size(); ++h) {
                if (o.hours.test(h)) {
                    known.emplace(stand.name, o.registration, o.day, o.real, o.kind.airlineId, o.kind.operatorId,
                                  o.kind.modelId, h);
                }
            }
        }
    }
    return known;
}

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
    if (!gf_readApf(name, g_parkApfInfo).empty() || g_parkApfInfo.learnedUnreadable) {
        lf_saveLearnedApf();
        fuzz::require(lf_read(learned) == bytes, "a learned file that was not read whole was saved over");
        return 0;
    }
    // A stay seen at stand A2.
    StandOption stay;
    stay.registration = "PH-QQQ";
    stay.day = 3;
    stay.hours.set(20).set(21);
    stay.real = 1;
    stay.optionId = static_cast<uint32_t>(g_stands.back().options.size() + 1);
    g_stands.back().options.push_back(stay);
    ++g_learnedUpdates;
    const std::set<HalfHour> before = lf_halfHours();
    lf_saveLearnedApf();

    gf_clearStands();
    fuzz::require(gf_readApf(name, g_parkApfInfo).empty() && !g_parkApfInfo.learnedUnreadable,
                  "a saved learned file that is not read back");
    const std::set<HalfHour> after = lf_halfHours();
    for (const HalfHour& h : before) {
        fuzz::require(after.contains(h), "a learned half-hour lost through a save");
    }
    const std::string first = lf_read(learned);
    lf_saveLearnedApf();
    fuzz::require(lf_withoutMeta(lf_read(learned)) == lf_withoutMeta(first), "a second save changed the file");
    return 0;
}
