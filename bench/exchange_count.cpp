// A deterministic driver program for callgrind and heap counting: sets up a
// plant, then runs N operations of one kind between two callgrind collection
// toggles. Run it at two N and take the slope so that set-up cancels out.
//
//   marovin-bench-count MODE SIZE N
//   MODE: exchange | get | set | write | rebuild | loop | memory
#include "BenchDriver.h"
#ifdef MAROVIN_BENCH_HEAP
#include "MallocCount.h"
#endif

#include <malloc.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace marovin_bench;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: marovin-bench-count exchange|get|set|write|rebuild|loop|memory SIZE N\n");
    return 2;
}

size_t heapInUse()
{
    return mallinfo2().uordblks;
}

// Heap bytes per cached value and per read-list entry at `size`.
int measureMemory(int size)
{
    resetDriver();
    malloc_trim(0);
    const size_t before = heapInUse();
    fillCache(size);
    const size_t cached = heapInUse();
    buildReadList(size);
    const size_t listed = heapInUse();
    std::printf("memory size=%d cache_bytes=%zu bytes_per_value=%.1f readlist_bytes=%zu bytes_per_entry=%.1f\n", size,
                cached - before, double(cached - before) / size, listed - cached, double(listed - cached) / size);
    return 0;
}

enum class Mode { Exchange, Get, Set, Write, Rebuild, Loop };

// Runs `n` operations; false on a failed operation.
bool run(Mode mode, int size, long n, QByteArray &reply, const std::vector<QString> &texts, QList<HOSTVAR> &host)
{
    const size_t count = texts.empty() ? 1 : texts.size();
    QByteArray out;
    QByteArray value(2, '\0');
    for (long i = 0; i < n; ++i) {
        switch (mode) {
        case Mode::Exchange:
            if (exchange(reply) != 1)
                return false;
            break;
        case Mode::Get:
            if (GetRegisterData(QString(), 1, texts[size_t(i) % count], 1, &out, 1) != 1)
                return false;
            break;
        case Mode::Set:
            value[0] = char(i);
            if (SetRegisterData(QString(), 1, texts[size_t(i) % count], 1, &value, 1, 0, 0) != 1)
                return false;
            break;
        case Mode::Write: {
            value[0] = char(i);
            if (SetRegisterData(QString(), 1, texts[size_t(i) % count], 1, &value, 1, 0, 0) < 1)
                return false;
            int status;
            while ((status = exchange(reply)) == -1) {
            }
            if (status != 1)
                return false;
            break;
        }
        case Mode::Rebuild:
            if (ReCreatReadVarList(&host) != size)
                return false;
            break;
        case Mode::Loop:
            break;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const std::string mode = argv[1];
    const int size = std::atoi(argv[2]);
    const long n = argc > 3 ? std::atol(argv[3]) : 0;
    if (size < 1 || n < 0)
        return usage();

    setUpDriver(2);
    if (mode == "memory")
        return measureMemory(size);

    QList<HOSTVAR> host;
    std::vector<QString> texts;
    Mode m;
    if (mode == "exchange") {
        m = Mode::Exchange;
        makePlant(size);
    } else if (mode == "get" || mode == "set") {
        m = mode == "get" ? Mode::Get : Mode::Set;
        makePlant(size);
        setWriteMode(1);
        texts = addressTexts(size, size < 4096 ? size : 4096);
    } else if (mode == "write") {
        m = Mode::Write;
        resetDriver();
        fillCache(size);  // no cyclic reads: every exchange is the write
        texts = addressTexts(size, size < 4096 ? size : 4096);
    } else if (mode == "rebuild") {
        m = Mode::Rebuild;
        host = hostVariables(size);
    } else if (mode == "loop") {
        m = Mode::Loop;
    } else {
        return usage();
    }
    QByteArray reply = reply16(0x1234);

    // Warm-up: lists and the cache reach their steady shape. Exchanges first go
    // once round the read list, so that every request has been built once.
    const long warm = (n < 16 ? n : 16) + (m == Mode::Exchange && n > 0 ? size : 0);
    if (!run(m, size, warm, reply, texts, host)) {
        std::fprintf(stderr, "%s: an operation failed\n", mode.c_str());
        return 1;
    }

#ifdef MAROVIN_BENCH_HEAP
    startHeapCount();
#endif
    CALLGRIND_TOGGLE_COLLECT;
    const bool ok = run(m, size, n, reply, texts, host);
    CALLGRIND_TOGGLE_COLLECT;
#ifdef MAROVIN_BENCH_HEAP
    const HeapCounts c = stopHeapCount();
    if (n > 0)
        std::printf("heap mode=%s size=%d n=%ld allocations=%.3f reallocations=%.3f frees=%.3f bytes=%.1f (per op)\n",
                    mode.c_str(), size, n, double(c.allocations) / n, double(c.reallocations) / n,
                    double(c.frees) / n, double(c.bytes) / n);
#endif
    if (!ok) {
        std::fprintf(stderr, "%s: an operation failed\n", mode.c_str());
        return 1;
    }
    std::printf("ran mode=%s size=%d n=%ld\n", mode.c_str(), size, n);
    return 0;
}
