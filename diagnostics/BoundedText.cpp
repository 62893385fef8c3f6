// diagnostics/BoundedText.cpp
// A cut never splits a surrogate pair: a high surrogate that would take the last unit is
// dropped, so the text stays well-formed.

#include "diagnostics/BoundedText.h"

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

void BoundedText::appendNumber(long long value, int minDigits)
{
    char digits[24];
    int count = 0;
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value) : value;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        put(u'-');
    for (int pad = count; pad < minDigits && pad < 64; ++pad)
        put(u'0');
    while (count > 0)
        put(static_cast<OXCHAR>(digits[--count]));
}

void BoundedText::appendFormat(const OXCHAR* format, va_list arguments)
{
    if (format == nullptr)
        return;
    va_list list;
    va_copy(list, arguments);
    for (const OXCHAR* p = format; *p != 0;) {
        if (*p != u'%') {
            put(*p++);
            continue;
        }
        const OXCHAR* directive = p++;
        int width = 0;
        bool zeroPadded = false;
        std::size_t precision = SIZE_MAX;
        if (*p == u'0')
            zeroPadded = true;
        while (*p >= u'0' && *p <= u'9')
            width = width < 1000 ? width * 10 + (*p++ - u'0') : width;
        if (*p == u'.') {
            ++p;
            if (*p == u'*') {
                const int given = va_arg(list, int);
                precision = given < 0 ? SIZE_MAX : static_cast<std::size_t>(given);
                ++p;
            } else {
                precision = 0;
                while (*p >= u'0' && *p <= u'9')
                    precision = precision * 10 + (*p++ - u'0');
            }
        }
        switch (*p) {
        case u'%':
            put(u'%');
            break;
        case u's':
            append(va_arg(list, const OXCHAR*), precision);
            break;
        case u'c':
            put(static_cast<OXCHAR>(va_arg(list, int)));
            break;
        case u'd':
        case u'i':
            appendNumber(va_arg(list, int), zeroPadded ? width : 1);
            break;
        case u'u':
            appendNumber(va_arg(list, unsigned int), zeroPadded ? width : 1);
            break;
        default: // unknown or unfinished: copied, no argument taken
            for (; directive != p; ++directive)
                put(*directive);
            continue;
        }
        ++p;
    }
    va_end(list);
}

void BoundedText::appendFormatted(const OXCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    appendFormat(format, arguments);
    va_end(arguments);
}

} // namespace oxdiag
