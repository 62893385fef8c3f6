// rx/TextString.cpp
// The text object the dictionaries use as key: a stored length, a buffer from the process
// allocator that only ever grows, and comparisons that fold ASCII letters to lower case. Key
// comparisons are the dictionaries' inner loop: they read the other key's fields directly and
// never allocate.

#include <oxfirst/OxRxTextString.h>

#include "platform/win.h"
#include "rx/TextCompare.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <typeinfo>

namespace {

using Traits = std::char_traits<OXCHAR>;

OXCHAR* allocUnits(std::size_t units) noexcept
{
    return static_cast<OXCHAR*>(__oxMalloc(units * sizeof(OXCHAR)));
}

// Keys recognise each other by C++ type, not through the class registry: the registry's own
// lookups compare keys, and the class "OxRxTextString" is itself found by such a lookup. The
// exact type is one comparison of type names; derived classes take the slower cast.
const OxRxTextString* asTextString(const OxRxObject* object) noexcept
{
    if (object == nullptr)
        return nullptr;
    if (typeid(*object) == typeid(OxRxTextString)) [[likely]]
        return static_cast<const OxRxTextString*>(object);
    return dynamic_cast<const OxRxTextString*>(object);
}

int sign(int value) noexcept
{
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}

} // namespace

int oxtext::compareRestNoCase(const OXCHAR* left, const OXCHAR* right) noexcept
{
    return sign(win::_wcsicmp(left, right));
}

OX_RX_DEFINE_MEMBERS(OxRxTextString, u"OxRxTextString", u"OxRxObject", nullptr)

int oxrxCompareTextNoCase(const OXCHAR* left, const OXCHAR* right) noexcept
{
    return oxtext::compareNoCase(left != nullptr ? left : u"", right != nullptr ? right : u"");
}

// ---------------------------------------------------------------------------------------------
// Construction

OxRxTextString::OxRxTextString(const OXCHAR* text, int mode) : mMode(mode)
{
    OxRxTextString::setText(text);
}

OxRxTextString::OxRxTextString(const OxRxTextString& source) : OxBaseClassWithNew(), OxRxObject()
{
    OxRxTextString::copyText(&source);
}

OxRxTextString::OxRxTextString(const OXCHAR* text, int mode, BorrowText) noexcept : mMode(mode)
{
    const std::size_t length = text != nullptr ? Traits::length(text) : 0;
    if (length == 0)
        return;
    mLength = mCapacity = static_cast<std::uint32_t>(length);
    mpBuffer = const_cast<OXCHAR*>(text);
    mBorrowed = true;
}

void OxRxTextString::dropBorrowedText() noexcept
{
    if (!mBorrowed)
        return;
    mpBuffer = nullptr;
    mCapacity = 0;
    mBorrowed = false;
}

OxRxTextString::~OxRxTextString()
{
    if (!mBorrowed)
        __oxFree(mpBuffer);
}

OxRxObject* OxRxTextString::clone() const
{
    return new OxRxTextString(mpBuffer);
}

// ---------------------------------------------------------------------------------------------
// Text

void OxRxTextString::assignText(const OXCHAR* text)
{
    setText(text);
}

OXCHAR* OxRxTextString::text() const
{
    return mpBuffer;
}

const OXCHAR* OxRxTextString::constText() const
{
    return mpBuffer;
}

// A longer text gets a buffer of exactly its size; the new one is taken before the old one is
// released, so `text` may point into the current buffer. When no memory is left the object
// keeps its buffer and becomes empty: a key that could not be stored must not pass for the old
// one.
void OxRxTextString::setText(const OXCHAR* text)
{
    dropBorrowedText(); // `text` may be the borrowed text: it stays readable
    const std::size_t length = text != nullptr ? Traits::length(text) : 0;
    if (length == 0) {
        mLength = 0;
        if (mpBuffer != nullptr)
            mpBuffer[0] = 0;
        return;
    }
    if (length > mCapacity) {
        OXCHAR* buffer = allocUnits(length + 1);
        if (buffer == nullptr) {
            mLength = 0;
            if (mpBuffer != nullptr)
                mpBuffer[0] = 0;
            return;
        }
        Traits::copy(buffer, text, length + 1);
        __oxFree(mpBuffer);
        mpBuffer = buffer;
        mCapacity = static_cast<std::uint32_t>(length);
    } else {
        Traits::move(mpBuffer, text, length + 1); // text may lie in this buffer
    }
    mLength = static_cast<std::uint32_t>(length);
}

OXCHAR* OxRxTextString::duplicate() const
{
    if (mLength == 0)
        return nullptr;
    auto* copy = static_cast<OXCHAR*>(std::malloc((mLength + std::size_t{1}) * sizeof(OXCHAR)));
    if (copy != nullptr)
        Traits::copy(copy, mpBuffer, mLength + std::size_t{1});
    return copy;
}

OXCHAR OxRxTextString::charAt(unsigned index) const
{
    return index < mLength ? mpBuffer[index] : OXCHAR{0};
}

OXCHAR OxRxTextString::at(unsigned index) const
{
    return charAt(index);
}

// Copying a text onto itself leaves it as it is; emptying first would lose it.
void OxRxTextString::copyText(const OxRxTextString* other)
{
    if (other == this)
        return;
    dropBorrowedText();
    mLength = 0;
    if (mpBuffer != nullptr)
        mpBuffer[0] = 0;
    appendText(other);
}

// Appends at most other->textLength() units and stops early at a terminator, so a text whose
// stored length disagrees with its buffer can never write past the end. The other text is read
// before the old buffer is released: appending a text to itself is safe. When no memory is
// left nothing changes.
void OxRxTextString::appendText(const OxRxTextString* other)
{
    if (other == nullptr)
        return;
    const OXCHAR* source = other->text();
    if (source == nullptr)
        return;
    std::size_t count = 0;
    for (const std::size_t limit = other->textLength(); count < limit && source[count] != 0;)
        ++count;

    const std::size_t length = mLength + count;
    OXCHAR* target = mpBuffer;
    if (length > mCapacity || mpBuffer == nullptr || mBorrowed) {
        target = allocUnits(length + 1);
        if (target == nullptr)
            return;
        if (mLength != 0)
            Traits::copy(target, mpBuffer, mLength);
    }
    Traits::move(target + mLength, source, count);
    target[length] = 0;
    if (target != mpBuffer) {
        if (!mBorrowed)
            __oxFree(mpBuffer);
        mBorrowed = false;
        mpBuffer = target;
        mCapacity = static_cast<std::uint32_t>(length);
    }
    mLength = static_cast<std::uint32_t>(length);
}

unsigned OxRxTextString::textLength() const
{
    return mLength;
}

// ---------------------------------------------------------------------------------------------
// Comparison

int OxRxTextString::isEqualTo(const OxRxObject* other) const
{
    const OxRxTextString* that = asTextString(other);
    if (that == nullptr)
        return 0;
    if (that->mLength == 0)
        return mLength == 0;
    if (mLength == 0)
        return 0;
    return oxtext::compareNoCase(mpBuffer, that->mpBuffer) == 0;
}

// Empty texts are not ordered symmetrically: an empty text against another empty text that has
// a buffer is -1 from either side, while isEqualTo calls the two equal.
int OxRxTextString::compareText(const OxRxObject* other) const
{
    const OXCHAR* otherText = nullptr;
    if (other != nullptr) {
        const OxRxTextString* that = asTextString(other);
        if (that == nullptr)
            return 1;
        otherText = that->mpBuffer;
    }
    if (otherText == nullptr)
        return mLength != 0 ? 1 : 0;
    if (mLength == 0 || mpBuffer == nullptr)
        return -1;
    return oxtext::compareNoCase(mpBuffer, otherText);
}

// Something that is not a text has no place in the order of texts.
OxRx::Ordering OxRxTextString::comparedTo(const OxRxObject* other) const
{
    if (asTextString(other) == nullptr)
        return OxRx::kOrderNone;
    return static_cast<OxRx::Ordering>(compareText(other));
}
