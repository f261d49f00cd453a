#pragma once
// Download of an address into a local file (libcurl).

#include <filesystem>
#include <string>
#include <string_view>

namespace qmt {

// Fetches the address into the file. HTTP status 400 or above, a connection or transfer
// failure or a time-out (connect 10 s, total 120 s) is a failure: false, and no partial file is
// left (the data go to a temporary file that replaces the target on success). The failure is
// logged, or handed to the caller in FAILURE when it asks for it (to say it once, its own way).
bool gf_download(std::string_view address, const std::filesystem::path& localPath, std::string* FAILURE = nullptr);

// Tests: shorter time-outs (seconds); 0 restores the defaults.
void gf_setDownloadTimeoutsForTests(long connectSeconds, long totalSeconds);

} // namespace qmt
