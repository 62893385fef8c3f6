// oxfirst/OxRxTextString.h
// The text object the dictionaries use as key: one wide text in a buffer that only grows, with
// comparisons that ignore ASCII letter case by folding to lower case.
#pragma once

#include <oxfirst/OxHeap.h>
#include <oxfirst/OxRxObject.h>

#include <cstdint>

class OXFIRST_API OxRxTextString : public OxBaseClassWithNew, public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxTextString)

    /// Stores `mode` (kept for the owner, read by no operation here) and then setText(text).
    explicit OxRxTextString(const OXCHAR* text = nullptr, int mode = 0);
    /// Copies the text of `source`; the mode of a copy is 0.
    OxRxTextString(const OxRxTextString& source);
    OxRxTextString& operator=(const OxRxTextString&) = delete;
    ~OxRxTextString() override;

    /// A new object from the library heap with the same text and mode 0.
    OxRxObject* clone() const override;
    /// False for null and for objects that are not text strings; otherwise whether both texts
    /// are empty, or equal ignoring ASCII letter case.
    int isEqualTo(const OxRxObject* other) const override;
    /// compareText as an ordering; kOrderNone for null and for objects that are not text strings.
    OxRx::Ordering comparedTo(const OxRxObject* other) const override;

    /// The same as setText.
    virtual void assignText(const OXCHAR* text);
    /// The buffer: null for an object that never held text.
    virtual OXCHAR* text() const;
    virtual const OXCHAR* constText() const;
    /// Stores `text` (null counts as empty; it may point into this object's own buffer). The
    /// buffer is replaced only when the text is longer than the capacity, and then by one of
    /// exactly the text's length plus the terminator. When that allocation fails the object
    /// keeps its buffer and its text becomes empty.
    virtual void setText(const OXCHAR* text);
    /// A copy of the text from the C runtime's malloc (release with free), or null when empty.
    virtual OXCHAR* duplicate() const;
    /// The unit at `index`, or 0 when `index` is not below the length.
    virtual OXCHAR charAt(unsigned index) const;
    virtual OXCHAR at(unsigned index) const;
    /// Empties this text, then appends `other`'s; copying an object onto itself changes nothing.
    virtual void copyText(const OxRxTextString* other);
    /// Appends `other`'s text (which may be this object's); nothing happens when `other` or its
    /// text is null, or when a longer buffer cannot be allocated.
    virtual void appendText(const OxRxTextString* other);
    virtual unsigned textLength() const;
    /// -1, 0 or 1: this text against `other`'s text(), ignoring ASCII letter case (folded to
    /// lower case, so '_' sorts before the letters). A null other text (or a null `other`)
    /// gives 0 for an empty text and 1 otherwise; an empty text against a non-null one gives -1,
    /// even when that one is empty too. An `other` that is not a text string gives 1 (this text
    /// sorts after anything that is not text).
    virtual int compareText(const OxRxObject* other) const;

    int mode() const noexcept { return mMode; }
    unsigned capacity() const noexcept { return mCapacity; }

protected:
    struct BorrowText {};
    /// A probe key that reads `text` (null counts as empty) in place rather than copying it:
    /// for keys built on the stack for one lookup. The object must not outlive `text`; a later
    /// change of its text first gives it a buffer of its own.
    OxRxTextString(const OXCHAR* text, int mode, BorrowText) noexcept;

private:
    /// Forgets a borrowed text without releasing it, so the object holds no buffer.
    void dropBorrowedText() noexcept;

    std::uint32_t mLength = 0;
    std::uint32_t mCapacity = 0; // units the buffer holds without its terminator
    OXCHAR* mpBuffer = nullptr;  // capacity + 1 units, or null while nothing was ever stored
    int mMode = 0;
    bool mBorrowed = false; // mpBuffer is the caller's text, read in place and never released
    // Invariant: mLength <= mCapacity; when mLength != 0, mpBuffer[0..mLength) is the text and
    // mpBuffer[mLength] == 0.
};

/// The comparison behind isEqualTo and compareText, for two terminated texts (null = empty):
/// -1, 0 or 1, ASCII letters folded to lower case; from the first unit of 0x80 or above or a
/// control character other than the terminator, the rest is compared with _wcsicmp.
OXFIRST_API int oxrxCompareTextNoCase(const OXCHAR* left, const OXCHAR* right) noexcept;
