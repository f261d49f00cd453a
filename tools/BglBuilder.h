#pragma once
// Writes BGL scenery files with airport, helipad and parking records, for our tests, the sample
// simulator installation, the fuzz corpus and the benchmark. Only the fields that the scan reads
// are filled; everything else is zero. Besides sound files it writes the cases that real and
// hostile files show: the newer simulator's airport record (0x0113), damaged records (a parking
// list that claims more entries than it holds, a file cut short), forged section tables that
// point many sections at the same records, and package layouts that leave a stray file unlisted.
//
// Layout written: a 56-byte header (word 1 the header size, word 5 the section count), the
// section table (20 bytes an entry), then per section a one-entry subsection table (16 bytes)
// followed by the section's records.

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace qmt::bglbuild {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t kAirportId = 0x0056;
inline constexpr std::uint16_t kAirport2024Id = 0x0113;
inline constexpr std::uint16_t kHelipadId = 0x0026;
inline constexpr std::uint16_t kParkingId = 0x00E7;
inline constexpr std::uint32_t kAirportSection = 3;
// The list of a file's airports that the simulator's compiler writes beside the airport section
// (not read by the scan; its presence tells a damaged airport section type).
inline constexpr std::uint32_t kAirportSummarySection = 0x2C;

inline void putU16(Bytes& OUT, std::size_t AT, std::uint16_t V)
{
    OUT[AT] = static_cast<std::uint8_t>(V);
    OUT[AT + 1] = static_cast<std::uint8_t>(V >> 8);
}

inline void putU32(Bytes& OUT, std::size_t AT, std::uint32_t V)
{
    for (int i = 0; i < 4; ++i) {
        OUT[AT + i] = static_cast<std::uint8_t>(V >> (8 * i));
    }
}

inline void putF32(Bytes& OUT, std::size_t AT, float V) { putU32(OUT, AT, std::bit_cast<std::uint32_t>(V)); }

inline void append(Bytes& OUT, const Bytes& MORE) { OUT.insert(OUT.end(), MORE.begin(), MORE.end()); }

// The ident of an airport record: base-38 digits ('0'-'9' are 2..11, 'A'-'Z' 12..37), most
// significant first, shifted left by SHIFT (5 in the 2020 record; 6, with the low bit set, in
// the 2024 record, as the simulator's compiler writes it).
inline std::uint32_t packIdent(std::string_view TEXT, unsigned SHIFT = 5)
{
    std::uint32_t v = 0;
    for (const char c : TEXT) {
        const std::uint32_t d = c >= '0' && c <= '9' ? 2u + (c - '0') : c >= 'A' && c <= 'Z' ? 12u + (c - 'A') : 0u;
        v = v * 38 + d;
    }
    return SHIFT == 5 ? v << 5 : (v << SHIFT) | 1u;
}

inline std::uint32_t packLongitude(double LON) { return static_cast<std::uint32_t>(std::llround((LON + 180.0) / 4.470348358154297e-7)); }
inline std::uint32_t packLatitude(double LAT) { return static_cast<std::uint32_t>(std::llround((90.0 - LAT) / 3.3527612686157227e-7)); }

// A record of ID with SIZE bytes (at least 8), its size field filled.
inline Bytes record(std::uint16_t ID, std::size_t SIZE)
{
    Bytes r(SIZE < 8 ? 8 : SIZE, 0);
    putU16(r, 0, ID);
    putU32(r, 2, static_cast<std::uint32_t>(SIZE));
    return r;
}

struct Helipad {
    double lat = 0.0;
    double lon = 0.0;
    float width = 20.0f;  // metres
};

inline Bytes helipadRecord(const Helipad& H)
{
    Bytes r = record(kHelipadId, 36);
    putU32(r, 12, packLongitude(H.lon));
    putU32(r, 16, packLatitude(H.lat));
    putF32(r, 28, H.width);
    return r;
}

struct Parking {
    std::uint32_t nameIndex = 2;  // 2 is "p"
    std::uint32_t number = 1;
    std::uint32_t type = 1;
    float radius = 20.0f;   // metres
    float heading = 90.0f;  // degrees
    double lat = 0.0;
    double lon = 0.0;
    std::uint32_t extra = 0;  // further 4-byte values after the entry
};

// The parking list; CLAIMED, when given, is the entry count written instead of the true one (a
// damaged list that claims more entries than it holds).
inline Bytes parkingRecord(const std::vector<Parking>& PARKINGS, int CLAIMED = -1)
{
    Bytes r = record(kParkingId, 8);
    putU16(r, 6, static_cast<std::uint16_t>(CLAIMED >= 0 ? CLAIMED : static_cast<int>(PARKINGS.size())));
    for (const Parking& p : PARKINGS) {
        Bytes e(56 + 4 * p.extra, 0);
        putU32(e, 0, (p.nameIndex & 0x3Fu) | ((p.type & 0xFu) << 8) | ((p.number & 0xFFFu) << 12) | (p.extra << 24));
        putF32(e, 4, p.radius);
        putF32(e, 8, p.heading);
        putU32(e, 28, packLongitude(p.lon));
        putU32(e, 32, packLatitude(p.lat));
        append(r, e);
    }
    putU32(r, 2, static_cast<std::uint32_t>(r.size()));
    return r;
}

// An airport record around its subrecords, in the order given.
inline Bytes airportRecordPacked(std::uint32_t PACKED_IDENT, std::uint32_t ALTITUDE_MM, const std::vector<Bytes>& SUBRECORDS)
{
    Bytes r = record(kAirportId, 68);
    putU32(r, 20, ALTITUDE_MM);
    putU32(r, 40, PACKED_IDENT);
    for (const Bytes& s : SUBRECORDS) {
        append(r, s);
    }
    putU32(r, 2, static_cast<std::uint32_t>(r.size()));
    return r;
}

inline Bytes airportRecord(std::string_view IDENT, std::uint32_t ALTITUDE_MM, const std::vector<Bytes>& SUBRECORDS)
{
    return airportRecordPacked(packIdent(IDENT), ALTITUDE_MM, SUBRECORDS);
}

// The newer simulator's airport record: a 92-byte head with the ident at byte 76, then the
// subrecords (a name first, as its compiler writes it).
inline Bytes airportRecord2024(std::string_view IDENT, std::uint32_t ALTITUDE_MM, const std::vector<Bytes>& SUBRECORDS)
{
    Bytes r = record(kAirport2024Id, 92);
    putU32(r, 20, ALTITUDE_MM);
    putU32(r, 76, packIdent(IDENT, 6));
    append(r, record(0x0019, 16));
    for (const Bytes& s : SUBRECORDS) {
        append(r, s);
    }
    putU32(r, 2, static_cast<std::uint32_t>(r.size()));
    return r;
}

struct Section {
    std::uint32_t type = kAirportSection;
    std::uint32_t flags = 1;  // bit 16 clear: subsection entries of 16 bytes
    Bytes records;
};

inline Bytes bglFile(const std::vector<Section>& SECTIONS)
{
    Bytes out(56 + 20 * SECTIONS.size(), 0);
    putU32(out, 0, 0x51424C31u);  // our own mark; not read
    putU32(out, 4, 56);
    putU32(out, 20, static_cast<std::uint32_t>(SECTIONS.size()));
    for (std::size_t i = 0; i < SECTIONS.size(); ++i) {
        const std::size_t entry = 56 + 20 * i;
        const std::size_t table = out.size();
        Bytes sub(16, 0);
        putU32(sub, 4, 1);
        putU32(sub, 8, static_cast<std::uint32_t>(table + 16));
        putU32(sub, 12, static_cast<std::uint32_t>(SECTIONS[i].records.size()));
        append(out, sub);
        append(out, SECTIONS[i].records);
        putU32(out, entry, SECTIONS[i].type);
        putU32(out, entry + 4, SECTIONS[i].flags);
        putU32(out, entry + 8, 1);
        putU32(out, entry + 12, static_cast<std::uint32_t>(table));
        putU32(out, entry + 16, 16);
    }
    return out;
}

// A forged section table: COUNT airport sections that all point at one subsection table, before
// the same RECORDS.
inline Bytes forgedSections(std::uint32_t COUNT, const Bytes& RECORDS)
{
    Bytes out(56 + 20 * COUNT, 0);
    putU32(out, 4, 56);
    putU32(out, 20, COUNT);
    const auto table = static_cast<std::uint32_t>(out.size());
    for (std::uint32_t i = 0; i < COUNT; ++i) {
        putU32(out, 56 + 20 * i, kAirportSection);
        putU32(out, 56 + 20 * i + 4, 1);
        putU32(out, 56 + 20 * i + 12, table);
    }
    Bytes subsection(16, 0);
    putU32(subsection, 8, table + 16);
    append(out, subsection);
    append(out, RECORDS);
    return out;
}

// A package's layout.json that lists FILES (paths from the package folder, '/' separated).
inline std::string layoutJson(const std::vector<std::string>& FILES)
{
    std::string text = "{\n  \"content\": [";
    for (std::size_t i = 0; i < FILES.size(); ++i) {
        text += (i ? ",\n" : "\n") + std::string("    {\"path\": \"") + FILES[i] + "\", \"size\": 0, \"date\": 0}";
    }
    return text + "\n  ]\n}\n";
}

inline bool writeFile(const std::filesystem::path& PATH, const Bytes& BYTES)
{
    std::error_code ec;
    std::filesystem::create_directories(PATH.parent_path(), ec);
    std::ofstream out(PATH, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(BYTES.data()), static_cast<std::streamsize>(BYTES.size()));
    return static_cast<bool>(out);
}

} // namespace qmt::bglbuild
