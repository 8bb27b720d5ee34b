// The few socket calls the server makes. One file per platform implements them
// (PosixSockets.cpp, WinSockets.cpp); the server's logic stays portable.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "net/Address.h"

using SocketHandle = intptr_t;  // an fd on POSIX, a SOCKET on Windows
constexpr SocketHandle NO_SOCKET = -1;

// Receive's results besides a byte count.
constexpr long RECEIVE_END = 0;      // the peer sends no more
constexpr long RECEIVE_NONE = -1;    // nothing there now
constexpr long RECEIVE_FAILED = -2;  // the connection is broken

struct WaitEntry {
    SocketHandle socket = NO_SOCKET;
    bool wantRead = false;
    bool wantWrite = false;
    bool readable = false;  // or closed, or failed: a Receive tells which
    bool writable = false;
};

class Sockets {
public:
    virtual ~Sockets() = default;
    // A non-blocking listening socket, and the address it really has (port 0 gets one).
    virtual SocketHandle Listen(const Endpoint& at, Endpoint& bound, std::string& error) = 0;
    // A waiting connection, non-blocking and with TCP_NODELAY, or NO_SOCKET when none.
    virtual SocketHandle Accept(SocketHandle listener, Endpoint& peer) = 0;
    virtual long Receive(SocketHandle socket, char* buffer, size_t size) = 0;
    // Bytes taken (0 when its buffer is full), -1 when the connection is broken.
    virtual long Send(SocketHandle socket, const char* data, size_t size) = 0;
    virtual void Close(SocketHandle socket) = 0;
    // Waits until an entry is ready, timeoutMs passes (-1: no limit) or Ctrl-C is pressed.
    // Returns true when Ctrl-C ended the wait.
    virtual bool Wait(std::vector<WaitEntry>& entries, int64_t timeoutMs) = 0;
};

// The platform's own; call after Clock::CatchStop. nullptr with a reason on failure.
std::unique_ptr<Sockets> MakeSystemSockets(std::string& error);
