// tests/platform/VirtualMemoryTest.cpp
// Reservations driven the way the heaps and the memory manager drive them: reserved, committed,
// decommitted, protected and released, with every VirtualQuery field checked after each step and
// the real page protections probed through a pipe (which answers EFAULT instead of faulting).

#include "platform/TestControls.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace win;

constexpr SIZE_T kMegabyte = 1024 * 1024;
constexpr DWORD kSucceeded = 0xFFFFFFFF;

// The last error a call left when it failed, kSucceeded when it did not.
template <typename T>
DWORD errorOf(T answer)
{
    return answer ? kSucceeded : GetLastError();
}

bool isAllZero(const char* bytes, SIZE_T size)
{
    return size == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, size - 1) == 0);
}

char* reserve(SIZE_T size, DWORD type = MEM_RESERVE, DWORD protect = PAGE_READWRITE)
{
    return static_cast<char*>(VirtualAlloc(nullptr, size, type, protect));
}

// What VirtualQuery must answer; BaseAddress is always the queried address's page.
struct Region {
    const void* allocationBase;
    SIZE_T size;
    DWORD state;
    DWORD protect;
    DWORD allocationProtect = PAGE_READWRITE;
    DWORD type = MEM_PRIVATE;
};
Region reserved(const void* base, SIZE_T size)
{
    return {base, size, MEM_RESERVE, 0};
}
Region committed(const void* base, SIZE_T size, DWORD protect = PAGE_READWRITE)
{
    return {base, size, MEM_COMMIT, protect};
}

::testing::AssertionResult queryAnswers(const void* address, const Region& expected)
{
    MEMORY_BASIC_INFORMATION info;
    std::memset(&info, 0xCD, sizeof info); // a field left unwritten shows
    if (VirtualQuery(address, &info, sizeof info) != sizeof info)
        return ::testing::AssertionFailure() << "VirtualQuery failed with error " << GetLastError();
    const auto page = reinterpret_cast<std::uintptr_t>(address) & ~(kPageSize - 1);
    if (info.BaseAddress == reinterpret_cast<void*>(page) && info.AllocationBase == expected.allocationBase &&
        info.AllocationProtect == expected.allocationProtect && info.PartitionId == 0 &&
        info.RegionSize == expected.size && info.State == expected.state &&
        info.Protect == expected.protect && info.Type == expected.type)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "base " << info.BaseAddress << " allocation base " << info.AllocationBase
           << " allocation protect " << info.AllocationProtect << " size " << info.RegionSize << " state "
           << info.State << " protect " << info.Protect << " type " << info.Type;
}

// Asks the kernel, not the record, whether a page can be read or written: a pipe transfer to or
// from an inaccessible page fails with EFAULT instead of faulting.
class PageProbe {
public:
    PageProbe() { EXPECT_EQ(0, pipe2(mPipe, O_NONBLOCK | O_CLOEXEC)); }
    ~PageProbe()
    {
        close(mPipe[0]);
        close(mPipe[1]);
    }
    bool canRead(const void* address) { return write(mPipe[1], address, 1) == 1 && drain(); }
    // Writes back the byte already there, so contents survive the probe.
    bool canWrite(char* address)
    {
        const char value = canRead(address) ? *address : 0;
        return write(mPipe[1], &value, 1) == 1 && (read(mPipe[0], address, 1) == 1 || !drain());
    }

private:
    bool drain()
    {
        char sink[16];
        while (read(mPipe[0], sink, sizeof sink) > 0) {
        }
        return true;
    }
    int mPipe[2] = {-1, -1};
};

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
    PageProbe mProbe;
};

// ---------------------------------------------------------------------------------------------
// Lifecycle, swept over reservation sizes whose page states live inline (64 KB), in a pooled
// array (1 MB, the small-block heap's regions) and in a mapping of their own (512 MB).

class ReservationLifecycle : public VirtualMemoryTest, public ::testing::WithParamInterface<SIZE_T> {};

// Page states are compared eight at a time, so runs here cross and end inside groups of eight.
// Faults: a region size running past a state change or the reservation's end (or stopping short
// at a group's edge), a state the kernel does not actually have, a release that leaves the
// record behind, a recycled record still holding the states of the reservation it served before.
TEST_P(ReservationLifecycle, EachStepIsVisibleToQueryAndToTheKernel)
{
    const SIZE_T size = GetParam();
    for (int round = 0; round < 2; ++round) {
        char* base = reserve(size);
        ASSERT_NE(nullptr, base);
        EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(base) % kAllocationGranularity);
        EXPECT_TRUE(queryAnswers(base + 5, reserved(base, size)));
        EXPECT_TRUE(queryAnswers(base + size - 1, reserved(base, kPageSize)));
        EXPECT_FALSE(mProbe.canRead(base));

        // Bytes [1 page + 100, 13 pages + 100) touch pages 1 to 13.
        EXPECT_EQ(base + kPageSize, VirtualAlloc(base + kPageSize + 100, 12 * kPageSize, MEM_COMMIT,
                                                 round == 0 ? PAGE_READWRITE : PAGE_EXECUTE_READWRITE));
        if (round == 0) {
            EXPECT_TRUE(queryAnswers(base, reserved(base, kPageSize)));
            EXPECT_TRUE(queryAnswers(base + kPageSize, committed(base, 13 * kPageSize)));
        }
        EXPECT_TRUE(queryAnswers(base + 14 * kPageSize, reserved(base, size - 14 * kPageSize)));
        EXPECT_TRUE(mProbe.canWrite(base + 14 * kPageSize - 1));
        EXPECT_FALSE(mProbe.canRead(base + 14 * kPageSize));

        ASSERT_TRUE(VirtualFree(base + 3 * kPageSize, kPageSize, MEM_DECOMMIT));
        DWORD old = 0;
        ASSERT_TRUE(VirtualProtect(base + 5 * kPageSize, 6 * kPageSize, PAGE_READONLY, &old));
        if (round == 0) {
            EXPECT_TRUE(queryAnswers(base + kPageSize, committed(base, 2 * kPageSize)));
            EXPECT_TRUE(queryAnswers(base + 3 * kPageSize, reserved(base, kPageSize)));
            EXPECT_TRUE(queryAnswers(base + 4 * kPageSize, committed(base, kPageSize)));
            EXPECT_TRUE(queryAnswers(base + 8 * kPageSize, committed(base, 3 * kPageSize, PAGE_READONLY)));
            EXPECT_TRUE(queryAnswers(base + 11 * kPageSize, committed(base, 3 * kPageSize)));
            EXPECT_FALSE(mProbe.canRead(base + 3 * kPageSize));
            EXPECT_FALSE(mProbe.canWrite(base + 8 * kPageSize));
        }
        ASSERT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
        MEMORY_BASIC_INFORMATION info;
        ASSERT_EQ(sizeof info, VirtualQuery(base, &info, sizeof info));
        EXPECT_TRUE(info.State == MEM_FREE && info.AllocationBase == nullptr && info.RegionSize >= size);
    }
}

// Faults: pages handed out again without being cleared (reserve-and-commit, recommit after a
// decommit of some pages or of all), committed pages cleared by a second commit or by a reset.
// Only the first four pages and the last one are touched, so the large reservation stays cheap.
TEST_P(ReservationLifecycle, NewPagesReadZeroAndCommittedPagesKeepTheirContents)
{
    const SIZE_T size = GetParam();
    char* base = reserve(size, MEM_RESERVE | MEM_COMMIT);
    ASSERT_NE(nullptr, base);
    char* last = base + size - kPageSize;
    EXPECT_TRUE(queryAnswers(base, committed(base, size)));
    EXPECT_TRUE(isAllZero(base, 4 * kPageSize) && isAllZero(last, kPageSize));
    std::memset(base, 0xAB, 4 * kPageSize);

    EXPECT_EQ(base, VirtualAlloc(base, 2 * kPageSize, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_EQ(base + 2 * kPageSize, VirtualAlloc(base + 2 * kPageSize, 1, MEM_RESET, PAGE_READWRITE));
    EXPECT_TRUE(queryAnswers(base, committed(base, size)));
    base[2 * kPageSize] = 0x5A; // a reset page stays committed and writable
    ASSERT_TRUE(VirtualFree(base + kPageSize, kPageSize, MEM_DECOMMIT));
    EXPECT_EQ(base + kPageSize, VirtualAlloc(base + kPageSize, kPageSize, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_TRUE(isAllZero(base + kPageSize, kPageSize));
    EXPECT_EQ(static_cast<char>(0xAB), base[kPageSize - 1]);
    EXPECT_EQ(static_cast<char>(0xAB), base[3 * kPageSize]);

    // Size 0 at the base decommits the whole reservation.
    ASSERT_TRUE(VirtualFree(base, 0, MEM_DECOMMIT));
    EXPECT_TRUE(queryAnswers(base + size / 2, reserved(base, size - size / 2)));
    ASSERT_EQ(base, VirtualAlloc(base, size, MEM_COMMIT, PAGE_READONLY));
    EXPECT_TRUE(isAllZero(base, 4 * kPageSize));
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

INSTANTIATE_TEST_SUITE_P(StateStorage, ReservationLifecycle,
                         ::testing::Values(kAllocationGranularity, kMegabyte, 512 * kMegabyte),
                         [](const auto& info) { return std::to_string(info.param / 1024) + "KB"; });

// ---------------------------------------------------------------------------------------------

// Faults: the record and the mapping disagreeing after a change, the old protection taken from
// the wrong page, a change applied over reserved pages, the modifiers dropped from the record,
// a guard page made inaccessible (its first touch would kill the process).
TEST_F(VirtualMemoryTest, ProtectChangesTheMappingAndKeepsModifiers)
{
    char* base = reserve(8 * kPageSize);
    ASSERT_NE(nullptr, base);
    ASSERT_NE(nullptr, VirtualAlloc(base, 4 * kPageSize, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD));
    base[kPageSize] = 7;
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(base + kPageSize, 2 * kPageSize, PAGE_READONLY | PAGE_NOCACHE, &old));
    EXPECT_EQ(DWORD{PAGE_READWRITE | PAGE_GUARD}, old);
    EXPECT_TRUE(queryAnswers(base, committed(base, kPageSize, PAGE_READWRITE | PAGE_GUARD)));
    EXPECT_TRUE(queryAnswers(base + kPageSize, committed(base, 2 * kPageSize, PAGE_READONLY | PAGE_NOCACHE)));
    EXPECT_TRUE(mProbe.canWrite(base) && mProbe.canRead(base + kPageSize) &&
                !mProbe.canWrite(base + kPageSize));

    // Page 4 is only reserved: the whole call is refused and page 3 keeps its protection.
    EXPECT_EQ(ERROR_INVALID_ADDRESS,
              errorOf(VirtualProtect(base + 3 * kPageSize, 2 * kPageSize, PAGE_NOACCESS, &old)));
    EXPECT_TRUE(mProbe.canWrite(base + 3 * kPageSize));

    // Pages 2 and 3 differ: the old protection is the first page's.
    ASSERT_TRUE(VirtualProtect(base + 2 * kPageSize, 2 * kPageSize, PAGE_NOACCESS, &old));
    EXPECT_EQ(DWORD{PAGE_READONLY | PAGE_NOCACHE}, old);
    EXPECT_FALSE(mProbe.canRead(base + 2 * kPageSize));
    // A commit over committed pages of mixed protections (the first already as asked) gives them
    // all its protection and keeps their contents.
    ASSERT_EQ(base, VirtualAlloc(base, 4 * kPageSize, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD));
    EXPECT_TRUE(queryAnswers(base, committed(base, 4 * kPageSize, PAGE_READWRITE | PAGE_GUARD)));
    ASSERT_TRUE(mProbe.canWrite(base + 3 * kPageSize) && mProbe.canWrite(base + kPageSize));
    EXPECT_EQ(7, base[kPageSize]);
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

// The small-block heap reserves 1 MB regions downward, each just below the last. The kernel
// merges such neighbours into one mapping, so faults here are the record merging them too: a
// region running into the neighbour, a commit across the boundary, a release taking both.
TEST_F(VirtualMemoryTest, FixedReserveJustBelowAnotherStaysASeparateReservation)
{
    char* upper = freeMegabyteAlignedSpan(2) + kMegabyte;
    char* lower = upper - kMegabyte;
    ASSERT_EQ(upper, VirtualAlloc(upper, kMegabyte, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_EQ(lower, VirtualAlloc(lower, kMegabyte, MEM_RESERVE, PAGE_READWRITE));
    EXPECT_TRUE(queryAnswers(lower + 4 * kPageSize, reserved(lower, kMegabyte - 4 * kPageSize)));
    EXPECT_EQ(ERROR_INVALID_ADDRESS,
              errorOf(VirtualAlloc(upper - kPageSize, 2 * kPageSize, MEM_COMMIT, PAGE_READWRITE)));
    EXPECT_EQ(ERROR_INVALID_ADDRESS, errorOf(VirtualFree(upper - kPageSize, 2 * kPageSize, MEM_DECOMMIT)));
    EXPECT_TRUE(queryAnswers(upper - kPageSize, reserved(lower, kPageSize)));

    ASSERT_EQ(upper, VirtualAlloc(upper, kPageSize, MEM_COMMIT, PAGE_READWRITE));
    upper[0] = 42;
    ASSERT_TRUE(VirtualFree(lower, 0, MEM_RELEASE));
    EXPECT_EQ(42, upper[0]);
    EXPECT_TRUE(queryAnswers(upper, committed(upper, kPageSize)));
    EXPECT_TRUE(VirtualFree(upper, 0, MEM_RELEASE));
}

// Faults: a fixed reserve that replaces what is there (ours or another's) instead of failing or
// ignores the 64 KB rounding; a record kept for a reservation someone unmapped directly, which
// would overlap the next reservation the kernel places there.
TEST_F(VirtualMemoryTest, FixedReserveRoundsDownAndRefusesOccupiedSpace)
{
    char* free = freeMegabyteAlignedSpan(1);
    ASSERT_EQ(free, VirtualAlloc(free + 0x1234, 0x10000, MEM_RESERVE, PAGE_READWRITE));
    EXPECT_TRUE(queryAnswers(free, reserved(free, 0x12000))); // bytes up to 0x11234 end in page 0x11
    EXPECT_EQ(ERROR_INVALID_ADDRESS,
              errorOf(VirtualAlloc(free + 0x10000, kPageSize, MEM_RESERVE, PAGE_READWRITE)));
    EXPECT_EQ(mLiveAtStart + 1, test::liveReservationCount());

    munmap(free, 0x12000); // behind the layer's back
    void* foreign = mmap(free, kPageSize, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    ASSERT_EQ(static_cast<void*>(free), foreign);
    *free = 99;
    EXPECT_EQ(ERROR_INVALID_ADDRESS,
              errorOf(VirtualAlloc(free, kMegabyte, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)));
    EXPECT_EQ(99, *free);
    ASSERT_EQ(free + 0x10000, VirtualAlloc(free + 0x10000, kPageSize, MEM_RESERVE, PAGE_READWRITE));
    EXPECT_EQ(mLiveAtStart + 1, test::liveReservationCount());
    EXPECT_EQ(ERROR_INVALID_ADDRESS, errorOf(VirtualFree(free, 0, MEM_RELEASE)));
    EXPECT_EQ(99, *free);
    EXPECT_TRUE(VirtualFree(free + 0x10000, 0, MEM_RELEASE));
    munmap(foreign, kPageSize);
}

// Faults: a refused call that acts (or half acts) anyway: a release from the middle or with a
// size, a commit reaching out of its reservation, bad flags, sizes or protections.
TEST_F(VirtualMemoryTest, RefusedRequestsChangeNothing)
{
    char* base = reserve(4 * kPageSize, MEM_RESERVE | MEM_COMMIT);
    ASSERT_NE(nullptr, base);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualFree(base, 4 * kPageSize, MEM_RELEASE)));
    EXPECT_EQ(ERROR_INVALID_ADDRESS, errorOf(VirtualFree(base + kPageSize, 0, MEM_RELEASE)));
    EXPECT_EQ(ERROR_INVALID_ADDRESS, errorOf(VirtualFree(nullptr, 0, MEM_RELEASE)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualFree(base + kPageSize, 0, MEM_DECOMMIT)));
    ASSERT_TRUE(VirtualFree(base + 2 * kPageSize, 2 * kPageSize, MEM_DECOMMIT));
    EXPECT_EQ(ERROR_INVALID_ADDRESS,
              errorOf(VirtualAlloc(base + kPageSize, 4 * kPageSize, MEM_COMMIT, PAGE_READONLY)));

    DWORD old = 0;
    for (DWORD protect :
         {0u, PAGE_READONLY | PAGE_READWRITE, PAGE_WRITECOPY, PAGE_EXECUTE_WRITECOPY, PAGE_GUARD,
          PAGE_NOACCESS | PAGE_GUARD, PAGE_READWRITE | PAGE_GUARD | PAGE_NOCACHE, PAGE_READWRITE | 0x400}) {
        SCOPED_TRACE(protect);
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualAlloc(nullptr, kPageSize, MEM_RESERVE, protect)));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualAlloc(base, kPageSize, MEM_COMMIT, protect)));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualProtect(base, kPageSize, protect, &old)));
    }
    for (DWORD type :
         {0u, MEM_DECOMMIT, MEM_RELEASE, MEM_TOP_DOWN, MEM_RESET | MEM_COMMIT, MEM_RESERVE | 1u}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualAlloc(nullptr, kPageSize, type, PAGE_READWRITE)));
    }
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualAlloc(nullptr, 0, MEM_RESERVE, PAGE_READWRITE)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualAlloc(base, 0, MEM_COMMIT, PAGE_READWRITE)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualAlloc(nullptr, kPageSize, MEM_RESET, PAGE_READWRITE)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualFree(base, 0, MEM_RELEASE | MEM_DECOMMIT)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualProtect(base, kPageSize, PAGE_READONLY, nullptr)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualProtect(base, 0, PAGE_READONLY, &old)));

    EXPECT_EQ(mLiveAtStart + 1, test::liveReservationCount());
    EXPECT_TRUE(queryAnswers(base, committed(base, 2 * kPageSize)));
    EXPECT_TRUE(mProbe.canWrite(base + kPageSize) && !mProbe.canRead(base + 2 * kPageSize));
    ASSERT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_EQ(ERROR_INVALID_ADDRESS, errorOf(VirtualFree(base, 0, MEM_RELEASE)));
}

// Memory the layer did not reserve is described from the kernel's mappings. Faults: a short or
// missing buffer written to, kernel addresses looked up, a foreign page said to be free (or a
// hole said to be mapped), a protection the page does not have, a free region running over the
// next mapping.
TEST_F(VirtualMemoryTest, QueryDescribesMemoryOutsideReservationsFromTheKernel)
{
    MEMORY_BASIC_INFORMATION info{};
    EXPECT_EQ(ERROR_INVALID_PARAMETER, errorOf(VirtualQuery(&info, nullptr, sizeof info)));
    EXPECT_EQ(ERROR_BAD_LENGTH, errorOf(VirtualQuery(&info, &info, sizeof info - 1)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              errorOf(VirtualQuery(reinterpret_cast<void*>(0x7FFF'FFFF'FFFF), &info, sizeof info)));

    ASSERT_EQ(sizeof info, VirtualQuery(&info, &info, sizeof info)); // the stack
    EXPECT_EQ(DWORD{MEM_COMMIT}, info.State);
    EXPECT_EQ(DWORD{PAGE_READWRITE}, info.Protect);

    // Pages 0 and 2 of four are unmapped: page 1 is a mapping of its own, page 2 a one-page hole.
    char* pages =
        static_cast<char*>(mmap(nullptr, 4 * kPageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, static_cast<void*>(pages));
    munmap(pages, kPageSize);
    munmap(pages + 2 * kPageSize, kPageSize);
    EXPECT_TRUE(queryAnswers(pages + kPageSize + 10,
                             {pages + kPageSize, kPageSize, MEM_COMMIT, PAGE_READONLY, PAGE_READONLY}));
    EXPECT_TRUE(queryAnswers(pages + 2 * kPageSize, {nullptr, kPageSize, MEM_FREE, PAGE_NOACCESS, 0, 0}));
    munmap(pages, 4 * kPageSize);
}

// Faults: more or fewer commits failing than asked, a failing commit that changes something, a
// reserve-only call using up a failure meant for a commit.
TEST_F(VirtualMemoryTest, FailNextCommitsFailsExactlyThatManyCommitsAndChangesNothing)
{
    char* base = reserve(4 * kPageSize);
    ASSERT_NE(nullptr, base);
    test::failNextCommits(2);
    EXPECT_TRUE(VirtualFree(reserve(kPageSize), 0, MEM_RELEASE));
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, errorOf(VirtualAlloc(base, kPageSize, MEM_COMMIT, PAGE_READWRITE)));
    EXPECT_TRUE(queryAnswers(base, reserved(base, 4 * kPageSize)));
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, errorOf(reserve(kPageSize, MEM_RESERVE | MEM_COMMIT)));
    EXPECT_EQ(mLiveAtStart + 1, test::liveReservationCount());
    EXPECT_EQ(base, VirtualAlloc(base, kPageSize, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

// ---------------------------------------------------------------------------------------------
// Threads (also run under ThreadSanitizer)

// Threads reserve, commit, check, decommit and release their own reservations while the record
// shifts under them. Faults: a lost or duplicated entry (the count drifts), pages handed out
// with another thread's data, a query answered from a moving table.
TEST_F(VirtualMemoryTest, ConcurrentReservationsKeepTheRecordExact)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 150; ++round) {
                // Inline, pooled and separately mapped page states.
                const SIZE_T sizes[] = {kAllocationGranularity, kMegabyte, 2 * kMegabyte + kPageSize};
                char* base = reserve(sizes[round % 3]);
                if (base == nullptr) {
                    ++failures;
                    continue;
                }
                char* pages = base + static_cast<SIZE_T>((round * 7 + t) % 8) * kPageSize;
                const bool committedZero =
                    VirtualAlloc(pages, 4 * kPageSize, MEM_COMMIT, PAGE_READWRITE) == pages &&
                    isAllZero(pages, 4 * kPageSize);
                if (committedZero)
                    std::memset(pages, t + 1, 4 * kPageSize);
                MEMORY_BASIC_INFORMATION info{};
                const bool ok = committedZero &&
                                VirtualQuery(pages + kPageSize, &info, sizeof info) == sizeof info &&
                                info.AllocationBase == base && info.RegionSize == 3 * kPageSize &&
                                VirtualFree(pages, kPageSize, MEM_DECOMMIT) && pages[kPageSize] == t + 1;
                if (!VirtualFree(base, 0, MEM_RELEASE) || !ok)
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, failures.load());
}

} // namespace
