#include "liveries/ScannedLivery.h"

#include <algorithm>
#include <string_view>
#include <tuple>
#include <vector>

#include <fmt/format.h>
#include <pugixml.hpp>

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

void gf_sortScannedLiveries()
{
    // Sorting the list with a comparator that looks every code up again would take the
    // interning lock millions of times for a large scan: order a decorated vector instead.
    std::vector<std::pair<LiveryOrderKey, std::list<ScannedLivery>::iterator>> order;
    order.reserve(g_scannedLiveries.size());
    for (auto it = g_scannedLiveries.begin(); it != g_scannedLiveries.end(); ++it) {
        order.emplace_back(LiveryOrderKey(*it), it);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& A, const auto& B) { return A.first < B.first; });
    std::list<ScannedLivery> sorted;
    for (auto& [key, it] : order) {
        sorted.splice(sorted.end(), g_scannedLiveries, it);
    }
    g_scannedLiveries.swap(sorted);
}

void gf_sortAndDedupScannedLiveries()
{
    gf_sortScannedLiveries();
    g_scannedLiveries.unique(lf_sameLivery);
}

std::filesystem::path gf_liveriesScannedPath()
{
    return g_outputPath / LIVERIES_SCANNED_FILE;
}

void lf_writeLiveriesScanned()
{
    if (g_scannedLiveries.empty()) {
        return;
    }
    pugi::xml_document doc;
    gf_writeXmlMeta(doc, gf_programVersionText());
    pugi::xml_node root = doc.child("root");
    if (!root) {
        return;
    }
    pugi::xml_node liveries = root.append_child("liveries");
    for (const ScannedLivery& L : g_scannedLiveries) {
        pugi::xml_node l = liveries.append_child("l");
        l.append_attribute("a") = gf_airlineCode(L.kind.airlineId).c_str();
        if (L.kind.operatorId != 0) {
            l.append_attribute("o") = gf_airlineCode(L.kind.operatorId).c_str();
        }
        l.append_attribute("m") = gf_modelCode(L.kind.modelId).c_str();
        if (L.kind.cargo != 0) {
            l.append_attribute("c") = "true";
        }
        l.append_attribute("t") = L.title.c_str();
        if (!L.regcode.empty()) {
            l.append_attribute("r") = L.regcode.c_str();
        }
    }
    const std::filesystem::path path = gf_liveriesScannedPath();
    if (!gf_saveXmlWithDeclaration(doc, path)) {
        gf_logWarning("Error writing file {}", path.string());
        return;
    }
    gf_logLine("{} liveries in {}", g_scannedLiveries.size(), path.string());
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
