// tests/rx/TextStringTest.cpp
// The text key: the lower-case folding order with its hand-over to the C runtime, null against
// empty texts, the buffer that is reused until a longer text arrives, and copies.

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
    const Order orders[] = {{u"ABC", u"abc", 0},         {u"a_", u"aa", -1},
                            {u"AA", u"a_", 1},           {u"_", u"A", -1},
                            {u"ab", u"abc", -1},         {u"abc", u"AB", 1},
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
    EXPECT_EQ(OxRx::kOrderEqual, abc.comparedTo(&lower));
    EXPECT_TRUE(never.isEqualTo(&emptied));
    EXPECT_FALSE(abc.isEqualTo(&never) || abc.isEqualTo(&notText) || abc.isEqualTo(nullptr));
    EXPECT_EQ(1, abc.compareText(&never));      // other text null
    EXPECT_EQ(0, never.compareText(&never));    // both null
    EXPECT_EQ(-1, never.compareText(&abc));     // own text empty
    EXPECT_EQ(-1, emptied.compareText(&other)); // empty with buffer against empty with buffer
    EXPECT_EQ(1, abc.compareText(&notText));
    EXPECT_EQ(OxRx::kOrderNone, abc.comparedTo(&notText));
}

// A text that fits keeps the buffer (only a longer one replaces it); reads past the end answer
// 0, and a text that never held anything has no buffer and no duplicate.
TEST(TextStringBuffer, ReusedUntilALongerTextArrives)
{
    const std::u16string ten(10, u'a'), twenty(20, u'b');
    OxRxTextString text(nullptr, 5);
    EXPECT_EQ(nullptr, text.text());
    EXPECT_EQ(nullptr, text.duplicate());
    EXPECT_EQ(u'\0', text.charAt(0));
    text.setText(twenty.c_str());
    const OXCHAR* buffer = text.text();
    text.setText(ten.c_str());
    EXPECT_EQ(buffer, text.text());
    EXPECT_EQ(u'\0', text.at(10));
    text.setText(u"");
    EXPECT_EQ(std::u16string(), text.text());
}

// Texts taken from the object's own buffer must survive the buffer's replacement or reuse.
TEST(TextStringBuffer, OwnTextAsSourceIsSafe)
{
    OxRxTextString text(u"abcd");
    text.appendText(&text);
    EXPECT_EQ(std::u16string(u"abcdabcd"), text.text());
    text.setText(text.text() + 6);
    EXPECT_EQ(std::u16string(u"cd"), text.text());
    text.copyText(&text);
    EXPECT_EQ(std::u16string(u"cd"), text.text());
    text.appendText(&text); // in place: the source's terminator is overwritten first
    EXPECT_EQ(std::u16string(u"cdcd"), text.text());
}

// Copies carry the text, never the mode; duplicate() belongs to the C runtime's heap.
TEST(TextStringCopy, CloneCopyAndDuplicateTakeTheTextButNotTheMode)
{
    OxRxTextString original(u"Key", 3);
    std::unique_ptr<OxRxObject> clone(original.clone());
    OxRxTextString copy(original);
    EXPECT_EQ(std::u16string(u"Key"), copy.text());
    EXPECT_TRUE(copy.isEqualTo(clone.get()));
    EXPECT_EQ(0, static_cast<OxRxTextString*>(clone.get())->mode() + copy.mode());
    OXCHAR* duplicate = original.duplicate();
    EXPECT_EQ(std::u16string(u"Key"), duplicate);
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
    EXPECT_EQ(6u, probe.textLength());
    EXPECT_TRUE(probe.isEqualTo(&probe));
    OxRxTextString copy(u"CALLER");
    EXPECT_EQ(OxRx::kOrderEqual, probe.comparedTo(&copy));

    Probe appended(caller);
    appended.appendText(&copy);
    EXPECT_EQ(std::u16string(u"CallerCALLER"), appended.constText());
    Probe emptied(caller);
    emptied.copyText(&copy);
    EXPECT_EQ(std::u16string(u"CALLER"), emptied.constText());
    Probe replaced(caller);
    replaced.setText(u"x");
    EXPECT_EQ(std::u16string(u"x"), replaced.constText());
    Probe fromItself(caller);
    fromItself.setText(fromItself.constText());
    EXPECT_NE(caller, fromItself.constText());
    EXPECT_EQ(std::u16string(u"Caller"), caller);
    EXPECT_EQ(nullptr, Probe(nullptr).constText());
}

} // namespace
