// A small application framework on plain Win32, offering the handful of MFC-style
// classes and calls the program is written against. It knows nothing of the program.
#pragma once
#include <windows.h>

class CWnd {
public:
    HWND m_hWnd = nullptr;
    CWnd() = default;
    virtual ~CWnd() = default;
    HWND GetSafeHwnd() const { return m_hWnd; }
};

// A worker thread started by AfxBeginThread; deleted by AfxEndThread(code, TRUE).
class CWinThread {
public:
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
};

typedef UINT (*AFX_THREADPROC)(LPVOID);

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0,
                           LPSECURITY_ATTRIBUTES security = nullptr);
// Ends the calling thread, which must have been started by AfxBeginThread.
void AfxEndThread(UINT exitCode, BOOL deleteThread = TRUE);
