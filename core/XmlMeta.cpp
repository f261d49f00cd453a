#include "core/XmlMeta.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <string>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "core/Clock.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/Text.h"

#ifndef QUILLON_VERSION_MAJOR
#error "QUILLON_VERSION_MAJOR/MINOR/PATCH come from the build"
#endif

namespace qmt {
namespace {

std::optional<std::int32_t> lf_number(std::string_view t)
{
    std::int32_t v = 0;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || ptr != t.data() + t.size() || v < 0) return std::nullopt;
    return v;
}

std::string lf_infoValue(const pugi::xml_node& meta, std::string_view name)
{
    for (auto info : meta.children("info"))
        if (name == info.attribute("name").as_string()) return info.attribute("value").as_string();
    return {};
}

bool lf_hasInfo(const pugi::xml_node& meta, std::string_view name)
{
    for (auto info : meta.children("info"))
        if (name == info.attribute("name").as_string()) return true;
    return false;
}

pugi::xml_node lf_parameterNode(const pugi::xml_document& doc, std::string_view name)
{
    for (auto p : doc.child("root").child("parameters").children("parameter"))
        if (name == p.attribute("name").as_string()) return p;
    return {};
}

} // namespace

std::optional<VersionData> VersionData::fromText(std::string_view text)
{
    const auto d1 = text.find('.');
    if (d1 == std::string_view::npos) return std::nullopt;
    const auto d2 = text.find('.', d1 + 1);
    if (d2 == std::string_view::npos) return std::nullopt;
    const auto a = lf_number(text.substr(0, d1));
    const auto b = lf_number(text.substr(d1 + 1, d2 - d1 - 1));
    const auto c = lf_number(text.substr(d2 + 1));
    if (!a || !b || !c) return std::nullopt;
    return VersionData{*a, *b, *c};
}

std::optional<VersionData> VersionData::fromJson(const nlohmann::json& json)
{
    try {
        if (!json.is_object()) return std::nullopt;
        for (const char* key : {"major", "minor", "patch"})
            if (!json.contains(key) || !json.at(key).is_number_integer()) return std::nullopt;
        VersionData v{json.at("major").get<std::int32_t>(), json.at("minor").get<std::int32_t>(),
                      json.at("patch").get<std::int32_t>()};
        return v;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::string VersionData::text() const { return fmt::format("{}.{}.{}", major, minor, patch); }

VersionData gf_programVersion() { return VersionData{QUILLON_VERSION_MAJOR, QUILLON_VERSION_MINOR, QUILLON_VERSION_PATCH}; }

std::string gf_programVersionText() { return gf_programVersion().text(); }

XmlMetaEntries gf_xmlMetaEntries(std::string_view versionText, std::optional<int> sim)
{
    return {{{"author", std::string(kProgramAuthor)},
             {"version", std::string(versionText)},
             {"date", gf_timeText(gf_nowSeconds())},
             {"sim", sim ? fmt::format("{}", *sim) : std::string()},
             {"copyright", std::string(kProgramCopyright)}}};
}

bool gf_writeXmlMeta(pugi::xml_document& doc, std::string_view versionText, std::optional<int> sim)
{
    if (doc.child("root")) return false;
    auto root = doc.append_child("root");
    auto meta = root.append_child("meta");
    if (!meta) return false;
    for (const auto& [name, value] : gf_xmlMetaEntries(versionText, sim)) {
        auto info = meta.append_child("info");
        if (!info) return false;
        info.append_attribute("name") = std::string(name).c_str();
        info.append_attribute("value") = value.c_str();
    }
    return true;
}

XmlMetaResult gf_readXmlMeta(const pugi::xml_document& doc, int mode)
{
    XmlMetaResult r;
    const auto meta = doc.child("root").child("meta");
    if (!meta) {
        r.reason = "no meta block";
        return r;
    }
    r.version = lf_infoValue(meta, "version");
    r.sim = lf_infoValue(meta, "sim");
    if (!lf_hasInfo(meta, "author") || lf_infoValue(meta, "author") != kProgramAuthor) {
        r.reason = "unknown author";
        return r;
    }
    const auto v = VersionData::fromText(r.version);
    if (!v) {
        r.reason = fmt::format("unreadable version '{}'", r.version);
        return r;
    }
    if (mode == 1 && *v > gf_programVersion()) {
        r.reason = fmt::format("version {} is newer than {}", r.version, gf_programVersionText());
        return r;
    }
    r.accepted = true;
    return r;
}

bool gf_loadOwnXml(pugi::xml_document& doc, const std::filesystem::path& path)
{
    const auto res = doc.load_file(path.c_str());
    if (!res) {
        gf_logWarning("could not load {}: {}", gf_utf16ToUtf8(path), res.description());
        return false;
    }
    const auto meta = gf_readXmlMeta(doc, 0);
    if (!meta.accepted) {
        gf_logWarning("{} refused: {}", gf_utf16ToUtf8(path), meta.reason);
        return false;
    }
    return true;
}

namespace {

void lf_visitElements(const pugi::xml_node& PARENT, const XmlListReader& READER)
{
    for (const pugi::xml_node& child : PARENT.children())
        if (child.type() == pugi::node_element)
            READER.child(child);
}

// The list read a piece at a time from the file's TEXT; false, with nothing
// logged, when the file does not allow it: the whole read then decides and says why.
bool lf_readListInPieces(const std::string& TEXT, const char* LIST, const XmlListReader& READER, std::size_t PIECE_BYTES)
{
    // The parser takes a NUL byte for the end of its text: where one stands decides what a
    // whole read gives, which the pieces would not give alike.
    if (TEXT.find('\0') != std::string::npos)
        return false;
    const std::string openTag = fmt::format("<{}>", LIST);
    const std::string closeTag = fmt::format("</{}>", LIST);
    const std::size_t openAt = TEXT.find(openTag);
    if (openAt == std::string::npos)
        return false;
    const std::size_t bodyAt = openAt + openTag.size();
    const std::size_t closeAt = TEXT.find(closeTag, bodyAt);
    if (closeAt == std::string::npos)
        return false;

    // The document without the list's children: its meta, and where its list stands.
    {
        std::string head;
        head.reserve(bodyAt + (TEXT.size() - closeAt));
        head.append(TEXT, 0, bodyAt).append(TEXT, closeAt);
        pugi::xml_document doc;
        const pugi::xml_parse_result parsed = doc.load_buffer(head.data(), head.size());
        if (!parsed || parsed.encoding != pugi::encoding_utf8 || !gf_readXmlMeta(doc, 0).accepted)
            return false;
        // The list cut out must be the one the whole tree gives: root's first LIST.
        const pugi::xml_node list = doc.child("root").child(LIST);
        if (!list || list.offset_debug() != static_cast<std::ptrdiff_t>(openAt + 1))
            return false;
    }

    READER.begin();
    pugi::xml_document piece;
    for (std::size_t at = bodyAt; at < closeAt;) {
        // Cut after a '>': a cut anywhere else than between two children leaves a piece that
        // does not parse whole.
        std::size_t end = closeAt;
        if (closeAt - at > PIECE_BYTES) {
            const std::size_t tagEnd = TEXT.find('>', at + std::max<std::size_t>(PIECE_BYTES, 1) - 1);
            if (tagEnd < closeAt)
                end = tagEnd + 1;
        }
        // Copied, not parsed in place: parsing in place takes the last byte of the piece for
        // its end mark and so lets a piece that ends in "<>" pass.
        if (!piece.load_buffer(TEXT.data() + at, end - at, pugi::parse_default | pugi::parse_fragment,
                               pugi::encoding_utf8))
            return false;
        lf_visitElements(piece, READER);
        at = end;
    }
    return true;
}

} // namespace

bool gf_loadOwnXmlList(const std::filesystem::path& PATH, const char* LIST, const XmlListReader& READER,
                       std::size_t PIECE_BYTES)
{
    {
        std::string text;
        if (gf_readFileBytes(PATH, text) && lf_readListInPieces(text, LIST, READER, PIECE_BYTES))
            return true;
    }
    pugi::xml_document doc;
    if (!gf_loadOwnXml(doc, PATH))
        return false;
    READER.begin();
    lf_visitElements(doc.child("root").child(LIST), READER);
    return true;
}

bool gf_saveXmlWithDeclaration(pugi::xml_document& doc, const std::filesystem::path& path)
{
    if (doc.first_child().type() != pugi::node_declaration) {
        auto decl = doc.prepend_child(pugi::node_declaration);
        decl.append_attribute("version") = "1.0";
        decl.append_attribute("encoding") = "UTF-8";
    }
    return doc.save_file(path.c_str(), "  ", pugi::format_default, pugi::encoding_utf8);
}

NumberRead<int> gf_findParameter(const pugi::xml_document& doc, std::string_view name)
{
    const auto p = lf_parameterNode(doc, name);
    if (!p || !p.attribute("value")) return {};
    return gf_readNumber<int>(name, p.attribute("value").as_string());
}

std::optional<int> gf_takeIntParameter(const pugi::xml_document& doc, std::string_view name, std::string_view where)
{
    const NumberRead<int> read = gf_findParameter(doc, name);
    if (!read.error.empty()) gf_logWarning("{}: {}, not taken", where, read.error);
    return read.value;
}

std::optional<std::string> gf_stringParameterByName(const pugi::xml_document& doc, std::string_view name)
{
    const auto p = lf_parameterNode(doc, name);
    if (!p || !p.attribute("value")) return std::nullopt;
    return std::string(p.attribute("value").as_string());
}

std::optional<bool> gf_boolParameterByName(const pugi::xml_document& doc, std::string_view name)
{
    const auto p = lf_parameterNode(doc, name);
    if (!p || !p.attribute("value")) return std::nullopt;
    return p.attribute("value").as_bool();
}

} // namespace qmt
