// A port that tells every write to it and every read from it, for the server's --trace.
#pragma once
#include <functional>
#include <string>
#include "link/Port.h"

class TracePort : public Port {
public:
    using Trace = std::function<void(const std::string&)>;
    TracePort(Port& port, Trace trace) : port(port), trace(std::move(trace)) {}

    std::vector<std::string> List() override { return port.List(); }
    std::string NumberedPath(int number) override { return port.NumberedPath(number); }
    bool Open(const std::string& path, std::string& error) override;
    void Close() override { port.Close(); }
    bool Discard(std::string& error) override { return port.Discard(error); }
    bool Write(const uint8_t* data, size_t size, std::string& error) override;
    int Read(uint8_t* buffer, size_t size, int64_t timeoutMs, std::string& error) override;

private:
    Port& port;
    Trace trace;
};
