// The port panel: finding, opening and closing the COM port.
#include "ControllerDlg.h"
#include "DeviceState.h"
#include "Globals.h"

void CControllerDlg::RebuildPortList() {
    m_portList.ResetContent();
    DeviceState.stage = STAGE_IDLE;
    DeviceState.portOpen = 0;
    DeviceState.openPort = 0;
}

void CControllerDlg::OnOpenPort() {}

LRESULT CControllerDlg::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return CDialog::DefWindowProc(message, wParam, lParam);
}
