#include "airportscan/Bgl.h"

#include "airportscan/AirportScan.h"
#include "airportscan/ApfLinks.h"
#include "core/Airports.h"
#include "core/Log.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "stands/StandTable.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>

namespace qmt {

static_assert(std::endian::native == std::endian::little, "BGL words are read in place as little-endian");

namespace {

constexpr std::uint32_t AIRPORT_SECTION = 3;
constexpr std::uint32_t AIRPORT_RECORD = 0x0056;
constexpr std::uint32_t HELIPAD_RECORD = 0x0026;
constexpr std::uint32_t PARKING_RECORD = 0x00E7;
constexpr std::size_t HEADER_BYTES = 56;
constexpr std::size_t SECTION_ENTRY_BYTES = 20;
// Records walked in one section and subrecords walked in one airport record.
constexpr int MAX_WALK_STEPS = 9000;
// Parking types kept as stands: every type but 0, 12 and 13.
constexpr std::uint32_t KEPT_PARKING_TYPES = 0xCFFE;
constexpr double FULL_TURN = 6.283185307179586;
// The Windows-1252 em dash of the walk messages, written as that single byte.
constexpr const char* EM_DASH = "\x97";

const std::array<const char*, 12> PARKING_PREFIXES = {"", "r", "p", "np", "ep", "sep", "sp", "swp", "wp", "nwp", "g", ""};

// The record size in bytes: a u32 that starts 2 bytes into the record, so across a word boundary.
std::size_t lf_decodeSizeAtBoundary(const BglWords& W, std::size_t P)
{
    return (static_cast<std::size_t>(W.at(P + 1) & 0xFFFFu) << 16) | (W.at(P) >> 16);
}

float lf_f32(const BglWords& W, std::size_t I) { return std::bit_cast<float>(W.at(I)); }

double lf_longitude(std::uint32_t PACKED) { return PACKED * 4.470348358154297e-7 - 180.0; }
double lf_latitude(std::uint32_t PACKED) { return 90.0 - PACKED * 3.3527612686157227e-7; }

bool lf_validPosition(LatLon POS)
{
    return POS.lat >= -90.0 && POS.lat <= 90.0 && POS.lon >= -180.0 && POS.lon <= 180.0 &&
           !(std::fabs(POS.lat) <= 0.0001 && std::fabs(POS.lon) <= 0.0001);
}

std::string lf_positionText(LatLon POS) { return fmt::format("{:.6f},{:.6f}", POS.lat, POS.lon); }

std::string lf_parkingPrefix(std::uint32_t INDEX)
{
    if (INDEX < PARKING_PREFIXES.size()) {
        return PARKING_PREFIXES[INDEX];
    }
    if (INDEX >= 12 && INDEX <= 37) {
        return std::string(1, static_cast<char>('A' + (INDEX - 12)));
    }
    return {};
}

// Walks the records of one airport section from P on, through whatever follows the first
// subsection, until a record cannot be stepped over.
void lf_walkSection(std::size_t P, const BglWords& W, BglBudget& BUDGET, const BglAirportVisitor& ON_AIRPORT)
{
    const std::size_t n = W.size();
    for (int steps = 0;; ++steps) {
        if (P >= n - 1) {
            return;
        }
        if (steps >= MAX_WALK_STEPS) {
            gf_logWarning(std::string("Error: Maximum loop iterations reached (2) ") + EM_DASH +
                          " possible corrupt BGL or malformed input.");
            return;
        }
        if (gf_stopRequested() || !BUDGET.spend()) {
            return;
        }
        const std::size_t s = lf_decodeSizeAtBoundary(W, P) / 4;
        if ((W[P] & 0xFFFFu) == AIRPORT_RECORD) {
            if (s == 0) {
                gf_logWarning(fmt::format("   Warning: decodeSizeAtBoundary returned {} at o2 = {}", s, P));
                return;
            }
            if (P + 10 < n) {
                const auto [ident, valid] = lf_decodeBglIdent(W[P + 10]);
                if (valid) {
                    const auto [text, accepted] = lf_checkIcao(ident);
                    if (accepted) {
                        ON_AIRPORT(P, s, IcaoCode(text));
                    }
                }
            }
        }
        if (s == 0) {
            return;
        }
        P += s;
    }
}

} // namespace

bool lf_bglHasAirportSection(const std::filesystem::path& PATH)
{
    std::uintmax_t bytes = 0;
    return lf_bglHasAirportSection(PATH, bytes);
}

bool lf_bglHasAirportSection(const std::filesystem::path& PATH, std::uintmax_t& BYTES)
{
    BYTES = 0;
    std::ifstream in(PATH, std::ios::binary);
    if (!in) {
        return false;
    }
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(PATH, ec);
    if (ec) {
        return false;
    }
    BYTES = size;
    if (size < HEADER_BYTES + 1) {
        return false;
    }
    const auto readU32 = [&](std::uintmax_t OFFSET, std::uint32_t& VALUE) {
        in.seekg(static_cast<std::streamoff>(OFFSET));
        in.read(reinterpret_cast<char*>(&VALUE), sizeof VALUE);
        return in.gcount() == sizeof VALUE;
    };
    std::uint32_t n = 0;
    if (!readU32(20, n) || n == 0 || n > (size - HEADER_BYTES) / SECTION_ENTRY_BYTES) {
        return false;
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uintmax_t at = HEADER_BYTES + SECTION_ENTRY_BYTES * i;
        std::uint32_t type = 0;
        if (at + 4 > size || !readU32(at, type)) {
            return false;
        }
        if (type == AIRPORT_SECTION) {
            return true;
        }
    }
    return false;
}

BglWords lf_readBglWords(std::istream& IN)
{
    // The size when the stream can tell it, so that the words are allocated once.
    std::size_t expected = 0;
    const std::streampos start = IN.tellg();
    if (start != std::streampos(-1)) {
        if (IN.seekg(0, std::ios::end)) {
            expected = static_cast<std::size_t>(std::clamp<std::streamoff>(IN.tellg() - start, 0, BGL_MAX_BYTES));
        }
        IN.clear();
        IN.seekg(start);
    }
    constexpr std::size_t CHUNK = 64u << 10;
    BglWords words;
    std::size_t bytes = 0;
    for (;;) {
        const std::size_t want = bytes < expected ? expected - bytes : CHUNK;
        // New words are zero, so the bytes past the end of the file in the last word stay zero.
        words.resize((bytes + want + 3) / 4);
        IN.read(reinterpret_cast<char*>(words.data()) + bytes, static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(IN.gcount());
        bytes += got;
        if (got < want || bytes >= BGL_MAX_BYTES || (bytes == expected && IN.peek() == std::char_traits<char>::eof())) {
            break;
        }
    }
    words.resize((bytes + 3) / 4);
    return words;
}

std::pair<std::string, bool> lf_decodeBglIdent(std::uint32_t PACKED)
{
    std::uint32_t v = PACKED >> 5;
    std::string text;
    bool valid = true;
    do {
        const std::uint32_t d = v % 38;
        v /= 38;
        char c = ' ';
        if (d >= 2 && d <= 11) {
            c = static_cast<char>('0' + (d - 2));
        } else if (d >= 12) {
            c = static_cast<char>('A' + (d - 12));
        } else {
            c = d == 0 ? ' ' : '?';
            valid = false;
        }
        text.push_back(c);
        if (text.size() > 10) {
            valid = false;
        }
    } while (v != 0);
    std::reverse(text.begin(), text.end());
    return {text, valid};
}

std::pair<std::string, bool> lf_checkIcao(std::string TEXT)
{
    if (TEXT.size() != 3 && TEXT.size() != 4) {
        return {TEXT, false};
    }
    TEXT = gf_upper(TEXT);
    if (TEXT.size() == 3) {
        return {TEXT, false};
    }
    const IcaoCode code(TEXT);
    if (!gf_isKnownAirport(code)) {
        gf_scanLog("{} is not an airport supported by RealTraffic ", TEXT);
        return {TEXT, false};
    }
    return {TEXT, true};
}

void lf_walkBglAirports(const BglWords& WORDS, BglBudget& BUDGET, const BglAirportVisitor& ON_AIRPORT)
{
    const std::size_t n = WORDS.size();
    if (n <= 14 || WORDS[1] != HEADER_BYTES) {
        return;
    }
    const std::uint64_t count = WORDS[5];
    if (count == 0 || 14 + 5 * count > n) {
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (gf_stopRequested() || !BUDGET.spend()) {
            return;
        }
        const std::size_t e = 14 + 5 * i;
        if (WORDS[e] != AIRPORT_SECTION || ((WORDS[e + 1] & 0x10000u) | 0x40000u) != 0x40000u) {
            continue;
        }
        const std::size_t t = WORDS[e + 3] / 4;
        if (t + 2 >= n) {
            continue;
        }
        lf_walkSection(WORDS[t + 2] / 4, WORDS, BUDGET, ON_AIRPORT);
    }
}

AirportFile lf_airportFileFromBgl(std::size_t P, const BglWords& WORDS)
{
    AirportFile record;
    // The field is read unsigned: an airport below sea level reads as far above 10000 ft.
    const auto feet = gf_roundNarrow<std::int32_t>(static_cast<double>(WORDS.at(P + 5)) * 3.2808399 / 1000.0);
    record.altitudeFt = feet > 10000 ? 0 : feet;
    return record;
}

std::pair<std::string, bool> lf_uniqueStandName(const std::string& NAME, std::set<std::string>& NAMES,
                                                const std::filesystem::path& PATH)
{
    if (NAMES.insert(NAME).second) {
        return {NAME, true};
    }
    for (char c = 'a'; c <= 'j'; ++c) {
        std::string candidate = NAME + c;
        if (NAMES.insert(candidate).second) {
            return {candidate, true};
        }
    }
    gf_scanLog("{}Warning: more than 10 duplicate IDs {} in {}", "===> ", NAME, gf_utf16ToUtf8(PATH));
    return {NAME, false};
}

void lf_readBglHelipad(std::size_t Q, const BglWords& WORDS, AirportFile& RECORD, std::vector<LatLon>& HELIPADS,
                       int& COUNTER, BglBudget& BUDGET)
{
    const LatLon pos{lf_latitude(WORDS.at(Q + 4)), lf_longitude(WORDS.at(Q + 3))};
    const float width = lf_f32(WORDS, Q + 7);
    if (!lf_validPosition(pos)) {
        gf_scanLog("lat/lon helipad incorrect (skipped): {}", lf_positionText(pos));
        return;
    }
    // A NaN, negative or absurd width would reach the generated file as its radius.
    if (!(width > 0.0f) || !gf_isStandRadius(width / 2.0)) {
        gf_scanLog("helipad width {} invalid (skipped): {}", width, lf_positionText(pos));
        return;
    }
    if (!BUDGET.spend(HELIPADS.size())) {
        return;
    }
    for (const LatLon& h : HELIPADS) {
        if (std::fabs(h.lat - pos.lat) < 1e-8 && std::fabs(h.lon - pos.lon) < 1e-8) {
            gf_scanLog("double helipad {} (skipped) {}", RECORD.airportName, lf_positionText(pos));
            return;
        }
    }
    HELIPADS.push_back(pos);
    RECORD.stands.emplace_back("helipad" + std::to_string(COUNTER), std::vector<StandOption>{}, pos.lat, pos.lon, 0.0,
                               width / 2.0, 0, false, false, true);
    ++COUNTER;
}

void lf_readBglParkings(std::size_t Q, const BglWords& WORDS, AirportFile& RECORD, std::set<std::string>& NAMES,
                        const std::filesystem::path& PATH, BglBudget& BUDGET)
{
    const std::uint32_t count = WORDS.at(Q + 1) >> 16;
    std::size_t e = Q + 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!BUDGET.spend()) {
            return;
        }
        const std::uint32_t packed = WORDS.at(e);
        const float radius = lf_f32(WORDS, e + 1);
        const std::size_t next = e + 14 + (packed >> 24);
        const std::size_t at = e;
        e = next;
        if (!(radius > 1.0f && radius < 200.0f)) {
            gf_scanLog("Skipped position with radius {:.1F} m in {}", radius, gf_utf16ToUtf8(PATH));
            continue;
        }
        const std::string name = lf_parkingPrefix(packed & 0x3Fu) + std::to_string((packed >> 12) & 0xFFFu);
        const std::uint32_t type = (packed >> 8) & 0xFu;
        if (((KEPT_PARKING_TYPES >> type) & 1u) == 0) {
            continue;
        }
        const LatLon pos{lf_latitude(WORDS.at(at + 8)), lf_longitude(WORDS.at(at + 7))};
        if (!lf_validPosition(pos)) {
            gf_scanLog("LatLon {} invalid (skipped)", lf_positionText(pos));
            continue;
        }
        // Tested before the name is taken, so that a skipped parking leaves its name free.
        const float headingDeg = lf_f32(WORDS, at + 2);
        if (!gf_standHeadingRad(headingDeg)) {
            gf_scanLog("heading {} of parking {} invalid (skipped) in {}", headingDeg, name, gf_utf16ToUtf8(PATH));
            continue;
        }
        auto [unique, ok] = lf_uniqueStandName(name, NAMES, PATH);
        if (!ok) {
            continue;
        }
        const double heading = headingDeg == 0.0f ? FULL_TURN : headingDeg * DEG_TO_RAD;
        RECORD.stands.emplace_back(std::move(unique), std::vector<StandOption>{}, pos.lat, pos.lon, heading,
                                   static_cast<double>(radius), static_cast<std::uint16_t>(type), false, false, false);
    }
}

int lf_readBglStands(std::size_t P, const BglWords& WORDS, std::size_t S, AirportFile& RECORD,
                     const std::filesystem::path& PATH, BglBudget& BUDGET)
{
    std::set<std::string> names;
    std::vector<LatLon> helipads;
    int counter = 1;
    const std::size_t n = WORDS.size();
    std::size_t q = P + 17;
    for (int steps = 0; q < P + S; ++steps) {
        if (steps >= MAX_WALK_STEPS) {
            gf_logWarning(std::string("Error: Maximum loop iterations reached (1) ") + EM_DASH +
                          " possible corrupt SIA or malformed input");
            break;
        }
        if (q >= n - 1) {
            gf_logLine("   Error: o3={} exceeded data buffer size ({}), aborting.", q, n);
            gf_flushLog();
            break;
        }
        if (!BUDGET.spend()) {
            break;
        }
        const std::uint32_t id = WORDS[q] & 0xFFFFu;
        if (id == PARKING_RECORD) {
            // Only the first parking subrecord is read; it ends the walk.
            lf_readBglParkings(q, WORDS, RECORD, names, PATH, BUDGET);
            break;
        }
        if (id == HELIPAD_RECORD) {
            lf_readBglHelipad(q, WORDS, RECORD, helipads, counter, BUDGET);
        }
        const std::size_t s = lf_decodeSizeAtBoundary(WORDS, q) / 4;
        if (s == 0) {
            const std::string text = fmt::format("   Warning: decodeSizeAtBoundary returned 0 at o3 = {}", q);
            if (id == HELIPAD_RECORD) {
                gf_logWarning(text);
            } else {
                gf_logLine(text);
                gf_flushLog();
            }
            break;
        }
        q += s;
    }
    return counter - 1;
}

void lf_addHandledBgl(const std::filesystem::path& PATH)
{
    std::lock_guard lock(g_handledBglFilesMutex);
    g_handledBglFiles.push_back(PATH);
}

void lf_processBglAirport(std::size_t P, const BglWords& WORDS, std::size_t S, IcaoCode CODE,
                          const std::filesystem::path& PATH, BglBudget& BUDGET)
{
    if (gf_stopRequested()) {
        return;
    }
    AirportFile record;
    record.code = CODE;
    std::int32_t archived = 0;
    if (lf_linkToArchive(record, std::nullopt, archived, PATH)) {
        lf_addHandledBgl(PATH);
        return;
    }
    record.altitudeFt = lf_airportFileFromBgl(P, WORDS).altitudeFt;
    const int helipads = lf_readBglStands(P, WORDS, S, record, PATH, BUDGET);
    const std::size_t n = record.stands.size();
    if (n > static_cast<std::size_t>(std::max(archived, 0)) && record.publisher != "simaddon") {
        gf_scanLog("{} has {} parkpos while archived one has {}", CODE.view(), n, archived);
    }
    lf_generateApf(record, helipads);
    lf_addHandledBgl(PATH);
}

void lf_processBGLfile(const std::filesystem::path& PATH)
{
    try {
        {
            std::lock_guard lock(g_allBglFilesMutex);
            g_allBglFiles.push_back(PATH);
        }
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(PATH, ec);
        if (!ec && size > BGL_MAX_BYTES) {
            gf_scanLog("BGL file {} has {} bytes, more than {} (not read)", gf_utf16ToUtf8(PATH), size, BGL_MAX_BYTES);
            return;
        }
        std::ifstream in(PATH, std::ios::binary);
        if (!in) {
            return;
        }
        const BglWords words = lf_readBglWords(in);
        BglBudget budget(BGL_STEP_BUDGET);
        lf_walkBglAirports(words, budget, [&](std::size_t P, std::size_t S, IcaoCode CODE) {
            lf_processBglAirport(P, words, S, CODE, PATH, budget);
        });
        if (budget.exhausted()) {
            gf_scanLog("BGL file {} takes more than {} steps, the rest of it is not read", gf_utf16ToUtf8(PATH),
                       BGL_STEP_BUDGET);
        }
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("Exception in lf_processBGLfile (std::ex): {} ", gf_utf16ToUtf8(PATH)) + EM_DASH +
                      fmt::format(" {}", e.what()));
        throw;
    } catch (...) {
        gf_logWarning(fmt::format("Exception in lf_processBGLfile: {}", gf_utf16ToUtf8(PATH)));
        throw;
    }
}

} // namespace qmt
