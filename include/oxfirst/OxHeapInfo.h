// oxfirst/OxHeapInfo.h
// Heap reports: a picture of every block of the process's private heaps, the committed size of
// their regions, and every block of the small-block heap, with equal blocks folded into one row
// and the rows sorted four ways.
#pragma once

#include <oxfirst/OxHeap.h>

#include <cstddef>
#include <cstdint>

/// One row of a heap report: a block size in one heap with the number of such blocks, or (with
/// inUse -1) the committed size of a heap region or of the small-block heap as a whole.
class OXFIRST_API OxHeapInfoEntry {
public:
    /// Every field 0 or null.
    OxHeapInfoEntry() noexcept;
    /// Copies every field; the file text is duplicated with malloc (null when that fails).
    OxHeapInfoEntry(const OxHeapInfoEntry& other) noexcept;
    OxHeapInfoEntry& operator=(const OxHeapInfoEntry& other) noexcept;
    /// Frees the file text with free.
    ~OxHeapInfoEntry();

    /// Blocks folded into this row (1 for one), or -1 for a region or whole-heap row.
    int inUse() const noexcept { return mInUse; }
    /// Block size in bytes, or the committed size of a -1 row.
    std::uint32_t size() const noexcept { return mSize; }
    /// Source file of the allocation; ".none" when the row has none.
    const char* file() const noexcept { return mFile != nullptr ? mFile : ".none"; }
    int line() const noexcept { return mLine; }
    int passCount() const noexcept { return mPassCount; }
    int allocCount() const noexcept { return mAllocCount; }
    /// The captured stack; null in the rows reports make.
    std::uint64_t* stackBot() const noexcept { return mStack; }
    /// The named heap the row belongs to.
    OxHeap* heap() const noexcept { return mHeap; }

    void setInUse(int inUse) noexcept { mInUse = inUse; }
    /// Keeps the low 32 bits.
    void setSize(std::size_t size) noexcept { mSize = static_cast<std::uint32_t>(size); }
    /// Stores the pointer itself: the entry then owns the text and frees it with free.
    void setFile(char* file) noexcept { mFile = file; }
    void setLine(int line) noexcept { mLine = line; }
    void setPassCount(int passCount) noexcept { mPassCount = passCount; }
    void setAllocCount(int allocCount) noexcept { mAllocCount = allocCount; }
    void setStack(std::uint64_t* stack) noexcept { mStack = stack; }
    void setHeap(OxHeap* heap) noexcept { mHeap = heap; }

private:
    friend class OxHeapInfo;

    int mInUse;
    std::uint32_t mSize;
    char* mFile;
    int mLine;
    int mPassCount;
    int mAllocCount;
    std::uint64_t* mStack;
    OxHeap* mHeap;
};

/// A heap report. The constructor takes the picture; the report does not follow later
/// allocations. Rows are read after sort(): first(), then next() until null. A report has one
/// owner: it cannot be copied.
class OXFIRST_API OxHeapInfo {
public:
    /// Orders of sort(); each compares the rows' heaps first (by address).
    enum OxHeapSort : int {
        kSortBySize = 0,  ///< then size, then inUse
        kSortByCount = 1, ///< then inUse, then size
        kSortByTotal = 2, ///< then inUse * size (32-bit), then size
        kSortByFile = 3,  ///< then file, line, size, passCount, inUse (any other value too)
    };

    /// Takes the picture: every private heap of the process (each gets a new OxHeap named
    /// "Win32Heap <handle in hex>\n", which joins the heap list for good) with its busy blocks
    /// and regions, then the small-block heap's blocks under its lock and a last row with its
    /// committed size. Rows that cannot be stored for want of memory are left out.
    OxHeapInfo() noexcept;
    explicit OxHeapInfo(int showPassCounts) noexcept;
    ~OxHeapInfo();
    OxHeapInfo(const OxHeapInfo&) = delete;
    OxHeapInfo& operator=(const OxHeapInfo&) = delete;

    /// Folds `entry` into the row of the same size, heap and pass count (its inUse grows by one
    /// unless entry's inUse is 0), or stores a copy as a new row (with a file of its own,
    /// ".none" when entry has none).
    void addEntry(OxHeapInfoEntry& entry) noexcept;
    /// Lists every row once in `order`, replacing any earlier listing; the walk restarts.
    void sort(OxHeapSort order) noexcept;
    /// The first row of the listing; null when it is empty or sort() was never called.
    OxHeapInfoEntry* first() noexcept;
    /// The next row of the listing; null at its end.
    OxHeapInfoEntry* next() noexcept;
    int numEntries() const noexcept;
    int showPassCounts() const noexcept;

private:
    struct Report;
    void takePicture() noexcept;
    // Folds `count` blocks like `entry` at once, as `count` calls of addEntry would.
    void addRows(OxHeapInfoEntry& entry, std::uint32_t count);
    Report* mpReport;
};

/// Kept for modules that call it: does nothing and returns true.
OXFIRST_API bool oxHeapSnapshot(const OXCHAR* name) noexcept;
