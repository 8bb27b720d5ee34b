// A Port and a Clock for the tests: the port is wired to the simulated module in-process
// and time passes only when the tool waits, so every exchange is exact and instant.
#pragma once
#include <algorithm>
#include <cstddef>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include "ctl/Commands.h"
#include "sim/SimModule.h"

namespace ctl_test {

class FakeClock : public Clock {
public:
    int64_t now = 0;
    bool catching = false;
    bool stop = false;
    std::function<void()> onPause;

    int64_t NowMs() override { return now; }
    int64_t micro = 0;  // added to the wall clock's microseconds
    int64_t WallUs() override
    {
        return (1765108921000 + now) * 1000 + micro;
    }  // 2025-12-07T12:02:01.000Z
    void CatchStop() override { catching = true; }
    bool StopRequested() override { return stop; }
    void Pause(int64_t ms) override
    {
        now += ms;
        if (onPause)
            onPause();
    }
};

class FakePort : public Port {
public:
    SimModule module;
    FakeClock& clock;
    std::string openError;             // Open fails with it when set
    bool lost = false;                 // reads fail
    std::vector<std::string> written;  // each write, as hex
    std::string openedPath;
    std::function<void(std::vector<uint8_t>&)> onAnswer;  // may rewrite what the module sends

    FakePort(FakeClock& c, const SimSettings& settings = SimSettings()) : module(settings), clock(c)
    {}

    std::vector<std::string> List() override { return {"COM3", "COM40"}; }
    std::string NumberedPath(int number) override { return "PORT" + std::to_string(number); }

    bool Open(const std::string& path, std::string& error) override
    {
        openedPath = path;
        error = openError;
        return openError.empty();
    }
    void Close() override {}

    bool Discard(std::string&) override
    {
        module.TakeDue(clock.now);
        arrived.clear();
        return true;
    }

    bool Write(const uint8_t* data, size_t size, std::string&) override
    {
        written.push_back(HexBytes(data, size));
        module.Receive(data, size, clock.now);
        return true;
    }

    int Read(uint8_t* buffer, size_t size, int64_t timeoutMs, std::string& error) override
    {
        if (lost) {
            error = "the port has gone (unplugged?)";
            return -1;
        }
        if (arrived.empty()) {
            int64_t due = module.NextDue();
            if (due < 0 || due > clock.now + timeoutMs) {
                clock.now += timeoutMs;
                return 0;
            }
            clock.now = std::max(clock.now, due);
            arrived = module.TakeDue(clock.now);
            if (onAnswer)
                onAnswer(arrived);
        }
        const size_t count = std::min(size, arrived.size());
        const auto end = arrived.begin() + static_cast<std::ptrdiff_t>(count);
        std::copy(arrived.begin(), end, buffer);
        arrived.erase(arrived.begin(), end);
        return static_cast<int>(count);
    }

    // The set frames written, as hex.
    std::vector<std::string> Sets() const
    {
        std::vector<std::string> sets;
        for (const std::string& frame : written) {
            if (frame.compare(0, 5, "00 01") == 0)
                sets.push_back(frame);
        }
        return sets;
    }

private:
    std::vector<uint8_t> arrived;
};

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

inline Outcome RunWith(Port& port, Clock& clock, const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    int status = RunTool(args, port, clock, out, err);
    return {status, out.str(), err.str()};
}

}  // namespace ctl_test
