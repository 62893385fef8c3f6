// platform/HeapSegments.cpp
// The memory of a private heap: the heap record, its segments and the two address-sorted tables
// (segments, blocks of their own mapping), and finding which block, if any, a pointer names.
// Allocation within the segments is in PrivateHeap.cpp.

#include "platform/PrivateHeap.h"

#include "platform/TestControls.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace win::heaps {
namespace {

/// A heap's segments: the first is 64 KB (or the initial size), each later one as
/// large as all present ones together, up to 64 MB, so a heap needs few segments and the
/// sorted segment table stays short.
constexpr std::size_t kFirstSegmentBytes = 64 * 1024;
constexpr std::size_t kMaximumGrowthBytes = 64 * 1024 * 1024;

/// Bytes before the first block of a segment of `bytes`: the record and one bitmap bit per
/// granule of the mapping (bytes / 128, a multiple of 16 because bytes is a page multiple).
constexpr std::size_t segmentHeadBytes(std::size_t bytes)
{
    return sizeof(Segment) + bytes / 128;
}

/// The block area of a segment of `bytes`: what the head and the end sentinel leave.
constexpr std::size_t segmentAreaBytes(std::size_t bytes)
{
    return bytes - segmentHeadBytes(bytes) - kHeaderBytes;
}

static_assert(sizeof(Segment) % kGranule == 0);
static_assert(segmentAreaBytes(kPageSize) >= kMinimumUnits * kGranule);

/// The smallest segment mapping whose block area holds `area` bytes.
std::size_t segmentBytesFor(std::size_t area)
{
    std::size_t bytes = roundToPages(area + segmentHeadBytes(area + area / 64) + kHeaderBytes);
    while (segmentAreaBytes(bytes) < area)
        bytes += kPageSize;
    return bytes;
}

} // namespace

void* mapMemory(std::size_t bytes)
{
    if (detail::takeCommitFailure())
        return nullptr;
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

// ---------------------------------------------------------------------------------------------
// Mapped arrays

template <typename T>
bool MappedArray<T>::insertAt(std::size_t index, const T& item)
{
    if (count == capacity) {
        const std::size_t bytes = roundToPages(std::max<std::size_t>(capacity * 2, 1) * sizeof(T));
        T* grown = static_cast<T*>(mapMemory(bytes));
        if (grown == nullptr)
            return false;
        if (count != 0)
            std::memcpy(grown, items, count * sizeof(T));
        release();
        items = grown;
        capacity = bytes / sizeof(T);
        mappedBytes = bytes;
    }
    std::memmove(items + index + 1, items + index, (count - index) * sizeof(T));
    items[index] = item;
    ++count;
    return true;
}

template <typename T>
void MappedArray<T>::eraseAt(std::size_t index)
{
    std::memmove(items + index, items + index + 1, (count - index - 1) * sizeof(T));
    --count;
}

template <typename T>
void MappedArray<T>::release()
{
    if (mappedBytes != 0)
        munmap(items, mappedBytes);
    mappedBytes = 0;
}

// ---------------------------------------------------------------------------------------------
// Creation and destruction

PrivateHeap::PrivateHeap()
{
    mSegments.items = mSegmentInline;
    mSegments.capacity = kInlineSegments;
}

static_assert(sizeof(PrivateHeap) <= kPageSize, "the heap record is one page of its own");

PrivateHeap* PrivateHeap::create(SIZE_T initialSize)
{
    if (initialSize > kMaximumSegmentBytes)
        return nullptr;
    const std::size_t first = std::max(roundToPages(initialSize), kFirstSegmentBytes);

    void* memory = mapMemory(roundToPages(sizeof(PrivateHeap)));
    if (memory == nullptr)
        return nullptr;
    auto* heap = new (memory) PrivateHeap();
    if (!heap->addSegment(first)) {
        munmap(memory, roundToPages(sizeof(PrivateHeap)));
        return nullptr;
    }
    return heap;
}

void PrivateHeap::destroy()
{
    for (std::size_t i = 0; i < mSegments.count; ++i)
        munmap(mSegments.items[i], mSegments.items[i]->mappingBytes);
    for (std::size_t i = 0; i < mLarge.count; ++i)
        munmap(mLarge.items[i].base, mLarge.items[i].mappingBytes);
    mSegments.release();
    mLarge.release();
    this->~PrivateHeap();
    munmap(this, roundToPages(sizeof(PrivateHeap)));
}

// ---------------------------------------------------------------------------------------------
// Segments

bool PrivateHeap::addSegment(std::size_t bytes)
{
    char* base = static_cast<char*>(mapMemory(bytes));
    if (base == nullptr)
        return false;
    auto* segment = new (base) Segment{};
    segment->mappingBytes = bytes;
    segment->starts = reinterpret_cast<std::uint64_t*>(base + sizeof(Segment));
    segment->blocks = base + segmentHeadBytes(bytes);
    segment->end = base + bytes - kHeaderBytes;

    std::size_t index = 0;
    while (index < mSegments.count && addressOf(mSegments.items[index]) < addressOf(base))
        ++index;
    if (!mSegments.insertAt(index, segment)) {
        munmap(base, bytes);
        return false;
    }

    // One free block spans the area; the sentinel behind it is busy, so nothing merges past the
    // end and nothing needs the segment bounds on the fast paths. The mapping is zero-filled,
    // and so is the bitmap.
    auto* block = reinterpret_cast<FreeBlock*>(segment->blocks);
    block->units = static_cast<std::uint32_t>(segmentAreaBytes(bytes) / kGranule);
    block->segmentUnits = static_cast<std::uint32_t>(segmentHeadBytes(bytes) / kGranule);
    auto* sentinel = reinterpret_cast<BlockHeader*>(segment->end);
    sentinel->prevUnits = block->units;
    sentinel->segmentUnits = static_cast<std::uint32_t>((bytes - kHeaderBytes) / kGranule);
    sentinel->flags = kBusy | kSentinel;
    setStart(segment, block);
    pushFree(block);

    mSegmentBytes += bytes;
    if (mFirstSegment == nullptr)
        mFirstSegment = segment;
    mNewestSegment = segment;
    return true;
}

bool PrivateHeap::growFor(std::uint32_t units)
{
    const std::size_t bytes = std::clamp(mSegmentBytes, kFirstSegmentBytes, kMaximumGrowthBytes);
    return addSegment(std::max(bytes, segmentBytesFor(std::size_t{units} * kGranule)));
}

void PrivateHeap::removeSegment(Segment* segment)
{
    mSegments.eraseAt(segmentIndexOf(segment));
    mSegmentBytes -= segment->mappingBytes;
    munmap(segment, segment->mappingBytes);
}

std::size_t PrivateHeap::segmentIndexOf(const void* p) const
{
    const std::uintptr_t address = addressOf(p);
    std::size_t low = 0;
    std::size_t high = mSegments.count;
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (addressOf(mSegments.items[middle]) <= address)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0)
        return kNotFound;
    const Segment* segment = mSegments.items[low - 1];
    return address - addressOf(segment) < segment->mappingBytes ? low - 1 : kNotFound;
}

Segment* PrivateHeap::segmentOf(const void* p) const
{
    const std::size_t index = segmentIndexOf(p);
    return index == kNotFound ? nullptr : mSegments.items[index];
}

std::size_t PrivateHeap::largePositionOf(const void* p) const
{
    std::size_t low = 0;
    std::size_t high = mLarge.count;
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (addressOf(mLarge.items[middle].base) < addressOf(p))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

std::size_t PrivateHeap::largeIndexOf(const void* p) const
{
    const std::size_t index = largePositionOf(p);
    return index < mLarge.count && mLarge.items[index].base == p ? index : kNotFound;
}

BlockHeader* PrivateHeap::blockAt(const Segment* segment, const void* p) const
{
    // Only the bitmap is trusted: the bytes in front of an arbitrary pointer are never read
    // before the bitmap says a header starts there.
    const std::uintptr_t address = addressOf(p);
    if (address % kGranule != 0 || address < addressOf(segment->blocks) + kHeaderBytes ||
        address - kHeaderBytes >= addressOf(segment->end))
        return nullptr;
    auto* header = reinterpret_cast<BlockHeader*>(address - kHeaderBytes);
    return isStart(segment, header) ? header : nullptr;
}

BlockHeader* PrivateHeap::busyBlockAt(const Segment* segment, const void* p) const
{
    BlockHeader* block = blockAt(segment, p);
    return block != nullptr && (block->flags & kBusy) ? block : nullptr;
}

template struct MappedArray<Segment*>;
template struct MappedArray<LargeBlock>;

} // namespace win::heaps
