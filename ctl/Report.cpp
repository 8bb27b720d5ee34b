#include "Report.h"
#include <cstdio>
#include <ctime>

namespace {

bool IsJsonNumber(const std::string& text)
{
    size_t i = text.empty() || text[0] != '-' ? 0 : 1;
    if (i >= text.size())
        return false;
    for (; i < text.size(); ++i) {
        if ((text[i] < '0' || text[i] > '9') && text[i] != '.')
            return false;
    }
    return true;
}

// Labels can hold any byte (the label digits are not clamped): JSON gets them escaped.
std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// And the terminal gets them as \xNN.
std::string Printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string JsonValue(const Field& field)
{
    switch (field.kind) {
    case FieldKind::Number: return IsJsonNumber(field.value) ? field.value : "null";
    case FieldKind::Flag: return field.value == "on" ? "true" : "false";
    default: return JsonString(field.value);
    }
}

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
