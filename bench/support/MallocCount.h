// Counts heap calls (malloc, calloc, realloc, free) made by the whole process
// while counting is on. Link MallocCount.cpp into the executable: its
// definitions take the place of the C library's for every shared object.
#ifndef MAROVIN_BENCH_MALLOC_COUNT_H
#define MAROVIN_BENCH_MALLOC_COUNT_H

#include <cstddef>

namespace marovin_bench {

struct HeapCounts {
    unsigned long long allocations = 0;  // malloc, calloc, and realloc of a null pointer
    unsigned long long reallocations = 0;
    unsigned long long frees = 0;        // free of a non-null pointer
    unsigned long long bytes = 0;        // bytes asked for
};

void startHeapCount();
HeapCounts stopHeapCount();

}  // namespace marovin_bench

#endif
