// oxfirst/OxArray.h
// The library's growable array: data, physical length (slots allocated), logical length (slots
// in use) and growth length. When an append finds the array full, the physical length becomes
// the logical length plus the larger of the growth length and the logical length, the latter
// capped at as many elements as fit in 65536 bytes. New slots are not initialised by the array.
#pragma once

#include <oxfirst/OxHeap.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

/// Moves elements by memory copy: for trivially copyable elements.
template <class T>
struct OxArrayMemCopyReallocator {
    static void move(T* destination, const T* source, int count) noexcept
    {
        if (count > 0)
            std::memmove(static_cast<void*>(destination), static_cast<const void*>(source),
                         static_cast<std::size_t>(count) * sizeof(T));
    }
};

/// Moves elements by copy assignment, in an order that is safe for overlapping ranges.
template <class T>
struct OxArrayObjectCopyReallocator {
    static void move(T* destination, const T* source, int count)
    {
        if (destination < source) {
            for (int i = 0; i < count; ++i)
                destination[i] = source[i];
        } else {
            for (int i = count; i-- > 0;)
                destination[i] = source[i];
        }
    }
};

template <class T>
using OxArrayDefaultReallocator =
    std::conditional_t<std::is_trivially_copyable_v<T>, OxArrayMemCopyReallocator<T>,
                       OxArrayObjectCopyReallocator<T>>;

template <class T, class R = OxArrayDefaultReallocator<T>>
class OxArray {
public:
    static constexpr int kDefaultGrowLength = 8;
    /// The most elements one growth step adds on account of the logical length.
    static constexpr int kMaxGrowthElements = static_cast<int>(65536 / sizeof(T)) > 0
                                                  ? static_cast<int>(65536 / sizeof(T))
                                                  : 1;

    explicit OxArray(int physicalLength = 0, int growLength = kDefaultGrowLength)
        : mGrowLength(growLength > 0 ? growLength : 1)
    {
        if (physicalLength > 0)
            reallocate(physicalLength);
    }
    OxArray(const OxArray& other) : mGrowLength(other.mGrowLength) { *this = other; }
    OxArray& operator=(const OxArray& other)
    {
        if (this == &other)
            return *this;
        if (mPhysicalLength < other.mLogicalLength && !reallocate(other.mLogicalLength))
            return *this; // out of memory: this array is left as it was
        for (int i = 0; i < other.mLogicalLength; ++i)
            mpData[i] = other.mpData[i];
        mLogicalLength = other.mLogicalLength;
        return *this;
    }
    ~OxArray() { delete[] mpData; }

    int logicalLength() const noexcept { return mLogicalLength; }
    int length() const noexcept { return mLogicalLength; }
    int physicalLength() const noexcept { return mPhysicalLength; }
    int growLength() const noexcept { return mGrowLength; }
    bool isEmpty() const noexcept { return mLogicalLength == 0; }
    bool isValid(int index) const noexcept { return index >= 0 && index < mLogicalLength; }
    T* asArrayPtr() noexcept { return mpData; }
    const T* asArrayPtr() const noexcept { return mpData; }

    T& operator[](int index) noexcept { return mpData[index]; }
    const T& operator[](int index) const noexcept { return mpData[index]; }
    T& at(int index) noexcept { return mpData[index]; }
    const T& at(int index) const noexcept { return mpData[index]; }
    T& first() noexcept { return mpData[0]; }
    T& last() noexcept { return mpData[mLogicalLength - 1]; }

    void setGrowLength(int growLength) noexcept { mGrowLength = growLength > 0 ? growLength : 1; }

    /// Appends `value`; returns its index, or -1 when memory ran out (nothing changed).
    int append(const T& value)
    {
        if (mLogicalLength == mPhysicalLength) {
            T copy = value; // `value` may live in this array's own storage
            if (!grow())
                return -1;
            mpData[mLogicalLength] = copy;
        } else {
            mpData[mLogicalLength] = value;
        }
        return mLogicalLength++;
    }
    /// Inserts `value` before `index` (0 to the logical length). False for a bad index or when
    /// memory ran out; nothing changed then.
    bool insertAt(int index, const T& value)
    {
        if (index < 0 || index > mLogicalLength)
            return false;
        T copy = value;
        if (mLogicalLength == mPhysicalLength && !grow())
            return false;
        R::move(mpData + index + 1, mpData + index, mLogicalLength - index);
        mpData[index] = copy;
        ++mLogicalLength;
        return true;
    }
    /// Removes the element at `index`; false for a bad index.
    bool removeAt(int index)
    {
        if (!isValid(index))
            return false;
        R::move(mpData + index, mpData + index + 1, mLogicalLength - index - 1);
        --mLogicalLength;
        return true;
    }
    bool removeLast() noexcept
    {
        if (mLogicalLength == 0)
            return false;
        --mLogicalLength;
        return true;
    }
    void removeAll() noexcept { mLogicalLength = 0; }
    /// Stores `value` at a valid `index`; false otherwise.
    bool setAt(int index, const T& value)
    {
        if (!isValid(index))
            return false;
        mpData[index] = value;
        return true;
    }
    /// The first index at or after `start` holding `value`, or -1.
    int find(const T& value, int start = 0) const
    {
        for (int i = start < 0 ? 0 : start; i < mLogicalLength; ++i)
            if (mpData[i] == value)
                return i;
        return -1;
    }
    bool contains(const T& value) const { return find(value) >= 0; }

    /// Sets the number of slots in use. Growing beyond the physical length first grows the
    /// physical length to at least `length`; the new slots are not initialised. False when
    /// memory ran out or `length` is negative (nothing changed).
    bool setLogicalLength(int length)
    {
        if (length < 0)
            return false;
        if (length > mPhysicalLength && !reallocate(length))
            return false;
        mLogicalLength = length;
        return true;
    }
    /// Sets the number of slots allocated; a smaller value also cuts the logical length.
    bool setPhysicalLength(int length)
    {
        if (length < 0)
            return false;
        if (length == 0) {
            delete[] mpData;
            mpData = nullptr;
            mPhysicalLength = mLogicalLength = 0;
            return true;
        }
        return reallocate(length);
    }

private:
    bool grow()
    {
        const int byLength = std::min(mLogicalLength, kMaxGrowthElements);
        return reallocate(mLogicalLength + std::max(mGrowLength, byLength));
    }
    bool reallocate(int physicalLength)
    {
        T* data = new (std::nothrow) T[static_cast<std::size_t>(physicalLength)];
        if (data == nullptr)
            return false;
        const int kept = std::min(mLogicalLength, physicalLength);
        for (int i = 0; i < kept; ++i)
            data[i] = mpData[i];
        delete[] mpData;
        mpData = data;
        mPhysicalLength = physicalLength;
        mLogicalLength = kept;
        return true;
    }

    T* mpData = nullptr;
    int mPhysicalLength = 0;
    int mLogicalLength = 0;
    int mGrowLength = kDefaultGrowLength;
};
