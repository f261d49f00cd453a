#include "liveries/ScannedLivery.h"

#include <algorithm>
#include <sstream>
#include <unordered_map>
#include <string_view>
#include <tuple>
#include <vector>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/FileCommit.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/UserError.h"
#include "core/XmlMeta.h"

namespace qmt {

std::list<ScannedLivery> g_scannedLiveries;

bool lf_isIncompleteLivery(const ScannedLivery& LIVERY)
{
    return LIVERY.kind.airlineId == 0 || LIVERY.kind.modelId == 0;
}

namespace {

// The code texts that order a record; fetched once per record for a sort.
// Interned code texts never move, so the key holds references to them.
struct LiveryOrderKey {
    const std::string* airline;
    const std::string* operatorCode;
    const std::string* model;
    const std::string* title;

    explicit LiveryOrderKey(const ScannedLivery& L)
        : airline(&gf_airlineCode(L.kind.airlineId)), operatorCode(&gf_airlineCode(L.kind.operatorId)),
          model(&gf_modelCode(L.kind.modelId)), title(&L.title)
    {
    }
    bool operator<(const LiveryOrderKey& OTHER) const
    {
        return std::tie(*airline, *operatorCode, *model, *title) <
               std::tie(*OTHER.airline, *OTHER.operatorCode, *OTHER.model, *OTHER.title);
    }
};

} // namespace

bool lf_liveryLess(const ScannedLivery& A, const ScannedLivery& B)
{
    return LiveryOrderKey(A) < LiveryOrderKey(B);
}

bool lf_sameLivery(const ScannedLivery& A, const ScannedLivery& B)
{
    return A.title == B.title && A.kind.airlineId == B.kind.airlineId &&
           A.kind.operatorId == B.kind.operatorId && A.kind.modelId == B.kind.modelId &&
           A.regcode == B.regcode;
}

namespace {

using LiveryOrder = std::vector<std::pair<std::uint64_t, std::list<ScannedLivery>::iterator>>;

// The place of each code in the order of the code texts, indexed by its id: ids are small
// numbers handed out in turn.
std::vector<std::uint64_t> lf_codePlaces(std::vector<std::uint16_t>& IDS, const std::string& (*TEXT)(std::uint16_t))
{
    std::sort(IDS.begin(), IDS.end());
    std::stable_sort(IDS.begin(), IDS.end(), [TEXT](std::uint16_t A, std::uint16_t B) { return TEXT(A) < TEXT(B); });
    std::vector<std::uint64_t> place(IDS.empty() ? 0 : std::size_t{*std::max_element(IDS.begin(), IDS.end())} + 1);
    std::uint64_t current = 0;
    for (std::size_t i = 0; i < IDS.size(); ++i) {
        if (i > 0 && TEXT(IDS[i]) != TEXT(IDS[i - 1]))
            current = i;
        place[IDS[i]] = current;
    }
    return place;
}

// The liveries of g_scannedLiveries in their sorted order. Sorting the list with a comparator
// that looks every code up again would take the interning lock millions of times for a large
// scan, and comparing the code texts of every pair costs as much: the texts of the few codes in
// use are put in order once, and each livery is sorted by the places of its codes in that
// order, then by its title. The list is walked once: its nodes lie all over the memory.
LiveryOrder lf_sortedOrder()
{
    std::vector<std::uint16_t> airlines;
    std::vector<std::uint16_t> models;
    std::vector<bool> airlineMet(std::size_t{1} << 16);
    std::vector<bool> modelMet(std::size_t{1} << 16);
    const auto meet = [](std::uint16_t ID, std::vector<bool>& MET, std::vector<std::uint16_t>& IDS) {
        if (!MET[ID]) {
            MET[ID] = true;
            IDS.push_back(ID);
        }
    };
    LiveryOrder order;
    order.reserve(g_scannedLiveries.size());
    for (auto it = g_scannedLiveries.begin(); it != g_scannedLiveries.end(); ++it) {
        const AcKind& kind = it->kind;
        meet(kind.airlineId, airlineMet, airlines);
        meet(kind.operatorId, airlineMet, airlines);
        meet(kind.modelId, modelMet, models);
        order.emplace_back(std::uint64_t{kind.airlineId} << 32 | std::uint64_t{kind.operatorId} << 16 | kind.modelId, it);
    }
    const std::vector<std::uint64_t> airlinePlace = lf_codePlaces(airlines, gf_airlineCode);
    const std::vector<std::uint64_t> modelPlace = lf_codePlaces(models, gf_modelCode);
    for (auto& [key, it] : order)
        key = airlinePlace[key >> 32] << 40 | airlinePlace[key >> 16 & 0xFFFF] << 20 | modelPlace[key & 0xFFFF];
    std::stable_sort(order.begin(), order.end(), [](const auto& A, const auto& B) {
        return A.first != B.first ? A.first < B.first : A.second->title < B.second->title;
    });
    return order;
}

// Puts g_scannedLiveries in the sorted order; DEDUP keeps the first of each run of neighbours
// that are the same livery.
void lf_sortScannedLiveries(bool DEDUP)
{
    const LiveryOrder order = lf_sortedOrder();
    std::list<ScannedLivery> sorted;
    for (const auto& [key, it] : order) {
        if (DEDUP && !sorted.empty() && lf_sameLivery(sorted.back(), *it))
            continue; // freed with the rest of the old list
        sorted.splice(sorted.end(), g_scannedLiveries, it);
    }
    g_scannedLiveries.swap(sorted);
}

} // namespace

void gf_sortScannedLiveries()
{
    lf_sortScannedLiveries(false);
}

void gf_sortAndDedupScannedLiveries()
{
    lf_sortScannedLiveries(true);
}

std::filesystem::path gf_liveriesScannedPath()
{
    return g_outputPath / kLiveriesScannedFile;
}

namespace {

// An attribute value as the XML writer escapes it: '&', '<', '"' and control characters.
void lf_appendAttribute(std::string& OUT, std::string_view NAME, std::string_view VALUE)
{
    OUT += ' ';
    OUT += NAME;
    OUT += "=\"";
    for (const char c : VALUE) {
        switch (c) {
        case '&': OUT += "&amp;"; break;
        case '<': OUT += "&lt;"; break;
        case '"': OUT += "&quot;"; break;
        default:
            if (static_cast<unsigned char>(c) < 32) {
                OUT += "&#";
                OUT += static_cast<char>('0' + c / 10);
                OUT += static_cast<char>('0' + c % 10);
                OUT += ';';
            } else {
                OUT += c;
            }
        }
    }
    OUT += '"';
}

// The file's head, as the XML writer gives it for the root and its meta block, without the
// root's end tag; empty when the document cannot be made.
std::string lf_liveriesFileHead()
{
    pugi::xml_document doc;
    if (!gf_writeXmlMeta(doc, gf_programVersionText()) || !doc.child("root"))
        return {};
    pugi::xml_node decl = doc.prepend_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    std::string head = out.str();
    constexpr std::string_view kRootEnd = "</root>\n";
    if (!head.ends_with(kRootEnd))
        return {};
    head.resize(head.size() - kRootEnd.size());
    return head;
}

} // namespace

bool lf_writeLiveriesScanned(std::string& FAILURE)
{
    FAILURE.clear();
    if (g_scannedLiveries.empty()) {
        return true;
    }
    // The liveries are written as text, in the layout the XML writer gives them: a document
    // of tens of thousands of nodes would be built only to be written once.
    std::string text = lf_liveriesFileHead();
    if (text.empty()) {
        FAILURE = "the file's head could not be made";
        return false;
    }
    text.reserve(text.size() + g_scannedLiveries.size() * 80);
    text += "  <liveries>\n";
    for (const ScannedLivery& L : g_scannedLiveries) {
        text += "    <l";
        lf_appendAttribute(text, "a", gf_airlineCode(L.kind.airlineId));
        if (L.kind.operatorId != 0) {
            lf_appendAttribute(text, "o", gf_airlineCode(L.kind.operatorId));
        }
        lf_appendAttribute(text, "m", gf_modelCode(L.kind.modelId));
        if (L.kind.cargo != 0) {
            lf_appendAttribute(text, "c", "true");
        }
        lf_appendAttribute(text, "t", L.title);
        if (!L.regcode.empty()) {
            lf_appendAttribute(text, "r", L.regcode);
        }
        text += " />\n";
    }
    text += "  </liveries>\n</root>\n";
    const std::filesystem::path path = gf_liveriesScannedPath();
    // The scan's result is all that carries the liveries to the next start: it is on the disk
    // before it takes the file's place, and a save that fails leaves no cut file behind.
    if (!gf_commitFile(text, path, CommitOptions{0, true}, FAILURE)) {
        return false;
    }
    gf_logLine("{} liveries in {}", g_scannedLiveries.size(), path.string());
    return true;
}

void lf_readLiveriesScanned()
{
    g_scannedLiveries.clear();
    const std::filesystem::path path = gf_liveriesScannedPath();
    const std::string pathText = path.string();

    pugi::xml_document doc;
    if (!doc.load_file(path.c_str())) {
        throw UserErrorException(51, fmt::format("File {} not found", pathText));
    }
    gf_readXmlMeta(doc); // the livery file does not depend on its meta block

    std::list<ScannedLivery> read;
    if (pugi::xml_node root = doc.child("root")) {
        pugi::xml_node liveries = root.child("liveries");
        if (!liveries) {
            throw UserErrorException(52, fmt::format("{} does not contain a <liveries> section", pathText));
        }
        for (pugi::xml_node l : liveries.children()) {
            if (l.type() != pugi::node_element) {
                continue;
            }
            for (const char* required : {"a", "m", "t"}) {
                if (!l.attribute(required)) {
                    throw UserErrorException(
                        999, fmt::format("Missing required attribute '{}' in <{}>", required, l.name()));
                }
            }
            const std::string_view title = l.attribute("t").value();
            if (title.empty()) {
                // A hand-edited file: a livery without a title cannot be created by the simulator.
                gf_logWarning("livery without title dropped: <{} a=\"{}\" m=\"{}\"> in {}", l.name(),
                              l.attribute("a").value(), l.attribute("m").value(), pathText);
                continue;
            }
            ScannedLivery& L = read.emplace_back();
            L.kind.airlineId = gf_airlineId(l.attribute("a").value());
            L.kind.operatorId = gf_airlineId(l.attribute("o").value());
            L.kind.modelId = gf_modelId(l.attribute("m").value());
            L.kind.cargo = l.attribute("c").as_bool(false) ? 1 : 0;
            L.kind.marker = 0;
            L.title = title;
            L.regcode = l.attribute("r").value();
            L.folderRank = 0;
        }
    }
    if (read.empty()) {
        throw UserErrorException(533, pathText + " does not contain liveries");
    }
    g_scannedLiveries.swap(read);
    gf_sortScannedLiveries();
    gf_logLine("{:5} liveries read from {}", g_scannedLiveries.size(), pathText);
}

void gf_resetScannedLiveriesForTests()
{
    g_scannedLiveries.clear();
}

} // namespace qmt
