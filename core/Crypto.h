#pragma once
// The data files that come with the program are encrypted with a stream cipher
// (secretstream xchacha20poly1305) under the program's key.

#include <filesystem>

namespace qmt {

// Decrypts a data file to a plain file. A missing or unreadable file, a wrong key, a tampered,
// truncated or over-long file: one error line naming the file, the output removed, false.
bool gf_streamDecrypt(const std::filesystem::path& encryptedPath, const std::filesystem::path& outputPath);
// Encrypts a plain file with the program's key (the build tool uses it); false on failure
// with the output removed.
bool gf_streamEncrypt(const std::filesystem::path& plainPath, const std::filesystem::path& outputPath);

} // namespace qmt
