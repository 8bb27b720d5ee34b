#include "SerialLink.h"
#include "serial/ComPorts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

const DWORD PURGE_ALL = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
const DWORD WORKER_EXIT_CODE = 100;
// How long the waiting one-byte read may last on Windows before it is started again; Wine
// keeps it waiting until a byte comes.
const DWORD BYTE_WAIT_MS = 500;
// What the waiting read brought when it brought no byte.
const int NO_BYTE = -1;
const int READ_FAILED = -2;

// Where comm-event waits report the events that occurred, which the worker does not use.
// Not on the worker's stack: under Wine a pending wait writes here even after the worker
// has ended, and the worker ends with a wait pending.
DWORD occurredEvents;

bool IsSignalled(HANDLE event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// Wine's ntdll has exports of its own.
bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

decltype(&CreateEventA) CSerialLink::createEvent = CreateEventA;
decltype(&SetCommTimeouts) CSerialLink::setCommTimeouts = SetCommTimeouts;

BYTE ParityFromLetter(char letter)
{
    switch (letter) {
    case 'E': return EVENPARITY;
    case 'O': return ODDPARITY;
    case 'M': return MARKPARITY;
    case 'S': return SPACEPARITY;
    default: return NOPARITY;
    }
}

BYTE StopBitsFromCode(int code)
{
    switch (code) {
    case 1: return ONE5STOPBITS;
    case 2: return TWOSTOPBITS;
    default: return ONESTOPBIT;
    }
}

CSerialLink::CSerialLink()
    : lock{}, lockReady(false), workerEnded(nullptr), shutdownEvent(nullptr), portHandle(nullptr),
      writeEvent(nullptr), events{}, overlapped{}, timeouts{}, dcb{}, ownerWindow(nullptr),
      portNumber(0), writeBuffer(nullptr), eventMask(0), writeBufferSize(0),
      writeLength(1), ioOverlapped{}, waitByReading(RunningUnderWine()), arrivedByte(0),
      settingsRefused(false)
{}

CSerialLink::~CSerialLink()
{
    WaitForWorker();
    if (portHandle)
        CloseHandle(portHandle);
    for (HANDLE event :
         {shutdownEvent, overlapped.hEvent, writeEvent, ioOverlapped.hEvent, workerEnded}) {
        if (event)
            CloseHandle(event);
    }
    delete[] writeBuffer;
    if (lockReady)
        DeleteCriticalSection(&lock);
}

int CSerialLink::Open(CWnd* ownerWnd, UINT port, UINT baud, char parity, int dataBits, int stopBits,
                      DWORD mask, UINT bufferSize, UINT readInterval, UINT readMultiplier,
                      UINT readConstant, UINT writeMultiplier, UINT writeConstant)
{
    // Callers stop the link first; this only makes sure no worker outlives the old port.
    WaitForWorker();
    settingsRefused = false;

    for (HANDLE* event : {&overlapped.hEvent, &writeEvent, &shutdownEvent, &ioOverlapped.hEvent}) {
        if (*event) {
            ResetEvent(*event);
        } else {
            *event = createEvent(nullptr, TRUE, FALSE, nullptr);
        }
    }
    if (!workerEnded)
        workerEnded = createEvent(nullptr, TRUE, TRUE, nullptr);
    events[0] = shutdownEvent;
    events[1] = overlapped.hEvent;
    events[2] = writeEvent;
    if (!lockReady) {
        InitializeCriticalSection(&lock);
        lockReady = true;
    }

    ownerWindow = ownerWnd ? ownerWnd->GetSafeHwnd() : nullptr;
    delete[] writeBuffer;
    writeBuffer = new (std::nothrow) BYTE[bufferSize];
    portNumber = port;
    writeBufferSize = writeBuffer ? bufferSize : 0;
    eventMask = mask;

    EnterCriticalSection(&lock);
    if (portHandle) {
        CloseHandle(portHandle);
        portHandle = nullptr;
    }
    // Without its events a worker could neither be woken nor stopped.
    if (!EventsExist()) {
        LeaveCriticalSection(&lock);
        return 0;
    }
    const std::string path = ComPortPath(static_cast<int>(port));
    const BYTE stopBitsSetting = StopBitsFromCode(stopBits);
    const BYTE paritySetting = ParityFromLetter(parity);

    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        LeaveCriticalSection(&lock);
        return 0;
    }
    portHandle = handle;

    // A port that refuses a setting is no line to the module: the failed step is reported,
    // the steps after it are skipped and the port is let go.
    const bool configured = [&] {
        timeouts.ReadIntervalTimeout = readInterval * 1000;
        timeouts.ReadTotalTimeoutMultiplier = readMultiplier * 1000;
        timeouts.ReadTotalTimeoutConstant = readConstant * 1000;
        timeouts.WriteTotalTimeoutMultiplier = writeMultiplier * 1000;
        timeouts.WriteTotalTimeoutConstant = writeConstant * 1000;
        if (!setCommTimeouts(portHandle, &timeouts)) {
            ReportError("SetCommTimeouts()");
            return false;
        }
        if (!SetCommMask(portHandle, eventMask)) {
            ReportError("SetCommMask()");
            return false;
        }
        if (!GetCommState(portHandle, &dcb)) {
            ReportError("GetCommState()");
            return false;
        }
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.EvtChar = 0x71;
        dcb.BaudRate = baud;
        dcb.Parity = paritySetting;
        dcb.ByteSize = static_cast<BYTE>(dataBits);
        dcb.StopBits = stopBitsSetting;
        if (!SetCommState(portHandle, &dcb)) {
            ReportError("SetCommState()");
            return false;
        }
        return true;
    }();
    settingsRefused = !configured;
    if (!configured) {
        CloseHandle(portHandle);
        portHandle = nullptr;
        LeaveCriticalSection(&lock);
        return 0;
    }

    PurgeComm(portHandle, PURGE_ALL);
    LeaveCriticalSection(&lock);
    return 1;
}

BOOL CSerialLink::Start()
{
    if (!EventsExist())
        return FALSE;
    // Lowered before the thread exists, so that a Stop straight after Start waits for it.
    ResetEvent(workerEnded);
    if (AfxBeginThread(WorkerProc, this, THREAD_PRIORITY_NORMAL, 0, 0, nullptr))
        return TRUE;
    SetEvent(workerEnded);
    return FALSE;
}

void CSerialLink::Stop()
{
    WaitForWorker();
    if (portHandle) {
        CloseHandle(portHandle);
        portHandle = nullptr;
    }
    for (HANDLE event : {shutdownEvent, overlapped.hEvent, writeEvent, ioOverlapped.hEvent}) {
        if (event)
            ResetEvent(event);
    }
}

void CSerialLink::WaitForWorker()
{
    if (!workerEnded || IsSignalled(workerEnded))
        return;
    SetEvent(shutdownEvent);
    // The worker may be waiting in SendMessageA for this thread: its message is handled by
    // any peek. Posted messages of the owner window are handled as usual; others stay queued.
    // What is queued already is handled first: the wait wakes only for what comes after.
    do {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        while (ownerWindow && PeekMessageA(&msg, ownerWindow, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    } while (MsgWaitForMultipleObjects(1, &workerEnded, FALSE, INFINITE, QS_ALLINPUT) !=
             WAIT_OBJECT_0);
}

bool CSerialLink::EventsExist() const
{
    return shutdownEvent && overlapped.hEvent && writeEvent && ioOverlapped.hEvent && workerEnded;
}

BOOL CSerialLink::Send(const void* bytes, int length)
{
    if (length < 0 || static_cast<DWORD>(length) > writeBufferSize || (!bytes && length > 0) ||
        !writeEvent) {
        return FALSE;
    }
    // The worker takes its copy under the same lock, so it never writes half of a frame
    // and half of the one that replaced it.
    std::lock_guard<std::mutex> hold(slotLock);
    std::copy_n(static_cast<const BYTE*>(bytes), length, writeBuffer);
    writeLength = length;
    return SetEvent(writeEvent);
}

void CSerialLink::ReportError(const char* operation)
{
    const DWORD code = GetLastError();
    char* systemText = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&systemText),
                   0, nullptr);
    char unknownText[48];
    snprintf(unknownText, sizeof unknownText, "Error %lu (no description).", code);

    // The port line is kept whole at the end; a long system text is cut short instead.
    char portLine[32];
    const int portLineLength =
        snprintf(portLine, sizeof portLine, "\nPort: %d\n", static_cast<int>(portNumber));
    char message[200];
    snprintf(message, sizeof message - portLineLength,
             "WARNING:  %s Failed with the following error: \n%s", operation ? operation : "",
             systemText ? systemText : unknownText);
    memcpy(message + strlen(message), portLine, portLineLength + 1);

    MessageBoxA(nullptr, message, "Application Error", MB_ICONERROR);
    LocalFree(systemText);
}

void CSerialLink::Notify(UINT message, WPARAM wParam)
{
    if (IsWindow(ownerWindow)) {
        SendMessageA(ownerWindow, message, wParam, static_cast<LPARAM>(portNumber));
    }
}

UINT CSerialLink::WorkerProc(LPVOID param)
{
    CSerialLink* link = static_cast<CSerialLink*>(param);
    if (link->portHandle)
        PurgeComm(link->portHandle, PURGE_ALL);
    if (link->waitByReading && (link->eventMask & EV_RXCHAR))
        link->WaitWithByteReads();
    else
        link->WaitWithCommEvents();
    // The link may be gone once this is signalled: nothing of it is touched after.
    SetEvent(link->workerEnded);
    AfxEndThread(WORKER_EXIT_CODE, TRUE);
    return WORKER_EXIT_CODE;  // not reached
}

CSerialLink::Wake CSerialLink::WaitForWork()
{
    switch (WaitForMultipleObjects(3, events, FALSE, INFINITE)) {
    case WAIT_OBJECT_0: return Wake::Shutdown;
    case WAIT_OBJECT_0 + 1: return Wake::Port;
    case WAIT_OBJECT_0 + 2: return Wake::Write;
    default: return Wake::Nothing;
    }
}

void CSerialLink::WaitWithCommEvents()
{
    for (;;) {
        StartCommEventWait();
        switch (WaitForWork()) {
        case Wake::Shutdown: return;
        case Wake::Port: OnPortEvent(NO_BYTE); break;
        case Wake::Write: WriteBytes(); break;
        case Wake::Nothing: break;
        }
    }
}

void CSerialLink::WaitWithByteReads()
{
    // The waiting read needs read time-outs of its own: return what is queued, else wait for
    // one byte. The write time-outs stay as Open set them.
    COMMTIMEOUTS waiting = timeouts;
    waiting.ReadIntervalTimeout = MAXDWORD;
    waiting.ReadTotalTimeoutMultiplier = MAXDWORD;
    waiting.ReadTotalTimeoutConstant = BYTE_WAIT_MS;
    bool timeoutsSet = false;
    // A read that could not start (its time-outs included) is tried again only after the
    // next write, as a failed comm-event wait is: until then the worker waits for shutdown
    // and writes.
    enum { IDLE, READING, FAILED } read = IDLE;

    for (;;) {
        if (read == IDLE) {
            timeoutsSet = timeoutsSet || SetWaitingTimeouts(waiting);
            read = timeoutsSet && StartByteRead() ? READING : FAILED;
        }
        switch (WaitForWork()) {
        case Wake::Shutdown:
            if (read == READING)
                EndByteRead(true);
            return;
        case Wake::Port: {
            const int got = EndByteRead(false);
            read = got == READ_FAILED ? FAILED : IDLE;
            // A read that brought nothing is no port event.
            if (got >= 0)
                OnPortEvent(got);
            break;
        }
        case Wake::Write:
            // The purge before the write must not meet the waiting read (under Wine the read
            // then fails), so the read ends first. A byte it has already taken is a port
            // event and comes first; the write follows on the next pass.
            if (read == READING) {
                const int got = EndByteRead(true);
                read = IDLE;
                if (got >= 0) {
                    OnPortEvent(got);
                    break;
                }
            }
            WriteBytes();
            read = IDLE;
            break;
        case Wake::Nothing: break;
        }
    }
}

bool CSerialLink::SetWaitingTimeouts(COMMTIMEOUTS& waiting)
{
    if (setCommTimeouts(portHandle, &waiting))
        return true;
    ReportError("SetCommTimeouts()");
    return false;
}

void CSerialLink::StartCommEventWait()
{
    // Done at once with nothing queued: start another.
    while (WaitCommEvent(portHandle, &occurredEvents, &overlapped)) {
        DWORD errors = 0;
        COMSTAT status{};
        if (ClearCommError(portHandle, &errors, &status) && status.cbInQue > 0)
            return;
    }
    // 87: the wait started earlier is still pending, and serves as well.
    const DWORD code = GetLastError();
    if (code != ERROR_IO_PENDING && code != ERROR_INVALID_PARAMETER) {
        ReportError("WaitCommEvent()");
    }
}

// Starts the one-byte read that waits for the next received byte; its end signals
// overlapped.hEvent. True when it is under way (or already done); a failure is reported
// and leaves the event unsignalled.
bool CSerialLink::StartByteRead()
{
    EnterCriticalSection(&lock);
    DWORD count = 0;
    const bool started = ReadFile(portHandle, &arrivedByte, 1, &count, &overlapped) ||
                         GetLastError() == ERROR_IO_PENDING;
    const DWORD code = GetLastError();
    LeaveCriticalSection(&lock);
    if (!started) {
        SetLastError(code);
        ReportError("ReadFile()");
        ResetEvent(overlapped.hEvent);
    }
    return started;
}

// Waits for the waiting read to end, ending it first when asked, and gives the byte it
// brought, NO_BYTE (its time ran out or it was ended), or READ_FAILED. Like the end of a
// comm-event wait, a failed end is not reported: it is what a line that went away while
// idle looks like (under Wine a pty whose other end closed), and the next write reports
// a line that is really gone.
int CSerialLink::EndByteRead(bool cancel)
{
    if (cancel)
        CancelIoEx(portHandle, &overlapped);
    DWORD count = 0;
    if (GetOverlappedResult(portHandle, &overlapped, &count, TRUE)) {
        return count == 1 ? arrivedByte : NO_BYTE;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_TIMEOUT || code == ERROR_OPERATION_ABORTED)
        return NO_BYTE;
    ResetEvent(overlapped.hEvent);
    return READ_FAILED;
}

// Acts on the events enabled at Open, not on the ones that occurred. A byte that the
// waiting read brought comes first.
void CSerialLink::OnPortEvent(int arrived)
{
    if (arrived != NO_BYTE)
        Notify(WM_LINK_RXCHAR, static_cast<WPARAM>(arrived));
    DWORD enabled = 0;
    GetCommMask(portHandle, &enabled);
    if (enabled & EV_RXCHAR)
        ReceiveBytes();
    if (enabled & EV_CTS)
        Notify(WM_LINK_CTS, 0);
    if (enabled & EV_RXFLAG)
        Notify(WM_LINK_RXFLAG, 0);
    if (enabled & EV_BREAK)
        Notify(WM_LINK_BREAK, 0);
    if (enabled & EV_ERR)
        Notify(WM_LINK_ERR, 0);
    if (enabled & EV_RING)
        Notify(WM_LINK_RING, 0);
}

void CSerialLink::ReceiveBytes()
{
    if (IsSignalled(shutdownEvent))
        return;
    do {
        DWORD errors = 0;
        COMSTAT status{};
        EnterCriticalSection(&lock);
        const BOOL known = ClearCommError(portHandle, &errors, &status);
        LeaveCriticalSection(&lock);
        // Without a fresh count there is nothing safe to read: wait for the next event.
        if (!known || status.cbInQue == 0)
            return;

        BYTE byte = 0;
        DWORD count = 0;
        const char* failure = nullptr;
        EnterCriticalSection(&lock);
        if (!ReadFile(portHandle, &byte, 1, &count, &ioOverlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                failure = "ReadFile()";
            } else if (!GetOverlappedResult(portHandle, &ioOverlapped, &count, TRUE)) {
                failure = "GetOverlappedResults() in ReadFile()";
            }
        }
        LeaveCriticalSection(&lock);
        if (failure) {
            ReportError(failure);
        } else if (count == 1) {
            // Sent without the lock: the window's handler may take its time.
            Notify(WM_LINK_RXCHAR, byte);
        }
    } while (!IsSignalled(shutdownEvent));
}

void CSerialLink::WriteBytes()
{
    std::vector<BYTE> frame;
    {
        std::lock_guard<std::mutex> hold(slotLock);
        frame.assign(writeBuffer, writeBuffer + writeLength);
        // A Send from here on signals again and is written by the next pass.
        ResetEvent(writeEvent);
    }

    EnterCriticalSection(&lock);
    ioOverlapped.Offset = 0;
    ioOverlapped.OffsetHigh = 0;
    // Unread replies and unsent bytes belong to earlier frames: drop them.
    PurgeComm(portHandle, PURGE_ALL);
    DWORD written = 0;
    if (WriteFile(portHandle, frame.data(), static_cast<DWORD>(frame.size()), &written,
                  &ioOverlapped)) {
        LeaveCriticalSection(&lock);
        return;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        LeaveCriticalSection(&lock);
        ReportError("WriteFile()");
        return;
    }
    written = 0;
    const BOOL done = GetOverlappedResult(portHandle, &ioOverlapped, &written, TRUE);
    LeaveCriticalSection(&lock);
    if (!done)
        ReportError("GetOverlappedResults() in WriteFile()");
}
