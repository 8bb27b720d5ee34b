// Results as text: one JSON object per line for scripts, or plain lines for people.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class FieldKind { Number, Text, Flag };

struct Field {
    std::string key;    // JSON member name
    std::string label;  // shown before the value to people ("" for none)
    std::string value;  // as shown: "193500", "1549.32", "C35", "on"
    std::string unit;   // "GHz", "" for none
    FieldKind kind;
};

using Fields = std::vector<Field>;

// {"channel":5,"label":"C35","output":true}; a number that is not one ("----") is null.
std::string JsonLine(const Fields& fields);
// One field a line, labels aligned.
std::string HumanBlock(const Fields& fields);
// All fields on one line, two spaces apart.
std::string HumanLine(const Fields& fields);

// "2026-12-07T11:42:01.123Z"
std::string IsoTime(int64_t wallMs);
