// The server's sockets on Windows (Winsock 2, WSAPoll). A console control handler ends the
// wait through a loopback datagram socket that is in every wait, since WSAPoll cannot wait
// on an event.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include "net/Sockets.h"

namespace {

constexpr int SEND_BUFFER = 64 * 1024;  // fixed, so a client that never reads holds little

SOCKET wakeSender = INVALID_SOCKET;
sockaddr_in wakeAddress = {};

// Runs on a thread of its own; returns FALSE so that the clock's handler sees Ctrl-C too.
BOOL WINAPI OnConsoleControl(DWORD type)
{
    if ((type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) && wakeSender != INVALID_SOCKET)
        sendto(wakeSender, "!", 1, 0, reinterpret_cast<sockaddr*>(&wakeAddress),
               sizeof wakeAddress);
    return FALSE;
}

std::string SocketError(int code)
{
    switch (code) {
    case WSAEADDRINUSE: return "address already in use";
    case WSAEADDRNOTAVAIL: return "address not available on this machine";
    case WSAEACCES: return "permission denied";
    default: return "socket error " + std::to_string(code);
    }
}

sockaddr_in ToSockaddr(const Endpoint& endpoint)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

void NonBlocking(SOCKET socket)
{
    u_long on = 1;
    ioctlsocket(socket, FIONBIO, &on);
}

class WinSockets : public Sockets {
public:
    ~WinSockets() override
    {
        SetConsoleCtrlHandler(OnConsoleControl, FALSE);
        closesocket(wakeSender);
        closesocket(wake);
        wakeSender = INVALID_SOCKET;
        WSACleanup();
    }

    bool Start(std::string& error)
    {
        WSADATA data;
        int code = WSAStartup(MAKEWORD(2, 2), &data);
        if (code != 0) {
            error = "cannot start Winsock: " + SocketError(code);
            return false;
        }
        wake = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        wakeSender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        wakeAddress = ToSockaddr({0x7F000001, 0});
        int size = sizeof wakeAddress;
        if (wake == INVALID_SOCKET || wakeSender == INVALID_SOCKET ||
            bind(wake, reinterpret_cast<sockaddr*>(&wakeAddress), sizeof wakeAddress) != 0 ||
            getsockname(wake, reinterpret_cast<sockaddr*>(&wakeAddress), &size) != 0) {
            error = "cannot make the loopback wake socket: " + SocketError(WSAGetLastError());
            return false;
        }
        NonBlocking(wake);
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
        return true;
    }

    SocketHandle Listen(const Endpoint& at, Endpoint& bound, std::string& error) override
    {
        SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (listener == INVALID_SOCKET) {
            error = "cannot make a socket: " + SocketError(WSAGetLastError());
            return NO_SOCKET;
        }
        // No other program may take the port over while we listen.
        BOOL on = TRUE;
        setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&on),
                   sizeof on);
        sockaddr_in address = ToSockaddr(at);
        int size = sizeof address;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener, 16) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            error = SocketError(WSAGetLastError());
            closesocket(listener);
            return NO_SOCKET;
        }
        NonBlocking(listener);
        bound = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
        return static_cast<SocketHandle>(listener);
    }

    SocketHandle Accept(SocketHandle listener, Endpoint& peer) override
    {
        sockaddr_in address = {};
        int size = sizeof address;
        SOCKET client =
            accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(&address), &size);
        if (client == INVALID_SOCKET)
            return NO_SOCKET;
        NonBlocking(client);
        BOOL on = TRUE;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&on), sizeof on);
        setsockopt(client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&SEND_BUFFER),
                   sizeof SEND_BUFFER);
        peer = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
        return static_cast<SocketHandle>(client);
    }

    long Receive(SocketHandle socket, char* buffer, size_t size) override
    {
        int got = recv(static_cast<SOCKET>(socket), buffer, static_cast<int>(size), 0);
        if (got >= 0)
            return got;
        return WSAGetLastError() == WSAEWOULDBLOCK ? RECEIVE_NONE : RECEIVE_FAILED;
    }

    long Send(SocketHandle socket, const char* data, size_t size) override
    {
        int sent = send(static_cast<SOCKET>(socket), data, static_cast<int>(size), 0);
        if (sent >= 0)
            return sent;
        return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    }

    void Close(SocketHandle socket) override { closesocket(static_cast<SOCKET>(socket)); }

    bool Wait(std::vector<WaitEntry>& entries, int64_t timeoutMs) override
    {
        fds.resize(entries.size() + 1);
        fds[0] = {wake, POLLRDNORM, 0};
        for (size_t i = 0; i < entries.size(); ++i) {
            const short events = static_cast<short>((entries[i].wantRead ? POLLRDNORM : 0) |
                                                    (entries[i].wantWrite ? POLLWRNORM : 0));
            fds[i + 1] = {static_cast<SOCKET>(entries[i].socket), events, 0};
        }
        int ready = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()),
                            timeoutMs < 0 ? -1 : static_cast<INT>(timeoutMs));
        for (size_t i = 0; i < entries.size(); ++i) {
            const short got = ready > 0 ? fds[i + 1].revents : short{0};
            entries[i].readable = (got & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0;
            entries[i].writable = (got & POLLWRNORM) != 0;
        }
        return ready > 0 && (fds[0].revents & POLLRDNORM) != 0;
    }

private:
    SOCKET wake = INVALID_SOCKET;
    std::vector<WSAPOLLFD> fds;
};

}  // namespace

std::unique_ptr<Sockets> MakeSystemSockets(std::string& error)
{
    auto sockets = std::make_unique<WinSockets>();
    if (!sockets->Start(error))
        return nullptr;
    return sockets;
}
