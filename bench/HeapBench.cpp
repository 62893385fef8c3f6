// bench/HeapBench.cpp
// The heap front end against the C runtime, side by side: heap 0 (the process allocator
// behind a table of function pointers) against malloc/free directly, and a private heap against
// malloc. Compare the rows of one run with each other; absolute times depend on the machine.

#include <oxfirst/OxHeap.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

namespace {

struct CRuntime {
    static void* alloc(std::size_t size) { return std::malloc(size); }
    static void free(void* p) { std::free(p); }
};

struct FrontEndHeapZero {
    static void* alloc(std::size_t size) { return oxHeapAlloc(nullptr, size); }
    static void free(void* p) { oxHeapFree(nullptr, p); }
};

struct PrivateHeap {
    static inline void* heap = nullptr;
    static void* alloc(std::size_t size) { return oxHeapAlloc(heap, size); }
    static void free(void* p) { oxHeapFree(heap, p); }
};

// One allocation and its free, over and over: the cost of the fast path.
template <typename Allocator>
void Pair(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        void* p = Allocator::alloc(size);
        benchmark::DoNotOptimize(p);
        Allocator::free(p);
    }
}

// A thousand live blocks, freed in allocation order: free lists and page turnover.
template <typename Allocator>
void Batch(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    std::vector<void*> blocks(1000);
    for (auto _ : state) {
        for (void*& p : blocks)
            p = Allocator::alloc(size);
        benchmark::DoNotOptimize(blocks.data());
        for (void* p : blocks)
            Allocator::free(p);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(blocks.size()));
}

void withPrivateHeap(const benchmark::State&)
{
    PrivateHeap::heap = oxHeapCreate(0);
}

void withoutPrivateHeap(const benchmark::State&)
{
    oxHeapDestroy(PrivateHeap::heap);
    PrivateHeap::heap = nullptr;
}

#define OX_SIZES Arg(16)->Arg(64)->Arg(256)->Arg(4096)

BENCHMARK(Pair<CRuntime>)->Name("Pair/malloc")->OX_SIZES;
BENCHMARK(Pair<FrontEndHeapZero>)->Name("Pair/oxHeapAlloc0")->OX_SIZES;
BENCHMARK(Pair<PrivateHeap>)
    ->Name("Pair/privateHeap")
    ->OX_SIZES->Setup(withPrivateHeap)
    ->Teardown(withoutPrivateHeap);
BENCHMARK(Batch<CRuntime>)->Name("Batch/malloc")->OX_SIZES;
BENCHMARK(Batch<FrontEndHeapZero>)->Name("Batch/oxHeapAlloc0")->OX_SIZES;
BENCHMARK(Batch<PrivateHeap>)
    ->Name("Batch/privateHeap")
    ->OX_SIZES->Setup(withPrivateHeap)
    ->Teardown(withoutPrivateHeap);

} // namespace
