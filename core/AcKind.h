#pragma once
// The kind of an aircraft (airline, operator, model, cargo and marker flags) and the interned
// airline and model code lists whose ids it holds.

#include <atomic>
#include <cstdint>
#include <deque>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qmt {

// Eight bytes; airline or operator id 0 is the empty code and means none. Marker 0 marks a
// kind that is not completed yet. A registration record's 64-bit value holds one whole.
struct AcKind {
    std::uint16_t airlineId = 0;
    std::uint16_t operatorId = 0;
    std::uint16_t modelId = 0;
    std::uint8_t cargo = 0;
    std::uint8_t marker = 0;

    bool operator==(const AcKind&) const = default;
};
static_assert(sizeof(AcKind) == 8);

// The 64-bit value of a kind and back: airline in the low 16 bits, then operator, model,
// cargo and marker.
std::uint64_t gf_kindValue(const AcKind& kind);
AcKind gf_kindFromValue(std::uint64_t value);

enum class AcCategory : std::uint32_t { Light = 0, Buzjets = 1, Large = 2, Heavy = 3, HighPerf = 4, Rotorcraft = 5 };
inline constexpr std::uint32_t kAcCategoryCount = 6;
// The category ids as the records hold them.
inline constexpr std::uint32_t kAcCategoryLight = static_cast<std::uint32_t>(AcCategory::Light);
inline constexpr std::uint32_t kAcCategoryRotorcraft = static_cast<std::uint32_t>(AcCategory::Rotorcraft);

// An interned code list: id -> code text, code text -> id. Safe for concurrent readers and
// writers: a shared mutex guards the list and the index, and the texts live in a deque so
// that a reference to an interned text stays valid while others are appended.
class InternedCodes {
public:
    // The id of the text, appending it when new; never fails (0, with a warning, when the
    // 16-bit id space is full).
    std::uint16_t intern(std::string_view code);
    // The id of the text when it is interned already.
    bool find(std::string_view code, std::uint16_t& id) const;
    // The text of an id; an id beyond the list reads as the empty text.
    const std::string& text(std::uint16_t id) const;
    std::size_t size() const;
    // Empties the list and interns the empty code as id 0.
    void clear();

private:
    struct Fnv1a {
        std::size_t operator()(std::string_view s) const noexcept;
    };
    mutable std::shared_mutex m_mutex; // guards m_texts and m_index
    std::deque<std::string> m_texts;   // element addresses never change on push_back
    std::unordered_map<std::string_view, std::uint16_t, Fnv1a> m_index; // views into m_texts
};

extern InternedCodes g_airlineIds; // airline (and airline+operator) codes
extern InternedCodes g_modelIds;   // ICAO model codes

// Interns an airline code ("ZZZ": no airline, "PVT": private).
std::uint16_t gf_airlineId(std::string_view code);
// Interns a model code; with model fixes on, an unknown code is first replaced by its fix.
std::uint16_t gf_modelId(std::string_view code);
// Id to code text (empty for id 0 and ids beyond the list).
const std::string& gf_airlineCode(std::uint16_t id);
const std::string& gf_modelCode(std::uint16_t id);

// Whether gf_modelId applies the model fixes (set while the livery file is read).
extern std::atomic<bool> g_modelFixesOn;

// Empties both lists, interns the empty code first, then "ZZZ" and "PVT".
void gf_resetInternedCodes();

} // namespace qmt
