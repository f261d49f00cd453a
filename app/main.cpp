#include "app/Program.h"
#include "core/ReplacedNew.h"
#include "platform/standin_meter.h"

#include <cstddef>
#include <iostream>

// The program's allocations pass by the stand-in meter, so that what the stand-ins hold is told
// apart from the program's own memory. Only this executable has these hooks.
void* gf_programAllocate(std::size_t SIZE, std::size_t ALIGN) noexcept
{
    return qmt::gf_meterAllocate(SIZE, ALIGN);
}

void gf_programRelease(void* BLOCK) noexcept
{
    qmt::gf_meterRelease(BLOCK);
}

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto line = qmt::gf_parseCommandLine(args, error);
    if (!line) {
        std::cerr << error << "\n" << qmt::gf_usageText();
        return 2;
    }
    if (line->help) {
        std::cout << qmt::gf_usageText();
        return 0;
    }
    return qmt::gf_quillonMain(*line);
}
