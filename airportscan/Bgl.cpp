#include "airportscan/Bgl.h"

#include "airportscan/AirportScan.h"
#include "airportscan/ApfLinks.h"
#include "airportscan/ScanSteps.h"
#include "core/Airports.h"
#include "core/Log.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "stands/StandTable.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace qmt {

static_assert(std::endian::native == std::endian::little, "BGL words are read in place as little-endian");

namespace {

constexpr std::uint32_t kAirportSection = 3;
// The list of the file's airports that the simulator's compiler writes beside its airport section.
constexpr std::uint32_t kAirportSummarySection = 0x2C;
// The airport record of the 2020 simulator and the newer one of the 2024 simulator.
constexpr std::uint32_t kAirportRecord = 0x0056;
constexpr std::uint32_t kAirportRecord2024 = 0x0113;
constexpr std::uint32_t kHelipadRecord = 0x0026;
constexpr std::uint32_t kParkingRecord = 0x00E7;
constexpr std::size_t kHeaderBytes = 56;
constexpr std::size_t kSectionEntryBytes = 20;
// Smallest subrecords that hold what is read of them (bytes).
constexpr std::size_t kSubrecordMinBytes = 8;
constexpr std::size_t kHelipadMinBytes = 32;
// Records walked in one section and subrecords walked in one airport record.
constexpr int kMaxWalkSteps = 9000;
// Parking types kept as stands: every type but 0, 12 and 13.
constexpr std::uint32_t kKeptParkingTypes = 0xCFFE;
// The Windows-1252 em dash of the walk messages, written as that single byte.
constexpr const char* EM_DASH = "\x97";
// How a refusal for a damaged file header begins.
constexpr std::string_view kHeaderDamage = "its header is damaged:";
// A file whose airport section lost its type: its airport summary is left.
constexpr std::string_view kSummaryOnly = "it lists an airport summary but no airport section";

// Why a section table of COUNT entries cannot be read (it lists none, or more than the file holds).
std::string lf_sectionTableDamage(std::uint64_t COUNT)
{
    return COUNT == 0 ? std::string("it lists no section")
                      : fmt::format("its table of {} sections runs past the end of the file", COUNT);
}

const std::array<const char*, 12> PARKING_PREFIXES = {"", "r", "p", "np", "ep", "sep", "sp", "swp", "wp", "nwp", "g", ""};

// The layout of the two airport records: where the subrecords start (bytes) and which word
// holds the ident. The newer record keeps its ident one bit further up.
struct AirportLayout {
    std::size_t headerBytes;
    std::size_t identWord;
    unsigned identShift;
};
constexpr AirportLayout kLayout2020{68, 10, 5};
constexpr AirportLayout kLayout2024{92, 19, 6};

// Whether the section of TYPE whose entry starts at byte ENTRY is an airport section that lost
// its type to a flipped bit: its type is one bit away from the airport section's and its records
// begin with a whole airport record. The newer simulator's compiler writes no airport summary
// beside its airport section that would tell. READ gives the u32 at a byte offset, or nothing
// past the end of the file; offsets are taken to the word, as the walk takes them.
template <class Read>
bool lf_lostAirportType(std::uint32_t TYPE, std::uint64_t ENTRY, std::uint64_t FILE_BYTES, const Read& READ)
{
    if (std::popcount(TYPE ^ kAirportSection) != 1) {
        return false;
    }
    const std::optional<std::uint32_t> table = READ(ENTRY + 12);
    const std::optional<std::uint32_t> first = table ? READ(std::uint64_t{*table} / 4 * 4 + 8) : std::nullopt;
    if (!first) {
        return false;
    }
    const std::uint64_t at = std::uint64_t{*first} / 4 * 4;
    const std::optional<std::uint32_t> head = READ(at);
    const std::optional<std::uint32_t> next = READ(at + 4);
    if (!head || !next) {
        return false;
    }
    const std::uint32_t id = *head & 0xFFFFu;
    const std::uint64_t bytes = (std::uint64_t{*next & 0xFFFFu} << 16) | (*head >> 16);
    const std::size_t least = id == kAirportRecord        ? kLayout2020.headerBytes
                              : id == kAirportRecord2024 ? kLayout2024.headerBytes
                                                          : 0;
    return least != 0 && bytes >= least && at + bytes <= FILE_BYTES;
}

// The refusal of a file whose section I (of COUNT) is an airport section that lost its type.
std::string lf_lostAirportTypeDamage(std::uint64_t I, std::uint64_t COUNT, std::uint32_t TYPE)
{
    return fmt::format("{} its section {} of {} holds an airport record but has type {:#x}, not {:#x}", kHeaderDamage,
                       I + 1, COUNT, TYPE, kAirportSection);
}

// The record size in bytes: a u32 that starts 2 bytes into the record, so across a word boundary.
std::size_t lf_decodeSizeAtBoundary(const BglView& W, std::size_t P)
{
    return (static_cast<std::size_t>(W.at(P + 1) & 0xFFFFu) << 16) | (W.at(P) >> 16);
}

float lf_f32(const BglView& W, std::size_t I) { return std::bit_cast<float>(W.at(I)); }

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

// A walk error of a file: in the scan log with the file, and in the main log while the file's
// scan-log lines are not cut.
void lf_walkWarning(const std::string& TEXT, const std::filesystem::path& PATH)
{
    const std::string line = fmt::format("{} in {}", TEXT, gf_utf16ToUtf8(PATH));
    if (gf_scanLog(std::string_view(line))) {
        gf_logWarning(line);
    }
}

// The survey of one file (see Bgl.h).
class Surveyor {
public:
    Surveyor(const BglView& WORDS, BglBudget& BUDGET, const std::filesystem::path& PATH)
        : m_w(WORDS), m_budget(BUDGET), m_path(PATH), m_walked(WORDS.size(), false)
    {
    }

    BglSurvey run()
    {
        const std::size_t n = m_w.size();
        if (n <= 14) {
            refuse(fmt::format("{} {}", kHeaderDamage, "it is too short for its header"));
            return std::move(m_result);
        }
        if (m_w[1] != kHeaderBytes) {
            refuse(fmt::format("{} its header size is {}, not {}", kHeaderDamage, m_w[1], kHeaderBytes));
            return std::move(m_result);
        }
        const std::uint64_t count = m_w[5];
        if (count == 0 || 14 + 5 * count > n) {
            refuse(fmt::format("{} {}", kHeaderDamage, lf_sectionTableDamage(count)));
            return std::move(m_result);
        }
        bool airportSection = false;
        bool summarySection = false;
        for (std::size_t i = 0; i < count && !m_done; ++i) {
            if (!step(1)) {
                break;
            }
            const std::size_t e = 14 + 5 * i;
            airportSection = airportSection || m_w[e] == kAirportSection;
            summarySection = summarySection || m_w[e] == kAirportSummarySection;
            const auto word = [&](std::uint64_t OFFSET) {
                return OFFSET / 4 < n ? std::optional<std::uint32_t>(m_w[OFFSET / 4]) : std::nullopt;
            };
            if (m_w[e] != kAirportSection && lf_lostAirportType(m_w[e], 4 * e, 4 * std::uint64_t{n}, word)) {
                refuse(lf_lostAirportTypeDamage(i, count, m_w[e]));
                break;
            }
            if (m_w[e] != kAirportSection || ((m_w[e + 1] & 0x10000u) | 0x40000u) != 0x40000u) {
                continue;
            }
            const std::size_t t = m_w[e + 3] / 4;
            if (t + 2 < n) {
                walkSection(m_w[t + 2] / 4);
            }
        }
        if (summarySection && !airportSection && !m_done) {
            refuse(fmt::format("{} {}", kHeaderDamage, kSummaryOnly));
        }
        return std::move(m_result);
    }

private:
    // Takes N steps of the budget; a stop request or an exhausted budget ends the survey (the
    // latter refuses the file).
    bool step(std::uint64_t N)
    {
        if (gf_stopRequested()) {
            refuse("the scan was stopped");
            return false;
        }
        if (!m_budget.spend(N)) {
            refuse(fmt::format("it takes more than {} steps to read", kBglStepBudget));
            return false;
        }
        return true;
    }

    void refuse(std::string WHY)
    {
        if (m_result.refusal.empty()) {
            m_result.refusal = std::move(WHY);
        }
        m_done = true;
    }

    // Walks the records from P on, through whatever follows the first subsection, until a record
    // cannot be stepped over or was walked before (by an earlier section of a forged table).
    void walkSection(std::size_t P)
    {
        const std::size_t n = m_w.size();
        for (int steps = 0; !m_done; ++steps) {
            if (P >= n - 1 || m_walked[P]) {
                return;
            }
            m_walked[P] = true;
            if (steps >= kMaxWalkSteps) {
                lf_walkWarning(std::string("Error: Maximum loop iterations reached (2) ") + EM_DASH +
                                   " possible corrupt BGL or malformed input.",
                               m_path);
                return;
            }
            if (!step(1)) {
                return;
            }
            const std::size_t bytes = lf_decodeSizeAtBoundary(m_w, P);
            const std::uint32_t id = m_w[P] & 0xFFFFu;
            if (id == kAirportRecord || id == kAirportRecord2024) {
                ++m_result.records;
                airport(P, bytes, id == kAirportRecord ? kLayout2020 : kLayout2024);
            }
            if (bytes / 4 == 0) {
                return;
            }
            P += bytes / 4;
        }
    }

    // Notes why an airport record was left out, the first reason of the file.
    std::nullopt_t leaveOut(std::string WHY)
    {
        if (m_result.leftOut.empty()) {
            m_result.leftOut = std::move(WHY);
        }
        return std::nullopt;
    }

    // The known code of an airport record's ident, if any; an unknown code is logged once.
    std::optional<IcaoCode> code(std::size_t P, const AirportLayout& LAYOUT)
    {
        if (P + LAYOUT.identWord >= m_w.size()) {
            return leaveOut(fmt::format("the airport record at byte {} is cut by the end of the file", 4 * P));
        }
        const std::uint32_t packed = m_w[P + LAYOUT.identWord];
        if (LAYOUT.identShift != 5) {
            // Where the newer place gives no known airport, the ident is read as the older record has it.
            for (const unsigned shift : {LAYOUT.identShift, 5u}) {
                const auto [text, valid] = lf_decodeBglIdent(packed, shift);
                if (valid && text.size() == 4 && gf_isKnownAirport(text)) {
                    return IcaoCode(text);
                }
            }
        }
        const auto [ident, valid] = lf_decodeBglIdent(packed, LAYOUT.identShift);
        if (!valid) {
            return leaveOut(fmt::format("the ident of the airport record at byte {} is no code", 4 * P));
        }
        const auto [text, accepted] = lf_checkIcao(ident, m_path);
        if (!accepted) {
            return leaveOut(text.size() == 4
                                ? fmt::format("{} is not an airport supported by RealTraffic", text)
                                : fmt::format("its ident {} is no ICAO code of four characters", text));
        }
        return IcaoCode(text);
    }

    void airport(std::size_t P, std::size_t BYTES, const AirportLayout& LAYOUT)
    {
        const std::optional<IcaoCode> found = code(P, LAYOUT);
        if (!found) {
            return;
        }
        if (!m_result.code) {
            m_result.code = found;
        }
        const std::string where = fmt::format("the airport record of {} at byte {}", found->view(), 4 * P);
        if (BYTES < LAYOUT.headerBytes || BYTES % 4 != 0) {
            refuse(fmt::format("{} has the impossible size {}", where, BYTES));
            return;
        }
        if (P + BYTES / 4 > m_w.size()) {
            refuse(fmt::format("{} runs {} bytes past the end of the file", where, 4 * (P + BYTES / 4 - m_w.size())));
            return;
        }
        const std::string damage = subrecordDamage(P, BYTES / 4, LAYOUT.headerBytes / 4);
        if (!damage.empty()) {
            refuse(fmt::format("{}: {}", where, damage));
            return;
        }
        if (!m_codes.insert(*found).second) {
            gf_scanLog("a second airport record of {} in {} is left out", found->view(), gf_utf16ToUtf8(m_path));
            return;
        }
        if (m_result.airports.size() == kBglMaxAirports) {
            gf_scanLog("{} holds more than {} airports; the rest of them is not read", gf_utf16ToUtf8(m_path),
                       kBglMaxAirports);
            m_done = true;
            return;
        }
        m_result.airports.push_back(BglAirport{P, BYTES / 4, LAYOUT.headerBytes / 4, *found});
    }

    // Why the subrecords of the record at P (S words) do not end exactly at its end; empty when
    // they do. The budget running out ends the survey.
    std::string subrecordDamage(std::size_t P, std::size_t S, std::size_t FIRST)
    {
        const std::size_t end = P + S;
        for (std::size_t q = P + FIRST; q < end;) {
            if (!step(1)) {
                return {};
            }
            const std::size_t bytes = q + 1 < end ? lf_decodeSizeAtBoundary(m_w, q) : 0;
            const std::uint32_t id = m_w[q] & 0xFFFFu;
            if (bytes < kSubrecordMinBytes || bytes % 4 != 0 || q + bytes / 4 > end) {
                return fmt::format("its subrecord at byte {} (size {}) does not end inside the record", 4 * q, bytes);
            }
            if (id == kHelipadRecord && (bytes < kHelipadMinBytes || !step(kBglStandSteps))) {
                return m_done ? std::string() : fmt::format("its helipad at byte {} is too short", 4 * q);
            }
            if (id == kParkingRecord) {
                std::string damage = parkingDamage(q, bytes / 4);
                if (!damage.empty() || m_done) {
                    return damage;
                }
            }
            q += bytes / 4;
        }
        return {};
    }

    std::string parkingDamage(std::size_t Q, std::size_t WORDS)
    {
        const std::uint32_t count = m_w[Q + 1] >> 16;
        std::size_t e = Q + 2;
        std::uint32_t i = 0;
        for (; i < count && e + 14 <= Q + WORDS; ++i) {
            if (!step(kBglStandSteps)) {
                return {};
            }
            e += 14 + (m_w[e] >> 24);
        }
        if (i != count || e != Q + WORDS) {
            return fmt::format("the {} parking entries of its subrecord at byte {} do not end where it ends", count,
                               4 * Q);
        }
        return {};
    }

    const BglView& m_w;
    BglBudget& m_budget;
    const std::filesystem::path& m_path;
    std::vector<bool> m_walked;  // record positions walked so far
    std::set<IcaoCode> m_codes;
    BglSurvey m_result;
    bool m_done = false;
};

} // namespace

BglView::BglView(std::istream& IN, std::uint64_t BYTES) : m_size((BYTES + 3) / 4), m_in(&IN), m_bytes(BYTES) {}

void BglView::throwPastEnd(std::size_t I) const
{
    throw std::out_of_range(fmt::format("word {} past the end of the file ({} words)", I, m_size));
}

void BglView::load(Slot& SLOT, std::size_t BLOCK) const
{
    const std::uint64_t from = static_cast<std::uint64_t>(BLOCK) * kBlockWords * 4;
    const std::uint64_t want = std::min<std::uint64_t>(m_bytes - from, kBlockWords * 4);
    SLOT.block = static_cast<std::size_t>(-1);
    // New words are zero, so the bytes past the end of the file in the last word stay zero.
    SLOT.words.assign((want + 3) / 4, 0);
    m_in->clear();
    m_in->seekg(static_cast<std::streamoff>(from));
    m_in->read(reinterpret_cast<char*>(SLOT.words.data()), static_cast<std::streamsize>(want));
    if (static_cast<std::uint64_t>(m_in->gcount()) != want) {
        throw std::runtime_error(fmt::format("the file could not be read at byte {} (it changed while it was read?)", from));
    }
    SLOT.block = BLOCK;
}

bool lf_bglHasAirportSection(const std::filesystem::path& PATH)
{
    std::uintmax_t bytes = 0;
    return lf_bglHasAirportSection(PATH, bytes);
}

bool lf_bglHasAirportSection(const std::filesystem::path& PATH, std::uintmax_t& BYTES, std::string* DAMAGE)
{
    BYTES = 0;
    const auto damaged = [DAMAGE](std::string WHY) {
        if (DAMAGE != nullptr) {
            *DAMAGE = std::move(WHY);
        }
        return false;
    };
    std::ifstream in(PATH, std::ios::binary);
    if (!in) {
        return damaged(fmt::format("it cannot be opened: {}", std::error_code(errno, std::generic_category()).message()));
    }
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(PATH, ec);
    if (ec) {
        return damaged(fmt::format("its size cannot be read: {}", ec.message()));
    }
    BYTES = size;
    if (size < kHeaderBytes + 1) {
        return damaged(fmt::format("{} it has {} bytes, too few for a header and its section table", kHeaderDamage, size));
    }
    const auto readU32 = [&](std::uintmax_t OFFSET, std::uint32_t& VALUE) {
        in.seekg(static_cast<std::streamoff>(OFFSET));
        in.read(reinterpret_cast<char*>(&VALUE), sizeof VALUE);
        return in.gcount() == sizeof VALUE;
    };
    std::uint32_t header = 0;
    std::uint32_t n = 0;
    if (!readU32(4, header) || !readU32(20, n)) {
        return damaged("its header cannot be read");
    }
    if (n == 0 || n > (size - kHeaderBytes) / kSectionEntryBytes) {
        return damaged(fmt::format("{} {}", kHeaderDamage, lf_sectionTableDamage(n)));
    }
    bool summary = false;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uintmax_t at = kHeaderBytes + kSectionEntryBytes * i;
        std::uint32_t type = 0;
        if (at + 4 > size || !readU32(at, type)) {
            return damaged("its section table cannot be read");
        }
        if (type == kAirportSection) {
            return true;  // the survey refuses it, with the reason, when its header size is wrong
        }
        const auto word = [&](std::uint64_t OFFSET) {
            std::uint32_t value = 0;
            return OFFSET + 4 <= size && readU32(OFFSET, value) ? std::optional<std::uint32_t>(value) : std::nullopt;
        };
        if (lf_lostAirportType(type, at, size, word)) {
            return true;  // the survey refuses it with the reason, and the second pass takes it up
        }
        summary = summary || type == kAirportSummarySection;
    }
    if (summary) {
        return true;  // the survey refuses it with the reason, and the second pass takes it up
    }
    if (header != kHeaderBytes) {
        return damaged(fmt::format("{} its header size is {}, not {}", kHeaderDamage, header, kHeaderBytes));
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
            expected = static_cast<std::size_t>(std::clamp<std::streamoff>(IN.tellg() - start, 0, kBglMaxBytes));
        }
        IN.clear();
        IN.seekg(start);
    }
    constexpr std::size_t kChunk = 64u << 10;
    BglWords words;
    std::size_t bytes = 0;
    for (;;) {
        const std::size_t want = bytes < expected ? expected - bytes : kChunk;
        // New words are zero, so the bytes past the end of the file in the last word stay zero.
        words.resize((bytes + want + 3) / 4);
        IN.read(reinterpret_cast<char*>(words.data()) + bytes, static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(IN.gcount());
        bytes += got;
        if (got < want || bytes >= kBglMaxBytes || (bytes == expected && IN.peek() == std::char_traits<char>::eof())) {
            break;
        }
    }
    words.resize((bytes + 3) / 4);
    return words;
}

std::pair<std::string, bool> lf_decodeBglIdent(std::uint32_t PACKED, unsigned SHIFT)
{
    std::uint32_t v = PACKED >> SHIFT;
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

std::pair<std::string, bool> lf_checkIcao(std::string TEXT, const std::filesystem::path& PATH)
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
        gf_scanLog("{} is not an airport supported by RealTraffic in {}", TEXT, gf_utf16ToUtf8(PATH));
        return {TEXT, false};
    }
    return {TEXT, true};
}

BglSurvey lf_surveyBgl(const BglView& WORDS, BglBudget& BUDGET, const std::filesystem::path& PATH)
{
    return Surveyor(WORDS, BUDGET, PATH).run();
}

AirportFile lf_airportFileFromBgl(std::size_t P, const BglView& WORDS)
{
    AirportFile record;
    // The field is read unsigned: an airport below sea level reads as far above 10000 ft.
    const auto feet = gf_roundNarrow<std::int32_t>(static_cast<double>(WORDS.at(P + 5)) * 3.2808399 / 1000.0);
    record.altitudeFt = feet > 10000 ? 0 : feet;
    return record;
}

namespace {

// The parking entries of a kept type of the subrecord at Q of S words, when it is laid out as a
// parking list: at least one entry, and entries that end exactly where the subrecord ends.
std::optional<std::size_t> lf_keptParkingEntries(std::size_t Q, std::size_t S, const BglView& WORDS)
{
    if (S < 2 || Q + S > WORDS.size()) {
        return std::nullopt;
    }
    const std::uint32_t count = WORDS.at(Q + 1) >> 16;
    std::size_t kept = 0;
    std::size_t e = Q + 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (e + 14 > Q + S) {
            return std::nullopt;
        }
        const std::uint32_t packed = WORDS.at(e);
        kept += (kKeptParkingTypes >> ((packed >> 8) & 0xFu)) & 1u;
        e += 14 + (packed >> 24);
    }
    if (count == 0 || e != Q + S) {
        return std::nullopt;
    }
    return kept;
}

} // namespace

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

void lf_readBglHelipad(std::size_t Q, const BglView& WORDS, AirportFile& RECORD, HelipadPositions& HELIPADS,
                       int& COUNTER, const std::filesystem::path& PATH)
{
    const LatLon pos{lf_latitude(WORDS.at(Q + 4)), lf_longitude(WORDS.at(Q + 3))};
    const float width = lf_f32(WORDS, Q + 7);
    if (!lf_validPosition(pos)) {
        gf_scanLog("lat/lon helipad incorrect (skipped): {} in {}", lf_positionText(pos), gf_utf16ToUtf8(PATH));
        return;
    }
    // A NaN, negative or absurd width would reach the generated file as its radius.
    if (!(width > 0.0f) || !gf_isStandRadius(width / 2.0)) {
        gf_scanLog("helipad width {} invalid (skipped): {} in {}", width, lf_positionText(pos), gf_utf16ToUtf8(PATH));
        return;
    }
    constexpr double kSame = 1e-8;
    for (auto it = HELIPADS.upper_bound(pos.lat - kSame); it != HELIPADS.end() && it->first < pos.lat + kSame; ++it) {
        if (std::fabs(it->second - pos.lon) < kSame) {
            gf_scanLog("double helipad {} (skipped) {} in {}", RECORD.airportName, lf_positionText(pos),
                       gf_utf16ToUtf8(PATH));
            return;
        }
    }
    HELIPADS.emplace(pos.lat, pos.lon);
    RECORD.stands.emplace_back("helipad" + std::to_string(COUNTER), std::vector<StandOption>{}, pos.lat, pos.lon, 0.0,
                               width / 2.0, 0, false, false, true);
    ++COUNTER;
}

void lf_readBglParkings(std::size_t Q, const BglView& WORDS, AirportFile& RECORD, std::set<std::string>& NAMES,
                        const std::filesystem::path& PATH)
{
    const std::uint32_t count = WORDS.at(Q + 1) >> 16;
    std::size_t e = Q + 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t packed = WORDS.at(e);
        const float radius = lf_f32(WORDS, e + 1);
        const std::size_t at = e;
        e += 14 + (packed >> 24);
        if (!(radius > 1.0f && radius < 200.0f)) {
            gf_scanLog("Skipped position with radius {:.1F} m in {}", radius, gf_utf16ToUtf8(PATH));
            continue;
        }
        const std::string name = lf_parkingPrefix(packed & 0x3Fu) + std::to_string((packed >> 12) & 0xFFFu);
        const std::uint32_t type = (packed >> 8) & 0xFu;
        if (((kKeptParkingTypes >> type) & 1u) == 0) {
            continue;
        }
        const LatLon pos{lf_latitude(WORDS.at(at + 8)), lf_longitude(WORDS.at(at + 7))};
        if (!lf_validPosition(pos)) {
            gf_scanLog("LatLon {} invalid (skipped) in {}", lf_positionText(pos), gf_utf16ToUtf8(PATH));
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
        const double heading = headingDeg == 0.0f ? kFullTurn : headingDeg * kDegToRad;
        RECORD.stands.emplace_back(std::move(unique), std::vector<StandOption>{}, pos.lat, pos.lon, heading,
                                   static_cast<double>(radius), static_cast<std::uint16_t>(type), false, false, false);
    }
}

BglStandsRead lf_readBglStands(const BglAirport& AIRPORT, const BglView& WORDS, AirportFile& RECORD,
                               const std::filesystem::path& PATH)
{
    std::set<std::string> names;
    HelipadPositions helipads;
    int counter = 1;
    BglStandsRead read;
    std::size_t parkingShaped = 0;
    bool parkingRecord = false;
    const std::size_t before = RECORD.stands.size();
    std::size_t q = AIRPORT.p + AIRPORT.firstSub;
    for (int steps = 0; q < AIRPORT.p + AIRPORT.s; ++steps) {
        if (steps >= kMaxWalkSteps) {
            lf_walkWarning(std::string("Error: Maximum loop iterations reached (1) ") + EM_DASH +
                               " possible corrupt SIA or malformed input",
                           PATH);
            break;
        }
        const std::uint32_t id = WORDS.at(q) & 0xFFFFu;
        const std::size_t s = lf_decodeSizeAtBoundary(WORDS, q) / 4;
        if (id == kParkingRecord) {
            // Only the first parking subrecord is read; it ends the walk.
            read.parkingRecords = lf_keptParkingEntries(q, s, WORDS).value_or(0);
            parkingRecord = true;
            lf_readBglParkings(q, WORDS, RECORD, names, PATH);
            break;
        }
        if (id == kHelipadRecord) {
            lf_readBglHelipad(q, WORDS, RECORD, helipads, counter, PATH);
        } else if (parkingShaped == 0) {
            parkingShaped = lf_keptParkingEntries(q, s, WORDS).value_or(0);
        }
        if (s == 0) {
            break;  // the survey refuses such a record; a record read without it ends here
        }
        q += s;
    }
    read.helipads = counter - 1;
    read.parkings = RECORD.stands.size() - before - static_cast<std::size_t>(read.helipads);
    if (!parkingRecord) {
        read.parkingRecords = parkingShaped;
    }
    return read;
}

namespace {

// An airport of the file whose stands were read ahead of its link or generation.
struct ReadAirport {
    const BglAirport* airport;
    AirportFile record;
    BglStandsRead stands;
};

// One surveyed airport: linked to the archive or generated from its stands. False when it was
// neither because it holds no stand; RESULT then gets the note for the second pass.
bool lf_processBglAirport(ReadAirport& READ, const std::filesystem::path& PATH,
                          const std::filesystem::path& SCAN_FOLDER, BglResult& RESULT)
{
    AirportFile& record = READ.record;
    const IcaoCode& code = READ.airport->code;
    std::int32_t archived = 0;
    const PackagePlace place = lf_packagePlace(PATH, SCAN_FOLDER);
    if (lf_linkToArchive(record, std::nullopt, archived, PATH, SCAN_FOLDER, place)) {
        return true;
    }
    const std::size_t n = record.stands.size();
    if (n > static_cast<std::size_t>(std::max(archived, 0)) && record.publisher != "simaddon") {
        gf_scanLog("{} has {} parkpos while archived one has {}", code.view(), n, archived);
    }
    if (n == 0) {
        if (!RESULT.note) {
            RESULT.note = BglNote{PATH, fmt::format("its airport record of {} holds no stand", code.view()), code};
        }
        return false;
    }
    lf_generateApf(record, READ.stands.helipads, place.order);
    return true;
}

// The first airport whose stands fall far short of its parking records: such a record is
// damaged, and with it the file.
const ReadAirport* lf_fallingShort(const std::vector<ReadAirport>& READ)
{
    const auto shortOne = std::find_if(READ.begin(), READ.end(), [](const ReadAirport& A) { return A.stands.fallsFarShort(); });
    return shortOne == READ.end() ? nullptr : &*shortOne;
}

// Why the survey took no airport of a sound file.
std::string lf_noAirportReason(const BglSurvey& SURVEY)
{
    if (SURVEY.records == 0) {
        return "its airport sections hold no airport record";
    }
    if (SURVEY.leftOut.empty()) {
        return "its airport records were left out";
    }
    return fmt::format("its airport record{} {} left out: {}", gf_plural(SURVEY.records),
                       SURVEY.records == 1 ? "was" : "were", SURVEY.leftOut);
}

// Reads the file and takes its airports; anything that goes wrong is a note, nothing is thrown
// but the errors of writing an airport file.
void lf_readBglFile(const std::filesystem::path& PATH, const BglWalkState* WALK, BglResult& RESULT)
{
    const std::string text = gf_utf16ToUtf8(PATH);
    const auto note = [&](std::string REASON, std::optional<IcaoCode> CODE) {
        RESULT.note = BglNote{PATH, std::move(REASON), CODE};
    };
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(PATH, ec);
    if (!ec && size > kBglMaxBytes) {
        gf_scanLog("BGL file {} has {} bytes, more than {} (not read)", text, size, kBglMaxBytes);
        return note(fmt::format("it has {} bytes, more than {}, and was not read", size, kBglMaxBytes), std::nullopt);
    }
    std::ifstream in(PATH, std::ios::binary);
    if (ec || !in) {
        return note("it could not be opened", std::nullopt);
    }
    const BglView words(in, size);
    BglBudget budget(kBglStepBudget);
    BglSurvey survey = lf_surveyBgl(words, budget, PATH);
    // The stands of every airport are read before any is written: a file whose stands are not
    // to be believed is refused whole, as one with a damaged record is.
    std::vector<ReadAirport> read;
    read.reserve(survey.airports.size());
    for (std::size_t i = 0; survey.refusal.empty() && i < survey.airports.size(); ++i) {
        const BglAirport& airport = survey.airports[i];
        // Each airport has lines of its own beside those of the file's survey.
        const ScanLogQuota quota(fmt::format("{} of {}", airport.code.view(), text), kBglMaxLogLines);
        ReadAirport& a = read.emplace_back(ReadAirport{&airport, lf_airportFileFromBgl(airport.p, words), {}});
        a.record.code = airport.code;
        a.stands = lf_readBglStands(airport, words, a.record, PATH);
    }
    if (const ReadAirport* damaged = survey.refusal.empty() ? lf_fallingShort(read) : nullptr) {
        survey.refusal = fmt::format("the airport record of {} gives {} stand{} of its {} parking records",
                                     damaged->airport->code.view(), damaged->stands.parkings,
                                     gf_plural(damaged->stands.parkings), damaged->stands.parkingRecords);
        survey.code = damaged->airport->code;
    }
    if (!survey.refusal.empty()) {
        if (!gf_stopRequested()) {
            gf_scanLog("{}: {}; no airport of it is taken", text, survey.refusal);
        }
        return note(std::move(survey.refusal), survey.code);
    }
    if (WALK != nullptr && WALK->closed()) {
        return;  // read too late: the walk has gone on without it
    }
    const std::filesystem::path scanFolder = WALK ? WALK->folder() : std::filesystem::path();
    for (ReadAirport& airport : read) {
        const ScanLogQuota quota(fmt::format("{} of {}", airport.airport->code.view(), text), kBglMaxLogLines);
        RESULT.handled = lf_processBglAirport(airport, PATH, scanFolder, RESULT) || RESULT.handled;
    }
    if (survey.airports.empty()) {
        note(lf_noAirportReason(survey), survey.code);
    }
}

} // namespace

void lf_processBGLfile(const std::filesystem::path& PATH, const BglWalkState* WALK)
{
    BglResult result;
    result.path = PATH;
    {
        const ScanLogQuota quota(gf_utf16ToUtf8(PATH), kBglMaxLogLines);
        try {
            lf_readBglFile(PATH, WALK, result);
        } catch (const std::exception& e) {
            gf_logWarning(fmt::format("Exception in lf_processBGLfile (std::ex): {} ", gf_utf16ToUtf8(PATH)) + EM_DASH +
                          fmt::format(" {}", e.what()));
            gf_scanLog("{}: reading it failed: {}", gf_utf16ToUtf8(PATH), e.what());
            result.note = BglNote{PATH, fmt::format("reading it failed: {}", e.what()), std::nullopt};
        }
    }
    if (result.handled) {
        result.note.reset();
    }
    if (WALK != nullptr) {
        WALK->finish(std::move(result));
    } else {
        lf_registerBglResult(std::move(result));
    }
}

void lf_registerBglResult(BglResult RESULT)
{
    // The file enters both lists under the first list's mutex, so that a walk that takes the lists
    // over never sees it in one and not the other.
    std::lock_guard all(g_allBglFilesMutex);
    g_allBglFiles.push_back(RESULT.path);
    if (RESULT.handled) {
        lf_addHandledBgl(std::move(RESULT.path));
    } else if (RESULT.note) {
        std::lock_guard handled(g_handledBglFilesMutex);
        g_bglNotes.push_back(std::move(*RESULT.note));
    }
}

void lf_addHandledBgl(std::filesystem::path PATH)
{
    std::lock_guard lock(g_handledBglFilesMutex);
    g_handledBglFiles.push_back(std::move(PATH));
}

} // namespace qmt
