// heap/SizeClasses.h
// The size classes of the small-block heap. Class 0 is no class (the request goes to the C
// runtime), class 1 is never used, classes 2-4 are the 1, 2 and 4 KB blocks, and classes 5-41
// come from walking the sizes 512, 504, ..., 8 downwards and starting a new class wherever the
// number of blocks a 4 KB page holds changes. The walk runs at compile time: the tables are
// constant data, and so are ready before any code of the library runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oxheap {

inline constexpr std::uint32_t kPageBytes = 4096;
/// Class indices run from 0 to kLastClass; the table of shared classes has room for 54.
inline constexpr std::uint32_t kLastClass = 41;
inline constexpr std::uint32_t kClassTableSize = 54;
/// Requests up to this size are classified by table; larger ones by the three big ranges.
inline constexpr std::uint32_t kLargestTabledSize = 512;

struct SizeClassTables {
    std::uint16_t classOfSize[kLargestTabledSize + 1]; // index: request size in bytes
    std::uint32_t blockSize[kLastClass + 1];           // index: class
    std::uint32_t blocksPerPage[kLastClass + 1];       // kPageBytes / blockSize
    // ceil(2^32 / blockSize): for an offset below 4096, (offset * reciprocal) >> 32 is exactly
    // offset / blockSize (the rounding error stays below 4096 * blockSize / 2^32 < 1 / blockSize),
    // so the free path tells a block boundary without a division.
    std::uint64_t reciprocal[kLastClass + 1];
};

consteval SizeClassTables buildSizeClasses()
{
    SizeClassTables tables{};
    tables.blockSize[2] = 1024;
    tables.blockSize[3] = 2048;
    tables.blockSize[4] = 4096;
    std::uint32_t current = 4;
    std::uint32_t previousPerPage = 0;
    for (std::uint32_t size = kLargestTabledSize; size >= 8; size -= 8) {
        if (kPageBytes / size != previousPerPage) {
            previousPerPage = kPageBytes / size;
            tables.blockSize[++current] = size;
        }
        for (std::uint32_t request = size - 7; request <= size; ++request)
            tables.classOfSize[request] = static_cast<std::uint16_t>(current);
    }
    for (std::uint32_t c = 2; c <= kLastClass; ++c) {
        tables.blocksPerPage[c] = kPageBytes / tables.blockSize[c];
        tables.reciprocal[c] = ((std::uint64_t{1} << 32) + tables.blockSize[c] - 1) / tables.blockSize[c];
    }
    return tables;
}

inline constexpr SizeClassTables kSizeClasses = buildSizeClasses();

static_assert(kSizeClasses.blockSize[5] == 512 && kSizeClasses.blockSize[6] == 448);
static_assert(kSizeClasses.blockSize[16] == 208 && kSizeClasses.blockSize[29] == 104);
static_assert(kSizeClasses.blockSize[kLastClass] == 8 && kSizeClasses.classOfSize[1] == kLastClass);
static_assert(kSizeClasses.classOfSize[0] == 0 && kSizeClasses.classOfSize[449] == 5);

/// offset / blockSize of class `c`, for offsets below 4096.
constexpr std::uint32_t blockIndexInPage(std::uint32_t offset, std::uint32_t c)
{
    return static_cast<std::uint32_t>((offset * kSizeClasses.reciprocal[c]) >> 32);
}

consteval bool reciprocalsAreExact()
{
    for (std::uint32_t c = 2; c <= kLastClass; ++c)
        for (std::uint32_t offset = 0; offset < kPageBytes; ++offset)
            if (blockIndexInPage(offset, c) != offset / kSizeClasses.blockSize[c])
                return false;
    return true;
}
static_assert(reciprocalsAreExact());

/// The class of a request of `size` bytes; 0 when it has none (0, 513-999, 1025-1999,
/// 2049-3999, above 4096).
constexpr std::uint32_t classOfSize(std::size_t size)
{
    if (size <= kLargestTabledSize)
        return kSizeClasses.classOfSize[size];
    if (size >= 1000 && size <= 1024)
        return 2;
    if (size >= 2000 && size <= 2048)
        return 3;
    if (size >= 4000 && size <= 4096)
        return 4;
    return 0;
}

} // namespace oxheap
