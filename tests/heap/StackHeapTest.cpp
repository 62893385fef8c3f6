// tests/heap/StackHeapTest.cpp
// The stack heap: arenas per thread or fiber for owners on the caller's stack, and OxStackAllocator.

#include <oxfirst/OxHeap.h>

#include "heap/HeapTestHooks.h"
#include "platform/TestControls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <malloc.h>
#include <map>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

// The calling thread's or fiber's arena; base null when it has none.
struct Arena {
    Arena() { oxheap::test::stackArenaOfCaller(&base, &top); }
    bool holds(const void* p) const { return std::uintptr_t(p) - std::uintptr_t(base) < 16384; }
    const void* base = nullptr;
    std::uint32_t top = 0;
};

// Owners on the caller's stack get arena blocks, each holding its size apart from its length
// word, up to the last byte; other owners and requests beyond the rest get C runtime memory.
TEST(StackHeap, OwnersOnTheStackGetArenaBlocksWhileTheyFit)
{
    auto heapOwner = std::make_unique<int>(0);
    void* fromRuntime = oxStackHeapAlloc(40, heapOwner.get());
    EXPECT_TRUE(!Arena().holds(fromRuntime) && malloc_usable_size(fromRuntime) >= 40u);
    oxStackHeapFree(fromRuntime);

    int owner = 0;
    oxStackHeapFree(oxStackHeapAlloc(0, &owner)); // makes the thread's arena
    const std::uint32_t top = Arena().top;
    std::vector<char*> blocks;
    auto take = [&](std::size_t size) { // a filled block: whether it is in the arena
        blocks.push_back(static_cast<char*>(oxStackHeapAlloc(size, &owner)));
        std::memset(blocks.back(), 0x7F, size);
        return Arena().holds(blocks.back());
    };
    for (std::size_t size : {12, 1, 13, 0, 28})
        EXPECT_TRUE(take(size)) << size;
    EXPECT_FALSE(take(20000));
    EXPECT_TRUE(take(16384 - Arena().top - 4) && Arena().top == 16384u); // the rest of the arena
    EXPECT_FALSE(take(1));
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
        oxStackHeapFree(*it);
    EXPECT_EQ(top, Arena().top);
}

// The top drops past freed blocks only when the topmost goes; bad and second frees change nothing.
TEST(StackHeap, TopDropsOnlyWhenTheTopmostBlockIsFreed)
{
    int owner = 0;
    char* blocks[4];
    for (char*& block : blocks)
        block = static_cast<char*>(oxStackHeapAlloc(20, &owner));
    const std::uint32_t full = Arena().top;
    for (char* p : {blocks[1], blocks[2], blocks[2], blocks[0] + 8, static_cast<char*>(nullptr)})
        oxStackHeapFree(p);
    EXPECT_EQ(full, Arena().top);
    oxStackHeapFree(blocks[3]);
    EXPECT_EQ(full - 3 * 32, Arena().top);
    oxStackHeapFree(blocks[0]);
    EXPECT_EQ(full - 4 * 32, Arena().top);
}

// Realloc regrows the topmost block in place, keeps an inner one while it fits, else moves it out.
TEST(StackHeap, ReallocCases)
{
    int owner = 0;
    auto* inner = static_cast<char*>(oxStackHeapAlloc(20, &owner)); // 32 bytes, 28 usable
    auto* topmost = static_cast<char*>(oxStackHeapAlloc(20, &owner));
    const std::uint32_t top = Arena().top;
    EXPECT_EQ(topmost, oxStackHeapRealloc(topmost, 60));
    EXPECT_EQ(top + 32, Arena().top);
    EXPECT_EQ(inner, oxStackHeapRealloc(inner, 28));
    auto* moved = static_cast<char*>(oxStackHeapRealloc(inner, 29)); // would reach the length word
    EXPECT_FALSE(Arena().holds(moved));
    std::memset(moved, 1, 29);
    oxStackHeapFree(topmost);
    EXPECT_EQ(top - 64, Arena().top);
    oxStackHeapFree(moved);

    void* outside = oxStackHeapRealloc(std::memcpy(oxStackHeapRealloc(nullptr, 8), "runtime", 8), 5000);
    EXPECT_STREQ("runtime", static_cast<char*>(outside));
    oxStackHeapFree(outside);
}

// A fiber library's slot store: one value map per "fiber".
struct TestFiberStore : OxFiberLocalStore {
    std::uint32_t allocSlot(Destructor destructor) override { return mDestructor = destructor, ++mSlots; }
    void* getValue(std::uint32_t slot) override { return mValues[slot]; }
    int setValue(std::uint32_t slot, void* value, int) override { return mValues[slot] = value, 1; }
    void freeSlot(std::uint32_t) override {}

    Destructor mDestructor = nullptr;
    std::uint32_t mSlots = 0;
    std::map<std::uint32_t, void*> mValues;
};

// Each thread, and each fiber with a slot store, has its own arena; other fibers use the thread's.
TEST(StackHeap, EachThreadAndFiberHasItsOwnArena)
{
    int owner = 0;
    void* threadBlock = oxStackHeapAlloc(16, &owner);
    const void* threadBase = Arena().base;
    Arena theirs;
    bool theirBlockInTheirArena = false;
    std::thread([&] {
        int theirOwner = 0;
        void* block = oxStackHeapAlloc(16, &theirOwner); // left for the thread's end to destroy
        theirs = Arena();
        theirBlockInTheirArena = block == theirs.base && theirs.top == 32;
    }).join();
    EXPECT_TRUE(theirBlockInTheirArena && theirs.base != threadBase);

    TestFiberStore store;
    void* fiberData[2] = {&store, nullptr}; // the fiber's parameter comes first
    win::test::setCurrentFiber(fiberData);
    void* fiberBlock = oxStackHeapAlloc(16, &owner);
    EXPECT_TRUE(Arena().base != threadBase && Arena().base == fiberBlock);
    EXPECT_EQ(1u, store.mValues.size());
    oxStackHeapFree(fiberBlock);
    for (auto& [slot, value] : store.mValues) // the fiber ends: its arena goes to the destructor
        store.mDestructor(value);

    void* withoutParameter[1] = {nullptr};
    win::test::setCurrentFiber(withoutParameter);
    EXPECT_EQ(threadBase, Arena().base);
    win::test::setCurrentFiber(nullptr);
    EXPECT_EQ(threadBase, Arena().base);
    oxStackHeapFree(threadBlock);
}

struct Scoped : OxStackAllocator {
    explicit Scoped(int* destroyed) : mDestroyed(destroyed) {}
    ~Scoped() override { ++*mDestroyed; }
    int* mDestroyed;
    char payload[24] = {};
};

// Only derived objects live in the stack heap: the base is abstract.
static_assert(std::is_abstract_v<OxStackAllocator>);

// OxStackAllocator objects live in their owner's arena; delete runs the destructor, then frees.
TEST(StackHeap, StackAllocatorObjectsLiveInTheArena)
{
    int owner = 0;
    int destroyed = 0;
    OxStackAllocator* object = new (&owner) Scoped(&destroyed);
    EXPECT_TRUE(Arena().holds(object));
    const std::uint32_t withObject = Arena().top;
    delete object;
    EXPECT_TRUE(destroyed == 1 && Arena().top == withObject - 48);

    auto heapOwner = std::make_unique<int>(0);
    OxStackAllocator* elsewhere = new (heapOwner.get()) Scoped(&destroyed);
    EXPECT_FALSE(Arena().holds(elsewhere));
    delete elsewhere;
    EXPECT_EQ(2, destroyed);
}

} // namespace
