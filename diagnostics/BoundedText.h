// diagnostics/BoundedText.h
// UTF-16 text built in a caller's fixed buffer, for the reports that must work without the
// host's formatter (assertions, start-up messages, which come before the host installs its
// callbacks). What does not fit is cut and the buffer is always terminated; nothing allocates.
#pragma once

#include <oxfirst/OxTypes.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace oxdiag {

class BoundedText {
public:
    /// Builds into `buffer`, `capacity` units including the terminator (at least 1).
    BoundedText(OXCHAR* buffer, std::size_t capacity) : mpBuffer(buffer), mCapacity(capacity)
    {
        buffer[0] = 0;
    }

    /// At most `maxUnits` units of `text`, never reading beyond them; null appends "(null)".
    void append(const OXCHAR* text, std::size_t maxUnits = SIZE_MAX);
    void appendAscii(const char* text);
    /// `format` with `arguments`, formatted by the platform's wide print (win::FormatOutputW).
    void appendFormat(const OXCHAR* format, va_list arguments);
    void appendFormatted(const OXCHAR* format, ...);

    std::size_t length() const { return mLength; }

private:
    void put(OXCHAR unit);

    OXCHAR* mpBuffer;
    std::size_t mCapacity;
    std::size_t mLength = 0; // units written; mLength < mCapacity and mpBuffer[mLength] == 0
};

} // namespace oxdiag
