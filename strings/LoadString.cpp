// strings/LoadString.cpp
// Texts from a module's string resources. LoadStringW cannot say how long a string is without
// copying it, so the loader tries ever larger buffers, eight times larger each time, until a
// text comes back shorter than the buffer could hold.

#include "strings/StringInternal.h"

#include <oxfirst/OxRxCallbacks.h>

#include "platform/win.h"

namespace {

constexpr int kFirstBufferUnits = 64;
constexpr int kGrowthFactor = 8;
// The try whose buffer exceeds this many bytes is the last (16777216 units, the seventh).
constexpr std::size_t kLastTryAboveBytes = 0x400000;
// Buffers up to this many units live on the stack.
constexpr int kStackBufferUnits = 512;

} // namespace

bool OxString::loadString(win::HINSTANCE module, unsigned int id)
{
    if (module == nullptr || module == reinterpret_cast<win::HINSTANCE>(~std::uintptr_t{0}))
        return false;
    OXCHAR stackBuffer[kStackBufferUnits];
    for (int units = kFirstBufferUnits;; units *= kGrowthFactor) {
        OXCHAR* buffer = stackBuffer;
        if (units > kStackBufferUnits) {
            buffer =
                static_cast<OXCHAR*>(OxStringImp::allocate(static_cast<std::size_t>(units) * sizeof(OXCHAR)));
            if (buffer == nullptr)
                return false;
        }
        const int loaded = win::LoadStringW(module, id, buffer, units);
        const bool complete = loaded > 0 && loaded < units - 1;
        if (complete)
            assign(buffer);
        if (buffer != stackBuffer)
            OxStringImp::release(buffer);
        if (loaded == 0)
            return false;
        if (complete)
            return true;
        if (static_cast<std::size_t>(units) * sizeof(OXCHAR) > kLastTryAboveBytes)
            return false;
    }
}

bool OxString::loadString(unsigned int id)
{
    auto moduleOf = OxRxTypeSysCallbacks::getAppResourceDllHandle();
    return moduleOf != nullptr && loadString(moduleOf(), id);
}
