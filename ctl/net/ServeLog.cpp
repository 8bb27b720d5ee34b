#include "ServeLog.h"
#include <chrono>
#include <cstdio>
#include "Report.h"

namespace {

// "2026-12-07T11:42:01.123456Z": microseconds, so a trace shows where the time goes.
std::string MicroTime()
{
    using namespace std::chrono;
    const int64_t us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    std::string text = IsoTime(us / 1000);
    char micro[8];
    std::snprintf(micro, sizeof micro, "%03d", static_cast<int>(us % 1000));
    return text.insert(text.size() - 1, micro);
}

std::string Hex(const uint8_t* data, size_t size)
{
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
        text += byte;
    }
    return text;
}

}  // namespace

void ServeLog::Event(const std::string& text)
{
    out << "zorvane-ctl: " << MicroTime() << " " << text << "\n";
    out.flush();
}

bool TracePort::Open(const std::string& path, std::string& error)
{
    bool opened = port.Open(path, error);
    log.Trace(opened ? "port opened" : "port not opened: " + error);
    return opened;
}

bool TracePort::Write(const uint8_t* data, size_t size, std::string& error)
{
    log.Trace("port > " + Hex(data, size));
    return port.Write(data, size, error);
}

int TracePort::Read(uint8_t* buffer, size_t size, int64_t timeoutMs, std::string& error)
{
    int got = port.Read(buffer, size, timeoutMs, error);
    if (got > 0)
        log.Trace("port < " + Hex(buffer, static_cast<size_t>(got)));
    else if (got < 0)
        log.Trace("port failed: " + error);
    return got;
}
