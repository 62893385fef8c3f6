// tests/support/Utf8Oracle.h
// An independent UTF-8 decoder for checking the library's: it reads the table of well-formed
// byte sequences row by row instead of computing ranges from the lead byte, and replaces each
// maximal subpart of an ill-formed sequence (the longest prefix of a well-formed sequence that
// is there) by one U+FFFD, at least one byte at a time.
#pragma once

#include <string>
#include <string_view>

namespace oxtest {

inline std::u16string decodeUtf8Oracle(std::string_view bytes)
{
    struct Row {
        unsigned char low[4];
        unsigned char high[4];
        int length;
    };
    static constexpr Row kWellFormed[] = {
        {{0x00}, {0x7F}, 1},
        {{0xC2, 0x80}, {0xDF, 0xBF}, 2},
        {{0xE0, 0xA0, 0x80}, {0xE0, 0xBF, 0xBF}, 3},
        {{0xE1, 0x80, 0x80}, {0xEC, 0xBF, 0xBF}, 3},
        {{0xED, 0x80, 0x80}, {0xED, 0x9F, 0xBF}, 3},
        {{0xEE, 0x80, 0x80}, {0xEF, 0xBF, 0xBF}, 3},
        {{0xF0, 0x90, 0x80, 0x80}, {0xF0, 0xBF, 0xBF, 0xBF}, 4},
        {{0xF1, 0x80, 0x80, 0x80}, {0xF3, 0xBF, 0xBF, 0xBF}, 4},
        {{0xF4, 0x80, 0x80, 0x80}, {0xF4, 0x8F, 0xBF, 0xBF}, 4},
    };
    std::u16string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[i + k]); };
        const Row* row = nullptr;
        for (const Row& candidate : kWellFormed)
            if (at(0) >= candidate.low[0] && at(0) <= candidate.high[0])
                row = &candidate;
        std::size_t matched = 0;
        if (row != nullptr)
            while (matched < static_cast<std::size_t>(row->length) && i + matched < bytes.size() &&
                   at(matched) >= row->low[matched] && at(matched) <= row->high[matched])
                ++matched;
        if (row == nullptr || matched < static_cast<std::size_t>(row->length)) {
            out += u'\xFFFD';
            i += matched > 0 ? matched : 1;
            continue;
        }
        char32_t codePoint = row->length == 1 ? at(0) : at(0) & (0x7F >> row->length);
        for (std::size_t k = 1; k < matched; ++k)
            codePoint = (codePoint << 6) | (at(k) & 0x3F);
        if (codePoint >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(codePoint);
        }
        i += matched;
    }
    return out;
}

/// Whether every surrogate of `text` is part of a pair.
inline bool isValidUtf16(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            ++i;
        else if (unit >= 0xD800 && unit <= 0xDFFF)
            return false;
    }
    return true;
}

} // namespace oxtest
