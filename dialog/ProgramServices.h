// The window's services in the program: the process-wide link, the COM ports of the
// machine, the dialog's own timers and the thread's Sleep.
#pragma once
#include "afxwin.h"
#include "WindowServices.h"

class ProgramLink : public PortLink {
public:
    explicit ProgramLink(CWnd& owner) : owner(owner) {}
    bool Open(uint8_t port) override;
    void Start() override;
    void Stop() override;
    void Send(const DeviceFrame& frame) override;

private:
    CWnd& owner;
};

// Probes each port's device path; leaves the path in portPathText.
class MachinePorts : public PortProbe {
public:
    bool Present(int port) override;
};

class WindowClock : public UiClock {
public:
    explicit WindowClock(CWnd& window) : window(window) {}
    void StartTimer(unsigned id, unsigned periodMs) override;
    void StopTimer(unsigned id) override;
    void Pause(unsigned ms) override;

private:
    CWnd& window;
};
