#pragma once
// Download of an address into a local file (libcurl).

#include <filesystem>
#include <string_view>

namespace qmt {

// Fetches the address into the file. HTTP status 400 or above, a connection or transfer
// failure or a time-out (connect 10 s, total 120 s) is a failure: logged, false, and no
// partial file is left (the data go to a temporary file that replaces the target on success).
bool gf_download(std::string_view address, const std::filesystem::path& localPath);

// Tests: shorter time-outs (seconds); 0 restores the defaults.
void gf_setDownloadTimeoutsForTests(long connectSeconds, long totalSeconds);

} // namespace qmt
