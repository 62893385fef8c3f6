// tests/platform/ThreadsTest.cpp
// Thread-local storage with Windows' answers, the fiber-data word and stack limits.

#include "platform/PlatformTest.h"

using namespace win;

static bool stackEnclosesLocals()
{
    int local = 0;
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    return low < reinterpret_cast<ULONG_PTR>(&local) && reinterpret_cast<ULONG_PTR>(&local) < high;
}

// Values or the fiber word shared between threads, a new thread not starting with null, a read that
// changes the last error (callers test it after a null answer); a freed index keeping its values, here
// or in a thread still running, for whoever gets it next; stack limits not enclosing the caller's
// locals, on the main thread or another. Unallocated or freed indices used without Windows' errors,
// a double free succeeding, the supply running past its slots instead of ending with TLS_OUT_OF_INDEXES.
TEST(ThreadLocalStorage, ValuesAreThreadsOwnAndFreedIndicesAreClearedAndRefused)
{
    std::vector<DWORD> indices(40);
    int mine = 0, theirs = 0;
    for (DWORD& index : indices)
        TlsSetValue(index = TlsAlloc(), &mine);
    test::setCurrentFiber(&mine);
    std::atomic<int> phase{0};
    std::vector<void*> seen;
    bool otherStack = false;
    std::thread other([&] {
        seen.push_back(GetCurrentFiber());
        otherStack = stackEnclosesLocals();
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
    EXPECT_TRUE(TlsGetValue(indices[0]) == &mine && GetLastError() == ERROR_SUCCESS &&
                GetCurrentFiber() == &mine);
    test::setCurrentFiber(nullptr);
    for (DWORD& index : indices) {
        EXPECT_TRUE(TlsFree(index));
        index = TlsAlloc();
    }
    phase = 2;
    other.join();
    for (DWORD index : indices)
        EXPECT_EQ(nullptr, TlsGetValue(index));
    EXPECT_TRUE(seen == std::vector<void*>(81, nullptr) && otherStack && stackEnclosesLocals());
    EXPECT_TRUE(TlsGetValue(kTlsSlotCount) == nullptr && GetLastError() == ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(TlsSetValue(kTlsSlotCount, nullptr) || TlsFree(TLS_OUT_OF_INDEXES));
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
        indices.push_back(index);
    EXPECT_TRUE(GetLastError() == ERROR_NO_MORE_ITEMS && indices.size() <= kTlsSlotCount &&
                indices.size() > kTlsSlotCount - 8)
        << indices.size();
    EXPECT_TRUE(TlsFree(indices.back()) && !TlsFree(indices.back()) &&
                TlsGetValue(indices.back()) == nullptr && GetLastError() == ERROR_INVALID_PARAMETER);
    indices.pop_back();
    for (DWORD index : indices)
        TlsFree(index);
}
