// tests/heap/StackHeapTest.cpp
// The stack heap: arena blocks only for owners on the caller's stack, 16-byte steps, frees
// out of order, the realloc cases, one arena per thread or per fiber, and OxStackAllocator.

#include <oxfirst/OxHeap.h>

#include "heap/HeapTestHooks.h"
#include "platform/TestControls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <malloc.h>
#include <map>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

struct Arena {
    const void* base = nullptr;
    std::uint32_t top = 0;
};

Arena arenaOfCaller()
{
    Arena arena;
    EXPECT_TRUE(oxheap::test::stackArenaOfCaller(&arena.base, &arena.top));
    return arena;
}

bool isInArena(const void* p)
{
    Arena arena;
    const auto* at = static_cast<const char*>(p);
    return oxheap::test::stackArenaOfCaller(&arena.base, &arena.top) && at >= arena.base &&
           at < static_cast<const char*>(arena.base) + 16384;
}

// An owner on the caller's stack gets arena blocks, one after the other, each holding its size
// apart from the length word behind it, up to the arena's last byte. An owner elsewhere, or a
// request that does not fit in the rest of the arena, gets C runtime memory instead.
TEST(StackHeap, OwnersOnTheStackGetArenaBlocksWhileTheyFit)
{
    auto heapOwner = std::make_unique<int>(0);
    void* fromRuntime = oxStackHeapAlloc(40, heapOwner.get());
    EXPECT_TRUE(!isInArena(fromRuntime) && malloc_usable_size(fromRuntime) >= 40u);
    oxStackHeapFree(fromRuntime);

    int owner = 0;
    oxStackHeapFree(oxStackHeapAlloc(0, &owner)); // makes the thread's arena
    const std::uint32_t top = arenaOfCaller().top;
    std::vector<std::pair<char*, std::size_t>> blocks;
    for (std::size_t size : {12, 1, 13, 0, 28, 20000}) {
        blocks.emplace_back(static_cast<char*>(oxStackHeapAlloc(size, &owner)), size);
        EXPECT_EQ(size < 20000, isInArena(blocks.back().first)) << size;
        std::memset(blocks.back().first, 0x7F, size);
    }
    const std::size_t rest = 16384 - arenaOfCaller().top - 4;
    blocks.emplace_back(static_cast<char*>(oxStackHeapAlloc(rest, &owner)), rest);
    EXPECT_TRUE(isInArena(blocks.back().first) && arenaOfCaller().top == 16384u);
    std::memset(blocks.back().first, 0x7F, rest);
    blocks.emplace_back(static_cast<char*>(oxStackHeapAlloc(1, &owner)), 1);
    EXPECT_FALSE(isInArena(blocks.back().first));
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
        oxStackHeapFree(it->first);
    EXPECT_EQ(top, arenaOfCaller().top);
}

// Freed blocks below a live one stay until the topmost block goes; then the top drops past
// all of them at once. Frees of non-blocks and second frees change nothing.
TEST(StackHeap, TopDropsOnlyWhenTheTopmostBlockIsFreed)
{
    int owner = 0;
    char* blocks[4];
    for (char*& block : blocks)
        block = static_cast<char*>(oxStackHeapAlloc(20, &owner));
    const std::uint32_t full = arenaOfCaller().top;
    oxStackHeapFree(blocks[1]);
    oxStackHeapFree(blocks[2]);
    oxStackHeapFree(blocks[2]);
    oxStackHeapFree(blocks[0] + 8);
    EXPECT_EQ(full, arenaOfCaller().top);
    oxStackHeapFree(blocks[3]);
    EXPECT_EQ(full - 3 * 32, arenaOfCaller().top);
    oxStackHeapFree(blocks[0]);
    EXPECT_EQ(full - 4 * 32, arenaOfCaller().top);
    oxStackHeapFree(nullptr);
}

// Realloc: the topmost block is freed and taken again at the new size; an inner block stays
// when its usable length (without the length word) holds the new size, and is freed for a
// C runtime block otherwise; blocks outside the arena keep their contents.
TEST(StackHeap, ReallocCases)
{
    int owner = 0;
    auto* inner = static_cast<char*>(oxStackHeapAlloc(20, &owner)); // 32 bytes, 28 usable
    auto* topmost = static_cast<char*>(oxStackHeapAlloc(20, &owner));
    const std::uint32_t top = arenaOfCaller().top;

    EXPECT_EQ(topmost, oxStackHeapRealloc(topmost, 60));
    EXPECT_EQ(top + 32, arenaOfCaller().top);
    EXPECT_EQ(inner, oxStackHeapRealloc(inner, 28));

    auto* moved = static_cast<char*>(oxStackHeapRealloc(inner, 29)); // would reach the length word
    EXPECT_FALSE(isInArena(moved));
    std::memset(moved, 1, 29);
    oxStackHeapFree(topmost);
    EXPECT_EQ(top - 64, arenaOfCaller().top);
    oxStackHeapFree(moved);

    auto* outside = static_cast<char*>(oxStackHeapRealloc(nullptr, 8));
    std::memcpy(outside, "runtime", 8);
    outside = static_cast<char*>(oxStackHeapRealloc(outside, 5000));
    EXPECT_STREQ("runtime", outside);
    oxStackHeapFree(outside);
}

// A fiber library's slot store: one value map per "fiber".
class TestFiberStore : public OxFiberLocalStore {
public:
    std::uint32_t allocSlot(Destructor destructor) override
    {
        mDestructor = destructor;
        return ++mSlots;
    }
    void* getValue(std::uint32_t slot) override { return mValues[slot]; }
    int setValue(std::uint32_t slot, void* value, int reserved) override
    {
        mValues[slot] = value;
        mReserved = reserved;
        return 1;
    }
    void freeSlot(std::uint32_t) override {}

    Destructor mDestructor = nullptr;
    std::uint32_t mSlots = 0;
    int mReserved = -1;
    std::map<std::uint32_t, void*> mValues;
};

// Each thread has an arena of its own, made on first use. A thread that runs a fiber with a
// slot store keeps the fiber's arena in that store, apart from the thread's own; a fiber
// without a parameter, or no fiber, uses the thread's arena.
TEST(StackHeap, EachThreadAndFiberHasItsOwnArena)
{
    int owner = 0;
    void* threadBlock = oxStackHeapAlloc(16, &owner);
    const void* threadBase = arenaOfCaller().base;
    const void* theirBase = nullptr;
    bool theirBlockInTheirArena = false;
    std::thread([&] {
        int theirOwner = 0;
        void* block =
            oxStackHeapAlloc(16, &theirOwner); // left for the thread's end, which destroys the arena
        std::uint32_t top = 0;
        oxheap::test::stackArenaOfCaller(&theirBase, &top);
        theirBlockInTheirArena = block == theirBase && top == 32;
    }).join();
    EXPECT_TRUE(theirBlockInTheirArena);
    EXPECT_NE(threadBase, theirBase);

    TestFiberStore store;
    void* fiberData[2] = {&store, nullptr}; // the fiber's parameter comes first
    win::test::setCurrentFiber(fiberData);
    void* fiberBlock = oxStackHeapAlloc(16, &owner);
    EXPECT_NE(threadBase, arenaOfCaller().base);
    EXPECT_EQ(arenaOfCaller().base, fiberBlock);
    EXPECT_TRUE(store.mReserved == 0 && store.mValues.size() == 1);
    oxStackHeapFree(fiberBlock);
    for (auto& [slot, value] : store.mValues) // the fiber ends: its arena goes to the destructor
        store.mDestructor(value);

    void* withoutParameter[1] = {nullptr};
    win::test::setCurrentFiber(withoutParameter);
    EXPECT_EQ(threadBase, arenaOfCaller().base);
    win::test::setCurrentFiber(nullptr);
    EXPECT_EQ(threadBase, arenaOfCaller().base);
    oxStackHeapFree(threadBlock);
}

struct Scoped : OxStackAllocator {
    explicit Scoped(int* destroyed) : mDestroyed(destroyed) {}
    ~Scoped() override { ++*mDestroyed; }
    int* mDestroyed;
    char payload[24] = {};
};

// Objects of OxStackAllocator classes live in the arena of their owner's thread and end with a
// delete-expression: the virtual destructor runs, then the block is freed. The base itself is
// abstract, so no bare base object can be made.
TEST(StackHeap, StackAllocatorObjectsLiveInTheArena)
{
    EXPECT_TRUE(std::is_abstract_v<OxStackAllocator>);
    int owner = 0;
    int destroyed = 0;
    OxStackAllocator* object = new (&owner) Scoped(&destroyed);
    EXPECT_TRUE(isInArena(object));
    const std::uint32_t withObject = arenaOfCaller().top;
    delete object;
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(withObject - 48, arenaOfCaller().top);

    auto heapOwner = std::make_unique<int>(0);
    OxStackAllocator* elsewhere = new (heapOwner.get()) Scoped(&destroyed);
    EXPECT_FALSE(isInArena(elsewhere));
    delete elsewhere;
    EXPECT_EQ(2, destroyed);
}

} // namespace
