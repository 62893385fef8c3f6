// tests/platform/ThreadsTest.cpp
// Thread-local storage with Windows' answers, the fiber-data word and stack limits.

#include "platform/PlatformTest.h"

namespace {

using namespace win;

// Values shared between threads, a new thread not starting with null, a read that changes the last
// error (callers test it after a null answer); a freed index keeping its values, here or in a thread
// still running, so whoever gets the index next finds a stale value.
TEST(ThreadLocalStorage, ValuesArePerThreadAndFreeClearsThemEverywhere)
{
    std::vector<DWORD> indices(40);
    int mine = 0, theirs = 0;
    for (DWORD& index : indices)
        TlsSetValue(index = TlsAlloc(), &mine);
    std::atomic<int> phase{0};
    std::vector<void*> seen;
    std::thread other([&] {
        for (DWORD index : indices) {
            seen.push_back(TlsGetValue(index));
            TlsSetValue(index, &theirs);
        }
        phase = 1;
        while (phase.load() != 2)
            std::this_thread::yield();
        for (DWORD index : indices)
            seen.push_back(TlsGetValue(index));
    });
    while (phase.load() != 1)
        std::this_thread::yield();
    SetLastError(99);
    EXPECT_TRUE(TlsGetValue(indices[0]) == &mine && GetLastError() == ERROR_SUCCESS);
    for (DWORD& index : indices) {
        EXPECT_TRUE(TlsFree(index));
        index = TlsAlloc();
    }
    phase = 2;
    other.join();
    for (DWORD index : indices) {
        EXPECT_EQ(nullptr, TlsGetValue(index));
        TlsFree(index);
    }
    EXPECT_EQ(std::vector<void*>(80, nullptr), seen);
}

// Unallocated or freed indices used without Windows' errors; a double free succeeding; the
// supply running past its slots instead of ending with TLS_OUT_OF_INDEXES.
TEST(ThreadLocalStorage, RefusalsAndExhaustion)
{
    EXPECT_TRUE(TlsGetValue(kTlsSlotCount) == nullptr && GetLastError() == ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(TlsSetValue(kTlsSlotCount, nullptr) || TlsFree(TLS_OUT_OF_INDEXES));
    std::vector<DWORD> all;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
        all.push_back(index);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, GetLastError());
    EXPECT_TRUE(all.size() <= kTlsSlotCount && all.size() > kTlsSlotCount - 8) << all.size();
    EXPECT_TRUE(TlsFree(all.back()) && !TlsFree(all.back()));
    EXPECT_TRUE(TlsGetValue(all.back()) == nullptr && GetLastError() == ERROR_INVALID_PARAMETER);
    all.pop_back();
    for (DWORD index : all)
        TlsFree(index);
}

// A fiber word shared between threads; stack limits that do not enclose the caller's locals, on
// the main thread or another.
TEST(ThreadState, FiberWordAndStackLimitsArePerThread)
{
    auto stackEnclosesLocals = [] {
        int local = 0;
        ULONG_PTR low = 0, high = 0;
        GetCurrentThreadStackLimits(&low, &high);
        return low < reinterpret_cast<ULONG_PTR>(&local) && reinterpret_cast<ULONG_PTR>(&local) < high;
    };
    EXPECT_EQ(nullptr, GetCurrentFiber());
    int fiber = 0;
    test::setCurrentFiber(&fiber);
    void* otherFiber = &fiber;
    bool otherStack = false;
    std::thread([&] { otherFiber = GetCurrentFiber(), otherStack = stackEnclosesLocals(); }).join();
    EXPECT_TRUE(GetCurrentFiber() == &fiber && otherFiber == nullptr);
    test::setCurrentFiber(nullptr);
    EXPECT_TRUE(stackEnclosesLocals() && otherStack);
}

} // namespace
