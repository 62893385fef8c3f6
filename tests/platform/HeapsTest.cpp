// tests/platform/HeapsTest.cpp
// Private heaps and the C runtime heap through the Heap... functions: sizes and contents,
// reallocation, walks checked against a model, refusal of pointers and handles that are not
// the heap's own, fixed-size heaps, exceptions, locking and threads.

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
constexpr DWORD kNoError = 0xDEAD;

class ScopedHeap {
public:
    explicit ScopedHeap(DWORD options = 0, SIZE_T initialSize = 0, SIZE_T maximumSize = 0)
        : mHeap(HeapCreate(options, initialSize, maximumSize))
    {
    }
    ~ScopedHeap()
    {
        if (mHeap != nullptr)
            HeapDestroy(mHeap);
    }
    ScopedHeap(const ScopedHeap&) = delete;
    ScopedHeap& operator=(const ScopedHeap&) = delete;
    operator HANDLE() const { return mHeap; }

private:
    HANDLE mHeap;
};

using BlockMap = std::map<const void*, std::size_t>; // user pointer -> requested size

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
    const char* expected = nullptr; // next lpData inside the open region, null between regions
    const char* regionEnd = nullptr;
    while (HeapWalk(heap, &entry)) {
        const auto* data = static_cast<const char*>(entry.lpData);
        if (entry.wFlags & PROCESS_HEAP_REGION) {
            walk.tiled &= expected == nullptr;
            walk.regions.push_back(entry);
            expected = static_cast<const char*>(entry.Region.lpFirstBlock) + 16;
            regionEnd = static_cast<const char*>(entry.Region.lpLastBlock);
            continue;
        }
        walk.tiled &= reinterpret_cast<std::uintptr_t>(data) % 16 == 0;
        if (expected != nullptr) {
            walk.tiled &= data == expected;
            expected = data + entry.cbData + entry.cbOverhead;
            if (expected - 16 == regionEnd)
                expected = nullptr;
        } else {
            walk.tiled &= (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0; // a block of its own mapping
        }
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            walk.busy.emplace(entry.lpData, entry.cbData);
        if (walk.regions.size() + walk.busy.size() > 1'000'000)
            return walk; // a walk that never ends
    }
    walk.ended = GetLastError() == ERROR_NO_MORE_ITEMS;
    walk.tiled &= expected == nullptr;
    return walk;
}

::testing::AssertionResult walksAs(HANDLE heap, const BlockMap& model)
{
    const Walk walk = walkHeap(heap);
    if (!walk.ended)
        return ::testing::AssertionFailure() << "the walk did not end with ERROR_NO_MORE_ITEMS";
    if (!walk.tiled)
        return ::testing::AssertionFailure() << "the entries do not tile their regions";
    if (walk.busy != model)
        return ::testing::AssertionFailure()
               << "walk lists " << walk.busy.size() << " busy blocks, model has " << model.size();
    if (!HeapValidate(heap, 0, nullptr))
        return ::testing::AssertionFailure() << "HeapValidate of the whole heap failed";
    return ::testing::AssertionSuccess();
}

void fill(void* p, std::size_t size, unsigned char seed)
{
    auto* bytes = static_cast<unsigned char*>(p);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
}

bool holds(const void* p, std::size_t size, unsigned char seed)
{
    const auto* bytes = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != static_cast<unsigned char>(seed + i * 7))
            return false;
    }
    return true;
}

bool isZero(const void* p, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(p);
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

DWORD errorAfter(auto call)
{
    SetLastError(kNoError);
    call();
    return GetLastError();
}

// ---------------------------------------------------------------------------------------------
// Sizes, across the kinds of heap

enum class Kind { kGrowable, kFixed, kUnserialized };

class PrivateHeapBlocks : public ::testing::TestWithParam<std::tuple<Kind, SIZE_T>> {
protected:
    PrivateHeapBlocks()
        : mHeap(kind() == Kind::kUnserialized ? HEAP_NO_SERIALIZE : 0, 0,
                kind() == Kind::kFixed ? 4 << 20 : 0)
    {
    }
    Kind kind() const { return std::get<0>(GetParam()); }
    SIZE_T size() const { return std::get<1>(GetParam()); }
    ScopedHeap mHeap;
};

// Each block holds exactly what was asked: the size is answered exactly, the whole range is
// writable without touching a neighbour, and the walk lists it with that size.
TEST_P(PrivateHeapBlocks, HoldsExactlyTheRequestedSize)
{
    void* a = HeapAlloc(mHeap, 0, size());
    void* b = HeapAlloc(mHeap, 0, size());
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(a) % 16);
    EXPECT_EQ(size(), HeapSize(mHeap, 0, a));
    fill(a, size(), 1);
    fill(b, size(), 2);
    EXPECT_TRUE(holds(a, size(), 1));
    EXPECT_TRUE(HeapValidate(mHeap, 0, a));
    EXPECT_TRUE(walksAs(mHeap, {{a, size()}, {b, size()}}));

    ASSERT_TRUE(HeapFree(mHeap, 0, a));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] { EXPECT_EQ(kNoSize, HeapSize(mHeap, 0, a)); }));
    EXPECT_FALSE(HeapValidate(mHeap, 0, a));
    EXPECT_TRUE(holds(b, size(), 2));
    EXPECT_TRUE(walksAs(mHeap, {{b, size()}}));
}

// A reused block is dirty; HEAP_ZERO_MEMORY must clear it anyway.
TEST_P(PrivateHeapBlocks, ZeroMemoryClearsReusedBlocks)
{
    void* dirty = HeapAlloc(mHeap, 0, size());
    ASSERT_NE(nullptr, dirty);
    std::memset(dirty, 0xCD, size());
    ASSERT_TRUE(HeapFree(mHeap, 0, dirty));
    void* p = HeapAlloc(mHeap, HEAP_ZERO_MEMORY, size());
    ASSERT_NE(nullptr, p);
    EXPECT_TRUE(isZero(p, size()));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PrivateHeapBlocks,
    ::testing::Combine(::testing::Values(Kind::kGrowable, Kind::kFixed, Kind::kUnserialized),
                       ::testing::Values(0, 1, 15, 16, 17, 1000, 4096, 100000, 600000, 1500000)));

// Zero-byte blocks are real blocks: distinct, freeable once each.
TEST(PrivateHeapSizes, ZeroByteBlocksAreDistinct)
{
    ScopedHeap heap;
    BlockMap model;
    for (int i = 0; i < 100; ++i)
        model.emplace(HeapAlloc(heap, 0, 0), 0);
    EXPECT_EQ(100u, model.size());
    EXPECT_EQ(0u, model.count(nullptr));
    EXPECT_TRUE(walksAs(heap, model));
}

// Rounding a request near SIZE_MAX up to whole blocks or pages must not wrap to a small size.
TEST(PrivateHeapSizes, SizesNearTheTopFailCleanly)
{
    for (SIZE_T maximum : {SIZE_T{0}, SIZE_T{1} << 20}) {
        ScopedHeap heap(0, 0, maximum);
        void* p = HeapAlloc(heap, 0, 64);
        fill(p, 64, 3);
        for (SIZE_T size : {kNoSize, kNoSize - 15, kNoSize - 4096, kNoSize / 2, SIZE_T{1} << 47}) {
            EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY,
                      errorAfter([&] { EXPECT_EQ(nullptr, HeapAlloc(heap, 0, size)); }));
            EXPECT_EQ(nullptr, HeapReAlloc(heap, 0, p, size));
        }
        EXPECT_TRUE(holds(p, 64, 3));
        EXPECT_TRUE(walksAs(heap, {{p, 64}}));
    }
}

// ---------------------------------------------------------------------------------------------
// Reallocation

// Growing through every kind of block (small, logarithmic bins, own mapping) and back keeps the
// contents that both sizes share.
TEST(PrivateHeapReAlloc, ContentsSurviveGrowingAndShrinking)
{
    ScopedHeap heap;
    const std::vector<SIZE_T> sizes = {1,      17,      100,    1000,  5000, 100000,
                                       700000, 3000000, 800000, 40000, 300,  0};
    void* p = HeapAlloc(heap, 0, 0);
    void* neighbour = HeapAlloc(heap, 0, 8); // keeps in-place growth honest: something follows p
    SIZE_T current = 0;
    for (SIZE_T size : sizes) {
        fill(p, current, 9);
        p = HeapReAlloc(heap, 0, p, size);
        ASSERT_NE(nullptr, p) << size;
        EXPECT_EQ(size, HeapSize(heap, 0, p));
        EXPECT_TRUE(holds(p, std::min(current, size), 9)) << current << " -> " << size;
        EXPECT_TRUE(walksAs(heap, {{p, size}, {neighbour, 8}}));
        current = size;
    }
}

// HEAP_REALLOC_IN_PLACE_ONLY fails rather than move, leaving the block as it was; with free
// space behind the block it grows where it is.
TEST(PrivateHeapReAlloc, InPlaceOnlyNeverMoves)
{
    for (SIZE_T size : {SIZE_T{100}, SIZE_T{600000}}) {
        ScopedHeap heap;
        void* p = HeapAlloc(heap, 0, size);
        void* blocker = HeapAlloc(heap, 0, size);
        fill(p, size, 4);
        // A segment block with a busy neighbour cannot grow; a mapping may find room behind it.
        void* grown = HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, p, 64 * size);
        if (size < 1000 || grown == nullptr) {
            EXPECT_EQ(nullptr, grown);
            EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, GetLastError());
            EXPECT_EQ(size, HeapSize(heap, 0, p));
        } else {
            EXPECT_EQ(p, grown);
        }
        EXPECT_TRUE(holds(p, size, 4));
        EXPECT_EQ(p, HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, p, size / 2));
        if (size < 1000) { // a segment block: the space behind it is the heap's to give
            ASSERT_TRUE(HeapFree(heap, 0, blocker));
            EXPECT_EQ(p, HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, p, 4 * size));
            EXPECT_TRUE(holds(p, size / 2, 4));
            EXPECT_TRUE(walksAs(heap, {{p, 4 * size}}));
        } else {
            EXPECT_TRUE(walksAs(heap, {{p, size / 2}, {blocker, size}}));
        }
    }
}

// A shrink leaves the old bytes in place; growing again with HEAP_ZERO_MEMORY must clear them,
// whether the block grows in place, moves, or lives in its own mapping.
TEST(PrivateHeapReAlloc, ZeroMemoryClearsTheGrownTail)
{
    ScopedHeap heap;
    for (SIZE_T size : {SIZE_T{100}, SIZE_T{5000}, SIZE_T{700000}}) {
        auto* p = static_cast<unsigned char*>(HeapAlloc(heap, 0, size));
        std::memset(p, 0xAB, size);
        p = static_cast<unsigned char*>(HeapReAlloc(heap, 0, p, size / 10));
        p = static_cast<unsigned char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, p, size));
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(0xAB, p[size / 10 - 1]);
        EXPECT_TRUE(isZero(p + size / 10, size - size / 10)) << size;
        void* blocker = HeapAlloc(heap, 0, 16); // likely right behind p: the next growth moves
        p = static_cast<unsigned char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, p, 3 * size));
        ASSERT_NE(nullptr, p);
        EXPECT_TRUE(isZero(p + size / 10, 3 * size - size / 10)) << size;
        HeapFree(heap, 0, p);
        HeapFree(heap, 0, blocker);
    }
}

// A null block is a caller error on this interface (the front end allocates instead).
TEST(PrivateHeapReAlloc, NullBlockIsRefused)
{
    ScopedHeap heap;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] {
                  EXPECT_EQ(nullptr, HeapReAlloc(heap, HEAP_GENERATE_EXCEPTIONS, nullptr, 10));
              }));
    EXPECT_TRUE(walksAs(heap, {}));
}

// ---------------------------------------------------------------------------------------------
// Walking and validation against a model

class PrivateHeapModel : public ::testing::TestWithParam<SIZE_T /*maximum size*/> {};

// After any mix of allocations, reallocations and frees the walk lists exactly the live
// blocks with their sizes, every block keeps its contents, and the heap validates. A fixed
// heap also runs out now and then: that must change nothing.
TEST_P(PrivateHeapModel, WalkListsExactlyTheLiveBlocks)
{
    ScopedHeap heap(0, 0, GetParam());
    std::mt19937 random(42);
    BlockMap model;
    std::map<const void*, unsigned char> seeds;
    std::vector<void*> live;
    auto pickSize = [&]() -> SIZE_T {
        const unsigned kind = random() % 100;
        if (kind < 70)
            return random() % 300;
        if (kind < 97)
            return 1000 + random() % 30000;
        return 520000 + random() % 300000;
    };
    for (int step = 0; step < 3000; ++step) {
        const unsigned action = random() % 10;
        if (action < 5 || live.empty()) {
            const SIZE_T size = pickSize();
            void* p = HeapAlloc(heap, 0, size);
            if (p == nullptr) {
                ASSERT_NE(0u, GetParam()) << "a growable heap failed at step " << step;
                continue;
            }
            ASSERT_EQ(0u, model.count(p));
            seeds[p] = static_cast<unsigned char>(step);
            fill(p, size, seeds[p]);
            model[p] = size;
            live.push_back(p);
        } else {
            const std::size_t index = random() % live.size();
            void* p = live[index];
            ASSERT_TRUE(holds(p, model[p], seeds[p])) << "step " << step;
            if (action < 8) {
                ASSERT_TRUE(HeapFree(heap, 0, p));
                model.erase(p);
                live[index] = live.back();
                live.pop_back();
            } else {
                const SIZE_T size = pickSize();
                void* q = HeapReAlloc(heap, 0, p, size);
                if (q == nullptr) {
                    ASSERT_NE(0u, GetParam());
                    continue;
                }
                ASSERT_TRUE(holds(q, std::min(size, model[p]), seeds[p]));
                model.erase(p);
                seeds.erase(p);
                seeds[q] = static_cast<unsigned char>(step);
                fill(q, size, seeds[q]);
                model[q] = size;
                live[index] = q;
            }
        }
        ASSERT_TRUE(HeapValidate(heap, 0, nullptr)) << "step " << step;
        if (step % 10 == 0) {
            ASSERT_TRUE(walksAs(heap, model)) << "step " << step;
        }
    }
    ASSERT_TRUE(walksAs(heap, model));
    for (void* p : live)
        ASSERT_TRUE(HeapFree(heap, 0, p));
    EXPECT_TRUE(walksAs(heap, {}));
}

INSTANTIATE_TEST_SUITE_P(GrowableAndFixed, PrivateHeapModel, ::testing::Values(0, 4 << 20));

// A new heap is a region of free space; its committed size covers the initial size.
TEST(PrivateHeapWalk, NewHeapIsOneRegionHoldingTheInitialSize)
{
    ScopedHeap heap(0, 1 << 20, 0);
    const Walk walk = walkHeap(heap);
    ASSERT_TRUE(walk.ended);
    EXPECT_TRUE(walk.tiled);
    ASSERT_EQ(1u, walk.regions.size());
    EXPECT_GE(walk.regions[0].Region.dwCommittedSize, 1u << 20);
    EXPECT_TRUE(walk.busy.empty());
}

// An entry the heap never handed out (a made-up address, an interior pointer, a block entry
// dressed as a region) is refused, never followed.
TEST(PrivateHeapWalk, ForgedEntriesAreRefused)
{
    ScopedHeap heap;
    auto* p = static_cast<char*>(HeapAlloc(heap, 0, 100));
    int local = 0;
    for (void* forged : {static_cast<void*>(p + 16), static_cast<void*>(p + 1), static_cast<void*>(&local)}) {
        PROCESS_HEAP_ENTRY entry{};
        entry.lpData = forged;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] { EXPECT_FALSE(HeapWalk(heap, &entry)); }));
    }
    PROCESS_HEAP_ENTRY entry{};
    entry.lpData = p;
    entry.wFlags = PROCESS_HEAP_REGION;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] { EXPECT_FALSE(HeapWalk(heap, &entry)); }));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] { EXPECT_FALSE(HeapWalk(heap, nullptr)); }));
}

// Blocks of their own mapping are found by address among many (the table outgrows its first
// page) and listed after the regions.
TEST(PrivateHeapWalk, ManyLargeBlocksAreTracked)
{
    ScopedHeap heap;
    BlockMap model;
    std::vector<void*> blocks;
    for (int i = 0; i < 400; ++i) {
        const SIZE_T size = 600000 + i;
        blocks.push_back(HeapAlloc(heap, 0, size)); // pages never touched: address space only
        ASSERT_NE(nullptr, blocks.back());
        model.emplace(blocks.back(), size);
    }
    EXPECT_TRUE(walksAs(heap, model));
    for (std::size_t i = 0; i < blocks.size(); i += 2) {
        ASSERT_TRUE(HeapFree(heap, 0, blocks[i]));
        model.erase(blocks[i]);
    }
    EXPECT_FALSE(HeapValidate(heap, 0, blocks[0]));
    EXPECT_EQ(600001u, HeapSize(heap, 0, blocks[1]));
    EXPECT_TRUE(walksAs(heap, model));
}

// Space freed in bulk goes back to the system: after a peak that needed many segments only a
// couple stay mapped.
TEST(PrivateHeapWalk, FreeingEverythingReturnsTheMiddleSegments)
{
    ScopedHeap heap;
    std::vector<void*> blocks;
    for (int i = 0; i < 2000; ++i)
        blocks.push_back(HeapAlloc(heap, 0, 4000));
    EXPECT_GT(walkHeap(heap).regions.size(), 3u);
    for (void* p : blocks)
        HeapFree(heap, 0, p);
    EXPECT_LE(walkHeap(heap).regions.size(), 2u);
    EXPECT_TRUE(walksAs(heap, {}));
}

// ---------------------------------------------------------------------------------------------
// Pointers that are not the heap's own

// Each is refused by every function that takes a block, with ERROR_INVALID_PARAMETER, and the
// heap and its blocks stay as they were.
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
    const Walk walk = walkHeap(heap);

    const std::vector<void*> foreign = {small + 1,
                                        small + 16,
                                        small - 16,
                                        small + 112,
                                        large + 4096,
                                        large + 16,
                                        freed,
                                        fromOther,
                                        fromMalloc,
                                        &local,
                                        walk.regions[0].lpData,
                                        reinterpret_cast<void*>(0x1000)};
    for (void* p : foreign) {
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] { EXPECT_FALSE(HeapFree(heap, 0, p)); })) << p;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] { EXPECT_EQ(kNoSize, HeapSize(heap, 0, p)); }))
            << p;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] { EXPECT_FALSE(HeapValidate(heap, 0, p)); })) << p;
        EXPECT_EQ(ERROR_INVALID_PARAMETER,
                  errorAfter([&] { EXPECT_EQ(nullptr, HeapReAlloc(heap, 0, p, 8)); }))
            << p;
    }
    EXPECT_TRUE(std::all_of(small, small + 100, [](char c) { return c == 0x01; }));
    EXPECT_TRUE(holds(large, 700000, 6));
    EXPECT_TRUE(walksAs(heap, {{small, 100}, {large, 700000}}));
    EXPECT_TRUE(walksAs(other, {{fromOther, 100}}));
    std::free(fromMalloc);
}

// A second free of the same block must not put it in a bin twice.
TEST(PrivateHeapForeignPointers, DoubleFreeIsRefused)
{
    ScopedHeap heap;
    void* p = HeapAlloc(heap, 0, 48);
    void* q = HeapAlloc(heap, 0, 48);
    ASSERT_TRUE(HeapFree(heap, 0, p));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] { EXPECT_FALSE(HeapFree(heap, 0, p)); }));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
    EXPECT_TRUE(walksAs(heap, {{q, 48}}));
    void* a = HeapAlloc(heap, 0, 48);
    void* b = HeapAlloc(heap, 0, 48);
    EXPECT_NE(a, b);
}

// ---------------------------------------------------------------------------------------------
// Handles

// A destroyed heap's handle, a reused slot's old handle and values that were never handles are
// refused by every function, without being dereferenced.
TEST(HeapHandles, InvalidHandlesAreRefusedEverywhere)
{
    HANDLE destroyed = HeapCreate(0, 0, 0);
    ASSERT_TRUE(HeapDestroy(destroyed));
    ScopedHeap successor; // likely in the destroyed heap's slot
    void* block = HeapAlloc(successor, 0, 10);
    int local = 0;
    void* fromMalloc = std::malloc(16);
    const std::vector<HANDLE> handles = {destroyed, nullptr,    reinterpret_cast<HANDLE>(0x1234),
                                         &local,    fromMalloc, reinterpret_cast<HANDLE>(~std::uintptr_t{0})};
    for (HANDLE h : handles) {
        PROCESS_HEAP_ENTRY entry{};
        ULONG mode = 2;
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] { EXPECT_EQ(nullptr, HeapAlloc(h, 0, 10)); })) << h;
        EXPECT_EQ(ERROR_INVALID_HANDLE,
                  errorAfter([&] { EXPECT_EQ(nullptr, HeapReAlloc(h, 0, block, 20)); }));
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] { EXPECT_FALSE(HeapFree(h, 0, block)); }));
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] { EXPECT_FALSE(HeapFree(h, 0, nullptr)); }));
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] { EXPECT_EQ(kNoSize, HeapSize(h, 0, block)); }));
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] { EXPECT_FALSE(HeapValidate(h, 0, nullptr)); }));
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] { EXPECT_FALSE(HeapLock(h)); }));
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] { EXPECT_FALSE(HeapUnlock(h)); }));
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] { EXPECT_FALSE(HeapWalk(h, &entry)); }));
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] { EXPECT_FALSE(HeapDestroy(h)); }));
        EXPECT_EQ(ERROR_INVALID_HANDLE, errorAfter([&] {
                      EXPECT_FALSE(HeapSetInformation(h, HeapCompatibilityInformation, &mode, sizeof mode));
                  }));
    }
    EXPECT_TRUE(walksAs(successor, {{block, 10}}));
    std::free(fromMalloc);
}

// Destroying a heap returns every mapping it had, segments and large blocks alike.
TEST(HeapHandles, DestroyUnmapsEverything)
{
    HANDLE heap = HeapCreate(0, 0, 0);
    for (int i = 0; i < 300; ++i)
        HeapAlloc(heap, 0, 3000);
    HeapAlloc(heap, 0, 2000000);
    const Walk walk = walkHeap(heap);
    ASSERT_GT(walk.regions.size(), 1u);
    ASSERT_TRUE(HeapDestroy(heap));
    auto isMapped = [](const void* p) {
        void* page = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t{4095});
        return msync(page, 4096, MS_ASYNC) == 0 || errno != ENOMEM;
    };
    for (const PROCESS_HEAP_ENTRY& region : walk.regions)
        EXPECT_FALSE(isMapped(region.lpData));
    for (const auto& [p, size] : walk.busy) {
        if (size >= 2000000) {
            EXPECT_FALSE(isMapped(p));
        }
    }
}

// Slots come back when heaps are destroyed: creating and destroying more heaps than the
// table holds never runs out.
TEST(HeapHandles, SlotsAreReusedAfterDestroy)
{
    for (int i = 0; i < 20000; ++i) {
        HANDLE heap = HeapCreate(0, 0, 4096);
        ASSERT_NE(nullptr, heap) << i;
        ASSERT_TRUE(HeapDestroy(heap));
    }
}

// The C runtime heap comes first, then every live private heap; a short array gets what fits
// and nothing past it.
TEST(HeapHandles, GetProcessHeapsListsEveryLiveHeap)
{
    const DWORD before = GetProcessHeaps(0, nullptr);
    ScopedHeap a;
    ScopedHeap b;
    HANDLE c = HeapCreate(0, 0, 0);
    std::vector<HANDLE> heaps(before + 3);
    ASSERT_EQ(before + 3, GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    EXPECT_EQ(reinterpret_cast<HANDLE>(_get_heap_handle()), heaps[0]);
    for (HANDLE h : {static_cast<HANDLE>(a), static_cast<HANDLE>(b), c})
        EXPECT_EQ(1, std::count(heaps.begin(), heaps.end(), h));
    HeapDestroy(c);
    std::vector<HANDLE> shorter(before + 3, reinterpret_cast<HANDLE>(0x77));
    ASSERT_EQ(before + 2, GetProcessHeaps(1, shorter.data()));
    EXPECT_EQ(heaps[0], shorter[0]);
    EXPECT_EQ(reinterpret_cast<HANDLE>(0x77), shorter[1]);
    ASSERT_EQ(before + 2, GetProcessHeaps(before + 2, shorter.data()));
    EXPECT_EQ(0, std::count(shorter.begin(), shorter.end(), c));
}

// ---------------------------------------------------------------------------------------------
// Heaps with a maximum size

// The heap never maps more than its maximum (rounded to pages) and fails beyond it. A freed
// block serves a request of its size even when it sits behind a smaller block in a bin that
// spans both sizes; freed space merges again into one block.
TEST(FixedSizeHeap, FailsBeyondTheMaximumAndRecoversAfterFrees)
{
    ScopedHeap heap(0, 0, 64 * 1024 - 100);
    std::vector<void*> larger;
    std::vector<void*> smaller;
    for (;;) {
        void* a = HeapAlloc(heap, 0, 1100);
        if (a == nullptr)
            break;
        larger.push_back(a);
        void* b = HeapAlloc(heap, 0, 1000);
        if (b == nullptr)
            break;
        smaller.push_back(b);
    }
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, GetLastError());
    EXPECT_GT(larger.size() * 1100 + smaller.size() * 1000, 60000u);
    while (HeapAlloc(heap, 0, 0) != nullptr) {
    }
    const Walk walk = walkHeap(heap);
    ASSERT_EQ(1u, walk.regions.size());
    EXPECT_EQ(64u * 1024, walk.regions[0].Region.dwCommittedSize);

    ASSERT_TRUE(HeapFree(heap, 0, larger[3]));
    ASSERT_TRUE(HeapFree(heap, 0, smaller[5]));
    EXPECT_NE(nullptr, HeapAlloc(heap, 0, 1100));
    EXPECT_EQ(nullptr, HeapAlloc(heap, 0, 1100));

    for (const auto& [p, size] : walkHeap(heap).busy)
        ASSERT_TRUE(HeapFree(heap, 0, const_cast<void*>(p)));
    EXPECT_NE(nullptr, HeapAlloc(heap, 0, 60000));
    EXPECT_EQ(1u, walkHeap(heap).regions.size());
}

// Every request, however large, comes from the one segment: a fixed heap has nothing else.
TEST(FixedSizeHeap, LargeRequestsStayInsideTheMaximum)
{
    ScopedHeap heap(0, 0, 3 << 20);
    void* a = HeapAlloc(heap, 0, 1 << 20);
    void* b = HeapAlloc(heap, 0, 1 << 20);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(nullptr, HeapAlloc(heap, 0, 1 << 20));
    const Walk walk = walkHeap(heap);
    ASSERT_EQ(1u, walk.regions.size());
    EXPECT_TRUE(walk.tiled); // so both blocks lie inside the region
    EXPECT_EQ(3u << 20, walk.regions[0].Region.dwCommittedSize);
}

// ---------------------------------------------------------------------------------------------
// Exceptions

// HEAP_GENERATE_EXCEPTIONS, given to the heap or to the call, turns an allocation failure into
// STATUS_NO_MEMORY; the heap's lock must not be left held by the throw.
TEST(HeapExceptions, OutOfMemoryRaisesStatusNoMemory)
{
    ScopedHeap raising(HEAP_GENERATE_EXCEPTIONS, 0, 64 * 1024);
    ScopedHeap quiet(0, 0, 64 * 1024);
    void* p = HeapAlloc(quiet, 0, 100);
    auto raises = [](auto call) {
        try {
            call();
        } catch (const OxStructuredException& e) {
            return e.code() == STATUS_NO_MEMORY;
        }
        return false;
    };
    EXPECT_TRUE(raises([&] { HeapAlloc(raising, 0, 1 << 20); }));
    EXPECT_TRUE(raises([&] { HeapAlloc(quiet, HEAP_GENERATE_EXCEPTIONS, 1 << 20); }));
    EXPECT_TRUE(raises([&] { HeapReAlloc(quiet, HEAP_GENERATE_EXCEPTIONS, p, 1 << 20); }));
    EXPECT_TRUE(raises(
        [&] { HeapAlloc(reinterpret_cast<HANDLE>(_get_heap_handle()), HEAP_GENERATE_EXCEPTIONS, kNoSize); }));
    EXPECT_EQ(nullptr, HeapAlloc(quiet, 0, 1 << 20));
    // A refused pointer is not a lack of memory.
    EXPECT_EQ(nullptr, HeapReAlloc(raising, 0, &p, 8));

    std::thread other([&] { EXPECT_NE(nullptr, HeapAlloc(raising, 0, 100)); });
    other.join();
    EXPECT_TRUE(walksAs(quiet, {{p, 100}}));
}

// ---------------------------------------------------------------------------------------------
// Locking and threads

// HeapLock takes the heap's own lock: the holder can still use the heap, other threads wait.
TEST(HeapLocking, LockHolderCanAllocateWhileOthersWait)
{
    ScopedHeap heap;
    ASSERT_TRUE(HeapLock(heap));
    void* mine = HeapAlloc(heap, 0, 10);
    std::atomic<bool> allocated{false};
    void* theirs = nullptr;
    std::thread other([&] {
        theirs = HeapAlloc(heap, 0, 10);
        allocated = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(allocated); // can only fail when the lock does not keep the other thread out
    ASSERT_TRUE(HeapUnlock(heap));
    other.join();
    EXPECT_TRUE(walksAs(heap, {{mine, 10}, {theirs, 10}}));
}

// Threads allocate on one heap and free blocks that other threads allocated; afterwards the
// walk lists exactly the survivors and every block kept its contents. Run under TSan too.
TEST(PrivateHeapThreads, ThreadsFreeEachOthersBlocks)
{
    ScopedHeap heap;
    constexpr int kThreads = 4;
    std::mutex mailboxLock;
    std::vector<std::pair<void*, std::size_t>> mailbox;
    std::vector<BlockMap> kept(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            for (int i = 0; i < 4000; ++i) {
                const std::size_t size = random() % 3 == 0 ? random() % 20000 : random() % 200;
                void* p = HeapAlloc(heap, 0, size);
                ASSERT_NE(nullptr, p);
                fill(p, size, static_cast<unsigned char>(size));
                std::pair<void*, std::size_t> other{nullptr, 0};
                {
                    std::lock_guard<std::mutex> guard(mailboxLock);
                    if (random() % 2 == 0) {
                        mailbox.emplace_back(p, size);
                        p = nullptr;
                    }
                    if (!mailbox.empty() && random() % 2 == 0) {
                        other = mailbox.back();
                        mailbox.pop_back();
                    }
                }
                if (p != nullptr)
                    kept[t].emplace(p, size);
                if (other.first != nullptr) {
                    ASSERT_TRUE(holds(other.first, other.second, static_cast<unsigned char>(other.second)));
                    ASSERT_TRUE(HeapFree(heap, 0, other.first));
                }
                if (kept[t].size() > 50) {
                    auto oldest = kept[t].begin();
                    ASSERT_TRUE(HeapFree(heap, 0, const_cast<void*>(oldest->first)));
                    kept[t].erase(oldest);
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    BlockMap model;
    for (const BlockMap& blocks : kept)
        model.insert(blocks.begin(), blocks.end());
    for (const auto& [p, size] : mailbox)
        model.emplace(p, size);
    for (const auto& [p, size] : model)
        ASSERT_TRUE(holds(p, size, static_cast<unsigned char>(size)));
    EXPECT_TRUE(walksAs(heap, model));
}

// ---------------------------------------------------------------------------------------------
// The C runtime heap

HANDLE runtimeHeap()
{
    return reinterpret_cast<HANDLE>(_get_heap_handle());
}

// Its blocks are glibc's: free() takes what HeapAlloc gave and the other way round, and the
// size answered is malloc_usable_size.
TEST(RuntimeHeap, BlocksAreTheCRuntimes)
{
    auto* p = static_cast<char*>(HeapAlloc(runtimeHeap(), HEAP_ZERO_MEMORY, 100));
    ASSERT_NE(nullptr, p);
    EXPECT_TRUE(isZero(p, 100));
    EXPECT_EQ(malloc_usable_size(p), HeapSize(runtimeHeap(), 0, p));
    fill(p, 100, 8);
    p = static_cast<char*>(HeapReAlloc(runtimeHeap(), 0, p, 100000));
    EXPECT_TRUE(holds(p, 100, 8));
    std::free(p);
    void* q = std::malloc(10);
    EXPECT_TRUE(HeapFree(runtimeHeap(), 0, q));
    void* zero = HeapReAlloc(runtimeHeap(), 0, HeapAlloc(runtimeHeap(), 0, 0), 0); // still a block
    ASSERT_NE(nullptr, zero);
    HeapFree(runtimeHeap(), 0, zero);
    EXPECT_TRUE(HeapValidate(runtimeHeap(), 0, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              errorAfter([&] { EXPECT_EQ(nullptr, HeapReAlloc(runtimeHeap(), 0, nullptr, 10)); }));
}

// Its walk is one region (what glibc has handed out), then the end; it cannot be destroyed.
TEST(RuntimeHeap, WalksAsOneRegionAndOutlivesDestroy)
{
    const Walk walk = walkHeap(runtimeHeap());
    EXPECT_TRUE(walk.ended);
    ASSERT_EQ(1u, walk.regions.size());
    EXPECT_NE(nullptr, walk.regions[0].lpData);
    EXPECT_TRUE(walk.busy.empty());
    EXPECT_TRUE(HeapLock(runtimeHeap()));
    EXPECT_TRUE(HeapUnlock(runtimeHeap()));
    EXPECT_FALSE(HeapDestroy(runtimeHeap()));
    void* p = HeapAlloc(runtimeHeap(), 0, 10);
    EXPECT_NE(nullptr, p);
    HeapFree(runtimeHeap(), 0, p);
}

// ---------------------------------------------------------------------------------------------
// Heap information

// Low fragmentation (class 0, a 4-byte 2) is accepted on every heap; a wrong length, value or
// class is refused; termination on corruption needs no heap.
TEST(HeapInformation, LowFragmentationModeIsAcceptedAsWindowsTakesIt)
{
    ScopedHeap heap;
    ULONG mode = 2;
    std::uint64_t wide = 2;
    ULONG other = 1;
    for (HANDLE h : {static_cast<HANDLE>(heap), runtimeHeap()}) {
        EXPECT_TRUE(HeapSetInformation(h, HeapCompatibilityInformation, &mode, sizeof mode));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] {
                      EXPECT_FALSE(HeapSetInformation(h, HeapCompatibilityInformation, &wide, sizeof wide));
                  }));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] {
                      EXPECT_FALSE(HeapSetInformation(h, HeapCompatibilityInformation, &other, sizeof other));
                  }));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] {
                      EXPECT_FALSE(HeapSetInformation(h, HeapCompatibilityInformation, nullptr, 4));
                  }));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorAfter([&] {
                      EXPECT_FALSE(HeapSetInformation(h, static_cast<HEAP_INFORMATION_CLASS>(7), &mode, 4));
                  }));
    }
    EXPECT_TRUE(HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0));
}

} // namespace
