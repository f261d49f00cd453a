#pragma once
// Archive links and generated airport files of the add-on airports the scan identifies: simaddon
// airports go to my_simaddon, all others to my_thirdparty.

#include "airportscan/Manifest.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qmt {

struct AirportFile;

// Fills RECORD's BGL path (from its package folder on) and, when it has none, its publisher
// fields (searched below SCAN_FOLDER); writes the link file and answers true when the archive
// holds the airport (also when a package that the simulator loads later holds it: nothing is
// written then). ARCHIVED gets the archived stand count.
bool lf_linkToArchive(AirportFile& RECORD, const ManifestInfo& MANIFEST, std::int32_t& ARCHIVED,
                      const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER = {});
// The same with PATH's package already found (lf_packagePlace), for a caller that also needs it.
bool lf_linkToArchive(AirportFile& RECORD, const ManifestInfo& MANIFEST, std::int32_t& ARCHIVED,
                      const std::filesystem::path& PATH, const std::filesystem::path& SCAN_FOLDER,
                      const PackagePlace& PLACE);
// "archive/simaddon/<ICAO>.xml" when the simulator's simaddon list holds the code.
std::optional<std::string> lf_findSimaddonArchive(std::string_view CODE);
// "archive/thirdparty/<publisher>/<ICAO>.xml" when the simulator's thirdparty list holds the
// publisher with the code; ARCHIVED gets the stand count of the entry.
std::optional<std::string> lf_findThirdpartyArchive(const std::string& PUBLISHER, std::string_view CODE,
                                                    std::int32_t& ARCHIVED);
// Where the stands of a generated airport file were read.
enum class StandSource { bgl, facilityData };
// Writes the generated airport file of a record with stands (nothing without stands), unless the
// airport stands in its folder from a package that the simulator loads after FROM's.
void lf_generateApf(AirportFile& RECORD, int HELIPADS, const PackageOrder& FROM = {},
                    StandSource SOURCE = StandSource::bgl);
// Whether a package that the simulator loads after FROM gave the airport its file already (the
// scan log names both): reading its stands for FROM would be work for nothing.
bool lf_heldByLaterPackage(const AirportFile& RECORD, const PackageOrder& FROM);
// The origin that the generated airport file FILE names, handed along from its generation by this
// scan, so that the file need not be read again to tell it; nothing for a file that this scan did
// not generate, or that a package loaded later replaced.
std::optional<ApfOrigin> lf_generatedOrigin(const std::filesystem::path& FILE);
// Forgets which package each airport of the last scan came from and the origins of the files it
// generated (the start of a scan).
void lf_clearAirportOwners();

} // namespace qmt
