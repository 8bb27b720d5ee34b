#include "sim/SimModule.h"
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace {

constexpr int CODE_COUNT = 8;
constexpr int64_t MAX_DELAY_MS = 600000;
constexpr long MAX_REPEAT = 1000000;
constexpr int32_t FREQUENCY_BASE = 180000;  // the first frequency travels as GHz above this

// Whole-text decimal integer within [min, max].
bool ParseNumber(const std::string& text, long min, long max, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < min || parsed > max)
        return false;
    value = parsed;
    return true;
}

bool ParseHexDigit(char c, uint8_t& digit)
{
    if (c >= '0' && c <= '9')
        digit = static_cast<uint8_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
        digit = static_cast<uint8_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        digit = static_cast<uint8_t>(c - 'A' + 10);
    else
        return false;
    return true;
}

// One word of an inject: "7", "07", "0x07", or several bytes run together ("010100").
bool ParseHexWord(std::string word, std::vector<uint8_t>& bytes)
{
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X'))
        word.erase(0, 2);
    if (word.size() == 1)
        word.insert(word.begin(), '0');
    if (word.empty() || word.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < word.size(); i += 2) {
        uint8_t high = 0;
        uint8_t low = 0;
        if (!ParseHexDigit(word[i], high) || !ParseHexDigit(word[i + 1], low))
            return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

// A code 1-8, or "all": the first and last index of the codes meant.
bool ParseCodes(const std::string& text, int& first, int& last)
{
    if (text == "all") {
        first = 0;
        last = CODE_COUNT - 1;
        return true;
    }
    long code = 0;
    if (!ParseNumber(text, 1, CODE_COUNT, code))
        return false;
    first = last = static_cast<int>(code - 1);
    return true;
}

// Below the minimum gives the minimum, else above the maximum the maximum (so a module
// whose limits are crossed still gives a definite answer).
uint16_t Clamp(uint16_t value, unsigned min, unsigned max)
{
    if (value < min)
        return static_cast<uint16_t>(min);
    if (value > max)
        return static_cast<uint16_t>(max);
    return value;
}

bool IsRequestStart(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() >= 1 && bytes[0] != FORM_QUERY[0] && bytes[0] != FORM_SET[0])
        return false;
    if (bytes.size() >= 2) {
        bool query = bytes[0] == FORM_QUERY[0] && bytes[1] == FORM_QUERY[1];
        bool set = bytes[0] == FORM_SET[0] && bytes[1] == FORM_SET[1];
        return query || set;
    }
    return true;
}

struct SimField {
    const char* name;
    long min;
    long max;
    void (*store)(SimSettings&, long);
};

const SimField simFields[] = {
    {"channels", 0, 255, [](SimSettings& s, long v) { s.channelCount = static_cast<uint8_t>(v); }},
    {"first-freq", FREQUENCY_BASE, FREQUENCY_BASE + 65535,
     [](SimSettings& s, long v) { s.firstFrequency = static_cast<int32_t>(v); }},
    {"grid", -32768, 32767, [](SimSettings& s, long v) { s.grid = static_cast<int16_t>(v); }},
    {"power-min", 0, 65535, [](SimSettings& s, long v) { s.powerMin = static_cast<uint16_t>(v); }},
    {"power-max", 0, 65535, [](SimSettings& s, long v) { s.powerMax = static_cast<uint16_t>(v); }},
    {"channel", 0, 255, [](SimSettings& s, long v) { s.channel = static_cast<uint8_t>(v); }},
    {"power", 0, 65535, [](SimSettings& s, long v) { s.power = static_cast<uint16_t>(v); }},
    {"output", 0, 1, [](SimSettings& s, long v) { s.output = static_cast<uint8_t>(v); }},
};

}  // namespace

bool IsSimField(const std::string& name)
{
    for (const SimField& field : simFields) {
        if (name == field.name)
            return true;
    }
    return false;
}

bool SetSimField(SimSettings& settings, const std::string& name, const std::string& text,
                 std::string& error)
{
    for (const SimField& field : simFields) {
        if (name != field.name)
            continue;
        long value = 0;
        if (!ParseNumber(text, field.min, field.max, value)) {
            // An error message, built once on the way out.
            // NOLINTBEGIN(performance-inefficient-string-concatenation)
            error = name + " takes a whole number from " + std::to_string(field.min) + " to " +
                    std::to_string(field.max) + ", not \"" + text + "\"";
            // NOLINTEND(performance-inefficient-string-concatenation)
            return false;
        }
        field.store(settings, value);
        return true;
    }
    error = "unknown field \"" + name +
            "\" (channels, first-freq, grid, power-min, power-max, channel, power, output)";
    return false;
}

SimModule::SimModule(const SimSettings& settings, SimLogSink log)
    : settings(settings), log(std::move(log))
{}

void SimModule::Log(int64_t now, const std::string& line) const
{
    if (log)
        log(now, line);
}

void SimModule::Receive(const uint8_t* data, size_t size, int64_t now)
{
    for (size_t i = 0; i < size; ++i) {
        received.push_back(data[i]);
        // Slide by one byte until what is held can still be, or is, a valid frame.
        for (;;) {
            if (!IsRequestStart(received)) {
                DropFirst(now);
                continue;
            }
            if (received.size() < static_cast<size_t>(FRAME_LENGTH))
                break;
            if (FrameChecksum(received.data()) != received[FRAME_LENGTH - 1]) {
                DropFirst(now);
                continue;
            }
            DeviceFrame frame;
            for (int k = 0; k < FRAME_LENGTH; ++k)
                frame.bytes[k] = received[k];
            received.clear();
            Handle(frame, now);
            break;
        }
    }
}

void SimModule::DropFirst(int64_t now)
{
    Log(now, "DROP " + HexBytes(received.data(), 1));
    received.erase(received.begin());
}

void SimModule::Handle(const DeviceFrame& frame, int64_t now)
{
    Log(now, "RX " + HexBytes(frame.bytes, FRAME_LENGTH));
    uint8_t code = frame.bytes[2];
    if (code < 1 || code > CODE_COUNT)
        return;  // not a code of this module: no answer
    if (frame.bytes[0] == FORM_SET[0])
        ApplySet(code, static_cast<uint16_t>(frame.bytes[3] << 8 | frame.bytes[4]));
    // Muted and skipped frames are still carried out; only their answer is lost.
    if (muted[code - 1])
        return;
    if (skip[code - 1] > 0) {
        --skip[code - 1];
        return;
    }
    Respond(code, now + delayMs);
}

void SimModule::ApplySet(uint8_t code, uint16_t value)
{
    switch (code) {
    case CMD_CHANNEL:
        settings.channel = static_cast<uint8_t>(Clamp(value, 1, settings.channelCount));
        break;
    case CMD_POWER: settings.power = Clamp(value, settings.powerMin, settings.powerMax); break;
    case CMD_OUTPUT: settings.output = value != 0 ? 1 : 0; break;
    default: break;  // the limits cannot be set: the answer tells the value unchanged
    }
}

uint16_t SimModule::ValueInForce(uint8_t code) const
{
    switch (code) {
    case CMD_CHANNEL: return settings.channel;
    case CMD_POWER: return settings.power;
    case CMD_OUTPUT: return settings.output ? 0x0101 : 0x0000;  // both data bytes carry it
    case CMD_CHANNEL_COUNT: return settings.channelCount;
    case CMD_POWER_MAX: return settings.powerMax;
    case CMD_POWER_MIN: return settings.powerMin;
    case CMD_FIRST_FREQ: return static_cast<uint16_t>(settings.firstFrequency - FREQUENCY_BASE);
    default: return static_cast<uint16_t>(settings.grid);
    }
}

void SimModule::Respond(uint8_t code, int64_t due)
{
    DeviceFrame frame = MakeFrame(FORM_RESPONSE, code, ValueInForce(code));
    if (corrupt > 0) {
        --corrupt;
        frame.bytes[5] = static_cast<uint8_t>(~frame.bytes[5]);
    }
    pending.push_back({due, std::vector<uint8_t>(frame.bytes, frame.bytes + FRAME_LENGTH)});
}

int64_t SimModule::NextDue() const
{
    int64_t next = -1;
    for (const Output& output : pending) {
        if (next < 0 || output.due < next)
            next = output.due;
    }
    return next;
}

std::vector<uint8_t> SimModule::TakeDue(int64_t now)
{
    std::vector<uint8_t> bytes;
    std::vector<Output> later;
    for (Output& output : pending) {
        if (output.due > now) {
            later.push_back(std::move(output));
            continue;
        }
        Log(now, "TX " + HexBytes(output.bytes.data(), output.bytes.size()));
        bytes.insert(bytes.end(), output.bytes.begin(), output.bytes.end());
    }
    pending = std::move(later);
    return bytes;
}

void SimModule::Disconnect(int64_t now)
{
    while (!received.empty())
        DropFirst(now);
    pending.clear();
}

SimAction SimModule::Execute(const std::string& line, int64_t now)
{
    std::istringstream stream(line);
    std::vector<std::string> words;
    std::string word;
    while (stream >> word)
        words.push_back(word);
    if (words.empty())
        return SimAction::None;

    std::string command;
    for (const std::string& w : words)
        command += (command.empty() ? "" : " ") + w;

    const std::string& name = words[0];
    if (name == "unplug" || name == "plug" || name == "quit") {
        if (words.size() == 1)
            return name == "unplug" ? SimAction::Unplug
                   : name == "plug" ? SimAction::Plug
                                    : SimAction::Quit;
        Log(now, "ERR \"" + command + "\": " + name + " takes no arguments");
        return SimAction::None;
    }

    std::string error;
    if (RunCommand(words, now, error))
        Log(now, "CMD " + command);
    else
        Log(now, "ERR \"" + command + "\": " + error);
    return SimAction::None;
}

// Checks the whole command before it changes anything.
bool SimModule::RunCommand(const std::vector<std::string>& words, int64_t now, std::string& error)
{
    const std::string& name = words[0];
    size_t args = words.size() - 1;
    int first = 0;
    int last = 0;
    long number = 0;

    if (name == "mute" || name == "unmute") {
        if (args != 1 || !ParseCodes(words[1], first, last)) {
            error = "usage: " + name + " CODE|all (CODE 1-8)";
            return false;
        }
        for (int i = first; i <= last; ++i)
            muted[i] = name == "mute";
        return true;
    }
    if (name == "skip") {
        if (args != 2 || !ParseCodes(words[1], first, last) ||
            !ParseNumber(words[2], 0, MAX_REPEAT, number)) {
            error = "usage: skip CODE|all N (CODE 1-8, N 0-" + std::to_string(MAX_REPEAT) + ")";
            return false;
        }
        for (int i = first; i <= last; ++i)
            skip[i] = static_cast<unsigned>(number);
        return true;
    }
    if (name == "delay") {
        if (args != 1 || !ParseNumber(words[1], 0, MAX_DELAY_MS, number)) {
            error = "usage: delay MS (0-" + std::to_string(MAX_DELAY_MS) + ")";
            return false;
        }
        delayMs = number;
        return true;
    }
    if (name == "corrupt") {
        if (args != 1 || !ParseNumber(words[1], 0, MAX_REPEAT, number)) {
            error = "usage: corrupt N (0-" + std::to_string(MAX_REPEAT) + ")";
            return false;
        }
        corrupt = static_cast<unsigned>(number);
        return true;
    }
    if (name == "inject") {
        std::vector<uint8_t> bytes;
        bool valid = args > 0;
        for (size_t i = 1; valid && i < words.size(); ++i)
            valid = ParseHexWord(words[i], bytes);
        if (!valid) {
            error = "usage: inject HEX... (bytes in hex, e.g. 01 01 01 00 05 08)";
            return false;
        }
        pending.push_back({now, bytes});
        return true;
    }
    if (name == "answer") {
        if (args != 1 || !ParseNumber(words[1], 1, CODE_COUNT, number)) {
            error = "usage: answer CODE (1-8)";
            return false;
        }
        Respond(static_cast<uint8_t>(number), now);
        return true;
    }
    if (name == "set") {
        if (args != 2) {
            error = "usage: set FIELD VALUE";
            return false;
        }
        return SetSimField(settings, words[1], words[2], error);
    }
    error = "unknown command \"" + name +
            "\" (mute, unmute, skip, delay, corrupt, inject, answer, set, unplug, plug, quit)";
    return false;
}
