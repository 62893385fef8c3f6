// tests/heap/HeapFrontEndTest.cpp
// The heap front end: heap 0, private heaps, and the new handler's retries of failed allocations.

#include <oxfirst/OxHeap.h>

#include "platform/TestControls.h"
#include "platform/win.h"
#include "support/FreshProcess.h"
#include "support/NewHandlerScope.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <thread>

namespace {

using oxtest::NewHandlerScope;

// A walk sets all three counters, also when it fails.
struct Walk {
    explicit Walk(void* heap) : walked(oxHeapWalk(heap, count, bytes, overhead)) {}
    std::uint32_t count = 7, bytes = 7, overhead = 7;
    bool walked;
};

// Heap 0 is the C runtime (blocks, sizes, realloc, validation); failures answer null, tries no handler.
TEST(ProcessHeap, BlocksAreCRuntimeBlocksAndFailuresAnswerNull)
{
    if (oxtest::inFreshProcess({"OX_EMULATE_WINDOWS_VERSION"}))
        return;
    void* p = oxHeapAlloc(nullptr, 100);
    ASSERT_NE(nullptr, p);
    EXPECT_TRUE(oxHeapSize(nullptr, p) == malloc_usable_size(p) && __oxMsize(p) == malloc_usable_size(p) &&
                oxMsize(p) == __oxMsize(p));
    std::free(p);
    oxHeapFree(nullptr, std::malloc(40));
    void* q = __oxRealloc(std::memcpy(__oxMalloc(16), "0123456789abcdef", 16), 4000);
    EXPECT_TRUE(q != nullptr && __oxRealloc(q, SIZE_MAX) == nullptr &&
                std::memcmp(q, "0123456789abcdef", 16) == 0);
    __oxFree(q);
    void* raw = OxHeapOperators::allocRawMem(24);
    void* tracked = OxHeapOperators::allocRawMem(24, __FILE__, __LINE__);
    EXPECT_TRUE(oxHeapSize(nullptr, raw) >= 24 && oxHeapSize(nullptr, tracked) >= 24);
    OxHeapOperators::freeRawMem(raw);
    OxHeapOperators::freeRawMem(tracked, __FILE__, __LINE__);
    int local = 0;
    EXPECT_TRUE(oxHeapValidate(nullptr, nullptr) && oxHeapValidate(nullptr, &local));

    EXPECT_TRUE(oxHeapAlloc(nullptr, SIZE_MAX) == nullptr && __oxMalloc(SIZE_MAX - 15) == nullptr);
    NewHandlerScope handler(3);
    ASSERT_NE(nullptr, p = oxTryHeapAlloc(nullptr, 64));
    std::free(p);
    EXPECT_EQ(nullptr, oxTryHeapAlloc(nullptr, SIZE_MAX - 4096));
    EXPECT_EQ(0, handler.calls);
}

// A private heap's blocks are its own and sized exactly; the walk counts busy blocks and bytes.
TEST(PrivateHeap, BlocksAreOwnedSizedExactlyAndWalked)
{
    void* heap = oxHeapCreate(0);
    EXPECT_EQ(0u, Walk(heap).count);
    void* p = oxHeapReAlloc(heap, nullptr, 32);
    ASSERT_TRUE(p != nullptr && oxHeapSize(heap, p) == 32u);
    p = oxHeapReAlloc(heap, std::memcpy(p, "abcdefghijklmnopqrstuvwxyz01234", 32), 10000);
    EXPECT_TRUE(std::memcmp(p, "abcdefghijklmnopqrstuvwxyz01234", 32) == 0 && oxHeapSize(heap, p) == 10000u);
    void* q = oxHeapAlloc(heap, 100);
    void* r = oxHeapAlloc(heap, 3000);
    int local = 0;
    EXPECT_TRUE(oxHeapValidate(heap, q) && oxHeapValidate(heap, nullptr) && !oxHeapValidate(heap, &local));
    const Walk walk(heap);
    EXPECT_TRUE(walk.walked && walk.count == 3 && walk.bytes == 13100 && walk.overhead > 0);
    for (void* block : {p, q, r})
        oxHeapFree(heap, block);
    EXPECT_FALSE(oxHeapValidate(heap, q));
    EXPECT_TRUE(Walk(heap).count == 0 && Walk(heap).bytes == 0);
    oxHeapDestroy(heap);
}

// Null, destroyed or made-up handles walk as nothing and fail everywhere without calling the handler.
TEST(PrivateHeap, BogusHandlesFailWithoutCallingTheHandler)
{
    void* other = oxHeapCreate(0);
    oxHeapAlloc(other, 10);
    oxHeapDestroy(other);
    NewHandlerScope handler(8);
    int local = 0;
    for (void* bogus : {static_cast<void*>(nullptr), other, static_cast<void*>(&local)}) {
        const Walk walk(bogus);
        EXPECT_TRUE(!walk.walked && walk.count + walk.bytes + walk.overhead == 0);
    }
    EXPECT_TRUE(oxHeapAlloc(&local, 10) == nullptr && oxHeapReAlloc(&local, nullptr, 10) == nullptr &&
                oxTryHeapAlloc(&local, 10) == nullptr);
    EXPECT_TRUE(oxHeapSize(&local, &local) == SIZE_MAX && !oxHeapValidate(&local, &local));
    oxHeapFree(&local, &local);
    oxHeapDestroy(&local);
    EXPECT_TRUE(handler.calls == 0 && local == 0);
}

// Each failed attempt calls the handler once with the size, until it gives up (the try-allocation
// tries once); a handler that finds memory makes the retry succeed; a throwing one gives up.
TEST(NewHandlerRetry, HandlerIsCalledOncePerFailedAttempt)
{
    win::HANDLE heap = win::HeapCreate(0, 0, 0);
    win::test::failNextCommits(100);
    {
        NewHandlerScope handler(2);
        EXPECT_EQ(nullptr, oxHeapAlloc(heap, 1 << 20));
        EXPECT_TRUE(handler.calls == 3 && handler.lastSize == std::size_t{1} << 20);
        EXPECT_EQ(nullptr, oxTryHeapAlloc(heap, 1 << 20));
        EXPECT_EQ(3, handler.calls);
    }
    static int thrown = 0;
    thrown = 0;
    std::new_handler previous = std::set_new_handler([] {
        ++thrown;
        throw std::bad_alloc();
    });
    EXPECT_TRUE(oxHeapAlloc(heap, 1 << 20) == nullptr && !oxCallOutOfMemHandler(100));
    std::set_new_handler(previous);
    EXPECT_EQ(2, thrown);
    {
        NewHandlerScope handler(1, [] { win::test::failNextCommits(0); });
        void* p = oxHeapAlloc(heap, 1 << 20);
        EXPECT_TRUE(p != nullptr && handler.calls == 1);
        EXPECT_NE(nullptr, oxHeapReAlloc(heap, p, 30 * 1024));
    }
    win::test::failNextCommits(0);
    win::HeapDestroy(heap);
}

// oxCallOutOfMemHandler answers as the handler does; suppression nests, on the calling thread only.
TEST(OutOfMemHandler, AnswersWhatTheHandlerAnswersUnlessSuppressedOnThisThread)
{
    EXPECT_FALSE(oxCallOutOfMemHandler(10));
    {
        NewHandlerScope refusing(0);
        EXPECT_FALSE(oxCallOutOfMemHandler(20));
        EXPECT_TRUE(refusing.calls == 1 && refusing.lastSize == 20);
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
    EXPECT_EQ(3, handler.calls);
}

struct Counted : OxBaseClassWithNew {
    Counted() { ++constructed; }
    ~Counted() { ++destroyed; }
    char payload[40] = {};
    static inline int constructed = 0, destroyed = 0;
};

// Library objects and text copies (every unit; null to null) live in the process allocator, built once.
TEST(BaseClassWithNew, ObjectsAndTextCopiesComeFromTheProcessAllocator)
{
    Counted::constructed = Counted::destroyed = 0;
    auto* single = new Counted;
    EXPECT_GE(oxHeapSize(nullptr, single), sizeof(Counted));
    delete single;
    delete[] new Counted[3];
    delete new (__FILE__, __LINE__) Counted;
    EXPECT_TRUE(Counted::constructed == 5 && Counted::destroyed == 5);

    EXPECT_EQ(nullptr, __oxStrdup(nullptr));
    const OXCHAR text[] = u"K\u00e4se \U0001F9C0";
    OXCHAR* copy = __oxStrdup(text);
    ASSERT_NE(nullptr, copy);
    EXPECT_TRUE(copy != text && std::memcmp(text, copy, sizeof text) == 0 &&
                oxHeapSize(nullptr, copy) >= sizeof text);
    __oxFree(copy);
}

} // namespace
