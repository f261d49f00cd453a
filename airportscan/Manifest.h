#pragma once
// The publisher of an add-on airport, from its path or its package's manifest.json.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

namespace qmt {

// What a package manifest says about its maker; empty optional when no manifest was read.
struct ManifestData {
    std::string manufacturer;
    std::string creator;
    std::string title;
};
using ManifestInfo = std::optional<ManifestData>;

// The result of the publisher search; the last three come from the manifest when one was read.
struct PublisherInfo {
    std::string publisher;
    std::string manufacturer;
    std::string creator;
    std::string title;
};

// Largest manifest.json that is read (bytes); a larger one counts as unreadable.
inline constexpr std::uintmax_t kManifestMaxBytes = 4u << 20;

// The first publisher of the publishers table one of whose names occurs in the path: an empty
// name matches any path; else exactly, or failing that without regard to case.
std::optional<std::string> gf_publisherInPath(std::string_view PATH);
std::optional<std::string> gf_publisherInPath(const std::filesystem::path& PATH);

// The first regular file "manifest.json" of the folder (not its subfolders); empty when none.
std::filesystem::path lf_findManifestIn(const std::filesystem::path& FOLDER);
// Reads a manifest: no value for a file that cannot be read, is empty, too large, or is not a
// JSON object. Text that is not JSON throws the parser's error; a member "title", "manufacturer"
// or "creator" that is neither a text nor null (read as empty) throws the library's type error.
ManifestInfo gf_readManifest(const std::filesystem::path& FILE);
// The same on text already read (the fuzz target feeds it directly).
ManifestInfo gf_parseManifest(std::string_view TEXT);
// The manifest of the package that holds a BGL file or package path; never throws. Below a
// scan folder only the folders below it are looked at: the package right below a Community
// folder, else the nearest folder up from the file.
ManifestInfo gf_searchManifest(const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER = {});
// "title:'{}, manufacturer:'{}', creator:'{}".
std::string lf_logManifest(const ManifestData& MANIFEST);

// Finds the publisher from the path below the scan folder, then from the given manifest or the
// package's own.
PublisherInfo gf_findPublisher(const std::filesystem::path& PATH, const ManifestInfo& MANIFEST,
                               const std::filesystem::path& SCAN_FOLDER = {});

// A BGL file or package as written into airport files, which the user may mail to us: its path
// from its package folder on (the shallowest folder below the scan folder with a manifest.json
// or layout.json, else the first), so that no folder of the user's disk above the package goes
// out. Outside a scan folder: from below a "Community" folder on, else the file name alone.
std::string lf_pathFromCommunity(const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER);

// Where an airport comes from, in the order in which the simulator loads its packages: the
// simulator's own folder (Official, StreamedPackages) before Community, and within a folder the
// package folders by name, letters in any case; two files of one package by their path. The
// package loaded later wins, as in the simulator.
struct PackageOrder {
    int folderRank = 0;   // 1 in a Community folder, else 0
    std::string name;     // the package folder below the scan folder, lower-cased
    std::string file;     // the file (or package) below the scan folder
    std::string package;  // the package folder's whole path, for the scan log
    bool operator<(const PackageOrder& OTHER) const
    {
        return std::tie(folderRank, name, file) < std::tie(OTHER.folderRank, OTHER.name, OTHER.file);
    }
    bool sameSource(const PackageOrder& OTHER) const
    {
        return std::tie(folderRank, name, file) == std::tie(OTHER.folderRank, OTHER.name, OTHER.file);
    }
};
// The order of a BGL file or package folder PATH below SCAN_FOLDER (outside one: by the path).
PackageOrder lf_packageOrder(const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER);
// Both of PATH's package at once, its folders looked at once: its order (lf_packageOrder) and the
// path from its package folder on (lf_pathFromCommunity).
struct PackagePlace {
    PackageOrder order;
    std::string fromPackage;
};
PackagePlace lf_packagePlace(const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER);

// A creator name that does not count as a known origin.
bool lf_isExcludedCreator(std::string_view TEXT);
// What a generated airport file says of where its airport comes from: its publisher, and without
// one the manufacturer and creator of its package.
struct ApfOrigin {
    std::string publisher;
    std::string manufacturer;
    std::string creator;
};
// Whether the origin names its publisher, or a manufacturer or creator that may stand for one.
bool lf_isKnownOrigin(const ApfOrigin& ORIGIN);
// The same for what the generated airport file APF says (false, with a warning, when it cannot be
// loaded).
bool lf_hasKnownOrigin(const std::filesystem::path& APF);

} // namespace qmt
