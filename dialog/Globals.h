// Process-wide objects the dialog's handlers share; defined with the application object,
// in the order of their construction.
#pragma once
#include "afxwin.h"
#include "SerialLink.h"  // theLink

extern CString displayText;   // values formatted for the controls, typed values read back
extern CString portPathText;  // the device path of the port being probed
