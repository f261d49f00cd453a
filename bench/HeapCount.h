#pragma once

// Heap in use and its peak, counted over operator new (replaced here for the whole benchmark
// program, so include this header in one source file of a program only) and whatever a library
// allocates through lf_counted and lf_uncounted (pugixml's DOM, for one).

#include <atomic>
#include <cstdlib>
#include <new>

#include <malloc.h>

namespace {

std::atomic<std::size_t> g_heapNow{0};
std::atomic<std::size_t> g_heapPeak{0};

// Not inlined into the replaced operators, where the compiler would see a free of memory from new.
[[gnu::noinline]] void* lf_counted(std::size_t n)
{
    void* p = std::malloc(n == 0 ? 1 : n);
    if (!p) return nullptr;
    const std::size_t now = g_heapNow.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    std::size_t peak = g_heapPeak.load();
    while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

[[gnu::noinline]] void lf_uncounted(void* p) noexcept
{
    if (!p) return;
    g_heapNow.fetch_sub(malloc_usable_size(p));
    std::free(p);
}

} // namespace

void* operator new(std::size_t n)
{
    if (void* p = lf_counted(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return lf_counted(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return lf_counted(n); }
void operator delete(void* p) noexcept { lf_uncounted(p); }
void operator delete[](void* p) noexcept { lf_uncounted(p); }
void operator delete(void* p, std::size_t) noexcept { lf_uncounted(p); }
void operator delete[](void* p, std::size_t) noexcept { lf_uncounted(p); }
