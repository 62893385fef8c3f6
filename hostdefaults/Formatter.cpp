// hostdefaults/Formatter.cpp
// The fmtout callback and the snprintf-like buffer convenience: both are the platform's wide
// formatter, which the library's value types print with too, so the host and the library read
// a format the same way.

#include <oxfirst/OxHostDefaults.h>

#include "platform/win.h"

#include <cstring>

namespace {

struct BufferSinkContext {
    OXCHAR* buffer;
    std::size_t room; // units that may still be stored, the terminator's unit excluded
    std::size_t used;
};

int copyToBuffer(void* context, const OXCHAR* piece, unsigned int unitCount)
{
    auto* target = static_cast<BufferSinkContext*>(context);
    std::size_t take = unitCount < target->room ? unitCount : target->room;
    std::memcpy(target->buffer + target->used, piece, take * sizeof(OXCHAR));
    target->used += take;
    target->room -= take;
    return 0; // never stops: the caller wants the whole length
}

} // namespace

int oxHostFormat(OxRxFmtSink sink, void* context, const OXCHAR* format, va_list arguments)
{
    return win::FormatOutputW(sink, context, format, arguments);
}

int oxHostFormatToBufferV(OXCHAR* buffer, std::size_t capacity, const OXCHAR* format, va_list arguments)
{
    if (buffer == nullptr || capacity == 0)
        return oxHostFormat(nullptr, nullptr, format, arguments);
    BufferSinkContext target{buffer, capacity - 1, 0};
    int length = oxHostFormat(copyToBuffer, &target, format, arguments);
    // A cut between the halves of a surrogate pair would leave a lone high surrogate.
    if (target.used < static_cast<std::size_t>(length) && target.used > 0 &&
        buffer[target.used - 1] >= 0xD800 && buffer[target.used - 1] <= 0xDBFF)
        --target.used;
    buffer[target.used] = 0;
    return length;
}

int oxHostFormatToBuffer(OXCHAR* buffer, std::size_t capacity, const OXCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = oxHostFormatToBufferV(buffer, capacity, format, arguments);
    va_end(arguments);
    return length;
}
