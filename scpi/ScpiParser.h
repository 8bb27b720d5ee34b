// One line of SCPI split into program message units: headers, the query mark and the
// parameters, checked for syntax only. What a header means is the session's business.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

enum ScpiError {
    SCPI_SYNTAX = -102,
    SCPI_DATA_TYPE = -104,
    SCPI_PARAM_NOT_ALLOWED = -108,
    SCPI_MISSING_PARAM = -109,
    SCPI_UNDEFINED_HEADER = -113,
    SCPI_INVALID_SUFFIX = -131,
    SCPI_EXECUTION = -200,
    SCPI_OUT_OF_RANGE = -222,
    SCPI_TOO_MUCH_DATA = -223,
    SCPI_ILLEGAL_VALUE = -224,
    SCPI_HARDWARE_MISSING = -241,
    SCPI_QUEUE_OVERFLOW = -350,
};

// The standard text of a code.
const char* ScpiErrorText(int code);

struct ScpiParam {
    enum Kind { Number, Word, String } kind = Number;
    double number = 0;   // Number
    std::string text;    // Word upper-cased; String's contents
    std::string suffix;  // Number's unit, upper-cased ("" without)
};

struct ScpiUnit {
    bool common = false;    // *XXX
    bool absolute = false;  // began with ':'
    bool query = false;
    std::vector<std::string> mnemonics;  // upper-cased; one for a common command
    std::vector<ScpiParam> params;
    bool Empty() const { return mnemonics.empty(); }
};

// Parses the unit starting at pos and moves pos past its ';' (or to the end). Returns 0, or
// the error code of the first fault (pos is then unspecified: the rest of the line is lost).
int ParseUnit(const std::string& line, size_t& pos, ScpiUnit& unit);

// Whether a mnemonic as typed (upper-cased) names a node written "CHANnel": its short form
// (the capitals) or its long form.
bool MnemonicMatches(const std::string& typed, const std::string& node);
