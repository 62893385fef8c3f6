// tests/strings/StringStorageTest.cpp
// OxString's storage: the 16-byte layout, where each length lands, the moves between kinds
// (appends, copies, produced and cached forms), which narrow encoding the cache holds, missing
// converters, aliasing arguments, and the numeric constructors.

#include "StringTestSupport.h"

#include <climits>
#include <cstring>
#include <string>

using namespace oxtest;

namespace {

// A converter that counts its calls and forwards to the host's.
int gConversions = 0;
int countingToWide(unsigned int codePage, int flags, const char* source, int length, OXCHAR* out,
                   int capacity)
{
    ++gConversions;
    return oxHostMultiByteToWideChar(codePage, flags, source, length, out, capacity);
}
int countingToNarrow(unsigned int codePage, std::uint32_t flags, const OXCHAR* source, int length, char* out,
                     int capacity, std::uint32_t extraFlags)
{
    ++gConversions;
    return oxHostWideCharToMultiByte(codePage, flags, source, length, out, capacity, extraFlags);
}

void* storedPointer(const OxString& s)
{
    void* p;
    std::memcpy(&p, reinterpret_cast<const unsigned char*>(&s) + 8, sizeof p);
    return p;
}

class StringStorage : public WithHostConverters {};

} // namespace

// The interface fixes the bytes: kind in byte 0, narrow text from byte 1, wide text from byte 2
// behind a zero byte, the heap pointer at byte 8.
TEST_F(StringStorage, LayoutPutsKindTextAndPointerWhereTheInterfaceSays)
{
    OxString narrow("abc", false);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&narrow);
    EXPECT_EQ(OxString::kInlineNarrow, bytes[0]);
    EXPECT_EQ(0, std::memcmp(bytes + 1, "abc", 4));

    OxString wide(u"abc");
    bytes = reinterpret_cast<const unsigned char*>(&wide);
    EXPECT_EQ(OxString::kInlineWide, bytes[0]);
    EXPECT_EQ(0, bytes[1]);
    EXPECT_EQ(0, std::memcmp(bytes + 2, u"abc", 8));

    OxString heap(u"abcdefgh");
    EXPECT_EQ(OxString::kHeapWide, reinterpret_cast<const unsigned char*>(&heap)[0]);
    EXPECT_EQ(static_cast<const void*>(heap.kwszPtr()), storedPointer(heap));

    OxString empty;
    EXPECT_EQ(nullptr, storedPointer(empty));
    EXPECT_EQ(0, reinterpret_cast<const unsigned char*>(&empty)[0]);
}

// Off-by-one in the inline capacities: 14 bytes and 6 units are the last that stay inline.
TEST_F(StringStorage, EveryLengthLandsInTheRightKindAndReadsBack)
{
    for (std::size_t length = 0; length <= 20; ++length) {
        const std::string bytes(length, 'n');
        const std::u16string units(length, u'w');
        OxString narrow(bytes.c_str(), false);
        OxString wide(units.c_str());
        const auto narrowKind = length == 0    ? OxString::kEmpty
                                : length <= 14 ? OxString::kInlineNarrow
                                               : OxString::kHeapNarrow;
        const auto wideKind = length == 0   ? OxString::kEmpty
                              : length <= 6 ? OxString::kInlineWide
                                            : OxString::kHeapWide;
        EXPECT_EQ(narrowKind, narrow.kind()) << length;
        EXPECT_EQ(wideKind, wide.kind()) << length;
        EXPECT_EQ(bytes, narrow.ansiPtr());
        EXPECT_EQ(units, wide.kwszPtr());
        EXPECT_EQ(static_cast<int>(length), wide.length());
    }
    EXPECT_EQ(OxString::kEmpty, OxString(static_cast<const OXCHAR*>(nullptr)).kind());
    EXPECT_EQ(OxString::kEmpty, OxString(static_cast<const char*>(nullptr), false).kind());
    EXPECT_EQ(OxString::kEmpty, OxString(static_cast<const char*>(nullptr), true).kind());
    EXPECT_EQ(OxString::kEmpty, OxString('\0').kind());
    EXPECT_EQ(OxString::kEmpty, OxString(u'\0').kind());
    EXPECT_EQ(u"x", wideText(OxString(u'x')));
    EXPECT_EQ(OxString::kInlineNarrow, OxString('x').kind());
}

// Narrow inline text grows in place up to 14 bytes, then moves to an exact heap array.
TEST_F(StringStorage, NarrowAppendStaysInlineWhileItFits)
{
    OxString s("abcdefghijk", false);
    s.append("lmn");
    EXPECT_EQ(OxString::kInlineNarrow, s.kind());
    s.append("o");
    EXPECT_EQ(OxString::kHeapNarrow, s.kind());
    EXPECT_EQ("abcdefghijklmno", narrowText(s));
}

// Appending wide text always gives wide-only text: a narrow string is converted (not cached).
TEST_F(StringStorage, WideAppendToNarrowGivesWideOnly)
{
    OxString s("abc", false);
    s.append(u"x");
    EXPECT_EQ(OxString::kInlineWide, s.kind());
    EXPECT_EQ(u"abcx", wideText(s));

    OxString longer("abcdef", false);
    longer.append(u"\u00E9");
    EXPECT_EQ(OxString::kHeapWide, longer.kind());
    EXPECT_EQ(u"abcdef\u00E9", wideText(longer));
}

// Printable ASCII keeps a wide string wide; a control byte turns it into narrow-only text.
TEST_F(StringStorage, NarrowAppendToWideDependsOnPrintableBytes)
{
    OxString wide(u"xy");
    wide.append("ab");
    EXPECT_EQ(OxString::kInlineWide, wide.kind());
    EXPECT_EQ(u"xyab", wideText(wide));
    wide.append("cdef");
    EXPECT_EQ(OxString::kHeapWide, wide.kind());
    EXPECT_EQ(u"xyabcdef", wideText(wide));

    OxString withTab(u"x\u00E9");
    withTab.append("a\tb");
    EXPECT_EQ(OxString::kHeapNarrow, withTab.kind());
    EXPECT_EQ("x\xE9"
              "a\tb",
              narrowText(withTab));
}

// The wide form of a narrow string is produced once and cached beside the bytes; the narrow
// bytes then come back without another conversion.
TEST_F(StringStorage, ProducedWideFormIsCachedWithTheNarrowBytes)
{
    OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(countingToWide);
    OxRxTypeSysCallbacks::setCallback_WideCharToMultiByteCIF(countingToNarrow);
    gConversions = 0;
    OxString s("a\xE9z", false);
    const OXCHAR* wide = s.kwszPtr();
    EXPECT_EQ(OxString::kHeapDual, s.kind());
    EXPECT_EQ(u"a\u00E9z", std::u16string(wide));
    EXPECT_EQ("a\xE9z", std::string(s.ansiPtr()));
    EXPECT_EQ(wide, s.kwszPtr());
    EXPECT_EQ(3, s.length());
    EXPECT_FALSE(s.isEmpty());
    EXPECT_EQ(1, gConversions);

    // A wide array handed out for kind 4 survives the step to kind 5.
    OxString heap(u"0123456789");
    const OXCHAR* before = heap.kwszPtr();
    heap.ansiPtr();
    EXPECT_EQ(OxString::kHeapDual, heap.kind());
    EXPECT_EQ(before, heap.kwszPtr());
    EXPECT_EQ(2, gConversions);
}

// The cache holds one narrow form: the first accessor fixes its encoding for both.
TEST_F(StringStorage, FirstNarrowAccessorFixesTheCachedEncoding)
{
    OxString utf8First(u"\u00E9");
    EXPECT_EQ("\xC3\xA9", std::string(utf8First.utf8Ptr()));
    EXPECT_EQ("\xC3\xA9", std::string(utf8First.ansiPtr()));

    OxString ansiFirst(u"\u00E9");
    EXPECT_EQ("\xE9", std::string(ansiFirst.ansiPtr()));
    EXPECT_EQ("\xE9", std::string(ansiFirst.utf8Ptr()));

    // A unit the page lacks goes through the host's escape and comes back whole.
    OxString escaped(u"a\u4E00");
    EXPECT_EQ("a\\U+4E00", std::string(escaped.ansiPtr()));
    EXPECT_EQ(u"a\u4E00", wideText(OxString(escaped.ansiPtr(), false)));
}

// Without converters a produced form is the empty text; nothing crashes and lengths agree.
TEST_F(StringStorage, MissingConvertersYieldEmptyForms)
{
    TearDown();
    OxString wide(u"abc");
    EXPECT_STREQ("", wide.ansiPtr());
    EXPECT_EQ(u"abc", wideText(wide));
    OxString narrow("abc", false);
    EXPECT_EQ(u"", wideText(narrow));
    EXPECT_EQ(0, narrow.length());
    EXPECT_FALSE(narrow.isEmpty());
    OxString appended("abc", false);
    appended.append(u"x");
    EXPECT_EQ(u"x", wideText(appended));
    // UTF-8 needs no callback.
    OxString utf8(u"\u00E9");
    EXPECT_STREQ("\xC3\xA9", utf8.utf8Ptr());
}

// Copies: narrow-only stays narrow (re-inlined when short), everything else copies the wide
// form; a cached second form is not copied. Moves take the storage as it is.
TEST_F(StringStorage, CopiesKeepOneFormAndMovesTakeEverything)
{
    OxString dual = dualString("abc");
    OxString copy(dual);
    EXPECT_EQ(OxString::kInlineWide, copy.kind());
    EXPECT_EQ(u"abc", wideText(copy));

    OxString shortHeapNarrow(u"x\u00E9");
    shortHeapNarrow.append("\t"); // narrow only, 3 bytes on the heap
    ASSERT_EQ(OxString::kHeapNarrow, shortHeapNarrow.kind());
    EXPECT_EQ(OxString::kInlineNarrow, OxString(shortHeapNarrow).kind());

    OxString assigned(u"old text on the heap");
    assigned = dual;
    EXPECT_EQ(u"abc", wideText(assigned));
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
    for (const char16_t* text : {u"abc", u"a longer wide text"}) {
        OxString s(text);
        s.append(s);
        EXPECT_EQ(std::u16string(text) + text, wideText(s));
        s.assign(s.kwszPtr() + 1);
        EXPECT_EQ((std::u16string(text) + text).substr(1), wideText(s));
    }
    for (const char* text : {"abc", "a longer narrow text"}) {
        OxString s(text, false);
        s.append(s);
        EXPECT_EQ(std::string(text) + text, narrowText(s));
        s.append(s.ansiPtr());
        EXPECT_EQ(std::string(text) + text + text + text, narrowText(s));
        s.assign(s.ansiPtr() + 2);
        EXPECT_EQ((std::string(text) + text + text + text).substr(2), narrowText(s));
    }
}

// append(OxString): narrow to narrow appends bytes; otherwise the argument's wide form is
// produced (and cached in the argument) and appended.
TEST_F(StringStorage, AppendingStringsChoosesTheForm)
{
    OxString narrow("ab", false);
    narrow.append(OxString("cd", false));
    EXPECT_EQ(OxString::kInlineNarrow, narrow.kind());

    OxString wide(u"ab");
    OxString argument("c\xE9", false);
    wide.append(argument);
    EXPECT_EQ(u"abc\u00E9", wideText(wide));
    EXPECT_EQ(OxString::kHeapDual, argument.kind());

    OxString empty;
    empty.append(argument);
    EXPECT_EQ(OxString::kInlineWide, empty.kind());
    EXPECT_EQ(u"c\u00E9", wideText(empty));

    OxString base(u"mid");
    EXPECT_EQ(u"mid!", wideText(base.concat(u"!")));
    EXPECT_EQ(u"mid", wideText(base));
    EXPECT_EQ(u">mid", wideText(base.precat(">")));
    EXPECT_EQ(u"<<mid", wideText(base.precat(u"<<")));
    EXPECT_EQ("ab!", narrowText(OxString("ab", false).concat("!")));
}

// isAscii judges narrow-only strings by their bytes and the rest by their units; control
// characters are not printable.
TEST_F(StringStorage, IsAsciiMeansPrintableOnly)
{
    EXPECT_TRUE(OxString().isAscii());
    EXPECT_TRUE(OxString(u"Plain text ~\x7F").isAscii());
    EXPECT_FALSE(OxString(u"line\n").isAscii());
    EXPECT_FALSE(OxString("caf\xE9", false).isAscii());
    EXPECT_FALSE(OxString(u"caf\u00E9").isAscii());
}

// Numbers: only the low 10 bits select, the most negative value prints, hex is lower case.
TEST_F(StringStorage, NumericConstructorsWriteTheirDigits)
{
    EXPECT_EQ(u"-2147483648", wideText(OxString(OxString::kFormatSigned, 0x80000000u)));
    EXPECT_EQ(u"-1", wideText(OxString(OxString::kFormatSigned, 0xFFFFFFFFu)));
    EXPECT_EQ(u"4294967295", wideText(OxString(OxString::kFormatUnsigned, 0xFFFFFFFFu)));
    EXPECT_EQ(u"0", wideText(OxString(OxString::kFormatUnsigned, 0)));
    EXPECT_EQ(u"ff", wideText(OxString(OxString::kFormatHex, 255)));
    EXPECT_EQ(u"ff", wideText(OxString(0x404, 255)));
    EXPECT_TRUE(OxString(5, 255).isEmpty());
    EXPECT_TRUE(OxString(-1, 255).isEmpty());

    EXPECT_EQ(u"0", wideText(OxString(OxDbHandle(0))));
    EXPECT_EQ(u"1f", wideText(OxString(OxDbHandle(0x1F))));
    OxString handle;
    handle.assign(OxDbHandle(~0ull));
    EXPECT_EQ(u"ffffffffffffffff", wideText(handle));
    EXPECT_EQ(OxString::kHeapWide, handle.kind());
}
