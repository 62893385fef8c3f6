// platform/WideFormat.cpp
// The C runtime's wide formatted print: one printf-style formatter over UTF-16 text and the
// counting and bounded print routines built on it. Output collects in a stack piece that goes
// to the sink whenever it fills; integers, text and pointers are laid out here, floating-point
// digits come from the C library's snprintf and are widened, and narrow text is decoded by the
// layer's UTF-8 codec.

#include "platform/TemporaryBuffer.h"
#include "platform/win.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace win {
namespace {

// Units gathered before the sink is called. Big enough that ordinary messages reach the sink
// in one call, small enough to live on the stack of any thread.
constexpr unsigned kPieceUnits = 256;

// Bytes of floating-point text formatted on the stack; longer text (a huge width or precision,
// %f of a huge value) goes to the heap.
constexpr std::size_t kFloatStackBytes = 512;

// Gathers output into a stack piece and hands full pieces to the sink.
class Output {
public:
    Output(PFORMAT_SINK sink, void* context) : mSink(sink), mContext(context) {}

    bool stopped() const { return mStopped; }

    void put(WCHAR unit)
    {
        if (mStopped || (mFill == kPieceUnits && !flush()))
            return;
        mPiece[mFill++] = unit;
    }

    void put(const WCHAR* units, std::size_t count)
    {
        while (count > 0 && !mStopped) {
            if (mFill == kPieceUnits && !flush())
                return;
            std::size_t room = kPieceUnits - mFill;
            std::size_t take = count < room ? count : room;
            std::memcpy(mPiece + mFill, units, take * sizeof(WCHAR));
            mFill += static_cast<unsigned>(take);
            units += take;
            count -= take;
        }
    }

    // Bytes below 0x80 (digits, signs, "inf"): each byte is one unit.
    void putAscii(const char* text, std::size_t count)
    {
        for (std::size_t i = 0; i < count && !mStopped; ++i)
            put(static_cast<WCHAR>(static_cast<unsigned char>(text[i])));
    }

    void repeat(WCHAR unit, std::size_t count)
    {
        while (count > 0 && !mStopped) {
            if (mFill == kPieceUnits && !flush())
                return;
            std::size_t room = kPieceUnits - mFill;
            std::size_t take = count < room ? count : room;
            for (std::size_t i = 0; i < take; ++i)
                mPiece[mFill + i] = unit;
            mFill += static_cast<unsigned>(take);
            count -= take;
        }
    }

    // Hands over what is left and returns the units handed over, at most INT_MAX.
    int finish()
    {
        if (mFill > 0 && !mStopped)
            flush();
        return mProduced > INT_MAX ? INT_MAX : static_cast<int>(mProduced);
    }

private:
    // Hands the piece to the sink; false when the sink asked to stop.
    bool flush()
    {
        mProduced += mFill;
        if (mSink != nullptr && mSink(mContext, mPiece, mFill) != 0)
            mStopped = true;
        mFill = 0;
        return !mStopped;
    }

    PFORMAT_SINK mSink;
    void* mContext;
    std::uint64_t mProduced = 0; // units handed to the sink (counted alone when there is none)
    unsigned mFill = 0;          // units in mPiece not yet handed over; 0 <= mFill <= kPieceUnits
    bool mStopped = false;       // the sink answered non-zero; nothing more is gathered
    WCHAR mPiece[kPieceUnits];
};

// A System V va_list is an array type, which cannot be passed on by reference portably; the
// wrapper lets every helper take the next argument from the same list.
struct Arguments {
    va_list list;
};

enum class Length {
    kDefault,
    kChar,
    kShort,
    kLong,
    kLongLong,
    kLongDouble,
    kInt32,
    kInt64,
    kSize,
    kIntMax,
    kPtrDiff,
    kWide
};

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    int width = 0;
    int precision = -1; // -1: none
    Length length = Length::kDefault;
};

// Reads decimal digits, saturating at INT_MAX so that an absurd number cannot overflow.
int parseNumber(const WCHAR*& p)
{
    int value = 0;
    while (*p >= u'0' && *p <= u'9') {
        int digit = *p - u'0';
        value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
        ++p;
    }
    return value;
}

std::int64_t fetchSigned(Arguments& arguments, Length length)
{
    switch (length) {
    case Length::kChar:
        return static_cast<signed char>(va_arg(arguments.list, int));
    case Length::kShort:
        return static_cast<short>(va_arg(arguments.list, int));
    case Length::kLong:
        return va_arg(arguments.list, long);
    case Length::kLongLong:
    case Length::kLongDouble:
    case Length::kInt64:
        return va_arg(arguments.list, long long);
    case Length::kIntMax:
        return va_arg(arguments.list, std::intmax_t);
    case Length::kSize:
    case Length::kPtrDiff:
        return va_arg(arguments.list, std::ptrdiff_t);
    default:
        return va_arg(arguments.list, int);
    }
}

std::uint64_t fetchUnsigned(Arguments& arguments, Length length)
{
    switch (length) {
    case Length::kChar:
        return static_cast<unsigned char>(va_arg(arguments.list, unsigned));
    case Length::kShort:
        return static_cast<unsigned short>(va_arg(arguments.list, unsigned));
    case Length::kLong:
        return va_arg(arguments.list, unsigned long);
    case Length::kLongLong:
    case Length::kLongDouble:
    case Length::kInt64:
        return va_arg(arguments.list, unsigned long long);
    case Length::kIntMax:
        return va_arg(arguments.list, std::uintmax_t);
    case Length::kSize:
    case Length::kPtrDiff:
        return va_arg(arguments.list, std::size_t);
    default:
        return va_arg(arguments.list, unsigned);
    }
}

std::size_t paddingFor(const Directive& directive, std::size_t bodyUnits)
{
    std::size_t width = static_cast<std::size_t>(directive.width);
    return width > bodyUnits ? width - bodyUnits : 0;
}

// Lays out an integer as printf does: [spaces][sign or 0x][zeros][digits][spaces].
void formatInteger(Output& out, const Directive& directive, std::uint64_t magnitude, bool negative,
                   bool isSigned, unsigned base, bool upper)
{
    const char* digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[24]; // 64 bits in octal need 22
    std::size_t digitCount = 0;
    bool isZero = magnitude == 0;
    if (magnitude != 0 || directive.precision != 0) {
        do {
            digits[sizeof digits - 1 - digitCount++] = digitSet[magnitude % base];
            magnitude /= base;
        } while (magnitude != 0);
    }
    const char* firstDigit = digits + sizeof digits - digitCount;

    char prefix[2];
    std::size_t prefixLength = 0;
    if (negative)
        prefix[prefixLength++] = '-';
    else if (isSigned && directive.plus)
        prefix[prefixLength++] = '+';
    else if (isSigned && directive.space)
        prefix[prefixLength++] = ' ';
    if (directive.alternate && base == 16 && !isZero) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = upper ? 'X' : 'x';
    }

    std::size_t precision = directive.precision < 0 ? 0 : static_cast<std::size_t>(directive.precision);
    std::size_t zeros = precision > digitCount ? precision - digitCount : 0;
    // '#' with octal makes the first digit a zero, adding one only when there is none yet.
    if (directive.alternate && base == 8 && zeros == 0 && (digitCount == 0 || firstDigit[0] != '0'))
        zeros = 1;

    std::size_t padding = paddingFor(directive, prefixLength + zeros + digitCount);
    if (directive.zero && !directive.left && directive.precision < 0) {
        zeros += padding;
        padding = 0;
    }
    if (!directive.left)
        out.repeat(u' ', padding);
    out.putAscii(prefix, prefixLength);
    out.repeat(u'0', zeros);
    out.putAscii(firstDigit, digitCount);
    if (directive.left)
        out.repeat(u' ', padding);
}

void formatPointer(Output& out, const Directive& directive, const void* pointer)
{
    char digits[16];
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(pointer);
    for (int i = 15; i >= 0; --i, value >>= 4)
        digits[i] = "0123456789ABCDEF"[value & 0xF];
    std::size_t padding = paddingFor(directive, sizeof digits);
    if (!directive.left)
        out.repeat(u' ', padding);
    out.putAscii(digits, sizeof digits);
    if (directive.left)
        out.repeat(u' ', padding);
}

void formatFloat(Output& out, const Directive& directive, Arguments& arguments, WCHAR conversion)
{
    // The C library is given the same flags, the resolved width and precision (negative means
    // none) and the conversion, so the digits and their layout are exactly printf's.
    char narrowFormat[16];
    std::size_t n = 0;
    narrowFormat[n++] = '%';
    if (directive.left)
        narrowFormat[n++] = '-';
    if (directive.plus)
        narrowFormat[n++] = '+';
    if (directive.space)
        narrowFormat[n++] = ' ';
    if (directive.alternate)
        narrowFormat[n++] = '#';
    if (directive.zero)
        narrowFormat[n++] = '0';
    narrowFormat[n++] = '*';
    narrowFormat[n++] = '.';
    narrowFormat[n++] = '*';
    bool isLongDouble = directive.length == Length::kLongDouble;
    if (isLongDouble)
        narrowFormat[n++] = 'L';
    narrowFormat[n++] = static_cast<char>(conversion);
    narrowFormat[n] = '\0';

    long double longValue = 0;
    double value = 0;
    if (isLongDouble)
        longValue = va_arg(arguments.list, long double);
    else
        value = va_arg(arguments.list, double);
    auto print = [&](char* buffer, std::size_t size) {
        return isLongDouble
                   ? std::snprintf(buffer, size, narrowFormat, directive.width, directive.precision,
                                   longValue)
                   : std::snprintf(buffer, size, narrowFormat, directive.width, directive.precision, value);
    };

    const int length = print(nullptr, 0);
    if (length < 0)
        return;
    win::TemporaryBuffer<char, kFloatStackBytes> text(static_cast<std::size_t>(length) + 1);
    if (text.data() == nullptr)
        return; // without memory for a huge width or precision the conversion prints nothing
    print(text.data(), static_cast<std::size_t>(length) + 1);
    out.putAscii(text.data(), static_cast<std::size_t>(length));
}

// The units of `text` up to its terminator, but never reading more than `limit` of them.
template <typename Unit>
std::size_t boundedLength(const Unit* text, int limit)
{
    std::size_t length = 0;
    if (limit < 0) {
        while (text[length] != 0)
            ++length;
    } else {
        while (length < static_cast<std::size_t>(limit) && text[length] != 0)
            ++length;
    }
    return length;
}

void formatWideText(Output& out, const Directive& directive, const WCHAR* text)
{
    if (text == nullptr)
        text = u"(null)";
    std::size_t length = boundedLength(text, directive.precision);
    std::size_t padding = paddingFor(directive, length);
    if (!directive.left)
        out.repeat(u' ', padding);
    out.put(text, length);
    if (directive.left)
        out.repeat(u' ', padding);
}

// Narrow text is UTF-8, decoded by the platform: an ill-formed sequence becomes U+FFFD. UTF-8
// never gives more units than it has bytes.
void formatNarrowText(Output& out, const Directive& directive, const char* text)
{
    if (text == nullptr)
        text = "(null)";
    const std::size_t length = boundedLength(text, directive.precision);
    win::TemporaryBuffer<WCHAR> wide(length);
    std::size_t units = 0;
    if (length > 0 && length <= INT_MAX && wide.data() != nullptr) {
        const int bytes = static_cast<int>(length);
        units = static_cast<std::size_t>(
            win::MultiByteToWideChar(win::CP_UTF8, 0, text, bytes, wide.data(), bytes));
    }
    const std::size_t padding = paddingFor(directive, units);
    if (!directive.left)
        out.repeat(u' ', padding);
    out.put(wide.data(), units);
    if (directive.left)
        out.repeat(u' ', padding);
}

void formatUnit(Output& out, const Directive& directive, WCHAR unit)
{
    std::size_t padding = paddingFor(directive, 1);
    if (!directive.left)
        out.repeat(u' ', padding);
    out.put(unit);
    if (directive.left)
        out.repeat(u' ', padding);
}

// Reads the flags, width, precision and length of a conversion; `p` is just past the '%' and
// ends on the conversion character (or the terminator).
Directive parseSpec(const WCHAR*& p, Arguments& arguments)
{
    Directive directive;
    for (;; ++p) {
        if (*p == u'-')
            directive.left = true;
        else if (*p == u'+')
            directive.plus = true;
        else if (*p == u' ')
            directive.space = true;
        else if (*p == u'#')
            directive.alternate = true;
        else if (*p == u'0')
            directive.zero = true;
        else
            break;
    }
    if (*p == u'*') {
        ++p;
        int width = va_arg(arguments.list, int);
        if (width < 0) {
            directive.left = true;
            width = width == INT_MIN ? INT_MAX : -width;
        }
        directive.width = width;
    } else {
        directive.width = parseNumber(p);
    }
    if (*p == u'.') {
        ++p;
        if (*p == u'*') {
            ++p;
            int precision = va_arg(arguments.list, int);
            directive.precision = precision < 0 ? -1 : precision;
        } else {
            directive.precision = parseNumber(p);
        }
    }
    switch (*p) {
    case u'h':
        ++p;
        directive.length = Length::kShort;
        if (*p == u'h') {
            ++p;
            directive.length = Length::kChar;
        }
        break;
    case u'l':
        ++p;
        directive.length = Length::kLong;
        if (*p == u'l') {
            ++p;
            directive.length = Length::kLongLong;
        }
        break;
    case u'L':
        ++p;
        directive.length = Length::kLongDouble;
        break;
    case u'j':
        ++p;
        directive.length = Length::kIntMax;
        break;
    case u'z':
        ++p;
        directive.length = Length::kSize;
        break;
    case u't':
        ++p;
        directive.length = Length::kPtrDiff;
        break;
    case u'w':
        ++p;
        directive.length = Length::kWide;
        break;
    case u'I':
        ++p;
        if (p[0] == u'3' && p[1] == u'2') {
            p += 2;
            directive.length = Length::kInt32;
        } else if (p[0] == u'6' && p[1] == u'4') {
            p += 2;
            directive.length = Length::kInt64;
        } else {
            directive.length = Length::kSize;
        }
        break;
    default:
        break;
    }
    return directive;
}

bool isNarrowText(WCHAR conversion, Length length)
{
    if (length == Length::kShort)
        return true;
    if (length == Length::kLong || length == Length::kWide)
        return false;
    return conversion == u'S' || conversion == u'C';
}

// Formats the conversion at `p` (just past its '%'); returns the position after it.
const WCHAR* formatConversion(Output& out, const WCHAR* start, const WCHAR* p, Arguments& arguments)
{
    Directive directive = parseSpec(p, arguments);
    WCHAR conversion = *p;
    switch (conversion) {
    case u'\0':
        out.put(start, static_cast<std::size_t>(p - start)); // the format ends inside the directive
        return p;
    case u'%':
        out.put(u'%');
        break;
    case u'd':
    case u'i': {
        std::int64_t value = fetchSigned(arguments, directive.length);
        std::uint64_t magnitude =
            value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        formatInteger(out, directive, magnitude, value < 0, true, 10, false);
        break;
    }
    case u'u':
        formatInteger(out, directive, fetchUnsigned(arguments, directive.length), false, false, 10, false);
        break;
    case u'x':
    case u'X':
        formatInteger(out, directive, fetchUnsigned(arguments, directive.length), false, false, 16,
                      conversion == u'X');
        break;
    case u'o':
        formatInteger(out, directive, fetchUnsigned(arguments, directive.length), false, false, 8, false);
        break;
    case u'f':
    case u'F':
    case u'e':
    case u'E':
    case u'g':
    case u'G':
    case u'a':
    case u'A':
        formatFloat(out, directive, arguments, conversion);
        break;
    case u's':
    case u'S':
        if (isNarrowText(conversion, directive.length))
            formatNarrowText(out, directive, va_arg(arguments.list, const char*));
        else
            formatWideText(out, directive, va_arg(arguments.list, const WCHAR*));
        break;
    case u'c':
    case u'C': {
        int value = va_arg(arguments.list, int);
        WCHAR unit = isNarrowText(conversion, directive.length) ? static_cast<unsigned char>(value)
                                                                 : static_cast<WCHAR>(value);
        formatUnit(out, directive, unit);
        break;
    }
    case u'p':
        formatPointer(out, directive, va_arg(arguments.list, const void*));
        break;
    case u'n':
        // The pointer is taken so that the arguments after it stay in step, but nothing is
        // written through it: a format that can write to memory is an attack surface.
        (void)va_arg(arguments.list, void*);
        break;
    default:
        out.put(start, static_cast<std::size_t>(p + 1 - start));
        break;
    }
    return p + 1;
}

struct BufferSinkContext {
    WCHAR* buffer;
    std::size_t room; // units that may still be stored, the terminator's unit excluded
    std::size_t used;
    bool overflow;
};

// Keeps what fits and notes that something did not.
int copyToBuffer(void* context, const WCHAR* piece, unsigned int unitCount)
{
    auto* target = static_cast<BufferSinkContext*>(context);
    std::size_t take = unitCount < target->room ? unitCount : target->room;
    std::memcpy(target->buffer + target->used, piece, take * sizeof(WCHAR));
    target->used += take;
    target->room -= take;
    target->overflow = target->overflow || take < unitCount;
    return target->overflow ? 1 : 0;
}

} // namespace

int FormatOutputW(PFORMAT_SINK sink, void* context, const WCHAR* format, va_list arguments)
{
    if (format == nullptr)
        return 0;
    Output out(sink, context);
    Arguments args;
    va_copy(args.list, arguments);
    const WCHAR* p = format;
    while (*p != 0 && !out.stopped()) {
        const WCHAR* literal = p;
        while (*p != 0 && *p != u'%')
            ++p;
        out.put(literal, static_cast<std::size_t>(p - literal));
        if (*p == u'%')
            p = formatConversion(out, p, p + 1, args);
    }
    va_end(args.list);
    return out.finish();
}

int _scwprintf(const WCHAR* format, ...)
{
    if (format == nullptr)
        return -1;
    va_list arguments;
    va_start(arguments, format);
    const int length = FormatOutputW(nullptr, nullptr, format, arguments);
    va_end(arguments);
    return length;
}

int swprintf_s(WCHAR* buffer, SIZE_T count, const WCHAR* format, ...)
{
    if (buffer == nullptr || count == 0 || count > INT_MAX)
        return -1;
    buffer[0] = 0;
    if (format == nullptr)
        return -1;
    BufferSinkContext target{buffer, count - 1, 0, false};
    va_list arguments;
    va_start(arguments, format);
    FormatOutputW(copyToBuffer, &target, format, arguments);
    va_end(arguments);
    if (target.overflow) {
        buffer[0] = 0;
        return -1;
    }
    buffer[target.used] = 0;
    return static_cast<int>(target.used);
}

} // namespace win
