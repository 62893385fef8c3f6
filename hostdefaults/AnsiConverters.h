// hostdefaults/AnsiConverters.h
// liboxhost's ANSI converters: the narrow-to-wide and wide-to-narrow callbacks a host installs
// with OxRxTypeSysCallbacks so that the string class can convert ANSI text. They convert with the
// platform's ANSI code page (Windows-1252 unless OX_ANSI_CODEPAGE names another).
#pragma once

#include <oxfirst/OxRxCallbacks.h>

#include <cstdint>

#ifndef OXHOST_API
#define OXHOST_API __attribute__((visibility("default")))
#endif

/// A MultiByteToWideCharCallback: converts `source` to UTF-16 as win::MultiByteToWideChar does
/// (code page 0 or the ANSI page's number, or 65001; flags 0 or MB_ERR_INVALID_CHARS).
/// With `sourceLength` -1 the terminator is converted and counted. Returns the units written,
/// the units needed when `destinationCapacity` is 0, and 0 on failure (bad arguments, or a
/// destination too small, whose contents are then unspecified). Bytes the page leaves undefined
/// become U+FFFD, except that 1252's five undefined bytes become the C1 controls of their value.
OXHOST_API int oxHostMultiByteToWideChar(unsigned int codePage, int flags, const char* source,
                                         int sourceLength, OXCHAR* destination, int destinationCapacity);

/// A WideCharToMultiByteCallback: converts `source` to the ANSI code page as
/// win::WideCharToMultiByte does with no default-character arguments, so a character the page
/// cannot hold becomes '?' (an unpaired surrogate too; UTF-8 encodes those as U+FFFD). No unit
/// gives more than three bytes, so the string class's seven bytes per unit plus one always
/// suffice. Returns the bytes written (terminator included when `sourceLength` is -1), the bytes
/// needed when `destinationCapacity` is 0, 0 on failure. `extraFlags` must be 0: no extra flag is
/// defined, and any other value fails.
OXHOST_API int oxHostWideCharToMultiByte(unsigned int codePage, std::uint32_t flags, const OXCHAR* source,
                                         int sourceLength, char* destination, int destinationCapacity,
                                         std::uint32_t extraFlags);
