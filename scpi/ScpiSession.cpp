#include "scpi/ScpiSession.h"
#include <algorithm>
#include <cmath>
#include "protocol/DeviceFrame.h"

namespace {

// Event status register bits.
constexpr uint8_t ESR_OPC = 1 << 0;
constexpr uint8_t ESR_QYE = 1 << 2;
constexpr uint8_t ESR_DDE = 1 << 3;
constexpr uint8_t ESR_EXE = 1 << 4;
constexpr uint8_t ESR_CME = 1 << 5;

// Pattern nodes: "[SOURce]:CHANnel" is SOURce (optional), CHANnel.
struct Node {
    std::string name;
    bool optional;
};

std::vector<Node> Nodes(const std::string& pattern)
{
    std::vector<Node> nodes;
    bool optional = false;
    std::string name;
    auto flush = [&] {
        if (!name.empty())
            nodes.push_back({name, optional});
        name.clear();
    };
    for (char c : pattern) {
        if (c == '[' || c == ']' || c == ':') {
            flush();
            if (c != ':')
                optional = c == '[';
        } else {
            name += c;
        }
    }
    flush();
    return nodes;
}

bool Matches(const std::vector<Node>& nodes, size_t i, const std::vector<std::string>& typed,
             size_t j)
{
    if (j == typed.size()) {
        for (; i < nodes.size(); ++i) {
            if (!nodes[i].optional)
                return false;
        }
        return true;
    }
    if (i == nodes.size())
        return false;
    if (MnemonicMatches(typed[j], nodes[i].name) && Matches(nodes, i + 1, typed, j + 1))
        return true;
    return nodes[i].optional && Matches(nodes, i + 1, typed, j);
}

}  // namespace

ScpiSession::ScpiSession(Instrument& instrument, std::function<std::string()> lockedBy)
    : instrument(instrument), lockedBy(std::move(lockedBy))
{}

const std::vector<ScpiSession::Command>& ScpiSession::Table()
{
    static const std::vector<Command> table = {
        {"*IDN", true, &ScpiSession::Idn, false},
        {"*RST", false, &ScpiSession::Rst, false},
        {"*CLS", false, &ScpiSession::Cls, false},
        {"*ESE", false, &ScpiSession::EseSet, false},
        {"*ESE", true, &ScpiSession::EseQuery, false},
        {"*ESR", true, &ScpiSession::EsrQuery, false},
        {"*SRE", false, &ScpiSession::SreSet, false},
        {"*SRE", true, &ScpiSession::SreQuery, false},
        {"*STB", true, &ScpiSession::StbQuery, false},
        {"*OPC", false, &ScpiSession::Opc, false},
        {"*OPC", true, &ScpiSession::OpcQuery, false},
        {"*WAI", false, &ScpiSession::Wai, false},
        {"*TST", true, &ScpiSession::TstQuery, false},
        {"SYSTem:ERRor[:NEXT]", true, &ScpiSession::ErrorQuery, false},
        {"SYSTem:ERRor:COUNt", true, &ScpiSession::ErrorCount, false},
        {"SYSTem:VERSion", true, &ScpiSession::Version, false},
        {"[SOURce]:CHANnel", false, &ScpiSession::ChannelSet, false},
        {"[SOURce]:CHANnel", true, &ScpiSession::ChannelQuery, true},
        {"[SOURce]:CHANnel:COUNt", true, &ScpiSession::ChannelCount, false},
        {"[SOURce]:CHANnel:LABel", true, &ScpiSession::LabelQuery, false},
        {"[SOURce]:FREQuency", false, &ScpiSession::FrequencySet, false},
        {"[SOURce]:FREQuency", true, &ScpiSession::FrequencyQuery, true},
        {"[SOURce]:WAVelength", false, &ScpiSession::WavelengthSet, false},
        {"[SOURce]:WAVelength", true, &ScpiSession::WavelengthQuery, true},
        {"[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]", false, &ScpiSession::PowerSet, false},
        {"[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]", true, &ScpiSession::PowerQuery, true},
        {"OUTPut[:STATe]", false, &ScpiSession::OutputSet, false},
        {"OUTPut[:STATe]", true, &ScpiSession::OutputQuery, false},
    };
    return table;
}

const ScpiSession::Command* ScpiSession::Find(const std::vector<std::string>& mnemonics,
                                              bool common, bool query) const
{
    for (const Command& command : Table()) {
        if (command.query != query || (command.pattern[0] == '*') != common)
            continue;
        if (common ? mnemonics.size() == 1 && mnemonics[0] == command.pattern + 1
                   : Matches(Nodes(command.pattern), 0, mnemonics, 0))
            return &command;
    }
    return nullptr;
}

std::string ScpiSession::Execute(const std::string& input)
{
    std::string line = input;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::vector<std::string> replies;
    std::vector<std::string> path;  // the node level a unit without ':' continues at
    size_t pos = 0;
    while (pos < line.size()) {
        ScpiUnit unit;
        int error = ParseUnit(line, pos, unit);
        if (error != 0) {
            Fail(error);
            break;  // the rest of the line cannot be told apart reliably
        }
        if (unit.Empty())
            continue;
        std::vector<std::string> header = unit.mnemonics;
        if (!unit.common) {
            if (!unit.absolute)
                header.insert(header.begin(), path.begin(), path.end());
            path.assign(header.begin(), header.end() - 1);
        }
        const Command* command = Find(header, unit.common, unit.query);
        if (!command) {
            Fail(SCPI_UNDEFINED_HEADER);
            break;
        }
        if (unit.query && !command->takesMinMax && !unit.params.empty()) {
            Fail(SCPI_PARAM_NOT_ALLOWED);
            continue;
        }
        if (Refused(*command))
            continue;
        std::string reply;
        (this->*command->handler)(unit, reply);
        if (!reply.empty())
            replies.push_back(reply);
    }
    std::string out;
    for (const std::string& reply : replies)
        out += (out.empty() ? "" : ";") + reply;
    return out.empty() ? out : out + "\n";
}

// What would send a set frame, or read the module again, is refused while another client
// holds the lock.
bool ScpiSession::Refused(const Command& command)
{
    if (command.query || (command.pattern[0] == '*' && command.handler != &ScpiSession::Rst) ||
        !lockedBy)
        return false;
    const std::string holder = lockedBy();
    if (holder.empty())
        return false;
    Fail(SCPI_EXECUTION, "locked by " + holder);
    return true;
}

void ScpiSession::LineTooLong()
{
    Fail(SCPI_TOO_MUCH_DATA);
}

void ScpiSession::Fail(int code, const std::string& detail)
{
    int kind = -code / 100;
    esr |= kind == 1 ? ESR_CME : kind == 2 ? ESR_EXE : kind == 3 ? ESR_DDE : ESR_QYE;
    std::string text = ScpiErrorText(code);
    if (!detail.empty())
        text += "; " + detail;
    std::replace(text.begin(), text.end(), ',', ' ');
    std::replace(text.begin(), text.end(), '"', '\'');
    if (errors.size() < QUEUE_SIZE)
        errors.emplace_back(code, text);
    else
        errors.back() = {SCPI_QUEUE_OVERFLOW, ScpiErrorText(SCPI_QUEUE_OVERFLOW)};
}

bool ScpiSession::Module(ModuleResult result)
{
    if (result == ModuleResult::Ok)
        return true;
    Fail(SCPI_HARDWARE_MISSING);
    return false;
}

bool ScpiSession::Limits()
{
    return Module(instrument.EnsureLimits());
}

bool ScpiSession::OneParam(const ScpiUnit& unit, const ScpiParam*& param)
{
    if (unit.params.empty()) {
        Fail(SCPI_MISSING_PARAM);
        return false;
    }
    if (unit.params.size() > 1) {
        Fail(SCPI_PARAM_NOT_ALLOWED);
        return false;
    }
    param = &unit.params[0];
    if (param->kind == ScpiParam::String) {
        Fail(SCPI_DATA_TYPE);
        return false;
    }
    return true;
}

ScpiSession::Limit ScpiSession::LimitWord(const std::string& word)
{
    if (MnemonicMatches(word, "MINimum"))
        return Limit::Min;
    if (MnemonicMatches(word, "MAXimum"))
        return Limit::Max;
    return Limit::None;
}

ScpiSession::Limit ScpiSession::QueriedLimit(const ScpiUnit& unit)
{
    if (unit.params.empty())
        return Limit::None;
    const ScpiParam* param = nullptr;
    if (!OneParam(unit, param))
        return Limit::Failed;
    if (param->kind != ScpiParam::Word) {
        Fail(SCPI_DATA_TYPE);
        return Limit::Failed;
    }
    const Limit limit = LimitWord(param->text);
    if (limit == Limit::None) {
        Fail(SCPI_ILLEGAL_VALUE);
        return Limit::Failed;
    }
    return limit;
}

uint8_t ScpiSession::StatusByte() const
{
    uint8_t stb = 0;
    if (!errors.empty())
        stb |= 1 << 2;
    if (esr & ese)
        stb |= 1 << 5;
    if (stb & sre & ~(1 << 6))
        stb |= 1 << 6;
    return stb;
}

// Common commands.

void ScpiSession::Idn(const ScpiUnit&, std::string& reply)
{
    std::string serial = instrument.PortName();
    for (char& c : serial) {
        if (c == ',' || c == ';' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    }
    reply = "Zorvane,Tunable laser module," + serial + "," ZORVANE_VERSION;
}

void ScpiSession::Rst(const ScpiUnit&, std::string&)
{
    Module(instrument.Reload());
}

void ScpiSession::Cls(const ScpiUnit&, std::string&)
{
    errors.clear();
    esr = 0;
}

bool ScpiSession::Register(const ScpiUnit& unit, uint8_t& value)
{
    const ScpiParam* param = nullptr;
    if (!OneParam(unit, param))
        return false;
    if (param->kind != ScpiParam::Number) {
        Fail(SCPI_DATA_TYPE);
        return false;
    }
    if (!param->suffix.empty()) {
        Fail(SCPI_INVALID_SUFFIX);
        return false;
    }
    double rounded = std::round(param->number);
    if (rounded < 0 || rounded > 255) {
        Fail(SCPI_OUT_OF_RANGE);
        return false;
    }
    value = static_cast<uint8_t>(rounded);
    return true;
}

void ScpiSession::EseSet(const ScpiUnit& unit, std::string&)
{
    Register(unit, ese);
}

void ScpiSession::EseQuery(const ScpiUnit&, std::string& reply)
{
    reply = std::to_string(ese);
}

void ScpiSession::EsrQuery(const ScpiUnit&, std::string& reply)
{
    reply = std::to_string(esr);
    esr = 0;
}

void ScpiSession::SreSet(const ScpiUnit& unit, std::string&)
{
    if (Register(unit, sre))
        sre &= static_cast<uint8_t>(~(1 << 6));  // MSS cannot be enabled
}

void ScpiSession::SreQuery(const ScpiUnit&, std::string& reply)
{
    reply = std::to_string(sre);
}

void ScpiSession::StbQuery(const ScpiUnit&, std::string& reply)
{
    reply = std::to_string(StatusByte());
}

void ScpiSession::Opc(const ScpiUnit&, std::string&)
{
    esr |= ESR_OPC;
}

// Commands run one after the other, each finished before the next: all is complete.
void ScpiSession::OpcQuery(const ScpiUnit&, std::string& reply)
{
    reply = "1";
}

void ScpiSession::Wai(const ScpiUnit&, std::string&) {}

void ScpiSession::TstQuery(const ScpiUnit&, std::string& reply)
{
    reply = instrument.Query(CMD_CHANNEL) == ModuleResult::Ok ? "0" : "1";
}

// System.

void ScpiSession::ErrorQuery(const ScpiUnit&, std::string& reply)
{
    if (errors.empty()) {
        reply = "0,\"No error\"";
        return;
    }
    reply = std::to_string(errors.front().first) + ",\"" + errors.front().second + "\"";
    errors.pop_front();
}

void ScpiSession::ErrorCount(const ScpiUnit&, std::string& reply)
{
    reply = std::to_string(errors.size());
}

void ScpiSession::Version(const ScpiUnit&, std::string& reply)
{
    reply = "1999.0";
}
