// tests/platform/HeapsTest.cpp
// Private heaps and the C runtime heap through the Heap... functions: sizes and contents,
// reallocation, walks checked against a model, refusal of pointers, handles and flags that are
// not the heap's own, locking and threads.

#include "platform/win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <map>
#include <mutex>
#include <random>
#include <sys/mman.h>
#include <thread>
#include <vector>

using namespace win;

namespace {

constexpr SIZE_T kNoSize = ~SIZE_T{0};
const HANDLE kRuntimeHeap = reinterpret_cast<HANDLE>(_get_heap_handle());

struct ScopedHeap { // a new private heap, destroyed at the end of the scope
    HANDLE handle = HeapCreate(0, 0, 0);
    ~ScopedHeap() { HeapDestroy(handle); }
    operator HANDLE() const { return handle; }
};

using BlockMap = std::map<void*, std::size_t>; // user pointer -> requested size

struct Walk {
    std::vector<PROCESS_HEAP_ENTRY> regions;
    BlockMap busy;
    bool tiled = true;  // each region's entries cover it end to end, without gaps or overlaps
    bool ended = false; // the last call answered FALSE with ERROR_NO_MORE_ITEMS
};

Walk walkHeap(HANDLE heap)
{
    Walk walk;
    PROCESS_HEAP_ENTRY entry{};
    const char* next = nullptr; // header of the next block in the open region
    const char* end = nullptr;  // just past the open region's last block; null between regions
    std::size_t entries = 0;
    while (++entries < 1'000'000 && HeapWalk(heap, &entry)) {
        const auto* data = static_cast<const char*>(entry.lpData);
        const bool busy = entry.wFlags & PROCESS_HEAP_ENTRY_BUSY;
        if (entry.wFlags & PROCESS_HEAP_REGION) {
            walk.tiled &= end == nullptr;
            walk.regions.push_back(entry);
            next = static_cast<const char*>(entry.Region.lpFirstBlock);
            end = static_cast<const char*>(entry.Region.lpLastBlock);
            continue;
        }
        walk.tiled &= reinterpret_cast<std::uintptr_t>(data) % 16 == 0 && (end ? data == next + 16 : busy);
        if (end != nullptr && (next = data + entry.cbData + entry.cbOverhead - 16) == end)
            end = nullptr;
        if (busy)
            walk.busy.emplace(entry.lpData, entry.cbData);
    }
    walk.ended = entries < 1'000'000 && GetLastError() == ERROR_NO_MORE_ITEMS;
    walk.tiled &= end == nullptr;
    return walk;
}

// The walk ends, tiles every region and lists exactly `model`; the whole heap validates.
::testing::AssertionResult walksAs(HANDLE heap, const BlockMap& model)
{
    const Walk walk = walkHeap(heap);
    if (walk.ended && walk.tiled && walk.busy == model && HeapValidate(heap, 0, nullptr))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "walk ended " << walk.ended << ", tiled " << walk.tiled
                                         << ", lists " << walk.busy.size() << " blocks, not " << model.size();
}

// Contents: byte i is seed + i * step; seedOf ties the seed to the block's address, so bytes
// that land in another block show there.
unsigned char seedOf(const void* p)
{
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    return static_cast<unsigned char>((address >> 4) ^ (address >> 12) ^ (address >> 20));
}

void fill(void* p, std::size_t size, unsigned char seed)
{
    for (std::size_t i = 0; i < size; ++i)
        static_cast<unsigned char*>(p)[i] = static_cast<unsigned char>(seed + i * 7);
}

bool holds(const void* p, std::size_t size, unsigned char seed, unsigned step = 7)
{
    std::size_t i = 0;
    while (i < size && static_cast<const unsigned char*>(p)[i] == static_cast<unsigned char>(seed + i * step))
        ++i;
    return i == size;
}

// The last error of a call that failed (`failed` is its answer checked), 0 when it did not; the
// last error is poisoned for the next call, so an error left over from before never counts.
DWORD failure(bool failed)
{
    const DWORD error = failed ? GetLastError() : 0;
    SetLastError(0xDEAD);
    return error;
}

// Checks that every call of a list failed with `error`; on a mismatch the list shows which.
::testing::AssertionResult allFailWith(DWORD error, const std::vector<DWORD>& errors)
{
    if (std::all_of(errors.begin(), errors.end(), [error](DWORD e) { return e == error; }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "errors " << ::testing::PrintToString(errors);
}

class PrivateHeapBlocks : public ::testing::TestWithParam<SIZE_T> {};

// A block holds exactly its size without touching a neighbour and is refused once freed; sizes
// near SIZE_MAX must not wrap when rounded up to blocks or pages.
TEST_P(PrivateHeapBlocks, HoldExactlyTheRequestedSize)
{
    const SIZE_T size = GetParam();
    ScopedHeap heap;
    void* a = HeapAlloc(heap, 0, size);
    void* b = HeapAlloc(heap, 0, size);
    ASSERT_TRUE(a != nullptr && b != nullptr && a != b);
    for (void* p : {a, b}) {
        EXPECT_TRUE(reinterpret_cast<std::uintptr_t>(p) % 16 == 0 && HeapValidate(heap, 0, p));
        EXPECT_EQ(size, HeapSize(heap, 0, p));
        fill(p, size, seedOf(p));
    }
    EXPECT_TRUE(holds(a, size, seedOf(a)) && walksAs(heap, {{a, size}, {b, size}}));
    for (SIZE_T huge : {kNoSize, kNoSize - 15, kNoSize - 4096, kNoSize / 2, SIZE_T{1} << 47}) {
        SetLastError(0);
        EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, failure(!HeapAlloc(heap, 0, huge)));
        EXPECT_EQ(nullptr, HeapReAlloc(heap, 0, a, huge));
    }
    ASSERT_TRUE(HeapFree(heap, 0, b));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, failure(HeapSize(heap, 0, b) == kNoSize));
    EXPECT_FALSE(HeapValidate(heap, 0, b));
    EXPECT_TRUE(holds(a, size, seedOf(a)) && walksAs(heap, {{a, size}}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, PrivateHeapBlocks,
                         ::testing::Values(0, 1, 15, 16, 17, 1000, 4096, 100000, 600000, 1500000));

// After any mix of allocations, reallocations and frees the walk lists exactly the live blocks,
// each keeps its contents, the heap validates.
TEST(PrivateHeapModel, WalkListsExactlyTheLiveBlocks)
{
    ScopedHeap heap;
    std::mt19937 random(42);
    BlockMap model;
    for (int step = 0; step < 3000; ++step) {
        SCOPED_TRACE(step);
        const unsigned action = random() % 10;
        const unsigned kind = random() % 100;
        const SIZE_T size = kind < 70   ? random() % 300
                            : kind < 97 ? 1000 + random() % 30000
                                        : 520000 + random() % 300000;
        const auto old =
            action < 5 || model.empty() ? model.end() : std::next(model.begin(), random() % model.size());
        const auto [block, oldSize] = old == model.end() ? std::pair<void* const, std::size_t>{} : *old;
        ASSERT_TRUE(holds(block, oldSize, seedOf(block)));
        if (block != nullptr && action < 8) {
            ASSERT_TRUE(HeapFree(heap, 0, block));
            model.erase(old);
        } else {
            void* p = block ? HeapReAlloc(heap, 0, block, size) : HeapAlloc(heap, 0, size);
            ASSERT_TRUE(p != nullptr && (p == block || model.count(p) == 0));
            ASSERT_TRUE(holds(p, std::min(size, oldSize), seedOf(block)));
            model.erase(block);
            fill(p, size, seedOf(p));
            model[p] = size;
        }
        ASSERT_TRUE(HeapValidate(heap, 0, nullptr));
        if (step % 10 == 0) {
            ASSERT_TRUE(walksAs(heap, model));
        }
    }
    ASSERT_TRUE(walksAs(heap, model));
    for (const auto& [p, size] : model)
        ASSERT_TRUE(HeapFree(heap, 0, p));
    EXPECT_TRUE(walksAs(heap, {}));
}

// A new heap is one region holding its initial size; hundreds of large blocks are found and listed
// in address order (their table outgrows a page, a moved one is re-sorted); emptied segments are
// unmapped but the first and the newest.
TEST(PrivateHeapWalk, ListsSegmentsAndLargeBlocksAndReturnsEmptySegments)
{
    ScopedHeap heap{HeapCreate(0, 1 << 20, 0)};
    const Walk walk = walkHeap(heap);
    ASSERT_TRUE(walk.ended && walk.tiled && walk.busy.empty() && walk.regions.size() == 1);
    EXPECT_GE(walk.regions[0].Region.dwCommittedSize, 1u << 20);
    BlockMap model;
    for (SIZE_T size = 600000; size < 600400; ++size)
        model.emplace(HeapAlloc(heap, 0, size), size); // pages never touched: address space only
    std::vector<void*> small(2000);
    for (void*& p : small)
        model.emplace(p = HeapAlloc(heap, 0, 4000), 4000);
    EXPECT_GT(walkHeap(heap).regions.size(), 3u);
    EXPECT_TRUE(walksAs(heap, model));
    for (void* p : small)
        ASSERT_TRUE(HeapFree(heap, 0, p) && model.erase(p));
    EXPECT_LE(walkHeap(heap).regions.size(), 2u);
    void* freed = model.begin()->first;
    for (auto it = model.begin(); it != model.end(); it = std::next(model.erase(it))) // every other one
        ASSERT_TRUE(HeapFree(heap, 0, it->first));
    EXPECT_FALSE(HeapValidate(heap, 0, freed));
    EXPECT_EQ(model.begin()->second, HeapSize(heap, 0, model.begin()->first));
    void* top = std::prev(model.end())->first; // grown, its mapping moves below the others
    model.erase(top);
    model.emplace(HeapReAlloc(heap, 0, top, 5000000), 5000000);
    EXPECT_TRUE(walksAs(heap, model));
}

// Pointers the heap never handed out (interior, freed: a double free, foreign) and forged walk
// entries are refused, changing nothing; realloc of null is refused without raising.
TEST(PrivateHeapForeignPointers, AreRefusedAndLeaveTheHeapIntact)
{
    ScopedHeap heap;
    ScopedHeap other;
    auto* small = static_cast<char*>(HeapAlloc(heap, 0, 100));
    auto* large = static_cast<char*>(HeapAlloc(heap, 0, 700000));
    std::memset(small, 0x01, 100); // read as a header, any of these bytes would look busy
    fill(large, 700000, 6);
    auto* freed = static_cast<char*>(HeapAlloc(heap, 0, 40));
    HeapFree(heap, 0, freed);
    void* fromOther = HeapAlloc(other, 0, 100);
    void* fromMalloc = std::malloc(100);
    int local = 0;
    for (void* p : std::initializer_list<void*>{
             small + 1, small + 16, small - 16, small + 112, large + 4096, large + 16, freed, fromOther,
             fromMalloc, &local, walkHeap(heap).regions[0].lpData, reinterpret_cast<void*>(0x1000)}) {
        PROCESS_HEAP_ENTRY entry{};
        entry.lpData = p;
        SetLastError(0);
        EXPECT_TRUE(allFailWith(ERROR_INVALID_PARAMETER,
                                {failure(!HeapFree(heap, 0, p)), failure(HeapSize(heap, 0, p) == kNoSize),
                                 failure(!HeapValidate(heap, 0, p)), failure(!HeapReAlloc(heap, 0, p, 8)),
                                 p == freed ? ERROR_INVALID_PARAMETER : failure(!HeapWalk(heap, &entry))}))
            << p;
    }
    PROCESS_HEAP_ENTRY dressed{small, 0, 0, 0, PROCESS_HEAP_REGION, {}};
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
    EXPECT_TRUE(allFailWith(ERROR_INVALID_PARAMETER,
                            {failure(!HeapWalk(heap, &dressed)), failure(!HeapWalk(heap, nullptr)),
                             failure(!HeapReAlloc(heap, 0, nullptr, 10))}));
    EXPECT_TRUE(holds(small, 100, 1, 0) && holds(large, 700000, 6));
    EXPECT_TRUE(walksAs(heap, {{small, 100}, {large, 700000}}));
    EXPECT_TRUE(walksAs(other, {{fromOther, 100}}));
    std::free(fromMalloc);
}

// A destroyed heap is unmapped and its slot reused, its handle refused unread. GetProcessHeaps
// lists the live heaps, C runtime first, writing no more than it may.
TEST(HeapHandles, DestroyedAndMadeUpHandlesAreRefusedEverywhere)
{
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(HeapDestroy(HeapCreate(0, 0, 0))) << i;
    HANDLE destroyed = HeapCreate(0, 0, 0);
    for (int i = 0; i < 300; ++i)
        HeapAlloc(destroyed, 0, 3000);
    void* large = HeapAlloc(destroyed, 0, 2000000);
    const Walk walk = walkHeap(destroyed);
    const DWORD heapCount = GetProcessHeaps(0, nullptr);
    ASSERT_TRUE(walk.regions.size() > 1 && HeapDestroy(destroyed));
    auto isMapped = [](const void* p) {
        return msync(const_cast<void*>(p), 4096, MS_ASYNC) == 0 || errno != ENOMEM;
    };
    for (const PROCESS_HEAP_ENTRY& region : walk.regions)
        EXPECT_FALSE(isMapped(region.lpData));
    EXPECT_FALSE(isMapped(large));

    ScopedHeap successor; // in the destroyed heap's slot
    void* block = HeapAlloc(successor, 0, 10);
    std::vector<HANDLE> heaps(heapCount + 1, destroyed);
    ASSERT_EQ(heapCount, GetProcessHeaps(heapCount - 1, heaps.data()));
    EXPECT_TRUE(heaps[0] == kRuntimeHeap && heaps[heapCount - 1] == destroyed);
    ASSERT_EQ(heapCount, GetProcessHeaps(heapCount, heaps.data()));
    EXPECT_TRUE(std::count(heaps.begin(), heaps.end(), successor.handle) == 1 &&
                heaps[heapCount] == destroyed);
    EXPECT_EQ(0, std::count(heaps.begin(), heaps.end() - 1, destroyed));
    // The front end's tests refuse made-up handles through every oxHeap... call; here, the
    // destroyed heap's handle must not reach its successor in the same slot.
    PROCESS_HEAP_ENTRY entry{};
    SetLastError(0);
    EXPECT_TRUE(allFailWith(ERROR_INVALID_HANDLE,
                            {failure(!HeapAlloc(destroyed, 0, 10)), failure(!HeapFree(destroyed, 0, block)),
                             failure(HeapSize(destroyed, 0, block) == kNoSize), failure(!HeapLock(destroyed)),
                             failure(!HeapWalk(destroyed, &entry)), failure(!HeapDestroy(destroyed))}));
    EXPECT_TRUE(walksAs(successor, {{block, 10}}));
}

// HeapLock holds the other threads off while the holder goes on using the heap. Then threads
// free each other's blocks (swapped through shared slots); the survivors keep their contents and
// are exactly what the walk lists. TSan runs it too.
TEST(PrivateHeapThreads, LockHoldsOthersOffAndThreadsFreeEachOthersBlocks)
{
    ScopedHeap heap;
    ASSERT_TRUE(HeapLock(heap));
    void* mine = HeapAlloc(heap, 0, 10);
    std::atomic<int> allocated{0};
    std::mutex slotsLock;
    std::vector<std::pair<void*, std::size_t>> slots(256, {nullptr, 0});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            for (int i = 0; i < 4000; ++i) {
                const std::size_t size = random() % 3 == 0 ? random() % 20000 : random() % 200;
                std::pair<void*, std::size_t> block{HeapAlloc(heap, 0, size), size};
                ASSERT_NE(nullptr, block.first);
                ++allocated;
                fill(block.first, size, seedOf(block.first));
                {
                    std::lock_guard<std::mutex> guard(slotsLock);
                    std::swap(block, slots[random() % slots.size()]);
                }
                ASSERT_TRUE(block.first == nullptr || holds(block.first, block.second, seedOf(block.first)));
                ASSERT_TRUE(HeapFree(heap, 0, block.first));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(0, allocated.load()); // fails only when the lock does not keep the others out
    ASSERT_TRUE(HeapUnlock(heap));
    for (std::thread& thread : threads)
        thread.join();
    BlockMap model{{mine, 10}}; // a block whose contents changed is left out: the walk disagrees
    for (const auto& [p, size] : slots) {
        if (p != nullptr && holds(p, size, seedOf(p)))
            model.emplace(p, size);
    }
    EXPECT_TRUE(walksAs(heap, model));
}

// The C runtime heap's blocks are glibc's (either side frees, usable sizes, 0-byte realloc keeps a
// block); it walks as one region and cannot be destroyed.
TEST(RuntimeHeap, BlocksAreTheCRuntimesAndTheHeapOutlivesDestroy)
{
    auto* p = static_cast<char*>(HeapAlloc(kRuntimeHeap, 0, 100));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(malloc_usable_size(p), HeapSize(kRuntimeHeap, 0, p));
    fill(p, 100, 8);
    EXPECT_TRUE(holds(p = static_cast<char*>(HeapReAlloc(kRuntimeHeap, 0, p, 100000)), 100, 8));
    std::free(p);
    EXPECT_TRUE(HeapFree(kRuntimeHeap, 0, std::malloc(10)));
    EXPECT_NE(nullptr,
              p = static_cast<char*>(HeapReAlloc(kRuntimeHeap, 0, HeapAlloc(kRuntimeHeap, 0, 0), 0)));
    HeapFree(kRuntimeHeap, 0, p);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, failure(!HeapReAlloc(kRuntimeHeap, 0, nullptr, 10)));
    const Walk walk = walkHeap(kRuntimeHeap);
    EXPECT_TRUE(walk.ended && walk.regions.size() == 1 && walk.regions[0].lpData && walk.busy.empty());
    EXPECT_TRUE(HeapValidate(kRuntimeHeap, 0, nullptr) && HeapLock(kRuntimeHeap) && HeapUnlock(kRuntimeHeap));
    EXPECT_FALSE(HeapDestroy(kRuntimeHeap));
    EXPECT_NE(nullptr, p = static_cast<char*>(HeapAlloc(kRuntimeHeap, 0, 10)));
    HeapFree(kRuntimeHeap, 0, p);
}

// Low fragmentation (class 0, a 4-byte 2) is accepted on every heap, a wrong length, value or class
// refused. No flag or option is emulated, so each is refused rather than ignored (a block that
// is not zeroed as asked, a heap without a limit it was given), and a refused call changes nothing.
TEST(HeapModes, OnlyLowFragmentationIsTakenAndFlagsAreRefused)
{
    ScopedHeap heap;
    ULONG mode = 2;
    ULONG other = 1;
    std::uint64_t wide = 2;
    const std::tuple<int, void*, SIZE_T> refused[] = {
        {0, &wide, 8}, {0, &other, 4}, {0, nullptr, 4}, {1, &mode, 4}};
    void* p = nullptr;
    for (HANDLE h : {heap.handle, kRuntimeHeap}) {
        EXPECT_TRUE(HeapSetInformation(h, HeapCompatibilityInformation, &mode, sizeof mode));
        for (const auto& [type, information, length] : refused)
            EXPECT_EQ(ERROR_INVALID_PARAMETER,
                      failure(!HeapSetInformation(h, HEAP_INFORMATION_CLASS(type), information, length)));
        ASSERT_NE(nullptr, p = HeapAlloc(h, 0, 10));
        SetLastError(0);
        EXPECT_TRUE(allFailWith(ERROR_INVALID_PARAMETER,
                                {failure(!HeapAlloc(h, 8, 10)), failure(!HeapReAlloc(h, 0x10, p, 20)),
                                 failure(!HeapFree(h, 1, p)), failure(HeapSize(h, 1, p) == kNoSize),
                                 failure(!HeapValidate(h, 1, p))}));
        EXPECT_TRUE(HeapFree(h, 0, p));
    }
    EXPECT_TRUE(
        allFailWith(ERROR_INVALID_PARAMETER, {failure(!HeapCreate(1, 0, 0)), failure(!HeapCreate(4, 0, 0)),
                                              failure(!HeapCreate(0, 0, 65536))}));
    EXPECT_TRUE(walksAs(heap, {}));
}

} // namespace
