// The commands that reach the module: channel, frequency, wavelength, power and output.
#include <cmath>
#include <cstdio>
#include "protocol/DeviceFrame.h"
#include "protocol/FrequencyLabel.h"
#include "scpi/ScpiSession.h"
#include "protocol/ValueFormat.h"

namespace {

constexpr double SCPI_NAN = 9.91e37;  // SCPI's "no value"

struct Unit {
    const char* suffix;
    double factor;
};
constexpr Unit FREQUENCY_UNITS[] = {{"", 1},      {"HZ", 1},    {"KHZ", 1e3},
                                    {"MHZ", 1e6}, {"GHZ", 1e9}, {"THZ", 1e12}};
constexpr Unit WAVELENGTH_UNITS[] = {{"", 1}, {"M", 1}, {"UM", 1e-6}, {"NM", 1e-9}, {"PM", 1e-12}};

// NR3 with a two-digit exponent at least, whatever the C runtime writes.
std::string Nr3(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*E", decimals, value);
    std::string s = text;
    size_t e = s.find('E');
    if (e == std::string::npos || e + 2 > s.size())
        return s;
    std::string digits = s.substr(e + 2);
    while (digits.size() > 2 && digits[0] == '0')
        digits.erase(0, 1);
    return s.substr(0, e + 2) + digits;
}

std::string Value(uint8_t code, uint16_t value)
{
    if (code == CMD_POWER)
        return PowerText(value) + " dBm";
    if (code == CMD_OUTPUT)
        return value ? "ON" : "OFF";
    return std::to_string(value);
}

int32_t Frequency(const DeviceStateRecord& state, int channel)
{
    return ChannelFrequency(state.firstFrequency, state.grid, static_cast<uint8_t>(channel));
}

// The lowest and highest frequency of the band (grid may be negative on odd modules).
int32_t BandEdge(const DeviceStateRecord& state, bool high)
{
    int32_t first = Frequency(state, 1);
    int32_t last = Frequency(state, state.channelCount);
    return (first > last) == high ? first : last;
}

// A number in its unit scaled to the base unit: 0, or the error to queue.
template <size_t N>
int Scaled(const ScpiParam& param, const Unit (&units)[N], double& value)
{
    for (const Unit& unit : units) {
        if (param.suffix == unit.suffix) {
            value = param.number * unit.factor;
            return std::isfinite(value) ? 0 : SCPI_OUT_OF_RANGE;
        }
    }
    return SCPI_INVALID_SUFFIX;
}

std::string WavelengthText(int32_t frequencyGhz)
{
    double nm = Wavelength(frequencyGhz);
    return std::isfinite(nm) ? Nr3(nm * 1e-9, 5) : Nr3(SCPI_NAN, 2);
}

}  // namespace

void ScpiSession::SetConfirmed(uint8_t code, uint16_t value)
{
    if (!Module(instrument.Set(code, value)))
        return;
    const uint16_t answer = SettingValue(instrument.State(), code);
    if (answer != value)
        Fail(SCPI_EXECUTION, CodeName(code) + " " + Value(code, value) + " sent; module answered " +
                                 Value(code, answer));
}

// Nothing outside the module's range is sent: SCPI clients expect an error, not a clamp.
void ScpiSession::SetInRange(uint8_t code, double value, double min, double max)
{
    if (value >= min && value <= max)
        SetConfirmed(code, static_cast<uint16_t>(value));
    else
        Fail(SCPI_OUT_OF_RANGE);
}

void ScpiSession::ChannelSet(const ScpiUnit& unit, std::string&)
{
    const ScpiParam* param = nullptr;
    if (!OneParam(unit, param) || !Limits())
        return;
    const DeviceStateRecord& state = instrument.State();
    double channel = 0;
    if (param->kind == ScpiParam::Word) {
        const Limit limit = LimitWord(param->text);
        if (limit != Limit::None) {
            channel = limit == Limit::Min ? 1 : state.channelCount;
        } else if (param->text == "UP" || param->text == "DOWN") {
            if (!Module(instrument.Query(CMD_CHANNEL)))
                return;
            channel = state.channel + (param->text == "UP" ? 1 : -1);
        } else {
            Fail(SCPI_ILLEGAL_VALUE);
            return;
        }
    } else if (!param->suffix.empty()) {
        Fail(SCPI_INVALID_SUFFIX);
        return;
    } else {
        channel = std::round(param->number);
    }
    SetInRange(CMD_CHANNEL, channel, 1, state.channelCount);
}

void ScpiSession::ChannelQuery(const ScpiUnit& unit, std::string& reply)
{
    const Limit limit = QueriedLimit(unit);
    if (limit == Limit::Failed)
        return;
    if (limit != Limit::None) {
        if (Limits())
            reply = std::to_string(limit == Limit::Min ? 1 : instrument.State().channelCount);
        return;
    }
    if (Module(instrument.Query(CMD_CHANNEL)))
        reply = std::to_string(instrument.State().channel);
}

void ScpiSession::ChannelCount(const ScpiUnit&, std::string& reply)
{
    if (Limits())
        reply = std::to_string(instrument.State().channelCount);
}

void ScpiSession::LabelQuery(const ScpiUnit&, std::string& reply)
{
    if (!Module(instrument.Query(CMD_CHANNEL)))
        return;
    // An odd module's label may hold any byte: the reply stays one quoted line.
    reply = "\"";
    for (const char* c = instrument.State().ituLabel; *c != '\0'; ++c)
        reply +=
            *c == '"' ? std::string("\"\"") : std::string(1, *c >= ' ' && *c <= '~' ? *c : '?');
    reply += "\"";
}

// The channel nearest in frequency; more than half a grid step outside the band is out
// of range. MIN and MAX are the band's edges.
void ScpiSession::TuneToFrequency(const ScpiParam& param, bool wavelength)
{
    const DeviceStateRecord& state = instrument.State();
    if (state.channelCount == 0 || state.grid <= 0) {
        Fail(SCPI_OUT_OF_RANGE);
        return;
    }
    double ghz = 0;
    if (param.kind == ScpiParam::Word) {
        const Limit limit = LimitWord(param.text);
        if (limit == Limit::None) {
            Fail(SCPI_ILLEGAL_VALUE);
            return;
        }
        // The shortest wavelength is the highest frequency.
        ghz = BandEdge(state, (limit == Limit::Min) == wavelength);
    } else {
        double value = 0;
        int error = wavelength ? Scaled(param, WAVELENGTH_UNITS, value)
                               : Scaled(param, FREQUENCY_UNITS, value);
        if (error == 0 && wavelength && value <= 0)
            error = SCPI_OUT_OF_RANGE;
        if (error != 0) {
            Fail(error);
            return;
        }
        ghz = wavelength ? SPEED_OF_LIGHT / (value * 1e9) : value / 1e9;
    }
    double half = state.grid / 2.0;
    if (!(ghz >= BandEdge(state, false) - half && ghz <= BandEdge(state, true) + half)) {
        Fail(SCPI_OUT_OF_RANGE);
        return;
    }
    double channel = std::round((ghz - state.firstFrequency) / state.grid) + 1;
    channel = std::min(std::max(channel, 1.0), static_cast<double>(state.channelCount));
    SetConfirmed(CMD_CHANNEL, static_cast<uint16_t>(channel));
}

void ScpiSession::FrequencySet(const ScpiUnit& unit, std::string&)
{
    const ScpiParam* param = nullptr;
    if (OneParam(unit, param) && Limits())
        TuneToFrequency(*param, false);
}

void ScpiSession::WavelengthSet(const ScpiUnit& unit, std::string&)
{
    const ScpiParam* param = nullptr;
    if (OneParam(unit, param) && Limits())
        TuneToFrequency(*param, true);
}

// The frequency in GHz that a frequency or wavelength query answers about.
bool ScpiSession::QueriedFrequency(const ScpiUnit& unit, bool highest, int32_t& ghz)
{
    const Limit limit = QueriedLimit(unit);
    if (limit == Limit::Failed)
        return false;
    if (limit == Limit::None) {
        if (!Module(instrument.Query(CMD_CHANNEL)))
            return false;
        ghz = instrument.State().frequency;
        return true;
    }
    if (!Limits())
        return false;
    if (instrument.State().channelCount == 0) {
        Fail(SCPI_OUT_OF_RANGE);
        return false;
    }
    ghz = BandEdge(instrument.State(), (limit == Limit::Max) == highest);
    return true;
}

void ScpiSession::FrequencyQuery(const ScpiUnit& unit, std::string& reply)
{
    int32_t ghz = 0;
    if (QueriedFrequency(unit, true, ghz))
        reply = Nr3(ghz * 1e9, 8);
}

void ScpiSession::WavelengthQuery(const ScpiUnit& unit, std::string& reply)
{
    int32_t ghz = 0;
    if (QueriedFrequency(unit, false, ghz))
        reply = WavelengthText(ghz);
}

void ScpiSession::PowerSet(const ScpiUnit& unit, std::string&)
{
    const ScpiParam* param = nullptr;
    if (!OneParam(unit, param) || !Limits())
        return;
    const DeviceStateRecord& state = instrument.State();
    double counts = 0;
    if (param->kind == ScpiParam::Word) {
        const Limit limit = LimitWord(param->text);
        if (limit == Limit::None) {
            Fail(SCPI_ILLEGAL_VALUE);
            return;
        }
        counts = limit == Limit::Min ? state.powerMin : state.powerMax;
    } else if (!param->suffix.empty() && param->suffix != "DBM") {
        Fail(SCPI_INVALID_SUFFIX);
        return;
    } else {
        counts = std::round(param->number * 100.0);
    }
    SetInRange(CMD_POWER, counts, state.powerMin, state.powerMax);
}

void ScpiSession::PowerQuery(const ScpiUnit& unit, std::string& reply)
{
    const Limit limit = QueriedLimit(unit);
    if (limit == Limit::Failed)
        return;
    if (limit != Limit::None) {
        if (Limits())
            reply = PowerText(limit == Limit::Min ? instrument.State().powerMin
                                                  : instrument.State().powerMax);
        return;
    }
    if (Module(instrument.Query(CMD_POWER)))
        reply = PowerText(instrument.State().power);
}

void ScpiSession::OutputSet(const ScpiUnit& unit, std::string&)
{
    const ScpiParam* param = nullptr;
    if (!OneParam(unit, param))
        return;
    int on = -1;
    if (param->kind == ScpiParam::Word)
        on = param->text == "ON" ? 1 : param->text == "OFF" ? 0 : -1;
    else if (param->suffix.empty() && (param->number == 0 || param->number == 1))
        on = static_cast<int>(param->number);
    if (on < 0) {
        Fail(param->kind == ScpiParam::Number && !param->suffix.empty() ? SCPI_INVALID_SUFFIX
                                                                        : SCPI_ILLEGAL_VALUE);
        return;
    }
    SetConfirmed(CMD_OUTPUT, static_cast<uint16_t>(on));
}

void ScpiSession::OutputQuery(const ScpiUnit&, std::string& reply)
{
    if (Module(instrument.Query(CMD_OUTPUT)))
        reply = instrument.State().outputOn ? "1" : "0";
}
