// A text file of any bytes in any of the encodings: the lines are valid UTF-8 without NUL.
#include "FuzzSupport.h"

#include "core/Files.h"
#include "core/Text.h"

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    const auto path = g_workPath / "text.cfg";
    fuzz::writeBytes(path, fuzz::bytesOf(DATA, SIZE));
    const FileLines read = gf_readFileLines(path);
    for (const std::string& line : read.lines) {
        fuzz::require(gf_cleanUtf8(line) == line, "a line that is not valid UTF-8 without NUL");
        fuzz::require(line.find('\n') == std::string::npos, "a line with a line end");
    }
    return 0;
}
