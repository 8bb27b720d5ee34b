#include "scpi/ScpiParser.h"
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace {

bool IsAlpha(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

class Lexer {
public:
    Lexer(const std::string& line, size_t& pos) : line(line), pos(pos) {}

    int Unit(ScpiUnit& unit)
    {
        unit = ScpiUnit();
        SkipSpace();
        if (AtUnitEnd())
            return Finish();
        if (Peek() == '*') {
            ++pos;
            unit.common = true;
        } else if (Peek() == ':') {
            ++pos;
            unit.absolute = true;
        }
        for (;;) {
            std::string mnemonic;
            if (!Mnemonic(mnemonic))
                return SCPI_SYNTAX;
            unit.mnemonics.push_back(mnemonic);
            if (unit.common || Peek() != ':')
                break;
            ++pos;
        }
        if (Peek() == '?') {
            ++pos;
            unit.query = true;
        }
        if (AtUnitEnd())
            return Finish();
        if (!IsSpace(Peek()))
            return SCPI_SYNTAX;
        SkipSpace();
        if (AtUnitEnd())
            return Finish();
        for (;;) {
            ScpiParam param;
            int error = Param(param);
            if (error != 0)
                return error;
            unit.params.push_back(param);
            SkipSpace();
            if (AtUnitEnd())
                return Finish();
            if (Peek() != ',')
                return SCPI_SYNTAX;
            ++pos;
            SkipSpace();
        }
    }

private:
    char Peek() const { return pos < line.size() ? line[pos] : '\0'; }
    bool AtEnd() const { return pos >= line.size(); }
    bool AtUnitEnd() const { return AtEnd() || line[pos] == ';'; }
    static bool IsSpace(char c) { return c == ' ' || c == '\t'; }

    void SkipSpace()
    {
        while (!AtEnd() && IsSpace(line[pos]))
            ++pos;
    }

    int Finish()
    {
        if (!AtEnd())
            ++pos;  // the ';'
        return 0;
    }

    bool Mnemonic(std::string& out)
    {
        if (!IsAlpha(Peek()))
            return false;
        while (!AtEnd() && (IsAlpha(line[pos]) || IsDigit(line[pos]) || line[pos] == '_'))
            out += Upper(line[pos++]);
        return true;
    }

    int Param(ScpiParam& param)
    {
        char c = Peek();
        if (c == '"' || c == '\'')
            return String(param);
        if (IsAlpha(c)) {
            param.kind = ScpiParam::Word;
            Mnemonic(param.text);
            return 0;
        }
        return Number(param);
    }

    int String(ScpiParam& param)
    {
        const char quote = line[pos++];
        param.kind = ScpiParam::String;
        for (;;) {
            if (AtEnd())
                return SCPI_SYNTAX;  // unterminated
            char c = line[pos++];
            if (c == quote) {
                if (Peek() != quote)
                    return 0;
                ++pos;  // a doubled quote stands for one
            }
            param.text += c;
        }
    }

    size_t Digits()
    {
        size_t start = pos;
        while (IsDigit(Peek()))
            ++pos;
        return pos - start;
    }

    int Number(ScpiParam& param)
    {
        const size_t start = pos;
        if (Peek() == '+' || Peek() == '-')
            ++pos;
        size_t digits = Digits();
        if (Peek() == '.') {
            ++pos;
            digits += Digits();
        }
        if (digits == 0)
            return SCPI_SYNTAX;
        const size_t mantissaEnd = pos;
        SkipSpace();
        if (Peek() == 'e' || Peek() == 'E') {
            ++pos;
            SkipSpace();
            if (Peek() == '+' || Peek() == '-')
                ++pos;
            if (Digits() == 0)
                pos = mantissaEnd;  // no digits: the E begins a suffix
        } else {
            pos = mantissaEnd;
        }
        std::string text;
        for (size_t i = start; i < pos; ++i) {
            if (!IsSpace(line[i]))
                text += line[i];
        }
        param.kind = ScpiParam::Number;
        param.number = std::strtod(text.c_str(), nullptr);
        if (!std::isfinite(param.number))
            return SCPI_OUT_OF_RANGE;
        if (param.number == 0)
            param.number = 0;  // -0 is 0
        SkipSpace();
        while (IsAlpha(Peek()))
            param.suffix += Upper(line[pos++]);
        // Whatever follows must end the parameter: 0x10 is no number.
        SkipSpace();
        if (!AtUnitEnd() && Peek() != ',')
            return SCPI_SYNTAX;
        return 0;
    }

    const std::string& line;
    size_t& pos;
};

}  // namespace

const char* ScpiErrorText(int code)
{
    switch (code) {
    case 0: return "No error";
    case SCPI_SYNTAX: return "Syntax error";
    case SCPI_DATA_TYPE: return "Data type error";
    case SCPI_PARAM_NOT_ALLOWED: return "Parameter not allowed";
    case SCPI_MISSING_PARAM: return "Missing parameter";
    case SCPI_UNDEFINED_HEADER: return "Undefined header";
    case SCPI_INVALID_SUFFIX: return "Invalid suffix";
    case SCPI_EXECUTION: return "Execution error";
    case SCPI_OUT_OF_RANGE: return "Data out of range";
    case SCPI_TOO_MUCH_DATA: return "Too much data";
    case SCPI_ILLEGAL_VALUE: return "Illegal value";
    case SCPI_HARDWARE_MISSING: return "Hardware missing";
    case SCPI_QUEUE_OVERFLOW: return "Queue overflow";
    default: return "Error";
    }
}

int ParseUnit(const std::string& line, size_t& pos, ScpiUnit& unit)
{
    return Lexer(line, pos).Unit(unit);
}

bool MnemonicMatches(const std::string& typed, const std::string& node)
{
    std::string shortForm, longForm;
    for (char c : node) {
        if (c >= 'A' && c <= 'Z')
            shortForm += c;
        longForm += Upper(c);
    }
    return typed == shortForm || typed == longForm;
}
