// What the serial link tests and the benchmark share: the ports that with_ports.sh sets up,
// an owner window that records the link's messages, the module's end of a line, and a
// message pump that waits on a condition.
#pragma once
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "SerialLink.h"

// Set up by with_ports.sh.
const UINT LINK_PORT = 41;  // joined to MODULE_PORT
const UINT MODULE_PORT = 42;
const UINT LINK_PORT_2 = 43;  // joined to MODULE_PORT_2
const UINT MODULE_PORT_2 = 44;
const UINT NOT_SERIAL_PORT = 45;
const UINT ABSENT_PORT = 49;

// Opens the link as the port panel does: 9600 8N1, EV_RXCHAR only, 512-byte buffer.
inline int OpenLikePortPanel(CSerialLink& link, CWnd* owner, UINT port)
{
    return link.Open(owner, port, 9600, 'N', 8, 0, EV_RXCHAR, 512, 1000, 1000, 1000, 1000, 1000);
}

struct LinkMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// A hidden message-only window, owned by the thread that creates it, that records every
// link message; onMessage, if set, runs inside the handler.
class OwnerWindow {
public:
    OwnerWindow()
    {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "ZorvaneLinkOwner";
        RegisterClassA(&windowClass);  // fails harmlessly when already registered
        wnd.m_hWnd = CreateWindowExA(0, "ZorvaneLinkOwner", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                     nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrA(wnd.m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~OwnerWindow() { Destroy(); }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;

    void Destroy()
    {
        if (wnd.m_hWnd)
            DestroyWindow(wnd.m_hWnd);
        wnd.m_hWnd = nullptr;
    }
    // The received bytes, in order.
    std::string Bytes() const
    {
        std::string bytes;
        for (const LinkMessage& m : messages) {
            if (m.message == WM_LINK_RXCHAR)
                bytes += static_cast<char>(m.wParam);
        }
        return bytes;
    }

    CWnd wnd;
    std::vector<LinkMessage> messages;
    std::function<void(const LinkMessage&)> onMessage;

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<OwnerWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && message > WM_USER && message <= WM_USER + 8) {
            LinkMessage m{message, wParam, lParam};
            self->messages.push_back(m);
            if (self->onMessage)
                self->onMessage(m);
            return 0;
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
};

// Handles this thread's messages until done() holds or timeoutMs passes; true if done.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 3000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return false;
        MsgWaitForMultipleObjects(
            0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 5)), QS_ALLINPUT);
    }
}

// The far end of a line, opened with plain blocking calls, standing in for the module.
class ModulePort {
public:
    explicit ModulePort(UINT port)
    {
        char path[32];
        wsprintfA(path, "\\\\.\\COM%u", port);
        handle =
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~ModulePort()
    {
        if (IsOpen())
            CloseHandle(handle);
    }
    ModulePort(const ModulePort&) = delete;
    ModulePort& operator=(const ModulePort&) = delete;

    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    bool Write(const std::string& bytes)
    {
        DWORD written = 0;
        return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size();
    }
    // Reads until `count` bytes have come or no byte has come for quietMs.
    std::string Read(size_t count, DWORD quietMs = 1000)
    {
        COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, quietMs, 0, 0};
        SetCommTimeouts(handle, &timeouts);
        std::string bytes;
        while (bytes.size() < count) {
            char chunk[65536];
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min(count - bytes.size(), sizeof chunk));
            if (!ReadFile(handle, chunk, want, &got, nullptr) || got == 0)
                break;
            bytes.append(chunk, got);
        }
        return bytes;
    }
    // Bytes waiting to be read.
    DWORD Queued()
    {
        DWORD errors = 0;
        COMSTAT status{};
        return ClearCommError(handle, &errors, &status) ? status.cbInQue : 0;
    }

    HANDLE handle;
};
