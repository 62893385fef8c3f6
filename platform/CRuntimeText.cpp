// platform/CRuntimeText.cpp
// The C runtime's collation, case-insensitive comparison and digit classification over UTF-16,
// answered by glibc under the process's current C locale. glibc works on wchar_t (UTF-32), so
// each text is widened first, into a temporary buffer (TemporaryBuffer.h).

#include "platform/TemporaryBuffer.h"
#include "platform/win.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

namespace win {
namespace {

bool isHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The code point at `text` and the units it takes; an unpaired surrogate stands for itself.
char32_t nextCodePoint(const WCHAR*& text)
{
    char32_t unit = *text++;
    if (isHighSurrogate(unit) && isLowSurrogate(*text))
        unit = 0x10000 + ((unit - 0xD800) << 10) + (*text++ - 0xDC00);
    return unit;
}

std::size_t unitLength(const WCHAR* text)
{
    return text != nullptr ? std::char_traits<WCHAR>::length(text) : 0;
}

// A text widened to wchar_t, lower-cased on request. `text()` is null only when a long text
// found no memory.
class WidenedText {
public:
    WidenedText(const WCHAR* source, bool lowerCase) : mBuffer(unitLength(source) + 1)
    {
        wchar_t* out = mBuffer.data();
        if (out == nullptr)
            return;
        for (const WCHAR* in = source; in != nullptr && *in != 0;) {
            const auto c = static_cast<wchar_t>(nextCodePoint(in));
            *out++ = lowerCase ? static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))) : c;
        }
        *out = L'\0';
    }

    const wchar_t* text() const { return mBuffer.data(); }

private:
    TemporaryBuffer<wchar_t> mBuffer;
};

// Code-point order, optionally after lower-casing: _wcsicmp, and the stand-in for a collation
// whose text found no memory.
int compareCodePoints(const WCHAR* a, const WCHAR* b, bool lowerCase)
{
    static constexpr WCHAR kEmpty[] = {0};
    if (a == nullptr)
        a = kEmpty;
    if (b == nullptr)
        b = kEmpty;
    for (;;) {
        char32_t ca = nextCodePoint(a);
        char32_t cb = nextCodePoint(b);
        if (lowerCase) {
            ca = static_cast<char32_t>(std::towlower(static_cast<wint_t>(ca)));
            cb = static_cast<char32_t>(std::towlower(static_cast<wint_t>(cb)));
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

int collate(const WCHAR* a, const WCHAR* b, bool lowerCase)
{
    WidenedText wideA(a, lowerCase);
    WidenedText wideB(b, lowerCase);
    if (wideA.text() == nullptr || wideB.text() == nullptr)
        return compareCodePoints(a, b, lowerCase);
    return ::wcscoll(wideA.text(), wideB.text());
}

// Narrow ANSI text decoded to UTF-16; every byte gives at most one unit. `text()` is null only
// when a long text found no memory (it then compares as empty, see below).
class DecodedText {
public:
    explicit DecodedText(const unsigned char* source)
        : mCapacity(source != nullptr ? std::strlen(reinterpret_cast<const char*>(source)) + 1 : 1),
          mBuffer(mCapacity)
    {
        WCHAR* out = mBuffer.data();
        if (out == nullptr)
            return;
        out[0] = 0;
        if (mCapacity > 1 && mCapacity <= INT_MAX)
            MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(source), -1, out,
                                static_cast<int>(mCapacity));
    }

    const WCHAR* text() const { return mBuffer.data(); }

private:
    std::size_t mCapacity; // bytes of the source with its terminator: room for every unit
    TemporaryBuffer<WCHAR> mBuffer;
};

} // namespace

int wcscoll(const WCHAR* a, const WCHAR* b)
{
    return collate(a, b, false);
}

int _wcsicoll(const WCHAR* a, const WCHAR* b)
{
    return collate(a, b, true);
}

int _wcsicmp(const WCHAR* a, const WCHAR* b)
{
    return compareCodePoints(a, b, true);
}

// A narrow text that could not be decoded (no memory for a long one) compares as empty: the
// answer stays a consistent order rather than a crash.
int _mbscoll(const unsigned char* a, const unsigned char* b)
{
    DecodedText wideA(a);
    DecodedText wideB(b);
    return collate(wideA.text(), wideB.text(), false);
}

int _mbsicoll(const unsigned char* a, const unsigned char* b)
{
    DecodedText wideA(a);
    DecodedText wideB(b);
    return collate(wideA.text(), wideB.text(), true);
}

int _mbscmp(const unsigned char* a, const unsigned char* b)
{
    const char* textA = a != nullptr ? reinterpret_cast<const char*>(a) : "";
    const char* textB = b != nullptr ? reinterpret_cast<const char*>(b) : "";
    const int order = std::strcmp(textA, textB); // strcmp compares unsigned bytes
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int _mbsicmp(const unsigned char* a, const unsigned char* b)
{
    DecodedText wideA(a);
    DecodedText wideB(b);
    return compareCodePoints(wideA.text(), wideB.text(), true);
}

int iswdigit(WCHAR c)
{
    if (isHighSurrogate(c) || isLowSurrogate(c))
        return 0;
    return std::iswdigit(static_cast<wint_t>(c)) != 0 ? 1 : 0;
}

int _wtoi(const WCHAR* text)
{
    WidenedText wide(text, false);
    if (wide.text() == nullptr)
        return 0;
    const long value = std::wcstol(wide.text(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

WCHAR* _wcsdup(const WCHAR* text)
{
    if (text == nullptr)
        return nullptr;
    const std::size_t bytes = (unitLength(text) + 1) * sizeof(WCHAR);
    auto* copy = static_cast<WCHAR*>(std::malloc(bytes));
    if (copy != nullptr)
        std::memcpy(copy, text, bytes);
    return copy;
}

} // namespace win

namespace win {

int CompareStringW(LCID, DWORD flags, LPCWSTR text1, int count1, LPCWSTR text2, int count2)
{
    if ((flags & ~NORM_IGNORECASE) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (text1 == nullptr || text2 == nullptr || count1 < -1 || count2 < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Counted texts are copied so that the terminated comparisons can read them.
    const std::size_t length1 = count1 < 0 ? unitLength(text1) : static_cast<std::size_t>(count1);
    const std::size_t length2 = count2 < 0 ? unitLength(text2) : static_cast<std::size_t>(count2);
    TemporaryBuffer<WCHAR> copy1(length1 + 1), copy2(length2 + 1);
    if (copy1.data() == nullptr || copy2.data() == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    std::memcpy(copy1.data(), text1, length1 * sizeof(WCHAR));
    std::memcpy(copy2.data(), text2, length2 * sizeof(WCHAR));
    copy1.data()[length1] = 0;
    copy2.data()[length2] = 0;
    const int order = collate(copy1.data(), copy2.data(), (flags & NORM_IGNORECASE) != 0);
    return order < 0 ? CSTR_LESS_THAN : order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

} // namespace win
