// tests/platform/VirtualMemoryTest.cpp
// Reservations driven the way the heaps and the memory manager drive them, with every VirtualQuery
// field checked after each step and the kernel's page protections probed.

#include "platform/PlatformTest.h"

#include <cstring>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

using namespace win;
using oxtest::errorOf;
using oxtest::Errors;
using ::testing::Each;

constexpr SIZE_T kMegabyte = 1024 * 1024;
constexpr SIZE_T kPage = kPageSize;

bool isAllZero(const char* bytes, SIZE_T size)
{
    return bytes[0] == 0 && std::memcmp(bytes, bytes + 1, size - 1) == 0;
}

char* reserve(SIZE_T size, DWORD type = MEM_RESERVE)
{
    return static_cast<char*>(VirtualAlloc(nullptr, size, type, PAGE_READWRITE));
}

// Whether VirtualQuery answers for `address` its page as BaseAddress and the rest as given; a
// field left unwritten shows. `protect` 0 means reserved, otherwise `state` defaults to committed.
::testing::AssertionResult queryShows(const void* address, const void* base, SIZE_T size, DWORD protect,
                                      DWORD state = 0, DWORD allocationProtect = PAGE_READWRITE,
                                      DWORD type = MEM_PRIVATE)
{
    MEMORY_BASIC_INFORMATION info;
    std::memset(&info, 0xCD, sizeof info);
    state = state != 0 ? state : protect == 0 ? MEM_RESERVE : MEM_COMMIT;
    return ::testing::AssertionResult(
               VirtualQuery(address, &info, sizeof info) == sizeof info &&
               info.BaseAddress ==
                   reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(address) & ~(kPage - 1)) &&
               info.AllocationBase == base && info.AllocationProtect == allocationProtect &&
               info.PartitionId == 0 && info.RegionSize == size && info.State == state &&
               info.Protect == protect && info.Type == type)
           << "base " << info.AllocationBase << " size " << info.RegionSize << " state " << info.State
           << " protect " << info.Protect << " error " << GetLastError();
}

// The kernel's answer, not the record's, to whether the byte at `address` can be read (and written
// back): a transfer of it fails with EFAULT where an access would fault.
bool canAccess(char* address, bool write)
{
    char byte = 0;
    iovec local{&byte, 1}, remote{address, 1};
    return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == 1 &&
           (!write || process_vm_writev(getpid(), &local, 1, &remote, 1, 0) == 1);
}

// Whether the page at `address` holds memory of its own (a page given back to the system does not).
bool isResident(char* address)
{
    unsigned char residency = 0;
    return mincore(address, kPage, &residency) == 0 && (residency & 1) != 0;
}

// Every test leaves the record as it found it and no forced failures behind.
class VirtualMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { mLiveAtStart = test::liveReservationCount(); }
    void TearDown() override
    {
        test::failNextCommits(0);
        EXPECT_EQ(mLiveAtStart, test::liveReservationCount()) << "a reservation leaked or was forgotten";
    }
    // A 1 MB aligned address with `megabytes` MB free from it, found by reserving and releasing.
    static char* freeMegabyteAlignedSpan(SIZE_T megabytes)
    {
        char* probe = reserve((megabytes + 1) * kMegabyte);
        EXPECT_TRUE(VirtualFree(probe, 0, MEM_RELEASE));
        return reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(probe) + kMegabyte - 1) &
                                       ~(kMegabyte - 1));
    }
    SIZE_T mLiveAtStart = 0;
};

// Page states live inline (64 KB), in a pooled array (1 MB, the small-block heap's regions) or in a
// mapping of their own (512 MB); they are compared eight at a time.
class ReservationLifecycle : public VirtualMemoryTest, public ::testing::WithParamInterface<SIZE_T> {};

// A region size running past a state change or the end (or stopping short at the edge of a group of
// eight), a state the kernel does not have, a protection change half applied before it meets a
// reserved page, a release leaving the record behind, a recycled record keeping its former states.
// Pages handed out again without being cleared (reserve-and-commit, recommit after a decommit of some
// pages or of all); committed pages cleared by a second commit or left with their former protection
// by it; decommitted memory kept by the system, or a reserved run cut where pages were decommitted.
// Only a few pages are touched, so 512 MB stays cheap.
TEST_P(ReservationLifecycle, EachStepIsVisibleToQueryAndToTheKernel)
{
    const SIZE_T size = GetParam();
    DWORD old = 0;
    for (int round = 0; round < 2; ++round) {
        char* base = reserve(size);
        ASSERT_NE(nullptr, base);
        EXPECT_TRUE(reinterpret_cast<std::uintptr_t>(base) % kAllocationGranularity == 0 &&
                    queryShows(base + 5, base, size, 0) && queryShows(base + size - 1, base, kPage, 0) &&
                    !canAccess(base, false));
        const DWORD protect = round == 0 ? PAGE_READWRITE : PAGE_EXECUTE_READWRITE; // pages 1 to 13:
        EXPECT_EQ(base + kPage, VirtualAlloc(base + kPage + 100, 12 * kPage, MEM_COMMIT, protect));
        EXPECT_TRUE(queryShows(base + 14 * kPage, base, size - 14 * kPage, 0) &&
                    canAccess(base + 14 * kPage - 1, true) && !canAccess(base + 14 * kPage, false));
        base[3 * kPage] = 1;
        ASSERT_TRUE(isResident(base + 3 * kPage) && VirtualFree(base + 3 * kPage, kPage, MEM_DECOMMIT) &&
                    VirtualProtect(base + 5 * kPage, 6 * kPage, PAGE_READONLY, &old));
        EXPECT_TRUE(old == protect && errorOf(VirtualProtect(base + 2 * kPage, 2 * kPage, PAGE_NOACCESS,
                                                             &old)) == ERROR_INVALID_ADDRESS);
        // Page 0 reserved, 1-2 committed, 3 decommitted, 4 committed, 5-10 read-only, 11-13 committed.
        const std::tuple<SIZE_T, SIZE_T, DWORD> layout[] = {
            {0, 1, 0}, {1, 2, protect}, {3, 1, 0}, {4, 1, protect}, {8, 3, PAGE_READONLY}, {11, 3, protect}};
        for (const auto& [page, pages, pageProtect] : layout)
            EXPECT_TRUE(queryShows(base + page * kPage, base, pages * kPage, pageProtect)) << page;
        EXPECT_TRUE(!isResident(base + 3 * kPage) && !canAccess(base + 8 * kPage, true) &&
                    canAccess(base + 2 * kPage, true));
        EXPECT_TRUE(VirtualFree(base + kPage, kPage, MEM_DECOMMIT) && queryShows(base, base, 2 * kPage, 0));
        EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE)); // the fixture sees the record gone
    }
    char* base = reserve(size, MEM_RESERVE | MEM_COMMIT);
    ASSERT_NE(nullptr, base);
    EXPECT_TRUE(queryShows(base, base, size, PAGE_READWRITE) && isAllZero(base, 4 * kPage) &&
                isAllZero(base + size - kPage, kPage));
    std::memset(base, 0xAB, 4 * kPage);
    ASSERT_TRUE(VirtualProtect(base + kPage, kPage, PAGE_READONLY, &old));
    EXPECT_EQ(base, VirtualAlloc(base, 2 * kPage, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_TRUE(queryShows(base, base, size, PAGE_READWRITE));
    ASSERT_TRUE(VirtualFree(base + kPage, kPage, MEM_DECOMMIT));
    EXPECT_EQ(base + kPage, VirtualAlloc(base + kPage, kPage, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_TRUE(isAllZero(base + kPage, kPage) && base[kPage - 1] == static_cast<char>(0xAB) &&
                base[3 * kPage] == static_cast<char>(0xAB));
    ASSERT_TRUE(VirtualFree(base, 0, MEM_DECOMMIT)); // size 0 at the base: the whole reservation
    EXPECT_TRUE(queryShows(base + size / 2, base, size - size / 2, 0) && queryShows(base, base, size, 0));
    ASSERT_EQ(base, VirtualAlloc(base, size, MEM_COMMIT, PAGE_READONLY));
    EXPECT_TRUE(isAllZero(base, 4 * kPage) && VirtualFree(base, 0, MEM_RELEASE));
}

INSTANTIATE_TEST_SUITE_P(StateStorage, ReservationLifecycle,
                         ::testing::Values(kAllocationGranularity, kMegabyte, 512 * kMegabyte));

// Neighbouring 1 MB reservations (the small-block heap's, merged by the kernel into one mapping)
// crossed by a region, commit or release; a fixed reserve not rounded down to 64 KB, or replacing
// occupied space, ours or another's.
TEST_F(VirtualMemoryTest, FixedReservesStaySeparateAndNeverReplaceWhatIsThere)
{
    char* upper = freeMegabyteAlignedSpan(2) + kMegabyte;
    char* lower = upper - kMegabyte;
    ASSERT_EQ(upper, VirtualAlloc(upper, kMegabyte, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_EQ(lower, VirtualAlloc(lower, kMegabyte, MEM_RESERVE, PAGE_READWRITE));
    EXPECT_TRUE(queryShows(lower + 4 * kPage, lower, kMegabyte - 4 * kPage, 0));
    EXPECT_TRUE(errorOf(VirtualAlloc(upper - kPage, 2 * kPage, MEM_COMMIT, PAGE_READWRITE)) ==
                    ERROR_INVALID_ADDRESS &&
                errorOf(VirtualFree(upper - kPage, 2 * kPage, MEM_DECOMMIT)) == ERROR_INVALID_ADDRESS &&
                queryShows(upper - kPage, lower, kPage, 0));
    ASSERT_EQ(upper, VirtualAlloc(upper, kPage, MEM_COMMIT, PAGE_READWRITE));
    upper[0] = 42;
    ASSERT_TRUE(VirtualFree(lower, 0, MEM_RELEASE));
    EXPECT_TRUE(upper[0] == 42 && queryShows(upper, upper, kPage, PAGE_READWRITE) &&
                VirtualFree(upper, 0, MEM_RELEASE));

    char* free = freeMegabyteAlignedSpan(1);
    ASSERT_EQ(free, VirtualAlloc(free + 0x1234, 0x10000, MEM_RESERVE, PAGE_READWRITE));
    EXPECT_TRUE(queryShows(free, free, 0x12000, 0) && // bytes up to 0x11234 end in page 0x11
                errorOf(VirtualAlloc(free + 0x10000, kPage, MEM_RESERVE, PAGE_READWRITE)) ==
                    ERROR_INVALID_ADDRESS &&
                VirtualFree(free, 0, MEM_RELEASE));
    void* foreign = mmap(free, kPage, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    ASSERT_EQ(static_cast<void*>(free), foreign);
    EXPECT_EQ(ERROR_INVALID_ADDRESS, errorOf(VirtualAlloc(free, kMegabyte, MEM_RESERVE, PAGE_READWRITE)));
    munmap(foreign, kPage);
}

// Refused calls acting, or half acting: releases from the middle or with a size, commits out of their
// reservation, bad types, sizes or protections; forced commit failures failing other than that many
// commits (a reserve-only call uses none up) or changing anything. Memory the layer did not reserve
// not described from the kernel's mappings: a short or missing buffer written to, kernel addresses
// looked up, a foreign page said free (or a hole mapped), a protection the page lacks, a free region
// running over the next mapping.
TEST_F(VirtualMemoryTest, RefusedRequestsChangeNothingAndForeignMemoryIsDescribed)
{
    char* base = reserve(4 * kPage, MEM_RESERVE | MEM_COMMIT);
    ASSERT_TRUE(base != nullptr && VirtualFree(base + 2 * kPage, 2 * kPage, MEM_DECOMMIT));
    DWORD old = 0;
    EXPECT_THAT((Errors{errorOf(VirtualFree(base, 4 * kPage, MEM_RELEASE)),
                        errorOf(VirtualFree(base + kPage, 0, MEM_DECOMMIT)),
                        errorOf(VirtualFree(base, 0, MEM_RELEASE | MEM_DECOMMIT)),
                        errorOf(VirtualAlloc(nullptr, 0, MEM_RESERVE, PAGE_READWRITE)),
                        errorOf(VirtualAlloc(base, 0, MEM_COMMIT, PAGE_READWRITE)),
                        errorOf(VirtualProtect(base, kPage, PAGE_READONLY, nullptr)),
                        errorOf(VirtualProtect(base, 0, PAGE_READONLY, &old))}),
                Each(ERROR_INVALID_PARAMETER));
    EXPECT_THAT((Errors{errorOf(VirtualFree(base + kPage, 0, MEM_RELEASE)),
                        errorOf(VirtualFree(nullptr, 0, MEM_RELEASE)),
                        errorOf(VirtualAlloc(base + kPage, 4 * kPage, MEM_COMMIT, PAGE_READONLY))}),
                Each(ERROR_INVALID_ADDRESS));
    // Copy-on-write (8, 0x80) and the modifiers (0x100 guard, 0x200, 0x400) are not emulated.
    for (DWORD protect : {0u, PAGE_READONLY | PAGE_READWRITE, 8u, 0x80u, 0x100u, PAGE_READWRITE | 0x100u,
                          PAGE_READWRITE | 0x200u, PAGE_READWRITE | 0x400u})
        EXPECT_THAT((Errors{errorOf(VirtualAlloc(nullptr, kPage, MEM_RESERVE, protect)),
                            errorOf(VirtualAlloc(base, kPage, MEM_COMMIT, protect)),
                            errorOf(VirtualProtect(base, kPage, protect, &old))}),
                    Each(ERROR_INVALID_PARAMETER))
            << protect;
    for (DWORD type :
         {0u, MEM_DECOMMIT, MEM_RELEASE, MEM_TOP_DOWN, 0x80000u, MEM_RESERVE | 1u}) // 0x80000: reset
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualAlloc(nullptr, kPage, type, PAGE_READWRITE)))
            << type;
    test::failNextCommits(2);
    EXPECT_TRUE(VirtualFree(reserve(kPage), 0, MEM_RELEASE));
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY,
              errorOf(VirtualAlloc(base + 2 * kPage, kPage, MEM_COMMIT, PAGE_READWRITE)));
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, errorOf(reserve(kPage, MEM_RESERVE | MEM_COMMIT)));
    EXPECT_TRUE(mLiveAtStart + 1 == test::liveReservationCount() &&
                queryShows(base, base, 2 * kPage, PAGE_READWRITE) &&
                queryShows(base + 2 * kPage, base, 2 * kPage, 0) && canAccess(base + kPage, true));
    EXPECT_EQ(base + 2 * kPage, VirtualAlloc(base + 2 * kPage, kPage, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE) &&
                errorOf(VirtualFree(base, 0, MEM_RELEASE)) == ERROR_INVALID_ADDRESS);
    MEMORY_BASIC_INFORMATION info{};
    EXPECT_TRUE(errorOf(VirtualQuery(&info, nullptr, sizeof info)) == ERROR_INVALID_PARAMETER &&
                errorOf(VirtualQuery(&info, &info, sizeof info - 1)) == ERROR_BAD_LENGTH &&
                errorOf(VirtualQuery(reinterpret_cast<void*>(0x7FFF'FFFF'FFFF), &info, 48)) ==
                    ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(VirtualQuery(&info, &info, sizeof info) == sizeof info && info.State == MEM_COMMIT &&
                info.Protect == PAGE_READWRITE); // the stack
    // Pages 0 and 2 of four are unmapped: page 1 is a mapping of its own, page 2 a one-page hole.
    auto* pages = static_cast<char*>(mmap(nullptr, 4 * kPage, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, static_cast<void*>(pages));
    munmap(pages, kPage);
    munmap(pages + 2 * kPage, kPage);
    EXPECT_TRUE(
        queryShows(pages + kPage + 10, pages + kPage, kPage, PAGE_READONLY, MEM_COMMIT, PAGE_READONLY));
    EXPECT_TRUE(queryShows(pages + 2 * kPage, nullptr, kPage, PAGE_NOACCESS, MEM_FREE, 0, 0));
    munmap(pages, 4 * kPage);
}

// Threads reserving, committing, checking, decommitting and releasing their own reservations (all
// three state storages) while the record shifts under them: a lost or duplicated entry, pages handed
// out with another thread's data, a query answered from a moving table.
TEST_F(VirtualMemoryTest, ConcurrentReservationsKeepTheRecordExact)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 150; ++round) {
                const SIZE_T sizes[] = {kAllocationGranularity, kMegabyte, 2 * kMegabyte + kPage};
                char* base = reserve(sizes[round % 3]);
                char* pages = base + static_cast<SIZE_T>((round * 7 + t) % 8) * kPage;
                MEMORY_BASIC_INFORMATION info{};
                const bool ok = base != nullptr &&
                                VirtualAlloc(pages, 4 * kPage, MEM_COMMIT, PAGE_READWRITE) == pages &&
                                isAllZero(pages, 4 * kPage) && std::memset(pages, t + 1, 4 * kPage) &&
                                VirtualQuery(pages + kPage, &info, sizeof info) == sizeof info &&
                                info.AllocationBase == base && info.RegionSize == 3 * kPage &&
                                VirtualFree(pages, kPage, MEM_DECOMMIT) && pages[kPage] == t + 1;
                failures += !ok | !(base == nullptr || VirtualFree(base, 0, MEM_RELEASE));
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, failures.load());
}

} // namespace
