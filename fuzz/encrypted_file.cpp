// A data file encrypted with the program's key, damaged as the input says: cut short, bytes
// changed, inserted or appended (each step four bytes of the input: what, where, which byte).
// The file decrypts only when it is whole, and then gives the plain text back; any other file
// is refused with no output file left, not even an older one.
#include "FuzzSupport.h"

#include "core/Crypto.h"

#include <sstream>

using namespace qmt;

namespace {

std::string lf_read(const std::filesystem::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Sample {
    std::string plain;
    std::string encrypted;
};

// Three chunks and a bit of a reference file, encrypted once.
const Sample& lf_sample()
{
    static const Sample sample = [] {
        fuzz::resetCore();
        Sample s;
        for (int i = 0; s.plain.size() < 3 * 4096 + 100; ++i) {
            s.plain += "<airport icao=\"E" + std::to_string(1000 + i % 9000) + "\" lat=\"52." + std::to_string(i) +
                       "\" lon=\"4." + std::to_string(i * 7) + "\"/>\n";
        }
        const auto plain = g_inputPath / "sample.xml";
        const auto encrypted = g_inputPath / "sample.enc";
        fuzz::writeBytes(plain, s.plain);
        fuzz::require(gf_streamEncrypt(plain, encrypted), "the sample cannot be encrypted");
        s.encrypted = lf_read(encrypted);
        return s;
    }();
    return sample;
}

std::string lf_damaged(std::string BYTES, std::string_view STEPS)
{
    for (size_t at = 0; at + 4 <= STEPS.size(); at += 4) {
        const auto what = static_cast<uint8_t>(STEPS[at]) % 4;
        const size_t where = (static_cast<uint8_t>(STEPS[at + 1]) << 8 | static_cast<uint8_t>(STEPS[at + 2])) * 7;
        const char byte = STEPS[at + 3];
        switch (what) {
        case 0:
            BYTES.resize(where % (BYTES.size() + 1));
            break;
        case 1:
            if (!BYTES.empty()) {
                BYTES[where % BYTES.size()] ^= byte;
            }
            break;
        case 2:
            BYTES.insert(BYTES.begin() + static_cast<std::ptrdiff_t>(where % (BYTES.size() + 1)), byte);
            break;
        default:
            BYTES.append(static_cast<size_t>(static_cast<uint8_t>(byte)) + 1, STEPS[at + 1]);
            break;
        }
    }
    return BYTES;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    const Sample& sample = lf_sample();
    fuzz::resetCore();
    const std::string damaged = lf_damaged(sample.encrypted, fuzz::bytesOf(DATA, SIZE));
    const auto encrypted = g_inputPath / "fuzz.enc";
    const auto plain = g_inputPath / "fuzz.xml";
    fuzz::writeBytes(encrypted, damaged);
    fuzz::writeBytes(plain, "an older output");
    const bool decrypted = gf_streamDecrypt(encrypted, plain);
    if (damaged == sample.encrypted) {
        fuzz::require(decrypted && lf_read(plain) == sample.plain, "the whole file does not decrypt to its text");
    } else {
        fuzz::require(!decrypted, "a damaged file decrypts");
        fuzz::require(!std::filesystem::exists(plain), "a damaged file leaves an output");
    }
    return 0;
}
