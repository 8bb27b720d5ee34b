// The server's sockets on Linux. Ctrl-C is blocked outside the waits (Clock::CatchStop), and
// ppoll lets it in for the wait only, so it always ends the wait and is never lost.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include "net/Sockets.h"

namespace {

constexpr int SEND_BUFFER = 64 * 1024;  // fixed, so a client that never reads holds little

sockaddr_in ToSockaddr(const Endpoint& endpoint)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

Endpoint FromSockaddr(const sockaddr_in& address)
{
    return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

class PosixSockets : public Sockets {
public:
    SocketHandle Listen(const Endpoint& at, Endpoint& bound, std::string& error) override
    {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = std::string("cannot make a socket: ") + std::strerror(errno);
            return NO_SOCKET;
        }
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // a restart finds it free
        sockaddr_in address = ToSockaddr(at);
        socklen_t size = sizeof address;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd, 16) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            error = std::strerror(errno);
            close(fd);
            return NO_SOCKET;
        }
        bound = FromSockaddr(address);
        return fd;
    }

    SocketHandle Accept(SocketHandle listener, Endpoint& peer) override
    {
        sockaddr_in address = {};
        socklen_t size = sizeof address;
        int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&address), &size,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return NO_SOCKET;
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &SEND_BUFFER, sizeof SEND_BUFFER);
        peer = FromSockaddr(address);
        return fd;
    }

    long Receive(SocketHandle socket, char* buffer, size_t size) override
    {
        ssize_t got = recv(static_cast<int>(socket), buffer, size, 0);
        if (got >= 0)
            return static_cast<long>(got);
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? RECEIVE_NONE
                                                                         : RECEIVE_FAILED;
    }

    long Send(SocketHandle socket, const char* data, size_t size) override
    {
        // MSG_NOSIGNAL: a client gone mid-reply must not raise SIGPIPE and end the server.
        ssize_t sent = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<long>(sent);
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    }

    void Close(SocketHandle socket) override { close(static_cast<int>(socket)); }

    bool Wait(std::vector<WaitEntry>& entries, int64_t timeoutMs) override
    {
        fds.resize(entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            const short events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) |
                                                    (entries[i].wantWrite ? POLLOUT : 0));
            fds[i] = {static_cast<int>(entries[i].socket), events, 0};
        }
        sigset_t mask;
        sigprocmask(SIG_BLOCK, nullptr, &mask);
        sigdelset(&mask, SIGINT);
        timespec timeout = {static_cast<time_t>(timeoutMs / 1000),
                            static_cast<long>(timeoutMs % 1000) * 1000000};
        int ready = ppoll(fds.data(), fds.size(), timeoutMs < 0 ? nullptr : &timeout, &mask);
        for (size_t i = 0; i < entries.size(); ++i) {
            const short got = ready > 0 ? fds[i].revents : short{0};
            entries[i].readable = (got & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
            entries[i].writable = (got & POLLOUT) != 0;
        }
        // The caller asks the clock whether that was Ctrl-C.
        return false;
    }

private:
    std::vector<pollfd> fds;
};

}  // namespace

std::unique_ptr<Sockets> MakeSystemSockets(std::string&)
{
    return std::make_unique<PosixSockets>();
}
