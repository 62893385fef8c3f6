// strings/OxString.cpp
// OxString's storage: construction, assignment, appending, the accessors that produce and
// cache a missing form, and the conversions between the forms. The operations that only read a
// string (comparison, search, sub-strings, parsing) live in the neighbouring files and use the
// storage through OxStringImp (StringInternal.h).
//
// Kinds move only as follows: to 0, 1, 2, 3 or 4 when a new text is set; 1 or 3 to 5 when the
// wide form is first needed; 2 to 4 to 5 when a narrow form is first needed; inline kinds stay
// inline while appends fit. The empty text is kind 0 after every operation that sets a text.

#include "strings/StringInternal.h"

#include <oxfirst/OxRxCallbacks.h>

#include "platform/win.h"

#include <algorithm>
#include <climits>

using oxstr::byteLength;
using oxstr::TemporaryBuffer;
using oxstr::unitLength;

// ---------------------------------------------------------------------------------------------
// Storage helpers

void OxStringImp::storeNarrow(OxString& s, const char* text, std::size_t length)
{
    unsigned char fresh[16] = {};
    if (length > 0 && length <= OxString::kInlineNarrowCapacity) {
        fresh[0] = OxString::kInlineNarrow;
        std::memcpy(fresh + 1, text, length); // fresh[1 + length] stays the terminator
    } else if (length > OxString::kInlineNarrowCapacity) {
        if (auto* array = static_cast<char*>(allocate(length + 1))) {
            std::memcpy(array, text, length);
            array[length] = '\0';
            fresh[0] = OxString::kHeapNarrow;
            std::memcpy(fresh + 8, &array, sizeof array);
        }
    }
    s.releaseStorage();
    setStorage(s, fresh);
}

void OxStringImp::storeWide(OxString& s, const OXCHAR* text, std::size_t length)
{
    unsigned char fresh[16] = {};
    if (length > 0 && length <= OxString::kInlineWideCapacity) {
        fresh[0] = OxString::kInlineWide;
        std::memcpy(fresh + 2, text, length * sizeof(OXCHAR));
    } else if (length > OxString::kInlineWideCapacity && length < SIZE_MAX / sizeof(OXCHAR)) {
        if (auto* array = static_cast<OXCHAR*>(allocate((length + 1) * sizeof(OXCHAR)))) {
            std::memcpy(array, text, length * sizeof(OXCHAR));
            array[length] = 0;
            fresh[0] = OxString::kHeapWide;
            std::memcpy(fresh + 8, &array, sizeof array);
        }
    }
    s.releaseStorage();
    setStorage(s, fresh);
}

std::size_t OxStringImp::convertAnsiToWide(const char* text, OXCHAR* destination, std::size_t capacity)
{
    if (destination == nullptr || capacity == 0)
        return 0;
    destination[0] = 0;
    auto converter = OxRxTypeSysCallbacks::multiByteToWideChar();
    if (converter == nullptr)
        return 0;
    const int usable = static_cast<int>(std::min<std::size_t>(capacity, INT_MAX));
    const int written = converter(0, 0, text, -1, destination, usable);
    if (written <= 0) {
        destination[0] = 0;
        return 0;
    }
    // The converter wrote `written` units, its terminator among them; a converter that left the
    // terminator out is cut at the last unit it wrote rather than read further.
    const auto count = static_cast<std::size_t>(written);
    std::size_t length = 0;
    while (length < count && destination[length] != 0)
        ++length;
    if (length == count)
        length = count == static_cast<std::size_t>(usable) ? count - 1 : count;
    destination[length] = 0;
    return length;
}

namespace {

// The wide-to-narrow counterpart: the host's ANSI converter, or the platform's UTF-8 codec.
// Returns the bytes before the terminator, which is written; 0 on any failure.
std::size_t convertWideToNarrow(const OXCHAR* text, char* destination, std::size_t capacity, bool utf8)
{
    if (destination == nullptr || capacity == 0)
        return 0;
    destination[0] = '\0';
    const int usable = static_cast<int>(std::min<std::size_t>(capacity, INT_MAX));
    int written = 0;
    if (utf8) {
        written = win::WideCharToMultiByte(win::CP_UTF8, 0, text, -1, destination, usable, nullptr, nullptr);
    } else if (auto converter = OxRxTypeSysCallbacks::wideCharToMultiByte()) {
        written = converter(0, 0, text, -1, destination, usable, 0);
    }
    if (written <= 0) {
        destination[0] = '\0';
        return 0;
    }
    const auto count = static_cast<std::size_t>(written);
    std::size_t length = 0;
    while (length < count && destination[length] != '\0')
        ++length;
    if (length == count)
        length = count == static_cast<std::size_t>(usable) ? count - 1 : count;
    destination[length] = '\0';
    return length;
}

// Digits of `magnitude` in `base`, lower-case, with an optional minus sign, stored wide.
void storeNumber(OxString& s, std::uint64_t magnitude, unsigned base, bool negative)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    OXCHAR digits[32]; // 64 binary digits never occur: base 10 needs 20, base 16 needs 16
    OXCHAR* end = digits + sizeof digits / sizeof digits[0];
    OXCHAR* first = end;
    do {
        *--first = static_cast<OXCHAR>(kDigits[magnitude % base]);
        magnitude /= base;
    } while (magnitude != 0);
    if (negative)
        *--first = u'-';
    OxStringImp::storeWide(s, first, static_cast<std::size_t>(end - first));
}

void storeHandle(OxString& s, const OxDbHandle& handle)
{
    storeNumber(s, handle.value, 16, false);
}

// Produces the wide form of a narrow-only string (kind 1 or 3) and caches it: kind 5 with the
// narrow bytes in the dual block and the wide text in its own exact-size array. Kind 1 goes
// straight to kind 5; the narrow array it would pass through as kind 3 is never needed. When the
// heap refuses, the string is left as it was and the empty text is returned.
const OXCHAR* produceWide(const OxString& s)
{
    const OxString::Kind kind = OxStringImp::kind(s);
    const char* narrow = OxStringImp::heldNarrow(s);
    const std::size_t narrowLength = byteLength(narrow);

    TemporaryBuffer<OXCHAR> converted(narrowLength + 1);
    const std::size_t wideLength = OxStringImp::convertAnsiToWide(narrow, converted.data(), narrowLength + 1);

    auto* wide = static_cast<OXCHAR*>(OxStringImp::allocate((wideLength + 1) * sizeof(OXCHAR)));
    void* block = OxStringImp::allocate(OxStringImp::kDualHeader + narrowLength + 1);
    if (wide == nullptr || block == nullptr) {
        if (wide != nullptr)
            OxStringImp::release(wide);
        if (block != nullptr)
            OxStringImp::release(block);
        return oxstr::kEmptyWide;
    }
    if (wideLength > 0)
        std::memcpy(wide, converted.data(), wideLength * sizeof(OXCHAR));
    wide[wideLength] = 0;
    std::memcpy(block, &wide, sizeof wide);
    std::memcpy(OxStringImp::dualNarrow(block), narrow, narrowLength + 1);

    unsigned char fresh[16] = {OxString::kHeapDual};
    std::memcpy(fresh + 8, &block, sizeof block);
    if (kind == OxString::kHeapNarrow)
        OxStringImp::release(const_cast<char*>(narrow));
    OxStringImp::setStorage(const_cast<OxString&>(s), fresh);
    return wide;
}

// Produces a narrow form of a wide-only string (kind 2 or 4) and caches it: inline wide text
// first moves to an exact-size heap array (kind 4), then the dual block takes that array's
// pointer and the converted bytes (kind 5). The wide array itself never moves, so a wide pointer
// handed out for kind 4 survives. When the heap refuses, the string keeps the kind it reached
// and the empty text is returned.
const char* produceNarrow(const OxString& s, bool utf8)
{
    auto& string = const_cast<OxString&>(s);
    OXCHAR* wide;
    std::size_t wideLength;
    if (OxStringImp::kind(s) == OxString::kInlineWide) {
        const OXCHAR* inlineText = OxStringImp::inlineWide(s);
        wideLength = unitLength(inlineText);
        wide = static_cast<OXCHAR*>(OxStringImp::allocate((wideLength + 1) * sizeof(OXCHAR)));
        if (wide == nullptr)
            return oxstr::kEmptyNarrow;
        std::memcpy(wide, inlineText, (wideLength + 1) * sizeof(OXCHAR));
        unsigned char fresh[16] = {OxString::kHeapWide};
        std::memcpy(fresh + 8, &wide, sizeof wide);
        OxStringImp::setStorage(string, fresh);
    } else {
        wide = static_cast<OXCHAR*>(OxStringImp::pointer(s));
        wideLength = unitLength(wide);
    }

    // Room for seven bytes per unit for ANSI (the host converter's escapes) and four for UTF-8,
    // which needs at most three.
    const std::size_t perUnit = utf8 ? 4 : 7;
    const std::size_t capacity = wideLength <= (SIZE_MAX - 1) / perUnit ? wideLength * perUnit + 1 : 0;
    TemporaryBuffer<char> converted(capacity);
    const std::size_t narrowLength = convertWideToNarrow(wide, converted.data(), capacity, utf8);

    void* block = OxStringImp::allocate(OxStringImp::kDualHeader + narrowLength + 1);
    if (block == nullptr)
        return oxstr::kEmptyNarrow;
    std::memcpy(block, &wide, sizeof wide);
    char* narrow = OxStringImp::dualNarrow(block);
    if (narrowLength > 0)
        std::memcpy(narrow, converted.data(), narrowLength);
    narrow[narrowLength] = '\0';

    unsigned char fresh[16] = {OxString::kHeapDual};
    std::memcpy(fresh + 8, &block, sizeof block);
    OxStringImp::setStorage(string, fresh);
    return narrow;
}

} // namespace

void OxStringImp::appendWide(OxString& s, const OXCHAR* text, std::size_t length)
{
    const OxString::Kind kind = OxStringImp::kind(s);
    if (kind == OxString::kEmpty) {
        storeWide(s, text, length);
        return;
    }
    if (kind == OxString::kInlineWide) {
        OXCHAR* inlineText = inlineWide(s);
        const std::size_t oldLength = unitLength(inlineText);
        if (oldLength + length <= OxString::kInlineWideCapacity) {
            // The argument may be this very text; it ends at the old terminator, before the
            // units written here.
            std::memmove(inlineText + oldLength, text, length * sizeof(OXCHAR));
            inlineText[oldLength + length] = 0;
            return;
        }
    }

    // The current text as wide. A narrow-only string is converted for this append only.
    const OXCHAR* old = heldWide(s);
    std::size_t oldLength = 0;
    TemporaryBuffer<OXCHAR> converted(old == nullptr ? byteLength(heldNarrow(s)) + 1 : 0);
    if (old == nullptr) {
        const std::size_t capacity = byteLength(heldNarrow(s)) + 1;
        oldLength = convertAnsiToWide(heldNarrow(s), converted.data(), capacity);
        old = converted.data() != nullptr ? converted.data() : oxstr::kEmptyWide;
    } else {
        oldLength = unitLength(old);
    }

    const std::size_t total = oldLength + length;
    unsigned char fresh[16] = {};
    if (total <= OxString::kInlineWideCapacity) {
        fresh[0] = OxString::kInlineWide;
        std::memcpy(fresh + 2, old, oldLength * sizeof(OXCHAR));
        std::memcpy(fresh + 2 + oldLength * sizeof(OXCHAR), text, length * sizeof(OXCHAR));
    } else {
        auto* array = static_cast<OXCHAR*>(allocate((total + 1) * sizeof(OXCHAR)));
        if (array == nullptr)
            return; // the heap refused: the string keeps its text
        std::memcpy(array, old, oldLength * sizeof(OXCHAR));
        std::memcpy(array + oldLength, text, length * sizeof(OXCHAR));
        array[total] = 0;
        fresh[0] = OxString::kHeapWide;
        std::memcpy(fresh + 8, &array, sizeof array);
    }
    s.releaseStorage();
    setStorage(s, fresh);
}

// ---------------------------------------------------------------------------------------------
// Construction

void OxString::storeLongWide(const OXCHAR* text)
{
    OxStringImp::storeWide(*this, text, unitLength(text));
}

OxString::OxString(const char* text, bool utf8)
{
    clearStorage();
    const std::size_t length = byteLength(text);
    if (!utf8 || length == 0) {
        OxStringImp::storeNarrow(*this, text, length);
        return;
    }
    // Printable ASCII widens one to one; the first other byte hands the whole rest to the UTF-8
    // codec. Every UTF-8 sequence gives at most one unit per byte, so length + 1 units hold any
    // result.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t ascii = 0;
    while (ascii < length && oxstr::isPrintableAscii(bytes[ascii]))
        ++ascii;
    if (ascii == length) {
        // All printable: widen straight into the final storage, no temporary.
        OXCHAR* out;
        if (length <= kInlineWideCapacity) {
            mStorage[0] = kInlineWide;
            out = OxStringImp::inlineWide(*this);
        } else {
            out = static_cast<OXCHAR*>(OxStringImp::allocate((length + 1) * sizeof(OXCHAR)));
            if (out == nullptr)
                return;
            mStorage[0] = kHeapWide;
            std::memcpy(mStorage + 8, &out, sizeof out);
        }
        for (std::size_t i = 0; i < length; ++i)
            out[i] = bytes[i];
        out[length] = 0;
        return;
    }
    TemporaryBuffer<OXCHAR> decoded(length + 1);
    OXCHAR* out = decoded.data();
    if (out == nullptr)
        return;
    for (std::size_t i = 0; i < ascii; ++i)
        out[i] = bytes[i];
    std::size_t decodedLength = ascii;
    if (ascii < length) {
        // A rest the codec refuses is dropped: the text ends where the codec would have started.
        const int written =
            win::MultiByteToWideChar(win::CP_UTF8, 0, text + ascii, -1, out + ascii,
                                     static_cast<int>(std::min<std::size_t>(length + 1 - ascii, INT_MAX)));
        if (written > 0)
            decodedLength += static_cast<std::size_t>(written) - 1;
    }
    OxStringImp::storeWide(*this, out, decodedLength);
}

OxString::OxString(char c)
{
    clearStorage();
    if (c != '\0') {
        mStorage[0] = kInlineNarrow;
        mStorage[1] = static_cast<unsigned char>(c);
    }
}

OxString::OxString(OXCHAR c)
{
    clearStorage();
    if (c != 0) {
        mStorage[0] = kInlineWide;
        OxStringImp::inlineWide(*this)[0] = c;
    }
}

OxString::OxString(int selector, unsigned int value)
{
    clearStorage();
    switch (selector & 0x3FF) {
    case kFormatResourceString:
        loadString(value);
        break;
    case kFormatSigned: {
        // The magnitude in unsigned arithmetic, so the most negative value prints correctly.
        const auto number = static_cast<std::int32_t>(value);
        const std::uint64_t magnitude =
            number < 0 ? 0u - static_cast<std::uint64_t>(static_cast<std::int64_t>(number))
                       : static_cast<std::uint64_t>(number);
        storeNumber(*this, magnitude, 10, number < 0);
        break;
    }
    case kFormatUnsigned:
        storeNumber(*this, value, 10, false);
        break;
    case kFormatHex:
        storeNumber(*this, value, 16, false);
        break;
    default:
        break;
    }
}

OxString::OxString(const OxDbHandle& handle)
{
    clearStorage();
    storeHandle(*this, handle);
}

OxString::OxString(win::HINSTANCE module, unsigned int id)
{
    clearStorage();
    loadString(module, id);
}

void OxString::copyFromSlow(const OxString& other)
{
    clearStorage();
    if (OxStringImp::isNarrowOnly(other)) {
        const char* narrow = OxStringImp::heldNarrow(other);
        OxStringImp::storeNarrow(*this, narrow, byteLength(narrow));
    } else {
        const OXCHAR* wide = OxStringImp::heldWide(other);
        OxStringImp::storeWide(*this, wide, unitLength(wide));
    }
}

void OxString::releaseStorage() noexcept
{
    switch (kind()) {
    case kHeapNarrow:
    case kHeapWide:
        OxStringImp::release(OxStringImp::pointer(*this));
        break;
    case kHeapDual: {
        void* block = OxStringImp::pointer(*this);
        OxStringImp::release(OxStringImp::dualWide(block));
        OxStringImp::release(block);
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Assignment and appending

OxString& OxString::assign(const OxString& other)
{
    if (&other == this)
        return *this;
    OxString copy(other);
    releaseStorage();
    std::memcpy(mStorage, copy.mStorage, sizeof mStorage);
    copy.clearStorage();
    return *this;
}

OxString& OxString::assign(const OXCHAR* text)
{
    OxStringImp::storeWide(*this, text, unitLength(text));
    return *this;
}

OxString& OxString::assign(const char* text)
{
    OxStringImp::storeNarrow(*this, text, byteLength(text));
    return *this;
}

OxString& OxString::assign(const OxDbHandle& handle)
{
    storeHandle(*this, handle);
    return *this;
}

OxString& OxString::operator=(OxString&& other) noexcept
{
    if (&other != this) {
        releaseStorage();
        std::memcpy(mStorage, other.mStorage, sizeof mStorage);
        other.clearStorage();
    }
    return *this;
}

OxString& OxString::appendWideSlow(const OXCHAR* text)
{
    const std::size_t length = unitLength(text);
    if (length > 0)
        OxStringImp::appendWide(*this, text, length);
    return *this;
}

OxString& OxString::append(const char* text)
{
    const std::size_t length = byteLength(text);
    if (length == 0)
        return *this;
    const Kind current = kind();
    if (current == kEmpty) {
        OxStringImp::storeNarrow(*this, text, length);
        return *this;
    }
    if (current == kInlineNarrow) {
        char* inlineText = OxStringImp::inlineNarrow(*this);
        const std::size_t oldLength = std::strlen(inlineText);
        if (oldLength + length <= kInlineNarrowCapacity) {
            std::memmove(inlineText + oldLength, text, length);
            inlineText[oldLength + length] = '\0';
            return *this;
        }
    }

    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const bool printable =
        std::all_of(bytes, bytes + length, [](unsigned char b) { return oxstr::isPrintableAscii(b); });
    if (printable && (current == kInlineWide || current == kHeapWide)) {
        // Printable ASCII means the same in every code page, so the bytes widen one to one.
        const OXCHAR* old = OxStringImp::heldWide(*this);
        const std::size_t oldLength = unitLength(old);
        const std::size_t total = oldLength + length;
        unsigned char fresh[16] = {};
        OXCHAR* out;
        if (current == kInlineWide && total <= kInlineWideCapacity) {
            out = OxStringImp::inlineWide(*this) + oldLength;
        } else {
            auto* array = static_cast<OXCHAR*>(OxStringImp::allocate((total + 1) * sizeof(OXCHAR)));
            if (array == nullptr)
                return *this;
            std::memcpy(array, old, oldLength * sizeof(OXCHAR));
            fresh[0] = kHeapWide;
            std::memcpy(fresh + 8, &array, sizeof array);
            out = array + oldLength;
        }
        for (std::size_t i = 0; i < length; ++i)
            out[i] = bytes[i];
        out[length] = 0;
        if (fresh[0] != 0) {
            releaseStorage();
            OxStringImp::setStorage(*this, fresh);
        }
        return *this;
    }

    // Every other case joins narrow forms: this string's (produced with the ANSI converter and
    // cached when it has none) and the bytes. The result is narrow only.
    const char* old = ansiPtr();
    const std::size_t oldLength = std::strlen(old);
    auto* array = static_cast<char*>(OxStringImp::allocate(oldLength + length + 1));
    if (array == nullptr)
        return *this;
    std::memcpy(array, old, oldLength);
    std::memcpy(array + oldLength, text, length);
    array[oldLength + length] = '\0';
    unsigned char fresh[16] = {kHeapNarrow};
    std::memcpy(fresh + 8, &array, sizeof array);
    releaseStorage();
    OxStringImp::setStorage(*this, fresh);
    return *this;
}

OxString& OxString::append(const OxString& other)
{
    if (other.isEmpty())
        return *this;
    if (isEmpty())
        return assign(other);
    if (OxStringImp::isNarrowOnly(*this) && OxStringImp::isNarrowOnly(other))
        return append(OxStringImp::heldNarrow(other));
    return append(other.kwszPtr());
}

void OxString::setEmpty() noexcept
{
    releaseStorage();
    clearStorage();
}

OxString OxString::concat(const OxString& x) const
{
    OxString result(*this);
    result.append(x);
    return result;
}

OxString OxString::concat(const OXCHAR* x) const
{
    OxString result(*this);
    result.append(x);
    return result;
}

OxString OxString::concat(const char* x) const
{
    OxString result(*this);
    result.append(x);
    return result;
}

OxString OxString::precat(const OXCHAR* x) const
{
    OxString result(x);
    result.append(*this);
    return result;
}

OxString OxString::precat(const char* x) const
{
    OxString result(x, false);
    result.append(*this);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Inspection and access

int OxString::length() const
{
    switch (kind()) {
    case kEmpty:
        return 0;
    case kInlineWide:
        return static_cast<int>(unitLength(OxStringImp::inlineWide(*this)));
    default:
        return static_cast<int>(std::min<std::size_t>(unitLength(kwszPtr()), INT_MAX));
    }
}

const OXCHAR* OxString::kwszPtrSlow() const
{
    if (const OXCHAR* wide = OxStringImp::heldWide(*this)) [[likely]]
        return wide;
    return produceWide(*this);
}

const char* OxString::ansiPtr() const
{
    if (const char* narrow = OxStringImp::heldNarrow(*this)) [[likely]]
        return narrow;
    return produceNarrow(*this, false);
}

const char* OxString::utf8Ptr() const
{
    if (const char* narrow = OxStringImp::heldNarrow(*this)) [[likely]]
        return narrow;
    return produceNarrow(*this, true);
}

bool OxString::isAscii() const
{
    if (OxStringImp::isNarrowOnly(*this)) {
        for (auto* b = reinterpret_cast<const unsigned char*>(OxStringImp::heldNarrow(*this)); *b != 0; ++b)
            if (!oxstr::isPrintableAscii(*b))
                return false;
        return true;
    }
    for (const OXCHAR* unit = kwszPtr(); *unit != 0; ++unit)
        if (!oxstr::isPrintableAscii(*unit))
            return false;
    return true;
}
