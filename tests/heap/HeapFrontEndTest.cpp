// tests/heap/HeapFrontEndTest.cpp
// The heap front end as modules use it: heap 0 is the process allocator (the C runtime in a
// normal process), other handles are private heaps, and failed allocations go through the new
// handler as many times as it asks for.

#include <oxfirst/OxHeap.h>

#include "platform/win.h"
#include "support/NewHandlerScope.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <thread>

namespace {

using oxtest::NewHandlerScope;

// A private heap that can hold only a few blocks, so allocations fail on demand.
class SmallHeap {
public:
    SmallHeap() : mHeap(win::HeapCreate(0, 0, 64 * 1024)) {}
    ~SmallHeap() { win::HeapDestroy(mHeap); }
    win::HANDLE get() const { return mHeap; }

private:
    win::HANDLE mHeap;
};

class PrivateHeap : public ::testing::Test {
protected:
    void SetUp() override
    {
        mHeap = oxHeapCreate(0);
        ASSERT_NE(nullptr, mHeap);
    }
    void TearDown() override { oxHeapDestroy(mHeap); }

    struct Counts {
        std::uint32_t count, bytes, overhead;
    };
    Counts walk(void* heap)
    {
        Counts counts{1, 1, 1};
        EXPECT_TRUE(oxHeapWalk(heap, counts.count, counts.bytes, counts.overhead));
        return counts;
    }

    void* mHeap = nullptr;
};

// Heap 0 hands out C runtime memory: a module may free it with free() and the sizes agree.
TEST(ProcessHeap, BlocksAreCRuntimeBlocks)
{
    void* p = oxHeapAlloc(nullptr, 100);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(malloc_usable_size(p), oxHeapSize(nullptr, p));
    EXPECT_EQ(static_cast<unsigned>(malloc_usable_size(p)), __oxMsize(p));
    EXPECT_EQ(__oxMsize(p), oxMsize(p));
    std::free(p);

    void* q = std::malloc(40);
    oxHeapFree(nullptr, q);
}

// The process allocator does not validate: any pointer passes, including ones it never made.
TEST(ProcessHeap, ValidateIsAlwaysTrue)
{
    int local = 0;
    EXPECT_TRUE(oxHeapValidate(nullptr, nullptr));
    EXPECT_TRUE(oxHeapValidate(nullptr, &local));
    EXPECT_TRUE(oxHeapValidate(nullptr, reinterpret_cast<void*>(0x10)));
}

// Realloc keeps the contents; the raw-memory functions are the process allocator's.
TEST(ProcessHeap, ReallocAndRawMemoryKeepContents)
{
    auto* p = static_cast<char*>(__oxMalloc(16));
    ASSERT_NE(nullptr, p);
    std::memcpy(p, "0123456789abcdef", 16);
    p = static_cast<char*>(__oxRealloc(p, 4000));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0, std::memcmp(p, "0123456789abcdef", 16));
    __oxFree(p);

    void* raw = OxHeapOperators::allocRawMem(24);
    void* tracked = OxHeapOperators::allocRawMem(24, __FILE__, __LINE__);
    ASSERT_NE(nullptr, raw);
    ASSERT_NE(nullptr, tracked);
    EXPECT_GE(oxHeapSize(nullptr, raw), 24u);
    OxHeapOperators::freeRawMem(raw);
    OxHeapOperators::freeRawMem(tracked, __FILE__, __LINE__);
}

// The try-allocation of the C runtime column is one attempt on the C runtime heap.
TEST(ProcessHeap, TryAllocNeverCallsTheNewHandler)
{
    NewHandlerScope handler({1, 1, 1});
    void* p = oxTryHeapAlloc(nullptr, 64);
    ASSERT_NE(nullptr, p);
    std::free(p);
    EXPECT_EQ(nullptr, oxTryHeapAlloc(nullptr, SIZE_MAX - 4096));
    EXPECT_EQ(0, handler.calls());
}

TEST(ProcessHeap, SizeNearTheTopFailsWithNull)
{
    EXPECT_EQ(nullptr, oxHeapAlloc(nullptr, SIZE_MAX));
    EXPECT_EQ(nullptr, __oxMalloc(SIZE_MAX - 15));
    void* p = __oxMalloc(8);
    EXPECT_EQ(nullptr, __oxRealloc(p, SIZE_MAX));
    __oxFree(p); // still owned by the caller after the failed realloc
}

TEST_F(PrivateHeap, BlocksAreOwnedAndSizedExactly)
{
    void* p = oxHeapAlloc(mHeap, 100);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(100u, oxHeapSize(mHeap, p));
    EXPECT_TRUE(oxHeapValidate(mHeap, p));
    EXPECT_TRUE(oxHeapValidate(mHeap, nullptr));
    int local = 0;
    EXPECT_FALSE(oxHeapValidate(mHeap, &local));
    oxHeapFree(mHeap, p);
    EXPECT_FALSE(oxHeapValidate(mHeap, p));
}

// Realloc of null on a real heap is a fresh allocation, not a failure.
TEST_F(PrivateHeap, ReallocOfNullAllocates)
{
    auto* p = static_cast<char*>(oxHeapReAlloc(mHeap, nullptr, 32));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(32u, oxHeapSize(mHeap, p));
    std::memcpy(p, "abcdefghijklmnopqrstuvwxyz01234", 32);
    p = static_cast<char*>(oxHeapReAlloc(mHeap, p, 10000));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0, std::memcmp(p, "abcdefghijklmnopqrstuvwxyz01234", 32));
    EXPECT_EQ(10000u, oxHeapSize(mHeap, p));
    oxHeapFree(mHeap, p);
}

// The walk counts exactly the busy blocks and their requested bytes, and nothing once freed.
TEST_F(PrivateHeap, WalkCountsBusyBlocks)
{
    EXPECT_EQ(0u, walk(mHeap).count);
    void* blocks[3] = {oxHeapAlloc(mHeap, 10), oxHeapAlloc(mHeap, 200), oxHeapAlloc(mHeap, 3000)};
    Counts counts = walk(mHeap);
    EXPECT_EQ(3u, counts.count);
    EXPECT_EQ(3210u, counts.bytes);
    EXPECT_GT(counts.overhead, 0u);
    for (void* p : blocks)
        oxHeapFree(mHeap, p);
    counts = walk(mHeap);
    EXPECT_EQ(0u, counts.count);
    EXPECT_EQ(0u, counts.bytes);
}

// A null, destroyed or made-up handle is walked as nothing: false and all counters zero.
TEST_F(PrivateHeap, WalkOfNoHeapAnswersFalseWithZeroCounters)
{
    std::uint32_t count = 7, bytes = 7, overhead = 7;
    EXPECT_FALSE(oxHeapWalk(nullptr, count, bytes, overhead));
    EXPECT_EQ(0u, count + bytes + overhead);

    void* gone = oxHeapCreate(0);
    oxHeapAlloc(gone, 10);
    oxHeapDestroy(gone);
    count = bytes = overhead = 7;
    EXPECT_FALSE(oxHeapWalk(gone, count, bytes, overhead));
    EXPECT_EQ(0u, count + bytes + overhead);

    int local = 0;
    count = bytes = overhead = 7;
    EXPECT_FALSE(oxHeapWalk(&local, count, bytes, overhead));
    EXPECT_EQ(0u, count + bytes + overhead);
}

// Freeing a block into the wrong heap, or a block twice, changes neither heap.
TEST_F(PrivateHeap, FreeIntoTheWrongHeapIsIgnored)
{
    void* other = oxHeapCreate(0);
    void* mine = oxHeapAlloc(mHeap, 48);
    void* theirs = oxHeapAlloc(other, 48);
    oxHeapFree(other, mine);
    oxHeapFree(mHeap, theirs);
    oxHeapFree(mHeap, static_cast<char*>(mine) + 8);
    EXPECT_EQ(1u, walk(mHeap).count);
    EXPECT_EQ(1u, walk(other).count);
    EXPECT_TRUE(oxHeapValidate(mHeap, mine));
    EXPECT_TRUE(oxHeapValidate(other, theirs));
    oxHeapFree(mHeap, mine);
    oxHeapFree(mHeap, mine);
    EXPECT_EQ(0u, walk(mHeap).count);
    EXPECT_TRUE(oxHeapValidate(mHeap, nullptr));
    oxHeapDestroy(other);
}

// Entry points given a handle that is no heap answer with failure and never loop on the new
// handler, however willing it is.
TEST_F(PrivateHeap, HandleThatIsNoHeapFailsWithoutRetrying)
{
    NewHandlerScope handler({1, 1, 1, 1, 1, 1, 1, 1});
    int local = 0;
    void* bogus = &local;
    EXPECT_EQ(nullptr, oxHeapAlloc(bogus, 10));
    EXPECT_EQ(nullptr, oxHeapReAlloc(bogus, nullptr, 10));
    EXPECT_EQ(nullptr, oxTryHeapAlloc(bogus, 10));
    EXPECT_EQ(SIZE_MAX, oxHeapSize(bogus, &local));
    EXPECT_FALSE(oxHeapValidate(bogus, &local));
    oxHeapFree(bogus, &local);
    oxHeapDestroy(bogus);
    EXPECT_EQ(0, handler.calls());
    EXPECT_EQ(0, local);
}

// Every failed attempt on a real heap gets one call of the new handler; the loop ends when
// the handler gives up.
TEST(NewHandlerRetry, HandlerIsCalledOncePerFailedAttempt)
{
    SmallHeap heap;
    NewHandlerScope handler({1, 1, 0});
    EXPECT_EQ(nullptr, oxHeapAlloc(heap.get(), 1 << 20));
    EXPECT_EQ(3, handler.calls());
    EXPECT_EQ(std::size_t{1} << 20, handler.lastSize());
}

// A handler that frees memory makes the retried allocation succeed.
TEST(NewHandlerRetry, HandlerThatFreesMemoryLetsTheRetrySucceed)
{
    SmallHeap heap;
    void* ballast = win::HeapAlloc(heap.get(), 0, 40 * 1024);
    ASSERT_NE(nullptr, ballast);
    NewHandlerScope handler({1}, [&] {
        win::HeapFree(heap.get(), 0, ballast);
        ballast = nullptr;
    });
    void* p = oxHeapAlloc(heap.get(), 40 * 1024);
    EXPECT_NE(nullptr, p);
    EXPECT_EQ(1, handler.calls());

    void* q = oxHeapReAlloc(heap.get(), p, 30 * 1024);
    EXPECT_NE(nullptr, q);
}

// The try-allocation on a real heap is a single attempt.
TEST(NewHandlerRetry, TryAllocOnARealHeapDoesNotRetry)
{
    SmallHeap heap;
    NewHandlerScope handler({1, 1, 1});
    EXPECT_EQ(nullptr, oxTryHeapAlloc(heap.get(), 1 << 20));
    EXPECT_EQ(0, handler.calls());
}

// A standard new handler that throws bad_alloc gives up; the exception never leaves the
// library.
TEST(NewHandlerRetry, StandardHandlerThatThrowsGivesUp)
{
    SmallHeap heap;
    static int calls = 0;
    calls = 0;
    std::new_handler previous = std::set_new_handler([] {
        ++calls;
        throw std::bad_alloc();
    });
    EXPECT_EQ(nullptr, oxHeapAlloc(heap.get(), 1 << 20));
    EXPECT_FALSE(oxCallOutOfMemHandler(100));
    std::set_new_handler(previous);
    EXPECT_EQ(2, calls);
}

TEST(OutOfMemHandler, AnswersWhatTheHandlerAnswers)
{
    EXPECT_FALSE(oxCallOutOfMemHandler(10));
    NewHandlerScope handler({1, 0});
    EXPECT_TRUE(oxCallOutOfMemHandler(10));
    EXPECT_FALSE(oxCallOutOfMemHandler(20));
    EXPECT_EQ(2, handler.calls());
    EXPECT_EQ(20u, handler.lastSize());
}

// The suppression is per thread and nests: the handler is not called while any scope lives on
// the calling thread, and other threads are not affected.
TEST(OutOfMemHandler, SuppressionIsPerThreadAndNests)
{
    NewHandlerScope handler({1, 1, 1, 1});
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
    EXPECT_EQ(2, handler.calls());
}

TEST(Strdup, CopiesTextWithTerminator)
{
    EXPECT_EQ(nullptr, __oxStrdup(nullptr));

    const OXCHAR* empty = u"";
    OXCHAR* copy = __oxStrdup(empty);
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(empty, copy);
    EXPECT_EQ(0, copy[0]);
    EXPECT_GE(oxHeapSize(nullptr, copy), 2u);
    __oxFree(copy);

    const OXCHAR* text = u"K\u00e4se \U0001F9C0";
    copy = __oxStrdup(text);
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(0, std::memcmp(text, copy, 8 * sizeof(OXCHAR)));
    __oxFree(copy);
}

struct Counted : OxBaseClassWithNew {
    Counted() { ++constructed; }
    ~Counted() { ++destroyed; }
    char payload[40] = {};
    static inline int constructed = 0;
    static inline int destroyed = 0;
};

// Objects of the library's classes live in the process allocator's memory.
TEST(BaseClassWithNew, ObjectsComeFromTheProcessAllocator)
{
    Counted::constructed = Counted::destroyed = 0;
    auto* single = new Counted;
    auto* several = new Counted[3];
    auto* tracked = new (__FILE__, __LINE__) Counted;
    ASSERT_NE(nullptr, single);
    EXPECT_GE(oxHeapSize(nullptr, single), sizeof(Counted));
    delete single;
    delete[] several;
    delete tracked;
    EXPECT_EQ(5, Counted::constructed);
    EXPECT_EQ(5, Counted::destroyed);
}

// The entry points kept for old callers do nothing and answer 0.
TEST(InertEntryPoints, DoNothing)
{
    establishHeapErrorHandler(nullptr);
    OxHeapDump(1, 2, u"ignored");
    EXPECT_EQ(0, oxDbgOverhead());
    EXPECT_EQ(0, oxfirst_entry());
    EXPECT_EQ(0, oxMgcEp000000());
}

} // namespace
