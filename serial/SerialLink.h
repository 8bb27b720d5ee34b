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

class CSerialLink {
public:
    CSerialLink();
    virtual ~CSerialLink();

    // 1 when the port was opened (also when a later setting failed and was reported),
    // 0 when it could not be opened or the link's events could not be made. Time-outs are
    // given in seconds.
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

    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

private:
    // Lets the tests choose how the worker waits and make event creation fail.
    friend struct SerialLinkSeam;

    static UINT WorkerProc(LPVOID param);
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

    static decltype(&CreateEventA) createEvent;  // CreateEventA, unless a test says otherwise

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
};

extern CSerialLink theLink;
