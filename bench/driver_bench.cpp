// Timings of the driver's entry points at several plant sizes. Each size is a
// plant of that many cyclic 16-bit values, all cached (see BenchDriver.h).
#include "BenchDriver.h"

#include <benchmark/benchmark.h>

using namespace marovin_bench;

namespace {

void sizes(benchmark::internal::Benchmark *b)
{
    b->Arg(10)->Arg(1000)->Arg(100000);
}

// One cyclic read: ComCommunication, then DataCom with a good reply.
void BM_Exchange(benchmark::State &state)
{
    setUpDriver(2);
    makePlant(static_cast<int>(state.range(0)));
    QByteArray reply = reply16(0);
    unsigned value = 0;
    for (auto _ : state) {
        setReply16(reply, ++value);
        if (exchange(reply) != 1) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    resetDriver();
}
BENCHMARK(BM_Exchange)->Apply(sizes);

// GetRegisterData of one value, over addresses spread across the cache.
void BM_GetRegisterData(benchmark::State &state)
{
    const int size = static_cast<int>(state.range(0));
    setUpDriver(2);
    makePlant(size);
    const std::vector<QString> texts = addressTexts(size, size < 4096 ? size : 4096);
    QByteArray out;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetRegisterData(QString(), 1, texts[i], 1, &out, 1));
        if (++i == texts.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    resetDriver();
}
BENCHMARK(BM_GetRegisterData)->Apply(sizes);

// GetRegisterData of 64 consecutive values in one call; items are values.
void BM_GetRegisterData64(benchmark::State &state)
{
    const int size = static_cast<int>(state.range(0));
    setUpDriver(2);
    makePlant(size < 64 ? 64 : size);
    const std::vector<QString> texts = addressTexts(size < 64 ? 1 : size - 63, 4096);
    QByteArray out;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetRegisterData(QString(), 1, texts[i], 1, &out, 64));
        if (++i == texts.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations() * 64);
    resetDriver();
}
BENCHMARK(BM_GetRegisterData64)->Apply(sizes);

// SetRegisterData of one value into the cache (writes not queued).
void BM_SetRegisterDataCache(benchmark::State &state)
{
    const int size = static_cast<int>(state.range(0));
    setUpDriver(1);
    makePlant(size);
    const std::vector<QString> texts = addressTexts(size, size < 4096 ? size : 4096);
    QByteArray value(2, '\0');
    size_t i = 0;
    for (auto _ : state) {
        value[0] = char(i);
        benchmark::DoNotOptimize(SetRegisterData(QString(), 1, texts[i], 1, &value, 1, 0, 0));
        if (++i == texts.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    resetDriver();
}
BENCHMARK(BM_SetRegisterDataCache)->Apply(sizes);

// A write to the PLC: SetRegisterData queues it, one exchange sends it and
// takes the acknowledgement. No cyclic reads, so every exchange is the write.
void BM_WriteExchange(benchmark::State &state)
{
    const int size = static_cast<int>(state.range(0));
    setUpDriver(2);
    resetDriver();
    fillCache(size);
    const std::vector<QString> texts = addressTexts(size, size < 4096 ? size : 4096);
    QByteArray reply = reply16(0);
    QByteArray value(2, '\0');
    size_t i = 0;
    for (auto _ : state) {
        value[0] = char(i);
        SetRegisterData(QString(), 1, texts[i], 1, &value, 1, 0, 0);
        int status;
        while ((status = exchange(reply)) == -1) {
        }
        if (status != 1) {
            state.SkipWithError("write failed");
            break;
        }
        if (++i == texts.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    resetDriver();
}
BENCHMARK(BM_WriteExchange)->Apply(sizes);

// ReCreatReadVarList of N host variables; items are host variables, and the
// fitted complexity tells linear from quadratic.
void BM_ReCreatReadVarList(benchmark::State &state)
{
    const int size = static_cast<int>(state.range(0));
    setUpDriver(2);
    resetDriver();
    QList<HOSTVAR> host = hostVariables(size);
    for (auto _ : state) {
        if (ReCreatReadVarList(&host) != size) {
            state.SkipWithError("rebuild failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * size);
    state.SetComplexityN(size);
    resetDriver();
}
BENCHMARK(BM_ReCreatReadVarList)
    ->Arg(10)->Arg(1000)->Arg(10000)->Arg(30000)->Arg(100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();

}  // namespace

BENCHMARK_MAIN();
