// tests/support/JsonChecker.cpp
// Recursive descent over RFC 8259, refusing everything the grammar does not allow.

#include "support/JsonChecker.h"

#include <cstdlib>

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : mText(text) {}

    std::optional<JsonValue> document(std::string* error)
    {
        JsonValue value;
        skipSpace();
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

    bool atEnd() const { return mPosition >= mText.size(); }
    char peek() const { return atEnd() ? '\0' : mText[mPosition]; }

    void skipSpace()
    {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++mPosition;
    }

    bool literal(std::string_view word)
    {
        if (mText.substr(mPosition, word.size()) != word)
            return fail("unknown literal");
        mPosition += word.size();
        return true;
    }

    bool parseValue(JsonValue& value, int depth)
    {
        if (depth > 64)
            return fail("nesting too deep");
        switch (peek()) {
        case '{':
            return parseObject(value, depth);
        case '[':
            return parseArray(value, depth);
        case '"':
            value.kind = JsonValue::Kind::kString;
            return parseString(value.text);
        case 't':
            value.kind = JsonValue::Kind::kBool;
            value.boolean = true;
            return literal("true");
        case 'f':
            value.kind = JsonValue::Kind::kBool;
            return literal("false");
        case 'n':
            value.kind = JsonValue::Kind::kNull;
            return literal("null");
        default:
            return parseNumber(value);
        }
    }

    bool parseObject(JsonValue& value, int depth)
    {
        value.kind = JsonValue::Kind::kObject;
        ++mPosition;
        skipSpace();
        if (peek() == '}') {
            ++mPosition;
            return true;
        }
        for (;;) {
            skipSpace();
            std::string key;
            if (peek() != '"' || !parseString(key))
                return fail("object key expected");
            for (const auto& member : value.members)
                if (member.first == key)
                    return fail("duplicate key");
            skipSpace();
            if (peek() != ':')
                return fail("':' expected");
            ++mPosition;
            skipSpace();
            JsonValue member;
            if (!parseValue(member, depth + 1))
                return false;
            value.members.emplace_back(std::move(key), std::move(member));
            skipSpace();
            if (peek() == '}') {
                ++mPosition;
                return true;
            }
            if (peek() != ',')
                return fail("',' or '}' expected");
            ++mPosition;
        }
    }

    bool parseArray(JsonValue& value, int depth)
    {
        value.kind = JsonValue::Kind::kArray;
        ++mPosition;
        skipSpace();
        if (peek() == ']') {
            ++mPosition;
            return true;
        }
        for (;;) {
            skipSpace();
            JsonValue item;
            if (!parseValue(item, depth + 1))
                return false;
            value.items.push_back(std::move(item));
            skipSpace();
            if (peek() == ']') {
                ++mPosition;
                return true;
            }
            if (peek() != ',')
                return fail("',' or ']' expected");
            ++mPosition;
        }
    }

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
        if (peek() == '0') {
            ++mPosition;
            if (peek() >= '0' && peek() <= '9')
                return fail("leading zero");
        } else if (!digits()) {
            return fail("value expected");
        }
        if (peek() == '.') {
            ++mPosition;
            if (!digits())
                return fail("digits expected after '.'");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++mPosition;
            if (peek() == '+' || peek() == '-')
                ++mPosition;
            if (!digits())
                return fail("digits expected in exponent");
        }
        value.kind = JsonValue::Kind::kNumber;
        value.number = std::strtod(std::string(mText.substr(start, mPosition - start)).c_str(), nullptr);
        return true;
    }

    bool hex4(unsigned& unit)
    {
        unit = 0;
        for (int i = 0; i < 4; ++i, ++mPosition) {
            const char c = peek();
            unit <<= 4;
            if (c >= '0' && c <= '9')
                unit |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                unit |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                unit |= static_cast<unsigned>(c - 'A' + 10);
            else
                return fail("four hex digits expected");
        }
        return true;
    }

    static void appendUtf8(std::string& out, char32_t c)
    {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    bool escape(std::string& out)
    {
        const char c = peek();
        ++mPosition;
        switch (c) {
        case '"':
            out += '"';
            return true;
        case '\\':
            out += '\\';
            return true;
        case '/':
            out += '/';
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return fail("unknown escape");
        }
        unsigned unit = 0;
        if (!hex4(unit))
            return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return fail("lone low surrogate");
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            unsigned low = 0;
            if (mText.substr(mPosition, 2) != "\\u")
                return fail("lone high surrogate");
            mPosition += 2;
            if (!hex4(low))
                return false;
            if (low < 0xDC00 || low > 0xDFFF)
                return fail("lone high surrogate");
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            return true;
        }
        appendUtf8(out, unit);
        return true;
    }

    // One UTF-8 character taken as it stands: well formed, shortest form, no surrogates.
    bool utf8(std::string& out)
    {
        const auto byte = [this](std::size_t i) {
            return mPosition + i < mText.size() ? static_cast<unsigned char>(mText[mPosition + i]) : 0u;
        };
        const unsigned lead = byte(0);
        int length = 0;
        char32_t c = 0, minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07, minimum = 0x10000;
        } else {
            return fail("ill-formed UTF-8");
        }
        for (int i = 1; i < length; ++i) {
            if ((byte(i) & 0xC0) != 0x80)
                return fail("ill-formed UTF-8");
            c = (c << 6) | (byte(i) & 0x3F);
        }
        if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return fail("ill-formed UTF-8");
        out.append(mText.substr(mPosition, length));
        mPosition += length;
        return true;
    }

    bool parseString(std::string& out)
    {
        ++mPosition; // the opening quote
        for (;;) {
            if (atEnd())
                return fail("unterminated string");
            const auto c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++mPosition;
                return true;
            }
            if (c < 0x20)
                return fail("raw control character in string");
            if (c == '\\') {
                ++mPosition;
                if (!escape(out))
                    return false;
            } else if (c < 0x80) {
                out += static_cast<char>(c);
                ++mPosition;
            } else if (!utf8(out)) {
                return false;
            }
        }
    }

    std::string_view mText;
    std::size_t mPosition = 0;
    std::string mError;
};

} // namespace

const JsonValue* JsonValue::find(std::string_view key) const
{
    for (const auto& member : members)
        if (member.first == key)
            return &member.second;
    return nullptr;
}

std::string JsonValue::stringAt(std::string_view key) const
{
    const JsonValue* value = find(key);
    return value != nullptr && value->kind == Kind::kString ? value->text : std::string();
}

std::optional<JsonValue> parseJson(std::string_view text, std::string* error)
{
    return Parser(text).document(error);
}
