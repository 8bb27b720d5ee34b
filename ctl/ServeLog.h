// The server's log on standard error: one time-stamped line per event, and with --trace the
// commands, replies and frames too.
#pragma once
#include <ostream>
#include <string>
#include "net/ServerLog.h"

class ServeLog : public ServerLog {
public:
    ServeLog(std::ostream& out, bool trace) : out(out), trace(trace) {}

    void Event(const std::string& text) override;
    void Trace(const std::string& text) override
    {
        if (trace)
            Event(text);
    }
    bool Tracing() const { return trace; }

private:
    std::ostream& out;
    bool trace;
};
