// strings/UniqueString.cpp
// The intern table behind OxUniqueString::Intern: one process-wide hash set of interned texts,
// keyed by content, each key its own value. Interned copies come from the C runtime heap and are
// never released, so pointers stay valid to the end of the process; the set's own storage is
// released at exit.
//
// The table has a lock. Interning is not on any hot path (the library itself never interns), so
// the cost of an uncontended critical section is small beside hashing the text, and in exchange
// callers on several threads need not serialise their calls. A table that could be corrupted by
// an unserialised caller somewhere in a large application is the worse bargain.

#include <oxfirst/OxString.h>

#include "platform/win.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>
#include <unordered_set>

namespace {

// hash = hash * 5 + unit over the units, in wrapping 64-bit arithmetic.
struct TextHash {
    std::size_t operator()(const OXCHAR* text) const
    {
        std::uint64_t hash = 0;
        for (; *text != 0; ++text)
            hash = hash * 5 + *text;
        return static_cast<std::size_t>(hash);
    }
};

struct TextEqual {
    bool operator()(const OXCHAR* a, const OXCHAR* b) const
    {
        return std::basic_string_view<OXCHAR>(a) == std::basic_string_view<OXCHAR>(b);
    }
};

using InternTable = std::unordered_set<const OXCHAR*, TextHash, TextEqual>;

// Guards gpTable. A zero-filled critical section is a valid one.
constinit win::CRITICAL_SECTION gTableLock{};
// Created by the first Intern, destroyed at exit. A call after that (from a late destructor)
// builds a new table, which the process then leaves behind.
constinit InternTable* gpTable = nullptr;

// Interned texts are meant to outlive the table. A leak checker that runs after the table is
// gone would report each of them, so they are marked as intended when one is present.
extern "C" void __lsan_ignore_object(const void* p) __attribute__((weak));

void destroyTable()
{
    win::CriticalSectionGuard guard(gTableLock);
    delete gpTable;
    gpTable = nullptr;
}

} // namespace

const OxUniqueString* OxUniqueString::Intern(const OXCHAR* text)
{
    if (text == nullptr)
        return nullptr;
    win::CriticalSectionGuard guard(gTableLock);
    if (gpTable == nullptr) {
        gpTable = new (std::nothrow) InternTable;
        if (gpTable == nullptr)
            return nullptr;
        std::atexit(&destroyTable);
    }
    auto found = gpTable->find(text);
    if (found != gpTable->end())
        return reinterpret_cast<const OxUniqueString*>(*found);
    OXCHAR* copy = win::_wcsdup(text);
    if (copy == nullptr)
        return nullptr;
    try {
        gpTable->insert(copy);
    } catch (const std::bad_alloc&) {
        std::free(copy); // the table could not grow: nothing was interned
        return nullptr;
    }
    if (__lsan_ignore_object != nullptr)
        __lsan_ignore_object(copy);
    return reinterpret_cast<const OxUniqueString*>(copy);
}
