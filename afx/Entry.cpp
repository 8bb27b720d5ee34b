// The process entry of the program. Kept out of the framework library so that test
// programs linking the library keep their own main.
#include "afxwin.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    return AfxWinMain(instance, previous, commandLine, showCommand);
}
