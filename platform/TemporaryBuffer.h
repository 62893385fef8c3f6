// platform/TemporaryBuffer.h
// Scratch space for the duration of one call: on the stack while it fits in a fixed number of
// bytes, from a heap beyond, so the short texts that nearly every call brings never allocate.
// The layer, the string class and liboxhost all take their temporary buffers from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace win {

/// The C runtime heap, where a TemporaryBuffer that outgrows its stack part goes by default. A
/// replacement names another heap with the same two static functions.
struct CRuntimeBlocks {
    static void* allocate(std::size_t bytes) { return std::malloc(bytes); }
    static void release(void* p) { std::free(p); }
};

/// `count` elements of T: inside the object up to `LocalBytes`, from `Blocks` beyond. `data()` is
/// null when the heap refuses; the elements are not initialised.
template <typename T, std::size_t LocalBytes = 1024, typename Blocks = CRuntimeBlocks>
class TemporaryBuffer {
public:
    explicit TemporaryBuffer(std::size_t count)
    {
        if (count <= kLocalCount)
            mpData = mLocal;
        else if (count <= SIZE_MAX / sizeof(T))
            mpData = static_cast<T*>(Blocks::allocate(count * sizeof(T)));
    }
    ~TemporaryBuffer()
    {
        if (mpData != mLocal && mpData != nullptr)
            Blocks::release(mpData);
    }
    TemporaryBuffer(const TemporaryBuffer&) = delete;
    TemporaryBuffer& operator=(const TemporaryBuffer&) = delete;

    T* data() const { return mpData; }

private:
    static constexpr std::size_t kLocalCount = LocalBytes / sizeof(T);
    T* mpData = nullptr;
    T mLocal[kLocalCount];
};

} // namespace win
