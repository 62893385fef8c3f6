// tests/strings/NumberParsingTest.cpp
// The nine number parsers: the boundaries of every width, what counts as a digit, signs and
// prefixes, the three failures with their exact messages, and how the options answer them.

#include "StringTestSupport.h"

#include <cstring>
#include <functional>
#include <variant>

using namespace oxtest;

namespace {

constexpr const char* kEmpty = "Parsing Empty OxString";
constexpr const char* kInvalid = "Parsing Invalid Char in OxString";
constexpr const char* kOverflow = "Overflow While Parsing OxString";

using Parser = std::function<std::uint64_t(const OxString&, int)>;

struct Parsers {
    const char* name;
    Parser parse;
};

// Each parser with its result widened to 64 bits (signed kinds two's complement in their width).
const Parsers kDeci{"asDeci",
                    [](const OxString& s, int o) { return std::uint64_t(std::uint32_t(s.asDeci(o))); }};
const Parsers kUDeci{"asUDeci", [](const OxString& s, int o) { return std::uint64_t(s.asUDeci(o)); }};
const Parsers kHex{"asHex",
                   [](const OxString& s, int o) { return std::uint64_t(std::uint32_t(s.asHex(o))); }};
const Parsers kUHex{"asUHex", [](const OxString& s, int o) { return std::uint64_t(s.asUHex(o)); }};
const Parsers kDeci64{"asDeci64", [](const OxString& s, int o) { return std::uint64_t(s.asDeci64(o)); }};
const Parsers kUDeci64{"asUDeci64", [](const OxString& s, int o) { return s.asUDeci64(o); }};
const Parsers kHex64{"asHex64", [](const OxString& s, int o) { return std::uint64_t(s.asHex64(o)); }};
const Parsers kUHex64{"asUHex64", [](const OxString& s, int o) { return s.asUHex64(o); }};
const Parsers kHandle{"asOxDbHandle", [](const OxString& s, int o) { return s.asOxDbHandle(o).value; }};

struct Case {
    const Parsers* parser;
    const char* text;
    std::variant<std::uint64_t, const char*> expected; // the value, or the failure message
};

// The message thrown with kOnErrorThrow, or null when the parse succeeded with `*value`.
const char* parseOrMessage(const Parsers& parser, const OxString& s, std::uint64_t* value)
{
    try {
        *value = parser.parse(s, OxString::kOnErrorThrow | OxString::kEmptyIsError);
        return nullptr;
    } catch (const char* message) {
        return message;
    }
}

const Case kCases[] = {
    {&kDeci, "-42", std::uint64_t(0xFFFFFFD6)},
    {&kDeci, "2147483647", std::uint64_t(0x7FFFFFFF)},
    {&kDeci, "-2147483648", std::uint64_t(0x80000000)},
    {&kDeci, "4294967295", std::uint64_t(0xFFFFFFFF)}, // the magnitude fits: it wraps
    {&kDeci, "4294967296", kOverflow},
    {&kDeci, "-4294967296", kOverflow},
    {&kDeci, "+42", kInvalid},
    {&kDeci, " 42", kInvalid},
    {&kDeci, "42 ", kInvalid},
    {&kDeci, "--1", kInvalid},
    {&kDeci, "1F", kInvalid},
    {&kDeci, "-", kEmpty},
    {&kDeci, "", kEmpty},
    {&kUDeci, "-42", kInvalid},
    {&kUDeci, "4294967295", std::uint64_t(4294967295u)},
    {&kUDeci, "4294967296", kOverflow},
    {&kUDeci, "99999999999999999999999", kOverflow},
    {&kUDeci, "007", std::uint64_t(7)},
    {&kHex, "1F", std::uint64_t(31)},
    {&kHex, "0x1F", kInvalid},
    {&kHex, "7fffffff", std::uint64_t(0x7FFFFFFF)},
    {&kHex, "FFFFFFFF", std::uint64_t(0xFFFFFFFF)},
    {&kHex, "-1", std::uint64_t(0xFFFFFFFF)},
    {&kHex, "100000000", kOverflow},
    {&kHex, "1g", kInvalid},
    {&kUHex, "aBcDeF", std::uint64_t(0xABCDEF)},
    {&kUHex, "-1", kInvalid},
    {&kUHex, "fffffffff", kOverflow},
    {&kDeci64, "9223372036854775807", std::uint64_t(0x7FFFFFFFFFFFFFFF)},
    {&kDeci64, "-9223372036854775808", std::uint64_t(0x8000000000000000)},
    {&kDeci64, "18446744073709551616", kOverflow},
    {&kDeci64, "12x", kInvalid},
    {&kUDeci64, "18446744073709551615", ~std::uint64_t(0)},
    {&kUDeci64, "18446744073709551616", kOverflow},
    {&kUDeci64, "4294967296", std::uint64_t(4294967296)},
    {&kHex64, "ffffffffffffffff", ~std::uint64_t(0)},
    {&kHex64, "-8000000000000000", std::uint64_t(0x8000000000000000)},
    {&kHex64, "10000000000000000", kOverflow},
    {&kUHex64, "FFFFFFFFFFFFFFFF", ~std::uint64_t(0)},
    {&kUHex64, "1ffffffffffffffff", kOverflow},
    {&kHandle, "1f", std::uint64_t(0x1F)},
    {&kHandle, "-1f", kInvalid},
};

class NumberParsing : public WithHostConverters {};

} // namespace

// Every case in narrow, wide and dual form: the parsers read whichever form is at hand and must
// agree, with the exact message on failure.
TEST_F(NumberParsing, ParsesBoundariesAndRefusesWhatIsNotADigit)
{
    for (const Case& c : kCases) {
        const std::string text = c.text;
        for (const OxString& s : {OxString(c.text, false), OxString(c.text, true), dualString(c.text)}) {
            std::uint64_t value = 0;
            const char* message = parseOrMessage(*c.parser, s, &value);
            if (std::holds_alternative<const char*>(c.expected)) {
                EXPECT_STREQ(std::get<const char*>(c.expected), message)
                    << c.parser->name << "(" << text << ")";
            } else {
                EXPECT_EQ(nullptr, message) << c.parser->name << "(" << text << ")";
                EXPECT_EQ(std::get<std::uint64_t>(c.expected), value) << c.parser->name << "(" << text << ")";
            }
        }
    }
}

// Without kEmptyIsError the empty text is no failure; a failure returns 0 or -1 (all bits, in the
// parser's width) unless asked to throw, and throwing wins over -1. A partial value is never
// returned.
TEST_F(NumberParsing, OptionsDecideTheAnswerToAFailure)
{
    const OxString empty;
    EXPECT_EQ(0, empty.asDeci(0));
    EXPECT_EQ(0, empty.asDeci(OxString::kOnErrorThrow));
    EXPECT_EQ(0, empty.asDeci(OxString::kOnErrorReturnMinusOne));
    EXPECT_EQ(0, empty.asDeci(OxString::kEmptyIsError));
    EXPECT_EQ(-1, empty.asDeci(OxString::kEmptyIsError | OxString::kOnErrorReturnMinusOne));
    EXPECT_EQ(0, OxString(u"-").asDeci(0));
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
}

// Narrow bytes are read as signed values, so no byte above 0x7F can pass for a digit; digits of
// other scripts count only where the C runtime classifies them as digits (glibc: 0-9 only).
TEST_F(NumberParsing, OnlyRuntimeDigitsCount)
{
    EXPECT_EQ(-1, OxString("1\xB2", false).asDeci(OxString::kOnErrorReturnMinusOne));
    EXPECT_EQ(-1, OxString(u"\uFF11").asDeci(OxString::kOnErrorReturnMinusOne));
    EXPECT_EQ(-1, OxString(u"\u0661").asDeci(OxString::kOnErrorReturnMinusOne));
    EXPECT_EQ(0x1Fu, OxString(OxDbHandle(0x1F)).asOxDbHandle(0).value);
    EXPECT_EQ(0xDEADBEEFCAFEull, OxString(OxDbHandle(0xDEADBEEFCAFEull)).asOxDbHandle(0).value);
}
