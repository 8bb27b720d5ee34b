// The port panel: finding the COM ports, opening and closing the chosen one, and recovering
// when the system reports that devices came or went.
#include "ControllerDlg.h"
#include "DeviceState.h"
#include "Globals.h"

#include <dbt.h>

namespace {

const int MAX_PROBED_PORT = 254;
const DWORD SETTLE_MS = 200;

// The port number shown at each list position.
struct PortTableRecord {
    uint8_t ports[MAX_PROBED_PORT];
    uint8_t count;
};
PortTableRecord PortTable = {};

// CSerialLink::Stop handles the dialog's messages while it waits for the worker, so a
// device change (or a posted click) can arrive in the middle of closing or recovering.
// Running those steps nested would stop, reopen or rebuild under the outer run's feet
// (and could leave a worker running behind a closed panel), so they never nest: a device
// change that arrives meanwhile is remembered and handled once, after the current run.
bool panelBusy = false;
bool deviceChangePending = false;

// Opens the device path with no access, which tells whether the port exists without
// touching its settings. Leaves the path in portPathText.
bool PortPresent(int port) {
    portPathText.Format("\\\\.\\COM%d", port);
    HANDLE probe = ::CreateFileA(portPathText, 0, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(probe);
    return true;
}

int OpenLink(CWnd* owner) {
    return theLink.Open(owner, DeviceState.openPort, 9600, 'N', 8, 0, EV_RXCHAR, 512,
                        1000, 1000, 1000, 1000, 1000);
}

void KillPanelTimers(CWnd& dialog) {
    for (unsigned id : {TIMER_POLL, TIMER_CH_DOWN, TIMER_CH_UP, TIMER_PWR_DOWN, TIMER_PWR_UP,
                        TIMER_STARTUP}) {
        dialog.KillTimer(id);
    }
}

// Hands a device change remembered during the run that just ended to the queue again.
void EndBusyRun(CWnd& dialog) {
    panelBusy = false;
    if (deviceChangePending) {
        deviceChangePending = false;
        dialog.PostMessage(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    }
}

}  // namespace

void CControllerDlg::RebuildPortList() {
    m_portList.ResetContent();
    PortTable.count = 0;
    DeviceState.stage = STAGE_IDLE;
    DeviceState.portOpen = 0;
    DeviceState.openPort = 0;

    for (int port = 1; port <= MAX_PROBED_PORT; ++port) {
        if (!PortPresent(port)) continue;
        // The list text is the device path without its "\\.\" prefix.
        COMBOBOXEXITEMA item = {};
        item.mask = CBEIF_TEXT;
        item.iItem = PortTable.count;
        item.pszText = const_cast<char*>(portPathText.c_str() + 4);
        PortTable.ports[PortTable.count] = static_cast<uint8_t>(port);
        m_portList.InsertItem(&item);
        ++PortTable.count;
    }
    if (PortTable.count > 0) m_portList.SetCurSel(0);
}

void CControllerDlg::OnOpenPort() {
    if (PortTable.count == 0 || panelBusy) return;

    if (!DeviceState.portOpen) {
        int selected = m_portList.GetCurSel();
        if (selected < 0 || selected >= PortTable.count) return;
        DeviceState.openPort = PortTable.ports[selected];
        if (!OpenLink(this)) return;
        m_openPortButton.SetWindowText("ClosePort");
        m_portList.EnableWindow(FALSE);
        theLink.Start();
        DeviceState.portOpen = 1;
        SetTimer(TIMER_STARTUP, STARTUP_PERIOD_MS);
        return;
    }

    panelBusy = true;
    theLink.Stop();
    ::Sleep(SETTLE_MS);
    KillPanelTimers(*this);
    RebuildPortList();
    m_openPortButton.SetWindowText("OpenPort");
    m_portList.EnableWindow(TRUE);
    EndBusyRun(*this);
}

LRESULT CControllerDlg::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && panelBusy) {
        deviceChangePending = true;
    } else if (message == WM_DEVICECHANGE) {
        // Every notification counts, whatever its event type.
        panelBusy = true;
        ::Sleep(SETTLE_MS);
        bool fallBackToClosed = true;
        if (DeviceState.portOpen) {
            theLink.Stop();
            DeviceState.portOpen = 0;
            ::Sleep(SETTLE_MS);
            if (PortPresent(DeviceState.openPort)) {
                // Same port, same stage, same timers: start-up or polling carries on.
                if (OpenLink(this)) {
                    theLink.Start();
                    DeviceState.portOpen = 1;
                }
                fallBackToClosed = false;
            } else {
                KillPanelTimers(*this);
            }
        } else {
            ::Sleep(SETTLE_MS);
        }
        if (fallBackToClosed) {
            RebuildPortList();
            m_openPortButton.SetWindowText("OpenPort");
            m_portList.EnableWindow(TRUE);
        }
        EndBusyRun(*this);
    }
    return CDialog::DefWindowProc(message, wParam, lParam);
}
