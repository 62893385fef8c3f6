// tests/strings/StringFormatTest.cpp
// format and formatV through the host's formatter: the old text is dropped, pieces are appended
// with NUL units left out, and without a formatter or a format the string is empty.

#include "StringTestSupport.h"

using namespace oxtest;

namespace {

class StringFormat : public WithHostConverters {};

// A formatter that ignores the format and delivers fixed pieces, NULs and an empty piece among
// them, to see what the string does with them.
int piecewiseFormatter(OxRxFmtSink sink, void* context, const OXCHAR*, va_list)
{
    const OXCHAR first[] = {u'a', 0, u'b'};
    sink(context, first, 3);
    sink(context, u"", 0);
    sink(context, nullptr, 4);
    const OXCHAR second[] = {0, 0, u'c', u'd', u'e', u'f', u'g', 0};
    sink(context, second, 8);
    return 0;
}

} // namespace

TEST_F(StringFormat, FormatsThroughTheHostFormatter)
{
    OxString s(u"old text that must go");
    s.format(u"%d-%s", 42, u"x");
    EXPECT_EQ(u"42-x", wideText(s));
    EXPECT_EQ(OxString::kInlineWide, s.kind());
    s.format(u"%s has %u items", u"The list", 12u);
    EXPECT_EQ(u"The list has 12 items", wideText(s));
    EXPECT_EQ(OxString::kHeapWide, s.kind());
}

// NUL units are skipped wherever they fall in a piece; pieces join in order.
TEST_F(StringFormat, PiecesAreJoinedWithoutNuls)
{
    OxRxTypeSysCallbacks::setCallback_fmtout(piecewiseFormatter);
    OxString s("narrow", false);
    s.format(u"ignored");
    EXPECT_EQ(u"abcdefg", wideText(s));
    EXPECT_EQ(OxString::kHeapWide, s.kind());
}

TEST_F(StringFormat, WithoutFormatterOrFormatTheStringIsEmpty)
{
    OxString s(u"text");
    s.format(nullptr);
    EXPECT_EQ(OxString::kEmpty, s.kind());
    OxRxTypeSysCallbacks::setCallback_fmtout(nullptr);
    s.assign(u"text");
    s.format(u"%d", 1);
    EXPECT_EQ(OxString::kEmpty, s.kind());
}
