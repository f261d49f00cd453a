// Encrypts a plain data file with the program's key, so that the reference data that comes
// with the program can be built from its plain XML sources.
//   quillon_encrypt <plain file> <encrypted file>

#include <cstdio>
#include <filesystem>

#include "core/Crypto.h"
#include "core/Log.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <plain file> <encrypted file>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path in = argv[1];
    const std::filesystem::path out = argv[2];
    if (!qmt::gf_streamEncrypt(in, out)) {
        std::fprintf(stderr, "encrypting %s to %s failed\n", in.c_str(), out.c_str());
        return 1;
    }
    return 0;
}
