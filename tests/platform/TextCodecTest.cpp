// tests/platform/TextCodecTest.cpp
// MultiByteToWideChar and WideCharToMultiByte: the UTF-8 codec (ill-formed input, every scalar
// value, surrogates), the argument and buffer contract and, in processes of their own started
// with OX_ANSI_CODEPAGE, the ANSI code pages: 1252 (the default), 932, 1255, 65001 and a fallback.

#include "platform/win.h"
#include "support/FreshProcess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iconv.h>
#include <random>
#include <string>
#include <vector>

using namespace win;

namespace {

constexpr char16_t R = 0xFFFD;

// Runs `call(buffer, capacity)` as a size query, then into a buffer of exactly that size guarded
// by sentinels, checking that both calls agree and nothing past the size is written.
template <typename Text>
Text convert(auto call)
{
    const int needed = call(nullptr, 0);
    EXPECT_GT(needed, 0) << "last error " << GetLastError();
    Text out(needed + 2, 0x5A);
    EXPECT_EQ(needed, call(out.data(), needed));
    EXPECT_EQ(Text(2, 0x5A), out.substr(needed));
    return out.substr(0, needed);
}

std::u16string decode(std::string_view bytes, UINT codePage = CP_UTF8)
{
    return convert<std::u16string>([&](OXCHAR* out, int capacity) {
        return MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), out, capacity);
    });
}

std::string encode(std::u16string_view units, UINT codePage = CP_UTF8, BOOL* usedDefaultChar = nullptr)
{
    return convert<std::string>([&](char* out, int capacity) {
        return WideCharToMultiByte(codePage, 0, units.data(), int(units.size()), out, capacity, nullptr,
                                   usedDefaultChar);
    });
}

// glibc's converter as an independent oracle for well-formed text; false when it refuses the input.
bool iconvConvert(const char* to, const char* from, std::string_view input, std::string* output)
{
    iconv_t converter = iconv_open(to, from);
    std::string out(input.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    char* outPosition = out.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = out.size();
    const bool converted =
        iconv(converter, &in, &inLeft, &outPosition, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    *output = out.substr(0, out.size() - outLeft);
    return converted;
}

// The last error of a call that failed (0 when it did not), cleared for the next call.
DWORD failure(int result)
{
    const DWORD error = result == 0 ? GetLastError() : 0;
    SetLastError(0);
    return error;
}

// Runs the calling test in a process of its own whose ANSI code page is `codePage` (the default,
// 1252, for 0); true in the test's own process, which then returns.
bool inProcessWithCodePage(UINT codePage)
{
    const std::string variable = "OX_ANSI_CODEPAGE=" + std::to_string(codePage);
    if (codePage == 0 ? oxtest::inFreshProcess({"OX_ANSI_CODEPAGE"}) : oxtest::inFreshProcess({variable}))
        return true;
    EXPECT_EQ(codePage == 0 ? 1252 : codePage == 99999 ? 1252 : codePage, GetACP());
    return false;
}

} // namespace

// Overlongs, surrogates, values above U+10FFFF, truncated sequences decode to one U+FFFD per maximal
// subpart (not per byte, never swallowing the byte that broke a sequence).
TEST(Utf8IllFormed, DecodesToOneReplacementPerMaximalSubpart)
{
    // clang-format off
    const std::pair<std::string, std::u16string> cases[] = {
        {"\xC0\x80", {R, R}}, {"\xC1\xBF", {R, R}}, {"\xE0\x80\x80", {R, R, R}}, {"\xE0\x9F\xBF", {R, R, R}},
        {"\xF0\x80\x80\x80", {R, R, R, R}}, {"\xF0\x8F\xBF\xBF", {R, R, R, R}}, {"\xED\xA0\x80", {R, R, R}},
        {"\xED\xBF\xBF", {R, R, R}}, {"\xF4\x90\x80\x80", {R, R, R, R}}, {"\xF5\x80\x80\x80", {R, R, R, R}},
        {"\xFE\xFF", {R, R}}, {"\x80\xBFz", {R, R, u'z'}}, {"z\xC2", {u'z', R}}, {"\xE2\x82", {R}},
        {"\xF0\x9F\x98", {R}}, {"\xF0\x9F\x98Z\xE2\x82z", {R, u'Z', R, u'z'}},
        {"\xE2\x82\xE2\x82\xAC", {R, u'\x20AC'}},
        {"w\xF1\x80\x80\xE1\x80\xC2x\x80y\x80\xBFz", {u'w', R, R, R, u'x', R, u'y', R, R, u'z'}}};
    // clang-format on
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(expected, decode(bytes)) << ::testing::PrintToString(bytes);
}

// Every scalar value once, both ways, against glibc as the oracle: catches wrong bit arithmetic,
// surrogate composition and sequence lengths, including at the edges of each length. An unpaired
// surrogate encodes as U+FFFD (not its own three bytes, which other decoders refuse); surrogates
// pair only high then low.
TEST(Utf8RoundTrip, EveryScalarValueMatchesTheOracleBothWays)
{
    EXPECT_EQ("\xEF\xBF\xBDz\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80",
              encode(u"\xD83Dz\xDE00\xD83D\xD83D\xDE00"));
    std::u16string all;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c >= 0x10000)
            all += {char16_t(0xD800 + ((c - 0x10000) >> 10)), char16_t(0xDC00 + ((c - 0x10000) & 0x3FF))};
        else if (c < 0xD800 || c > 0xDFFF)
            all.push_back(char16_t(c));
    }
    const std::string utf8 = encode(all);
    std::string expected;
    ASSERT_TRUE(iconvConvert("UTF-8", "UTF-16LE", {reinterpret_cast<const char*>(all.data()), all.size() * 2},
                             &expected));
    EXPECT_TRUE(expected == utf8 && all == decode(utf8));
}

// A length of -1 counts and converts the terminator (also of empty text); explicit lengths add
// none (and convert embedded NULs: the randomized case below has them). At every capacity short
// of the size the call fails with ERROR_INSUFFICIENT_BUFFER, writes nothing past the capacity,
// and what it wrote is whole leading characters of the full result: a surrogate pair is never
// split, nor a UTF-8 sequence (the prefix decodes without a replacement).
TEST(TextConversionLengths, TerminatorsCountOnlyForMinusOneAndShortBuffersAreNotOverrun)
{
    std::u16string wide4(4, u'#');
    std::string narrow4(4, '#');
    EXPECT_TRUE(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, wide4.data(), 4) == 3 &&
                wide4 == std::u16string(u"ab\0#", 4));
    EXPECT_TRUE(WideCharToMultiByte(CP_UTF8, 0, u"\x00E9", -1, narrow4.data(), 4, nullptr, nullptr) == 3 &&
                narrow4 == std::string("\xC3\xA9\0#", 4));
    EXPECT_TRUE(MultiByteToWideChar(CP_UTF8, 0, "ab", 2, wide4.data(), 4) == 2 &&
                WideCharToMultiByte(CP_ACP, 0, u"", -1, nullptr, 0, nullptr, nullptr) == 1);
    const std::string bytes = "z\xF0\x9F\x98\x80xy\xC3\xA9zxyzxyzxyzx\xE2\x82\xAC";
    const std::u16string full = decode(bytes);
    for (int capacity = 1; capacity < static_cast<int>(bytes.size()); ++capacity) {
        SCOPED_TRACE(capacity);
        const int wideCapacity = std::min(capacity, static_cast<int>(full.size()) - 1);
        std::u16string wide(full.size() + 1, u'#');
        std::string narrow(bytes.size() + 1, '#');
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER,
                  failure(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), -1, wide.data(), wideCapacity)));
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER,
                  failure(WideCharToMultiByte(CP_UTF8, 0, full.data(), int(full.size()), narrow.data(),
                                              capacity, nullptr, nullptr)));
        const std::size_t wroteWide = wide.find(u'#');
        const std::size_t wroteNarrow = narrow.find('#');
        EXPECT_TRUE(wroteWide <= std::size_t(wideCapacity) && wroteNarrow <= std::size_t(capacity) &&
                    full.substr(0, wroteWide) == wide.substr(0, wroteWide) &&
                    bytes.substr(0, wroteNarrow) == narrow.substr(0, wroteNarrow));
        EXPECT_FALSE(wroteWide > 0 && wide[wroteWide - 1] >= 0xD800 && wide[wroteWide - 1] <= 0xDBFF);
        EXPECT_TRUE(wroteNarrow == 0 ||
                    decode(narrow.substr(0, wroteNarrow)).find(R) == std::u16string::npos);
    }
}

// Each malformed call fails with its own error: null, zero or overlapping buffers, lengths
// below -1, a code page neither ANSI nor UTF-8, a default character and usedDefaultChar with
// UTF-8 are invalid parameters; any flag is refused (none is emulated, none may be ignored).
TEST(TextConversionArguments, MalformedCallsFailWithTheirError)
{
    OXCHAR wide[8] = {};
    char narrow[16] = {};
    alignas(8) char shared[16] = "abcdefg";
    auto* sharedWide = reinterpret_cast<OXCHAR*>(shared);
    BOOL used = FALSE;
    auto toWide = [](const char* source, int length, OXCHAR* out, int capacity, UINT codePage = CP_UTF8) {
        return failure(MultiByteToWideChar(codePage, 0, source, length, out, capacity));
    };
    auto toNarrow = [](const OXCHAR* source, int length, char* out, int capacity,
                       const char* defaultChar = nullptr, BOOL* usedDefaultChar = nullptr,
                       UINT codePage = CP_UTF8) {
        return failure(
            WideCharToMultiByte(codePage, 0, source, length, out, capacity, defaultChar, usedDefaultChar));
    };
    // clang-format off
    const DWORD invalid[] = {
        toWide(nullptr, -1, wide, 8), toWide("a", 0, wide, 8), toWide("a", -2, wide, 8),
        toWide("a", -1, wide, -1), toWide("a", -1, nullptr, 8), toWide(shared, -1, sharedWide, 8),
        toWide(shared + 2, 4, sharedWide, 4),
        toWide("a", -1, wide, 8, GetACP() == 1253 ? 1254 : 1253), toNarrow(nullptr, -1, narrow, 8),
        toNarrow(u"a", 0, narrow, 8), toNarrow(u"a", -5, narrow, 8), toNarrow(u"a", -1, nullptr, 8),
        toNarrow(sharedWide, 2, shared + 2, 4), toNarrow(u"a", -1, narrow, 8, "?"),
        toNarrow(u"a", -1, narrow, 8, "?", &used, CP_ACP), toNarrow(u"a", -1, narrow, 8, nullptr, &used)};
    // clang-format on
    for (std::size_t i = 0; i < std::size(invalid); ++i)
        EXPECT_EQ(ERROR_INVALID_PARAMETER, invalid[i]) << "call " << i;
    for (UINT codePage : {CP_UTF8, CP_ACP}) {
        for (DWORD flag : {0x1u, 0x8u, 0x80u, 0x400u})
            EXPECT_TRUE(
                failure(MultiByteToWideChar(codePage, flag, "a", -1, nullptr, 0)) == ERROR_INVALID_FLAGS &&
                failure(WideCharToMultiByte(codePage, flag, u"a", -1, nullptr, 0, nullptr, nullptr)) ==
                    ERROR_INVALID_FLAGS)
                << codePage << ' ' << flag;
    }
}

// Random mixes of ASCII, sequences, fragments and arbitrary bytes (NUL too; fixed seed): decoding
// never writes past its size query, gives UTF-16 without unpaired surrogates (it re-encodes to
// text that decodes to the same units), and re-encodes to the input when glibc finds it
// well-formed.
// Catches the word-at-a-time ASCII paths mishandling a word at any offset or at the end.
TEST(Utf8Randomized, DecodingIsBoundedValidAndRoundTripsWellFormedInput)
{
    std::mt19937 random(20240611);
    // clang-format off
    const char* const pieces[] = {"a", "Z~", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\x9F\xBF",
                                  "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF", "\x80", "\xC2", "\xE2\x82", "\xF0\x9F",
                                  "\xED\xA0\x80", "\xC0\xAF", "\xF8"};
    // clang-format on
    int wellFormedCount = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        for (int i = 1 + static_cast<int>(random() % 24); i > 0; --i)
            bytes += random() % 4 == 0 ? std::string(1, static_cast<char>(random()))
                                       : pieces[random() % std::size(pieces)];
        const int length = static_cast<int>(bytes.size());
        const int needed = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0);
        ASSERT_TRUE(needed > 0 && needed <= length);
        std::u16string out(needed + 8, u'#');
        ASSERT_EQ(needed, MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, out.data(), needed + 8));
        ASSERT_EQ(std::u16string(8, u'#'), out.substr(needed));
        out.resize(needed);
        const std::string again = encode(out);
        ASSERT_EQ(out, decode(again));
        std::string ignored;
        if (iconvConvert("UTF-16LE", "UTF-8", bytes, &ignored)) {
            ++wellFormedCount;
            ASSERT_EQ(bytes, again);
        }
    }
    EXPECT_GT(wellFormedCount, 1000);
}

// With nothing configured the page is 1252: every byte decodes as glibc's table has it (the five
// undefined ones to their C1 controls, as Windows) and encodes back, no lead bytes. What the page
// lacks becomes one '?' per character (a surrogate pair is one), usedDefaultChar set only then,
// with no best fit (A with macron is not 'A').
TEST(AnsiCodePage1252, EveryByteRoundTripsAndTheRestBecomesTheDefaultCharacter)
{
    if (inProcessWithCodePage(0))
        return;
    std::string all;
    std::u16string units;
    for (unsigned byte = 1; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
        const bool undefined = byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
        std::string utf16 = {char(byte), 0};
        EXPECT_TRUE(undefined || iconvConvert("UTF-16LE", "CP1252", all.substr(byte - 1), &utf16));
        units.push_back(
            char16_t(static_cast<unsigned char>(utf16[0]) | static_cast<unsigned char>(utf16[1]) << 8));
        EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(byte))) << byte;
    }
    EXPECT_TRUE(units == decode(all, CP_ACP) && units == decode(all, 1252));
    BOOL used = TRUE;
    EXPECT_EQ(all, encode(units, CP_ACP, &used));
    EXPECT_FALSE(used);
    EXPECT_EQ("z\x80??y?", encode(u"z\x20AC\x0100\xD83D\xDE00y\xDC00", CP_ACP, &used));
    EXPECT_TRUE(used);
}

// Lead bytes pair with trail bytes; half-width katakana are singles, 0x80 its C1 control. A lead
// byte with a byte that cannot trail it is one U+FFFD and the byte still counts on its own (a
// delimiter after a broken lead survives); a lead at the end is one U+FFFD; a pair that names
// nothing is one U+FFFD for both bytes. Every defined single byte and pair encodes back (no
// default character) to bytes that decode to the same unit; NEC and IBM duplicates encode to the
// IBM row as Windows does; no character becomes another (the yen sign is not a backslash).
TEST(AnsiCodePage932, PairsLeadAndTrailBytesAndEncodingNeverChangesACharacter)
{
    if (inProcessWithCodePage(932))
        return;
    for (unsigned byte : {0x81u, 0x9Fu, 0xE0u, 0xFCu, 0x00u, 0x41u, 0x80u, 0xA0u, 0xA1u, 0xDFu, 0xFDu, 0xFFu})
        EXPECT_EQ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC),
                  IsDBCSLeadByte(BYTE(byte)))
            << byte;
    EXPECT_EQ(u"a\x3042\xFF71\x2460\\\x0080", decode("a\x82\xA0\xB1\x87\x40\x5C\x80", CP_ACP));
    EXPECT_EQ(u"\x3042", decode("\x82\xA0", 932));
    EXPECT_TRUE(decode("\x82/x", CP_ACP) == u"\xFFFD/x" && decode("x\x82", CP_ACP) == u"x\xFFFD" &&
                decode("\x82\x40z", CP_ACP) == u"\xFFFDz");
    EXPECT_EQ(3, MultiByteToWideChar(CP_ACP, 0, "x\x82", -1, nullptr, 0));
    int defined = 0;
    for (unsigned lead = 1; lead < 256; ++lead) {
        const bool isLead = IsDBCSLeadByte(static_cast<BYTE>(lead));
        for (unsigned trail = isLead ? 1 : 0; trail < (isLead ? 256u : 1u); ++trail) {
            const std::string bytes =
                isLead ? std::string{char(lead), char(trail)} : std::string(1, char(lead));
            const std::u16string unit = decode(bytes, CP_ACP);
            if (unit.size() != 1 || unit[0] == R)
                continue;
            ++defined;
            BOOL used = TRUE;
            ASSERT_TRUE(unit == decode(encode(unit, CP_ACP, &used), CP_ACP) && !used)
                << std::hex << lead << ' ' << trail;
        }
    }
    EXPECT_GT(defined, 9000);
    EXPECT_EQ("\xFA\x5C", encode(u"\x7E8A", CP_ACP));
    EXPECT_EQ("?", encode(u"\x00A5", CP_ACP));
    EXPECT_EQ(5, WideCharToMultiByte(CP_ACP, 0, u"\x3042\x3044", -1, nullptr, 0, nullptr, nullptr));
}

// A single-byte page built from iconv: letters decode, the undefined bytes of 0x80..0x9F are C1
// controls, other undefined bytes U+FFFD, and every defined byte round-trips.
TEST(AnsiCodePage1255, DecodesDefinedBytesAndRoundTripsThem)
{
    if (inProcessWithCodePage(1255))
        return;
    EXPECT_FALSE(IsDBCSLeadByte(0xE0));
    EXPECT_EQ(u"\x05D0\x05EA\x20AC\x0081\xFFFD", decode("\xE0\xFA\x80\x81\xFF", CP_ACP));
    for (unsigned byte = 1; byte < 256; ++byte) {
        const std::u16string unit = decode(std::string(1, char(byte)), 1255);
        ASSERT_EQ(1u, unit.size());
        EXPECT_TRUE(unit[0] == R || encode(unit, CP_ACP) == std::string(1, char(byte))) << byte;
    }
    EXPECT_EQ("?", encode(u"\x00E9", CP_ACP));
}

// An unknown page must not leave the process without an ANSI code page: it falls back to 1252.
// With UTF-8 as the ANSI code page, CP_ACP is the UTF-8 codec with its rules.
TEST(AnsiCodePageOther, UnknownPageFallsBackTo1252)
{
    if (inProcessWithCodePage(99999))
        return;
    EXPECT_EQ(u"\x20AC", decode("\x80", CP_ACP));
}

TEST(AnsiCodePageOther, Utf8PageUsesTheUtf8Codec)
{
    if (inProcessWithCodePage(CP_UTF8))
        return;
    EXPECT_EQ(u"\x20AC\xFFFD", decode("\xE2\x82\xAC\xC0", CP_ACP));
    EXPECT_EQ("\xE2\x82\xAC", encode(u"\x20AC", CP_ACP));
    EXPECT_FALSE(IsDBCSLeadByte(0xE2));
    BOOL used = FALSE;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              failure(WideCharToMultiByte(CP_ACP, 0, u"a", -1, nullptr, 0, nullptr, &used)));
}
