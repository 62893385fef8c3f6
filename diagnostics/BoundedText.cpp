// diagnostics/BoundedText.cpp
// A cut never splits a surrogate pair: a high surrogate that would take the last unit is
// dropped, so the text stays well-formed.

#include "diagnostics/BoundedText.h"

#include "platform/win.h"

namespace oxdiag {

void BoundedText::put(OXCHAR unit)
{
    if (mLength + 1 >= mCapacity)
        return;
    if (mLength + 2 == mCapacity && unit >= 0xD800 && unit <= 0xDBFF) {
        mCapacity = mLength + 1; // its low half could not follow: nothing more goes in
        return;
    }
    mpBuffer[mLength++] = unit;
    mpBuffer[mLength] = 0;
}

void BoundedText::append(const OXCHAR* text, std::size_t maxUnits)
{
    if (text == nullptr) {
        appendAscii("(null)");
        return;
    }
    for (std::size_t i = 0; i < maxUnits && text[i] != 0; ++i)
        put(text[i]);
}

void BoundedText::appendAscii(const char* text)
{
    for (; *text != 0; ++text)
        put(static_cast<OXCHAR>(*text));
}

void BoundedText::appendFormat(const OXCHAR* format, va_list arguments)
{
    // The text goes on being formatted after a cut; what no longer fits is dropped by put().
    const win::PFORMAT_SINK appendPiece = [](void* context, const OXCHAR* piece, unsigned int unitCount) {
        for (unsigned int i = 0; i < unitCount; ++i)
            static_cast<BoundedText*>(context)->put(piece[i]);
        return 0;
    };
    if (format != nullptr)
        win::FormatOutputW(appendPiece, this, format, arguments);
}

void BoundedText::appendFormatted(const OXCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    appendFormat(format, arguments);
    va_end(arguments);
}

} // namespace oxdiag
