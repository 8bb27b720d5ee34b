// What the window's logic acts on, as small interfaces. The program gives it the serial
// link, the ports of the machine, the window's own timers and Sleep; tests give it fakes
// and a fake clock.
#pragma once
#include <cstdint>
#include "protocol/DeviceFrame.h"
#include "protocol/DeviceState.h"

// The window's timers: ids and periods in ms.
enum TimerId : unsigned {
    TIMER_POLL = 1,
    TIMER_CH_DOWN = 2,
    TIMER_CH_UP = 3,
    TIMER_PWR_DOWN = 4,
    TIMER_PWR_UP = 5,
    TIMER_STARTUP = 6,
};
constexpr unsigned POLL_PERIOD_MS = 500;
constexpr unsigned STEP_PERIOD_MS = 200;
constexpr unsigned STARTUP_PERIOD_MS = 200;

// Where frames go.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void Send(const DeviceFrame& frame) = 0;
};

// What came of opening a port.
enum class OpenResult : uint8_t {
    Opened,     // opened and set up for the module
    NotOpened,  // absent, busy or no such port; nothing shown
    Refused,    // it opened but refused a setting: the link showed why and let it go
};

// The link as the port panel drives it. Open may handle the window's messages while its
// error box is up; Stop returns once the link is stopped and may handle them meanwhile.
class PortLink : public FrameSink {
public:
    virtual OpenResult Open(uint8_t port) = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
};

// Which ports exist.
class PortProbe {
public:
    virtual ~PortProbe() = default;
    virtual bool Present(int port) = 0;
};

// The user-interface thread's time: the window's timers (starting one that runs restarts
// its period) and the pauses in which it handles nothing.
class UiClock {
public:
    virtual ~UiClock() = default;
    virtual void StartTimer(unsigned id, unsigned periodMs) = 0;
    virtual void StopTimer(unsigned id) = 0;
    virtual void Pause(unsigned ms) = 0;
};

// Everything the window's logic takes from outside, module record included.
struct WindowServices {
    DeviceStateRecord& state;
    PortLink& link;
    PortProbe& ports;
    UiClock& clock;
};
