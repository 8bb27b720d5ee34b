#include "serial/ComPorts.h"
#include <windows.h>

std::string ComPortPath(int number)
{
    return "\\\\.\\COM" + std::to_string(number);
}

bool ComPortPresent(const char* path)
{
    HANDLE probe =
        ::CreateFileA(path, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(probe);
    return true;
}
