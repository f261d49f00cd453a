#include "core/Crypto.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <sodium.h>

#include "core/FileCommit.h"
#include "core/Log.h"
#include "core/Text.h"

namespace qmt {
namespace {

// The program's key for the data files that come with it.
constexpr std::array<unsigned char, crypto_secretstream_xchacha20poly1305_KEYBYTES> PROGRAM_KEY = {
    0x6b, 0xdf, 0x76, 0xfd, 0x2d, 0x0f, 0xa9, 0xd4, 0xfc, 0xe7, 0x77, 0xf0, 0x7a, 0x86, 0x85, 0xb0, 0xde, 0x10, 0x6a, 0x66, 0xcd, 0xfc, 0x49, 0xdb, 0x9a, 0xd3, 0x70, 0x9a, 0x7b, 0x01, 0x54, 0x4c};

constexpr std::size_t kChunk = 4096;
constexpr std::size_t kCipherChunk = kChunk + crypto_secretstream_xchacha20poly1305_ABYTES;

bool lf_sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Reads up to n bytes; returns the count read.
std::size_t lf_read(std::ifstream& in, unsigned char* buf, std::size_t n)
{
    in.read(reinterpret_cast<char*>(buf), static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(in.gcount());
}

bool lf_fail(const std::filesystem::path& in, const std::filesystem::path& out, std::ofstream& file, std::string_view why,
             std::string_view what = "Decrypting")
{
    gf_logWarning("{} {} failed: {}", what, gf_utf16ToUtf8(in), why);
    if (file.is_open()) file.close();
    std::error_code ec;
    std::filesystem::remove(out, ec);
    return false;
}

} // namespace

bool gf_streamDecrypt(const std::filesystem::path& encryptedPath, const std::filesystem::path& outputPath)
{
    // The plain text goes to a temporary name and takes the output's name only when it is whole.
    const std::filesystem::path partPath = gf_commitTempPath(outputPath);
    std::error_code removed;
    std::filesystem::remove(outputPath, removed); // no plain text of an earlier run is taken for this one's
    std::ofstream out;
    if (!lf_sodiumReady()) return lf_fail(encryptedPath, partPath, out, "crypto library not available");
    std::ifstream in(encryptedPath, std::ios::binary);
    if (!in) return lf_fail(encryptedPath, partPath, out, "cannot open the file");

    std::array<unsigned char, crypto_secretstream_xchacha20poly1305_HEADERBYTES> header{};
    if (lf_read(in, header.data(), header.size()) != header.size())
        return lf_fail(encryptedPath, partPath, out, "file too short");
    crypto_secretstream_xchacha20poly1305_state state;
    if (crypto_secretstream_xchacha20poly1305_init_pull(&state, header.data(), PROGRAM_KEY.data()) != 0)
        return lf_fail(encryptedPath, partPath, out, "invalid header");

    out.open(partPath, std::ios::binary | std::ios::trunc);
    if (!out) return lf_fail(encryptedPath, partPath, out, "cannot write " + gf_utf16ToUtf8(partPath));

    std::vector<unsigned char> cipher(kCipherChunk), plain(kChunk);
    bool final = false;
    while (true) {
        const std::size_t n = lf_read(in, cipher.data(), cipher.size());
        if (n == 0) break;
        if (final) return lf_fail(encryptedPath, partPath, out, "data after the final chunk");
        unsigned long long plainLen = 0;
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(&state, plain.data(), &plainLen, &tag, cipher.data(), n, nullptr, 0) != 0)
            return lf_fail(encryptedPath, partPath, out, "wrong key or damaged data");
        out.write(reinterpret_cast<const char*>(plain.data()), static_cast<std::streamsize>(plainLen));
        if (!out) return lf_fail(encryptedPath, partPath, out, "write error");
        if (tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) final = true;
    }
    if (!final) return lf_fail(encryptedPath, partPath, out, "file is cut off");
    out.close();
    if (!out) return lf_fail(encryptedPath, partPath, out, "write error");
    if (const std::error_code ec = gf_fileSystem().rename(partPath, outputPath))
        return lf_fail(encryptedPath, partPath, out, "cannot write " + gf_utf16ToUtf8(outputPath) + ": " + ec.message());
    return true;
}

bool gf_streamEncrypt(const std::filesystem::path& plainPath, const std::filesystem::path& outputPath)
{
    std::ofstream out;
    if (!lf_sodiumReady()) return lf_fail(plainPath, outputPath, out, "crypto library not available", "Encrypting");
    std::ifstream in(plainPath, std::ios::binary);
    if (!in) return lf_fail(plainPath, outputPath, out, "cannot open the file", "Encrypting");
    out.open(outputPath, std::ios::binary | std::ios::trunc);
    if (!out) return lf_fail(plainPath, outputPath, out, "cannot write " + gf_utf16ToUtf8(outputPath), "Encrypting");

    std::array<unsigned char, crypto_secretstream_xchacha20poly1305_HEADERBYTES> header{};
    crypto_secretstream_xchacha20poly1305_state state;
    crypto_secretstream_xchacha20poly1305_init_push(&state, header.data(), PROGRAM_KEY.data());
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));

    std::vector<unsigned char> plain(kChunk), cipher(kCipherChunk);
    // Read one chunk ahead so that the last chunk (possibly empty) carries the final tag.
    std::size_t n = lf_read(in, plain.data(), plain.size());
    while (true) {
        std::vector<unsigned char> next(kChunk);
        const std::size_t m = n == kChunk ? lf_read(in, next.data(), next.size()) : 0;
        const bool last = m == 0;
        unsigned long long cipherLen = 0;
        crypto_secretstream_xchacha20poly1305_push(&state, cipher.data(), &cipherLen, plain.data(), n, nullptr, 0,
                                                   last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : 0);
        out.write(reinterpret_cast<const char*>(cipher.data()), static_cast<std::streamsize>(cipherLen));
        if (!out) return lf_fail(plainPath, outputPath, out, "write error", "Encrypting");
        if (last) break;
        plain.swap(next);
        n = m;
    }
    if (in.bad()) return lf_fail(plainPath, outputPath, out, "read error", "Encrypting");
    out.close();
    if (!out) return lf_fail(plainPath, outputPath, out, "write error", "Encrypting");
    return true;
}

} // namespace qmt
