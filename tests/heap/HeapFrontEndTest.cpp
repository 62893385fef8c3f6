// tests/heap/HeapFrontEndTest.cpp
// The heap front end as modules use it: heap 0 is the process allocator (the C runtime in a
// normal process), other handles are private heaps, and failed allocations go through the new
// handler as many times as it asks for.

#include <oxfirst/OxHeap.h>

#include "platform/TestControls.h"
#include "platform/win.h"
#include "support/FreshProcess.h"
#include "support/NewHandlerScope.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <thread>
#include <utility>

namespace {

using oxtest::NewHandlerScope;

// A private heap whose requests for new memory the system refuses while failNextCommits says so.
struct RefusingHeap {
    win::HANDLE handle = win::HeapCreate(0, 0, 0);
    ~RefusingHeap()
    {
        win::test::failNextCommits(0);
        win::HeapDestroy(handle);
    }
};

struct Counts {
    std::uint32_t count = 7, bytes = 7, overhead = 7; // a walk must set all three, also when it fails
    bool walked = false;
};

Counts walk(void* heap)
{
    Counts counts;
    counts.walked = oxHeapWalk(heap, counts.count, counts.bytes, counts.overhead);
    return counts;
}

class PrivateHeap : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, mHeap = oxHeapCreate(0)); }
    void TearDown() override { oxHeapDestroy(mHeap); }
    void* mHeap = nullptr;
};

// Heap 0 hands out C runtime memory: a module may free it with free() and the other way round,
// and the sizes agree with malloc's; realloc keeps the contents; the raw-memory functions are
// the process allocator's; validation accepts any pointer, even one it never made. Sizes near
// the top fail with null, a failed realloc leaving the block to the caller; the try-allocation
// is one attempt, never calling the new handler.
TEST(ProcessHeap, BlocksAreCRuntimeBlocksAndFailuresAnswerNull)
{
    if (oxtest::inFreshProcess({"OX_EMULATE_WINDOWS_VERSION"}))
        return;
    void* p = oxHeapAlloc(nullptr, 100);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(malloc_usable_size(p), oxHeapSize(nullptr, p));
    EXPECT_TRUE(__oxMsize(p) == malloc_usable_size(p) && oxMsize(p) == __oxMsize(p));
    std::free(p);
    oxHeapFree(nullptr, std::malloc(40));
    auto* q = static_cast<char*>(__oxMalloc(16));
    std::memcpy(q, "0123456789abcdef", 16);
    ASSERT_NE(nullptr, q = static_cast<char*>(__oxRealloc(q, 4000)));
    EXPECT_EQ(0, std::memcmp(q, "0123456789abcdef", 16));
    __oxFree(q);
    void* raw = OxHeapOperators::allocRawMem(24);
    void* tracked = OxHeapOperators::allocRawMem(24, __FILE__, __LINE__);
    EXPECT_TRUE(oxHeapSize(nullptr, raw) >= 24 && oxHeapSize(nullptr, tracked) >= 24);
    OxHeapOperators::freeRawMem(raw);
    OxHeapOperators::freeRawMem(tracked, __FILE__, __LINE__);
    int local = 0;
    EXPECT_TRUE(oxHeapValidate(nullptr, nullptr) && oxHeapValidate(nullptr, &local));

    EXPECT_EQ(nullptr, oxHeapAlloc(nullptr, SIZE_MAX));
    EXPECT_EQ(nullptr, __oxMalloc(SIZE_MAX - 15));
    p = __oxMalloc(8);
    EXPECT_EQ(nullptr, __oxRealloc(p, SIZE_MAX));
    __oxFree(p);
    NewHandlerScope handler(3);
    ASSERT_NE(nullptr, p = oxTryHeapAlloc(nullptr, 64));
    std::free(p);
    EXPECT_EQ(nullptr, oxTryHeapAlloc(nullptr, SIZE_MAX - 4096));
    EXPECT_EQ(0, handler.calls());
}

// A private heap's blocks are its own and sized exactly; realloc of null is a fresh allocation;
// the walk counts exactly the busy blocks and their requested bytes, and nothing once freed.
TEST_F(PrivateHeap, BlocksAreOwnedSizedExactlyAndWalked)
{
    EXPECT_EQ(0u, walk(mHeap).count);
    auto* p = static_cast<char*>(oxHeapReAlloc(mHeap, nullptr, 32));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(32u, oxHeapSize(mHeap, p));
    std::memcpy(p, "abcdefghijklmnopqrstuvwxyz01234", 32);
    ASSERT_NE(nullptr, p = static_cast<char*>(oxHeapReAlloc(mHeap, p, 10000)));
    EXPECT_EQ(0, std::memcmp(p, "abcdefghijklmnopqrstuvwxyz01234", 32));
    EXPECT_EQ(10000u, oxHeapSize(mHeap, p));
    void* q = oxHeapAlloc(mHeap, 100);
    void* r = oxHeapAlloc(mHeap, 3000);
    int local = 0;
    EXPECT_TRUE(oxHeapValidate(mHeap, q) && oxHeapValidate(mHeap, nullptr) && !oxHeapValidate(mHeap, &local));
    const Counts counts = walk(mHeap);
    EXPECT_TRUE(counts.walked && counts.count == 3 && counts.bytes == 13100 && counts.overhead > 0);
    for (void* block : {static_cast<void*>(p), q, r})
        oxHeapFree(mHeap, block);
    EXPECT_FALSE(oxHeapValidate(mHeap, q));
    EXPECT_TRUE(walk(mHeap).count == 0 && walk(mHeap).bytes == 0);
}

// A null, destroyed or made-up handle is walked as nothing (false, all counters zero), and
// every entry point given it fails without calling the new handler, however willing it is: no
// handler can cure a heap that is not there. (What a heap does with blocks that are not its own
// is the platform heap's, tested there.)
TEST_F(PrivateHeap, BogusHandlesFailWithoutCallingTheHandler)
{
    void* other = oxHeapCreate(0);
    oxHeapAlloc(other, 10);
    oxHeapDestroy(other);
    NewHandlerScope handler(8);
    int local = 0;
    for (void* bogus : {static_cast<void*>(nullptr), other, static_cast<void*>(&local)}) {
        const Counts counts = walk(bogus);
        EXPECT_TRUE(!counts.walked && counts.count + counts.bytes + counts.overhead == 0);
    }
    EXPECT_EQ(nullptr, oxHeapAlloc(&local, 10));
    EXPECT_EQ(nullptr, oxHeapReAlloc(&local, nullptr, 10));
    EXPECT_EQ(nullptr, oxTryHeapAlloc(&local, 10));
    EXPECT_EQ(SIZE_MAX, oxHeapSize(&local, &local));
    EXPECT_FALSE(oxHeapValidate(&local, &local));
    oxHeapFree(&local, &local);
    oxHeapDestroy(&local);
    EXPECT_TRUE(handler.calls() == 0 && local == 0);
}

// Every failed attempt on a real heap gets one call of the new handler, with the size asked
// for, until the handler gives up; the try-allocation is a single attempt. A handler that finds
// memory makes the retried allocation succeed.
TEST(NewHandlerRetry, HandlerIsCalledOncePerFailedAttempt)
{
    RefusingHeap heap;
    win::test::failNextCommits(100);
    {
        NewHandlerScope handler(2);
        EXPECT_EQ(nullptr, oxHeapAlloc(heap.handle, 1 << 20));
        EXPECT_TRUE(handler.calls() == 3 && handler.lastSize() == std::size_t{1} << 20);
        EXPECT_EQ(nullptr, oxTryHeapAlloc(heap.handle, 1 << 20));
        EXPECT_EQ(3, handler.calls());
    }
    NewHandlerScope handler(1, [] { win::test::failNextCommits(0); });
    void* p = oxHeapAlloc(heap.handle, 1 << 20);
    EXPECT_TRUE(p != nullptr && handler.calls() == 1);
    EXPECT_NE(nullptr, oxHeapReAlloc(heap.handle, p, 30 * 1024));
}

// A standard new handler that throws bad_alloc gives up; the exception never leaves the library.
TEST(NewHandlerRetry, StandardHandlerThatThrowsGivesUp)
{
    RefusingHeap heap;
    win::test::failNextCommits(100);
    static int calls = 0;
    calls = 0;
    std::new_handler previous = std::set_new_handler([] {
        ++calls;
        throw std::bad_alloc();
    });
    EXPECT_EQ(nullptr, oxHeapAlloc(heap.handle, 1 << 20));
    EXPECT_FALSE(oxCallOutOfMemHandler(100));
    std::set_new_handler(previous);
    EXPECT_EQ(2, calls);
}

// oxCallOutOfMemHandler answers what the handler answers (false without one). Its suppression
// is per thread and nests: no call while any scope lives on the calling thread, other threads
// unaffected.
TEST(OutOfMemHandler, AnswersWhatTheHandlerAnswersUnlessSuppressedOnThisThread)
{
    EXPECT_FALSE(oxCallOutOfMemHandler(10));
    {
        NewHandlerScope refusing(0);
        EXPECT_FALSE(oxCallOutOfMemHandler(20));
        EXPECT_TRUE(refusing.calls() == 1 && refusing.lastSize() == 20);
    }
    NewHandlerScope handler(100);
    EXPECT_TRUE(oxCallOutOfMemHandler(10));
    {
        OxNoOutOfMemHandlerScope outer;
        {
            OxNoOutOfMemHandlerScope inner;
            EXPECT_FALSE(oxCallOutOfMemHandler(10));
        }
        EXPECT_FALSE(oxCallOutOfMemHandler(10));
        bool otherThread = false;
        std::thread([&] { otherThread = oxCallOutOfMemHandler(10); }).join();
        EXPECT_TRUE(otherThread);
    }
    EXPECT_TRUE(oxCallOutOfMemHandler(10));
    EXPECT_EQ(3, handler.calls());
}

// Objects of the library's classes live in the process allocator's memory, single, in arrays
// and with a source location, each constructed and destroyed once; copies of text are fresh
// blocks of it too, holding every unit and the terminator (null copies to null).
struct Counted : OxBaseClassWithNew {
    Counted() { ++constructed; }
    ~Counted() { ++destroyed; }
    char payload[40] = {};
    static inline int constructed = 0;
    static inline int destroyed = 0;
};

TEST(BaseClassWithNew, ObjectsAndTextCopiesComeFromTheProcessAllocator)
{
    Counted::constructed = Counted::destroyed = 0;
    auto* single = new Counted;
    auto* several = new Counted[3];
    auto* tracked = new (__FILE__, __LINE__) Counted;
    EXPECT_GE(oxHeapSize(nullptr, single), sizeof(Counted));
    delete single;
    delete[] several;
    delete tracked;
    EXPECT_TRUE(Counted::constructed == 5 && Counted::destroyed == 5);

    EXPECT_EQ(nullptr, __oxStrdup(nullptr));
    const OXCHAR text[] = u"K\u00e4se \U0001F9C0";
    OXCHAR* copy = __oxStrdup(text);
    ASSERT_NE(nullptr, copy);
    EXPECT_TRUE(copy != text && std::memcmp(text, copy, sizeof text) == 0);
    EXPECT_GE(oxHeapSize(nullptr, copy), sizeof text);
    __oxFree(copy);
}

} // namespace
