#include "app/Program.h"
#include "platform/standin_meter.h"

#include <cstdlib>
#include <iostream>
#include <new>

// The program's allocations pass by the stand-in meter, so that what the stand-ins hold is told
// apart from the program's own memory. Only this executable has these hooks.
namespace {

void* lf_allocate(std::size_t SIZE, std::size_t ALIGN)
{
    const std::size_t size = SIZE == 0 ? 1 : SIZE;
    void* block = ALIGN <= alignof(std::max_align_t)
                      ? std::malloc(size)
                      : std::aligned_alloc(ALIGN, (size + ALIGN - 1) / ALIGN * ALIGN);
    if (block != nullptr) {
        const int part = qmt::gf_standInAllocating();
        if (part >= 0) {
            qmt::gf_noteStandInAllocation(block, size, part);
        }
    }
    return block;
}

void* lf_allocateOrThrow(std::size_t SIZE, std::size_t ALIGN)
{
    if (void* block = lf_allocate(SIZE, ALIGN)) {
        return block;
    }
    throw std::bad_alloc();
}

void lf_release(void* BLOCK) noexcept
{
    qmt::gf_noteRelease(BLOCK);
    std::free(BLOCK);
}

constexpr std::size_t kPlain = alignof(std::max_align_t);

} // namespace

// The replacements pair malloc and free themselves; the compiler cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t SIZE) { return lf_allocateOrThrow(SIZE, kPlain); }
void* operator new[](std::size_t SIZE) { return lf_allocateOrThrow(SIZE, kPlain); }
void* operator new(std::size_t SIZE, const std::nothrow_t&) noexcept { return lf_allocate(SIZE, kPlain); }
void* operator new[](std::size_t SIZE, const std::nothrow_t&) noexcept { return lf_allocate(SIZE, kPlain); }
void* operator new(std::size_t SIZE, std::align_val_t ALIGN)
{
    return lf_allocateOrThrow(SIZE, static_cast<std::size_t>(ALIGN));
}
void* operator new[](std::size_t SIZE, std::align_val_t ALIGN)
{
    return lf_allocateOrThrow(SIZE, static_cast<std::size_t>(ALIGN));
}
void* operator new(std::size_t SIZE, std::align_val_t ALIGN, const std::nothrow_t&) noexcept
{
    return lf_allocate(SIZE, static_cast<std::size_t>(ALIGN));
}
void* operator new[](std::size_t SIZE, std::align_val_t ALIGN, const std::nothrow_t&) noexcept
{
    return lf_allocate(SIZE, static_cast<std::size_t>(ALIGN));
}
void operator delete(void* P) noexcept { lf_release(P); }
void operator delete[](void* P) noexcept { lf_release(P); }
void operator delete(void* P, std::size_t) noexcept { lf_release(P); }
void operator delete[](void* P, std::size_t) noexcept { lf_release(P); }
void operator delete(void* P, const std::nothrow_t&) noexcept { lf_release(P); }
void operator delete[](void* P, const std::nothrow_t&) noexcept { lf_release(P); }
void operator delete(void* P, std::align_val_t) noexcept { lf_release(P); }
void operator delete[](void* P, std::align_val_t) noexcept { lf_release(P); }
void operator delete(void* P, std::size_t, std::align_val_t) noexcept { lf_release(P); }
void operator delete[](void* P, std::size_t, std::align_val_t) noexcept { lf_release(P); }
void operator delete(void* P, std::align_val_t, const std::nothrow_t&) noexcept { lf_release(P); }
void operator delete[](void* P, std::align_val_t, const std::nothrow_t&) noexcept { lf_release(P); }

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
