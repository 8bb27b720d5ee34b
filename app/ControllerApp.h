// The application object: runs the controller dialog and then lets the program end.
#pragma once
#include "afxwin.h"

class CControllerApp : public CWinApp {
public:
    BOOL InitInstance() override;
};
