#include "link/TracePort.h"
#include "protocol/DeviceFrame.h"

bool TracePort::Open(const std::string& path, std::string& error)
{
    bool opened = port.Open(path, error);
    trace(opened ? "port opened" : "port not opened: " + error);
    return opened;
}

bool TracePort::Write(const uint8_t* data, size_t size, std::string& error)
{
    trace("port > " + HexBytes(data, size));
    return port.Write(data, size, error);
}

int TracePort::Read(uint8_t* buffer, size_t size, int64_t timeoutMs, std::string& error)
{
    int got = port.Read(buffer, size, timeoutMs, error);
    if (got > 0)
        trace("port < " + HexBytes(buffer, static_cast<size_t>(got)));
    else if (got < 0)
        trace("port failed: " + error);
    return got;
}
