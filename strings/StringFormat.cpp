// strings/StringFormat.cpp
// format and formatV: the library has no format language of its own; the host's fmtout
// formatter interprets the format and hands its output back in pieces.

#include "strings/StringInternal.h"

#include <oxfirst/OxRxCallbacks.h>

namespace {

// Appends the piece to the string given as context, NUL units left out. Runs between NULs are
// appended at once: the result is what appending unit by unit gives, without a reallocation
// per unit.
int appendPiece(void* context, const OXCHAR* piece, unsigned int unitCount)
{
    auto* string = static_cast<OxString*>(context);
    if (piece == nullptr)
        return 0;
    std::size_t runStart = 0;
    for (std::size_t i = 0; i <= unitCount; ++i) {
        if (i == unitCount || piece[i] == 0) {
            if (i > runStart)
                OxStringImp::appendWide(*string, piece + runStart, i - runStart);
            runStart = i + 1;
        }
    }
    return 0;
}

} // namespace

void OxString::format(const OXCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    formatV(format, arguments);
    va_end(arguments);
}

void OxString::formatV(const OXCHAR* format, va_list arguments)
{
    setEmpty();
    if (format == nullptr)
        return;
    auto formatter = OxRxTypeSysCallbacks::fmtout();
    if (formatter == nullptr)
        return;
    va_list copy;
    va_copy(copy, arguments);
    formatter(&appendPiece, this, format, copy);
    va_end(copy);
}
