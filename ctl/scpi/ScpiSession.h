// One SCPI client's view of the instrument: its own error queue and status registers.
// Lines are executed whole, one at a time.
#pragma once
#include <string>
#include "Instrument.h"

class ScpiSession {
public:
    explicit ScpiSession(Instrument& instrument);

    // Executes one complete line (its LF removed; a CR before the LF is ignored here).
    // Returns the reply to send back: "" for none, else one line ending in LF.
    std::string Execute(const std::string& line);

    // A line longer than the server takes was discarded: queues -223 "Too much data".
    void LineTooLong();
};
