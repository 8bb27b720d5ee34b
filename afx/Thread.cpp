#include "afxwin.h"
#include <process.h>

namespace {

struct ThreadStart {
    AFX_THREADPROC proc;
    LPVOID param;
    CWinThread* thread;
};

// The record of the thread running on this thread, for AfxEndThread.
thread_local CWinThread* currentThread = nullptr;

unsigned __stdcall ThreadEntry(void* arg)
{
    ThreadStart start = *static_cast<ThreadStart*>(arg);
    delete static_cast<ThreadStart*>(arg);
    currentThread = start.thread;
    AfxEndThread(start.proc(start.param), TRUE);
    return 0;
}

}  // namespace

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize,
                           DWORD createFlags, LPSECURITY_ATTRIBUTES security)
{
    CWinThread* thread = new CWinThread;
    ThreadStart* start = new ThreadStart{proc, param, thread};
    unsigned id = 0;
    // Suspended until the record is complete and the priority set.
    uintptr_t handle =
        _beginthreadex(security, stackSize, ThreadEntry, start, CREATE_SUSPENDED, &id);
    if (!handle) {
        delete start;
        delete thread;
        return nullptr;
    }
    thread->m_hThread = reinterpret_cast<HANDLE>(handle);
    thread->m_nThreadID = id;
    ::SetThreadPriority(thread->m_hThread, priority);
    if (!(createFlags & CREATE_SUSPENDED))
        ::ResumeThread(thread->m_hThread);
    return thread;
}

void AfxEndThread(UINT exitCode, BOOL deleteThread)
{
    CWinThread* thread = currentThread;
    currentThread = nullptr;
    if (deleteThread && thread) {
        ::CloseHandle(thread->m_hThread);
        delete thread;
    }
    _endthreadex(exitCode);
}
