// rx/DictKeyText.h
// How the dictionaries compare key texts. Every comparison works on the texts themselves
// (oxtext::compareNoCase, the comparison behind the text string's isEqualTo and compareText),
// never through a virtual call on a key object: a text string's isEqualTo tests its argument's
// class, and the class is looked up in the class dictionary, which is itself a dictionary.
#pragma once

#include <oxfirst/OxRxTextString.h>

#include "rx/TextCompare.h"

namespace oxrx_dict {

inline bool isEmptyText(const OXCHAR* text) noexcept
{
    return text == nullptr || text[0] == 0;
}

/// Orders `probe` against `stored`: -1, 0 or 1, ASCII letters folded to lower case. The empty
/// text (null or "") sorts before every other text and equals only itself, so keys form one
/// total order whatever their storage.
inline int compareKeyTexts(const OXCHAR* probe, const OXCHAR* stored) noexcept
{
    const bool probeEmpty = isEmptyText(probe);
    const bool storedEmpty = isEmptyText(stored);
    if (probeEmpty || storedEmpty)
        return probeEmpty == storedEmpty ? 0 : (probeEmpty ? -1 : 1);
    return oxtext::compareNoCase(probe, stored);
}

inline bool keyTextsEqual(const OXCHAR* left, const OXCHAR* right) noexcept
{
    return compareKeyTexts(left, right) == 0;
}

/// The text of a stored key; null for an empty key.
inline const OXCHAR* keyText(const OxRxTextString* key) noexcept
{
    return key != nullptr ? key->constText() : nullptr;
}

/// The temporary key of one call, built on the stack: it reads the caller's text in place and
/// never allocates.
class ProbeKey : public OxRxTextString {
public:
    ProbeKey(const OXCHAR* text, int mode) noexcept : OxRxTextString(text, mode, BorrowText{}) {}
};

} // namespace oxrx_dict
