#include "PortPanel.h"

#include <cstdio>
#include "protocol/StartupSequence.h"

namespace {

// Serial drivers need a moment after a port is closed or a device came or went.
constexpr unsigned SETTLE_MS = 200;

// Opening, closing and recovering may each handle the window's messages while they wait:
// the link's error box during Open, the wait for its worker in Stop. A click or a device
// change can then arrive in the middle of one of them. Run nested, it would open, stop or
// rebuild under the outer run's feet (a second worker on the link, or a cleared open port
// that drops every byte after). So they run one at a time, each under this guard: a click
// that arrives meanwhile is dropped, a device change is remembered and handled once after.
class PanelRun {
public:
    explicit PanelRun(bool& running) : running(running) { running = true; }
    ~PanelRun() { running = false; }
    PanelRun(const PanelRun&) = delete;
    PanelRun& operator=(const PanelRun&) = delete;

private:
    bool& running;
};

}  // namespace

PortPanel::PortPanel(const WindowServices& services, PanelView& view)
    : state(services.state), link(services.link), ports(services.ports), clock(services.clock),
      view(view)
{}

void PortPanel::RebuildPortList()
{
    view.ClearPorts();
    table.count = 0;
    state.stage = STAGE_IDLE;
    state.portOpen = 0;
    state.openPort = 0;

    for (int port = 1; port <= MAX_PROBED_PORT; ++port) {
        if (!ports.Present(port))
            continue;
        char text[8];
        std::snprintf(text, sizeof text, "COM%d", port);
        table.ports[table.count] = static_cast<uint8_t>(port);
        view.AddPort(table.count, text);
        ++table.count;
    }
    if (table.count > 0)
        view.SelectPort(0);
}

void PortPanel::OpenPortClicked()
{
    if (running)
        return;
    {
        PanelRun run(running);
        ToggleOpen();
    }
    RunPendingDeviceChanges();
}

void PortPanel::DeviceChanged()
{
    deviceChangePending = true;
    if (!running)
        RunPendingDeviceChanges();
}

void PortPanel::RunPendingDeviceChanges()
{
    while (deviceChangePending) {
        deviceChangePending = false;
        PanelRun run(running);
        Recover();
    }
}

void PortPanel::ToggleOpen()
{
    if (table.count == 0)
        return;

    if (!state.portOpen) {
        const int selected = view.SelectedPort();
        if (selected < 0 || selected >= table.count)
            return;
        state.openPort = table.ports[selected];
        switch (OpenAndStart()) {
        case OpenResult::Opened:
            view.ShowPortOpen(true);
            clock.StartTimer(TIMER_STARTUP, STARTUP_PERIOD_MS);
            break;
        case OpenResult::NotOpened: break;  // nothing visible changes
        case OpenResult::Refused: CloseDown(); break;
        }
        return;
    }

    link.Stop();
    clock.Pause(SETTLE_MS);
    CloseDown();
}

void PortPanel::Recover()
{
    clock.Pause(SETTLE_MS);
    if (!state.portOpen) {
        clock.Pause(SETTLE_MS);
        ShowClosed();
        return;
    }
    link.Stop();
    state.portOpen = 0;
    clock.Pause(SETTLE_MS);
    // Same port, same stage, same timers: start-up or polling carries on. A reopening that
    // fails leaves the panel showing the port open, ready for another click; a port that
    // now refuses its settings is no use to another click, and the panel closes as if the
    // port had gone.
    if (ports.Present(state.openPort) && OpenAndStart() != OpenResult::Refused)
        return;
    CloseDown();
}

OpenResult PortPanel::OpenAndStart()
{
    const OpenResult result = link.Open(state.openPort);
    if (result == OpenResult::Opened) {
        link.Start();
        state.portOpen = 1;
    }
    return result;
}

void PortPanel::CloseDown()
{
    StopAllTimers();
    ShowClosed();
}

void PortPanel::ShowClosed()
{
    RebuildPortList();
    view.ShowPortOpen(false);
}

void PortPanel::StopAllTimers()
{
    for (unsigned id = TIMER_POLL; id <= TIMER_STARTUP; ++id)
        clock.StopTimer(id);
}

void PortPanel::StartupTick()
{
    if (!state.portOpen)
        return;
    if (const DeviceFrame* query = StartupQuery(state.stage))
        link.Send(*query);
}

void PortPanel::StartupFinished()
{
    clock.StopTimer(TIMER_STARTUP);
    clock.StartTimer(TIMER_POLL, POLL_PERIOD_MS);
}
