#include "afxwin.h"
#include <mbctype.h>

namespace {

// The framework's module initialisation, ahead of every other process-wide object: the
// multi-byte functions of the runtime follow the system's ANSI code page from the start.
struct ModuleInitialisation {
    ModuleInitialisation() { _setmbcp(_MB_CP_ANSI); }
};
__attribute__((init_priority(101))) ModuleInitialisation moduleInitialisation;

CWinApp* currentApp = nullptr;

}  // namespace

CWinApp::CWinApp()
{
    currentApp = this;
}

CWinApp::~CWinApp()
{
    if (currentApp == this)
        currentApp = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

HICON CWinApp::LoadIcon(UINT id) const
{
    return ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
}

CWinApp* AfxGetApp()
{
    return currentApp;
}

HINSTANCE AfxGetResourceHandle()
{
    return ::GetModuleHandleA(nullptr);
}

int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CWinApp* app = AfxGetApp();
    if (!app || !app->InitInstance())
        return 0;
    MSG msg = {};
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
