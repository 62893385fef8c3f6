// oxfirst/OxString.h
// OxString, the 16-byte string value passed wherever text crosses the interface, and
// OxUniqueString, the process-wide interning of texts. A string holds narrow text (bytes of the
// ANSI code page, or UTF-8 when asked for) or wide text (UTF-16), short texts inside the object,
// and produces the other form on demand, caching it beside the first.
#pragma once

#include <oxfirst/OxTypes.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

/// The database layer's 64-bit object handle. The type belongs to that layer; this library only
/// turns its value into hexadecimal text and back, so it declares the smallest type with the
/// same layout: eight bytes holding the value.
struct OxDbHandle {
    std::uint64_t value = 0;

    constexpr OxDbHandle() = default;
    constexpr explicit OxDbHandle(std::uint64_t handleValue) : value(handleValue) {}
    constexpr bool operator==(const OxDbHandle&) const = default;
};
static_assert(sizeof(OxDbHandle) == 8);

/// A text value of 16 bytes: byte 0 holds the storage kind, the other 15 bytes inline text or, at
/// byte 8, one pointer to heap storage.
///
/// | kind | storage                                                         |
/// |------|-----------------------------------------------------------------|
/// | 0    | empty text; kind byte and pointer zero                          |
/// | 1    | 1 to 14 narrow bytes from byte 1, NUL-terminated                |
/// | 2    | 1 to 6 UTF-16 units from byte 2 (byte 1 zero), NUL-terminated   |
/// | 3    | narrow text in an exact-size heap array                         |
/// | 4    | wide text in an exact-size heap array                           |
/// | 5    | both forms: a dual block (the wide array's pointer, then the narrow bytes) |
///
/// Every operation that sets a whole new text stores it inline when it fits, on the heap in an
/// array of exactly its size otherwise, and the empty text as kind 0. Kind 5 arises only when an
/// accessor produces a missing form; the next operation that sets or extends the text ends it.
/// Heap storage comes from the process allocator of the heap front end (heap handle 0).
///
/// Narrow bytes are stored as given: the string does not record whether they are ANSI or UTF-8.
/// The ANSI conversions go through the host's converter callbacks (OxRxCallbacks.h); without one
/// a conversion yields the empty text. UTF-8 conversions use the platform's codec.
///
/// Accessors that produce a missing form (kwszPtr, ansiPtr, utf8Ptr, length, isAscii, and the
/// operations that read the wide form of a narrow-only string) are const but change the storage:
/// a string must not be read by several threads at once unless each only asks for forms it
/// already holds. A pointer from an accessor stays valid until the string changes, is destroyed,
/// or another accessor produces a missing form (moving inline text to the heap invalidates
/// pointers into the inline bytes; producing the wide form of kind 3 releases the narrow array).
///
/// Nothing here throws except the number parsers when asked to.
class OXFIRST_API OxString {
public:
    /// Storage kinds, the value of byte 0.
    enum Kind : std::uint8_t {
        kEmpty = 0,
        kInlineNarrow = 1,
        kInlineWide = 2,
        kHeapNarrow = 3,
        kHeapWide = 4,
        kHeapDual = 5,
    };

    /// Selectors of OxString(int, unsigned int); only the low 10 bits of the selector count.
    enum FormatSelector : int {
        kFormatResourceString = 1, ///< the value is a string id, loaded with loadString(id)
        kFormatSigned = 2,         ///< the value is a 32-bit signed number, written in decimal
        kFormatUnsigned = 3,       ///< the value is a 32-bit unsigned number, written in decimal
        kFormatHex = 4,            ///< the value is written in lower-case hexadecimal
    };

    /// Option bits of the number parsers (any combination; other bits have no effect).
    enum ParseOptions : int {
        kOnErrorReturnMinusOne = 1, ///< a failed parse returns -1 (all bits set) instead of 0
        kOnErrorThrow = 4,          ///< a failed parse throws its message (const char*); beats 1
        kEmptyIsError = 8,          ///< an empty text or a lone '-' fails ("Parsing Empty OxString")
    };

    static constexpr std::size_t kInlineNarrowCapacity = 14; ///< bytes, terminator not counted
    static constexpr std::size_t kInlineWideCapacity = 6;    ///< units, terminator not counted

    // -----------------------------------------------------------------------------------------
    // Construction

    OxString() noexcept { clearStorage(); }
    /// Copies the wide text: kind 0, 2 or 4. Null counts as empty. Texts that fit inline are
    /// stored right here, without a call.
    OxString(const OXCHAR* text)
    {
        clearStorage();
        if (text == nullptr)
            return;
        std::size_t length = 0;
        while (length <= kInlineWideCapacity && text[length] != 0)
            ++length;
        if (length > kInlineWideCapacity) {
            storeLongWide(text);
        } else if (length > 0) {
            mStorage[0] = kInlineWide;
            std::memcpy(mStorage + 2, text, length * sizeof(OXCHAR)); // the terminator is there
        }
    }
    /// `utf8` false: the bytes are ANSI and stored unchanged (kind 0, 1 or 3). `utf8` true: they
    /// are decoded at once and stored wide (kind 0, 2 or 4); an ill-formed sequence becomes
    /// U+FFFD, one per maximal subpart. Null counts as empty.
    OxString(const char* text, bool utf8);
    /// One narrow byte inline. The NUL byte gives the empty string (kind 0). Explicit, so that an
    /// integer never becomes a one-character string by accident.
    explicit OxString(char c);
    /// One wide unit inline. The NUL unit gives the empty string (kind 0).
    explicit OxString(OXCHAR c);
    /// Narrow-only sources (kinds 1, 3) give a narrow copy; every other a wide copy of the wide
    /// form. A cached second form is not copied.
    OxString(const OxString& other)
    {
        if (other.kind() <= kInlineWide) [[likely]]
            std::memcpy(mStorage, other.mStorage, sizeof mStorage);
        else
            copyFromSlow(other);
    }
    /// Takes the other string's storage as it is (any kind, a cached form included) and leaves
    /// the other empty. Never allocates.
    OxString(OxString&& other) noexcept
    {
        std::memcpy(mStorage, other.mStorage, sizeof mStorage);
        other.clearStorage();
    }
    /// `selector & 0x3FF` tells what `value` is (FormatSelector); any other selector gives the
    /// empty string. Numbers are stored wide; a string id that cannot be loaded gives empty.
    OxString(int selector, unsigned int value);
    /// The handle's value in lower-case hexadecimal, no prefix, no leading zeros ("0" for 0).
    OxString(const OxDbHandle& handle);
    /// Starts empty, then loadString(module, id); stays empty when loading fails.
    OxString(win::HINSTANCE module, unsigned int id);

    ~OxString()
    {
        if (kind() >= kHeapNarrow)
            releaseStorage();
    }

    // -----------------------------------------------------------------------------------------
    // Assignment and appending (each returns *this)

    /// Nothing happens when `other` is this object; otherwise as the copy constructor.
    OxString& assign(const OxString& other);
    /// Stores a copy of the wide text (kind 0, 2 or 4). The text may point into this string.
    OxString& assign(const OXCHAR* text);
    /// Stores a copy of the ANSI bytes (kind 0, 1 or 3). The text may point into this string.
    OxString& assign(const char* text);
    /// Stores the handle's hexadecimal text, as the constructor does.
    OxString& assign(const OxDbHandle& handle);
    OxString& operator=(const OxString& other) { return assign(other); }
    OxString& operator=(OxString&& other) noexcept;

    /// Appends wide text. The result is wide only: inline while it fits 6 units, otherwise an
    /// exact-size heap array. A narrow-only string is converted for the purpose (nothing is
    /// cached); when that conversion fails the argument is appended to an empty text.
    OxString& append(const OXCHAR* text)
    {
        if (kind() == kInlineWide && text != nullptr) [[likely]] {
            // Inline text that still fits grows in place, without a call. The argument may be
            // this very text: it ends where the units written here begin.
            auto* units = reinterpret_cast<OXCHAR*>(mStorage + 2);
            std::size_t length = 0;
            while (units[length] != 0)
                ++length;
            std::size_t added = 0;
            while (length + added <= kInlineWideCapacity && text[added] != 0)
                ++added;
            if (length + added <= kInlineWideCapacity) {
                std::memmove(units + length, text, added * sizeof(OXCHAR));
                units[length + added] = 0;
                return *this;
            }
        }
        return appendWideSlow(text);
    }
    /// Appends ANSI bytes. Narrow inline text grows in place while it fits 14 bytes; wide text
    /// stays wide when every appended byte is printable ASCII (0x20..0x7F); otherwise the result
    /// is the narrow form of this string followed by the bytes, narrow only (kind 3).
    OxString& append(const char* text);
    /// Narrow-only to narrow-only appends bytes; everything else appends the argument's wide
    /// form (which the argument may produce and cache).
    OxString& append(const OxString& other);
    /// Releases the storage; kind 0.
    void setEmpty() noexcept;

    /// A copy of this string (as the copy constructor makes it) with append(x) applied.
    OxString concat(const OxString& x) const;
    OxString concat(const OXCHAR* x) const;
    OxString concat(const char* x) const;
    /// `x` (narrow taken as ANSI) followed by this string.
    OxString precat(const OXCHAR* x) const;
    OxString precat(const char* x) const;

    // -----------------------------------------------------------------------------------------
    // Inspection and access

    /// True exactly for kind 0.
    bool isEmpty() const noexcept { return kind() == kEmpty; }
    /// UTF-16 units of the wide form (produced first for a narrow-only string); 0 for kind 0.
    int length() const;
    /// The wide form, produced and cached (kind 5) for a narrow-only string. Never null.
    const OXCHAR* kwszPtr() const
    {
        if (kind() == kInlineWide) [[likely]]
            return reinterpret_cast<const OXCHAR*>(mStorage + 2);
        return kwszPtrSlow();
    }
    /// The narrow form; a wide-only string produces it with the host's ANSI converter and caches
    /// it. Never null.
    const char* ansiPtr() const;
    /// As ansiPtr, but a narrow form that has to be produced is produced as UTF-8. The cache holds
    /// one narrow form: whichever of ansiPtr and utf8Ptr first produces it fixes its encoding,
    /// and both return it afterwards; a narrow-only string returns its stored (ANSI) bytes.
    const char* utf8Ptr() const;
    /// Whether every character is in 0x20..0x7F: the bytes of a narrow-only string, the wide units
    /// of any other. True for the empty string.
    bool isAscii() const;
    /// The storage kind (byte 0).
    Kind kind() const noexcept { return static_cast<Kind>(mStorage[0]); }

    // -----------------------------------------------------------------------------------------
    // Comparison: -1, 0 or 1, comparing this string with the argument. Printable ASCII
    // (0x20..0x7F) compares by code (without case, a-z fold to A-Z); from the first difference
    // that involves another character on, the rest goes to the C runtime's collation under the
    // current C locale. Narrow is compared with narrow and wide with wide where both sides have
    // that form; a narrow side against a wide one is walked directly, and from the first
    // difference that is not plain ASCII (or that starts a "\U+"/"\M+" escape of the ANSI
    // converter) its rest is converted with the host's converter and compared as wide text.
    // Nothing is converted or cached in this string or the argument. Null counts as empty.

    int compare(const OxString& other) const;
    int compare(const OXCHAR* other) const;
    int compare(const char* other) const;
    int compareNoCase(const OxString& other) const;
    int compareNoCase(const OXCHAR* other) const;
    int compareNoCase(const char* other) const;

    /// Length of the common prefix: in UTF-16 units when a wide form takes part, in bytes when
    /// both sides are narrow only (a double-byte character of the ANSI code page counts as its
    /// two bytes and matches only whole), in characters when this string is wide and the argument
    /// narrow. 0 when either side is empty or null.
    int match(const OxString& other) const;
    int match(const OXCHAR* other) const;
    int match(const char* other) const;
    int matchNoCase(const OxString& other) const;
    int matchNoCase(const OXCHAR* other) const;
    int matchNoCase(const char* other) const;

    // -----------------------------------------------------------------------------------------
    // Searching: exact and case-sensitive; positions are zero-based, -1 when nothing is found.

    /// First occurrence in the wide form. A null or empty pattern gives length(); an empty
    /// string gives -1 for any other pattern.
    int find(const OXCHAR* pattern) const;
    /// Both narrow only: a byte search over the narrow forms (byte offsets); otherwise
    /// find(pattern.kwszPtr()).
    int find(const OxString& pattern) const;
    /// Start of the last occurrence; occurrences may overlap.
    int findRev(const OXCHAR* pattern) const;
    int findRev(const OxString& pattern) const;
    /// First / last position of the wide form whose unit is in `set`; -1 for a null or empty
    /// set or an empty string.
    int findOneOf(const OXCHAR* set) const;
    int findOneOfRev(const OXCHAR* set) const;

    /// A new string of at most `count` characters from `start`. A narrow-only string gives a
    /// narrow result and counts bytes; any other a wide result and counts UTF-16 units. A negative
    /// start counts as 0, a negative count means up to the end, a start beyond the end gives the
    /// empty string.
    OxString substr(int start, int count = -1) const;
    /// The last `count` units (produces the wide form): substr(max(length() - count, 0), count).
    OxString substrRev(int count) const;

    // -----------------------------------------------------------------------------------------
    // Formatting

    /// Empties the string, then formats `format` with the arguments through the host's fmtout
    /// callback and appends its output (NUL units skipped). Without a formatter, or with a null
    /// format, the string stays empty.
    void format(const OXCHAR* format, ...);
    void formatV(const OXCHAR* format, va_list arguments);

    // -----------------------------------------------------------------------------------------
    // Number parsing
    //
    // Digits only: no blanks, no plus sign, no "0x" prefix; the signed kinds accept one leading
    // '-'. The text read is the wide form of a wide-only string, the narrow form otherwise. The
    // failures are "Parsing Empty OxString" (only with kEmptyIsError), "Parsing Invalid Char in
    // OxString" and "Overflow While Parsing OxString" (the magnitude exceeds the kind's unsigned
    // width); they throw the message (a static const char*) with kOnErrorThrow, else return -1
    // with kOnErrorReturnMinusOne, else 0. Without kEmptyIsError an empty text gives 0. The
    // signed kinds check only the unsigned magnitude: a magnitude above the signed maximum wraps
    // (asHex of FFFFFFFF is -1), as callers that parse the hexadecimal form of a signed value
    // expect.

    int asDeci(int options = 0) const;
    unsigned int asUDeci(int options = 0) const;
    int asHex(int options = 0) const;
    unsigned int asUHex(int options = 0) const;
    Mira::Int64 asDeci64(int options = 0) const;
    std::uint64_t asUDeci64(int options = 0) const;
    Mira::Int64 asHex64(int options = 0) const;
    std::uint64_t asUHex64(int options = 0) const;
    /// asUHex64 with the same options, as a handle.
    OxDbHandle asOxDbHandle(int options = 0) const;

    // -----------------------------------------------------------------------------------------
    // Resource texts

    /// Loads string `id` of `module` with LoadStringW in buffers of 64, 512, ... 16777216 units
    /// until one holds it whole. False, and the string unchanged, for a null module, the module
    /// value -1, a missing or empty string, or a text that does not fit the largest buffer.
    bool loadString(win::HINSTANCE module, unsigned int id);
    /// loadString with the module named by the host's getAppResourceDllHandle callback; false
    /// without one.
    bool loadString(unsigned int id);

private:
    friend class OxStringImp;

    void clearStorage() noexcept { std::memset(mStorage, 0, sizeof mStorage); }
    void copyFromSlow(const OxString& other);
    void storeLongWide(const OXCHAR* text);
    const OXCHAR* kwszPtrSlow() const;
    OxString& appendWideSlow(const OXCHAR* text);
    void releaseStorage() noexcept;

    // Byte 0 is the kind, byte 1 starts inline narrow text, byte 2 inline wide text, byte 8 holds
    // the heap pointer. Mutable: the const accessors cache a produced form.
    alignas(8) mutable unsigned char mStorage[16];
};

static_assert(sizeof(OxString) == 16, "OxString is 16 bytes: kind byte, inline text or pointer at byte 8");
static_assert(alignof(OxString) == 8, "OxString's pointer at byte 8 must be aligned");

/// Interned texts: each distinct text has one process-wide address for the life of the process,
/// so interned texts compare by pointer. An OxUniqueString has no state: its address is the first
/// unit of the interned NUL-terminated text.
class OXFIRST_API OxUniqueString {
public:
    /// The interned copy of `text`: equal texts give the same pointer, different texts different
    /// ones. Copies are made with the C runtime's duplication and never released. Null gives
    /// null, and so does a shortage of memory (nothing is interned then). Safe to call from
    /// several threads at once: the table has a lock.
    static const OxUniqueString* Intern(const OXCHAR* text);

    /// The interned text.
    const OXCHAR* kwszPtr() const noexcept { return reinterpret_cast<const OXCHAR*>(this); }

    OxUniqueString() = delete;
    OxUniqueString(const OxUniqueString&) = delete;
    OxUniqueString& operator=(const OxUniqueString&) = delete;
};
