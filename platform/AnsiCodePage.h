// platform/AnsiCodePage.h
// The ANSI code page's conversion cores (AnsiCodePage.cpp), called by the Windows entry points
// in Utf8Codec.cpp once they have checked the arguments. Internal to the layer.
#pragma once

#include "platform/Utf16.h"

namespace win::detail {

/// Whether the ANSI code page in force is UTF-8 (OX_ANSI_CODEPAGE=65001). The ANSI cores below
/// must not be called then: the UTF-8 cores serve CP_ACP.
bool ansiCodePageIsUtf8();

/// Decodes exactly `length` bytes of the ANSI code page. Every character gives one unit; an
/// undefined sequence gives U+FFFD.
ConversionResult decodeAnsi(const char* source, std::size_t length, OXCHAR* destination,
                            std::size_t capacity);
/// Encodes exactly `length` units into the ANSI code page; a character the page cannot hold
/// becomes '?' and sets usedDefaultChar.
ConversionResult encodeAnsi(const OXCHAR* source, std::size_t length, char* destination,
                            std::size_t capacity);

} // namespace win::detail
