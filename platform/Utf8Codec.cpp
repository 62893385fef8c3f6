// platform/Utf8Codec.cpp
// The layer's UTF-8 codec and the two Windows conversion entry points. The entry points check
// the arguments, pick the code page and hand the work to a core: the UTF-8 cores here or the
// ANSI cores of AnsiCodePage.cpp. Cores never allocate and take no lock, so a conversion is safe
// while an allocator holds its own lock.

#include "platform/Utf16.h"

#include "platform/AnsiCodePage.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

namespace win {
namespace detail {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kIllFormed = 0xFFFFFFFF;
constexpr std::uint64_t kHighBitOfEachByte = 0x8080808080808080ull;
constexpr std::uint64_t kNonAsciiBitsOfEachUnit = 0xFF80FF80FF80FF80ull;

bool isHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Decodes the sequence that starts with the non-ASCII byte at `position` and moves past it.
// An ill-formed sequence gives kIllFormed and is left after its maximal subpart: the lead byte
// and the continuation bytes that could still have completed a well-formed sequence, so the byte
// that broke it is decoded afresh. The second byte's range depends on the lead: that is where
// overlongs (E0 80..9F, F0 80..8F), encoded surrogates (ED A0..BF) and values above U+10FFFF
// (F4 90..BF) are refused; C0, C1 and F5..FF can never lead.
inline char32_t decodeSequence(const unsigned char*& position, const unsigned char* end)
{
    unsigned lead = *position++;
    unsigned continuationCount;
    char32_t codePoint;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuationCount = 1;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuationCount = 2;
        codePoint = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuationCount = 3;
        codePoint = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return kIllFormed;
    }
    for (unsigned i = 0; i < continuationCount; ++i) {
        if (position == end || *position < low || *position > high)
            return kIllFormed;
        codePoint = (codePoint << 6) | (*position++ & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return codePoint;
}

// kWrite false only counts (destination unused). The writing loop falls back to counting from
// the first character that does not fit.
template <bool kWrite>
ConversionResult decodeUtf8Loop(const unsigned char* in, const unsigned char* end, char16_t* out,
                                std::size_t capacity)
{
    std::size_t count = 0;
    while (in < end) {
        if (*in < 0x80) {
            // ASCII runs go 8 bytes at a time.
            if (end - in >= 8 && (!kWrite || capacity - count >= 8)) {
                std::uint64_t word;
                std::memcpy(&word, in, 8);
                if ((word & kHighBitOfEachByte) == 0) {
                    if constexpr (kWrite) {
                        for (int i = 0; i < 8; ++i)
                            out[count + i] = in[i];
                    }
                    in += 8;
                    count += 8;
                    continue;
                }
            }
            if constexpr (kWrite) {
                if (count == capacity)
                    break;
                out[count] = *in;
            }
            ++in;
            ++count;
            continue;
        }
        const unsigned char* start = in;
        char32_t codePoint = decodeSequence(in, end);
        if (codePoint == kIllFormed)
            codePoint = kReplacement;
        std::size_t units = codePoint >= 0x10000 ? 2 : 1;
        if constexpr (kWrite) {
            if (capacity - count < units) {
                in = start;
                break;
            }
            if (units == 1) {
                out[count] = static_cast<char16_t>(codePoint);
            } else {
                out[count] = static_cast<char16_t>(0xD7C0 + (codePoint >> 10));
                out[count + 1] = static_cast<char16_t>(0xDC00 | (codePoint & 0x3FF));
            }
        }
        count += units;
    }
    if constexpr (kWrite) {
        if (in == end)
            return {count, count, false};
        return {count, count + decodeUtf8Loop<false>(in, end, nullptr, 0).needed, false};
    }
    return {0, count, false};
}

template <bool kWrite>
ConversionResult encodeUtf8Loop(const char16_t* in, const char16_t* end, unsigned char* out,
                                std::size_t capacity)
{
    std::size_t count = 0;
    while (in < end) {
        char32_t unit = *in;
        if (unit < 0x80) {
            // ASCII runs go 4 units at a time.
            if (end - in >= 4 && (!kWrite || capacity - count >= 4)) {
                std::uint64_t word;
                std::memcpy(&word, in, 8);
                if ((word & kNonAsciiBitsOfEachUnit) == 0) {
                    if constexpr (kWrite) {
                        for (int i = 0; i < 4; ++i)
                            out[count + i] = static_cast<unsigned char>(in[i]);
                    }
                    in += 4;
                    count += 4;
                    continue;
                }
            }
            if constexpr (kWrite) {
                if (count == capacity)
                    break;
                out[count] = static_cast<unsigned char>(unit);
            }
            ++in;
            ++count;
            continue;
        }
        char32_t codePoint = unit;
        std::size_t consumed = 1;
        if (isHighSurrogate(unit) && end - in >= 2 && isLowSurrogate(in[1])) {
            codePoint = 0x10000 + ((unit - 0xD800) << 10) + (in[1] - 0xDC00);
            consumed = 2;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            codePoint = kReplacement;
        }
        std::size_t bytes = codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
        if constexpr (kWrite) {
            if (capacity - count < bytes)
                break;
            unsigned char* p = out + count;
            if (bytes == 2) {
                p[0] = static_cast<unsigned char>(0xC0 | (codePoint >> 6));
                p[1] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
            } else if (bytes == 3) {
                p[0] = static_cast<unsigned char>(0xE0 | (codePoint >> 12));
                p[1] = static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F));
                p[2] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
            } else {
                p[0] = static_cast<unsigned char>(0xF0 | (codePoint >> 18));
                p[1] = static_cast<unsigned char>(0x80 | ((codePoint >> 12) & 0x3F));
                p[2] = static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F));
                p[3] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
            }
        }
        in += consumed;
        count += bytes;
    }
    if constexpr (kWrite) {
        if (in == end)
            return {count, count, false};
        return {count, count + encodeUtf8Loop<false>(in, end, nullptr, 0).needed, false};
    }
    return {0, count, false};
}

} // namespace

ConversionResult decodeUtf8(const char* source, std::size_t length, OXCHAR* destination, std::size_t capacity)
{
    auto in = reinterpret_cast<const unsigned char*>(source);
    if (destination == nullptr || capacity == 0)
        return decodeUtf8Loop<false>(in, in + length, nullptr, 0);
    return decodeUtf8Loop<true>(in, in + length, destination, capacity);
}

ConversionResult encodeUtf8(const OXCHAR* source, std::size_t length, char* destination, std::size_t capacity)
{
    if (destination == nullptr || capacity == 0)
        return encodeUtf8Loop<false>(source, source + length, nullptr, 0);
    return encodeUtf8Loop<true>(source, source + length, reinterpret_cast<unsigned char*>(destination),
                                capacity);
}

std::size_t utf16ToUtf8(const OXCHAR* text, char* buffer, std::size_t capacity)
{
    std::size_t length = text != nullptr ? std::char_traits<OXCHAR>::length(text) : 0;
    if (buffer == nullptr || capacity == 0)
        return encodeUtf8(text, length, nullptr, 0).needed;
    ConversionResult result = encodeUtf8(text, length, buffer, capacity - 1);
    buffer[result.written] = '\0';
    return result.needed;
}

std::size_t utf8ToUtf16(const char* text, OXCHAR* buffer, std::size_t capacity)
{
    std::size_t length = text != nullptr ? std::strlen(text) : 0;
    if (buffer == nullptr || capacity == 0)
        return decodeUtf8(text, length, nullptr, 0).needed;
    ConversionResult result = decodeUtf8(text, length, buffer, capacity - 1);
    buffer[result.written] = u'\0';
    return result.needed;
}

} // namespace detail

namespace {

enum class Codec { kUtf8, kAnsi, kNone };

// CP_UTF8 never reads the ANSI code page, so UTF-8 conversions do not depend on (or trigger) its
// set-up. The ANSI page's own number is the same as CP_ACP; when that page is UTF-8, CP_ACP is
// served by the UTF-8 codec.
Codec codecOf(UINT codePage)
{
    if (codePage == CP_UTF8)
        return Codec::kUtf8;
    if (codePage != CP_ACP && codePage != GetACP())
        return Codec::kNone;
    return detail::ansiCodePageIsUtf8() ? Codec::kUtf8 : Codec::kAnsi;
}

bool overlaps(const void* a, std::size_t aBytes, const void* b, std::size_t bBytes)
{
    auto aStart = reinterpret_cast<std::uintptr_t>(a);
    auto bStart = reinterpret_cast<std::uintptr_t>(b);
    return aStart < bStart + bBytes && bStart < aStart + aBytes;
}

// The checks both directions share. Resolves -1 to the length with the terminator.
template <class SourceUnit, class DestinationUnit>
bool checkArguments(const SourceUnit* source, int sourceLength, const DestinationUnit* destination,
                    int destinationCapacity, std::size_t* length)
{
    if (source == nullptr || sourceLength == 0 || sourceLength < -1 || destinationCapacity < 0 ||
        (destination == nullptr && destinationCapacity > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *length = sourceLength == -1 ? std::char_traits<SourceUnit>::length(source) + 1
                                 : static_cast<std::size_t>(sourceLength);
    if (destinationCapacity > 0 &&
        overlaps(source, *length * sizeof(SourceUnit), destination,
                 static_cast<std::size_t>(destinationCapacity) * sizeof(DestinationUnit))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

int finish(const detail::ConversionResult& result, int destinationCapacity)
{
    if (result.needed > static_cast<std::size_t>(INT_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (destinationCapacity > 0 && result.needed > static_cast<std::size_t>(destinationCapacity)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(result.needed);
}

} // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR destination,
                        int destinationCapacity)
{
    std::size_t length = 0;
    if (!checkArguments(source, sourceLength, destination, destinationCapacity, &length))
        return 0;
    Codec codec = codecOf(codePage);
    if (codec == Codec::kNone) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (flags != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    auto capacity = static_cast<std::size_t>(destinationCapacity);
    detail::ConversionResult result = codec == Codec::kUtf8
                                          ? detail::decodeUtf8(source, length, destination, capacity)
                                          : detail::decodeAnsi(source, length, destination, capacity);
    return finish(result, destinationCapacity);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR destination,
                        int destinationCapacity, LPCSTR defaultChar, BOOL* usedDefaultChar)
{
    std::size_t length = 0;
    if (!checkArguments(source, sourceLength, destination, destinationCapacity, &length))
        return 0;
    Codec codec = codecOf(codePage);
    if (codec == Codec::kNone || defaultChar != nullptr ||
        (codec == Codec::kUtf8 && usedDefaultChar != nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (flags != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    auto capacity = static_cast<std::size_t>(destinationCapacity);
    detail::ConversionResult result = codec == Codec::kUtf8
                                          ? detail::encodeUtf8(source, length, destination, capacity)
                                          : detail::encodeAnsi(source, length, destination, capacity);
    int answer = finish(result, destinationCapacity);
    if (answer != 0 && usedDefaultChar != nullptr)
        *usedDefaultChar = result.usedDefaultChar ? TRUE : FALSE;
    return answer;
}

} // namespace win
