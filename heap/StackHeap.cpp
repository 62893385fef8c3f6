// heap/StackHeap.cpp
// The stack heap: a 16 KB last-in-first-out arena per thread (or per fiber) for small objects
// whose owner lives on the caller's stack, so they die in about the order they were made. Each
// block is a multiple of 16 bytes whose last 4 bytes hold its length, positive while in use and
// negated once freed; the arena's top drops past freed blocks only from the top down. The
// arena belongs to one thread or fiber, so nothing here takes a lock.

#include "heap/HeapInternal.h"
#include "heap/HeapTestHooks.h"

#include "platform/win.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace oxheap {
namespace {

constexpr std::size_t kArenaBytes = 16384;
constexpr std::size_t kBlockUnit = 16;
constexpr std::size_t kLengthWord = 4;
// The fiber-data word of a thread that runs no fiber holds a small number.
constexpr std::uintptr_t kSmallestFiber = 0x10000;

struct OxStackArena {
    std::byte* base;   // kArenaBytes from the process allocator
    std::size_t limit; // kArenaBytes
    std::size_t top;   // bytes in use: blocks end at base + top
};
static_assert(sizeof(OxStackArena) == 24);

constinit std::atomic<std::uint32_t> gTlsSlot{win::TLS_OUT_OF_INDEXES};
constinit std::atomic<std::uint32_t> gFiberSlot{win::TLS_OUT_OF_INDEXES};
// Set until the stack heap is set up at load: until then fiber data is not trusted and every
// arena lives in plain TLS.
constinit bool gForcePlainTls = true;

// The arena of the calling thread when it runs no fiber, as the TLS slot holds it: one load
// instead of the slot lookup on every allocation and free. Null until the thread's arena is
// found or made, and again once its thread-end destructor has destroyed it.
constinit thread_local OxStackArena* tThreadArena = nullptr;

void destroyArena(void* value)
{
    auto* arena = static_cast<OxStackArena*>(value);
    if (arena == nullptr)
        return;
    if (arena == tThreadArena)
        tThreadArena = nullptr;
    oxHeapFree(nullptr, arena->base);
    delete arena;
}

// The slot store of the fiber the thread runs, null when it runs none or its fiber has no
// parameter.
OxFiberLocalStore* fiberStore()
{
    if (gForcePlainTls)
        return nullptr;
    void* fiber = win::GetCurrentFiber();
    if (reinterpret_cast<std::uintptr_t>(fiber) < kSmallestFiber)
        return nullptr;
    return *static_cast<OxFiberLocalStore**>(fiber);
}

// An arena with its buffer; null when either allocation fails (the caller then serves the
// request from the C runtime and tries again next time).
OxStackArena* newArena()
{
    auto* buffer = static_cast<std::byte*>(oxHeapAlloc(nullptr, kArenaBytes));
    if (buffer == nullptr)
        return nullptr;
    auto* arena = new (std::nothrow) OxStackArena{buffer, kArenaBytes, 0};
    if (arena == nullptr)
        oxHeapFree(nullptr, buffer);
    return arena;
}

// The calling thread's or fiber's arena; made when `create` is set and there is none.
OxStackArena* currentArena(bool create)
{
    if (OxFiberLocalStore* store = fiberStore()) {
        std::uint32_t slot = gFiberSlot.load(std::memory_order_acquire);
        if (slot == win::TLS_OUT_OF_INDEXES) {
            if (!create)
                return nullptr;
            slot = fillSlotOnce(
                gFiberSlot,
                [](void* s) { return static_cast<OxFiberLocalStore*>(s)->allocSlot(&destroyArena); }, store);
            if (slot == win::TLS_OUT_OF_INDEXES)
                return nullptr;
        }
        auto* arena = static_cast<OxStackArena*>(store->getValue(slot));
        if (arena == nullptr && create && (arena = newArena()) != nullptr)
            store->setValue(slot, arena, 0);
        return arena;
    }
    if (tThreadArena != nullptr) [[likely]]
        return tThreadArena;
    std::uint32_t slot = gTlsSlot.load(std::memory_order_acquire);
    if (slot == win::TLS_OUT_OF_INDEXES) {
        if (!create)
            return nullptr;
        slot = fillSlotOnce(
            gTlsSlot, [](void*) { return allocTlsSlotWithDestructor(&destroyArena); }, nullptr);
        if (slot == win::TLS_OUT_OF_INDEXES)
            return nullptr;
    }
    auto* arena = static_cast<OxStackArena*>(win::TlsGetValue(slot));
    if (arena == nullptr && create && (arena = newArena()) != nullptr) {
        if (!win::TlsSetValue(slot, arena)) {
            destroyArena(arena);
            return nullptr;
        }
        watchThreadEnd();
    }
    tThreadArena = arena;
    return arena;
}

std::int32_t& lengthWordBefore(OxStackArena* arena, std::size_t end)
{
    return *reinterpret_cast<std::int32_t*>(arena->base + end - kLengthWord);
}

bool isInArena(const OxStackArena* arena, const void* p)
{
    const auto* at = static_cast<const std::byte*>(p);
    return at >= arena->base && at < arena->base + arena->top;
}

// The end of the block that starts at p, found by stepping down from the top block by block;
// 0 when p starts no block (an address inside a block, or a length word that is not one).
std::size_t endOfBlock(OxStackArena* arena, const void* p)
{
    const auto start = static_cast<std::size_t>(static_cast<const std::byte*>(p) - arena->base);
    std::size_t end = arena->top;
    while (end > start) {
        const std::int32_t word = lengthWordBefore(arena, end);
        const std::size_t length =
            static_cast<std::size_t>(word < 0 ? -static_cast<std::int64_t>(word) : word);
        if (length == 0 || length % kBlockUnit != 0 || length > end)
            return 0;
        if (end - length == start)
            return end;
        end -= length;
    }
    return 0;
}

// Marks the block ending at `end` freed and lowers the top past every freed block on top.
void freeBlockEndingAt(OxStackArena* arena, std::size_t end)
{
    std::int32_t& word = lengthWordBefore(arena, end);
    if (word < 0) // freed already
        return;
    word = -word;
    while (arena->top > 0 && lengthWordBefore(arena, arena->top) < 0)
        arena->top -= static_cast<std::size_t>(-lengthWordBefore(arena, arena->top));
}

// A block of `size` bytes from the top of the arena; null when it does not fit.
void* allocFromArena(OxStackArena* arena, std::size_t size)
{
    if (size > arena->limit)
        return nullptr;
    const std::size_t length = (size + kLengthWord + kBlockUnit - 1) & ~(kBlockUnit - 1);
    if (arena->top + length > arena->limit)
        return nullptr;
    std::byte* block = arena->base + arena->top;
    arena->top += length;
    lengthWordBefore(arena, arena->top) = static_cast<std::int32_t>(length);
    return block;
}

// Whether `owner` lies on the calling thread's stack above the current frame.
[[gnu::noinline]] bool isOnCallersStack(const void* owner)
{
    win::ULONG_PTR low = 0;
    win::ULONG_PTR high = 0;
    win::GetCurrentThreadStackLimits(&low, &high);
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    const auto at = reinterpret_cast<std::uintptr_t>(owner);
    return at > here && at < high;
}

} // namespace

void setUpStackHeap()
{
    gForcePlainTls = false;
}

} // namespace oxheap

using namespace oxheap;

void* oxStackHeapAlloc(std::size_t size, const void* owner) noexcept
{
    if (!isOnCallersStack(owner))
        return std::malloc(size);
    OxStackArena* arena = currentArena(true);
    void* block = arena != nullptr ? allocFromArena(arena, size) : nullptr;
    return block != nullptr ? block : std::malloc(size);
}

void oxStackHeapFree(void* p) noexcept
{
    OxStackArena* arena = currentArena(false);
    if (arena == nullptr || (p != nullptr && !isInArena(arena, p))) {
        std::free(p);
        return;
    }
    if (p == nullptr)
        return;
    // An address inside the arena that starts no block is not one of its blocks; it cannot
    // be the C runtime's either, so it is left alone.
    if (const std::size_t end = endOfBlock(arena, p))
        freeBlockEndingAt(arena, end);
}

void* oxStackHeapRealloc(void* p, std::size_t size) noexcept
{
    OxStackArena* arena = currentArena(false);
    if (arena == nullptr || !isInArena(arena, p))
        return std::realloc(p, size);
    const std::size_t end = endOfBlock(arena, p);
    if (end == 0)
        return nullptr;
    if (end == arena->top) {
        freeBlockEndingAt(arena, end);
        void* block = allocFromArena(arena, size);
        return block != nullptr ? block : std::malloc(size);
    }
    const std::int32_t word = lengthWordBefore(arena, end);
    if (word < 0) // freed already: no block to resize
        return nullptr;
    // The usable length of an inner block stops short of its length word: a request that
    // would reach into the word gets a fresh block, so the caller never overwrites it.
    const std::size_t usable = static_cast<std::size_t>(word) - kLengthWord;
    if (usable < size) {
        freeBlockEndingAt(arena, end);
        return std::malloc(size);
    }
    return p;
}

OxStackAllocator::~OxStackAllocator() = default;

void* OxStackAllocator::operator new(std::size_t size, const void* owner) noexcept
{
    return oxStackHeapAlloc(size, owner);
}

void OxStackAllocator::operator delete(void* p) noexcept
{
    oxStackHeapFree(p);
}

void OxStackAllocator::operator delete(void* p, const void*) noexcept
{
    oxStackHeapFree(p);
}

bool oxheap::test::stackArenaOfCaller(const void** base, std::uint32_t* top)
{
    OxStackArena* arena = currentArena(false);
    if (arena == nullptr)
        return false;
    *base = arena->base;
    *top = static_cast<std::uint32_t>(arena->top);
    return true;
}
