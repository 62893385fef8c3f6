// platform/Utf16.h
// UTF-8 <-> UTF-16 for the rest of the platform layer: the two terminating helpers that the
// environment functions use for names and values, and the conversion cores behind
// MultiByteToWideChar and WideCharToMultiByte (Utf8Codec.cpp). Internal to the layer.
#pragma once

#include "platform/win.h"

#include <cstddef>

namespace win::detail {

/// Converts the NUL-terminated UTF-16 `text` (null counts as empty) to UTF-8 in `buffer`.
/// Returns the bytes the whole text needs, without the terminator; it fitted when that is less
/// than `capacity`. When `capacity` > 0 the buffer is always terminated: a text that does not fit
/// is cut after the last whole character that does. Unpaired surrogates become U+FFFD. Takes no
/// lock and never allocates.
std::size_t utf16ToUtf8(const OXCHAR* text, char* buffer, std::size_t capacity);

/// Converts the NUL-terminated UTF-8 `text` (null counts as empty) to UTF-16 in `buffer`.
/// Returns the units the whole text needs, without the terminator; it fitted when that is less
/// than `capacity`. When `capacity` > 0 the buffer is always terminated, a surrogate pair is
/// never cut in half. Ill-formed sequences become U+FFFD, one per maximal subpart. Takes no lock
/// and never allocates.
std::size_t utf8ToUtf16(const char* text, OXCHAR* buffer, std::size_t capacity);

/// What a conversion core produced. A core writes whole characters while they fit in the
/// capacity and only counts from the first one that does not, so
///   written <= capacity, written <= needed, and written == needed exactly when it all fitted.
struct ConversionResult {
    std::size_t written;
    std::size_t needed;
    bool usedDefaultChar; // an ANSI encoding replaced a character by the default character
};

/// Decodes exactly `length` bytes of UTF-8; each maximal subpart of an ill-formed sequence
/// becomes U+FFFD. `destination` may be null when `capacity` is 0.
ConversionResult decodeUtf8(const char* source, std::size_t length, OXCHAR* destination,
                            std::size_t capacity);
/// Encodes exactly `length` units as UTF-8; each unpaired surrogate becomes U+FFFD.
ConversionResult encodeUtf8(const OXCHAR* source, std::size_t length, char* destination,
                            std::size_t capacity);

} // namespace win::detail
