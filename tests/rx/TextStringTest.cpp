// tests/rx/TextStringTest.cpp
// The text key: the lower-case folding order with its hand-over to the C runtime, null against
// empty texts, its buffer, and probe keys that borrow the caller's text.

#include <oxfirst/OxRxTextString.h>

#include "support/RxTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct Order {
    const OXCHAR* left;
    const OXCHAR* right;
    int expected;
};

// Folding to upper case would put '_' after the letters; a comparison that stopped at the
// shorter text would call prefixes equal; non-ASCII and control characters hand the rest of
// both texts over, which compares ASCII letters without case too.
TEST(TextOrder, FoldsAsciiToLowerCaseAndHandsTheRestOver)
{
    const Order orders[] = {{u"AA", u"a_", 1},           {u"ab", u"ABC", -1},
                            {nullptr, u"", 0},           {u"", u"a", -1},
                            {u"a\u00E9", u"aZ", 1},      {u"a\tB", u"A\tb", 0},
                            {u"\u00E9x", u"\u00E9X", 0}, {u"\u00C4", u"\u00E4", -1}};
    for (const Order& o : orders) {
        SCOPED_TRACE(testing::Message() << "row " << (&o - orders));
        EXPECT_EQ(o.expected, oxrxCompareTextNoCase(o.left, o.right));
        EXPECT_EQ(-o.expected, oxrxCompareTextNoCase(o.right, o.left));
    }
}

// Keys compare through the object interface: empty and null texts, objects that are not text.
TEST(TextStringCompare, EmptyNullAndForeignObjects)
{
    OxRxTextString abc(u"ABC"), lower(u"abc"), never, emptied(u"x"), other(u"y");
    emptied.setText(u"");
    other.setText(u"");
    oxtest::TestObject notText;
    EXPECT_TRUE(abc.isEqualTo(&lower));
    EXPECT_TRUE(never.isEqualTo(&emptied));
    EXPECT_FALSE(abc.isEqualTo(&never) || abc.isEqualTo(&notText) || abc.isEqualTo(nullptr));
    EXPECT_EQ(1, abc.compareText(&never));      // other text null
    EXPECT_EQ(0, never.compareText(&never));    // both null
    EXPECT_EQ(-1, never.compareText(&abc));     // own text empty
    EXPECT_EQ(-1, emptied.compareText(&other)); // empty with buffer against empty with buffer
    EXPECT_EQ(1, abc.compareText(&notText));
    EXPECT_EQ(OxRx::kOrderNone, abc.comparedTo(&notText));
}

// A text that fits keeps the buffer; reads past the end answer 0, and a text that never held
// anything has no buffer. Texts taken from the object's own buffer must survive the buffer's
// replacement or reuse; clones and duplicates carry the text.
TEST(TextStringBuffer, ReusedAndSafeWithItsOwnTextAsSource)
{
    OxRxTextString text(nullptr, 5);
    EXPECT_EQ(nullptr, text.text());
    EXPECT_EQ(nullptr, text.duplicate());
    EXPECT_EQ(u'\0', text.charAt(0));
    text.setText(u"abcd");
    const OXCHAR* buffer = text.text();
    text.setText(u"ab");
    EXPECT_EQ(buffer, text.text());
    EXPECT_EQ(u'\0', text.at(2));
    text.setText(u"abcd");
    text.appendText(&text);
    EXPECT_EQ(std::u16string(u"abcdabcd"), text.text());
    text.setText(text.text() + 6);
    EXPECT_EQ(std::u16string(u"cd"), text.text());
    text.copyText(&text);
    EXPECT_EQ(std::u16string(u"cd"), text.text());
    text.appendText(&text); // in place: the source's terminator is overwritten first
    EXPECT_EQ(std::u16string(u"cdcd"), text.text());
    std::unique_ptr<OxRxObject> clone(text.clone());
    EXPECT_TRUE(clone->isEqualTo(&text));
    OXCHAR* duplicate = text.duplicate(); // from malloc: released with free
    EXPECT_EQ(std::u16string(u"cdcd"), duplicate);
    std::free(duplicate);
}

// A probe key reads the caller's text in place; changing it must give it a buffer of its own
// and never write into, or release, the caller's text (the sanitizer run catches a release).
TEST(TextStringBuffer, BorrowedTextIsNeverWrittenOrReleased)
{
    struct Probe : OxRxTextString {
        Probe(const OXCHAR* text) : OxRxTextString(text, 3, BorrowText{}) {}
    };
    const OXCHAR caller[] = u"Caller";
    Probe probe(caller);
    EXPECT_EQ(caller, probe.constText());
    OxRxTextString copy(u"CALLER");
    EXPECT_EQ(OxRx::kOrderEqual, probe.comparedTo(&copy));
    Probe appended(caller);
    appended.appendText(&copy);
    EXPECT_EQ(std::u16string(u"CallerCALLER"), appended.constText());
    Probe replaced(caller);
    replaced.setText(u"x");
    Probe fromItself(caller);
    fromItself.setText(fromItself.constText());
    EXPECT_NE(caller, fromItself.constText());
    EXPECT_EQ(std::u16string(u"Caller"), caller);
    EXPECT_EQ(nullptr, Probe(nullptr).constText());
}

} // namespace
