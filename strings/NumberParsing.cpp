// strings/NumberParsing.cpp
// The as... parsers: decimal and hexadecimal, 32 and 64 bits, signed and unsigned. One loop
// serves all eight; the kind decides the base, the width of the unsigned arithmetic and whether
// one leading '-' is read. Failures answer with 0, -1 or a thrown message as the options say.

#include "strings/StringInternal.h"

#include "platform/win.h"

#include <type_traits>

namespace {

// The thrown object is the message pointer itself, so callers catch const char*.
constexpr const char* kEmptyMessage = "Parsing Empty OxString";
constexpr const char* kInvalidCharMessage = "Parsing Invalid Char in OxString";
constexpr const char* kOverflowMessage = "Overflow While Parsing OxString";

enum class Outcome { kNumber, kEmpty, kInvalidChar, kOverflow };

// The text a parser reads: the wide form of a wide-only string, otherwise the narrow form, whose
// bytes are taken as signed values (a byte above 0x7F becomes a unit from 0xFF80 up, never a
// digit or a letter).
class ParseText {
public:
    explicit ParseText(const OxString& s)
    {
        if (OxStringImp::isWideOnly(s))
            mpWide = OxStringImp::heldWide(s);
        else
            mpNarrow = OxStringImp::heldNarrow(s);
    }
    OXCHAR at(std::size_t i) const
    {
        if (mpWide != nullptr)
            return mpWide[i];
        return static_cast<OXCHAR>(static_cast<signed char>(mpNarrow[i]));
    }

private:
    const OXCHAR* mpWide = nullptr;
    const char* mpNarrow = nullptr;
};

// The value of a digit of `base`, or -1. Besides 0-9 a character the C runtime classifies as a
// decimal digit counts with the value its integer conversion gives it.
int digitValue(OXCHAR c, unsigned base)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (win::iswdigit(c)) {
        const OXCHAR digit[2] = {c, 0};
        return win::_wtoi(digit);
    }
    if (base == 16) {
        if (c >= u'a' && c <= u'f')
            return c - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c - u'A' + 10;
    }
    return -1;
}

// Reads the magnitude in the unsigned arithmetic of `Unsigned` and negates it when a '-' was
// read (signed kinds only), wrapping in that width.
template <typename Unsigned>
Outcome parse(const OxString& s, bool signedKind, unsigned base, Unsigned* result)
{
    *result = 0;
    if (s.isEmpty())
        return Outcome::kEmpty;
    const ParseText text(s);
    std::size_t i = 0;
    bool negative = false;
    if (signedKind && text.at(0) == u'-') {
        negative = true;
        i = 1;
    }
    if (text.at(i) == 0)
        return Outcome::kEmpty;
    Unsigned magnitude = 0;
    for (; text.at(i) != 0; ++i) {
        const int digit = digitValue(text.at(i), base);
        if (digit < 0)
            return Outcome::kInvalidChar;
        if (__builtin_mul_overflow(magnitude, static_cast<Unsigned>(base), &magnitude) ||
            __builtin_add_overflow(magnitude, static_cast<Unsigned>(digit), &magnitude))
            return Outcome::kOverflow;
    }
    *result = negative ? static_cast<Unsigned>(Unsigned{0} - magnitude) : magnitude;
    return Outcome::kNumber;
}

template <typename Unsigned>
Unsigned answer(Outcome outcome, Unsigned value, int options)
{
    const char* message = nullptr;
    switch (outcome) {
    case Outcome::kNumber:
        return value;
    case Outcome::kEmpty:
        if ((options & OxString::kEmptyIsError) == 0)
            return 0;
        message = kEmptyMessage;
        break;
    case Outcome::kInvalidChar:
        message = kInvalidCharMessage;
        break;
    case Outcome::kOverflow:
        message = kOverflowMessage;
        break;
    }
    if ((options & OxString::kOnErrorThrow) != 0)
        throw message;
    return (options & OxString::kOnErrorReturnMinusOne) != 0 ? static_cast<Unsigned>(~Unsigned{0}) : 0;
}

template <typename Unsigned>
Unsigned parseNumber(const OxString& s, bool signedKind, unsigned base, int options)
{
    Unsigned value;
    const Outcome outcome = parse(s, signedKind, base, &value);
    return answer(outcome, value, options);
}

} // namespace

int OxString::asDeci(int options) const
{
    return static_cast<int>(parseNumber<std::uint32_t>(*this, true, 10, options));
}

unsigned int OxString::asUDeci(int options) const
{
    return parseNumber<std::uint32_t>(*this, false, 10, options);
}

int OxString::asHex(int options) const
{
    return static_cast<int>(parseNumber<std::uint32_t>(*this, true, 16, options));
}

unsigned int OxString::asUHex(int options) const
{
    return parseNumber<std::uint32_t>(*this, false, 16, options);
}

Mira::Int64 OxString::asDeci64(int options) const
{
    return static_cast<Mira::Int64>(parseNumber<std::uint64_t>(*this, true, 10, options));
}

std::uint64_t OxString::asUDeci64(int options) const
{
    return parseNumber<std::uint64_t>(*this, false, 10, options);
}

Mira::Int64 OxString::asHex64(int options) const
{
    return static_cast<Mira::Int64>(parseNumber<std::uint64_t>(*this, true, 16, options));
}

std::uint64_t OxString::asUHex64(int options) const
{
    return parseNumber<std::uint64_t>(*this, false, 16, options);
}

OxDbHandle OxString::asOxDbHandle(int options) const
{
    return OxDbHandle(asUHex64(options));
}
