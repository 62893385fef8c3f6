// tests/strings/StringFormatTest.cpp
// format and formatV through the host's formatter: the old text is dropped, pieces are appended
// with NUL units left out, and without a formatter or a format the string is empty.

#include "StringTestSupport.h"

using namespace oxtest;

namespace {

class StringFormat : public WithHostConverters {};

// Ignores the format and delivers fixed pieces, NULs and an empty piece among them.
int piecewiseFormatter(OxRxFmtSink sink, void* context, const OXCHAR*, va_list)
{
    const OXCHAR first[] = {u'a', 0, u'b'}, second[] = {0, 0, u'c', u'd', u'e', u'f', u'g', 0};
    sink(context, first, 3);
    sink(context, u"", 0);
    sink(context, nullptr, 4);
    sink(context, second, 8);
    return 0;
}

} // namespace

// The old text kept, pieces lost or NUL units kept (the pieces join in order without their NULs,
// inline or on the heap by length); without a formatter or a format the string is empty.
TEST_F(StringFormat, FormatsThroughTheHostFormatterAndJoinsPieces)
{
    OxString s(u"old text that must go");
    s.format(u"%d-%s", 42, u"x");
    EXPECT_TRUE(holds(s, OxString::kInlineWide, u"42-x"));
    s.format(u"%s has %u items", u"The list", 12u);
    EXPECT_TRUE(holds(s, OxString::kHeapWide, u"The list has 12 items"));
    s.format(nullptr);
    EXPECT_TRUE(s.isEmpty());
    OxRxTypeSysCallbacks::setCallback_fmtout(piecewiseFormatter);
    s.assign("narrow");
    s.format(u"ignored");
    EXPECT_TRUE(holds(s, OxString::kHeapWide, u"abcdefg"));
    OxRxTypeSysCallbacks::setCallback_fmtout(nullptr);
    s.format(u"%d", 1);
    EXPECT_TRUE(s.isEmpty());
}
