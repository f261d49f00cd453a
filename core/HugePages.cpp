#include "core/HugePages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qmt {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t lf_roundUp(std::size_t BYTES)
{
    return (BYTES + kHugePage - 1) / kHugePage * kHugePage;
}

} // namespace

#if defined(__linux__)

void* gf_mapHugePages(std::size_t BYTES)
{
    if (BYTES == 0 || BYTES > static_cast<std::size_t>(-1) - 2 * kHugePage)
        throw std::bad_alloc();
    const std::size_t size = lf_roundUp(BYTES);
    // Mapped one huge page larger, then cut to the aligned part.
    void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start)
        ::munmap(raw, aligned - start);
    const std::uintptr_t tail = aligned + size;
    if (start + size + kHugePage > tail)
        ::munmap(reinterpret_cast<void*>(tail), start + size + kHugePage - tail);
    // Only advice: without it (or without huge pages) the block works all the same.
    ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void gf_unmapHugePages(void* BLOCK, std::size_t BYTES) noexcept
{
    if (BLOCK != nullptr)
        ::munmap(BLOCK, lf_roundUp(BYTES));
}

#else

void* gf_mapHugePages(std::size_t BYTES)
{
    return ::operator new(BYTES, std::align_val_t{kHugePage});
}

void gf_unmapHugePages(void* BLOCK, std::size_t) noexcept
{
    ::operator delete(BLOCK, std::align_val_t{kHugePage});
}

#endif

} // namespace qmt
