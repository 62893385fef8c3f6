// tests/hostdefaults/FormatterTest.cpp
// liboxhost's UTF-16 formatter: numbers against the C library's printf over flags, widths,
// precisions and lengths; text in both widths; the pieces handed to the sink; the buffer form.

#include <oxfirst/OxHostDefaults.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

std::u16string widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// Collects every piece the formatter hands over; answers non-zero on piece `stopAfterPieces`.
struct Recorder {
    std::u16string text;
    std::vector<unsigned> pieceSizes;
    int stopAfterPieces = -1;
    static int sink(void* context, const OXCHAR* piece, unsigned int unitCount)
    {
        auto* self = static_cast<Recorder*>(context);
        self->text.append(piece, unitCount);
        self->pieceSizes.push_back(unitCount);
        return static_cast<int>(self->pieceSizes.size()) == self->stopAfterPieces ? 1 : 0;
    }
};

int formatInto(Recorder& recorder, const OXCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int produced = oxHostFormat(Recorder::sink, &recorder, format, arguments);
    va_end(arguments);
    return produced;
}

template <typename... Args> // formats through the sink; the count answered must be what arrived
std::u16string format(const OXCHAR* format, Args... arguments)
{
    Recorder recorder;
    const int produced = formatInto(recorder, format, arguments...);
    EXPECT_EQ(static_cast<int>(recorder.text.size()), produced);
    return recorder.text;
}

template <typename... Args>
std::u16string cFormat(const std::string& format, Args... arguments)
{
    char buffer[2048];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::snprintf(buffer, sizeof buffer, format.c_str(), arguments...);
#pragma GCC diagnostic pop
    EXPECT_TRUE(length >= 0 && length < static_cast<int>(sizeof buffer)) << format;
    return widen(std::string(buffer, static_cast<std::size_t>(length)));
}

// Formats the values with every combination of flags, a few widths and precisions and each
// conversion, here with `wideLength` and by snprintf with `cLength`; counts the differences.
template <typename T>
int mismatchesWithCPrintf(const std::string& conversions, const std::string& wideLength,
                          const std::string& cLength, std::initializer_list<T> values)
{
    int mismatches = 0;
    for (unsigned flagSet = 0; flagSet < 32; ++flagSet) {
        std::string flags;
        for (unsigned bit = 0; bit < 5; ++bit)
            flags += flagSet & (1u << bit) ? std::string(1, "-+ #0"[bit]) : "";
        for (const char* width : {"", "1", "6", "24"})
            for (const char* precision : {"", ".", ".0", ".1", ".5", ".30"})
                for (char conversion : conversions)
                    for (T value : values) {
                        const std::string prefix = "%" + flags + width + precision;
                        if (format(widen(prefix + wideLength + conversion).c_str(), value) !=
                                cFormat(prefix + cLength + conversion, value) &&
                            ++mismatches <= 5)
                            ADD_FAILURE() << prefix + cLength + conversion << " with " << +value;
                    }
    }
    return mismatches;
}

// 300 and 70000 wrap under hh and h; -1 is also the largest value for u, x and o; the most
// negative value's magnitude does not fit the signed type.
template <typename T>
int integerMismatches(const std::string& wideLength, const std::string& cLength)
{
    using Limits = std::numeric_limits<T>;
    return mismatchesWithCPrintf<T>("diuxXo", wideLength, cLength,
                                    {0, 1, -1, 7, -42, 255, 300, 70000, Limits::max(), Limits::min()});
}

// Numbers unlike printf's: signs, zero padding against precision, '#' on zero, the most negative
// value, the short lengths' truncation, for some length with the C type its caller passes; '*'
// not taking width, then precision, before the value (a negative width left-justifies, a negative
// precision is none); long double read as double, misaligning later arguments; long text cut.
TEST(FormatterNumbers, MatchCPrintfOverFlagsWidthsPrecisionsAndLengths)
{
    EXPECT_EQ(0,
              integerMismatches<int>("", "") + integerMismatches<int>("hh", "hh") +
                  integerMismatches<int>("h", "h") + integerMismatches<long>("l", "l") +
                  integerMismatches<long long>("ll", "ll") + integerMismatches<std::intmax_t>("j", "j") +
                  integerMismatches<std::ptrdiff_t>("z", "z") + integerMismatches<std::ptrdiff_t>("t", "t") +
                  integerMismatches<std::ptrdiff_t>("I", "z") + integerMismatches<std::int32_t>("I32", "") +
                  integerMismatches<std::int64_t>("I64", "ll") +
                  mismatchesWithCPrintf<double>("eEgGaAfF", "", "",
                                                {0.0, -0.0, 1.5, -2.25, 123456.789, 1e-300, INFINITY, -NAN}));
    for (int width : {0, 5, -5, 12, -12})
        for (int precision : {-1, -7, 0, 3, 9})
            for (long long value : {0LL, 42LL, -42LL, std::numeric_limits<long long>::min()})
                EXPECT_EQ(cFormat("%0*.*lld|%*.*llx", width, precision, value, width, precision, value),
                          format(u"%0*.*I64d|%*.*llx", width, precision, value, width, precision, value));
    EXPECT_EQ(cFormat("%.20Lg %d", 1.0L / 3, 7), format(u"%.20Lg %d", 1.0L / 3, 7));
    EXPECT_EQ(cFormat("%.600f|%1000.1f|%e", -1e300, 2.5, -1e300),
              format(u"%.600f|%1000.1f|%e", -1e300, 2.5, -1e300));
}

// Width, precision (from '*' too) or a length mishandled; null text not "(null)" cut like text; a
// zero unit or a negative narrow character lost; narrow text not read as UTF-8 (U+FFFD per maximal
// subpart of ill-formed text), read past its precision (the sanitizer build sees it) or a sequence
// the precision cuts completed; a width not counting units of output.
TEST(FormatterText, WideAndNarrowTextWithWidthAndPrecision)
{
    const OXCHAR* none = nullptr;
    const char* narrowNone = nullptr;
    EXPECT_EQ(u"[abc][  abc][abc  ][   ab][ab   ][abc][]",
              format(u"[%s][%5s][%-5s][%5.2s][%*.*s][%.*s][%.0s]", u"abc", u"abc", u"abc", u"abc", -5, 2,
                     u"abc", -1, u"abc", u"abc"));
    EXPECT_EQ(u"[abc][abc][abc][\u00e9\U0001F600]",
              format(u"[%ls][%ws][%lS][%s]", u"abc", u"abc", u"abc", u"\u00e9\U0001F600"));
    EXPECT_EQ(u"(null)|(null)|(null)|  (null)|(nu",
              format(u"%s|%hs|%S|%8s|%.3S", none, narrowNone, narrowNone, none, narrowNone));
    EXPECT_EQ(u"[x][\u20ac][\u20ac][\u20ac][y][y][\u00e9][  z][z  ]",
              format(u"[%c][%c][%lc][%wc][%hc][%C][%C][%3c][%-3C]", u'x', u'\u20ac', u'\u20ac', u'\u20ac',
                     'y', 'y', '\xe9', u'z', 'z'));
    EXPECT_EQ(std::u16string(u"a\0b", 3), format(u"a%cb", 0));
    EXPECT_EQ(u"abc|abc|caf\u00e9|caf\ufffd|\U0001F600",
              format(u"%hs|%S|%S|%S|%hs", "abc", "abc", "caf\xc3\xa9", "caf\xe9", "\xf0\x9f\x98\x80"));
    EXPECT_EQ(u"\ufffd(|\ufffd\ufffd\ufffd|\ufffd\ufffd\ufffd",
              format(u"%S|%S|%S", "\xc3(", "\xe0\x80\x80", "\xed\xa0\x80"));
    EXPECT_EQ(u"[   \U0001F600][\u00e9 ]", format(u"[%5S][%-2hs]", "\xf0\x9f\x98\x80", "\xc3\xa9"));
    const std::array<OXCHAR, 3> wide{u'x', u'y', u'z'};
    const std::array<char, 3> narrow{'x', 'y', 'z'};
    const std::array<char, 3> cutSequence{'a', '\xc3', '\xa9'};
    EXPECT_EQ(u"xyz|xy|xyz|xy|a\ufffd|a\u00e9",
              format(u"%.3s|%.2s|%.3hs|%.2S|%.2S|%.3S", wide.data(), wide.data(), narrow.data(),
                     narrow.data(), cutSequence.data(), cutSequence.data()));
}

// Pointers not sixteen upper-case hex digits; %n writing through its argument (a format must not
// write memory) or not taking it; literal text, '%%' (with a width too) or an unknown conversion
// not printing itself; a format ending inside a conversion read past its terminator.
TEST(FormatterDirectives, PointersPercentNAndMalformedConversions)
{
    EXPECT_EQ(u"00000000DEADBEEF|0000000000000000|  0000000000000001|0000000000000001  |",
              format(u"%p|%p|%18p|%-18p|", reinterpret_cast<void*>(0xDEADBEEFu), static_cast<void*>(nullptr),
                     reinterpret_cast<void*>(1), reinterpret_cast<void*>(1)));
    int target = -7;
    EXPECT_TRUE(format(u"ab%n|%d|%hhn%d", &target, 5, &target, 6) == u"ab|5|6" && target == -7);
    for (const OXCHAR* same : {u"", u"Class mismatch", u"end %", u"end %-05", u"end %5.3", u"end %I",
                               u"end %I6", u"end %ll", u"a %y b", u"a %-5.2ky b", u"%I3d"})
        EXPECT_EQ(std::u16string(same), format(same));
    EXPECT_EQ(u"100%|%%|[%]", format(u"100%%|%%%%|[%5%]"));
}

// Pieces empty, over 256 units or not joining up to the whole text; a call without output; no
// count without a sink; pieces after the sink said stop, or a count beyond the units handed over.
TEST(FormatterSink, OutputArrivesInBoundedPiecesUntilTheSinkSaysStop)
{
    const std::u16string literal(300, u'L'), argument(700, u'A');
    Recorder recorder;
    const int produced = formatInto(recorder, (literal + u"%s%-1000d|").c_str(), argument.c_str(), 42);
    const std::u16string expected = literal + argument + u"42" + std::u16string(998, u' ') + u"|";
    EXPECT_TRUE(recorder.text == expected && produced == static_cast<int>(expected.size()));
    for (unsigned size : recorder.pieceSizes)
        EXPECT_TRUE(size > 0 && size <= 256) << size;
    Recorder silent;
    EXPECT_TRUE(formatInto(silent, nullptr, 1, 2) == 0 &&
                formatInto(silent, u"%.0s%n", u"abc", nullptr) == 0 && silent.pieceSizes.empty());
    EXPECT_EQ(703, oxHostFormatToBuffer(nullptr, 0, u"%s%3d", argument.c_str(), 7));
    for (int stopAfter : {1, 2}) {
        Recorder stopping;
        stopping.stopAfterPieces = stopAfter;
        EXPECT_TRUE(formatInto(stopping, u"%s%d", argument.c_str(), 7) == int(stopping.text.size()) &&
                    stopping.pieceSizes.size() == std::size_t(stopAfter) &&
                    stopping.text == std::u16string(stopping.text.size(), u'A'));
    }
}

// The buffer form not cutting and terminating like snprintf at a boundary of room, not answering
// the whole length, writing past its room or leaving half a surrogate pair.
TEST(FormatterBuffer, CutsAndTerminatesLikeSnprintf)
{
    using namespace std::literals;
    auto writes = [](std::size_t capacity, const OXCHAR* argument, int length, std::u16string written) {
        std::u16string buffer(16, u'#');
        const int answer = oxHostFormatToBuffer(buffer.data(), capacity, u"%s!", argument);
        written.resize(16, u'#');
        return answer == length && buffer == written;
    };
    EXPECT_TRUE(writes(7, u"hello", 6, u"hello!\0"s) && writes(6, u"hello", 6, u"hello\0"s) &&
                writes(1, u"hello", 6, u"\0"s) && writes(0, u"hello", 6, u""));
    EXPECT_TRUE(writes(16, std::u16string(600, u'x').c_str(), 601, std::u16string(15, u'x') + u'\0'));
    EXPECT_TRUE(writes(4, u"ab\U0001F600", 5, u"ab\0"s) && writes(5, u"ab\U0001F600", 5, u"ab\U0001F600\0"s));
}

} // namespace
