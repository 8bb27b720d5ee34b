// One SCPI client's view of the instrument: its own error queue and status registers.
// Lines are executed whole, one at a time.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>
#include "link/Instrument.h"
#include "scpi/ScpiParser.h"

class ScpiSession {
public:
    // lockedBy names the client that holds the instrument locked against this one ("" when
    // none does): sets and *RST are then refused.
    explicit ScpiSession(Instrument& instrument, std::function<std::string()> lockedBy = {});

    // Executes one complete line (its LF removed; a CR before the LF is ignored here).
    // Returns the reply to send back: "" for none, else one line ending in LF.
    std::string Execute(const std::string& line);

    // A line longer than the server takes was discarded: queues -223 "Too much data".
    void LineTooLong();

    // The status byte as *STB? reads it.
    uint8_t StatusByte() const;

    static constexpr size_t QUEUE_SIZE = 20;

private:
    using Handler = void (ScpiSession::*)(const ScpiUnit& unit, std::string& reply);
    struct Command {
        const char* pattern;  // "[SOURce]:CHANnel:COUNt", "*IDN"
        bool query;
        Handler handler;
        bool takesMinMax;  // a query that takes MINimum or MAXimum
    };
    static const std::vector<Command>& Table();

    bool Refused(const Command& command);
    const Command* Find(const std::vector<std::string>& mnemonics, bool common, bool query) const;
    void Fail(int code, const std::string& detail = "");
    bool Module(ModuleResult result);
    bool Limits();
    bool OneParam(const ScpiUnit& unit, const ScpiParam*& param);
    // MINimum or MAXimum as a parameter; Failed when the fault is already queued.
    enum class Limit { None, Min, Max, Failed };
    static Limit LimitWord(const std::string& word);  // None for any other word
    Limit QueriedLimit(const ScpiUnit& unit);         // None without a parameter
    void SetConfirmed(uint8_t code, uint16_t value);
    void SetInRange(uint8_t code, double value, double min, double max);

    void Idn(const ScpiUnit&, std::string& reply);
    void Rst(const ScpiUnit&, std::string& reply);
    void Cls(const ScpiUnit&, std::string& reply);
    void EseSet(const ScpiUnit&, std::string& reply);
    void EseQuery(const ScpiUnit&, std::string& reply);
    void EsrQuery(const ScpiUnit&, std::string& reply);
    void SreSet(const ScpiUnit&, std::string& reply);
    void SreQuery(const ScpiUnit&, std::string& reply);
    void StbQuery(const ScpiUnit&, std::string& reply);
    void Opc(const ScpiUnit&, std::string& reply);
    void OpcQuery(const ScpiUnit&, std::string& reply);
    void Wai(const ScpiUnit&, std::string& reply);
    void TstQuery(const ScpiUnit&, std::string& reply);
    void ErrorQuery(const ScpiUnit&, std::string& reply);
    void ErrorCount(const ScpiUnit&, std::string& reply);
    void Version(const ScpiUnit&, std::string& reply);
    void ChannelSet(const ScpiUnit&, std::string& reply);
    void ChannelQuery(const ScpiUnit&, std::string& reply);
    void ChannelCount(const ScpiUnit&, std::string& reply);
    void LabelQuery(const ScpiUnit&, std::string& reply);
    void FrequencySet(const ScpiUnit&, std::string& reply);
    void FrequencyQuery(const ScpiUnit&, std::string& reply);
    void WavelengthSet(const ScpiUnit&, std::string& reply);
    void WavelengthQuery(const ScpiUnit&, std::string& reply);
    void PowerSet(const ScpiUnit&, std::string& reply);
    void PowerQuery(const ScpiUnit&, std::string& reply);
    void OutputSet(const ScpiUnit&, std::string& reply);
    void OutputQuery(const ScpiUnit&, std::string& reply);

    void TuneToFrequency(const ScpiParam& param, bool wavelength);
    bool QueriedFrequency(const ScpiUnit& unit, bool highest, int32_t& ghz);
    bool Register(const ScpiUnit& unit, uint8_t& value);

    Instrument& instrument;
    std::function<std::string()> lockedBy;
    std::deque<std::pair<int, std::string>> errors;
    uint8_t esr = 0;
    uint8_t ese = 0;
    uint8_t sre = 0;
};
