// The server's log on standard error: one time-stamped line per event, and with --trace the
// commands, replies and frames too.
#pragma once
#include <ostream>
#include <string>
#include "Platform.h"

class ServeLog {
public:
    ServeLog(std::ostream& out, bool trace) : out_(out), trace_(trace) {}

    void Event(const std::string& text);
    void Trace(const std::string& text)
    {
        if (trace_)
            Event(text);
    }
    bool Tracing() const { return trace_; }

private:
    std::ostream& out_;
    bool trace_;
};

// Logs every write to the port and every read from it (with --trace).
class TracePort : public Port {
public:
    TracePort(Port& port, ServeLog& log) : port_(port), log_(log) {}

    std::vector<std::string> List() override { return port_.List(); }
    std::string NumberedPath(int number) override { return port_.NumberedPath(number); }
    bool Open(const std::string& path, std::string& error) override;
    void Close() override { port_.Close(); }
    bool Discard(std::string& error) override { return port_.Discard(error); }
    bool Write(const uint8_t* data, size_t size, std::string& error) override;
    int Read(uint8_t* buffer, size_t size, int64_t timeoutMs, std::string& error) override;

private:
    Port& port_;
    ServeLog& log_;
};
