#include "ctl/Report.h"
#include <nlohmann/json.hpp>
#include <cstdio>
#include <ctime>
#include "protocol/ValueFormat.h"

namespace {

// A number as the tool shows it ("10.00") is written as it is: JSON keeps the two decimals.
bool IsJsonNumber(const std::string& text)
{
    nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    return value.is_number();
}

// Labels can hold any byte (the label digits are not clamped): each is taken as the
// character of that code and written escaped when it is not printable ASCII.
std::string JsonString(const std::string& text)
{
    std::string utf8;
    for (unsigned char c : text) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | c >> 6);
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return nlohmann::json(utf8).dump(-1, ' ', true);
}

std::string JsonValue(const Field& field)
{
    switch (field.kind) {
    case FieldKind::Number:
        return IsJsonNumber(field.value) ? field.value : nlohmann::json().dump();
    case FieldKind::Flag: return nlohmann::json(field.value == "on").dump();
    default: return JsonString(field.value);
    }
}

// People get the bytes of a label that are not printable as \xNN.
std::string ValueAndUnit(const Field& field)
{
    std::string text = Printable(field.value);
    if (!field.unit.empty())
        text += " " + field.unit;
    return text;
}

}  // namespace

std::string JsonLine(const Fields& fields)
{
    std::string out = "{";
    for (const Field& field : fields) {
        if (out.size() > 1)
            out += ",";
        out += JsonString(field.key) + ":" + JsonValue(field);
    }
    return out + "}";
}

std::string HumanBlock(const Fields& fields)
{
    size_t width = 0;
    for (const Field& field : fields)
        width = field.label.size() > width ? field.label.size() : width;
    std::string out;
    for (const Field& field : fields) {
        out += field.label + std::string(width + 2 - field.label.size(), ' ');
        out += ValueAndUnit(field) + "\n";
    }
    return out;
}

std::string HumanLine(const Fields& fields)
{
    std::string out;
    for (const Field& field : fields) {
        if (!out.empty())
            out += "  ";
        if (!field.label.empty())
            out += field.label + " ";
        out += ValueAndUnit(field);
    }
    return out;
}

std::string IsoTime(int64_t wallMs)
{
    std::time_t seconds = static_cast<std::time_t>(wallMs / 1000);
    std::tm parts{};
    if (const std::tm* utc = std::gmtime(&seconds))
        parts = *utc;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(wallMs % 1000));
    return text;
}
