#include "app/Program.h"
#include "core/ReplacedNew.h"
#include "platform/standin_meter.h"

#include <cstddef>
#include <cstdlib>
#include <iostream>

// The program's allocations pass by the stand-in meter, so that what the stand-ins hold is told
// apart from the program's own memory. Only this executable has these hooks.
void* gf_programAllocate(std::size_t SIZE, std::size_t ALIGN) noexcept
{
    const std::size_t size = SIZE == 0 ? 1 : SIZE;
    void* block = ALIGN <= alignof(std::max_align_t) ? std::malloc(size)
                                                      : std::aligned_alloc(ALIGN, (size + ALIGN - 1) / ALIGN * ALIGN);
    if (block != nullptr) {
        const int part = qmt::gf_standInAllocating();
        if (part >= 0) {
            qmt::gf_noteStandInAllocation(block, size, part);
        }
    }
    return block;
}

void gf_programRelease(void* BLOCK) noexcept
{
    qmt::gf_noteRelease(BLOCK);
    std::free(BLOCK);
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
