// What zorvane-ctl needs of the machine: one serial port, the clocks and Ctrl-C. The
// commands use only these, so they run the same on Windows, on Linux and against the fake
// port of the tests.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Port {
public:
    virtual ~Port() = default;
    // The serial ports present, as -p takes them.
    virtual std::vector<std::string> List() = 0;
    // The device path of port number 1 to 254 ("COM5" or "5" on the command line).
    virtual std::string NumberedPath(int number) = 0;
    // Opens and configures the line: 9600 baud, 8 data bits, no parity, 1 stop bit.
    // On failure returns false with a short reason (no such port, busy, not a serial port...).
    virtual bool Open(const std::string& path, std::string& error) = 0;
    virtual void Close() = 0;
    // Discards input received and not yet read.
    virtual bool Discard(std::string& error) = 0;
    virtual bool Write(const uint8_t* data, size_t size, std::string& error) = 0;
    // Waits at most timeoutMs for input and returns what has arrived: 0 bytes on time-out
    // (or when Ctrl-C interrupts the wait), -1 when the port failed.
    virtual int Read(uint8_t* buffer, size_t size, int64_t timeoutMs, std::string& error) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual int64_t NowMs() = 0;   // monotonic
    virtual int64_t WallUs() = 0;  // microseconds since 1970-01-01 UTC, for time stamps
    int64_t WallMs() { return WallUs() / 1000; }
    // From now on Ctrl-C (SIGINT, console control) only raises StopRequested.
    virtual void CatchStop() = 0;
    virtual bool StopRequested() = 0;
    // Waits ms, or less when a stop is requested.
    virtual void Pause(int64_t ms) = 0;
};

// The clocks of the standard library; each platform adds Ctrl-C and the pause.
class ChronoClock : public Clock {
public:
    int64_t NowMs() override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }

    int64_t WallUs() override
    {
        using namespace std::chrono;
        return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    }
};

// The platform's own, in PosixPlatform.cpp or Win32Platform.cpp.
std::unique_ptr<Port> MakeSystemPort();
std::unique_ptr<Clock> MakeSystemClock();
