#pragma once
// The airports database: ICAO and IATA codes, position, altitude and stand count of the
// airports the program knows, read from the reference data at start-up; read-only after that.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/Geo.h"

namespace qmt {

// A code of exactly N characters 'A'-'Z' or '0'-'9', without terminator. Building one from
// text folds lower case and throws std::invalid_argument
// "FixedCode: invalid string (length/charset)" for any other length or character.
// A default-constructed code is empty (all zero bytes).
template <std::size_t N>
class FixedCode {
public:
    constexpr FixedCode() = default;
    explicit FixedCode(std::string_view text)
    {
        if (text.size() != N) throw std::invalid_argument("FixedCode: invalid string (length/charset)");
        for (std::size_t i = 0; i < N; ++i) {
            char c = text[i];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
                throw std::invalid_argument("FixedCode: invalid string (length/charset)");
            m_chars[i] = c;
        }
    }
    // The code when the text is a valid code, else nothing.
    static std::optional<FixedCode> tryParse(std::string_view text)
    {
        try {
            return FixedCode(text);
        } catch (const std::invalid_argument&) {
            return std::nullopt;
        }
    }
    constexpr bool empty() const { return m_chars[0] == 0; }
    std::string_view view() const { return empty() ? std::string_view() : std::string_view(m_chars.data(), N); }
    std::string str() const { return std::string(view()); }
    auto operator<=>(const FixedCode&) const = default;
    bool operator==(const FixedCode&) const = default;

private:
    std::array<char, N> m_chars{};
};

using IcaoCode = FixedCode<4>;
using IataCode = FixedCode<3>;

// Airports lie between the shores of the Dead Sea and some 14,500 ft: an altitude outside
// these bounds is a broken entry.
inline constexpr int kLowestAirportFt = -2000;
inline constexpr int kHighestAirportFt = 20000;

struct AirportEntry {
    IcaoCode icao;
    IataCode iata;              // empty when the airport has none
    double latitude = 0.0;      // degrees
    double longitude = 0.0;     // degrees
    std::int32_t altitude = 0;  // feet
    std::uint32_t stands = 0;   // number of stands
    bool minor = false;         // a small airfield, heliport or seaplane base
};

// The airports database, sorted by ICAO code. Read-only: it changes only through
// gf_setAirports, which also rebuilds the position index that gf_nearestAirport searches.
extern const std::vector<AirportEntry>& g_airports;

// Reads a plain airports XML file into g_airports; false with a log line on failure.
bool gf_readAirports(const std::filesystem::path& xmlPath);
// The same with the airports list parsed in pieces of about pieceBytes (tests cut it small).
bool gf_readAirportsInPieces(const std::filesystem::path& xmlPath, std::size_t pieceBytes);
// Makes the list the airports database: sorted by ICAO code, the first of two entries
// with one code kept, and indexed by position.
void gf_setAirports(std::vector<AirportEntry> airports);
void gf_clearAirports();

// The nearest airport within 5 nm of the position (a tie goes to the later code). A minor
// airport counts only where no other lies within 5 nm: the heliports and strips around a large
// airport lie nearer to many of its stands than its own reference point.
std::optional<IcaoCode> gf_nearestAirport(LatLon position);
// "EHAM (AMS)", or the ICAO code alone when the airport has no IATA code or is unknown.
std::string gf_airportCodeText(IcaoCode code);
std::string gf_airportCodeText(std::string_view code);
bool gf_isKnownAirport(IcaoCode code);
bool gf_isKnownAirport(std::string_view code);
// The airport whose code equals the first four characters of the text, upper-cased.
std::optional<AirportEntry> gf_airportByCode(std::string_view text);
// The first airport (stored order) whose code framed by '-' ("-EHAM-") occurs in the path,
// compared without regard to case.
std::optional<AirportEntry> gf_airportInPath(const std::filesystem::path& path);

} // namespace qmt
