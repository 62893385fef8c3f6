// strings/StringInternal.h
// What the OxString files share: raw access to the 16 storage bytes, the dual block's layout,
// storing a whole new text, the forms a string holds without producing anything, and the
// temporary buffer the string files use.
#pragma once

#include <oxfirst/OxHeap.h>
#include <oxfirst/OxString.h>

#include "platform/TemporaryBuffer.h"

#include <cstddef>
#include <cstring>
#include <string>

/// Storage access for the OxString implementation files. Every member is static and takes the
/// string it works on; the const accessors of OxString change storage through these too (the
/// storage is mutable).
class OxStringImp {
public:
    using Kind = OxString::Kind;

    static constexpr OXCHAR kEmptyWideText[1] = {0};
    static constexpr char kEmptyNarrowText[1] = {0};

    static Kind kind(const OxString& s) { return static_cast<Kind>(s.mStorage[0]); }
    static char* inlineNarrow(const OxString& s) { return reinterpret_cast<char*>(s.mStorage + 1); }
    static OXCHAR* inlineWide(const OxString& s) { return reinterpret_cast<OXCHAR*>(s.mStorage + 2); }
    static void* pointer(const OxString& s)
    {
        void* p;
        std::memcpy(&p, s.mStorage + 8, sizeof p);
        return p;
    }

    // The dual block: the wide array's pointer, then the narrow bytes and their terminator.
    static constexpr std::size_t kDualHeader = sizeof(OXCHAR*);
    static OXCHAR* dualWide(const void* block)
    {
        OXCHAR* wide;
        std::memcpy(&wide, block, sizeof wide);
        return wide;
    }
    static char* dualNarrow(void* block) { return static_cast<char*>(block) + kDualHeader; }

    /// Kinds 1 and 3.
    static bool isNarrowOnly(const OxString& s)
    {
        const Kind k = kind(s);
        return k == OxString::kInlineNarrow || k == OxString::kHeapNarrow;
    }
    /// Kinds 2 and 4.
    static bool isWideOnly(const OxString& s)
    {
        const Kind k = kind(s);
        return k == OxString::kInlineWide || k == OxString::kHeapWide;
    }
    /// The wide text a string holds without producing anything: kinds 0 (the empty text), 2, 4
    /// and 5; null for kinds 1 and 3.
    static const OXCHAR* heldWide(const OxString& s)
    {
        switch (kind(s)) {
        case OxString::kEmpty:
            return kEmptyWideText;
        case OxString::kInlineWide:
            return inlineWide(s);
        case OxString::kHeapWide:
            return static_cast<const OXCHAR*>(pointer(s));
        case OxString::kHeapDual:
            return dualWide(pointer(s));
        default:
            return nullptr;
        }
    }
    /// The narrow text a string holds without producing anything: kinds 0 (the empty text), 1, 3
    /// and 5; null for kinds 2 and 4.
    static const char* heldNarrow(const OxString& s)
    {
        switch (kind(s)) {
        case OxString::kEmpty:
            return kEmptyNarrowText;
        case OxString::kInlineNarrow:
            return inlineNarrow(s);
        case OxString::kHeapNarrow:
            return static_cast<const char*>(pointer(s));
        case OxString::kHeapDual:
            return dualNarrow(pointer(s));
        default:
            return nullptr;
        }
    }

    /// Whether both strings hold the same inline (or empty) storage byte for byte, which makes
    /// their texts equal. A cheap first test for equal short strings.
    static bool sameInlineBytes(const OxString& a, const OxString& b)
    {
        return kind(a) <= OxString::kInlineWide &&
               std::memcmp(a.mStorage, b.mStorage, sizeof a.mStorage) == 0;
    }

    /// Replaces the text with a copy of `length` narrow bytes (kind 0, 1 or 3) or wide units
    /// (kind 0, 2 or 4). The new storage is built before the old is released, so the text may
    /// lie in the string's own storage. When the heap refuses, the string becomes empty.
    static void storeNarrow(OxString& s, const char* text, std::size_t length);
    static void storeWide(OxString& s, const OXCHAR* text, std::size_t length);
    /// Appends `length` (> 0) wide units, as OxString::append(const OXCHAR*) does.
    static void appendWide(OxString& s, const OXCHAR* text, std::size_t length);

    /// The ANSI text converted with the host's narrow-to-wide converter (code page 0, flags 0,
    /// length -1) into `destination[0..capacity)`. Returns the units of the converted text
    /// before its terminator, which is written; 0 (an empty text) when there is no converter or
    /// it fails. Never reads beyond what the converter wrote.
    static std::size_t convertAnsiToWide(const char* text, OXCHAR* destination, std::size_t capacity);

    static void* allocate(std::size_t bytes) { return __oxMalloc(bytes); }
    static void release(void* p) { __oxFree(p); }

    static void setStorage(OxString& s, const unsigned char (&bytes)[16])
    {
        std::memcpy(s.mStorage, bytes, sizeof s.mStorage);
    }
    static void releaseStorage(OxString& s) { s.releaseStorage(); }
};

namespace oxstr {

inline constexpr const OXCHAR* kEmptyWide = OxStringImp::kEmptyWideText;
inline constexpr const char* kEmptyNarrow = OxStringImp::kEmptyNarrowText;

inline std::size_t unitLength(const OXCHAR* text)
{
    return text != nullptr ? std::char_traits<OXCHAR>::length(text) : 0;
}
inline std::size_t byteLength(const char* text)
{
    return text != nullptr ? std::strlen(text) : 0;
}
/// Printable ASCII as the string operations take it: 0x20..0x7F, DEL included.
inline bool isPrintableAscii(int c)
{
    return c >= 0x20 && c <= 0x7F;
}
/// a-z to A-Z, everything else unchanged.
inline int foldToUpper(int c)
{
    return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
}

/// A temporary buffer whose blocks beyond its 1024 stack bytes come from the process allocator.
template <typename T>
using TemporaryBuffer = win::TemporaryBuffer<T, 1024, OxStringImp>;

} // namespace oxstr
