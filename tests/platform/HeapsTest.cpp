// tests/platform/HeapsTest.cpp
// Private heaps and the C runtime heap through the Heap... functions: sizes and contents, walks
// checked against a model, refusal of pointers, handles and flags that are not the heap's own,
// locking and threads.

#include "platform/win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
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

// Contents: byte i is seed + i * 7; seedOf ties the seed to the block's address, so bytes that
// land in another block show there.
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

bool holds(const void* p, std::size_t size, unsigned char seed)
{
    std::size_t i = 0;
    while (i < size && static_cast<const unsigned char*>(p)[i] == static_cast<unsigned char>(seed + i * 7))
        ++i;
    return i == size;
}

// The errors of calls that each failed (`failed` is its answer checked; 0 when it did not fail);
// the last error is poisoned between calls, so an error left over from before never counts.
std::vector<DWORD> errorsOf(std::initializer_list<std::function<bool()>> calls)
{
    std::vector<DWORD> errors;
    for (const auto& failed : calls) {
        SetLastError(0xDEAD);
        errors.push_back(failed() ? GetLastError() : 0);
    }
    return errors;
}

std::vector<DWORD> all(std::size_t count, DWORD error)
{
    return std::vector<DWORD>(count, error);
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
        EXPECT_TRUE(reinterpret_cast<std::uintptr_t>(p) % 16 == 0 && HeapValidate(heap, 0, p) &&
                    HeapSize(heap, 0, p) == size);
        fill(p, size, seedOf(p));
    }
    EXPECT_TRUE(holds(a, size, seedOf(a)) && walksAs(heap, {{a, size}, {b, size}}));
    for (SIZE_T huge : {kNoSize, kNoSize - 15, kNoSize - 4096, kNoSize / 2, SIZE_T{1} << 47})
        EXPECT_EQ(all(2, ERROR_NOT_ENOUGH_MEMORY),
                  errorsOf({[&] { return !HeapAlloc(heap, 0, huge); },
                            [&] { return !HeapReAlloc(heap, 0, a, huge); }}));
    ASSERT_TRUE(HeapFree(heap, 0, b));
    EXPECT_EQ(all(2, ERROR_INVALID_PARAMETER), errorsOf({[&] { return HeapSize(heap, 0, b) == kNoSize; },
                                                         [&] { return !HeapValidate(heap, 0, b); }}));
    EXPECT_TRUE(holds(a, size, seedOf(a)) && walksAs(heap, {{a, size}}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, PrivateHeapBlocks,
                         ::testing::Values(0, 1, 15, 16, 17, 4096, 600000, 1500000));

// After any mix of allocations, reallocations and frees (segment blocks and blocks of their own
// mapping, growing and shrinking in place and by moving) the walk lists exactly the live blocks,
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
        ASSERT_TRUE(step % 10 != 0 ? HeapValidate(heap, 0, nullptr) : walksAs(heap, model));
    }
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
    EXPECT_TRUE(walkHeap(heap).regions.size() > 3 && walksAs(heap, model));
    for (void* p : small)
        ASSERT_TRUE(HeapFree(heap, 0, p) && model.erase(p));
    EXPECT_LE(walkHeap(heap).regions.size(), 2u);
    for (auto it = model.begin(); it != model.end(); it = std::next(model.erase(it))) // every other one
        ASSERT_TRUE(HeapFree(heap, 0, it->first));
    void* top = std::prev(model.end())->first; // grown, its mapping moves below the others
    model.erase(top);
    model.emplace(HeapReAlloc(heap, 0, top, 5000000), 5000000);
    EXPECT_TRUE(walksAs(heap, model));
}

// Pointers the heap never handed out (interior, freed: a double free, foreign) and forged walk
// entries are refused, changing nothing.
TEST(PrivateHeapForeignPointers, AreRefusedAndLeaveTheHeapIntact)
{
    ScopedHeap heap;
    ScopedHeap other;
    auto* small = static_cast<char*>(HeapAlloc(heap, 0, 100));
    auto* large = static_cast<char*>(HeapAlloc(heap, 0, 700000));
    fill(small, 100, 1); // read as a header, these bytes could look busy
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
        EXPECT_EQ(all(4, ERROR_INVALID_PARAMETER), errorsOf({[&] { return !HeapFree(heap, 0, p); },
                                                             [&] { return HeapSize(heap, 0, p) == kNoSize; },
                                                             [&] { return !HeapValidate(heap, 0, p); },
                                                             [&] { return !HeapReAlloc(heap, 0, p, 8); }}))
            << p;
        EXPECT_TRUE(p == freed || !HeapWalk(heap, &entry)) << p; // a free block is a walk entry
    }
    PROCESS_HEAP_ENTRY dressed{small, 0, 0, 0, PROCESS_HEAP_REGION, {}};
    EXPECT_EQ(all(3, ERROR_INVALID_PARAMETER),
              errorsOf({[&] { return !HeapWalk(heap, &dressed); }, [&] { return !HeapWalk(heap, nullptr); },
                        [&] { return !HeapReAlloc(heap, 0, nullptr, 10); }}));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr) && holds(small, 100, 1) && holds(large, 700000, 6));
    EXPECT_TRUE(walksAs(heap, {{small, 100}, {large, 700000}}) && walksAs(other, {{fromOther, 100}}));
    std::free(fromMalloc);
}

// A destroyed heap is unmapped and its slot reused (also after the table went round), its
// handle refused unread. GetProcessHeaps lists the live heaps, C runtime first, writing no more
// than it may. (The front end's tests refuse made-up handles through every oxHeap... call.)
TEST(HeapHandles, DestroyedHeapsAreUnmappedAndTheirHandlesRefused)
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
    EXPECT_FALSE(isMapped(large) || std::any_of(walk.regions.begin(), walk.regions.end(),
                                                [&](const auto& region) { return isMapped(region.lpData); }));

    ScopedHeap successor; // in the destroyed heap's slot
    void* block = HeapAlloc(successor, 0, 10);
    std::vector<HANDLE> heaps(heapCount + 1, destroyed);
    ASSERT_EQ(heapCount, GetProcessHeaps(heapCount - 1, heaps.data()));
    EXPECT_TRUE(heaps[0] == kRuntimeHeap && heaps[heapCount - 1] == destroyed);
    ASSERT_EQ(heapCount, GetProcessHeaps(heapCount, heaps.data()));
    EXPECT_TRUE(std::count(heaps.begin(), heaps.end(), successor.handle) == 1 &&
                heaps[heapCount] == destroyed && std::count(heaps.begin(), heaps.end() - 1, destroyed) == 0);
    PROCESS_HEAP_ENTRY entry{};
    EXPECT_EQ(
        all(5, ERROR_INVALID_HANDLE),
        errorsOf({[&] { return !HeapAlloc(destroyed, 0, 10); },
                  [&] { return !HeapFree(destroyed, 0, block); },
                  [&] { return HeapSize(destroyed, 0, block) == kNoSize; },
                  [&] { return !HeapWalk(destroyed, &entry); }, [&] { return !HeapDestroy(destroyed); }}));
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
// block); it walks as one region and cannot be destroyed. Low fragmentation (class 0, a 4-byte
// 2) is accepted on every heap, a wrong length, value or class refused. No flag or option is
// emulated, so each is refused rather than ignored (a block not zeroed as asked, a heap without
// a limit it was given), and a refused call changes nothing.
TEST(HeapModes, RuntimeHeapIsGlibcsAndOnlyWhatIsEmulatedIsTaken)
{
    auto* p = static_cast<char*>(HeapAlloc(kRuntimeHeap, 0, 100));
    ASSERT_TRUE(p != nullptr && HeapSize(kRuntimeHeap, 0, p) == malloc_usable_size(p));
    fill(p, 100, 8);
    EXPECT_TRUE(holds(p = static_cast<char*>(HeapReAlloc(kRuntimeHeap, 0, p, 100000)), 100, 8));
    std::free(p);
    EXPECT_TRUE(HeapFree(kRuntimeHeap, 0, std::malloc(10)));
    EXPECT_NE(nullptr,
              p = static_cast<char*>(HeapReAlloc(kRuntimeHeap, 0, HeapAlloc(kRuntimeHeap, 0, 0), 0)));
    HeapFree(kRuntimeHeap, 0, p);
    const Walk walk = walkHeap(kRuntimeHeap);
    EXPECT_TRUE(walk.ended && walk.regions.size() == 1 && walk.regions[0].lpData && walk.busy.empty());
    EXPECT_TRUE(HeapValidate(kRuntimeHeap, 0, nullptr) && HeapLock(kRuntimeHeap) && HeapUnlock(kRuntimeHeap));

    ScopedHeap heap;
    ULONG mode = 2, other = 1;
    std::uint64_t wide = 2;
    for (HANDLE h : {heap.handle, kRuntimeHeap}) {
        EXPECT_TRUE(HeapSetInformation(h, HeapCompatibilityInformation, &mode, sizeof mode));
        ASSERT_NE(nullptr, p = static_cast<char*>(HeapAlloc(h, 0, 10)));
        EXPECT_EQ(
            all(10, ERROR_INVALID_PARAMETER),
            errorsOf({[&] { return !HeapSetInformation(h, HeapCompatibilityInformation, &wide, 8); },
                      [&] { return !HeapSetInformation(h, HeapCompatibilityInformation, &other, 4); },
                      [&] { return !HeapSetInformation(h, HeapCompatibilityInformation, nullptr, 4); },
                      [&] { return !HeapSetInformation(h, HEAP_INFORMATION_CLASS(1), &mode, 4); },
                      [&] { return !HeapAlloc(h, 8, 10); }, [&] { return !HeapReAlloc(h, 0x10, p, 20); },
                      [&] { return !HeapFree(h, 1, p); }, [&] { return HeapSize(h, 1, p) == kNoSize; },
                      [&] { return !HeapValidate(h, 1, p); },
                      [&] { return !HeapReAlloc(h, 0, nullptr, 10); }}));
        EXPECT_TRUE(HeapFree(h, 0, p));
    }
    EXPECT_EQ(all(3, ERROR_INVALID_PARAMETER),
              errorsOf({[] { return !HeapCreate(1, 0, 0); }, [] { return !HeapCreate(0, 0, 65536); },
                        [] { return !HeapDestroy(kRuntimeHeap); }}));
    EXPECT_TRUE(walksAs(heap, {}));
}

} // namespace
