// Writes the BGL files of the add-on airport packages of the sample simulator installation
// (their manifests and layouts are kept with the sample data; the scenery files are made here,
// at build time), and links the package kept outside the Packages folder into its Community
// folder, as users link packages from another disk.
//   quillon_sample_bgls <Packages folder>
// A file whose bytes are already there is left alone, so that builds in several build folders
// neither rewrite nor race on it.
#include "tools/BglBuilder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace bb = qmt::bglbuild;

bool lf_writeIfChanged(const fs::path& PATH, const bb::Bytes& BYTES)
{
    {
        std::ifstream in(PATH, std::ios::binary);
        if (in && bb::Bytes(std::istreambuf_iterator<char>(in), {}) == BYTES) {
            return true;
        }
    }
    fs::path temp = PATH;
    temp += ".tmp";
    if (!bb::writeFile(temp, BYTES)) {
        return false;
    }
    std::error_code ec;
    fs::rename(temp, PATH, ec);
    return !ec;
}

// A row of parkings: name letter (12 is "A"), first number, type, radius and heading, starting
// at LAT/LON and going east in steps of STEP_LON.
void lf_row(std::vector<bb::Parking>& OUT, std::uint32_t LETTER, int COUNT, std::uint32_t TYPE, float RADIUS,
            float HEADING, double LAT, double LON, double STEP_LON)
{
    for (int i = 0; i < COUNT; ++i) {
        bb::Parking p;
        p.nameIndex = LETTER;
        p.number = static_cast<std::uint32_t>(i + 1);
        p.type = TYPE;
        p.radius = RADIUS;
        p.heading = HEADING;
        p.lat = LAT;
        p.lon = LON + i * STEP_LON;
        OUT.push_back(p);
    }
}

// Scenery records that the airport reader steps over (objects, lights, ...).
bb::Bytes lf_sceneryRecords(std::size_t BYTES)
{
    bb::Bytes records;
    while (records.size() < BYTES) {
        bb::append(records, bb::record(0x0019, 256));
    }
    return records;
}

// Schiphol as the simulator maker ships it (the archive holds its airport file).
bb::Bytes lf_schiphol()
{
    std::vector<bb::Parking> parkings;
    lf_row(parkings, 13, 8, 4, 22.0f, 225.0f, 52.3069, 4.7619, 0.0009);  // B1..B8
    lf_row(parkings, 15, 8, 9, 24.0f, 45.0f, 52.3094, 4.7608, -0.0006);  // D1..D8
    return bb::bglFile({{bb::kAirportSection, 1,
                         bb::airportRecord("EHAM", 0, {bb::record(0x0019, 40), bb::parkingRecord(parkings)})},
                        {101, 1, lf_sceneryRecords(8192)}});
}

// Rotterdam of a publisher whose airport the archive holds.
bb::Bytes lf_rotterdam()
{
    std::vector<bb::Parking> parkings;
    lf_row(parkings, 2, 6, 4, 20.0f, 180.0f, 51.9561, 4.4390, 0.0005);  // p1..p6
    return bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHRD", 0, {bb::parkingRecord(parkings)})}});
}

// Lelystad, which the archive does not know: its airport file is generated from these records.
bb::Bytes lf_lelystad()
{
    std::vector<bb::Parking> parkings;
    lf_row(parkings, 12, 6, 3, 18.0f, 0.0f, 52.4573, 5.5222, 0.0004);    // A1..A6, heading 0: a full turn
    lf_row(parkings, 2, 8, 1, 9.0f, 90.0f, 52.4590, 5.5180, 0.0002);     // p1..p8, light aircraft
    lf_row(parkings, 10, 2, 11, 30.0f, 270.0f, 52.4560, 5.5300, 0.0008); // g1, g2
    const std::vector<bb::Bytes> subrecords = {bb::record(0x0019, 24), bb::helipadRecord({52.4610, 5.5150, 25.0f}),
                                               bb::helipadRecord({52.4614, 5.5150, 25.0f}),
                                               bb::parkingRecord(parkings)};
    // 2 m above sea level, in millimetres.
    return bb::bglFile({{101, 1, lf_sceneryRecords(4096)},
                        {bb::kAirportSection, 1, bb::airportRecord("EHLE", 2000, subrecords)}});
}

// A scenery file with an airport section in which the reader finds no airport record: the
// airport is then identified by its package and read from the simulator's facility data.
bb::Bytes lf_objectsOnly()
{
    return bb::bglFile({{bb::kAirportSection, 1, lf_sceneryRecords(2048)}, {101, 1, lf_sceneryRecords(4096)}});
}

// Texel, a small airfield, in a package whose layout.json lists this file only.
bb::Bytes lf_texel()
{
    std::vector<bb::Parking> parkings;
    lf_row(parkings, 2, 6, 1, 8.0f, 200.0f, 53.1136, 4.8330, 0.0002);  // p1..p6, light aircraft
    return bb::bglFile({{bb::kAirportSection, 1,
                         bb::airportRecord("EHTX", 600, {bb::helipadRecord({53.1160, 4.8310, 18.0f}),
                                                         bb::parkingRecord(parkings)})}});
}

// A test copy left in the Texel package that its layout.json does not list: the simulator never
// loads it, and its one parking in the sea must not replace the airfield.
bb::Bytes lf_texelStray()
{
    std::vector<bb::Parking> parkings;
    lf_row(parkings, 2, 1, 1, 8.0f, 0.0f, 53.2000, 4.6000, 0.0);
    return bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHTX", 0, {bb::parkingRecord(parkings)})}});
}

// Breda, compiled for the newer simulator: its airport record is the 0x0113 one, in a file whose
// name says nothing of the airport.
bb::Bytes lf_breda()
{
    std::vector<bb::Parking> parkings;
    lf_row(parkings, 12, 5, 3, 14.0f, 135.0f, 51.5560, 4.5520, 0.0003);  // A1..A5
    lf_row(parkings, 2, 4, 1, 9.0f, 315.0f, 51.5540, 4.5550, 0.0002);    // p1..p4
    return bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord2024("EHSE", 9000, {bb::parkingRecord(parkings)})},
                        {101, 1, lf_sceneryRecords(2048)}});
}

// An older copy of Lelystad that the user kept as a backup package: the simulator loads it before
// the current package (by name), whose airport is the one that stands.
bb::Bytes lf_lelystadBackup()
{
    std::vector<bb::Parking> parkings;
    lf_row(parkings, 12, 4, 3, 18.0f, 0.0f, 52.4573, 5.5222, 0.0004);  // A1..A4
    return bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHLE", 2000, {bb::parkingRecord(parkings)})}});
}

// Groningen, whose parking list lost a bit of its record id on the way to the user's disk: only
// its helipad is left to read, so the file is taken as damaged and the airport is read from the
// simulator's facility data.
bb::Bytes lf_groningen()
{
    std::vector<bb::Parking> parkings;
    lf_row(parkings, 12, 10, 4, 24.0f, 180.0f, 53.1230, 6.5790, 0.0006);  // A1..A10
    bb::Bytes damaged = bb::parkingRecord(parkings);
    bb::putU16(damaged, 0, bb::kParkingId ^ 0x0040);
    return bb::bglFile({{bb::kAirportSection, 1,
                         bb::airportRecord("EHGG", 5000, {bb::helipadRecord({53.1205, 6.5830, 20.0f}), damaged})},
                        {bb::kAirportSummarySection, 1, bb::record(0x0019, 32)}});
}

// Midden-Zeeland, a package kept outside the Packages folder and linked into Community.
bb::Bytes lf_middenZeeland()
{
    std::vector<bb::Parking> parkings;
    lf_row(parkings, 10, 4, 1, 10.0f, 90.0f, 51.5130, 3.7290, 0.0003);  // g1..g4
    return bb::bglFile({{bb::kAirportSection, 1, bb::airportRecord("EHMZ", 1800, {bb::parkingRecord(parkings)})}});
}

// LINK made a link to TARGET (relative to the link's folder) unless it already is one.
bool lf_linkFolder(const fs::path& LINK, const fs::path& TARGET)
{
    std::error_code ec;
    if (fs::is_symlink(LINK, ec)) {
        if (fs::read_symlink(LINK, ec) == TARGET) {
            return true;
        }
        fs::remove(LINK, ec);
    }
    fs::create_directory_symlink(TARGET, LINK, ec);
    return !ec;
}

} // namespace

int main(int ARGC, char** ARGV)
{
    if (ARGC != 2) {
        std::fprintf(stderr, "usage: quillon_sample_bgls <Packages folder>\n");
        return 2;
    }
    const fs::path packages = ARGV[1];
    const fs::path community = packages / "Community";
    const std::vector<std::pair<fs::path, bb::Bytes>> files = {
        {packages / "Official" / "OneStore" / "asobo-airport-eham-schiphol" / "scenery" / "EHAM-ap.bgl", lf_schiphol()},
        {community / "polderworks-airport-ehrd-rotterdam" / "scenery" / "world" / "EHRD-ap.bgl", lf_rotterdam()},
        {community / "northwind-airport-ehle-lelystad" / "scenery" / "EHLE.bgl", lf_lelystad()},
        {community / "backup-northwind-airport-ehle-lelystad" / "scenery" / "EHLE.bgl", lf_lelystadBackup()},
        {community / "meridian-airport-ehgg-groningen" / "scenery" / "EHGG-ap.bgl", lf_groningen()},
        {community / "skyforge-airport-eheh-eindhoven" / "scenery" / "objects.bgl", lf_objectsOnly()},
        {community / "meridian-airfield-ehhv-hilversum" / "scenery" / "objects.bgl", lf_objectsOnly()},
        // Ground vehicles of an aircraft package: never looked at, though it names an airport.
        {community / "northwind-aircraft-tugs" / "scenery" / "EHLE.bgl", lf_lelystad()},
        {community / "northwind-airport-ehtx-texel" / "scenery" / "EHTX-airport.bgl", lf_texel()},
        {community / "northwind-airport-ehtx-texel" / "scenery" / "test" / "EHTX.bgl", lf_texelStray()},
        {community / "skyforge-airport-ehse-breda" / "scenery" / "airport-polygons.bgl", lf_breda()},
        {packages.parent_path() / "Addons" / "meridian-airport-ehmz-midden-zeeland" / "scenery" / "EHMZ-ap.bgl",
         lf_middenZeeland()},
    };
    int status = 0;
    for (const auto& [path, bytes] : files) {
        if (!lf_writeIfChanged(path, bytes)) {
            std::fprintf(stderr, "could not write %s\n", path.string().c_str());
            status = 1;
        }
    }
    const fs::path link = community / "meridian-airport-ehmz-midden-zeeland";
    if (!lf_linkFolder(link, fs::path("..") / ".." / "Addons" / "meridian-airport-ehmz-midden-zeeland")) {
        std::fprintf(stderr, "could not link %s\n", link.string().c_str());
        status = 1;
    }
    return status;
}
