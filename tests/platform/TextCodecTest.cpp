// tests/platform/TextCodecTest.cpp
// MultiByteToWideChar and WideCharToMultiByte: the UTF-8 codec, the argument and buffer contract and,
// in processes of their own (OX_ANSI_CODEPAGE), the ANSI code pages 1252 (the default), 932 and others.

#include "platform/PlatformTest.h"

#include <iconv.h>
#include <map>
#include <random>

using namespace win;
using oxtest::errorOf;
using oxtest::Errors;
using ::testing::Each;

namespace {

constexpr char16_t R = 0xFFFD;

// Each converts as a size query, then into a buffer of exactly that size followed by two sentinels,
// checking that both calls agree and nothing past the size is written.
std::u16string decode(std::string_view bytes, UINT codePage = CP_UTF8)
{
    const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::u16string out(needed + 2, u'#');
    EXPECT_TRUE(needed > 0 &&
                MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), out.data(), needed) ==
                    needed &&
                out.substr(needed) == u"##");
    return out.substr(0, needed);
}

std::string encode(std::u16string_view units, UINT codePage = CP_UTF8, BOOL* usedDefaultChar = nullptr)
{
    const int needed =
        WideCharToMultiByte(codePage, 0, units.data(), int(units.size()), nullptr, 0, nullptr, nullptr);
    std::string out(needed + 2, '#');
    EXPECT_TRUE(needed > 0 &&
                WideCharToMultiByte(codePage, 0, units.data(), int(units.size()), out.data(), needed, nullptr,
                                    usedDefaultChar) == needed &&
                out.substr(needed) == "##");
    return out.substr(0, needed);
}

// glibc's converter as an independent oracle for well-formed text; false when it refuses the input.
template <typename Text>
bool iconvConvert(const char* to, const char* from, std::string_view input, Text* output)
{
    iconv_t converter = iconv_open(to, from);
    output->assign(input.size() * 4 + 16, 0);
    char* in = const_cast<char*>(input.data());
    auto* out = reinterpret_cast<char*>(output->data());
    std::size_t inLeft = input.size(), outLeft = output->size() * sizeof(output->front());
    const bool converted = iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    output->resize(output->size() - outLeft / sizeof(output->front()));
    return converted;
}

// Runs the calling test in a process whose ANSI code page is `codePage` (0: the default, 1252); true
// in the test's own process, which then returns.
bool inProcessWithCodePage(UINT codePage)
{
    if (oxtest::inFreshProcess({"OX_ANSI_CODEPAGE" + (codePage == 0 ? "" : "=" + std::to_string(codePage))}))
        return true;
    EXPECT_EQ(codePage == 0 || codePage == 99999 ? 1252 : codePage, GetACP());
    return false;
}

// Every byte (not a lead byte) and lead and trail pair the ANSI page decodes to one unit other than
// U+FFFD encodes back, without the default character, to bytes decoding to that unit; answers how many.
int definedCharactersRoundTripping()
{
    int defined = 0;
    for (unsigned lead = 1; lead < 256; ++lead) {
        const bool isLead = IsDBCSLeadByte(static_cast<BYTE>(lead));
        for (unsigned trail = isLead ? 1 : 0; trail < (isLead ? 256u : 1u); ++trail) {
            const std::string bytes =
                isLead ? std::string{char(lead), char(trail)} : std::string(1, char(lead));
            const std::u16string unit = decode(bytes, CP_ACP);
            const bool counts = unit.size() == 1 && unit[0] != R;
            BOOL used = TRUE;
            defined += counts;
            EXPECT_TRUE(!counts || (unit == decode(encode(unit, CP_ACP, &used), CP_ACP) && !used))
                << std::hex << lead << ' ' << trail;
        }
    }
    return defined;
}

} // namespace

// Overlongs, surrogates, values above U+10FFFF or truncated sequences not decoding to one U+FFFD per
// maximal subpart (but per byte, or swallowing the byte that broke a sequence); an unpaired surrogate
// encoded otherwise than U+FFFD (its own three bytes, refused by other decoders), or surrogates paired
// other than high then low.
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
    EXPECT_EQ("\xEF\xBF\xBDz\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80",
              encode(u"\xD83Dz\xDE00\xD83D\xD83D\xDE00"));
}

// The terminator not converted and counted for a length of -1 (also of empty text), or added to an
// explicit one; a short capacity not failing with ERROR_INSUFFICIENT_BUFFER, written past, or holding
// other than whole leading characters (a surrogate pair or UTF-8 sequence split).
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
        EXPECT_TRUE(errorOf(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), -1, wide.data(), wideCapacity)) ==
                        ERROR_INSUFFICIENT_BUFFER &&
                    errorOf(WideCharToMultiByte(CP_UTF8, 0, full.data(), int(full.size()), narrow.data(),
                                                capacity, nullptr, nullptr)) == ERROR_INSUFFICIENT_BUFFER);
        const std::size_t wroteWide = wide.find(u'#'), wroteNarrow = narrow.find('#');
        EXPECT_TRUE(
            wroteWide <= std::size_t(wideCapacity) && wroteNarrow <= std::size_t(capacity) &&
            full.substr(0, wroteWide) == wide.substr(0, wroteWide) &&
            bytes.substr(0, wroteNarrow) == narrow.substr(0, wroteNarrow) &&
            !(wroteWide > 0 && wide[wroteWide - 1] >= 0xD800 && wide[wroteWide - 1] <= 0xDBFF) &&
            (wroteNarrow == 0 || decode(narrow.substr(0, wroteNarrow)).find(R) == std::u16string::npos));
    }
}

// A malformed call not failing with its own error: null, zero or overlapping buffers, lengths below
// -1, a code page neither ANSI nor UTF-8, a default character, usedDefaultChar with UTF-8 are invalid
// parameters; every flag is refused (none is emulated, none may be ignored).
TEST(TextConversionArguments, MalformedCallsFailWithTheirError)
{
    OXCHAR wide[8] = {};
    char narrow[16] = {};
    alignas(8) char shared[16] = "abcdefg";
    auto* sharedWide = reinterpret_cast<OXCHAR*>(shared);
    BOOL used = FALSE;
    auto toWide = [](auto... arguments) { return errorOf(MultiByteToWideChar(arguments...)); };
    auto toNarrow = [](auto... arguments) { return errorOf(WideCharToMultiByte(arguments...)); };
    EXPECT_THAT(
        (Errors{toWide(CP_UTF8, 0, nullptr, -1, wide, 8), toWide(CP_UTF8, 0, "a", 0, wide, 8),
                toWide(CP_UTF8, 0, "a", -2, wide, 8), toWide(CP_UTF8, 0, "a", -1, wide, -1),
                toWide(CP_UTF8, 0, "a", -1, nullptr, 8), toWide(CP_UTF8, 0, shared, -1, sharedWide, 8),
                toWide(CP_UTF8, 0, shared + 2, 4, sharedWide, 4),
                toWide(GetACP() == 1253 ? 1254 : 1253, 0, "a", -1, wide, 8),
                toNarrow(CP_UTF8, 0, nullptr, -1, narrow, 8, nullptr, nullptr),
                toNarrow(CP_UTF8, 0, u"a", 0, narrow, 8, nullptr, nullptr),
                toNarrow(CP_UTF8, 0, u"a", -5, narrow, 8, nullptr, nullptr),
                toNarrow(CP_UTF8, 0, u"a", -1, nullptr, 8, nullptr, nullptr),
                toNarrow(CP_UTF8, 0, sharedWide, 2, shared + 2, 4, nullptr, nullptr),
                toNarrow(CP_UTF8, 0, u"a", -1, narrow, 8, "?", nullptr),
                toNarrow(CP_ACP, 0, u"a", -1, narrow, 8, "?", &used),
                toNarrow(CP_UTF8, 0, u"a", -1, narrow, 8, nullptr, &used)}),
        Each(ERROR_INVALID_PARAMETER));
    for (UINT codePage : {CP_UTF8, CP_ACP})
        for (DWORD flag : {0x1u, 0x8u, 0x80u, 0x400u})
            EXPECT_TRUE(toWide(codePage, flag, "a", -1, nullptr, 0) == ERROR_INVALID_FLAGS &&
                        toNarrow(codePage, flag, u"a", -1, nullptr, 0, nullptr, nullptr) ==
                            ERROR_INVALID_FLAGS)
                << codePage << ' ' << flag;
}

// Every scalar value once, then random mixes of ASCII, sequences, fragments and bytes (NUL too):
// decoding past its size query or to unpaired surrogates (re-encoded, they decode to other units);
// well-formed input decoding otherwise than glibc or not re-encoding to itself (wrong bit arithmetic,
// surrogate composition, sequence lengths); the word-at-a-time ASCII paths failing at some offset.
TEST(Utf8Codec, DecodingIsBoundedValidAndMatchesGlibcOnWellFormedInput)
{
    std::u32string scalars;
    for (char32_t c = 1; c <= 0x10FFFF; ++c)
        if (c < 0xD800 || c > 0xDFFF)
            scalars.push_back(c);
    std::string bytes;
    ASSERT_TRUE(iconvConvert("UTF-8", "UTF-32LE",
                             {reinterpret_cast<const char*>(scalars.data()), scalars.size() * 4}, &bytes));
    std::mt19937 random(20240611);
    // clang-format off
    const char* const pieces[] = {"a", "Z~", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\x9F\xBF",
                                  "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF", "\x80", "\xC2", "\xE2\x82", "\xF0\x9F",
                                  "\xED\xA0\x80", "\xC0\xAF", "\xF8"};
    // clang-format on
    int wellFormedCount = 0;
    for (int round = 0; round <= 20000; ++round) {
        std::u16string utf16;
        for (int i = round == 0 ? 0 : 1 + static_cast<int>(random() % 24); i > 0; --i)
            bytes += random() % 4 == 0 ? std::string(1, static_cast<char>(random()))
                                       : pieces[random() % std::size(pieces)];
        const std::u16string units = decode(bytes);
        const std::string again = encode(units);
        const bool wellFormed = iconvConvert("UTF-16LE", "UTF-8", bytes, &utf16);
        wellFormedCount += wellFormed;
        ASSERT_TRUE(units.size() <= bytes.size() && units == decode(again) &&
                    (!wellFormed || (again == bytes && units == utf16)) && !HasFailure())
            << ::testing::PrintToString(bytes.substr(0, 100));
        bytes.clear();
    }
    EXPECT_GT(wellFormedCount, 1000);
}

// 1252, the default: a byte decoding otherwise than glibc's table or read as a lead byte; what the
// page lacks not one '?' per character (a surrogate pair is one) or best fit (A with macron is not 'A').
TEST(AnsiCodePage1252, EveryByteRoundTripsAndTheRestBecomesTheDefaultCharacter)
{
    if (inProcessWithCodePage(0))
        return;
    std::string defined;
    std::u16string utf16;
    for (unsigned byte = 1; byte < 256; ++byte)
        if (byte != 0x81 && byte != 0x8D && byte != 0x8F && byte != 0x90 && byte != 0x9D)
            defined.push_back(static_cast<char>(byte));
    ASSERT_TRUE(iconvConvert("UTF-16LE", "CP1252", defined, &utf16));
    EXPECT_TRUE(decode(defined, CP_ACP) == utf16 && decode(defined, 1252) == utf16);
    EXPECT_EQ(255, definedCharactersRoundTripping());
    BOOL used = FALSE;
    EXPECT_TRUE(encode(u"z\x20AC\x0100\xD83D\xDE00y\xDC00", CP_ACP, &used) == "z\x80??y?" && used);
}

// Lead bytes not pairing with trail bytes; half-width katakana not singles, 0x80 not its C1 control; a
// lead byte with a byte that cannot trail it, a lead at the end or a pair naming nothing not one U+FFFD
// (or swallowing a delimiter); NEC and IBM duplicates not encoding to the IBM row as Windows does; a
// character becoming another (the yen sign is not a backslash).
TEST(AnsiCodePage932, PairsLeadAndTrailBytesAndEncodingNeverChangesACharacter)
{
    if (inProcessWithCodePage(932))
        return;
    for (unsigned byte = 0; byte < 256; ++byte)
        EXPECT_EQ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC),
                  IsDBCSLeadByte(BYTE(byte)))
            << byte;
    EXPECT_EQ(u"a\x3042\xFF71\x2460\\\x0080", decode("a\x82\xA0\xB1\x87\x40\x5C\x80", CP_ACP));
    EXPECT_TRUE(decode("\x82\xA0", 932) == u"\x3042" && decode("\x82/x", CP_ACP) == u"\xFFFD/x" &&
                decode("x\x82", CP_ACP) == u"x\xFFFD" && decode("\x82\x40z", CP_ACP) == u"\xFFFDz" &&
                MultiByteToWideChar(CP_ACP, 0, "x\x82", -1, nullptr, 0) == 3);
    EXPECT_GT(definedCharactersRoundTripping(), 9000);
    EXPECT_TRUE(encode(u"\x7E8A", CP_ACP) == "\xFA\x5C" && encode(u"\x00A5", CP_ACP) == "?" &&
                WideCharToMultiByte(CP_ACP, 0, u"\x3042\x3044", -1, nullptr, 0, nullptr, nullptr) == 5);
}

// 1255 (from iconv): C1 controls for its undefined bytes in 0x80..0x9F, U+FFFD for the others. An
// unknown page not falling back to 1252 (whose five undefined bytes are C1 controls, as in Windows).
// UTF-8 as the ANSI code page not the UTF-8 codec with its rules.
class AnsiCodePageOther : public ::testing::TestWithParam<UINT> {};

TEST_P(AnsiCodePageOther, DecodesAndEncodesAsThePage)
{
    if (inProcessWithCodePage(GetParam()))
        return;
    const std::map<UINT, std::tuple<std::string, std::u16string, std::u16string, std::string>> cases = {
        {1255, {"\xE0\xFA\x80\x81\xFF", u"\x05D0\x05EA\x20AC\x0081\xFFFD", u"\x00E9", "?"}},
        {99999, {"\x80\x81\x8D\x8F\x90\x9D", u"\x20AC\x0081\x008D\x008F\x0090\x009D", u"\x0100", "?"}},
        {CP_UTF8, {"\xE2\x82\xAC\xC0", u"\x20AC\xFFFD", u"\x20AC", "\xE2\x82\xAC"}}};
    const auto& [bytes, units, wide, narrow] = cases.at(GetParam());
    EXPECT_TRUE(decode(bytes, CP_ACP) == units && encode(wide, CP_ACP) == narrow &&
                !IsDBCSLeadByte(BYTE(bytes[0])));
    EXPECT_TRUE(GetParam() == CP_UTF8 || definedCharactersRoundTripping() > 120);
    BOOL used = FALSE;
    EXPECT_EQ(GetParam() == CP_UTF8 ? ERROR_INVALID_PARAMETER : 0,
              errorOf(WideCharToMultiByte(CP_ACP, 0, u"a", -1, nullptr, 0, nullptr, &used)));
}

INSTANTIATE_TEST_SUITE_P(Pages, AnsiCodePageOther, ::testing::Values(1255u, 99999u, CP_UTF8));
