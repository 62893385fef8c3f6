// tests/support/Utf8Oracle.h
// An independent UTF-8 decoder: it reads the table of well-formed byte sequences row by row and
// replaces each maximal subpart of an ill-formed sequence (at least one byte) by one U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace oxtest {

inline std::u16string decodeUtf8Oracle(std::string_view bytes)
{
    struct Row {
        unsigned char low[4], high[4];
        std::size_t length;
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
    static constexpr Row kNoRow = {{1}, {0}, 1}; // a lead byte no row takes: matches nothing
    std::u16string out;
    for (std::size_t i = 0, matched = 0; i < bytes.size(); i += matched == 0 ? 1 : matched) {
        const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[i + k]); };
        const Row* row = &kNoRow;
        for (const Row& candidate : kWellFormed)
            if (at(0) >= candidate.low[0] && at(0) <= candidate.high[0])
                row = &candidate;
        for (matched = 0; matched < row->length && i + matched < bytes.size() &&
                          at(matched) >= row->low[matched] && at(matched) <= row->high[matched];)
            ++matched;
        const bool wellFormed = matched == row->length;
        char32_t codePoint = wellFormed ? at(0) & (0xFF >> (row->length + (row->length > 1))) : 0xFFFD;
        for (std::size_t k = 1; wellFormed && k < matched; ++k)
            codePoint = (codePoint << 6) | (at(k) & 0x3F);
        if (codePoint >= 0x10000)
            out += {static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10)),
                    static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF))};
        else
            out += static_cast<char16_t>(codePoint);
    }
    return out;
}

/// Whether every surrogate of `text` is part of a pair.
inline bool isValidUtf16(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((text[i] & 0xFC00) == 0xD800 && i + 1 < text.size() && (text[i + 1] & 0xFC00) == 0xDC00)
            ++i;
        else if ((text[i] & 0xF800) == 0xD800)
            return false;
    return true;
}

} // namespace oxtest
