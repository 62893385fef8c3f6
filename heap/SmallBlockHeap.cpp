// heap/SmallBlockHeap.cpp
// The small-block heap behind __oxMallocAligned: blocks of 40 fixed sizes carved from 4 KB
// pages, pages grouped in 1 MB regions reserved downwards from just below a region table. The
// table keeps one state byte per 1 MB of the span it covers, so whether an address is a block of
// this heap is answered from the address alone, and so is its page descriptor. One lock guards
// every region, page list and class; FixedSizeHeap.cpp builds private classes on the same pages.

#include "heap/HeapInternal.h"
#include "heap/HeapTestHooks.h"
#include "heap/SmallBlockInternal.h"

#include "platform/win.h"

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cstdlib>
#include <cstring>
#include <new>

namespace oxheap {

constinit win::SlimLock gSmallBlockLock;

namespace {

constexpr std::size_t kLargestRequest = 0x80000000u;
constexpr std::uint32_t kCommitRun = 16;             // pages committed at once
constexpr std::uint32_t kCommittedFreeLimit = 16;    // committed free pages a region keeps
constexpr std::size_t kFirstCommitBytes = 64 * 1024; // a new region's descriptors and 14 pages
constexpr int kCommitRetries = 6;

// The state of each 1 MB slot below `top`; slot i is the region at top - (i + 1) MB.
enum : std::uint8_t {
    kSlotUnknown = 0, // below `bottom`: never looked at
    kSlotLive = 1,
    kSlotReleased = 2,
    kSlotUnavailable = 3, // something else was mapped there when the heap grew past it
};

// A 2 MB reservation made at load; its first page is committed then, the rest of the state
// table page by page as the span grows. Every slot from `top` down to `bottom` has a state
// other than kSlotUnknown, and the table is committed as far as the slot of `bottom`.
struct OxSbRegionTable {
    std::uintptr_t top;
    std::uintptr_t bottom;      // only ever lowered; read without the lock (atomically)
    std::size_t committedBytes; // of the table, this header included
    std::byte unused[64 - 24];

    std::uint8_t* states();
};
constexpr std::size_t kRegionTableBytes = 2 << 20;
// Where the state bytes start in the table. Every free loads the state byte of its block's
// region right after the allocations before it stored to page descriptors, and a load whose
// address matches a pending store's in the low 12 bits waits for that store (4K aliasing). The
// state bytes of the first 256 regions therefore sit at page offsets 0xF00-0xFFF, where the
// descriptors of pages 120-127 and 248-255 lie: the pages a region hands out last, far from
// those of the first pages it hands out (page 2's descriptor is at 0x40).
constexpr std::size_t kStatesOffset = 0xF00;
static_assert(sizeof(OxSbRegionTable) <= kStatesOffset);
constexpr std::size_t kSlotCapacity = kRegionTableBytes - kStatesOffset;

std::uint8_t* OxSbRegionTable::states()
{
    return reinterpret_cast<std::uint8_t*>(this) + kStatesOffset;
}

constinit OxSbRegionTable* gpTable = nullptr; // set at load, then never changed
// The table's top, bottom and state bytes where every free looks first, with the two switches
// every call reads, in one cache line: telling a block of this heap from anything else costs
// no load that depends on another but the state byte, and no other line.
// gSpan.top == gpTable->top and gSpan.bottom == gpTable->bottom.
struct alignas(64) OxSbSpan {
    std::uintptr_t top;
    std::uintptr_t bottom; // read without the lock (atomically)
    const std::uint8_t* states;
    bool heapEnabled;             // set at load, then never changed
    std::atomic<bool> heapFrozen; // set at unload during process shutdown
};
constinit OxSbSpan gSpan{};
constinit OxSbClass* gpClasses[kClassTableSize] = {};
constinit OxSbRegion* gpAvailable = nullptr; // regions with committed free pages
constinit OxSbRegion* gpReserve = nullptr;   // regions with only uncommitted free pages
// A region reserved and marked live whose first commit has not succeeded yet: it holds no
// pages, and the next request for a page tries its commit again before reserving another.
constinit OxSbRegion* gpUnsetRegion = nullptr;

// ---------------------------------------------------------------------------------------------
// The region table

std::size_t slotOf(const OxSbRegionTable* table, std::uintptr_t region)
{
    return (table->top - region) / kRegionBytes - 1;
}

std::uint8_t slotState(OxSbRegionTable* table, std::size_t slot)
{
    return std::atomic_ref<std::uint8_t>(table->states()[slot]).load(std::memory_order_relaxed);
}

void setSlotState(OxSbRegionTable* table, std::size_t slot, std::uint8_t state)
{
    std::atomic_ref<std::uint8_t>(table->states()[slot]).store(state, std::memory_order_relaxed);
}

// Whether p lies in a live region. Reads no lock: the table's state bytes and `bottom` are
// written atomically, and a region's state is published (through `bottom`) before any block
// of it is handed out.
[[gnu::always_inline]] inline bool isLiveRegion(const void* p)
{
    const std::uintptr_t region = reinterpret_cast<std::uintptr_t>(p) & ~(kRegionBytes - 1);
    if (region >= gSpan.top ||
        region < std::atomic_ref<std::uintptr_t>(gSpan.bottom).load(std::memory_order_acquire))
        return false;
    const std::size_t slot = (gSpan.top - region) / kRegionBytes - 1;
    return std::atomic_ref<const std::uint8_t>(gSpan.states[slot]).load(std::memory_order_relaxed) ==
           kSlotLive;
}

// Commits the state table as far as `slot`.
bool makeRoomForSlot(OxSbRegionTable* table, std::size_t slot)
{
    const std::size_t needed = (kStatesOffset + slot + 1 + kPageBytes - 1) & ~std::size_t{kPageBytes - 1};
    if (needed <= table->committedBytes)
        return true;
    auto* from = reinterpret_cast<std::byte*>(table) + table->committedBytes;
    if (win::VirtualAlloc(from, needed - table->committedBytes, win::MEM_COMMIT, win::PAGE_READWRITE) ==
        nullptr)
        return false;
    table->committedBytes = needed;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Lists. Class lists and region lists are doubly linked; a region's free lists use `next` only.

template <typename Node>
void pushFront(Node*& head, Node* node)
{
    node->prev = nullptr;
    node->next = head;
    if (head != nullptr)
        head->prev = node;
    head = node;
}

template <typename Node>
void unlink(Node*& head, Node* node)
{
    if (node->prev != nullptr)
        node->prev->next = node->next;
    else
        head = node->next;
    if (node->next != nullptr)
        node->next->prev = node->prev;
    node->next = nullptr;
    node->prev = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Regions

// Reserves the next 1 MB below `bottom`, stepping over whatever else is mapped there. A slot
// passed over is marked unavailable for good. Null when the span cannot grow: the table is
// full, the address space below is used up, or the system refuses mappings altogether (then
// `bottom` stays where it was).
OxSbRegion* reserveRegion()
{
    OxSbRegionTable* table = gpTable;
    if (table == nullptr || table->bottom == 0)
        return nullptr;
    const std::uintptr_t oldBottom = table->bottom;
    std::uintptr_t address = oldBottom - kRegionBytes;
    void* reserved = nullptr;
    for (;;) {
        if (slotOf(table, address) >= kSlotCapacity)
            return nullptr;
        reserved = win::VirtualAlloc(reinterpret_cast<void*>(address), kRegionBytes, win::MEM_RESERVE,
                                     win::PAGE_READWRITE);
        if (reserved != nullptr)
            break;
        if (win::GetLastError() == win::ERROR_NOT_ENOUGH_MEMORY || address < kRegionBytes)
            return nullptr;
        address -= kRegionBytes;
    }
    const std::size_t slot = slotOf(table, address);
    if (!makeRoomForSlot(table, slot)) {
        win::VirtualFree(reserved, 0, win::MEM_RELEASE);
        return nullptr;
    }
    for (std::size_t passed = (table->top - oldBottom) / kRegionBytes; passed < slot; ++passed)
        setSlotState(table, passed, kSlotUnavailable);
    setSlotState(table, slot, kSlotLive);
    std::atomic_ref<std::uintptr_t>(table->bottom).store(address, std::memory_order_release);
    std::atomic_ref<std::uintptr_t>(gSpan.bottom).store(address, std::memory_order_release);
    return static_cast<OxSbRegion*>(reserved);
}

// Commits the region's first 64 KB and lays out its header and free lists: pages 2-15
// committed, 16-255 reserved, each list in ascending order. False when the commit fails.
bool setUpRegion(OxSbRegion* region)
{
    if (win::VirtualAlloc(region, kFirstCommitBytes, win::MEM_COMMIT, win::PAGE_READWRITE) == nullptr)
        return false;
    auto* descriptors = reinterpret_cast<OxSbPageDesc*>(region);
    constexpr std::uint32_t firstReserved = kFirstCommitBytes / kPageBytes;
    for (std::uint32_t i = kFirstBlockPage; i < kPagesPerRegion; ++i)
        descriptors[i].next =
            (i + 1 == firstReserved || i + 1 == kPagesPerRegion) ? nullptr : &descriptors[i + 1];
    region->committedFree = &descriptors[kFirstBlockPage];
    region->committedCount = firstReserved - kFirstBlockPage;
    region->uncommittedFree = &descriptors[firstReserved];
    region->uncommittedCount = kPagesPerRegion - firstReserved;
    pushFront(gpAvailable, region);
    return true;
}

// Commits the run of adjacent pages at the head of the region's uncommitted free list (at
// most 16) and moves it to the committed free list. Returns 0, or the bytes of the run when
// the system refuses, and then changes nothing.
std::size_t commitRun(OxSbRegion* region)
{
    OxSbPageDesc* first = region->uncommittedFree;
    const std::uint32_t limit = std::min(region->uncommittedCount, kCommitRun);
    // Pages decommitted one by one are pushed in the order they were freed, so a run of
    // adjacent pages may stand in the list descending as well as ascending.
    const std::ptrdiff_t step = first->next == first - 1 ? -1 : 1;
    OxSbPageDesc* last = first;
    std::uint32_t run = 1;
    while (run < limit && last->next == last + step) {
        last = last->next;
        ++run;
    }
    const OxSbPageDesc* lowest = step > 0 ? first : last;
    if (win::VirtualAlloc(pageOf(lowest), run * kPageBytes, win::MEM_COMMIT, win::PAGE_READWRITE) == nullptr)
        return run * kPageBytes;
    region->uncommittedFree = last->next;
    last->next = region->committedFree;
    region->committedFree = first;
    region->uncommittedCount -= run;
    region->committedCount += run;
    return 0;
}

// The first page of the region's committed free list, taken off it; a region left without
// committed free pages leaves the available list (for the reserve list while it has
// uncommitted ones).
[[gnu::always_inline]] inline OxSbPageDesc* popCommittedFree(OxSbRegion* region)
{
    OxSbPageDesc* page = region->committedFree;
    region->committedFree = page->next;
    page->next = nullptr;
    if (--region->committedCount == 0) [[unlikely]] {
        unlink(gpAvailable, region);
        if (region->uncommittedCount != 0)
            pushFront(gpReserve, region);
    }
    return page;
}

// Puts free page d at the head of class c's partial list, in bump mode with every block free.
[[gnu::always_inline]] inline void startPage(OxSbClass* c, OxSbPageDesc* d)
{
    d->classIndex = static_cast<std::uint16_t>(c->classIndex);
    d->flags = static_cast<std::uint16_t>(c->pageFlags);
    d->cursor = pageOf(d);
    d->freeCount = c->blocksPerPage;
    pushFront(c->partial, d);
}

struct PageRequest {
    OxSbPageDesc* page;       // the page, or null
    std::size_t failedCommit; // when null: bytes of the commit the system refused, 0 when
                              // there was no address space to try
};

// A committed page without a class, from the first available region, else by committing
// pages of a reserve region, else from a new region.
PageRequest takeFreePage()
{
    OxSbRegion* region = gpAvailable;
    if (region == nullptr) {
        if ((region = gpReserve) != nullptr) {
            if (const std::size_t failed = commitRun(region))
                return {nullptr, failed};
            unlink(gpReserve, region);
            pushFront(gpAvailable, region);
        } else {
            if (gpUnsetRegion == nullptr && (gpUnsetRegion = reserveRegion()) == nullptr)
                return {nullptr, 0};
            if (!setUpRegion(gpUnsetRegion))
                return {nullptr, kFirstCommitBytes};
            region = gpUnsetRegion;
            gpUnsetRegion = nullptr;
        }
    }
    return {popCommittedFree(region), 0};
}

void moveToFull(OxSbClass* c, OxSbPageDesc* d)
{
    unlink(c->partial, d);
    pushFront(c->full, d);
    d->cursor = nullptr;
    d->freeCount = 0;
}

// Takes the block at the cursor of the class's first partial page.
void* takeBlock(OxSbClass* c, OxSbPageDesc* d)
{
    std::byte* block = d->cursor;
    if (--d->freeCount == 0) {
        moveToFull(c, d);
        return block;
    }
    std::byte* next =
        (d->flags & kFreeListMode) ? *reinterpret_cast<std::byte**>(block) : block + c->blockSize;
    // A chain that leaves its page was overwritten after a free; the page's remaining free
    // blocks are given up rather than handing out memory the page does not own.
    const std::byte* page = pageOf(d);
    if (next < page || next + c->blockSize > page + kPageBytes) [[unlikely]]
        moveToFull(c, d);
    else
        d->cursor = next;
    return block;
}

// Whether block p of page d is certainly free already: at or after the cursor of a page in
// bump mode, or the head of its free list. Deeper entries of a free list are not looked for.
bool isKnownFree(const OxSbPageDesc* d, const std::byte* p)
{
    if (d->cursor == nullptr)
        return false;
    return (d->flags & kFreeListMode) ? p == d->cursor : p >= d->cursor;
}

// The rest of releasePageToRegion, for a region that keeps 16 committed free pages already:
// the page is decommitted, unless it makes the whole region free, which is then released (but
// the first available region is kept while no reserve region is left, so a heap that empties
// and refills does not map and unmap a region each time).
[[gnu::noinline]] void releaseBeyondAllowance(OxSbRegion* region, OxSbPageDesc* d)
{
    if (region->committedCount + region->uncommittedCount == kBlockPagesPerRegion - 1 &&
        !(region == gpAvailable && gpReserve == nullptr)) {
        unlink(gpAvailable, region);
        setSlotState(gpTable, slotOf(gpTable, reinterpret_cast<std::uintptr_t>(region)), kSlotReleased);
        win::VirtualFree(region, 0, win::MEM_RELEASE);
        return;
    }
    win::VirtualFree(pageOf(d), kPageBytes, win::MEM_DECOMMIT);
    d->next = region->uncommittedFree;
    region->uncommittedFree = d;
    ++region->uncommittedCount;
}

// Gives page d, whose last block came back and which is off its class's lists, to its region
// (the lock held): to the region's committed free list while it has fewer than 16 there, the
// common case, inline; else releaseBeyondAllowance.
[[gnu::always_inline]] inline void releasePageToRegion(OxSbPageDesc* d)
{
    OxSbRegion* region = regionOf(d);
    d->cursor = nullptr;
    d->freeCount = 0;
    d->classIndex = 0;
    d->flags = 0;
    d->prev = nullptr;
    if (region->committedCount >= kCommittedFreeLimit) [[unlikely]] {
        releaseBeyondAllowance(region, d);
        return;
    }
    d->next = region->committedFree;
    region->committedFree = d;
    if (region->committedCount++ == 0) [[unlikely]] {
        if (region->uncommittedCount != 0)
            unlink(gpReserve, region);
        pushFront(gpAvailable, region);
    }
}

// The rarer cases of freeing block p, the `index`th of page d of shared class c, whose free
// count freeBlockFast has raised: the page was full (freeCount now 1), or it leaves bump mode
// because p is not the block just before the cursor.
void freeBlockSlow(OxSbClass* c, OxSbPageDesc* d, std::byte* p, std::uint32_t index)
{
    if (d->freeCount == 1) {
        unlink(c->full, d);
        pushFront(c->partial, d);
        if (index == c->blocksPerPage - 1) {
            d->flags &= ~kFreeListMode;
        } else {
            d->flags |= kFreeListMode;
            *reinterpret_cast<std::byte**>(p) = nullptr;
        }
    } else {
        // Out of order in bump mode: chain the untouched tail and go over to free-list mode.
        *reinterpret_cast<std::byte**>(p) = d->cursor;
        std::byte* last = pageOf(d) + (c->blocksPerPage - 1) * c->blockSize;
        for (std::byte* block = d->cursor; block < last; block += c->blockSize)
            *reinterpret_cast<std::byte**>(block) = block + c->blockSize;
        *reinterpret_cast<std::byte**>(last) = nullptr;
        d->flags |= kFreeListMode;
    }
    d->cursor = p;
}

// The common case of a class without a partial page, inline: a committed page of the first
// available region, started in bump mode with its first block handed out. Null, changing
// nothing, when there is no such region (allocSlow then commits or reserves) or the class
// holds one block per page.
[[gnu::always_inline]] inline void* takeFirstBlockOfFreePage(OxSbClass* c)
{
    OxSbRegion* region = gpAvailable;
    if (region == nullptr || c->blocksPerPage == 1)
        return nullptr;
    OxSbPageDesc* d = popCommittedFree(region);
    startPage(c, d);
    std::byte* block = d->cursor;
    d->cursor = block + c->blockSize;
    --d->freeCount;
    return block;
}

// Returns block p to its page (the lock held), in the common cases inline: true when done. A
// pointer that is no block of a shared class (descriptor pages, free pages, pages of
// fixed-size heaps, addresses between blocks) and a block that is certainly free already are
// ignored, which counts as done; a page that empties goes back to its region. False for the
// rarer cases, with the page's free count raised already: finishFree sees to them. The common case, a page
// that keeps some blocks in use and some free, reads the class's sizes from the constant tables and touches
// nothing but the page's descriptor and the block.
[[gnu::always_inline]] inline bool freeBlockFast(std::byte* p)
{
    OxSbPageDesc* d = descriptorOf(p);
    const std::uint32_t classIndex = d->classIndex;
    if (pageIndexOf(p) < kFirstBlockPage || classIndex == 0 || (d->flags & kFixedHeapPage)) [[unlikely]]
        return true;
    const std::uint32_t blockSize = kSizeClasses.blockSize[classIndex];
    const std::uint32_t blocksPerPage = kSizeClasses.blocksPerPage[classIndex];
    const auto offset = static_cast<std::uint32_t>(p - pageOf(d));
    const std::uint32_t index = blockIndexInPage(offset, classIndex);
    if (index * blockSize != offset || index >= blocksPerPage || isKnownFree(d, p)) [[unlikely]]
        return true;

    const std::uint32_t freeCount = ++d->freeCount;
    const bool freeListMode = (d->flags & kFreeListMode) != 0;
    if (freeCount == blocksPerPage) [[unlikely]] {
        OxSbClass* c = gpClasses[classIndex];
        unlink(blocksPerPage == 1 ? c->full : c->partial, d);
        releasePageToRegion(d);
        return true;
    }
    if (freeCount == 1 || (!freeListMode && p + blockSize != d->cursor)) [[unlikely]]
        return false;
    if (freeListMode)
        *reinterpret_cast<std::byte**>(p) = d->cursor;
    d->cursor = p;
    return true;
}

// The rest of a free that freeBlockFast left undone.
void finishFree(std::byte* p)
{
    OxSbPageDesc* d = descriptorOf(p);
    const std::uint32_t classIndex = d->classIndex;
    const auto offset = static_cast<std::uint32_t>(p - pageOf(d));
    freeBlockSlow(gpClasses[classIndex], d, p, blockIndexInPage(offset, classIndex));
}

// Returns block p to its page (the lock held).
void freeBlock(void* pointer)
{
    auto* p = static_cast<std::byte*>(pointer);
    if (!freeBlockFast(p))
        finishFree(p);
}

// finishFree, then leaves the lock (`taken` as SlimLock::enter answered). Out of line and
// reached by a jump, so that __oxFreeAligned's common paths make no call of it.
[[gnu::noinline]] void finishFreeAndLeave(std::byte* p, bool taken)
{
    finishFree(p);
    gSmallBlockLock.leave(taken);
}

OxSbClass* createSharedClass(std::uint32_t classIndex)
{
    // malloc rather than operator new: a new handler must not run under the lock.
    void* memory = std::malloc(sizeof(OxSbClass));
    if (memory == nullptr)
        return nullptr;
    const std::uint32_t blockSize = kSizeClasses.blockSize[classIndex];
    auto* c = new (memory) OxSbClass{blockSize, classIndex, kPageBytes / blockSize, 0, nullptr, nullptr};
    gpClasses[classIndex] = c;
    return c;
}

[[gnu::noinline]] void* mallocOutsideHeap(std::size_t size)
{
    if (size > kLargestRequest) {
        oxCallOutOfMemHandler(size);
        return nullptr;
    }
    return std::malloc(size);
}

// Calls visit(page, state) for each run of pages with the same state among the first `count`
// pages of `region`, as VirtualQuery reports them.
template <typename Visit>
void forEachPageRun(std::byte* region, std::uint32_t count, Visit visit)
{
    std::byte* const end = region + std::size_t{count} * kPageBytes;
    for (std::byte* at = region; at < end;) {
        win::MEMORY_BASIC_INFORMATION info{};
        if (win::VirtualQuery(at, &info, sizeof info) == 0)
            return;
        std::byte* runEnd = std::min(end, static_cast<std::byte*>(info.BaseAddress) + info.RegionSize);
        visit(at, static_cast<std::uint32_t>((runEnd - at) / kPageBytes), info.State);
        at = runEnd;
    }
}

// Calls visit(region) for each live region whose descriptors are committed.
template <typename Visit>
void forEachLiveRegion(Visit visit)
{
    OxSbRegionTable* table = gpTable;
    if (table == nullptr)
        return;
    for (std::uintptr_t region = table->top - kRegionBytes; region >= table->bottom; region -= kRegionBytes) {
        if (slotState(table, slotOf(table, region)) == kSlotLive &&
            reinterpret_cast<OxSbRegion*>(region) != gpUnsetRegion)
            visit(reinterpret_cast<OxSbRegion*>(region));
        if (region < kRegionBytes)
            break;
    }
}

// Blocks of page d that are not on its free chain.
std::uint32_t usedBlocksOf(const OxSbPageDesc* d)
{
    const std::uint32_t blockSize = kSizeClasses.blockSize[d->classIndex];
    const std::uint32_t perPage = kPageBytes / blockSize;
    const std::byte* page = pageOf(d);
    std::bitset<kPageBytes / 8> free;
    const std::byte* block = d->cursor;
    for (std::uint32_t steps = 0; block != nullptr && steps < perPage; ++steps) {
        const auto offset = static_cast<std::uint32_t>(block - page);
        if (block < page || offset >= perPage * blockSize || offset % blockSize != 0 ||
            free[offset / blockSize])
            break;
        free[offset / blockSize] = true;
        block = (d->flags & kFreeListMode) ? *reinterpret_cast<std::byte* const*>(block) : block + blockSize;
    }
    return perPage - static_cast<std::uint32_t>(free.count());
}

bool isVariableSet(const OXCHAR* name)
{
    std::size_t required = 0;
    win::_wgetenv_s(&required, nullptr, 0, name);
    return required != 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Shared with FixedSizeHeap.cpp

void* allocSlow(OxSbClass* c, win::SlimLockGuard& guard)
{
    int retries = 0;
    while (c->partial == nullptr) {
        const PageRequest request = takeFreePage();
        if (request.page != nullptr) {
            startPage(c, request.page);
            break;
        }
        if (request.failedCommit == 0 || retries == kCommitRetries)
            return nullptr;
        ++retries;
        // The handler may free blocks of this heap, so it runs without the lock; whatever it
        // changed is looked at afresh on the next turn.
        guard.unlock();
        const bool tryAgain = oxCallOutOfMemHandler(request.failedCommit);
        guard.lock();
        if (!tryAgain)
            return nullptr;
    }
    return takeBlock(c, c->partial);
}

void releaseAllPages(OxSbClass* c)
{
    for (OxSbPageDesc* list : {c->partial, c->full}) {
        while (list != nullptr) {
            OxSbPageDesc* next = list->next;
            releasePageToRegion(list);
            list = next;
        }
    }
    c->partial = nullptr;
    c->full = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Load, unload, queries

void setUpSmallBlockHeap()
{
    gSpan.heapFrozen.store(false, std::memory_order_relaxed);
    void* memory = win::VirtualAlloc(nullptr, kRegionTableBytes, win::MEM_RESERVE | win::MEM_TOP_DOWN,
                                     win::PAGE_READWRITE);
    // Without its table the heap cannot grow; it then stays switched off and every request
    // goes to the C runtime.
    if (memory == nullptr)
        return;
    if (win::VirtualAlloc(memory, kPageBytes, win::MEM_COMMIT, win::PAGE_READWRITE) == nullptr) {
        win::VirtualFree(memory, 0, win::MEM_RELEASE);
        return;
    }
    auto* table = static_cast<OxSbRegionTable*>(memory);
    table->top = reinterpret_cast<std::uintptr_t>(memory) & ~(kRegionBytes - 1);
    table->bottom = table->top;
    table->committedBytes = kPageBytes;
    gpTable = table;
    gSpan.states = table->states();
    gSpan.bottom = table->bottom;
    gSpan.top = table->top;
    gSpan.heapEnabled = !isVariableSet(u"disableOrkaHeap") && !isVariableSet(u"CRTLeakReport");
}

void tearDownSmallBlockHeap()
{
    win::SlimLockGuard guard(gSmallBlockLock);
    // At process exit other threads may still be running and freeing: everything stays as it
    // is, and frees from now on do nothing.
    if (win::RtlDllShutdownInProgress()) {
        gSpan.heapFrozen.store(true, std::memory_order_relaxed);
        return;
    }
    for (OxSbClass*& c : gpClasses) {
        if (c == nullptr)
            continue;
        releaseAllPages(c);
        c->~OxSbClass();
        std::free(c);
        c = nullptr;
    }
}

void* smallBlockRealloc(void* p, std::size_t size) noexcept
{
    if (!isLiveRegion(p))
        return std::realloc(p, size);
    void* q = oxHeapAlloc(nullptr, size);
    if (q == nullptr)
        return nullptr;
    std::memcpy(q, p, std::min<std::size_t>(__oxMsizeAligned(p), size));
    win::SlimLockGuard guard(gSmallBlockLock);
    freeBlock(p);
    return q;
}

std::size_t smallBlockCommittedSize()
{
    win::SlimLockGuard guard(gSmallBlockLock);
    std::size_t committed = 0;
    forEachLiveRegion([&](OxSbRegion* region) {
        forEachPageRun(reinterpret_cast<std::byte*>(region), kPagesPerRegion - 1,
                       [&](std::byte*, std::uint32_t pages, win::DWORD state) {
                           if (state == win::MEM_COMMIT)
                               committed += std::size_t{pages} * kPageBytes;
                       });
    });
    return committed;
}

std::size_t walkSmallBlockHeap(SmallBlockPageVisitor visit, void* context)
{
    win::SlimLockGuard guard(gSmallBlockLock);
    std::size_t committed = 0;
    forEachLiveRegion([&](OxSbRegion* region) {
        auto* descriptors = reinterpret_cast<OxSbPageDesc*>(region);
        forEachPageRun(reinterpret_cast<std::byte*>(region), kPagesPerRegion,
                       [&](std::byte* first, std::uint32_t pages, win::DWORD state) {
                           if (state != win::MEM_COMMIT)
                               return;
                           for (std::uint32_t i = pageIndexOf(first), end = i + pages; i < end; ++i) {
                               const OxSbPageDesc& d = descriptors[i];
                               if (i < kFirstBlockPage || d.classIndex == 0)
                                   continue;
                               committed += kPageBytes;
                               visit(context, kSizeClasses.blockSize[d.classIndex], usedBlocksOf(&d));
                           }
                       });
    });
    return committed;
}

} // namespace oxheap

using namespace oxheap;

// ---------------------------------------------------------------------------------------------
// Entry points

namespace {

// The rest of __oxMallocAligned once the lock is entered (`taken` as SlimLock::enter answered)
// and popBlock found no block: the class may have to be created, or a page taken.
[[gnu::noinline]] void* mallocSlow(std::uint32_t classIndex, bool taken)
{
    win::SlimLockGuard guard(gSmallBlockLock, taken);
    OxSbClass* c = gpClasses[classIndex];
    if (c == nullptr && (c = createSharedClass(classIndex)) == nullptr)
        return nullptr;
    return allocSlow(c, guard);
}

} // namespace

void* __oxMallocAligned(std::size_t size) noexcept
{
    const std::uint32_t classIndex = classOfSize(size);
    if (classIndex == 0 || !gSpan.heapEnabled) [[unlikely]]
        return mallocOutsideHeap(size);
    const bool taken = gSmallBlockLock.enter();
    if (OxSbClass* c = gpClasses[classIndex]) [[likely]] {
        void* block = popBlock(c);
        if (block == nullptr && c->partial == nullptr)
            block = takeFirstBlockOfFreePage(c);
        if (block != nullptr) [[likely]] {
            gSmallBlockLock.leave(taken);
            return block;
        }
    }
    return mallocSlow(classIndex, taken);
}

void __oxFreeAligned(void* p) noexcept
{
    if (!isLiveRegion(p)) [[unlikely]] {
        if (p != nullptr)
            std::free(p);
        return;
    }
    if (gSpan.heapFrozen.load(std::memory_order_relaxed)) [[unlikely]]
        return;
    const bool taken = gSmallBlockLock.enter();
    auto* block = static_cast<std::byte*>(p);
    if (!freeBlockFast(block)) [[unlikely]]
        return finishFreeAndLeave(block, taken);
    gSmallBlockLock.leave(taken);
}

unsigned int __oxMsizeAligned(const void* p) noexcept
{
    if (!isLiveRegion(p))
        return static_cast<unsigned int>(win::_msize(p));
    // Reads one descriptor field without the lock: the class of a page changes only while no
    // block of it is in use, and p is one (anything else is no block of this heap).
    const std::uint16_t classIndex =
        std::atomic_ref<std::uint16_t>(descriptorOf(p)->classIndex).load(std::memory_order_relaxed);
    return classIndex <= kLastClass ? kSizeClasses.blockSize[classIndex] : 0;
}

unsigned int oxMsizeAligned(const void* p) noexcept
{
    return __oxMsizeAligned(p);
}

// ---------------------------------------------------------------------------------------------
// Test hooks

namespace oxheap::test {
namespace {

// Walks a region free list; false when its length is not `count` or an entry has a class.
bool checkFreeList(const OxSbPageDesc* d, std::uint32_t count)
{
    for (; d != nullptr; d = d->next, --count)
        if (count == 0 || d->classIndex != 0)
            return false;
    return count == 0;
}

template <typename Node>
bool isListed(const Node* head, const Node* node)
{
    for (; head != nullptr; head = head->next)
        if (head == node)
            return true;
    return false;
}

template <typename Node>
bool linksAreConsistent(const Node* head)
{
    const Node* previous = nullptr;
    for (const Node* node = head; node != nullptr; previous = node, node = node->next)
        if (node->prev != previous)
            return false;
    return true;
}

const char* checkClass(const OxSbClass* c)
{
    if (!linksAreConsistent(c->partial) || !linksAreConsistent(c->full))
        return "a class list is broken";
    for (const OxSbPageDesc* d = c->partial; d != nullptr; d = d->next) {
        if (d->classIndex != c->classIndex || d->freeCount == 0 || d->freeCount >= c->blocksPerPage)
            return "a partial page has the wrong class or free count";
        if (usedBlocksOf(d) != c->blocksPerPage - d->freeCount)
            return "a partial page's free chain does not match its free count";
    }
    for (const OxSbPageDesc* d = c->full; d != nullptr; d = d->next)
        if (d->classIndex != c->classIndex || d->freeCount != 0 || d->cursor != nullptr)
            return "a full page has the wrong class, free count or cursor";
    return nullptr;
}

const char* checkRegion(const OxSbRegion* region)
{
    if (!checkFreeList(region->committedFree, region->committedCount))
        return "a committed free list does not match its count";
    if (!checkFreeList(region->uncommittedFree, region->uncommittedCount))
        return "an uncommitted free list does not match its count";
    if (region->committedCount > kCommittedFreeLimit)
        return "a region keeps more than 16 committed free pages";
    const auto* descriptors = reinterpret_cast<const OxSbPageDesc*>(region);
    std::uint32_t withClass = 0;
    for (std::uint32_t i = kFirstBlockPage; i < kPagesPerRegion; ++i)
        withClass += descriptors[i].classIndex != 0;
    if (withClass + region->committedCount + region->uncommittedCount != kBlockPagesPerRegion)
        return "a region's pages do not add up";
    const bool available = isListed(gpAvailable, region);
    const bool reserve = isListed(gpReserve, region);
    if (available != (region->committedCount != 0))
        return "a region is on the available list exactly when it has committed free pages: broken";
    if (reserve != (region->committedCount == 0 && region->uncommittedCount != 0))
        return "a region is on the reserve list exactly when only uncommitted pages are free: broken";
    return nullptr;
}

} // namespace

const char* checkSmallBlockHeap()
{
    win::SlimLockGuard guard(gSmallBlockLock);
    if (!linksAreConsistent(gpAvailable) || !linksAreConsistent(gpReserve))
        return "a region list is broken";
    for (const OxSbRegion* region = gpAvailable; region != nullptr; region = region->next)
        if (!isLiveRegion(region))
            return "a listed region is not live";
    for (const OxSbRegion* region = gpReserve; region != nullptr; region = region->next)
        if (!isLiveRegion(region))
            return "a listed region is not live";
    const char* problem = nullptr;
    forEachLiveRegion([&](OxSbRegion* region) {
        if (problem == nullptr)
            problem = checkRegion(region);
    });
    for (const OxSbClass* c : gpClasses)
        if (problem == nullptr && c != nullptr)
            problem = checkClass(c);
    return problem;
}

void unloadSmallBlockHeap()
{
    tearDownSmallBlockHeap();
}

bool isSmallBlock(const void* p)
{
    return isLiveRegion(p);
}

bool smallBlockPageState(const void* p, std::uint32_t* freeCount, bool* freeListMode)
{
    win::SlimLockGuard guard(gSmallBlockLock);
    if (!isLiveRegion(p) || regionOf(p) == gpUnsetRegion || pageIndexOf(p) < kFirstBlockPage)
        return false;
    const OxSbPageDesc* d = descriptorOf(p);
    if (d->classIndex == 0)
        return false;
    *freeCount = d->freeCount;
    *freeListMode = (d->flags & kFreeListMode) != 0;
    return true;
}

void smallBlockFreePages(std::uint32_t* committed, std::uint32_t* uncommitted)
{
    win::SlimLockGuard guard(gSmallBlockLock);
    *committed = 0;
    *uncommitted = 0;
    for (OxSbRegion* list : {gpAvailable, gpReserve}) {
        for (const OxSbRegion* region = list; region != nullptr; region = region->next) {
            *committed += region->committedCount;
            *uncommitted += region->uncommittedCount;
        }
    }
}

} // namespace oxheap::test
