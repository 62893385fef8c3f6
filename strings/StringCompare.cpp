// strings/StringCompare.cpp
// Three-way comparison and prefix matching, with and without case. Both walk the two texts in
// the forms they already hold, so strings that share a form are never converted: printable
// ASCII is decided on the spot, and only the first difference that involves another character
// hands the rest to the C runtime's locale collation (platform/CRuntimeText.cpp). Narrow text is
// in the ANSI code page; a double-byte character is never split when the collation takes over.

#include "strings/StringInternal.h"

#include <oxfirst/OxRxCallbacks.h>

#include "platform/win.h"

#include <cstdint>
#include <emmintrin.h>

using oxstr::foldToUpper;
using oxstr::isPrintableAscii;

namespace {

int sign(int value)
{
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}

bool isLeadByte(unsigned char b)
{
    return b >= 0x80 && win::IsDBCSLeadByte(b) != 0;
}

// Bytes one step of equalPrefix reads from each text.
constexpr std::size_t kStepBytes = 16;
constexpr std::uintptr_t kPageBytes = 4096;

// Whether a step's read from `p` stays within p's page.
bool stepStaysInPage(const OXCHAR* p)
{
    return (reinterpret_cast<std::uintptr_t>(p) & (kPageBytes - 1)) <= kPageBytes - kStepBytes;
}

// The number of leading units in which `a` and `b` agree and `a` has not ended: the index of the
// first difference, or of the terminators when both texts are equal. Eight units are compared at
// a time. A step may read past either terminator, but never into the next page, and a page that
// holds a unit of the text is readable as a whole; the bytes read past a terminator never decide
// anything, since the walk stops at the first terminator of `a` and at the first difference
// (which the terminator of a shorter `b` is). The sanitizers see those reads as out of bounds,
// hence the attribute.
__attribute__((no_sanitize("address", "thread"))) std::size_t equalPrefix(const OXCHAR* a, const OXCHAR* b)
{
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    for (;;) {
        if (stepStaysInPage(a + i) && stepStaysInPage(b + i)) [[likely]] {
            const __m128i unitsA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
            const __m128i unitsB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
            const __m128i same =
                _mm_andnot_si128(_mm_cmpeq_epi16(unitsA, zero), _mm_cmpeq_epi16(unitsA, unitsB));
            const auto sameBytes = static_cast<unsigned>(_mm_movemask_epi8(same));
            if (sameBytes != 0xFFFF)
                return i + static_cast<std::size_t>(__builtin_ctz(~sameBytes)) / sizeof(OXCHAR);
            i += kStepBytes / sizeof(OXCHAR);
        } else {
            if (a[i] != b[i] || a[i] == 0)
                return i;
            ++i;
        }
    }
}

// The rests from the first non-ASCII difference on, ordered by the C runtime's collation. Out of
// line, so the walk in compareWide keeps a small frame.
[[gnu::noinline]] int collateWide(const OXCHAR* a, const OXCHAR* b, bool noCase)
{
    return sign(noCase ? win::_wcsicoll(a, b) : win::wcscoll(a, b));
}

// Both texts end together: 0; `a` ends first: -1; `b` ends first: 1. Printable ASCII pairs
// decide by code (folded without case); from the first other difference on, the collation of
// the rests decides.
int compareWide(const OXCHAR* a, const OXCHAR* b, bool noCase)
{
    for (std::size_t i = 0;; ++i) {
        i += equalPrefix(a + i, b + i);
        int ca = a[i];
        int cb = b[i];
        if (ca == cb)
            return 0;
        if (ca == 0)
            return -1;
        if (cb == 0)
            return 1;
        if (isPrintableAscii(ca) && isPrintableAscii(cb)) {
            if (noCase) {
                ca = foldToUpper(ca);
                cb = foldToUpper(cb);
                if (ca == cb)
                    continue;
            }
            return ca < cb ? -1 : 1;
        }
        return collateWide(a + i, b + i, noCase);
    }
}

// As compareWide over ANSI bytes. Up to the first difference both texts are equal, so they
// agree on where double-byte characters are; a difference in a trail byte hands over from the
// lead byte, so the collation always sees whole characters.
int compareNarrow(const char* a, const char* b, bool noCase)
{
    bool atTrailByte = false;
    for (std::size_t i = 0;; ++i) {
        int ca = static_cast<unsigned char>(a[i]);
        int cb = static_cast<unsigned char>(b[i]);
        if (ca == cb) {
            if (ca == 0)
                return 0;
            atTrailByte = !atTrailByte && isLeadByte(static_cast<unsigned char>(ca));
            continue;
        }
        if (ca == 0)
            return -1;
        if (cb == 0)
            return 1;
        if (!atTrailByte && isPrintableAscii(ca) && isPrintableAscii(cb)) {
            if (noCase) {
                ca = foldToUpper(ca);
                cb = foldToUpper(cb);
                if (ca == cb)
                    continue;
            }
            return ca < cb ? -1 : 1;
        }
        const std::size_t from = atTrailByte ? i - 1 : i;
        const auto* restA = reinterpret_cast<const unsigned char*>(a + from);
        const auto* restB = reinterpret_cast<const unsigned char*>(b + from);
        return sign(noCase ? win::_mbsicoll(restA, restB) : win::_mbscoll(restA, restB));
    }
}

// Whether `text` starts one of the escapes the ANSI converter writes for units its code page
// lacks: a backslash, U or M, and a plus sign.
bool startsEscape(const char* text)
{
    return text[0] == '\\' && (text[1] == 'U' || text[1] == 'M') && text[2] == '+';
}

// Wide text `wide` against ANSI bytes `narrow`, each byte taken as a signed value, so that no
// non-ASCII byte ever equals a unit. At the first difference a printable ASCII pair decides,
// unless the narrow side starts an escape; otherwise the narrow rest is converted with the host's
// converter and the rests compare as wide text. A rest the converter cannot convert counts as
// empty. The result orders `wide` against `narrow`.
int compareMixed(const OXCHAR* wide, const char* narrow, bool noCase)
{
    for (std::size_t i = 0;; ++i) {
        int cw = wide[i];
        int cn = static_cast<signed char>(narrow[i]);
        if (cw == cn) {
            if (cw == 0)
                return 0;
            continue;
        }
        if (cw == 0)
            return -1;
        if (cn == 0)
            return 1;
        if (isPrintableAscii(cw) && isPrintableAscii(cn) && !startsEscape(narrow + i)) {
            if (noCase) {
                cw = foldToUpper(cw);
                cn = foldToUpper(cn);
                if (cw == cn)
                    continue;
            }
            return cw < cn ? -1 : 1;
        }
        const char* rest = narrow + i;
        const std::size_t capacity = std::strlen(rest) + 1;
        oxstr::TemporaryBuffer<OXCHAR> converted(capacity);
        OxStringImp::convertAnsiToWide(rest, converted.data(), capacity);
        const OXCHAR* convertedRest = converted.data() != nullptr ? converted.data() : oxstr::kEmptyWide;
        return compareWide(wide + i, convertedRest, noCase);
    }
}

int compareStrings(const OxString& self, const OxString& other, bool noCase)
{
    // Kinds 0, 2, 4 and 5 on both sides, the common case, compare wide against wide at once.
    constexpr unsigned kNarrowOnlyKinds = (1u << OxString::kInlineNarrow) | (1u << OxString::kHeapNarrow);
    const unsigned kinds = (1u << OxStringImp::kind(self)) | (1u << OxStringImp::kind(other));
    if ((kinds & kNarrowOnlyKinds) == 0) [[likely]] {
        if (OxStringImp::sameInlineBytes(self, other))
            return 0;
        return compareWide(OxStringImp::heldWide(self), OxStringImp::heldWide(other), noCase);
    }
    if (OxStringImp::sameInlineBytes(self, other))
        return 0;
    if (OxStringImp::isNarrowOnly(self)) {
        const char* mine = OxStringImp::heldNarrow(self);
        if (const char* theirs =
                OxStringImp::isWideOnly(other) || other.isEmpty() ? nullptr : OxStringImp::heldNarrow(other))
            return compareNarrow(mine, theirs, noCase);
        return -compareMixed(OxStringImp::heldWide(other), mine, noCase);
    }
    const OXCHAR* mine = OxStringImp::heldWide(self);
    if (OxStringImp::isNarrowOnly(other))
        return compareMixed(mine, OxStringImp::heldNarrow(other), noCase);
    return compareWide(mine, OxStringImp::heldWide(other), noCase);
}

int compareWithWide(const OxString& self, const OXCHAR* other, bool noCase)
{
    if (other == nullptr)
        other = oxstr::kEmptyWide;
    if (OxStringImp::isNarrowOnly(self))
        return -compareMixed(other, OxStringImp::heldNarrow(self), noCase);
    return compareWide(OxStringImp::heldWide(self), other, noCase);
}

int compareWithNarrow(const OxString& self, const char* other, bool noCase)
{
    if (other == nullptr)
        other = oxstr::kEmptyNarrow;
    if (OxStringImp::isNarrowOnly(self))
        return compareNarrow(OxStringImp::heldNarrow(self), other, noCase);
    return compareMixed(OxStringImp::heldWide(self), other, noCase);
}

// ---------------------------------------------------------------------------------------------
// Prefix matching

bool unitsMatch(int a, int b, bool noCase)
{
    if (a == b)
        return true;
    if (isPrintableAscii(a) && isPrintableAscii(b))
        return noCase && foldToUpper(a) == foldToUpper(b);
    if (!noCase)
        return false;
    const OXCHAR textA[2] = {static_cast<OXCHAR>(a), 0};
    const OXCHAR textB[2] = {static_cast<OXCHAR>(b), 0};
    return win::_wcsicmp(textA, textB) == 0;
}

// Common prefix in UTF-16 units.
int matchWide(const OXCHAR* a, const OXCHAR* b, bool noCase)
{
    int count = 0;
    while (a[count] != 0 && b[count] != 0 && unitsMatch(a[count], b[count], noCase))
        ++count;
    return count;
}

// Bytes of the ANSI character at `text`: 1, 2 for a lead byte with its trail byte, 0 at the
// terminator or for a lead byte whose trail byte is the terminator (the walk stops there).
std::size_t characterBytes(const char* text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead == 0)
        return 0;
    if (!isLeadByte(lead))
        return 1;
    return text[1] != '\0' ? 2 : 0;
}

// Common prefix in bytes of `other`, whole characters only.
int matchNarrow(const char* self, const char* other, bool noCase)
{
    int count = 0;
    for (;;) {
        const std::size_t selfBytes = characterBytes(self);
        const std::size_t otherBytes = characterBytes(other);
        if (selfBytes == 0 || otherBytes == 0)
            return count;
        if (selfBytes != otherBytes || std::memcmp(self, other, selfBytes) != 0) {
            const int a = static_cast<unsigned char>(*self);
            const int b = static_cast<unsigned char>(*other);
            if (selfBytes == 1 && otherBytes == 1 && isPrintableAscii(a) && isPrintableAscii(b)) {
                if (!noCase || foldToUpper(a) != foldToUpper(b))
                    return count;
            } else {
                unsigned char characterA[3] = {};
                unsigned char characterB[3] = {};
                std::memcpy(characterA, self, selfBytes);
                std::memcpy(characterB, other, otherBytes);
                if ((noCase ? win::_mbsicmp(characterA, characterB) : win::_mbscmp(characterA, characterB)) !=
                    0)
                    return count;
            }
        }
        count += static_cast<int>(otherBytes);
        self += selfBytes;
        other += otherBytes;
    }
}

// Common prefix in characters of wide text against ANSI bytes. Each narrow character is turned
// into one unit with the platform's ANSI code page (not the host's converter, whose escapes span
// several characters); a character that does not convert to exactly one unit stops the walk.
int matchMixed(const OXCHAR* wide, const char* narrow, bool noCase)
{
    int count = 0;
    for (;;) {
        const std::size_t narrowBytes = characterBytes(narrow);
        const int cw = *wide;
        if (cw == 0 || narrowBytes == 0)
            return count;
        const int cn = static_cast<unsigned char>(*narrow);
        if (narrowBytes == 1 && isPrintableAscii(cw) && isPrintableAscii(cn)) {
            if (cw != cn && (!noCase || foldToUpper(cw) != foldToUpper(cn)))
                return count;
        } else {
            OXCHAR unit = 0;
            if (win::MultiByteToWideChar(win::CP_ACP, 0, narrow, static_cast<int>(narrowBytes), &unit, 1) !=
                1)
                return count;
            if (!unitsMatch(cw, unit, noCase))
                return count;
        }
        ++count;
        ++wide;
        narrow += narrowBytes;
    }
}

int matchStrings(const OxString& self, const OxString& other, bool noCase)
{
    if (self.isEmpty() || other.isEmpty())
        return 0;
    if (OxStringImp::isNarrowOnly(self)) {
        const char* mine = OxStringImp::heldNarrow(self);
        if (OxStringImp::isNarrowOnly(other))
            return matchNarrow(mine, OxStringImp::heldNarrow(other), noCase);
        return matchMixed(other.kwszPtr(), mine, noCase);
    }
    const OXCHAR* mine = self.kwszPtr();
    if (OxStringImp::isNarrowOnly(other))
        return matchMixed(mine, OxStringImp::heldNarrow(other), noCase);
    return matchWide(mine, other.kwszPtr(), noCase);
}

int matchWithWide(const OxString& self, const OXCHAR* other, bool noCase)
{
    if (self.isEmpty() || other == nullptr || *other == 0)
        return 0;
    if (OxStringImp::isNarrowOnly(self))
        return matchMixed(other, OxStringImp::heldNarrow(self), noCase);
    return matchWide(self.kwszPtr(), other, noCase);
}

int matchWithNarrow(const OxString& self, const char* other, bool noCase)
{
    if (self.isEmpty() || other == nullptr || *other == '\0')
        return 0;
    if (OxStringImp::isNarrowOnly(self))
        return matchNarrow(OxStringImp::heldNarrow(self), other, noCase);
    return matchMixed(self.kwszPtr(), other, noCase);
}

} // namespace

int OxString::compare(const OxString& other) const
{
    return compareStrings(*this, other, false);
}

int OxString::compare(const OXCHAR* other) const
{
    return compareWithWide(*this, other, false);
}

int OxString::compare(const char* other) const
{
    return compareWithNarrow(*this, other, false);
}

int OxString::compareNoCase(const OxString& other) const
{
    return compareStrings(*this, other, true);
}

int OxString::compareNoCase(const OXCHAR* other) const
{
    return compareWithWide(*this, other, true);
}

int OxString::compareNoCase(const char* other) const
{
    return compareWithNarrow(*this, other, true);
}

int OxString::match(const OxString& other) const
{
    return matchStrings(*this, other, false);
}

int OxString::match(const OXCHAR* other) const
{
    return matchWithWide(*this, other, false);
}

int OxString::match(const char* other) const
{
    return matchWithNarrow(*this, other, false);
}

int OxString::matchNoCase(const OxString& other) const
{
    return matchStrings(*this, other, true);
}

int OxString::matchNoCase(const OXCHAR* other) const
{
    return matchWithWide(*this, other, true);
}

int OxString::matchNoCase(const char* other) const
{
    return matchWithNarrow(*this, other, true);
}
