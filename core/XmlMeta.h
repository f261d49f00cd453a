#pragma once
// The meta block shared by the program's XML files (root/meta/info with "name" and "value":
// author, version, date, sim, copyright), the program version and the parameter readers of
// XML files with a root/parameters block.

#include <array>
#include <compare>
#include <cstdint>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <nlohmann/json_fwd.hpp>
#include <pugixml.hpp>

#include "core/Text.h"

namespace qmt {

inline constexpr std::string_view kProgramName = "Quillon";
inline constexpr std::string_view kProgramAuthor = "Quillon";
inline constexpr std::string_view kProgramCopyright = "Quillon reference data; all rights reserved";

struct VersionData {
    std::int32_t major = 0;
    std::int32_t minor = 0;
    std::int32_t patch = 0;

    // From "a.b.c" (three numbers, nothing else).
    static std::optional<VersionData> fromText(std::string_view text);
    // From {"major": a, "minor": b, "patch": c}.
    static std::optional<VersionData> fromJson(const nlohmann::json& json);
    // "{}.{}.{}".
    std::string text() const;
    auto operator<=>(const VersionData&) const = default;
};

// The program's own version (from the build's project version).
VersionData gf_programVersion();
std::string gf_programVersionText();

// The info entries of the meta block, (name, value) in the order they are written: author,
// version, date, sim (the simulator number, or empty) and copyright.
using XmlMetaEntries = std::array<std::pair<std::string_view, std::string>, 5>;
XmlMetaEntries gf_xmlMetaEntries(std::string_view versionText, std::optional<int> sim = std::nullopt);

// Appends to an empty document the element "root" with root/meta and its info entries author,
// version, date, sim (the simulator number, or empty) and copyright. False when the document
// already has a root or the block cannot be made.
bool gf_writeXmlMeta(pugi::xml_document& doc, std::string_view versionText, std::optional<int> sim = std::nullopt);

// Result of reading a meta block.
struct XmlMetaResult {
    bool accepted = false;
    std::string version; // the file's version text ("" when absent)
    std::string sim;     // the file's sim entry ("" when absent)
    std::string reason;  // why it was refused
};
// Mode 0: the block must exist with the program's author and a readable version.
// Mode 1: the same, and the version must not be newer than the program's.
XmlMetaResult gf_readXmlMeta(const pugi::xml_document& doc, int mode = 0);

// Declaration (version "1.0", encoding "UTF-8") in front, then saved; false on failure.
// Loads one of the program's own XML files and tests its meta block (mode 0); logs why and
// answers false when the file cannot be loaded or its block is refused.
bool gf_loadOwnXml(pugi::xml_document& doc, const std::filesystem::path& path);

// One of the program's own XML files that is mostly one long list (root/LIST), read as
// gf_loadOwnXml reads it, without its whole tree in memory at once: the tree of the airports
// list takes four times the file's size, more than the program holds at any other time.
struct XmlListReader {
    // Called before the first child, and again should the file have to be read a second time.
    std::function<void()> begin;
    // Each element of the list, in document order.
    std::function<void(const pugi::xml_node& CHILD)> child;
};
inline constexpr std::size_t kXmlListPieceBytes = std::size_t{256} << 10;
// The list is parsed a piece of about PIECE_BYTES at a time, each piece cut where a child ends.
// A file whose list cannot be cut so (a piece that does not parse whole, a list start tag with
// attributes, another encoding than UTF-8 ...) is read again as one tree: every file gives the
// elements the whole tree would. False (logged) as gf_loadOwnXml.
bool gf_loadOwnXmlList(const std::filesystem::path& PATH, const char* LIST, const XmlListReader& READER,
                       std::size_t PIECE_BYTES = kXmlListPieceBytes);

bool gf_saveXmlWithDeclaration(pugi::xml_document& doc, const std::filesystem::path& path);

// root/parameters/parameter with that name: its int value, read whole. Neither value nor error
// when the parameter is absent; an error naming it when its value is no int.
NumberRead<int> gf_findParameter(const pugi::xml_document& doc, std::string_view name);
// The same for a parameter whose refused value is left out: the refusal is logged as the warning
// "WHERE: <error>, not taken".
std::optional<int> gf_takeIntParameter(const pugi::xml_document& doc, std::string_view name, std::string_view where);
// Attribute NAME of NODE read whole as a number (gf_readNumber): FALLBACK when it is absent.
template <typename T>
NumberRead<T> gf_attributeNumber(const pugi::xml_node& NODE, const char* NAME, T FALLBACK)
{
    const pugi::xml_attribute attribute = NODE.attribute(NAME);
    if (!attribute) return NumberRead<T>{FALLBACK, {}};
    return gf_readNumber<T>(NAME, attribute.value());
}
std::optional<std::string> gf_stringParameterByName(const pugi::xml_document& doc, std::string_view name);
std::optional<bool> gf_boolParameterByName(const pugi::xml_document& doc, std::string_view name);

} // namespace qmt
