// The server's log on standard error: one line per event, stamped in microseconds by the
// clock, and with --trace the commands, replies and frames too.
#pragma once
#include <ostream>
#include <string>
#include "link/Port.h"
#include "net/ServerLog.h"

class ServeLog : public ServerLog {
public:
    ServeLog(std::ostream& out, bool trace, Clock& clock) : out(out), trace(trace), clock(clock) {}

    void Event(const std::string& text) override;
    void Trace(const std::string& text) override
    {
        if (trace)
            Event(text);
    }
    bool Tracing() const override { return trace; }

private:
    std::ostream& out;
    bool trace;
    Clock& clock;
};
