// The port panel: finding the COM ports, opening and closing the chosen one, recovering
// when the system reports that devices came or went, and the start-up ticks of a freshly
// opened module.
#pragma once
#include <cstdint>
#include "protocol/PortRange.h"
#include "WindowServices.h"

// The port number shown at each list position.
struct PortTableRecord {
    uint8_t ports[MAX_PROBED_PORT];
    uint8_t count;
};

// What the panel shows: the port list and the OpenPort/ClosePort button.
class PanelView {
public:
    virtual ~PanelView() = default;
    virtual void ClearPorts() = 0;
    virtual void AddPort(int index, const char* text) = 0;
    virtual void SelectPort(int index) = 0;
    virtual int SelectedPort() = 0;  // negative when none
    // Open: caption "ClosePort" and the list disabled; closed: "OpenPort", list enabled.
    virtual void ShowPortOpen(bool open) = 0;
};

class PortPanel {
public:
    PortPanel(const WindowServices& services, PanelView& view);

    // Empties the list, clears the connection fields and lists the ports present.
    void RebuildPortList();
    // The OpenPort/ClosePort button.
    void OpenPortClicked();
    // WM_DEVICECHANGE, whatever its event type.
    void DeviceChanged();
    // A TIMER_STARTUP tick: asks for the value of the current stage.
    void StartupTick();
    // The last start-up answer came.
    void StartupFinished();

    const PortTableRecord& Table() const { return table; }

private:
    void ToggleOpen();
    void Recover();
    void RunPendingDeviceChanges();
    OpenResult OpenAndStart();
    void CloseDown();
    void ShowClosed();
    void StopAllTimers();

    DeviceStateRecord& state;
    PortLink& link;
    PortProbe& ports;
    UiClock& clock;
    PanelView& view;
    PortTableRecord table = {};
    // Opening, closing and recovering each run alone: see PortPanel.cpp.
    bool running = false;
    bool deviceChangePending = false;
};
