#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qmt {

// Address of the download site in front of "downloads/MSFS/" (configurable; tests
// point it at a local server).
extern std::string g_archiveBaseUrl;
// Points g_archiveBaseUrl at another site (start-up, before any look-up).
void gf_setArchiveBaseUrl(std::string URL);

// An airport file given for an airport (on the command line): it stands in for the archive's
// file of that airport, before any local file. Set before the worker starts; an empty FILE
// forgets it.
void gf_setGivenAirportFile(std::string_view ICAO, const std::filesystem::path& FILE);

// "EHAM" -> "EHAM.xml", and the same as a path with ".xml" or ".txt".
std::string gf_apfFileName(std::string_view ICAO);
std::filesystem::path gf_apfXmlPath(std::string_view ICAO);
std::filesystem::path gf_apfTxtPath(std::string_view ICAO);

// The airport file name of a code: a local name beginning with "airports", an
// archived name beginning with "archive/", or empty when the airport has none.
std::string lf_resolveApf(std::string_view ICAO);

// Reads a link file; true when its first line names an archived ".xml" file.
bool lf_readApfLink(const std::filesystem::path& LINK, std::string& NAME);

// Whether the airport has an airport file.
bool gf_apfExists(std::string_view ICAO);

// The archive folder an archived name is downloaded from ("downloads/MSFS/" or
// "downloads/MSFS2024/").
std::string gf_archiveFolderOf(std::string_view NAME, int32_t SIM);

// Downloads an archived file into LOCAL; an error text, empty on success.
std::string lf_downloadArchivedApf(const std::string& NAME, const std::filesystem::path& LOCAL);

// Distance in nm from the position to the nearest stand of the airport's file
// (100.0 when none is nearer); STAND gets the stand's name.
double gf_readDestApfForClosestStand(std::string_view ICAO, double LATITUDE, double LONGITUDE,
                                     std::string& STAND);

// Reads the number behind CODE at the start of TEXT into NUMBER; a text that does not
// begin with CODE is ignored; a rest that is not a number logs a warning.
void gf_splitCodeNumber(std::string_view TEXT, std::string_view LABEL, std::string_view CODE, int32_t& NUMBER);

} // namespace qmt
