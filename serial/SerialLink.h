// The program's one serial port: opened for overlapped I/O, served by a worker thread that
// hands every received byte to the owner window and writes the frames given to Send.
#pragma once
#include <mutex>
#include "afxwin.h"

// Messages the worker sends to the owner window; wParam is the byte (RXCHAR) or 0,
// lParam the port number.
constexpr UINT WM_LINK_BREAK = WM_USER + 1;
constexpr UINT WM_LINK_CTS = WM_USER + 2;
constexpr UINT WM_LINK_ERR = WM_USER + 4;
constexpr UINT WM_LINK_RING = WM_USER + 5;
constexpr UINT WM_LINK_RXCHAR = WM_USER + 7;
constexpr UINT WM_LINK_RXFLAG = WM_USER + 8;

// The line settings of Open's parity letter (upper-case E, O, M, S; anything else means
// none) and stop-bits code (0 one, 1 one and a half, 2 two; anything else means one).
BYTE ParityFromLetter(char letter);
BYTE StopBitsFromCode(int code);

// Who touches what:
// - The user-interface thread, the one that owns the owner window, constructs and destroys
//   the link and calls Open, Start, Stop and Send. The worker runs WorkerProc and what it
//   calls; it is the only thread that uses the port while it runs.
// - The worker reads portHandle, events, overlapped, ioOverlapped, timeouts, eventMask,
//   waitByReading, ownerWindow and portNumber. Open sets them, and Open, Stop and the
//   destructor change them only after the worker has ended, so they hold still while it
//   runs. Send replaces writeBuffer's contents and writeLength at any time, under slotLock,
//   under which the worker takes its copy. workerEnded is lowered by Start before the thread
//   exists and raised by the worker as its last act.
// - The worker shows the error boxes of its own failures itself, on its thread: while one is
//   up it reads nothing, and Stop goes on handling the window's messages until the box is
//   closed and the worker has ended. Open's boxes come up inside Open, on the user-interface
//   thread, whose messages the box hands out meanwhile.
// - So the two threads never do port work at the same time, and lock is never contended.
//   It is still taken around each port operation of both, so that the port work stays
//   exclusive should the user-interface thread ever touch the port while a worker runs;
//   uncontended it costs next to nothing.
class CSerialLink {
public:
    CSerialLink();
    virtual ~CSerialLink();

    // 1 when the port was opened and set up; 0 when it could not be opened, the link's
    // events could not be made, or the port refused a setting (reported in a box, and the
    // port closed again). Time-outs are given in seconds.
    int Open(CWnd* owner, UINT port, UINT baud, char parity, int dataBits, int stopBits,
             DWORD eventMask, UINT writeBufferSize, UINT readInterval, UINT readMultiplier,
             UINT readConstant, UINT writeMultiplier, UINT writeConstant);
    BOOL Start();
    // Ends the worker, handling the owner window's messages meanwhile, and closes the port.
    void Stop();
    // Hands a frame to the worker; a frame not yet written is replaced by the next one.
    // Refuses (returns 0) a length that is negative or larger than the write buffer.
    BOOL Send(const void* bytes, int length);
    // Shows the error box for a failed port operation, with the last error's text.
    void ReportError(const char* operation);
    // Whether the last Open failed because the port refused a setting.
    bool SettingsRefused() const { return settingsRefused; }

    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

private:
    // Lets the tests choose how the worker waits and make event creation or time-outs fail.
    friend struct SerialLinkSeam;

    // What woke the worker.
    enum class Wake { Shutdown, Port, Write, Nothing };

    static UINT WorkerProc(LPVOID param);
    Wake WaitForWork();
    // The worker's two ways of waiting for the port; each returns on shutdown.
    void WaitWithCommEvents();
    void WaitWithByteReads();
    bool SetWaitingTimeouts(COMMTIMEOUTS& waiting);
    void StartCommEventWait();
    bool StartByteRead();
    int EndByteRead(bool cancel);
    void OnPortEvent(int arrivedByte);
    void ReceiveBytes();
    void WriteBytes();
    // Sends a link message to the owner window, if it still exists.
    void Notify(UINT message, WPARAM wParam);
    // Asks the worker to end and returns once it has, handling the owner window's messages
    // meanwhile.
    void WaitForWorker();
    bool EventsExist() const;

    // CreateEventA and SetCommTimeouts, unless a test says otherwise.
    static decltype(&CreateEventA) createEvent;
    static decltype(&SetCommTimeouts) setCommTimeouts;

    CRITICAL_SECTION lock;  // port I/O of Open and of the worker
    bool lockReady;         // lock is initialised (by the first Open)
    HANDLE workerEnded;     // signalled while no worker runs
    HANDLE shutdownEvent;
    HANDLE portHandle;
    HANDLE writeEvent;
    HANDLE events[3];       // shutdownEvent, overlapped.hEvent, writeEvent
    OVERLAPPED overlapped;  // the worker's wait for the port: comm event or byte read
    COMMTIMEOUTS timeouts;
    DCB dcb;
    HWND ownerWindow;  // taken at Open: the worker never touches the window object
    UINT portNumber;
    BYTE* writeBuffer;
    DWORD eventMask;
    DWORD writeBufferSize;
    int writeLength;
    std::mutex slotLock;      // writeBuffer and writeLength, between Send and the worker
    OVERLAPPED ioOverlapped;  // the worker's reads of queued bytes, and its writes
    // Under Wine, comm-event waits end at once on an idle port, leaking memory each time; a
    // one-byte read that waits for the next byte takes their place there.
    bool waitByReading;
    BYTE arrivedByte;  // what that read brings
    bool settingsRefused;
};

extern CSerialLink theLink;
