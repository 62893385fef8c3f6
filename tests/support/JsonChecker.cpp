// tests/support/JsonChecker.cpp
// Recursive descent over RFC 8259, refusing everything the grammar does not allow. Strings keep
// their UTF-8 as it stands once it is checked; escapes are decoded, surrogate pairs joined.

#include "support/JsonChecker.h"

#include <charconv>
#include <cstdlib>

namespace {

using Kind = JsonValue::Kind;

class Parser {
public:
    explicit Parser(std::string_view text) : mText(text) {}

    std::optional<JsonValue> document(std::string* error)
    {
        JsonValue value;
        if (parseValue(value, 0)) {
            skipSpace();
            if (mPosition == mText.size())
                return value;
            fail("text after the value");
        }
        if (error != nullptr)
            *error = mError + " at byte " + std::to_string(mPosition);
        return std::nullopt;
    }

private:
    bool fail(const char* why)
    {
        if (mError.empty())
            mError = why;
        return false;
    }

    char peek() const { return mPosition < mText.size() ? mText[mPosition] : '\0'; }

    void skipSpace()
    {
        while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')
            ++mPosition;
    }

    // Skips space, then takes `c` if it comes next.
    bool take(char c)
    {
        skipSpace();
        if (peek() != c)
            return false;
        ++mPosition;
        return true;
    }

    bool parseValue(JsonValue& value, int depth)
    {
        skipSpace();
        if (depth > 64)
            return fail("nesting too deep");
        const char c = peek();
        if (c == '{' || c == '[') {
            value.kind = c == '{' ? Kind::kObject : Kind::kArray;
            return parseContainer(value, depth);
        }
        if (c == '"') {
            value.kind = Kind::kString;
            return parseString(value.text);
        }
        for (const std::string_view word : {"true", "false", "null"}) {
            if (mText.substr(mPosition, word.size()) == word) {
                value.kind = word == "null" ? Kind::kNull : Kind::kBool;
                value.boolean = word == "true";
                mPosition += word.size();
                return true;
            }
        }
        return parseNumber(value);
    }

    // Items separated by commas; in an object each behind a key that is not already there.
    bool parseContainer(JsonValue& value, int depth)
    {
        const bool isObject = value.kind == Kind::kObject;
        ++mPosition;
        if (take(isObject ? '}' : ']'))
            return true;
        do {
            std::string key;
            if (isObject) {
                skipSpace();
                if (peek() != '"' || !parseString(key))
                    return fail("object key expected");
                if (value.find(key) != nullptr)
                    return fail("duplicate key");
                if (!take(':'))
                    return fail("':' expected");
            }
            JsonValue item;
            if (!parseValue(item, depth + 1))
                return false;
            if (isObject)
                value.members.emplace_back(std::move(key), std::move(item));
            else
                value.items.push_back(std::move(item));
        } while (take(','));
        return take(isObject ? '}' : ']') || fail("',' or closing bracket expected");
    }

    // At least one digit.
    bool digits()
    {
        const std::size_t start = mPosition;
        while (peek() >= '0' && peek() <= '9')
            ++mPosition;
        return mPosition > start;
    }

    bool parseNumber(JsonValue& value)
    {
        const std::size_t start = mPosition;
        if (peek() == '-')
            ++mPosition;
        if (peek() == '0' ? (++mPosition, false) : !digits())
            return fail("value expected");
        if (peek() == '.' && (++mPosition, !digits()))
            return fail("digits expected after '.'");
        if (peek() == 'e' || peek() == 'E') {
            ++mPosition;
            if (peek() == '+' || peek() == '-')
                ++mPosition;
            if (!digits())
                return fail("digits expected in exponent");
        }
        value.kind = Kind::kNumber;
        value.number = std::strtod(std::string(mText.substr(start, mPosition - start)).c_str(), nullptr);
        return true;
    }

    bool hex4(unsigned& unit)
    {
        const char* begin = mText.data() + mPosition;
        if (mText.size() - mPosition < 4 || std::from_chars(begin, begin + 4, unit, 16).ptr != begin + 4)
            return fail("four hex digits expected");
        mPosition += 4;
        return true;
    }

    static void appendUtf8(std::string& out, char32_t c)
    {
        static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
        const int trailCount = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        out += static_cast<char>(kLead[trailCount] | (c >> (6 * trailCount)));
        for (int i = trailCount - 1; i >= 0; --i)
            out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
    }

    bool escape(std::string& out)
    {
        static constexpr std::string_view kNames = "\"\\/bfnrt", kUnits = "\"\\/\b\f\n\r\t";
        const char c = peek();
        ++mPosition;
        if (const std::size_t at = kNames.find(c); at != std::string_view::npos) {
            out += kUnits[at];
            return true;
        }
        unsigned unit = 0, low = 0;
        if (c != 'u' || !hex4(unit))
            return fail("unknown escape");
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return fail("lone low surrogate");
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (mText.substr(mPosition, 2) != "\\u")
                return fail("lone high surrogate");
            mPosition += 2;
            if (!hex4(low) || low < 0xDC00 || low > 0xDFFF)
                return fail("lone high surrogate");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, unit);
        return true;
    }

    // One multi-byte UTF-8 character taken as it stands: well formed, shortest form, no surrogates.
    bool utf8(std::string& out)
    {
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        const auto lead = static_cast<unsigned char>(peek());
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (lead < 0xC2 || lead > 0xF4 || mText.size() - mPosition < length)
            return fail("ill-formed UTF-8");
        char32_t c = lead & (0x3F >> (length - 1));
        for (std::size_t i = 1; i < length; ++i) {
            const auto trail = static_cast<unsigned char>(mText[mPosition + i]);
            if ((trail & 0xC0) != 0x80)
                return fail("ill-formed UTF-8");
            c = (c << 6) | (trail & 0x3F);
        }
        if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return fail("ill-formed UTF-8");
        out.append(mText.substr(mPosition, length));
        mPosition += length;
        return true;
    }

    bool parseString(std::string& out)
    {
        for (++mPosition;;) { // past the opening quote
            if (mPosition >= mText.size())
                return fail("unterminated string");
            const auto c = static_cast<unsigned char>(mText[mPosition]);
            if (c == '"') {
                ++mPosition;
                return true;
            }
            if (c < 0x20)
                return fail("raw control character in string");
            if (c >= 0x80) {
                if (!utf8(out))
                    return false;
            } else if (c == '\\') {
                ++mPosition;
                if (!escape(out))
                    return false;
            } else {
                out += static_cast<char>(c);
                ++mPosition;
            }
        }
    }

    std::string_view mText;
    std::size_t mPosition = 0;
    std::string mError;
};

} // namespace

std::optional<JsonValue> parseJson(std::string_view text, std::string* error)
{
    return Parser(text).document(error);
}
