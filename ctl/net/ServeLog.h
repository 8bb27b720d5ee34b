// The server's log on standard error: one time-stamped line per event, and with --trace the
// commands, replies and frames too.
#pragma once
#include <ostream>
#include <string>
#include "Platform.h"

class ServeLog {
public:
    ServeLog(std::ostream& out, bool trace) : out(out), trace(trace) {}

    void Event(const std::string& text);
    void Trace(const std::string& text)
    {
        if (trace)
            Event(text);
    }
    bool Tracing() const { return trace; }

private:
    std::ostream& out;
    bool trace;
};

// Logs every write to the port and every read from it (with --trace).
class TracePort : public Port {
public:
    TracePort(Port& port, ServeLog& log) : port(port), log(log) {}

    std::vector<std::string> List() override { return port.List(); }
    std::string NumberedPath(int number) override { return port.NumberedPath(number); }
    bool Open(const std::string& path, std::string& error) override;
    void Close() override { port.Close(); }
    bool Discard(std::string& error) override { return port.Discard(error); }
    bool Write(const uint8_t* data, size_t size, std::string& error) override;
    int Read(uint8_t* buffer, size_t size, int64_t timeoutMs, std::string& error) override;

private:
    Port& port;
    ServeLog& log;
};
