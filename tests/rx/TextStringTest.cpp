// tests/rx/TextStringTest.cpp
// The text key: the folding order and its hand-over to the C runtime, null against empty texts,
// its buffer, and probe keys that borrow the caller's text.

#include <oxfirst/OxRxTextString.h>

#include "support/RxTestSupport.h"

#include <cstdlib>
#include <tuple>

namespace {

// Folding to upper case would put '_' after the letters; stopping at the shorter text would call
// prefixes equal; non-ASCII and control characters hand both rests over, still without ASCII case.
// Keys compare through the object interface: empty and null texts, objects that are not text.
TEST(TextOrder, FoldsAsciiToLowerCaseHandsTheRestOverAndTellsNullFromEmpty)
{
    const std::tuple<const OXCHAR*, const OXCHAR*, int> orders[] = {
        {u"AA", u"a_", 1},           {u"ab", u"ABC", -1},
        {nullptr, u"", 0},           {u"", u"a", -1},
        {u"a\u00E9", u"aZ", 1},      {u"a\tB", u"A\tb", 0},
        {u"\u00E9x", u"\u00E9X", 0}, {u"\u00C4", u"\u00E4", -1}};
    for (const auto& [left, right, expected] : orders) {
        SCOPED_TRACE(::testing::PrintToString(left) + " against " + ::testing::PrintToString(right));
        EXPECT_EQ(expected, oxrxCompareTextNoCase(left, right));
        EXPECT_EQ(-expected, oxrxCompareTextNoCase(right, left));
    }

    OxRxTextString abc(u"ABC"), lower(u"abc"), never, emptied(u"x"), other(u"y");
    emptied.setText(u"");
    other.setText(u"");
    oxtest::TestObject notText;
    EXPECT_TRUE(abc.isEqualTo(&lower) && never.isEqualTo(&emptied));
    EXPECT_FALSE(abc.isEqualTo(&never) || abc.isEqualTo(&notText) || abc.isEqualTo(nullptr));
    EXPECT_EQ(1, abc.compareText(&never));      // other text null
    EXPECT_EQ(0, never.compareText(&never));    // both null
    EXPECT_EQ(-1, never.compareText(&abc));     // own text empty
    EXPECT_EQ(-1, emptied.compareText(&other)); // empty with buffer against empty with buffer
    EXPECT_EQ(1, abc.compareText(&notText));
    EXPECT_EQ(OxRx::kOrderNone, abc.comparedTo(&notText));
}

// A text that fits keeps the buffer; reads past the end answer 0; a text never set has no buffer.
// Texts from the object's own buffer survive its replacement or reuse; copies carry the text.
TEST(TextStringBuffer, ReusedAndSafeWithItsOwnTextAsSource)
{
    OxRxTextString text(nullptr, 5);
    EXPECT_TRUE(text.text() == nullptr && text.duplicate() == nullptr && text.charAt(0) == u'\0');
    text.setText(u"abcd");
    const OXCHAR* buffer = text.text();
    text.setText(u"ab");
    EXPECT_EQ(buffer, text.text());
    EXPECT_EQ(u'\0', text.at(2));
    text.setText(u"abcd");
    text.appendText(&text);
    EXPECT_EQ(std::u16string(u"abcdabcd"), text.text());
    text.setText(text.text() + 6);
    text.copyText(&text);
    text.appendText(&text); // in place: the source's terminator is overwritten first
    EXPECT_EQ(std::u16string(u"cdcd"), text.text());
    std::unique_ptr<OxRxObject> clone(text.clone());
    EXPECT_TRUE(clone->isEqualTo(&text));
    OXCHAR* duplicate = text.duplicate(); // from malloc: released with free
    EXPECT_EQ(std::u16string(u"cdcd"), duplicate);
    std::free(duplicate);
}

// A probe key reads the caller's text in place; a change gives it a buffer of its own and never
// writes into, or releases, the caller's text (sanitizer).
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
