#pragma once
// Download of an address into a local file (libcurl).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qmt {

// The largest answer a download takes (airport files hold at most a few megabytes).
inline constexpr std::uint64_t kMaxDownloadBytes = 32u << 20;

// Fetches the address into the file, as sent (no compressed encoding is asked for). HTTP status
// 400 or above, a connection or transfer failure, a time-out (connect 10 s, total 120 s) or an
// answer of more than maxBytes is a failure: false, and the file is as it was (a whole answer
// replaces it through gf_commitFile). The failure is logged, or handed to the caller in FAILURE
// when it asks for it (to say it once, its own way).
bool gf_download(std::string_view address, const std::filesystem::path& localPath, std::string* FAILURE = nullptr,
                 std::uint64_t maxBytes = kMaxDownloadBytes);

// Tests: shorter time-outs (seconds); 0 restores the defaults.
void gf_setDownloadTimeoutsForTests(long connectSeconds, long totalSeconds);

} // namespace qmt
