// The controller dialog, created modeless from its template once for a suite of tests.
#pragma once
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include "ControllerDlg.h"

inline void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

inline std::wstring WideText(HWND hWnd)
{
    wchar_t buffer[256] = {};
    GetWindowTextW(hWnd, buffer, 256);
    return buffer;
}

inline std::string NarrowText(HWND hWnd)
{
    char buffer[256] = {};
    GetWindowTextA(hWnd, buffer, 256);
    return buffer;
}

class DialogTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dialog = std::make_unique<CControllerDlg>();
        dialog->Create(IDD_CONTROLLER_DIALOG);
        window = dialog->GetSafeHwnd();
        PumpMessages();
    }
    static void TearDownTestSuite()
    {
        if (IsWindow(window))
            DestroyWindow(window);
        PumpMessages();
        dialog.reset();
    }
    void SetUp() override { ASSERT_TRUE(IsWindow(window)); }
    static HWND Item(int id) { return GetDlgItem(window, id); }

    static inline std::unique_ptr<CControllerDlg> dialog;
    static inline HWND window = nullptr;
};
