// tests/platform/HeapsTest.cpp
// Private heaps and the C runtime heap through the Heap... functions, walks checked against a model.

#include "platform/PlatformTest.h"

#include <algorithm>
#include <cerrno>
#include <malloc.h>
#include <map>
#include <mutex>
#include <random>
#include <sys/mman.h>

using namespace win;
using oxtest::errorOf;
using oxtest::Errors;
using ::testing::Each;

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
    return ::testing::AssertionResult(walk.ended && walk.tiled && walk.busy == model &&
                                      HeapValidate(heap, 0, nullptr))
           << "walk ended " << walk.ended << ", tiled " << walk.tiled << ", lists " << walk.busy.size();
}

// Byte i of a block is seed + 7i; seedOf ties the seed to the address, so bytes landing elsewhere show.
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
    for (std::size_t i = 0; i < size; ++i)
        if (static_cast<const unsigned char*>(p)[i] != static_cast<unsigned char>(seed + i * 7))
            return false;
    return true;
}

// Any mix of allocations, reallocations and frees (sizes from 0, segment blocks and blocks of their
// own mapping, growing and shrinking in place and by moving): a block misaligned, not holding exactly
// its size or spilling into a neighbour; a walk listing other than the live blocks; the heap invalid.
TEST(PrivateHeapModel, WalkListsExactlyTheLiveBlocks)
{
    ScopedHeap heap;
    std::mt19937 random(42);
    BlockMap model;
    for (int step = 0; step < 3000; ++step) {
        SCOPED_TRACE(step);
        const unsigned action = random() % 10, kind = random() % 100;
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
            ASSERT_TRUE(p != nullptr && (p == block || model.count(p) == 0) &&
                        reinterpret_cast<std::uintptr_t>(p) % 16 == 0 && HeapSize(heap, 0, p) == size &&
                        HeapValidate(heap, 0, p) && holds(p, std::min(size, oldSize), seedOf(block)));
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

// A new heap not one region holding its initial size; hundreds of large blocks not all listed in
// address order (their table outgrows a page, a moved one is re-sorted); emptied segments other than
// the first and the newest kept. A destroyed heap left mapped, its slot not reused (also after the
// table went round) or its handle not refused unread; GetProcessHeaps not listing the live heaps, the
// C runtime's first, or writing more than it may.
TEST(PrivateHeapWalk, ListsSegmentsAndLargeBlocksUntilTheHeapIsDestroyed)
{
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(HeapDestroy(HeapCreate(0, 0, 0))) << i;
    HANDLE heap = HeapCreate(0, 1 << 20, 0);
    const Walk first = walkHeap(heap);
    ASSERT_TRUE(first.ended && first.tiled && first.busy.empty() && first.regions.size() == 1 &&
                first.regions[0].Region.dwCommittedSize >= 1u << 20);
    BlockMap model;
    for (SIZE_T size = 600000; size < 600400; ++size)
        model.emplace(HeapAlloc(heap, 0, size), size); // pages never touched: address space only
    std::vector<void*> small(2000);
    for (void*& p : small)
        model.emplace(p = HeapAlloc(heap, 0, 4000), 4000);
    const Walk full = walkHeap(heap);
    EXPECT_TRUE(full.regions.size() > 3 && walksAs(heap, model));
    for (void* p : small)
        ASSERT_TRUE(HeapFree(heap, 0, p) && model.erase(p));
    EXPECT_LE(walkHeap(heap).regions.size(), 2u);
    for (auto it = model.begin(); it != model.end(); it = std::next(model.erase(it))) // every other one
        ASSERT_TRUE(HeapFree(heap, 0, it->first));
    void* top = std::prev(model.end())->first; // grown, its mapping moves below the others
    model.erase(top);
    model.emplace(HeapReAlloc(heap, 0, top, 5000000), 5000000);
    EXPECT_TRUE(walksAs(heap, model));

    const DWORD heapCount = GetProcessHeaps(0, nullptr);
    ASSERT_TRUE(HeapDestroy(heap));
    auto isMapped = [](void* p) { return msync(p, 4096, MS_ASYNC) == 0 || errno != ENOMEM; };
    EXPECT_FALSE(
        std::any_of(full.regions.begin(), full.regions.end(), [&](auto& r) { return isMapped(r.lpData); }) ||
        std::any_of(model.begin(), model.end(), [&](auto& b) { return isMapped(b.first); }));
    ScopedHeap successor; // in the destroyed heap's slot
    void* block = HeapAlloc(successor, 0, 10);
    std::vector<HANDLE> heaps(heapCount + 1, heap);
    EXPECT_TRUE(GetProcessHeaps(heapCount - 1, heaps.data()) == heapCount && heaps[0] == kRuntimeHeap &&
                heaps[heapCount - 1] == heap);
    EXPECT_TRUE(GetProcessHeaps(heapCount, heaps.data()) == heapCount && heaps[heapCount] == heap &&
                std::count(heaps.begin(), heaps.end(), successor.handle) == 1 &&
                std::count(heaps.begin(), heaps.end(), heap) == 1);
    PROCESS_HEAP_ENTRY entry{};
    EXPECT_THAT((Errors{errorOf(HeapAlloc(heap, 0, 10)), errorOf(HeapFree(heap, 0, block)),
                        errorOf(HeapSize(heap, 0, block) != kNoSize), errorOf(HeapWalk(heap, &entry)),
                        errorOf(HeapDestroy(heap))}),
                Each(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(walksAs(successor, {{block, 10}}));
}

// Accepted or changing anything: pointers the heap never handed out (interior, freed: a double free,
// foreign), forged walk entries, sizes near SIZE_MAX (wrapping when rounded up to blocks or pages),
// and flags or options, none of which is emulated (a block not zeroed as asked, a heap without the
// limit it was given); low fragmentation (class 0, a 4-byte 2) refused on some heap, or a wrong
// length, value or class taken. The C runtime heap's blocks not glibc's (either side frees, usable
// sizes, a 0-byte realloc keeps a block); it not walking as one region, or destroyed.
TEST(HeapRefusals, ForeignPointersFlagsAndOptionsAreRefusedAndChangeNothing)
{
    ScopedHeap heap, other;
    auto* small = static_cast<char*>(HeapAlloc(heap, 0, 100));
    auto* large = static_cast<char*>(HeapAlloc(heap, 0, 700000));
    fill(small, 100, 1); // read as a header, these bytes could look busy
    fill(large, 700000, 6);
    auto* freed = static_cast<char*>(HeapAlloc(heap, 0, 40));
    void* freedLarge = HeapAlloc(heap, 0, 1500000);
    ASSERT_TRUE(HeapFree(heap, 0, freed) && HeapFree(heap, 0, freedLarge));
    void* fromOther = HeapAlloc(other, 0, 100);
    void* fromMalloc = std::malloc(100);
    int local = 0;
    for (void* p :
         std::initializer_list<void*>{small + 1, small + 16, small - 16, small + 112, large + 4096,
                                      large + 16, freed, freedLarge, fromOther, fromMalloc, &local,
                                      walkHeap(heap).regions[0].lpData, reinterpret_cast<void*>(0x1000)}) {
        PROCESS_HEAP_ENTRY entry{};
        entry.lpData = p;
        EXPECT_THAT((Errors{errorOf(HeapFree(heap, 0, p)), errorOf(HeapSize(heap, 0, p) != kNoSize),
                            errorOf(HeapValidate(heap, 0, p)), errorOf(HeapReAlloc(heap, 0, p, 8))}),
                    Each(ERROR_INVALID_PARAMETER))
            << p;
        EXPECT_TRUE(p == freed || !HeapWalk(heap, &entry)) << p; // a free block is a walk entry
    }
    PROCESS_HEAP_ENTRY dressed{small, 0, 0, 0, PROCESS_HEAP_REGION, {}};
    EXPECT_THAT((Errors{errorOf(HeapWalk(heap, &dressed)), errorOf(HeapWalk(heap, nullptr)),
                        errorOf(HeapCreate(1, 0, 0)), errorOf(HeapCreate(0, 0, 65536)),
                        errorOf(HeapDestroy(kRuntimeHeap))}),
                Each(ERROR_INVALID_PARAMETER));
    for (SIZE_T huge : {kNoSize, kNoSize - 15, kNoSize - 4096, kNoSize / 2, SIZE_T{1} << 47})
        EXPECT_THAT((Errors{errorOf(HeapAlloc(heap, 0, huge)), errorOf(HeapReAlloc(heap, 0, small, huge)),
                            errorOf(HeapReAlloc(heap, 0, large, huge))}),
                    Each(ERROR_NOT_ENOUGH_MEMORY));
    ULONG mode = 2, otherMode = 1;
    std::uint64_t wideMode = 2;
    for (auto [h, p] : {std::pair{heap.handle, small}, {kRuntimeHeap, static_cast<char*>(fromMalloc)}}) {
        EXPECT_TRUE(HeapSetInformation(h, HeapCompatibilityInformation, &mode, sizeof mode));
        EXPECT_THAT((Errors{errorOf(HeapSetInformation(h, HeapCompatibilityInformation, &wideMode, 8)),
                            errorOf(HeapSetInformation(h, HeapCompatibilityInformation, &otherMode, 4)),
                            errorOf(HeapSetInformation(h, HeapCompatibilityInformation, nullptr, 4)),
                            errorOf(HeapSetInformation(h, HEAP_INFORMATION_CLASS(1), &mode, 4)),
                            errorOf(HeapAlloc(h, 8, 10)), errorOf(HeapReAlloc(h, 0x10, p, 20)),
                            errorOf(HeapFree(h, 1, p)), errorOf(HeapSize(h, 1, p) != kNoSize),
                            errorOf(HeapValidate(h, 1, p)), errorOf(HeapReAlloc(h, 0, nullptr, 10))}),
                    Each(ERROR_INVALID_PARAMETER));
    }
    EXPECT_TRUE(HeapFree(heap, 0, nullptr) && holds(small, 100, 1) && holds(large, 700000, 6));
    EXPECT_TRUE(walksAs(heap, {{small, 100}, {large, 700000}}) && walksAs(other, {{fromOther, 100}}));
    auto* p = static_cast<char*>(HeapAlloc(kRuntimeHeap, 0, 100));
    ASSERT_TRUE(p != nullptr && HeapSize(kRuntimeHeap, 0, p) == malloc_usable_size(p));
    fill(p, 100, 8);
    EXPECT_TRUE(holds(p = static_cast<char*>(HeapReAlloc(kRuntimeHeap, 0, p, 100000)), 100, 8) &&
                HeapFree(kRuntimeHeap, 0, fromMalloc) &&
                HeapFree(kRuntimeHeap, 0, HeapReAlloc(kRuntimeHeap, 0, HeapAlloc(kRuntimeHeap, 0, 0), 0)));
    std::free(p);
    const Walk walk = walkHeap(kRuntimeHeap);
    EXPECT_TRUE(walksAs(kRuntimeHeap, {}) && walk.regions.size() == 1 && walk.regions[0].lpData &&
                HeapLock(kRuntimeHeap) && HeapUnlock(kRuntimeHeap));
}

// HeapLock not holding the other threads off while the holder goes on using the heap; threads that
// free each other's blocks (swapped through shared slots) corrupting survivors or the walk.
TEST(PrivateHeapThreads, LockHoldsOthersOffAndThreadsFreeEachOthersBlocks)
{
    ScopedHeap heap;
    ASSERT_TRUE(HeapLock(heap));
    void* mine = HeapAlloc(heap, 0, 10);
    std::atomic<int> allocated{0};
    std::mutex slotsLock;
    std::vector<std::pair<void*, std::size_t>> slots(256, {nullptr, 0});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            for (int i = 0; i < 4000; ++i) {
                const std::size_t size = random() % 3 == 0 ? random() % 20000 : random() % 200;
                std::pair<void*, std::size_t> block{HeapAlloc(heap, 0, size), size};
                ASSERT_NE(nullptr, block.first);
                ++allocated;
                fill(block.first, size, seedOf(block.first));
                std::unique_lock<std::mutex> guard(slotsLock);
                std::swap(block, slots[random() % slots.size()]);
                guard.unlock();
                ASSERT_TRUE(holds(block.first, block.second, seedOf(block.first)) &&
                            HeapFree(heap, 0, block.first));
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(0, allocated.load()); // fails only when the lock does not keep the others out
    ASSERT_TRUE(HeapUnlock(heap));
    for (std::thread& thread : threads)
        thread.join();
    BlockMap model{{mine, 10}}; // a block whose contents changed is left out: the walk disagrees
    for (const auto& [p, size] : slots)
        if (p != nullptr && holds(p, size, seedOf(p)))
            model.emplace(p, size);
    EXPECT_TRUE(walksAs(heap, model));
}

} // namespace
