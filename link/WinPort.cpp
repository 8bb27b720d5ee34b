// zorvane-ctl's port and clock on Windows. Reads are plain blocking ReadFile calls bounded
// by COMMTIMEOUTS {MAXDWORD, MAXDWORD, N}: they return as soon as a byte is there, or after
// N ms with none, and wait without CPU, also under Wine (where comm-event waits spin).
#include <windows.h>
#include <algorithm>
#include "serial/ComPorts.h"
#include "link/Port.h"
#include "protocol/PortRange.h"

namespace {

constexpr DWORD WRITE_TIMEOUT_MS = 1000;

volatile LONG stopRequested = 0;
HANDLE stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    InterlockedExchange(&stopRequested, 1);
    SetEvent(stopEvent);
    return TRUE;
}

std::string SystemText(const char* what, DWORD code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message =
        std::string(what) + ": " + (text ? text : "error " + std::to_string(code));
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    return message;
}

class Win32Port final : public Port {
public:
    ~Win32Port() override { Close(); }

    // Probed as the window probes them.
    std::vector<std::string> List() override
    {
        std::vector<std::string> ports;
        for (int number = 1; number <= MAX_PROBED_PORT; ++number) {
            if (ComPortPresent(ComPortPath(number).c_str()))
                ports.push_back("COM" + std::to_string(number));
        }
        return ports;
    }

    std::string NumberedPath(int number) override { return ComPortPath(number); }

    bool Open(const std::string& path, std::string& error) override
    {
        Close();
        handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD code = GetLastError();
            error = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? "no such port"
                    : code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION
                        ? "port busy"
                        : SystemText("cannot open", code);
            return false;
        }
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle, &dcb)) {
            error = "not a serial port";
            Close();
            return false;
        }
        dcb.BaudRate = CBR_9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        if (!SetCommState(handle, &dcb)) {
            error = SystemText("cannot set 9600 8N1", GetLastError());
            Close();
            return false;
        }
        PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
        return true;
    }

    void Close() override
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }

    bool Discard(std::string& error) override
    {
        if (PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR))
            return true;
        error = SystemText("port failed", GetLastError());
        return false;
    }

    bool Write(const uint8_t* data, size_t size, std::string& error) override
    {
        DWORD written = 0;
        if (!SetTimeouts(WRITE_TIMEOUT_MS, error))
            return false;
        if (!WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr)) {
            error = SystemText("port failed", GetLastError());
            return false;
        }
        if (written != size) {
            error = "the port takes no more bytes";
            return false;
        }
        return true;
    }

    int Read(uint8_t* buffer, size_t size, int64_t timeoutMs, std::string& error) override
    {
        // What is queued is taken at once; otherwise one byte is awaited: a longer read
        // waits out the whole time-out under Wine even when bytes have come.
        DWORD errors = 0;
        COMSTAT status = {};
        if (!ClearCommError(handle, &errors, &status)) {
            error = SystemText("port failed", GetLastError());
            return -1;
        }
        DWORD want = status.cbInQue == 0 ? 1 : std::min(status.cbInQue, static_cast<DWORD>(size));
        DWORD got = 0;
        if (!SetTimeouts(static_cast<DWORD>(timeoutMs < 1 ? 1 : timeoutMs), error))
            return -1;
        if (!ReadFile(handle, buffer, want, &got, nullptr)) {
            error = SystemText("port failed", GetLastError());
            return -1;
        }
        return static_cast<int>(got);
    }

private:
    bool SetTimeouts(DWORD readMs, std::string& error)
    {
        COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, readMs, 0, WRITE_TIMEOUT_MS};
        if (SetCommTimeouts(handle, &timeouts))
            return true;
        error = SystemText("port failed", GetLastError());
        return false;
    }

    HANDLE handle = INVALID_HANDLE_VALUE;
};

class Win32Clock : public ChronoClock {
public:
    void CatchStop() override
    {
        stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    }

    bool StopRequested() override { return stopRequested != 0; }

    void Pause(int64_t ms) override
    {
        if (stopEvent)
            WaitForSingleObject(stopEvent, static_cast<DWORD>(ms));
        else
            Sleep(static_cast<DWORD>(ms));
    }
};

}  // namespace

std::unique_ptr<Port> MakeSystemPort()
{
    return std::make_unique<Win32Port>();
}

std::unique_ptr<Clock> MakeSystemClock()
{
    return std::make_unique<Win32Clock>();
}
