// platform/PrivateHeap.h
// The private heap behind every heap handle except the C runtime's: its memory layout (segments
// tiled by blocks with boundary tags, blocks of their own mapping for large requests) and the
// operations the Heap... entry points of Heaps.cpp forward to once they have found the heap from
// its handle. HeapSegments.cpp maps segments and finds blocks from pointers, PrivateHeap.cpp
// allocates and frees, PrivateHeapWalk.cpp walks and validates.
#pragma once

#include "platform/win.h"

#include <cstddef>
#include <cstdint>

namespace win::heaps {

inline constexpr std::size_t kGranule = 16;       // block sizes and user pointers are multiples of it
inline constexpr std::size_t kHeaderBytes = 16;   // one header before every block of a segment
inline constexpr std::uint32_t kMinimumUnits = 2; // header + the two free-list links of a free block

inline constexpr std::uint8_t kBusy = 0x01;     // handed out (the end sentinel carries it too)
inline constexpr std::uint8_t kSentinel = 0x02; // the header at the end of a segment

/// The header in front of each block of a segment. Sizes are in granules ("units").
struct BlockHeader {
    std::uint32_t units;        // this block, header included; >= kMinimumUnits (0 only for the sentinel)
    std::uint32_t prevUnits;    // the block just below; 0 for the first block of the segment
    std::uint32_t segmentUnits; // distance back to the Segment record at the start of the mapping
    std::uint8_t padding;       // busy: units * 16 - 16 - requested size (at most 32); free: 0
    std::uint8_t flags;         // kBusy, kSentinel
    std::uint16_t reserved;
};
static_assert(sizeof(BlockHeader) == kHeaderBytes);

/// A free block: its header, then the links of the bin it sits in.
struct FreeBlock : BlockHeader {
    FreeBlock* next;
    FreeBlock* prev; // null for the head of the bin
};
static_assert(sizeof(FreeBlock) == kMinimumUnits * kGranule);

/// The record at the start of each segment mapping, followed by the block-start bitmap and
/// then the blocks.
struct Segment {
    char* blocks;             // header of the first block
    char* end;                // the sentinel header; the blocks tile [blocks, end) exactly
    std::size_t mappingBytes; // the mapping is [this, this + mappingBytes); end + 16 is its end
    std::uint64_t* starts;    // bit i set <=> a block header starts at blocks + 16 i
    // Whenever the heap's lock is free:
    //   - consecutive headers agree: next->prevUnits == block->units, up to the sentinel;
    //   - no two free blocks are neighbours (a free merges with both sides at once);
    //   - every free block is in the bin of its size, and every bin member is a free block;
    //   - the bitmap has exactly one bit per block.
    // So any address can be checked for being a block in O(1) without trusting the memory
    // in front of it, and validateHeap() checks all of this in one pass.
};

// ---------------------------------------------------------------------------------------------
// Layout arithmetic shared by the allocator and the walker

/// Sizes below this many units have a bin each; above, four bins per power of two.
inline constexpr std::uint32_t kExactUnitsLimit = 64;

inline unsigned binOf(std::uint32_t units)
{
    if (units < kExactUnitsLimit)
        return units - kMinimumUnits;
    const unsigned log = 31 - static_cast<unsigned>(__builtin_clz(units));
    return (kExactUnitsLimit - kMinimumUnits) + (log - 6) * 4 + ((units >> (log - 2)) & 3);
}

/// Block sizes are 32-bit unit counts, so no segment is larger than this (an initial size
/// above it is refused).
inline constexpr std::size_t kMaximumSegmentBytes = std::size_t{32} << 30;

inline constexpr std::size_t kNotFound = ~std::size_t{0};

inline std::size_t roundToPages(std::size_t bytes)
{
    return (bytes + kPageSize - 1) & ~(kPageSize - 1);
}

inline std::uintptr_t addressOf(const void* p)
{
    return reinterpret_cast<std::uintptr_t>(p);
}

/// Fresh zero-filled read-write pages, or null when the system refuses them (or
/// test::failNextCommits says so).
void* mapMemory(std::size_t bytes);

inline BlockHeader* nextOf(const BlockHeader* block)
{
    return reinterpret_cast<BlockHeader*>(reinterpret_cast<std::uintptr_t>(block) +
                                          std::size_t{block->units} * kGranule);
}

inline BlockHeader* prevOf(const BlockHeader* block)
{
    return reinterpret_cast<BlockHeader*>(reinterpret_cast<std::uintptr_t>(block) -
                                          std::size_t{block->prevUnits} * kGranule);
}

inline void* dataOf(const BlockHeader* block)
{
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(block) + kHeaderBytes);
}

inline std::size_t requestedSize(const BlockHeader* block)
{
    return std::size_t{block->units} * kGranule - kHeaderBytes - block->padding;
}

inline std::size_t startIndex(const Segment* segment, const void* header)
{
    return (reinterpret_cast<std::uintptr_t>(header) - reinterpret_cast<std::uintptr_t>(segment->blocks)) /
           kGranule;
}

inline bool isStart(const Segment* segment, const void* header)
{
    const std::size_t index = startIndex(segment, header);
    return (segment->starts[index / 64] >> (index % 64)) & 1;
}

inline void setStart(Segment* segment, const void* header)
{
    const std::size_t index = startIndex(segment, header);
    segment->starts[index / 64] |= std::uint64_t{1} << (index % 64);
}

inline void clearStart(Segment* segment, const void* header)
{
    const std::size_t index = startIndex(segment, header);
    segment->starts[index / 64] &= ~(std::uint64_t{1} << (index % 64));
}

inline Segment* segmentOfBlock(const BlockHeader* block)
{
    return reinterpret_cast<Segment*>(addressOf(block) - std::size_t{block->segmentUnits} * kGranule);
}

/// A block with a mapping of its own. Its user pointer is the mapping's base.
struct LargeBlock {
    char* base;
    std::size_t mappingBytes; // page multiple, >= requested
    std::size_t requested;
};

/// An array in memory mapped for it, never the C runtime heap, grown by doubling. Starts on
/// storage the owner provides (`inlineItems`) when there is one.
template <typename T>
struct MappedArray {
    T* items = nullptr;
    std::size_t count = 0;
    std::size_t capacity = 0;
    std::size_t mappedBytes = 0; // of the mapping `items` points into; 0: inline storage or none

    /// False when the system refuses the memory; the array is then unchanged.
    bool insertAt(std::size_t index, const T& item);
    void eraseAt(std::size_t index);
    void release();
};

class PrivateHeap {
public:
    /// A growable heap whose first segment holds at least `initialSize`. Null (last error
    /// untouched) when the system refuses the mappings.
    static PrivateHeap* create(SIZE_T initialSize);
    /// Unmaps every segment, every large block, the tables and the heap record itself.
    void destroy();

    // The Heap... functions with the handle and the flags checked: each sets the last error on
    // failure exactly as the entry point of the same name answers.
    void* alloc(SIZE_T size);
    void* reAlloc(void* p, SIZE_T size);
    BOOL free(void* p);
    SIZE_T size(const void* p);
    BOOL validate(const void* p);
    BOOL walk(PROCESS_HEAP_ENTRY* entry);
    BOOL lock();
    BOOL unlock();

private:
    PrivateHeap();

    void* allocLocked(SIZE_T size);
    void* allocSlow(SIZE_T size);
    void* allocLarge(SIZE_T size);
    void* reAllocLocked(void* p, SIZE_T size, DWORD& error);
    void* reAllocLarge(std::size_t index, SIZE_T size);
    BOOL freeLocked(void* p);

    FreeBlock* findFree(std::uint32_t units);
    void* carve(FreeBlock* block, std::uint32_t units, SIZE_T size);
    void shrinkInPlace(Segment* segment, BlockHeader* block, std::uint32_t units, SIZE_T size);
    void release(Segment* segment, BlockHeader* block);
    void pushFree(FreeBlock* block);
    void unlinkFree(FreeBlock* block);

    bool addSegment(std::size_t mappingBytes);
    bool growFor(std::uint32_t units);
    void removeSegment(Segment* segment);

    std::size_t segmentIndexOf(const void* p) const;
    Segment* segmentOf(const void* p) const;
    std::size_t largeIndexOf(const void* p) const;
    std::size_t largePositionOf(const void* p) const;
    BlockHeader* blockAt(const Segment* segment, const void* p) const;
    BlockHeader* busyBlockAt(const Segment* segment, const void* p) const;

    BOOL fillRegion(std::size_t index, PROCESS_HEAP_ENTRY* entry) const;
    BOOL fillBlock(std::size_t index, const BlockHeader* block, PROCESS_HEAP_ENTRY* entry) const;
    BOOL fillAfterSegment(std::size_t index, PROCESS_HEAP_ENTRY* entry) const;
    BOOL fillLarge(std::size_t index, PROCESS_HEAP_ENTRY* entry) const;
    bool validateHeap() const;
    bool validateSegment(const Segment* segment, std::size_t& freeBlocks) const;
    bool validateBins(std::size_t freeBlocks) const;

    // Bins 0 to 61 hold one size each (2 to 63 units); from bin 62 on, four bins share each power
    // of two (64 units and up), up to the largest 32-bit unit count.
    static constexpr unsigned kBinCount = 166;
    static constexpr unsigned kBinMapWords = 3;
    static constexpr std::size_t kInlineSegments = 256;

    CRITICAL_SECTION mLock{};
    std::size_t mSegmentBytes = 0;            // == the sum of the segments' mappingBytes
    Segment* mFirstSegment = nullptr;         // kept when empty: it holds the committed initial size
    Segment* mNewestSegment = nullptr;        // kept when empty: stops map/unmap churn at a boundary
    std::uint64_t mBinMap[kBinMapWords] = {}; // bit b set <=> mBins[b] != null
    FreeBlock* mBins[kBinCount] = {};         // doubly linked, newest first
    MappedArray<Segment*> mSegments;          // sorted by address
    MappedArray<LargeBlock> mLarge;           // sorted by address
    Segment* mSegmentInline[kInlineSegments];
};

} // namespace win::heaps
