// tests/strings/NumberParsingTest.cpp
// The nine number parsers: the boundaries of every width, what counts as a digit, signs and
// prefixes, the three failures with their exact messages, and how the options answer them.

#include "StringTestSupport.h"

#include <vector>

using namespace oxtest;

namespace {

constexpr const char* kEmpty = "Parsing Empty OxString";
constexpr const char* kInvalid = "Parsing Invalid Char in OxString";
constexpr const char* kOverflow = "Overflow While Parsing OxString";

struct Expect {
    const char* text;
    const char* message; // the failure, or null for success with `value`
    std::uint64_t value = 0;
};

// Each parser with its result widened to 64 bits (signed kinds two's complement in their width).
struct Parser {
    const char* name;
    std::uint64_t (*parse)(const OxString&, int);
    std::vector<Expect> cases;
};

// clang-format off
const Parser kParsers[] = {
    {"asDeci", [](const OxString& s, int o) { return std::uint64_t(std::uint32_t(s.asDeci(o))); },
     {{"-42", nullptr, 0xFFFFFFD6}, {"2147483647", nullptr, 0x7FFFFFFF}, {"-2147483648", nullptr, 0x80000000},
      {"4294967295", nullptr, 0xFFFFFFFF}, // the magnitude fits: it wraps
      {"4294967296", kOverflow}, {"-4294967296", kOverflow}, {"+42", kInvalid}, {" 42", kInvalid},
      {"42 ", kInvalid}, {"--1", kInvalid}, {"1F", kInvalid}, {"-", kEmpty}, {"", kEmpty},
      // Signed narrow bytes above 0x7F, and digits of other scripts (U+FF11, U+0661), are no digits.
      {"1\xB2", kInvalid}, {"\xEF\xBC\x91", kInvalid}, {"\xD9\xA1", kInvalid}}},
    {"asUDeci", [](const OxString& s, int o) { return std::uint64_t(s.asUDeci(o)); },
     {{"-42", kInvalid}, {"4294967295", nullptr, 4294967295u}, {"4294967296", kOverflow},
      {"99999999999999999999999", kOverflow}, {"007", nullptr, 7}}},
    {"asHex", [](const OxString& s, int o) { return std::uint64_t(std::uint32_t(s.asHex(o))); },
     {{"1F", nullptr, 31}, {"0x1F", kInvalid}, {"7fffffff", nullptr, 0x7FFFFFFF}, {"FFFFFFFF", nullptr, 0xFFFFFFFF},
      {"-1", nullptr, 0xFFFFFFFF}, {"100000000", kOverflow}, {"1g", kInvalid}}},
    {"asUHex", [](const OxString& s, int o) { return std::uint64_t(s.asUHex(o)); },
     {{"aBcDeF", nullptr, 0xABCDEF}, {"-1", kInvalid}, {"fffffffff", kOverflow}}},
    {"asDeci64", [](const OxString& s, int o) { return std::uint64_t(s.asDeci64(o)); },
     {{"9223372036854775807", nullptr, 0x7FFFFFFFFFFFFFFF}, {"-9223372036854775808", nullptr, 0x8000000000000000},
      {"18446744073709551616", kOverflow}, {"12x", kInvalid}}},
    {"asUDeci64", [](const OxString& s, int o) { return s.asUDeci64(o); },
     {{"18446744073709551615", nullptr, ~0ull}, {"18446744073709551616", kOverflow},
      {"4294967296", nullptr, 4294967296}}},
    {"asHex64", [](const OxString& s, int o) { return std::uint64_t(s.asHex64(o)); },
     {{"ffffffffffffffff", nullptr, ~0ull}, {"-8000000000000000", nullptr, 0x8000000000000000},
      {"10000000000000000", kOverflow}}},
    {"asUHex64", [](const OxString& s, int o) { return s.asUHex64(o); },
     {{"FFFFFFFFFFFFFFFF", nullptr, ~0ull}, {"1ffffffffffffffff", kOverflow}}},
    {"asOxDbHandle", [](const OxString& s, int o) { return s.asOxDbHandle(o).value; },
     {{"1f", nullptr, 0x1F}, {"-1f", kInvalid}}},
};
// clang-format on

class NumberParsing : public WithHostConverters {};

} // namespace

// Off-by-one at a width's boundaries, signs or prefixes accepted where they are not, a wrong or
// missing message, or forms that disagree: every case in narrow, wide and dual form. Without
// kEmptyIsError empty text is no failure; a failure gives 0 or -1 (all bits of the width) unless
// asked to throw, which wins over -1; never a partial value. Handles read back.
TEST_F(NumberParsing, ParsesBoundariesAndAnswersFailuresAsTheOptionsSay)
{
    for (const Parser& parser : kParsers)
        for (const Expect& c : parser.cases)
            for (const OxString& s : {OxString(c.text, false), OxString(c.text, true), dualString(c.text)}) {
                const char* message = nullptr;
                std::uint64_t value = 0;
                try {
                    value = parser.parse(s, OxString::kOnErrorThrow | OxString::kEmptyIsError);
                } catch (const char* thrown) {
                    message = thrown;
                }
                EXPECT_STREQ(c.message, message) << parser.name << "(" << c.text << ")";
                EXPECT_EQ(c.value, value) << parser.name << "(" << c.text << ")";
            }

    const OxString empty;
    for (int options :
         {0, +OxString::kOnErrorThrow, +OxString::kOnErrorReturnMinusOne, +OxString::kEmptyIsError})
        EXPECT_EQ(0, empty.asDeci(options)) << options;
    EXPECT_EQ(0, OxString(u"-").asDeci(0));
    EXPECT_EQ(-1, empty.asDeci(OxString::kEmptyIsError | OxString::kOnErrorReturnMinusOne));
    try {
        empty.asDeci(OxString::kEmptyIsError | OxString::kOnErrorThrow | OxString::kOnErrorReturnMinusOne);
        ADD_FAILURE() << "no exception";
    } catch (const char* message) {
        EXPECT_STREQ(kEmpty, message);
    }
    const OxString partial(u"12x");
    EXPECT_EQ(0, partial.asDeci64(0));
    EXPECT_EQ(-1, partial.asDeci64(OxString::kOnErrorReturnMinusOne));
    EXPECT_EQ(0xFFFFFFFFu, partial.asUHex(OxString::kOnErrorReturnMinusOne | 0x70));
    EXPECT_EQ(~std::uint64_t(0), partial.asOxDbHandle(OxString::kOnErrorReturnMinusOne).value);
    EXPECT_EQ(0xDEADBEEFCAFEull, OxString(OxDbHandle(0xDEADBEEFCAFEull)).asOxDbHandle(0).value);
}
