// The process-wide objects that the program defines with its application object, here
// without the program's InitInstance: each test opens the dialog itself.
#include <gtest/gtest.h>
#include "Globals.h"

CWinApp testApp;
CSerialLink theLink;
CString displayText;
CString portPathText;

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
