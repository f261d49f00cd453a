#pragma once
// Every replaceable global operator new and delete, over two functions that the including program
// defines: gf_programAllocate(SIZE, ALIGN), a block of at least SIZE bytes aligned to ALIGN or
// nullptr, and gf_programRelease(BLOCK), which frees what it gave. A program that counts or
// attributes its allocations includes this in one of its own source files (never the library).

#include <cstddef>
#include <new>

void* gf_programAllocate(std::size_t SIZE, std::size_t ALIGN) noexcept;
void gf_programRelease(void* BLOCK) noexcept;

namespace qmt::replaced_new {

inline void* gf_orThrow(void* BLOCK)
{
    if (BLOCK == nullptr) {
        throw std::bad_alloc();
    }
    return BLOCK;
}

inline constexpr std::size_t kPlain = alignof(std::max_align_t);

} // namespace qmt::replaced_new

// The replacements pair their allocation and release themselves; the compiler cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t SIZE)
{
    return qmt::replaced_new::gf_orThrow(gf_programAllocate(SIZE, qmt::replaced_new::kPlain));
}
void* operator new[](std::size_t SIZE)
{
    return qmt::replaced_new::gf_orThrow(gf_programAllocate(SIZE, qmt::replaced_new::kPlain));
}
void* operator new(std::size_t SIZE, const std::nothrow_t&) noexcept
{
    return gf_programAllocate(SIZE, qmt::replaced_new::kPlain);
}
void* operator new[](std::size_t SIZE, const std::nothrow_t&) noexcept
{
    return gf_programAllocate(SIZE, qmt::replaced_new::kPlain);
}
void* operator new(std::size_t SIZE, std::align_val_t ALIGN)
{
    return qmt::replaced_new::gf_orThrow(gf_programAllocate(SIZE, static_cast<std::size_t>(ALIGN)));
}
void* operator new[](std::size_t SIZE, std::align_val_t ALIGN)
{
    return qmt::replaced_new::gf_orThrow(gf_programAllocate(SIZE, static_cast<std::size_t>(ALIGN)));
}
void* operator new(std::size_t SIZE, std::align_val_t ALIGN, const std::nothrow_t&) noexcept
{
    return gf_programAllocate(SIZE, static_cast<std::size_t>(ALIGN));
}
void* operator new[](std::size_t SIZE, std::align_val_t ALIGN, const std::nothrow_t&) noexcept
{
    return gf_programAllocate(SIZE, static_cast<std::size_t>(ALIGN));
}
void operator delete(void* P) noexcept { gf_programRelease(P); }
void operator delete[](void* P) noexcept { gf_programRelease(P); }
void operator delete(void* P, std::size_t) noexcept { gf_programRelease(P); }
void operator delete[](void* P, std::size_t) noexcept { gf_programRelease(P); }
void operator delete(void* P, const std::nothrow_t&) noexcept { gf_programRelease(P); }
void operator delete[](void* P, const std::nothrow_t&) noexcept { gf_programRelease(P); }
void operator delete(void* P, std::align_val_t) noexcept { gf_programRelease(P); }
void operator delete[](void* P, std::align_val_t) noexcept { gf_programRelease(P); }
void operator delete(void* P, std::size_t, std::align_val_t) noexcept { gf_programRelease(P); }
void operator delete[](void* P, std::size_t, std::align_val_t) noexcept { gf_programRelease(P); }
void operator delete(void* P, std::align_val_t, const std::nothrow_t&) noexcept { gf_programRelease(P); }
void operator delete[](void* P, std::align_val_t, const std::nothrow_t&) noexcept { gf_programRelease(P); }
