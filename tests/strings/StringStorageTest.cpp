// tests/strings/StringStorageTest.cpp
// OxString's storage: where each length lands, the moves between kinds
// (appends, copies, produced and cached forms), which narrow encoding the cache holds, missing
// converters, aliasing arguments, and the numeric constructors.

#include "StringTestSupport.h"

#include <cstring>
#include <string>

using namespace oxtest;

namespace {

// `s` with `tail` appended (returned by move, which keeps the kind).
template <typename Tail>
OxString appended(OxString s, const Tail& tail)
{
    s.append(tail);
    return s;
}

class StringStorage : public WithHostConverters {};

} // namespace

// Off-by-one in the inline capacities (14 bytes, 6 units are the last inline); null and NUL
// arguments must give the empty kind.
TEST_F(StringStorage, EveryLengthLandsInTheRightKindAndReadsBack)
{
    for (std::size_t length = 0; length <= 20; ++length) {
        const auto kind = [length](std::size_t last, OxString::Kind inlined, OxString::Kind heap) {
            return length == 0 ? OxString::kEmpty : length <= last ? inlined : heap;
        };
        const std::string bytes(length, 'n');
        const std::u16string units(length, u'w');
        EXPECT_TRUE(holds(OxString(bytes.c_str(), false),
                          kind(14, OxString::kInlineNarrow, OxString::kHeapNarrow), bytes));
        EXPECT_TRUE(
            holds(OxString(units.c_str()), kind(6, OxString::kInlineWide, OxString::kHeapWide), units));
        EXPECT_EQ(static_cast<int>(length), OxString(units.c_str()).length());
    }
    for (const OxString& empty :
         {OxString(static_cast<const OXCHAR*>(nullptr)), OxString(static_cast<const char*>(nullptr), false),
          OxString(static_cast<const char*>(nullptr), true), OxString('\0'), OxString(u'\0')})
        EXPECT_EQ(OxString::kEmpty, empty.kind());
    EXPECT_EQ(u"x", wideText(OxString(u'x')));
    EXPECT_EQ(OxString::kInlineNarrow, OxString('x').kind());
}

// Appends landing in the wrong kind: narrow grows inline to 14 bytes then to the heap; wide text
// makes narrow wide-only; printable ASCII keeps wide wide, a control byte makes it narrow-only;
// append(OxString) keeps narrow+narrow narrow, else caches the argument's wide form; concat and
// precat leave the receiver alone.
TEST_F(StringStorage, AppendsChooseTheKindByTheirText)
{
    using N = std::string;
    using W = std::u16string;
    const OxString narrow = appended(OxString("abcdefghijk", false), "lmn");
    EXPECT_EQ(OxString::kInlineNarrow, narrow.kind());
    EXPECT_TRUE(holds(appended(narrow, OxString("o", false)), OxString::kHeapNarrow, N("abcdefghijklmno")));
    EXPECT_TRUE(holds(appended(OxString("abc", false), u"x"), OxString::kInlineWide, W(u"abcx")));
    EXPECT_TRUE(
        holds(appended(OxString("abcdef", false), u"\u00E9"), OxString::kHeapWide, W(u"abcdef\u00E9")));
    EXPECT_TRUE(holds(appended(OxString(u"xyab"), "cdef"), OxString::kHeapWide, W(u"xyabcdef")));
    EXPECT_TRUE(holds(appended(OxString(u"x\u00E9"), "a\tb"), OxString::kHeapNarrow, N("x\xE9\x61\tb")));
    OxString argument("c\xE9", false);
    EXPECT_TRUE(holds(appended(OxString(u"ab"), argument), OxString::kInlineWide, W(u"abc\u00E9")));
    EXPECT_EQ(OxString::kHeapDual, argument.kind());
    EXPECT_TRUE(holds(appended(OxString(), argument), OxString::kInlineWide, W(u"c\u00E9")));
    const OxString base(u"mid");
    EXPECT_EQ(u"mid!", wideText(base.concat(u"!")));
    EXPECT_EQ(u">mid", wideText(base.precat(">")));
    EXPECT_EQ(u"<<mid", wideText(base.precat(u"<<")));
    EXPECT_EQ(u"mid", wideText(base));
    EXPECT_EQ("ab!", narrowText(OxString("ab", false).concat("!")));
}

// A produced wide form that is converted again on every call, or a kind-4 array that moves
// when the narrow form is added.
TEST_F(StringStorage, ProducedWideFormIsCachedWithTheNarrowBytes)
{
    OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(countingToWide);
    gConversions = 0;
    OxString s("a\xE9z", false);
    const OXCHAR* wide = s.kwszPtr();
    EXPECT_EQ(OxString::kHeapDual, s.kind());
    EXPECT_EQ(u"a\u00E9z", std::u16string(wide));
    EXPECT_EQ("a\xE9z", std::string(s.ansiPtr()));
    EXPECT_EQ(wide, s.kwszPtr());
    EXPECT_EQ(3, s.length());
    EXPECT_EQ(1, gConversions);

    OxString heap(u"0123456789");
    const OXCHAR* before = heap.kwszPtr();
    heap.ansiPtr();
    EXPECT_EQ(OxString::kHeapDual, heap.kind());
    EXPECT_EQ(before, heap.kwszPtr());
}

// The cache holds one narrow form: the first accessor fixes its encoding for both; a unit the
// page lacks must come back whole through the host's escape.
TEST_F(StringStorage, FirstNarrowAccessorFixesTheCachedEncoding)
{
    OxString utf8First(u"\u00E9"), ansiFirst(u"\u00E9"), escaped(u"a\u4E00");
    EXPECT_EQ("\xC3\xA9", std::string(utf8First.utf8Ptr()));
    EXPECT_EQ("\xC3\xA9", std::string(utf8First.ansiPtr()));
    EXPECT_EQ("\xE9", std::string(ansiFirst.ansiPtr()));
    EXPECT_EQ("\xE9", std::string(ansiFirst.utf8Ptr()));
    EXPECT_EQ("a\\U+4E00", std::string(escaped.ansiPtr()));
    EXPECT_EQ(u"a\u4E00", wideText(OxString(escaped.ansiPtr(), false)));
}

// A crash or garbage without converters: a produced form is the empty text; UTF-8 needs none.
TEST_F(StringStorage, MissingConvertersYieldEmptyForms)
{
    TearDown();
    OxString narrow("abc", false);
    EXPECT_STREQ("", OxString(u"abc").ansiPtr());
    EXPECT_EQ(u"", wideText(narrow));
    EXPECT_EQ(0, narrow.length());
    EXPECT_FALSE(narrow.isEmpty());
    EXPECT_EQ(u"x", wideText(appended(OxString("abc", false), u"x")));
    EXPECT_STREQ("\xC3\xA9", OxString(u"\u00E9").utf8Ptr());
}

// Copies that drag the cached second form along or keep short narrow text on the heap; moves
// that copy or leave the source holding storage; self-assignment that frees first.
TEST_F(StringStorage, CopiesKeepOneFormAndMovesTakeEverything)
{
    OxString dual = dualString("abc");
    EXPECT_TRUE(holds(OxString(dual), OxString::kInlineWide, std::u16string(u"abc")));
    const OxString shortHeapNarrow = appended(OxString(u"x\u00E9"), "\t"); // narrow only, on the heap
    ASSERT_EQ(OxString::kHeapNarrow, shortHeapNarrow.kind());
    EXPECT_EQ(OxString::kInlineNarrow, OxString(shortHeapNarrow).kind());

    OxString assigned(u"old text on the heap");
    assigned = dual;
    assigned.assign(assigned);
    EXPECT_EQ(u"abc", wideText(assigned));

    OxString moved(std::move(dual));
    EXPECT_EQ(OxString::kHeapDual, moved.kind());
    EXPECT_TRUE(dual.isEmpty());
    assigned = std::move(moved);
    EXPECT_EQ(OxString::kHeapDual, assigned.kind());
    EXPECT_TRUE(moved.isEmpty());
}

// Arguments that point into the string's own storage must be read before it is released.
TEST_F(StringStorage, ArgumentsIntoOwnStorageAreSafe)
{
    for (const std::u16string text : {u"abc", u"a longer wide text"}) {
        OxString s(text.c_str());
        s.append(s);
        s.assign(s.kwszPtr() + 1);
        EXPECT_EQ((text + text).substr(1), wideText(s));
    }
    for (const std::string text : {"abc", "a longer narrow text"}) {
        OxString s(text.c_str(), false);
        s.append(s);
        s.append(s.ansiPtr());
        EXPECT_EQ(text + text + text + text, narrowText(s));
        s.assign(s.ansiPtr() + 2);
        EXPECT_EQ((text + text + text + text).substr(2), narrowText(s));
    }
}

// Control characters or non-ASCII taken for printable ASCII, in either form.
TEST_F(StringStorage, IsAsciiMeansPrintableOnly)
{
    EXPECT_TRUE(OxString().isAscii());
    EXPECT_TRUE(OxString(u"Plain text ~\x7F").isAscii());
    EXPECT_FALSE(OxString(u"line\n").isAscii());
    EXPECT_FALSE(OxString("caf\xE9", false).isAscii());
    EXPECT_FALSE(OxString(u"caf\u00E9").isAscii());
}

// Numbers: selectors beyond the low 10 bits, the most negative value, lower-case hex.
TEST_F(StringStorage, NumericConstructorsWriteTheirDigits)
{
    EXPECT_EQ(u"-2147483648", wideText(OxString(OxString::kFormatSigned, 0x80000000u)));
    EXPECT_EQ(u"-1", wideText(OxString(OxString::kFormatSigned, 0xFFFFFFFFu)));
    EXPECT_EQ(u"4294967295", wideText(OxString(OxString::kFormatUnsigned, 0xFFFFFFFFu)));
    EXPECT_EQ(u"ff", wideText(OxString(OxString::kFormatHex, 255)));
    EXPECT_EQ(u"ff", wideText(OxString(0x404, 255)));
    EXPECT_TRUE(OxString(5, 255).isEmpty());
    EXPECT_TRUE(OxString(-1, 255).isEmpty());
    EXPECT_EQ(u"0", wideText(OxString(OxDbHandle(0))));
    EXPECT_EQ(u"1f", wideText(OxString(OxDbHandle(0x1F))));
    OxString handle;
    handle.assign(OxDbHandle(~0ull));
    EXPECT_TRUE(holds(handle, OxString::kHeapWide, std::u16string(u"ffffffffffffffff")));
}
