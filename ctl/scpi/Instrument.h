// The module as the SCPI server's clients share it: one port, one Exchange, the limits and
// settings last read, and the port's recovery when it vanishes.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include "Exchange.h"
#include "Platform.h"

class Instrument {
public:
    // log: one line per event worth an operator's eye (port gone, port back, module silent).
    Instrument(Port& port, Clock& clock, std::string path, std::string portName, int64_t timeoutMs,
               std::ostream& log);

    // Opens the port and reads the limits and settings as info does. EXIT_USAGE with a
    // reason when the port cannot be opened; a silent module is logged and not fatal.
    int Start(std::string& error);

    // While the port is gone, reopens it about once a second and reads the limits again
    // once it is back. Returns how many ms until it wants to be called again, or -1 while
    // the port is in use and nothing waits.
    int64_t Maintain();

    // The command interface used by ScpiSession (implementation's own; grows as needed).
};
