// Fakes of what the window's logic acts on: a link that records frames and the calls made
// on it, a machine with a chosen set of ports, a clock whose timers tick only when a test
// advances it, and a port panel view.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>
#include "PortPanel.h"
#include "WindowServices.h"

namespace window_test {

using Log = std::vector<std::string>;

// A frame as its six bytes.
using Bytes = std::vector<int>;

// Set frames written out by hand: form 00 01, code, value high and low, sum of the five.
inline Bytes SetFrame(int code, int value)
{
    Bytes frame{0x00, 0x01, code, value >> 8, value & 0xFF};
    frame.push_back((0x01 + code + (value >> 8) + (value & 0xFF)) & 0xFF);
    return frame;
}

class FakeLink : public PortLink {
public:
    Log calls;  // "open 7", "start", "stop"
    std::vector<Bytes> sent;
    std::set<int> refused;       // ports whose Open fails
    std::set<int> unconfigured;  // ports that open but refuse their settings
    // Run inside Open or Stop, as the messages an error box or the wait for the worker
    // would dispatch there.
    std::function<void()> duringOpen, duringStop;

    OpenResult Open(uint8_t port) override
    {
        calls.push_back("open " + std::to_string(port));
        if (duringOpen)
            std::exchange(duringOpen, nullptr)();
        if (unconfigured.count(port))
            return OpenResult::Refused;
        return refused.count(port) ? OpenResult::NotOpened : OpenResult::Opened;
    }
    void Start() override { calls.push_back("start"); }
    void Stop() override
    {
        calls.push_back("stop");
        if (duringStop)
            std::exchange(duringStop, nullptr)();
    }
    void Send(const DeviceFrame& frame) override
    {
        sent.push_back(Bytes(frame.bytes, frame.bytes + FRAME_LENGTH));
    }
    std::vector<Bytes> TakeSent() { return std::exchange(sent, {}); }
};

class FakePorts : public PortProbe {
public:
    std::set<int> present;
    int highestProbed = 0;
    bool Present(int port) override
    {
        if (port > highestProbed)
            highestProbed = port;
        return present.count(port) > 0;
    }
};

class FakeClock : public UiClock {
public:
    struct Timer {
        unsigned period;
        unsigned due;
    };
    std::map<unsigned, Timer> running;
    Log log;  // "start 1 500", "stop 2", "pause 100"
    unsigned now = 0;

    void StartTimer(unsigned id, unsigned periodMs) override
    {
        running[id] = {periodMs, now + periodMs};
        log.push_back("start " + std::to_string(id) + " " + std::to_string(periodMs));
    }
    void StopTimer(unsigned id) override
    {
        running.erase(id);
        log.push_back("stop " + std::to_string(id));
    }
    void Pause(unsigned ms) override
    {
        now += ms;
        log.push_back("pause " + std::to_string(ms));
    }

    bool Runs(unsigned id) const { return running.count(id) > 0; }
    std::set<unsigned> Running() const
    {
        std::set<unsigned> ids;
        for (const auto& entry : running)
            ids.insert(entry.first);
        return ids;
    }

    // Lets ms pass, handing each tick that falls due to tick(id) in time order. As with a
    // window's timers, ticks missed while the thread was paused come once, not piled up.
    void Advance(unsigned ms, const std::function<void(unsigned)>& tick)
    {
        const unsigned end = now + ms;
        for (;;) {
            auto next = running.end();
            for (auto it = running.begin(); it != running.end(); ++it) {
                if (next == running.end() || it->second.due < next->second.due)
                    next = it;
            }
            if (next == running.end() || next->second.due > end)
                break;
            const unsigned id = next->first;
            now = next->second.due;
            next->second.due += next->second.period;
            tick(id);
            auto again = running.find(id);
            if (again != running.end() && again->second.due <= now)
                again->second.due = now + 1;
        }
        now = end;
    }
};

class FakeView : public PanelView {
public:
    std::vector<std::string> items;
    int selected = -1;
    bool shownOpen = false;
    int shows = 0;

    void ClearPorts() override
    {
        items.clear();
        selected = -1;
    }
    void AddPort(int index, const char* text) override
    {
        items.insert(items.begin() + index, text);
    }
    void SelectPort(int index) override { selected = index; }
    int SelectedPort() override { return selected; }
    void ShowPortOpen(bool open) override
    {
        shownOpen = open;
        ++shows;
    }
};

// The services of one window, all fakes, on a module record of its own.
struct FakeWindow {
    DeviceStateRecord state;
    FakeLink link;
    FakePorts ports;
    FakeClock clock;
    FakeView view;
    WindowServices Services() { return WindowServices{state, link, ports, clock}; }
};

}  // namespace window_test
