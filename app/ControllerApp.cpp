#include "ControllerApp.h"
#include "ControllerDlg.h"
#include "Globals.h"

BOOL CControllerApp::InitInstance()
{
    AfxEnableControlContainer();
    Enable3dControls();

    CControllerDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    // The dialog's window is gone and its object is about to be: nothing may reach it any
    // more, neither the framework nor the link's worker.
    m_pMainWnd = nullptr;
    theLink.Stop();
    return FALSE;  // no message loop of our own: the program ends
}
