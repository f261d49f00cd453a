#pragma once
// Reader of compiled scenery (BGL) files: finds a file's airport records and reads each airport's
// ICAO code, altitude, helipads and parkings into an AirportFile. A BGL file is outside input:
// every word is read with a bounds check, a file is read in blocks rather than whole, the work on
// one file is capped by a step budget, and an airport record is taken only when it is whole.
//
// A file is read in two rounds. The survey walks the airport sections, decodes the idents and
// checks that every accepted airport record lies inside the file and that its subrecords (and
// the entries of its parking subrecord) end exactly where the record ends; it writes nothing.
// Only when the whole survey came through within the budget are the airports linked or
// generated, so that a damaged or forged file never leaves a short airport file behind.

#include "airportscan/AirportScan.h"
#include "core/Airports.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace qmt {

struct AirportFile;
class BglWalkState;

// A file as 32-bit little-endian words held in memory (tests, fuzzing); positions in a file are
// word indices.
using BglWords = std::vector<std::uint32_t>;

// Largest BGL file that is read (bytes); a larger one is skipped with a scan-log line.
inline constexpr std::uintmax_t kBglMaxBytes = 128ull << 20;
// Steps that one file may take: section entries, records and subrecords walked cost one step, a
// parking entry or helipad kBglStandSteps (each becomes a stand written out). Real airport files
// need a few thousand; a forged file could otherwise keep a task busy for minutes.
inline constexpr std::uint64_t kBglStepBudget = 2'000'000;
inline constexpr std::uint64_t kBglStandSteps = 20;
// Airports taken from one file at most; a file of more is read up to there.
inline constexpr std::size_t kBglMaxAirports = 256;
// Scan-log lines written about one file at most.
inline constexpr std::size_t kBglMaxLogLines = 100;

// The work left for one file.
class BglBudget {
public:
    explicit BglBudget(std::uint64_t STEPS) : m_left(STEPS) {}
    // Takes N steps; false (and nothing taken) when fewer are left.
    bool spend(std::uint64_t N = 1)
    {
        if (N > m_left) {
            m_left = 0;
            m_exhausted = true;
            return false;
        }
        m_left -= N;
        return true;
    }
    bool exhausted() const { return m_exhausted; }

private:
    std::uint64_t m_left;
    bool m_exhausted = false;
};

// Word access to a BGL file: words in memory, or a file read block by block on demand, so that
// a file costs a few blocks of memory whatever its size. Not shared between threads.
class BglView {
public:
    // Words in memory, kept by the caller.
    BglView(const BglWords& WORDS) : m_memory(WORDS.data()), m_size(WORDS.size()) {}
    // BYTES bytes of IN; one to three trailing bytes form a last word in its low bytes.
    BglView(std::istream& IN, std::uint64_t BYTES);
    BglView(const BglView&) = delete;
    BglView& operator=(const BglView&) = delete;

    std::size_t size() const { return m_size; }
    // Throws std::out_of_range past the last word, std::runtime_error when the file cannot be
    // read there (it shrank while it was read).
    std::uint32_t at(std::size_t I) const
    {
        if (I >= m_size) {
            throwPastEnd(I);
        }
        if (m_memory != nullptr) {
            return m_memory[I];
        }
        Slot& slot = m_slots[(I >> kBlockBits) & (SLOTS - 1)];
        if (slot.block != (I >> kBlockBits)) {
            load(slot, I >> kBlockBits);
        }
        return slot.words[I & (kBlockWords - 1)];
    }
    std::uint32_t operator[](std::size_t I) const { return at(I); }

private:
    static constexpr unsigned kBlockBits = 14;  // 64 KiB a block
    static constexpr std::size_t kBlockWords = std::size_t{1} << kBlockBits;
    static constexpr std::size_t SLOTS = 8;
    struct Slot {
        std::size_t block = static_cast<std::size_t>(-1);
        std::vector<std::uint32_t> words;
    };
    [[noreturn]] void throwPastEnd(std::size_t I) const;
    void load(Slot& SLOT, std::size_t BLOCK) const;

    const std::uint32_t* m_memory = nullptr;
    std::size_t m_size = 0;
    std::istream* m_in = nullptr;
    std::uint64_t m_bytes = 0;
    mutable std::array<Slot, SLOTS> m_slots;
};

// Whether the file has a section table that fits and holds an airport section (type 3); false
// for a file that cannot be opened or is too short.
bool lf_bglHasAirportSection(const std::filesystem::path& PATH);
// The same, giving the file's size in BYTES (0 when it could not be read) and, when the file is
// false for any other reason than a sound table without an airport section, why in DAMAGE (a
// file that cannot be opened or read, or whose header is no BGL header: it may hold an airport).
bool lf_bglHasAirportSection(const std::filesystem::path& PATH, std::uintmax_t& BYTES, std::string* DAMAGE = nullptr);

// The rest of the stream as words; one to three trailing bytes form a last word in its low bytes.
BglWords lf_readBglWords(std::istream& IN);

// The base-38 ident of an airport record, its digits above the low SHIFT bits: (text, valid).
std::pair<std::string, bool> lf_decodeBglIdent(std::uint32_t PACKED, unsigned SHIFT = 5);
// A decoded ident accepted as an airport: four characters known to the airports database. An
// unknown four-character code gets a scan-log line naming PATH.
std::pair<std::string, bool> lf_checkIcao(std::string TEXT, const std::filesystem::path& PATH = {});

// An airport record that the survey accepted.
struct BglAirport {
    std::size_t p = 0;         // word position of the record
    std::size_t s = 0;         // its size in words
    std::size_t firstSub = 0;  // word offset of its first subrecord from P
    IcaoCode code;
};

// What the survey of one file found.
struct BglSurvey {
    std::vector<BglAirport> airports;  // accepted records in file order, each code once
    std::string refusal;               // why nothing of the file may be taken; empty when sound
    std::optional<IcaoCode> code;      // the known code of the first airport record met
    std::size_t records = 0;           // airport records met, accepted or not
    std::string leftOut;               // why the first airport record left out was left out
};

// Walks the airport sections of a file, each record position once, and checks every airport
// record whose ident is accepted. PATH names the file in the scan-log lines. Ends early when a
// stop flag is set.
BglSurvey lf_surveyBgl(const BglView& WORDS, BglBudget& BUDGET, const std::filesystem::path& PATH);

// A new record holding the altitude of the airport record at P, in feet (0 above 10000 ft).
AirportFile lf_airportFileFromBgl(std::size_t P, const BglView& WORDS);

// What the reading of one airport's stands gave.
struct BglStandsRead {
    int helipads = 0;
    // The parking entries of a kept type: those of its parking subrecord, or, when it has none
    // (its id damaged), those of a subrecord laid out as a parking list.
    std::size_t parkingRecords = 0;
    std::size_t parkings = 0;  // the stands made of them
    // Far fewer stands than parking records (fewer than half): a record damaged in a way that
    // its layout does not show, whose stands are not to be believed.
    bool fallsFarShort() const { return parkings * 2 < parkingRecords; }
};
// Reads the helipads and the first parking subrecord of a surveyed airport into RECORD's stands.
BglStandsRead lf_readBglStands(const BglAirport& AIRPORT, const BglView& WORDS, AirportFile& RECORD,
                               const std::filesystem::path& PATH);

// Helipad positions of one airport, for the test of a second helipad at the same place.
using HelipadPositions = std::multimap<double, double>;  // latitude -> longitude
// The helipad subrecord at Q; COUNTER numbers the helipads made so far (from 1). PATH names the
// file in the scan-log lines.
void lf_readBglHelipad(std::size_t Q, const BglView& WORDS, AirportFile& RECORD, HelipadPositions& HELIPADS,
                       int& COUNTER, const std::filesystem::path& PATH = {});
// The parking subrecord at Q.
void lf_readBglParkings(std::size_t Q, const BglView& WORDS, AirportFile& RECORD, std::set<std::string>& NAMES,
                        const std::filesystem::path& PATH);
// NAME made unique among NAMES with "a" to "j": (name, ok); not ok after ten repeats.
std::pair<std::string, bool> lf_uniqueStandName(const std::string& NAME, std::set<std::string>& NAMES,
                                                const std::filesystem::path& PATH);

// What the reader of one file leaves for the walk: whether an airport of it was linked or
// generated, and else why not (BglNote, AirportScan.h).
struct BglResult {
    std::filesystem::path path;
    bool handled = false;
    std::optional<BglNote> note;
};

// The task body for one BGL file, as part of the folder walk WALK (none: on its own). Every
// failure is logged with the file and left as a note for the second pass; nothing is thrown.
void lf_processBGLfile(const std::filesystem::path& PATH, const BglWalkState* WALK = nullptr);

// Registers a reader's result in g_allBglFiles, g_handledBglFiles and g_bglNotes.
void lf_registerBglResult(BglResult RESULT);
// Appends a BGL file in which an airport was linked or generated to g_handledBglFiles, under its
// mutex.
void lf_addHandledBgl(std::filesystem::path PATH);

} // namespace qmt
