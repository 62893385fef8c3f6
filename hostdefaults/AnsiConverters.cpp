// hostdefaults/AnsiConverters.cpp
// The ANSI converters forward to the platform layer that liboxfirst exports, so the host's
// converters and the library's own ANSI conversions always agree on the code page in force.

#include "hostdefaults/AnsiConverters.h"

#include "platform/win.h"

#include <type_traits>

static_assert(
    std::is_same_v<decltype(&oxHostMultiByteToWideChar), OxRxTypeSysCallbacks::MultiByteToWideCharCallback>);
static_assert(
    std::is_same_v<decltype(&oxHostWideCharToMultiByte), OxRxTypeSysCallbacks::WideCharToMultiByteCallback>);

int oxHostMultiByteToWideChar(unsigned int codePage, int flags, const char* source, int sourceLength,
                              OXCHAR* destination, int destinationCapacity)
{
    return win::MultiByteToWideChar(codePage, static_cast<win::DWORD>(flags), source, sourceLength,
                                    destination, destinationCapacity);
}

int oxHostWideCharToMultiByte(unsigned int codePage, std::uint32_t flags, const OXCHAR* source,
                              int sourceLength, char* destination, int destinationCapacity,
                              std::uint32_t extraFlags)
{
    if (extraFlags != 0) {
        win::SetLastError(win::ERROR_INVALID_FLAGS);
        return 0;
    }
    return win::WideCharToMultiByte(codePage, flags, source, sourceLength, destination, destinationCapacity,
                                    nullptr, nullptr);
}
