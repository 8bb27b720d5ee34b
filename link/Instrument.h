// The module as the SCPI server's clients share it: one port, one Exchange, the limits and
// settings last read, and the port's recovery when it vanishes.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include "link/Exchange.h"
#include "link/Port.h"

// How an operation on the module ended.
enum class ModuleResult { Ok, Missing };  // Missing: silent after 3 tries, or port gone

class Instrument {
public:
    // One line, without its LF, per event worth an operator's eye (port gone, port back,
    // module silent); the caller stamps and writes it.
    using EventLog = std::function<void(const std::string& text)>;

    Instrument(Port& port, Clock& clock, std::string path, std::string portName, int64_t timeoutMs,
               EventLog log);

    // Opens the port and reads the limits and settings as info does. Missing with a
    // reason when the port cannot be opened; a silent module is logged and not fatal.
    ModuleResult Start(std::string& error);

    // While the port is gone, reopens it about once a second and reads the limits again
    // once it is back. Returns how many ms until it wants to be called again, or -1 while
    // the port is in use and nothing waits.
    int64_t Maintain();

    // The limits, read once after each open (and by Reload); asked again while unknown.
    ModuleResult EnsureLimits();
    // Reads the limits and every setting again.
    ModuleResult Reload();
    // One query of a code; its answer is then in State().
    ModuleResult Query(uint8_t code);
    // One set frame of a channel, power or output, its answer then in State().
    ModuleResult Set(uint8_t code, uint16_t value);

    const DeviceStateRecord& State() const { return exchange.State(); }
    const std::string& PortName() const { return portName; }

private:
    ModuleResult Outcome(LinkResult result, const std::string& error);

    Port& port;
    Clock& clock;
    std::string path;
    std::string portName;
    EventLog log;
    Exchange exchange;
    bool open = false;
    bool limitsKnown = false;
    bool silent = false;  // logged once until the module answers again
    int64_t nextOpenMs = 0;
};
