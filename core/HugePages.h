#pragma once
// Memory for a record array that one thread walks whole every tick: mapped on its own, aligned
// to 2 MiB and offered to the kernel for a huge page, so that one page-table entry covers the
// whole array. After the worker's 10 ms sleep, a walk over records spread over a hundred and
// fifty ordinary pages pays a page-table walk on many of them before their data even come in.
// Where the kernel gives no huge page the mapping is an ordinary one: only the pages touched are
// resident.

#include <cstddef>
#include <new>

namespace qmt {

// A block of at least BYTES, aligned to 2 MiB; throws std::bad_alloc.
void* gf_mapHugePages(std::size_t BYTES);
// Gives back a block of gf_mapHugePages(BYTES).
void gf_unmapHugePages(void* BLOCK, std::size_t BYTES) noexcept;

template <typename T>
struct HugePageAllocator {
    using value_type = T;
    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t N)
    {
        if (N > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(gf_mapHugePages(N * sizeof(T)));
    }
    void deallocate(T* BLOCK, std::size_t N) noexcept { gf_unmapHugePages(BLOCK, N * sizeof(T)); }
    template <typename U>
    bool operator==(const HugePageAllocator<U>&) const noexcept
    {
        return true;
    }
};

} // namespace qmt
