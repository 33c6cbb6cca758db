#include "MallocCount.h"

#include <cstddef>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *ptr, size_t size);
void __libc_free(void *ptr);
}

namespace {
bool g_counting = false;
marovin_bench::HeapCounts g_counts;
}  // namespace

extern "C" {

void *malloc(size_t size)
{
    if (g_counting) {
        ++g_counts.allocations;
        g_counts.bytes += size;
    }
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    if (g_counting) {
        ++g_counts.allocations;
        g_counts.bytes += count * size;
    }
    return __libc_calloc(count, size);
}

void *realloc(void *ptr, size_t size)
{
    if (g_counting) {
        if (ptr)
            ++g_counts.reallocations;
        else
            ++g_counts.allocations;
        g_counts.bytes += size;
    }
    return __libc_realloc(ptr, size);
}

void free(void *ptr)
{
    if (g_counting && ptr)
        ++g_counts.frees;
    __libc_free(ptr);
}

}  // extern "C"

namespace marovin_bench {

void startHeapCount()
{
    g_counts = HeapCounts();
    g_counting = true;
}

HeapCounts stopHeapCount()
{
    g_counting = false;
    return g_counts;
}

}  // namespace marovin_bench
