// The process-wide objects with constructors. They are defined in this one translation
// unit because only within one is the order of construction fixed (the order of
// definition, after the framework's own initialisation) and destruction the reverse: the
// strings go first, then the link, whose destructor ends a worker still running, and the
// application object last.
#include "ControllerApp.h"
#include "Globals.h"

CControllerApp theApp;
CSerialLink theLink;
CString displayText;
CString portPathText;
