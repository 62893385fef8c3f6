// tests/support/JsonChecker.h
// A strict JSON reader for checking files the library writes: it accepts exactly RFC 8259 JSON
// in UTF-8 (no trailing commas, comments, leading zeros, raw control characters, lone
// surrogates, ill-formed UTF-8 or duplicate keys in one object) and gives back the value tree.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct JsonValue {
    enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

    Kind kind = Kind::kNull;
    bool boolean = false;
    double number = 0;
    std::string text; // a string's UTF-8 value
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    /// The member named `key` of an object; null when there is none or this is no object.
    const JsonValue* find(std::string_view key) const
    {
        for (const auto& [name, value] : members)
            if (name == key)
                return &value;
        return nullptr;
    }
    /// The member's string value; empty when it is missing or not a string.
    std::string stringAt(std::string_view key) const
    {
        const JsonValue* value = find(key);
        return value != nullptr && value->kind == Kind::kString ? value->text : std::string();
    }
};

/// The value `text` holds, or nothing when it is not strict JSON; `*error` then says where and
/// why.
std::optional<JsonValue> parseJson(std::string_view text, std::string* error = nullptr);
