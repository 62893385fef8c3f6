// hostdefaults/AnsiConverters.cpp
// The host's ANSI converters. They convert with the platform layer that liboxfirst exports, so
// they always agree with the library on the code page in force, and add the "\U+XXXX" escape
// that makes narrow text lossless: text the page can hold converts in one platform call, and
// only text with unencodable units (or escape-like backslashes) takes the per-character path.

#include <oxfirst/OxHostDefaults.h>

#include "platform/win.h"

#include <cstring>
#include <string>
#include <type_traits>

static_assert(
    std::is_same_v<decltype(&oxHostMultiByteToWideChar), OxRxTypeSysCallbacks::MultiByteToWideCharCallback>);
static_assert(
    std::is_same_v<decltype(&oxHostWideCharToMultiByte), OxRxTypeSysCallbacks::WideCharToMultiByteCallback>);

namespace {

constexpr int kEscapeLength = 7; // "\U+XXXX"

int hexValue(unsigned c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    return -1;
}

// Whether `text[0..available)` starts with "\U+" and four hex digits; the unit they name goes
// to `*unit`. Works on bytes and on UTF-16 units alike.
template <typename Char>
bool readEscape(const Char* text, std::size_t available, OXCHAR* unit)
{
    if (available < kEscapeLength || text[0] != '\\' || text[1] != 'U' || text[2] != '+')
        return false;
    unsigned value = 0;
    for (int i = 3; i < kEscapeLength; ++i) {
        const int digit = hexValue(static_cast<unsigned>(text[i]));
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    *unit = static_cast<OXCHAR>(value);
    return true;
}

// Where converted output goes: counted always, written while it fits. A capacity of 0 only
// counts.
template <typename Char>
struct Output {
    Char* destination;
    std::size_t capacity;
    std::size_t count = 0;
    bool overflow = false;

    Char* room() { return capacity == 0 ? nullptr : destination + count; }
    std::size_t roomLeft() const { return capacity == 0 ? 0 : capacity - count; }
    void put(const Char* text, std::size_t length)
    {
        if (capacity != 0) {
            if (length > capacity - count) {
                overflow = true;
                return;
            }
            std::memcpy(destination + count, text, length * sizeof(Char));
        }
        count += length;
    }
    // The platform converter's answer for a piece written at room(); false on failure.
    bool took(int converted)
    {
        if (converted <= 0) {
            overflow = capacity != 0 && win::GetLastError() == win::ERROR_INSUFFICIENT_BUFFER;
            return false;
        }
        count += static_cast<std::size_t>(converted);
        return true;
    }
    int result()
    {
        if (overflow || count > static_cast<std::size_t>(INT32_MAX)) {
            win::SetLastError(overflow ? win::ERROR_INSUFFICIENT_BUFFER : win::ERROR_INVALID_PARAMETER);
            return 0;
        }
        return static_cast<int>(count);
    }
};

// UTF-8 holds every unit, so it needs no escapes; the ANSI page may be UTF-8 itself.
bool convertsUtf8(unsigned codePage)
{
    return codePage == win::CP_UTF8 || (codePage == win::CP_ACP && win::GetACP() == win::CP_UTF8);
}

bool argumentsAreValid(const void* source, int sourceLength, const void* destination, int capacity)
{
    if (source == nullptr || sourceLength == 0 || sourceLength < -1 || capacity < 0 ||
        (destination == nullptr && capacity > 0)) {
        win::SetLastError(win::ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

bool isHigh(OXCHAR unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLow(OXCHAR unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Whether some backslash of the wide text would read back as an escape.
bool hasEscapeLikeBackslash(const OXCHAR* text, std::size_t length)
{
    OXCHAR unit;
    for (std::size_t i = 0; i < length; ++i)
        if (text[i] == u'\\' && readEscape(text + i, length - i, &unit))
            return true;
    return false;
}

void putEscape(Output<char>& out, OXCHAR unit)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const char escape[kEscapeLength] = {'\\',
                                        'U',
                                        '+',
                                        kDigits[(unit >> 12) & 0xF],
                                        kDigits[(unit >> 8) & 0xF],
                                        kDigits[(unit >> 4) & 0xF],
                                        kDigits[unit & 0xF]};
    out.put(escape, kEscapeLength);
}

// One character at a time: what the page holds as its bytes, the rest as escapes.
int encodeWithEscapes(unsigned codePage, const OXCHAR* source, std::size_t length, char* destination,
                      int capacity)
{
    Output<char> out{destination, static_cast<std::size_t>(capacity)};
    for (std::size_t i = 0; i < length && !out.overflow;) {
        const std::size_t units = (isHigh(source[i]) && i + 1 < length && isLow(source[i + 1])) ? 2 : 1;
        OXCHAR unit;
        if (source[i] == u'\\' && readEscape(source + i, length - i, &unit)) {
            putEscape(out, u'\\');
        } else {
            char bytes[8];
            win::BOOL usedDefault = win::FALSE;
            const int converted = win::WideCharToMultiByte(codePage, 0, source + i, static_cast<int>(units),
                                                           bytes, sizeof bytes, nullptr, &usedDefault);
            if (converted > 0 && !usedDefault) {
                out.put(bytes, static_cast<std::size_t>(converted));
            } else {
                for (std::size_t k = 0; k < units; ++k)
                    putEscape(out, source[i + k]);
            }
        }
        i += units;
    }
    return out.result();
}

} // namespace

int oxHostMultiByteToWideChar(unsigned int codePage, int flags, const char* source, int sourceLength,
                              OXCHAR* destination, int destinationCapacity)
{
    if (convertsUtf8(codePage))
        return win::MultiByteToWideChar(codePage, static_cast<win::DWORD>(flags), source, sourceLength,
                                        destination, destinationCapacity);
    if (!argumentsAreValid(source, sourceLength, destination, destinationCapacity))
        return 0;
    const std::size_t length =
        sourceLength == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceLength);
    if (std::memchr(source, '\\', length) == nullptr)
        return win::MultiByteToWideChar(codePage, static_cast<win::DWORD>(flags), source, sourceLength,
                                        destination, destinationCapacity);

    // Pieces between escapes convert with the platform; a lead byte takes its trail byte along,
    // so a trail byte of 0x5C is never read as a backslash.
    Output<OXCHAR> out{destination, static_cast<std::size_t>(destinationCapacity)};
    std::size_t pieceStart = 0;
    auto flushPiece = [&](std::size_t end) {
        if (end == pieceStart)
            return true;
        return out.took(win::MultiByteToWideChar(codePage, static_cast<win::DWORD>(flags),
                                                 source + pieceStart, static_cast<int>(end - pieceStart),
                                                 out.room(), static_cast<int>(out.roomLeft())));
    };
    for (std::size_t i = 0; i < length;) {
        OXCHAR unit;
        if (win::IsDBCSLeadByte(static_cast<win::BYTE>(source[i])) && i + 1 < length) {
            i += 2;
        } else if (source[i] == '\\' && readEscape(source + i, length - i, &unit)) {
            if (!flushPiece(i))
                return out.result();
            out.put(&unit, 1);
            i += kEscapeLength;
            pieceStart = i;
        } else {
            ++i;
        }
    }
    if (!flushPiece(length))
        return out.result();
    return out.result();
}

int oxHostWideCharToMultiByte(unsigned int codePage, std::uint32_t flags, const OXCHAR* source,
                              int sourceLength, char* destination, int destinationCapacity,
                              std::uint32_t extraFlags)
{
    if (extraFlags != 0) {
        win::SetLastError(win::ERROR_INVALID_FLAGS);
        return 0;
    }
    if (convertsUtf8(codePage))
        return win::WideCharToMultiByte(codePage, flags, source, sourceLength, destination,
                                        destinationCapacity, nullptr, nullptr);
    if (!argumentsAreValid(source, sourceLength, destination, destinationCapacity))
        return 0;
    const std::size_t length = sourceLength == -1 ? std::char_traits<OXCHAR>::length(source) + 1
                                                  : static_cast<std::size_t>(sourceLength);

    // The common case: the page holds every character and no backslash needs escaping.
    win::BOOL usedDefault = win::FALSE;
    const int needed =
        win::WideCharToMultiByte(codePage, flags, source, sourceLength, nullptr, 0, nullptr, &usedDefault);
    if (needed == 0)
        return 0;
    if (!usedDefault && !hasEscapeLikeBackslash(source, length)) {
        if (destinationCapacity == 0)
            return needed;
        return win::WideCharToMultiByte(codePage, flags, source, sourceLength, destination,
                                        destinationCapacity, nullptr, nullptr);
    }
    return encodeWithEscapes(codePage, source, length, destination, destinationCapacity);
}
