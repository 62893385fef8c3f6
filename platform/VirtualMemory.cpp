// platform/VirtualMemory.cpp
// Reserve, commit, decommit, release, protect and query, on mmap, mprotect and madvise. Linux
// knows neither reservations nor committed pages, so this file keeps its own record: a sorted
// table of reservations with one state byte per page. The record lives in memory this file maps
// itself, never the C runtime heap, because allocators call in here with their own locks held.

#include "platform/TestControls.h"
#include "platform/win.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace win {
namespace {

// The first address the kernel never hands out without being asked to (47-bit user space).
constexpr std::uintptr_t kUserSpaceEnd = 0x0000'7FFF'FFFF'F000;

std::uintptr_t roundDown(std::uintptr_t value, std::uintptr_t unit)
{
    return value & ~(unit - 1);
}
std::uintptr_t roundUp(std::uintptr_t value, std::uintptr_t unit)
{
    return (value + unit - 1) & ~(unit - 1);
}

// ---------------------------------------------------------------------------------------------
// Page states
//
// One byte per page: 0 is reserved and inaccessible; a PAGE_* value (all below 0x80) is
// committed with that protection; kDiscarded plus a PAGE_* value is reserved too, decommitted
// from that protection: its data went back to the system, but its mapping kept the protection,
// so that decommitting and committing again need no mprotect, which would split and merge the
// kernel's mappings. Such a page reads zero and does not trap when touched.

using PageState = std::uint8_t;
constexpr PageState kReserved = 0;
constexpr PageState kDiscarded = 0x80;

bool isReserved(PageState state)
{
    return state == kReserved || (state & kDiscarded) != 0;
}

// The protections a page can have; any other value (copy-on-write, a modifier) is refused.
bool isValidProtection(DWORD protect)
{
    switch (protect) {
    case PAGE_NOACCESS:
    case PAGE_READONLY:
    case PAGE_READWRITE:
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ:
    case PAGE_EXECUTE_READWRITE:
        return true;
    default:
        return false;
    }
}

// The protection of the page's kernel mapping.
int posixProtection(PageState state)
{
    switch (state & ~kDiscarded) {
    case PAGE_READONLY:
        return PROT_READ;
    case PAGE_READWRITE:
        return PROT_READ | PROT_WRITE;
    case PAGE_EXECUTE:
        return PROT_EXEC;
    case PAGE_EXECUTE_READ:
        return PROT_READ | PROT_EXEC;
    case PAGE_EXECUTE_READWRITE:
        return PROT_READ | PROT_WRITE | PROT_EXEC;
    default:
        return PROT_NONE; // reserved, PAGE_NOACCESS
    }
}

// Number of pages from `from` (below `end`) whose state equals that of page `from`. Compares
// eight states at a time: a query on a mostly untouched reservation of many gigabytes scans
// millions of bytes.
std::size_t runLength(const PageState* states, std::size_t from, std::size_t end)
{
    const PageState state = states[from];
    const std::uint64_t pattern = 0x0101010101010101ull * state;
    std::size_t page = from + 1;
    while (page < end && page % 8 != 0) {
        if (states[page] != state)
            return page - from;
        ++page;
    }
    while (end - page >= 8) {
        std::uint64_t word;
        std::memcpy(&word, states + page, sizeof word);
        if (word != pattern)
            break;
        page += 8;
    }
    while (page < end && states[page] == state)
        ++page;
    return page - from;
}

// Number of reserved pages from `from` (below `end`, itself reserved), whichever kind of
// reserved state each has; eight at a time, as runLength.
std::size_t reservedRunLength(const PageState* states, std::size_t from, std::size_t end)
{
    std::size_t page = from + 1;
    while (page < end && page % 8 != 0) {
        if (!isReserved(states[page]))
            return page - from;
        ++page;
    }
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    while (end - page >= 8) {
        std::uint64_t word;
        std::memcpy(&word, states + page, sizeof word);
        // Each byte with kDiscarded set becomes 0xFF; any other byte must be 0.
        const std::uint64_t discarded = word & kHighBits;
        if ((word & ~(discarded | (discarded - (discarded >> 7)))) != 0)
            break;
        page += 8;
    }
    while (page < end && isReserved(states[page]))
        ++page;
    return page - from;
}

// ---------------------------------------------------------------------------------------------
// Storage for the state bytes of reservations too large to hold them inline. Arrays up to
// kLargestPooledBytes come from power-of-two classes carved from chunks that are mapped once and
// never returned (the peak of the record stays mapped); a freed array waits on its class's list.
// Larger arrays get a mapping of their own, untouched pages of which cost nothing, so a
// reservation of hundreds of gigabytes needs no up-front work.

constexpr std::size_t kSmallestPooledBytes = 64;
constexpr std::size_t kClassCount = 11; // 64 bytes .. 64 KB
constexpr std::size_t kLargestPooledBytes = kSmallestPooledBytes << (kClassCount - 1);
constexpr std::size_t kChunkBytes = 256 * 1024;

struct FreeStates {
    FreeStates* next;
};

struct StatePool {
    FreeStates* freeLists[kClassCount]; // freeLists[k]: arrays of kSmallestPooledBytes << k bytes
    char* chunkNext;                    // unused part of the current chunk: [chunkNext, chunkEnd),
    char* chunkEnd;                     // a multiple of kSmallestPooledBytes long
};

std::size_t sizeClassOf(std::size_t bytes)
{
    std::size_t sizeClass = 0;
    while ((kSmallestPooledBytes << sizeClass) < bytes)
        ++sizeClass;
    return sizeClass;
}

void* mapPrivate(std::size_t bytes)
{
    void* memory =
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

// Out of line: the current chunk cannot hold the array asked for. Its rest goes to the free
// lists, largest classes first, and a new chunk is mapped.
[[gnu::noinline]] bool refillChunk(StatePool& pool)
{
    while (pool.chunkEnd - pool.chunkNext >= static_cast<std::ptrdiff_t>(kSmallestPooledBytes)) {
        std::size_t sizeClass = kClassCount - 1;
        while ((kSmallestPooledBytes << sizeClass) > static_cast<std::size_t>(pool.chunkEnd - pool.chunkNext))
            --sizeClass;
        auto* block = reinterpret_cast<FreeStates*>(pool.chunkNext);
        block->next = pool.freeLists[sizeClass];
        pool.freeLists[sizeClass] = block;
        pool.chunkNext += kSmallestPooledBytes << sizeClass;
    }
    char* chunk = static_cast<char*>(mapPrivate(kChunkBytes));
    if (chunk == nullptr)
        return false;
    pool.chunkNext = chunk;
    pool.chunkEnd = chunk + kChunkBytes;
    return true;
}

// Room for `count` state bytes (contents undefined; the caller fills them), or null when the
// system refuses memory.
PageState* allocateStates(StatePool& pool, std::size_t count)
{
    if (count > kLargestPooledBytes)
        return static_cast<PageState*>(mapPrivate(roundUp(count, kPageSize)));
    const std::size_t sizeClass = sizeClassOf(count);
    const std::size_t bytes = kSmallestPooledBytes << sizeClass;
    void* block = pool.freeLists[sizeClass];
    if (block != nullptr) {
        pool.freeLists[sizeClass] = pool.freeLists[sizeClass]->next;
    } else {
        if (static_cast<std::size_t>(pool.chunkEnd - pool.chunkNext) < bytes && !refillChunk(pool))
            return nullptr;
        block = pool.chunkNext;
        pool.chunkNext += bytes;
    }
    return static_cast<PageState*>(block);
}

void freeStates(StatePool& pool, PageState* states, std::size_t count)
{
    if (count > kLargestPooledBytes) {
        munmap(states, roundUp(count, kPageSize));
        return;
    }
    const std::size_t sizeClass = sizeClassOf(count);
    auto* block = reinterpret_cast<FreeStates*>(states);
    block->next = pool.freeLists[sizeClass];
    pool.freeLists[sizeClass] = block;
}

// ---------------------------------------------------------------------------------------------
// The record

// Reservations of up to 16 pages (one allocation granule, the usual small reservation) keep
// their states inline.
constexpr std::size_t kInlinePages = kAllocationGranularity / kPageSize;

struct Reservation {
    std::uintptr_t base;                  // a multiple of kAllocationGranularity
    std::size_t pageCount;                // > 0; the reservation is [base, end())
    DWORD allocationProtect;              // as given when reserved
    PageState inlineStates[kInlinePages]; // the states when pageCount <= kInlinePages
    PageState* externalStates;            // from the state pool when pageCount > kInlinePages, else null
    // For every page p: it is mapped with posixProtection(states()[p]). When isReserved(states()[p])
    // it holds no data (never touched, or discarded on decommit), so it reads zero when next
    // committed; otherwise it keeps what was written to it.

    std::uintptr_t end() const { return base + pageCount * kPageSize; }
    PageState* states() { return pageCount <= kInlinePages ? inlineStates : externalStates; }
};

struct Record {
    Reservation* entries; // mapped by this file; tableBytes long, room for `capacity` entries
    std::size_t tableBytes;
    std::size_t capacity;
    std::size_t count; // entries in use
    // Whenever gLock is free:
    //   entries[i].end() <= entries[i + 1].base   (sorted by base, disjoint)
    //   every [base, end()) is mapped by this file, and nothing else maps into it (a
    //   reservation is unmapped only by VirtualFree; unmapping it otherwise is the caller's error)
    // The table grows by doubling with mremap and never shrinks.
};

// Zero-filled globals are valid as they stand, so the layer works before any constructor runs.
// gLock guards gRecord and gPool. mprotect and madvise run under it, so a page's mapping and its
// record change together; mapping a new reservation and unmapping a released one run outside it
// (see reserve and release), as does reading the kernel's list of mappings for a query.
CRITICAL_SECTION gLock;
Record gRecord;
StatePool gPool;
std::atomic<unsigned> gFailingCommits{0};

// Index of the first reservation whose base is above `address` (gRecord.count when none is).
std::size_t reservationAbove(std::uintptr_t address)
{
    std::size_t low = 0;
    std::size_t high = gRecord.count;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (gRecord.entries[middle].base <= address)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// The reservation that holds every page of [first, end), or null.
Reservation* reservationHolding(std::uintptr_t first, std::uintptr_t end)
{
    const std::size_t above = reservationAbove(first);
    if (above == 0)
        return nullptr;
    Reservation& reservation = gRecord.entries[above - 1];
    return first < reservation.end() && end <= reservation.end() ? &reservation : nullptr;
}

void eraseReservation(std::size_t index)
{
    Reservation& reservation = gRecord.entries[index];
    if (reservation.externalStates != nullptr)
        freeStates(gPool, reservation.externalStates, reservation.pageCount);
    std::memmove(&gRecord.entries[index], &gRecord.entries[index + 1],
                 (gRecord.count - index - 1) * sizeof(Reservation));
    --gRecord.count;
}

[[gnu::noinline]] bool growTable()
{
    const std::size_t bytes = gRecord.tableBytes == 0 ? std::size_t{64} * 1024 : gRecord.tableBytes * 2;
    void* table = gRecord.tableBytes == 0
                      ? mapPrivate(bytes)
                      : mremap(gRecord.entries, gRecord.tableBytes, bytes, MREMAP_MAYMOVE);
    if (table == nullptr || table == MAP_FAILED)
        return false;
    gRecord.entries = static_cast<Reservation*>(table);
    gRecord.tableBytes = bytes;
    gRecord.capacity = bytes / sizeof(Reservation);
    return true;
}

// Records the mapping [base, base + pageCount pages) with every page in `state`. False when the
// system refuses memory for the record; the mapping is then not recorded.
bool insertReservation(std::uintptr_t base, std::size_t pageCount, DWORD allocationProtect, PageState state)
{
    if (gRecord.count == gRecord.capacity && !growTable())
        return false;
    PageState* external = nullptr;
    if (pageCount > kInlinePages && (external = allocateStates(gPool, pageCount)) == nullptr)
        return false;
    const std::size_t index = reservationAbove(base);
    std::memmove(&gRecord.entries[index + 1], &gRecord.entries[index],
                 (gRecord.count - index) * sizeof(Reservation));
    ++gRecord.count;
    Reservation& reservation = gRecord.entries[index];
    reservation = Reservation{base, pageCount, allocationProtect, {}, external};
    std::memset(reservation.states(), state, pageCount);
    return true;
}

// Gives the pages [first, end) of `reservation` the protection the record holds for them.
void restoreProtection(Reservation& reservation, std::size_t first, std::size_t end)
{
    const PageState* states = reservation.states();
    for (std::size_t page = first; page < end;) {
        const std::size_t run = runLength(states, page, end);
        mprotect(reinterpret_cast<void*>(reservation.base + page * kPageSize), run * kPageSize,
                 posixProtection(states[page]));
        page += run;
    }
}

// Whether every page of [first, end) is mapped with `protection` already.
bool haveProtection(const PageState* states, std::size_t first, std::size_t end, int protection)
{
    for (std::size_t page = first; page < end;) {
        const std::size_t run = runLength(states, page, end);
        if (posixProtection(states[page]) != protection)
            return false;
        page += run;
    }
    return true;
}

// Puts pages [first, end) of `reservation` in `state`: the mapping first, then the record; the
// mapping only where it lacks the state's protection. When mprotect fails part way (the kernel
// may run out of mappings to split into), the pages already changed get back the protection the
// record holds, which merges what the failed call split and so needs no new mappings; the call
// then fails having changed nothing.
bool setPageStates(Reservation& reservation, std::size_t first, std::size_t end, PageState state)
{
    PageState* states = reservation.states();
    if (states[first] == state && runLength(states, first, end) == end - first)
        return true;
    if (!haveProtection(states, first, end, posixProtection(state)) &&
        mprotect(reinterpret_cast<void*>(reservation.base + first * kPageSize), (end - first) * kPageSize,
                 posixProtection(state)) != 0) {
        restoreProtection(reservation, first, end);
        return false;
    }
    std::memset(states + first, state, end - first);
    return true;
}

// Pages holding the bytes [address, address + size); false when the range leaves user space.
bool pagesOf(std::uintptr_t address, SIZE_T size, std::uintptr_t* first, std::uintptr_t* end)
{
    if (address >= kUserSpaceEnd || size > kUserSpaceEnd - address)
        return false;
    *first = roundDown(address, kPageSize);
    *end = roundUp(address + size, kPageSize);
    return true;
}

template <typename T>
T failWith(DWORD error, T answer)
{
    SetLastError(error);
    return answer;
}

// ---------------------------------------------------------------------------------------------
// The operations

// Maps `length` bytes of fresh anonymous memory with `protection` at `address`, or where the
// kernel likes on a granule boundary when `address` is 0. Sets the last error on failure.
void* mapAddressSpace(std::uintptr_t address, std::size_t length, int protection)
{
    constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
    if (address != 0) {
        void* wanted = reinterpret_cast<void*>(address);
        void* mapped = mmap(wanted, length, protection, kFlags | MAP_FIXED_NOREPLACE, -1, 0);
        if (mapped == MAP_FAILED)
            return failWith<void*>(errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_ADDRESS,
                                   nullptr);
        if (mapped != wanted) { // kernels before 4.17 read the flag as a mere hint
            munmap(mapped, length);
            return failWith<void*>(ERROR_INVALID_ADDRESS, nullptr);
        }
        return mapped;
    }
    // Over-map by one granule less a page, then trim both ends to the aligned part.
    const std::size_t span = length + kAllocationGranularity - kPageSize;
    void* mapped = mmap(nullptr, span, protection, kFlags, -1, 0);
    if (mapped == MAP_FAILED)
        return failWith<void*>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = roundUp(start, kAllocationGranularity);
    if (aligned != start)
        munmap(mapped, aligned - start);
    if (const std::size_t tail = start + span - (aligned + length); tail != 0)
        munmap(reinterpret_cast<void*>(aligned + length), tail);
    return reinterpret_cast<void*>(aligned);
}

// MEM_TOP_DOWN is not acted on: the kernel already hands out mappings downward from just below
// the stack, so a reservation without an address lands near the top anyway.
LPVOID reserve(std::uintptr_t address, SIZE_T size, bool commit, DWORD protect)
{
    std::uintptr_t base = 0;
    std::size_t length = 0;
    if (address != 0) {
        std::uintptr_t first = 0;
        std::uintptr_t end = 0;
        if (!pagesOf(address, size, &first, &end))
            return failWith<LPVOID>(ERROR_INVALID_PARAMETER, nullptr);
        base = roundDown(address, kAllocationGranularity);
        length = end - base;
    } else {
        if (size > kUserSpaceEnd)
            return failWith<LPVOID>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
        length = roundUp(size, kPageSize);
    }
    if (commit && detail::takeCommitFailure())
        return failWith<LPVOID>(ERROR_NOT_ENOUGH_MEMORY, nullptr);

    // A reserve-and-commit maps its pages accessible at once: fresh anonymous memory reads zero.
    const PageState state = commit ? static_cast<PageState>(protect) : kReserved;
    void* mapped = mapAddressSpace(base, length, posixProtection(state));
    if (mapped == nullptr)
        return nullptr;
    base = reinterpret_cast<std::uintptr_t>(mapped);
    bool recorded = false;
    {
        CriticalSectionGuard guard(gLock);
        recorded = insertReservation(base, length / kPageSize, protect, state);
    }
    if (!recorded) {
        munmap(mapped, length);
        return failWith<LPVOID>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    return mapped;
}

// Pages seen for the first time or again after a decommit read zero without any work here:
// reserved pages hold no data (see Reservation). Committed pages keep their contents and take
// the new protection.
LPVOID commit(std::uintptr_t address, SIZE_T size, DWORD protect)
{
    std::uintptr_t first = 0;
    std::uintptr_t end = 0;
    if (!pagesOf(address, size, &first, &end))
        return failWith<LPVOID>(ERROR_INVALID_ADDRESS, nullptr);
    CriticalSectionGuard guard(gLock);
    Reservation* reservation = reservationHolding(first, end);
    if (reservation == nullptr)
        return failWith<LPVOID>(ERROR_INVALID_ADDRESS, nullptr);
    if (detail::takeCommitFailure() ||
        !setPageStates(*reservation, (first - reservation->base) / kPageSize,
                       (end - reservation->base) / kPageSize, static_cast<PageState>(protect)))
        return failWith<LPVOID>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    return reinterpret_cast<LPVOID>(first);
}

// Size 0 decommits the whole reservation when `address` is its base; size 0 anywhere else is
// refused rather than guessed at, since the guess would discard data.
BOOL decommit(std::uintptr_t address, SIZE_T size)
{
    std::uintptr_t first = 0;
    std::uintptr_t end = 0;
    if (!pagesOf(address, size, &first, &end))
        return failWith(ERROR_INVALID_ADDRESS, FALSE);
    CriticalSectionGuard guard(gLock);
    Reservation* reservation = reservationHolding(first, first + kPageSize);
    if (reservation == nullptr)
        return failWith(ERROR_INVALID_ADDRESS, FALSE);
    if (size == 0) {
        if (address != reservation->base)
            return failWith(ERROR_INVALID_PARAMETER, FALSE);
        end = reservation->end();
    }
    if (end > reservation->end())
        return failWith(ERROR_INVALID_ADDRESS, FALSE);
    // The mappings keep their protection (see kDiscarded); the discard gives the memory back at
    // once, and the pages read zero when they are next touched.
    PageState* states = reservation->states();
    for (std::size_t page = (first - reservation->base) / kPageSize,
                     last = (end - reservation->base) / kPageSize;
         page < last; ++page)
        if (!isReserved(states[page]))
            states[page] |= kDiscarded;
    madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
    return TRUE;
}

// The record is dropped under the lock and the pages unmapped after it: until munmap returns
// the kernel gives the range to no one, so no other reservation can be recorded there meanwhile.
BOOL release(std::uintptr_t address, SIZE_T size)
{
    if (size != 0)
        return failWith(ERROR_INVALID_PARAMETER, FALSE);
    std::size_t length = 0;
    {
        CriticalSectionGuard guard(gLock);
        const std::size_t above = reservationAbove(address);
        if (above == 0 || gRecord.entries[above - 1].base != address)
            return failWith(ERROR_INVALID_ADDRESS, FALSE);
        length = gRecord.entries[above - 1].pageCount * kPageSize;
        eraseReservation(above - 1);
    }
    munmap(reinterpret_cast<void*>(address), length);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Queries outside the record
//
// Memory the layer did not reserve is described from /proc/self/maps: a mapped page is committed
// with the protection of its kernel mapping, based at the start of that mapping; a hole is free
// up to the next mapping. Without /proc the answer is coarser: mincore tells mapped from not,
// and a mapped page is said to be PAGE_NOACCESS, one page long, since its protection is unknown
// and a caller must not be led to read it.

struct KernelMapping {
    std::uintptr_t start;
    std::uintptr_t end;
    DWORD protect;
    bool shared;
};

DWORD protectionOfPermissions(bool read, bool write, bool execute)
{
    if (execute)
        return write ? PAGE_EXECUTE_READWRITE : read ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
    return write ? PAGE_READWRITE : read ? PAGE_READONLY : PAGE_NOACCESS;
}

bool parseHex(const char*& text, std::uintptr_t* value)
{
    std::uintptr_t result = 0;
    const char* start = text;
    for (;; ++text) {
        const char c = *text;
        if (c >= '0' && c <= '9')
            result = result * 16 + static_cast<std::uintptr_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            result = result * 16 + static_cast<std::uintptr_t>(c - 'a' + 10);
        else
            break;
    }
    *value = result;
    return text != start;
}

// Parses the head of a maps line, "start-end rwxp ...".
bool parseMapsLine(const char* line, KernelMapping* mapping)
{
    if (!parseHex(line, &mapping->start) || *line++ != '-' || !parseHex(line, &mapping->end) ||
        *line++ != ' ')
        return false;
    if (std::strlen(line) < 4)
        return false;
    mapping->protect = protectionOfPermissions(line[0] == 'r', line[1] == 'w', line[2] == 'x');
    mapping->shared = line[3] == 's';
    return true;
}

// Finds the kernel mapping that holds `page` (true in `*found`) or else the start of the first
// mapping above it (in mapping->start; kUserSpaceEnd when there is none). False when
// /proc/self/maps cannot be read. Reads into a stack buffer: nothing is allocated.
bool findKernelMapping(std::uintptr_t page, KernelMapping* mapping, bool* found)
{
    const int descriptor = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    *found = false;
    *mapping = KernelMapping{kUserSpaceEnd, kUserSpaceEnd, 0, false};
    char buffer[1024];
    char line[64]; // the head of the current line, which is all we parse
    std::size_t lineLength = 0;
    bool readable = true;
    for (bool done = false; !done;) {
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            readable = got == 0;
            break;
        }
        for (ssize_t i = 0; i < got && !done; ++i) {
            if (buffer[i] != '\n') {
                if (lineLength < sizeof line - 1)
                    line[lineLength++] = buffer[i];
                continue;
            }
            line[lineLength] = '\0';
            lineLength = 0;
            KernelMapping candidate;
            if (!parseMapsLine(line, &candidate) || candidate.end <= page)
                continue;
            done = true;
            if (candidate.start <= page) {
                *mapping = candidate;
                *found = true;
            } else {
                mapping->start = candidate.start;
            }
        }
    }
    close(descriptor);
    return readable;
}

// Describes `page`, which is in none of our reservations; [below, above) is the gap between
// our reservations around it (the kernel may merge a neighbour's mapping with ours).
void describeForeignPage(std::uintptr_t page, std::uintptr_t below, std::uintptr_t above,
                         MEMORY_BASIC_INFORMATION* info)
{
    KernelMapping mapping;
    bool mapped = false;
    std::uintptr_t regionEnd = page + kPageSize;
    if (findKernelMapping(page, &mapping, &mapped)) {
        regionEnd = mapped ? mapping.end : mapping.start;
        if (regionEnd > above)
            regionEnd = above;
    } else {
        unsigned char residency;
        mapped = mincore(reinterpret_cast<void*>(page), kPageSize, &residency) == 0;
        mapping = KernelMapping{page, page + kPageSize, PAGE_NOACCESS, false};
    }
    info->RegionSize = regionEnd - page;
    if (mapped) {
        info->AllocationBase = reinterpret_cast<LPVOID>(mapping.start > below ? mapping.start : below);
        info->AllocationProtect = mapping.protect;
        info->State = MEM_COMMIT;
        info->Protect = mapping.protect;
        info->Type = mapping.shared ? MEM_MAPPED : MEM_PRIVATE;
    } else {
        info->State = MEM_FREE;
        info->Protect = PAGE_NOACCESS;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect)
{
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    if (size == 0 || !isValidProtection(protect))
        return failWith<LPVOID>(ERROR_INVALID_PARAMETER, nullptr);
    switch (allocationType & ~MEM_TOP_DOWN) {
    case MEM_RESERVE:
        return reserve(at, size, false, protect);
    case MEM_RESERVE | MEM_COMMIT:
        return reserve(at, size, true, protect);
    case MEM_COMMIT:
        return at != 0 ? commit(at, size, protect) : reserve(0, size, true, protect);
    default:
        return failWith<LPVOID>(ERROR_INVALID_PARAMETER, nullptr);
    }
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType)
{
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    if (freeType == MEM_RELEASE)
        return release(at, size);
    if (freeType == MEM_DECOMMIT)
        return decommit(at, size);
    return failWith(ERROR_INVALID_PARAMETER, FALSE);
}

BOOL VirtualProtect(LPVOID address, SIZE_T size, DWORD newProtect, DWORD* oldProtect)
{
    std::uintptr_t first = 0;
    std::uintptr_t end = 0;
    if (oldProtect == nullptr || size == 0 || !isValidProtection(newProtect))
        return failWith(ERROR_INVALID_PARAMETER, FALSE);
    if (!pagesOf(reinterpret_cast<std::uintptr_t>(address), size, &first, &end))
        return failWith(ERROR_INVALID_ADDRESS, FALSE);
    CriticalSectionGuard guard(gLock);
    Reservation* reservation = reservationHolding(first, end);
    if (reservation == nullptr)
        return failWith(ERROR_INVALID_ADDRESS, FALSE);
    const std::size_t firstPage = (first - reservation->base) / kPageSize;
    const std::size_t endPage = (end - reservation->base) / kPageSize;
    PageState* states = reservation->states();
    for (std::size_t page = firstPage; page < endPage; ++page)
        if (isReserved(states[page]))
            return failWith(ERROR_INVALID_ADDRESS, FALSE);
    const DWORD previous = states[firstPage];
    if (!setPageStates(*reservation, firstPage, endPage, static_cast<PageState>(newProtect)))
        return failWith(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    *oldProtect = previous;
    return TRUE;
}

SIZE_T VirtualQuery(LPCVOID address, MEMORY_BASIC_INFORMATION* buffer, SIZE_T length)
{
    if (buffer == nullptr)
        return failWith<SIZE_T>(ERROR_INVALID_PARAMETER, 0);
    if (length < sizeof(MEMORY_BASIC_INFORMATION))
        return failWith<SIZE_T>(ERROR_BAD_LENGTH, 0);
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    if (at >= kUserSpaceEnd)
        return failWith<SIZE_T>(ERROR_INVALID_PARAMETER, 0);

    const std::uintptr_t page = roundDown(at, kPageSize);
    MEMORY_BASIC_INFORMATION info{};
    info.BaseAddress = reinterpret_cast<LPVOID>(page);
    std::uintptr_t below = 0;
    std::uintptr_t above = kUserSpaceEnd;
    {
        CriticalSectionGuard guard(gLock);
        const std::size_t next = reservationAbove(page);
        if (next > 0 && page < gRecord.entries[next - 1].end()) {
            Reservation& reservation = gRecord.entries[next - 1];
            const std::size_t index = (page - reservation.base) / kPageSize;
            const PageState state = reservation.states()[index];
            info.AllocationBase = reinterpret_cast<LPVOID>(reservation.base);
            info.AllocationProtect = reservation.allocationProtect;
            const bool reserved = isReserved(state);
            info.RegionSize =
                (reserved ? reservedRunLength(reservation.states(), index, reservation.pageCount)
                          : runLength(reservation.states(), index, reservation.pageCount)) *
                kPageSize;
            info.State = reserved ? MEM_RESERVE : MEM_COMMIT;
            info.Protect = reserved ? 0 : state;
            info.Type = MEM_PRIVATE;
            *buffer = info;
            return sizeof info;
        }
        if (next > 0)
            below = gRecord.entries[next - 1].end();
        if (next < gRecord.count)
            above = gRecord.entries[next].base;
    }
    describeForeignPage(page, below, above, &info);
    *buffer = info;
    return sizeof info;
}

bool detail::takeCommitFailure()
{
    unsigned remaining = gFailingCommits.load(std::memory_order_relaxed);
    while (remaining != 0 &&
           !gFailingCommits.compare_exchange_weak(remaining, remaining - 1, std::memory_order_relaxed))
        ;
    return remaining != 0;
}

void test::failNextCommits(unsigned count)
{
    gFailingCommits.store(count, std::memory_order_relaxed);
}

SIZE_T test::liveReservationCount()
{
    CriticalSectionGuard guard(gLock);
    return gRecord.count;
}

} // namespace win
