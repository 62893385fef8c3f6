// rx/TextCompare.h
// The comparison of key texts that ignores ASCII letter case by folding to lower case, inline
// for the dictionaries' search loops. Shared by the text string object and the dictionaries so
// both order keys the same way.
#pragma once

#include <oxfirst/OxTypes.h>

namespace oxtext {

/// The C runtime's case-insensitive comparison of the rest of both texts, as -1, 0 or 1: what
/// the comparison falls back to at the first unit outside printable ASCII.
int compareRestNoCase(const OXCHAR* left, const OXCHAR* right) noexcept;

inline OXCHAR foldToLower(OXCHAR unit) noexcept
{
    return unit >= u'A' && unit <= u'Z' ? static_cast<OXCHAR>(unit | 0x20) : unit;
}

inline bool isPrintableAscii(OXCHAR unit) noexcept
{
    return unit >= 0x20 && unit < 0x80;
}

/// -1, 0 or 1 for two terminated, non-null texts. Printable ASCII is folded to lower case, so
/// '_' (0x5F) sorts before the letters; the first unit outside it on either side (0x80 and
/// above, or a control character other than the terminator) hands the rest to
/// compareRestNoCase. A text that ends first sorts first.
inline int compareNoCase(const OXCHAR* left, const OXCHAR* right) noexcept
{
    for (;; ++left, ++right) {
        const OXCHAR mine = *left;
        const OXCHAR theirs = *right;
        // Equal printable units need no folding: shared prefixes ("OxDbEntity...") are the
        // common case in class names.
        if (mine == theirs && isPrintableAscii(mine)) [[likely]]
            continue;
        if (mine == 0)
            return theirs == 0 ? 0 : -1;
        if (!isPrintableAscii(mine))
            break;
        if (theirs == 0)
            return 1;
        if (!isPrintableAscii(theirs))
            break;
        const OXCHAR a = foldToLower(mine);
        const OXCHAR b = foldToLower(theirs);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return compareRestNoCase(left, right);
}

} // namespace oxtext
