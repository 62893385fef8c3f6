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

} // namespace

bool OxString::loadString(win::HINSTANCE module, unsigned int id)
{
    if (module == nullptr || module == reinterpret_cast<win::HINSTANCE>(~std::uintptr_t{0}))
        return false;
    for (int units = kFirstBufferUnits;; units *= kGrowthFactor) {
        oxstr::TemporaryBuffer<OXCHAR> buffer(static_cast<std::size_t>(units));
        if (buffer.data() == nullptr)
            return false;
        const int loaded = win::LoadStringW(module, id, buffer.data(), units);
        const bool complete = loaded > 0 && loaded < units - 1;
        if (complete)
            assign(buffer.data());
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
