// The COM ports of a Windows machine, named and probed the same way by the window and the
// tool.
#pragma once
#include <string>

// "\\.\COMn": the device path of COM n, which also opens the ports past COM9.
std::string ComPortPath(int number);

// Opens the path with no access, which tells whether the port exists without touching its
// settings (and without disturbing a program that holds it).
bool ComPortPresent(const char* path);
