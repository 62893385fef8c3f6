// tests/strings/StringStorageTest.cpp
// OxString's storage: where each length lands, moves between kinds (appends, copies, produced and
// cached forms), the cached narrow encoding, missing converters, aliasing, numeric constructors.

#include "StringTestSupport.h"

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

// Off-by-one in the inline capacities (14 bytes, 6 units are the last inline); null and NUL give empty.
TEST_F(StringStorage, EveryLengthLandsInTheRightKindAndReadsBack)
{
    using enum OxString::Kind;
    for (std::size_t length = 0; length <= 20; ++length) {
        const std::u16string units(length, u'w');
        const OxString narrow(std::string(length, 'w').c_str(), false), wide(units.c_str());
        EXPECT_TRUE(holds(narrow, length == 0 ? kEmpty : length <= 14 ? kInlineNarrow : kHeapNarrow, units));
        EXPECT_TRUE(holds(wide, length == 0 ? kEmpty : length <= 6 ? kInlineWide : kHeapWide, units));
        EXPECT_EQ(static_cast<int>(length), wide.length());
    }
    for (const OxString& empty :
         {OxString(static_cast<const OXCHAR*>(nullptr)), OxString(static_cast<const char*>(nullptr), false),
          OxString(static_cast<const char*>(nullptr), true), OxString('\0'), OxString(u'\0')})
        EXPECT_EQ(OxString::kEmpty, empty.kind());
    EXPECT_TRUE(holds(OxString(u'x'), OxString::kInlineWide, u"x"));
    EXPECT_EQ(OxString::kInlineNarrow, OxString('x').kind());
}

// Appends in the wrong kind: narrow grows inline to 14 bytes, then to the heap; wide text makes it
// wide-only; printable ASCII keeps wide wide (isAscii: printable only), a control byte makes it
// narrow; narrow+narrow stays narrow, else the argument caches its wide form; concat and precat
// leave the receiver alone.
TEST_F(StringStorage, AppendsChooseTheKindByWhatIsPrintableAscii)
{
    EXPECT_TRUE(OxString().isAscii() && OxString(u"Plain text ~\x7F").isAscii());
    EXPECT_FALSE(OxString(u"line\n").isAscii() || OxString("caf\xE9", false).isAscii() ||
                 OxString(u"caf\u00E9").isAscii());
    const OxString narrow = appended(OxString("abcdefghijk", false), "lmn");
    EXPECT_EQ(OxString::kInlineNarrow, narrow.kind());
    EXPECT_TRUE(holds(appended(narrow, OxString("o", false)), OxString::kHeapNarrow, u"abcdefghijklmno"));
    EXPECT_TRUE(holds(appended(OxString("abc", false), u"x"), OxString::kInlineWide, u"abcx"));
    EXPECT_TRUE(holds(appended(OxString("abcdef", false), u"\u00E9"), OxString::kHeapWide, u"abcdef\u00E9"));
    EXPECT_TRUE(holds(appended(OxString(u"xyab"), "cdef"), OxString::kHeapWide, u"xyabcdef"));
    EXPECT_TRUE(holds(appended(OxString(u"x\u00E9"), "a\tb"), OxString::kHeapNarrow, u"x\u00E9a\tb"));
    OxString argument("c\xE9", false);
    EXPECT_TRUE(holds(appended(OxString(u"ab"), argument), OxString::kInlineWide, u"abc\u00E9"));
    EXPECT_EQ(OxString::kHeapDual, argument.kind());
    EXPECT_TRUE(holds(appended(OxString(), argument), OxString::kInlineWide, u"c\u00E9"));
    const OxString base(u"mid");
    EXPECT_EQ(u"mid!", wideText(base.concat(u"!")));
    EXPECT_EQ(u">mid", wideText(base.precat(">")));
    EXPECT_EQ(u"<<mid", wideText(base.precat(u"<<")));
    EXPECT_EQ(u"mid", wideText(base));
    EXPECT_STREQ("ab!", OxString("ab", false).concat("!").ansiPtr());
}

// A produced form converted again on every call, a kind-4 array that moves when the narrow form is
// added, a second narrow encoding (the first accessor fixes it), an unconvertible unit lost, a crash
// or garbage without converters.
TEST_F(StringStorage, ProducedFormsAreCachedInTheEncodingFirstAskedFor)
{
    OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(countingToWide);
    gConversions = 0;
    OxString s("a\xE9z", false);
    const OXCHAR* wide = s.kwszPtr();
    EXPECT_TRUE(holds(s, OxString::kHeapDual, u"a\u00E9z"));
    EXPECT_STREQ("a\xE9z", s.ansiPtr());
    EXPECT_TRUE(wide == s.kwszPtr() && s.length() == 3 && gConversions == 1);

    OxString heap(u"0123456789");
    const OXCHAR* before = heap.kwszPtr();
    heap.ansiPtr();
    EXPECT_TRUE(heap.kind() == OxString::kHeapDual && heap.kwszPtr() == before);

    OxString utf8First(u"\u00E9"), ansiFirst(u"\u00E9"), escaped(u"a\u4E00");
    EXPECT_STREQ("\xC3\xA9", utf8First.utf8Ptr());
    EXPECT_STREQ("\xC3\xA9", utf8First.ansiPtr());
    EXPECT_STREQ("\xE9", ansiFirst.ansiPtr());
    EXPECT_STREQ("\xE9", ansiFirst.utf8Ptr());
    EXPECT_STREQ("a\\U+4E00", escaped.ansiPtr());
    EXPECT_EQ(u"a\u4E00", wideText(OxString(escaped.ansiPtr(), false)));

    install(false); // without converters a produced form is the empty text; UTF-8 needs none
    OxString narrow("abc", false);
    EXPECT_STREQ("", OxString(u"abc").ansiPtr());
    EXPECT_EQ(u"", wideText(narrow));
    EXPECT_TRUE(narrow.length() == 0 && !narrow.isEmpty());
    EXPECT_EQ(u"x", wideText(appended(OxString("abc", false), u"x")));
    EXPECT_STREQ("\xC3\xA9", OxString(u"\u00E9").utf8Ptr());
}

// Copies that drag the cached second form along or keep short narrow text on the heap; moves that
// copy or leave storage behind; own text as the argument read after its storage is released.
TEST_F(StringStorage, CopiesKeepOneFormMovesTakeEverythingAndOwnTextIsSafe)
{
    OxString dual = dualString("abc");
    EXPECT_TRUE(holds(OxString(dual), OxString::kInlineWide, u"abc"));
    const OxString shortHeapNarrow = appended(OxString(u"x\u00E9"), "\t"); // narrow only, on the heap
    ASSERT_EQ(OxString::kHeapNarrow, shortHeapNarrow.kind());
    EXPECT_EQ(OxString::kInlineNarrow, OxString(shortHeapNarrow).kind());

    OxString assigned(u"old text on the heap");
    assigned = dual;
    assigned.assign(assigned);
    EXPECT_EQ(u"abc", wideText(assigned));

    OxString moved(std::move(dual));
    EXPECT_TRUE(moved.kind() == OxString::kHeapDual && dual.isEmpty());
    assigned = std::move(moved);
    EXPECT_TRUE(assigned.kind() == OxString::kHeapDual && moved.isEmpty());

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
        EXPECT_EQ(text + text + text + text, s.ansiPtr());
        s.assign(s.ansiPtr() + 2);
        EXPECT_EQ((text + text + text + text).substr(2), s.ansiPtr());
    }
}

// Numbers: selectors beyond the low 10 bits, the most negative value, lower-case hex.
TEST_F(StringStorage, NumericConstructorsWriteTheirDigits)
{
    EXPECT_EQ(u"-2147483648", wideText(OxString(OxString::kFormatSigned, 0x80000000u)));
    EXPECT_EQ(u"-1", wideText(OxString(OxString::kFormatSigned, 0xFFFFFFFFu)));
    EXPECT_EQ(u"4294967295", wideText(OxString(OxString::kFormatUnsigned, 0xFFFFFFFFu)));
    EXPECT_EQ(u"ff", wideText(OxString(OxString::kFormatHex, 255)));
    EXPECT_EQ(u"ff", wideText(OxString(0x404, 255)));
    EXPECT_TRUE(OxString(5, 255).isEmpty() && OxString(-1, 255).isEmpty());
    EXPECT_EQ(u"0", wideText(OxString(OxDbHandle(0))));
    EXPECT_EQ(u"1f", wideText(OxString(OxDbHandle(0x1F))));
    OxString handle;
    handle.assign(OxDbHandle(~0ull));
    EXPECT_TRUE(holds(handle, OxString::kHeapWide, u"ffffffffffffffff"));
}
