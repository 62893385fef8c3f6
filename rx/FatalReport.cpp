// rx/FatalReport.cpp
// The fatal report. The message is built in a fixed stack buffer so that reporting works when
// the heap is exhausted or broken: "!" first, then whatever the host's formatter produces, cut
// to fit and always terminated.

#include <oxfirst/OxRxCallbacks.h>

#include "platform/win.h"

#include <cstring>

namespace {

// The sink's context: the write position and the last unit of the buffer, which is kept for
// the terminator. position <= end at all times, and *position is always 0.
struct MessageCursor {
    OXCHAR* position;
    OXCHAR* end;
};

bool isHighSurrogate(OXCHAR unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// Copies what still fits. A high half of a surrogate pair that would fill the last unit drops,
// since its low half could not follow, so the message stays well-formed UTF-16. Always answers
// 0: the formatter is never stopped, the rest of its output is simply not kept.
int appendPiece(void* context, const OXCHAR* piece, unsigned int unitCount)
{
    auto* cursor = static_cast<MessageCursor*>(context);
    if (piece == nullptr || unitCount == 0 || cursor->position == cursor->end)
        return 0;
    const std::size_t room = static_cast<std::size_t>(cursor->end - cursor->position);
    std::size_t count = unitCount < room ? unitCount : room;
    if (count == room && isHighSurrogate(piece[count - 1]))
        --count;
    std::memcpy(cursor->position, piece, count * sizeof(OXCHAR));
    cursor->position += count;
    *cursor->position = 0;
    if (count < unitCount)
        cursor->end = cursor->position; // nothing after a cut may be appended
    return 0;
}

} // namespace

void oxrx_abort(const OXCHAR* format, ...)
{
    OXCHAR message[kOxRxAbortBufferLength] = {};
    message[0] = u'!';
    MessageCursor cursor{message + 1, message + kOxRxAbortBufferLength - 1};

    if (OxRxTypeSysCallbacks::FmtOutCallback formatter = OxRxTypeSysCallbacks::fmtout()) {
        va_list arguments;
        va_start(arguments, format);
        formatter(&appendPiece, &cursor, format, arguments);
        va_end(arguments);
    }
    if (OxRxTypeSysCallbacks::FatalErrorCallback fatalError = OxRxTypeSysCallbacks::fatalError()) {
        fatalError(message);
        return;
    }
    win::RaiseException(kOxRxAbortExceptionCode, 0, 0, nullptr);
}
