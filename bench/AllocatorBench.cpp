// bench/AllocatorBench.cpp
// The small-block heap (__oxMallocAligned/__oxFreeAligned) against glibc malloc and mimalloc,
// side by side in one run: alloc/free pairs, batches of 10,000 freed in LIFO, FIFO and random
// order, two threads churning at once, and the resident memory of one million live blocks.
//
// mimalloc's shared library replaces malloc when linked, so it is opened privately at run time
// (RTLD_LOCAL) and only mi_malloc/mi_free are called; glibc stays the process's malloc. Its rows
// are left out when the library is not installed.
//
// The ratio table at the end holds the aims these rows are held to; heap 0 of the front end
// (oxHeapAlloc(0, n), the C runtime on this system) is compared with malloc there too.
//
// Order matters: the resident-memory rows run first, on fresh heaps; both glibc and the
// small-block heap skip their locking while the process has one thread, so the single-thread
// rows run before any thread exists, and the pairs run once more afterwards ("Locked") to show
// the cost of the uncontended lock.

#include "bench/RatioReporter.h"

#include <oxfirst/OxHeap.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <numeric>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct SmallBlock {
    static void* alloc(std::size_t size) { return __oxMallocAligned(size); }
    static void free(void* p) { __oxFreeAligned(p); }
};

struct HeapZero {
    static void* alloc(std::size_t size) { return oxHeapAlloc(nullptr, size); }
    static void free(void* p) { oxHeapFree(nullptr, p); }
};

struct Glibc {
    static void* alloc(std::size_t size) { return std::malloc(size); }
    static void free(void* p) { std::free(p); }
};

struct Mimalloc {
    static inline void* (*sAlloc)(std::size_t) = nullptr;
    static inline void (*sFree)(void*) = nullptr;
    static void* alloc(std::size_t size) { return sAlloc(size); }
    static void free(void* p) { sFree(p); }

    static bool load()
    {
        void* library = dlopen("libmimalloc.so.2", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            return false;
        sAlloc = reinterpret_cast<void* (*)(std::size_t)>(dlsym(library, "mi_malloc"));
        sFree = reinterpret_cast<void (*)(void*)>(dlsym(library, "mi_free"));
        return sAlloc != nullptr && sFree != nullptr;
    }
};

constexpr int kSizes[] = {8, 24, 64, 100, 256, 512};
constexpr std::size_t kBatch = 10000;

// One allocation and its free, over and over: the fast path of both.
template <typename Allocator>
void Pair(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        void* p = Allocator::alloc(size);
        benchmark::DoNotOptimize(p);
        Allocator::free(p);
    }
    state.SetItemsProcessed(state.iterations());
}

// The same with one more block of the size kept alive meanwhile, so the page of the pair never
// empties: apart from the pair rows, a page that empties goes back to its region and the next
// allocation takes a page afresh.
template <typename Allocator>
void PairBesideLiveBlock(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    void* neighbour = Allocator::alloc(size);
    for (auto _ : state) {
        void* p = Allocator::alloc(size);
        benchmark::DoNotOptimize(p);
        Allocator::free(p);
    }
    Allocator::free(neighbour);
    state.SetItemsProcessed(state.iterations());
}

enum class Order { kLifo, kFifo, kRandom };

// 10,000 live blocks, then freed in the given order; items are allocations (each with its free).
template <typename Allocator, Order order>
void Batch(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    std::vector<void*> blocks(kBatch);
    std::vector<std::size_t> freeOrder(kBatch);
    std::iota(freeOrder.begin(), freeOrder.end(), 0);
    if (order == Order::kLifo)
        std::reverse(freeOrder.begin(), freeOrder.end());
    if (order == Order::kRandom)
        std::shuffle(freeOrder.begin(), freeOrder.end(), std::mt19937(42));
    for (auto _ : state) {
        for (void*& p : blocks)
            p = Allocator::alloc(size);
        benchmark::DoNotOptimize(blocks.data());
        for (std::size_t i : freeOrder)
            Allocator::free(blocks[i]);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBatch));
}

// Two threads at once, each keeping 256 blocks and replacing one per step.
template <typename Allocator>
void Churn(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    std::vector<void*> ring(256);
    for (void*& p : ring)
        p = Allocator::alloc(size);
    std::size_t at = 0;
    for (auto _ : state) {
        Allocator::free(ring[at]);
        ring[at] = Allocator::alloc(size);
        benchmark::DoNotOptimize(ring[at]);
        at = (at + 97) & 255;
    }
    for (void* p : ring)
        Allocator::free(p);
    state.SetItemsProcessed(state.iterations());
}

std::size_t residentBytes()
{
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    unsigned long size = 0, resident = 0;
    if (file != nullptr) {
        if (std::fscanf(file, "%lu %lu", &size, &resident) != 2)
            resident = 0;
        std::fclose(file);
    }
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Resident memory of one million live blocks, written once each. Measured once, whatever the
// repetitions asked for: a second run would find the first run's freed memory in the heap.
template <typename Allocator>
void Resident(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    constexpr std::size_t kBlocks = 1000000;
    std::vector<void*> blocks(kBlocks);
    for (auto _ : state) {
        const std::size_t before = residentBytes();
        for (void*& p : blocks) {
            p = Allocator::alloc(size);
            std::memset(p, 1, size);
        }
        const std::size_t after = residentBytes();
        state.counters["resident_MB"] = static_cast<double>(after - before) / (1 << 20);
        state.counters["bytes_per_block"] = static_cast<double>(after - before) / kBlocks;
        for (void* p : blocks)
            Allocator::free(p);
    }
}

void registerSizes(benchmark::internal::Benchmark* b)
{
    for (int size : kSizes)
        b->Arg(size);
}

template <typename Allocator>
void registerSingleThread(const std::string& name)
{
    benchmark::RegisterBenchmark((name + "/Pair").c_str(), Pair<Allocator>)->Apply(registerSizes);
    benchmark::RegisterBenchmark((name + "/PairBesideLiveBlock").c_str(), PairBesideLiveBlock<Allocator>)
        ->Apply(registerSizes);
    benchmark::RegisterBenchmark((name + "/BatchLifo").c_str(), Batch<Allocator, Order::kLifo>)
        ->Apply(registerSizes);
    benchmark::RegisterBenchmark((name + "/BatchFifo").c_str(), Batch<Allocator, Order::kFifo>)
        ->Apply(registerSizes);
    benchmark::RegisterBenchmark((name + "/BatchRandom").c_str(), Batch<Allocator, Order::kRandom>)
        ->Apply(registerSizes);
}

} // namespace

int main(int argc, char** argv)
{
    const bool haveMimalloc = Mimalloc::load();
    if (!haveMimalloc)
        std::fprintf(stderr, "libmimalloc.so.2 not found: its rows are left out\n");

    for (int size : {24, 100}) {
        benchmark::RegisterBenchmark("Glibc/Resident1M", Resident<Glibc>)
            ->Arg(size)
            ->Iterations(1)
            ->Repetitions(1);
        benchmark::RegisterBenchmark("SmallBlock/Resident1M", Resident<SmallBlock>)
            ->Arg(size)
            ->Iterations(1)
            ->Repetitions(1);
        if (haveMimalloc)
            benchmark::RegisterBenchmark("Mimalloc/Resident1M", Resident<Mimalloc>)
                ->Arg(size)
                ->Iterations(1)
                ->Repetitions(1);
    }
    registerSingleThread<Glibc>("Glibc");
    benchmark::RegisterBenchmark("HeapZero/Pair", Pair<HeapZero>)->Arg(64);
    registerSingleThread<SmallBlock>("SmallBlock");
    if (haveMimalloc)
        registerSingleThread<Mimalloc>("Mimalloc");
    benchmark::RegisterBenchmark("Glibc/Churn2Threads", Churn<Glibc>)->Apply(registerSizes)->Threads(2);
    benchmark::RegisterBenchmark("SmallBlock/Churn2Threads", Churn<SmallBlock>)
        ->Apply(registerSizes)
        ->Threads(2);
    if (haveMimalloc)
        benchmark::RegisterBenchmark("Mimalloc/Churn2Threads", Churn<Mimalloc>)
            ->Apply(registerSizes)
            ->Threads(2);
    benchmark::RegisterBenchmark("Glibc/PairLocked", Pair<Glibc>)->Apply(registerSizes);
    benchmark::RegisterBenchmark("SmallBlock/PairLocked", Pair<SmallBlock>)->Apply(registerSizes);
    if (haveMimalloc)
        benchmark::RegisterBenchmark("Mimalloc/PairLocked", Pair<Mimalloc>)->Apply(registerSizes);

    using oxbench::gComparisons;
    gComparisons.push_back({"HeapZero/Pair/64", "Glibc/Pair/64", "<= 1.05", 1.05, true});
    for (int size : kSizes) {
        const std::string arg = "/" + std::to_string(size);
        const auto compare = [&](const std::string& row, const char* aim, double limit) {
            gComparisons.push_back({"SmallBlock/" + row + arg, "Glibc/" + row + arg, aim, limit, true});
        };
        compare("Pair", "<= 1.3", 1.3);
        compare("PairBesideLiveBlock", "<= 1.0", 1.0);
        compare("BatchLifo", "", 0);
        compare("BatchFifo", "<= 2.0", 2.0);
        compare("BatchRandom", "<= 2.0", 2.0);
        compare("Churn2Threads", "", 0);
        compare("PairLocked", "", 0);
    }
    gComparisons.push_back(
        {"SmallBlock/Resident1M/24", "Glibc/Resident1M/24", "<= 0.8", 0.8, true, "resident_MB"});
    gComparisons.push_back(
        {"SmallBlock/Resident1M/100", "Glibc/Resident1M/100", "", 0, false, "resident_MB"});

    benchmark::Initialize(&argc, argv);
    oxbench::runWithRatios();
    return 0;
}
