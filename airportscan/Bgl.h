#pragma once
// Reader of compiled scenery (BGL) files: finds a file's airport records and reads each airport's
// ICAO code, altitude, helipads and parkings into an AirportFile. A BGL file is outside input:
// every word is read with a bounds check, the size of a file that is read is capped, and the
// work on one file is capped by a step budget.

#include "core/Airports.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace qmt {

struct AirportFile;

// A file as 32-bit little-endian words; positions in a file are word indices.
using BglWords = std::vector<std::uint32_t>;

// Largest BGL file that is read (bytes); a larger one is skipped with a scan-log line.
inline constexpr std::uintmax_t BGL_MAX_BYTES = 128ull << 20;
// Steps that one file may take: records and subrecords walked, parking entries read and helipad
// comparisons. Real airport files need a few thousand; a forged section table could otherwise
// make one file walk the same records for minutes.
inline constexpr std::uint64_t BGL_STEP_BUDGET = 4'000'000;

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

// Whether the file has a section table that fits and holds an airport section (type 3); false
// for a file that cannot be opened or is too short.
bool lf_bglHasAirportSection(const std::filesystem::path& PATH);

// The rest of the stream as words; one to three trailing bytes form a last word in its low bytes.
BglWords lf_readBglWords(std::istream& IN);

// The base-38 ident of an airport record: (text, valid).
std::pair<std::string, bool> lf_decodeBglIdent(std::uint32_t PACKED);
// A decoded ident accepted as an airport: four characters known to the airports database.
std::pair<std::string, bool> lf_checkIcao(std::string TEXT);

// Walks the airport sections of a file and calls ON_AIRPORT (record position, record size in
// words, code) for each airport record whose ident is accepted. Ends early when the budget runs
// out or a stop flag is set.
using BglAirportVisitor = std::function<void(std::size_t P, std::size_t S, IcaoCode CODE)>;
void lf_walkBglAirports(const BglWords& WORDS, BglBudget& BUDGET, const BglAirportVisitor& ON_AIRPORT);

// A new record holding the altitude of the airport record at P, in feet (0 above 10000 ft).
AirportFile lf_airportFileFromBgl(std::size_t P, const BglWords& WORDS);

// Reads the helipads and parkings of the airport record at P (S words) into RECORD's stands;
// answers the number of helipads read.
int lf_readBglStands(std::size_t P, const BglWords& WORDS, std::size_t S, AirportFile& RECORD,
                     const std::filesystem::path& PATH, BglBudget& BUDGET);

// The helipad subrecord at Q; COUNTER numbers the helipads made so far (from 1).
void lf_readBglHelipad(std::size_t Q, const BglWords& WORDS, AirportFile& RECORD, std::vector<LatLon>& HELIPADS,
                       int& COUNTER, BglBudget& BUDGET);
// The parking subrecord at Q.
void lf_readBglParkings(std::size_t Q, const BglWords& WORDS, AirportFile& RECORD, std::set<std::string>& NAMES,
                        const std::filesystem::path& PATH, BglBudget& BUDGET);
// NAME made unique among NAMES with "a" to "j": (name, ok); not ok after ten repeats.
std::pair<std::string, bool> lf_uniqueStandName(const std::string& NAME, std::set<std::string>& NAMES,
                                                const std::filesystem::path& PATH);

// One accepted airport record: linked to the archive or generated from its stands.
void lf_processBglAirport(std::size_t P, const BglWords& WORDS, std::size_t S, IcaoCode CODE,
                          const std::filesystem::path& PATH, BglBudget& BUDGET);
void lf_addHandledBgl(const std::filesystem::path& PATH);

// The task body for one BGL file. An exception is logged and passed on to the task's future.
void lf_processBGLfile(const std::filesystem::path& PATH);

} // namespace qmt
