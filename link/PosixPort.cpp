// zorvane-ctl's port and clock on Linux: termios, and every wait in ppoll, which a Ctrl-C
// interrupts.
#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include "link/Port.h"

namespace {

volatile sig_atomic_t stopRequested = 0;
bool catchingStop = false;
sigset_t waitMask;  // while catching, SIGINT is blocked except inside the waits

void OnStop(int)
{
    stopRequested = 1;
}

// ppoll with a time-out in ms; a Ctrl-C counts as a time-out.
int Wait(pollfd* fds, nfds_t count, int64_t ms)
{
    timespec timeout = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    int ready = ppoll(fds, count, &timeout, catchingStop ? &waitMask : nullptr);
    return ready < 0 && errno == EINTR ? 0 : ready;
}

std::string SystemError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

std::vector<std::string> Glob(const char* pattern)
{
    std::vector<std::string> paths;
    glob_t found;
    if (glob(pattern, 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i)
            paths.push_back(found.gl_pathv[i]);
    }
    globfree(&found);
    return paths;
}

// A /dev/ttyS* with no UART behind it reports type 0 (unknown).
bool IsRealUart(const std::string& device)
{
    std::ifstream type("/sys/class/tty/" + device.substr(device.rfind('/') + 1) + "/type");
    int value = 0;
    return type >> value && value != 0;
}

class PosixPort final : public Port {
public:
    ~PosixPort() override { Close(); }

    std::vector<std::string> List() override
    {
        std::vector<std::string> ports = Glob("/dev/ttyUSB*");
        for (const char* pattern : {"/dev/ttyACM*", "/dev/ttyS*", "/dev/serial/by-id/*"}) {
            for (const std::string& path : Glob(pattern)) {
                if (std::strcmp(pattern, "/dev/ttyS*") != 0 || IsRealUart(path))
                    ports.push_back(path);
            }
        }
        return ports;
    }

    // As Wine and DOS number them: COM1 is /dev/ttyS0.
    std::string NumberedPath(int number) override
    {
        return "/dev/ttyS" + std::to_string(number - 1);
    }

    bool Open(const std::string& path, std::string& error) override
    {
        Close();
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            error = errno == ENOENT   ? "no such port"
                    : errno == EBUSY  ? "port busy"
                    : errno == EISDIR ? "not a serial port"
                                      : SystemError("cannot open");
            return false;
        }
        termios settings;
        if (tcgetattr(fd, &settings) != 0) {
            error = "not a serial port";
            Close();
            return false;
        }
        // Other serial programs take the same advisory lock; TIOCEXCL keeps out the rest.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
            error = errno == EWOULDBLOCK ? "port busy (another program has it open)"
                                         : SystemError("cannot lock");
            Close();
            return false;
        }
        cfmakeraw(&settings);
        settings.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        cfsetspeed(&settings, B9600);
        if (tcsetattr(fd, TCSANOW, &settings) != 0) {
            error = SystemError("cannot set 9600 8N1");
            Close();
            return false;
        }
        int lines = TIOCM_RTS | TIOCM_DTR;
        ioctl(fd, TIOCMBIS, &lines);  // a pseudo-terminal has no modem lines: not an error
        tcflush(fd, TCIOFLUSH);
        return true;
    }

    void Close() override
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }

    bool Discard(std::string& error) override
    {
        if (tcflush(fd, TCIFLUSH) == 0)
            return true;
        error = Lost();
        return false;
    }

    bool Write(const uint8_t* data, size_t size, std::string& error) override
    {
        while (size > 0) {
            ssize_t written = write(fd, data, size);
            if (written > 0) {
                data += written;
                size -= static_cast<size_t>(written);
                continue;
            }
            pollfd wanted = {fd, POLLOUT, 0};
            if (written < 0 && errno == EAGAIN && Wait(&wanted, 1, WRITE_TIMEOUT_MS) > 0)
                continue;
            error = written < 0 && errno != EAGAIN ? Lost() : "the port takes no more bytes";
            return false;
        }
        return true;
    }

    int Read(uint8_t* buffer, size_t size, int64_t timeoutMs, std::string& error) override
    {
        pollfd wanted = {fd, POLLIN, 0};
        int ready = Wait(&wanted, 1, timeoutMs);
        if (ready == 0)
            return 0;
        errno = 0;
        ssize_t got = ready > 0 ? read(fd, buffer, size) : -1;
        if (got > 0)
            return static_cast<int>(got);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return 0;
        // Read nothing from a ready port, or failed: the adapter or the far end has gone.
        error = Lost();
        return -1;
    }

private:
    static constexpr int64_t WRITE_TIMEOUT_MS = 1000;

    static std::string Lost()
    {
        return errno == EIO || errno == ENXIO || errno == ENODEV || errno == 0
                   ? "the port has gone (unplugged?)"
                   : SystemError("port failed");
    }

    int fd = -1;
};

class PosixClock : public ChronoClock {
public:
    void CatchStop() override
    {
        // Blocked outside the waits, so a Ctrl-C between a check and a wait is not lost.
        sigset_t interrupt;
        sigemptyset(&interrupt);
        sigaddset(&interrupt, SIGINT);
        sigprocmask(SIG_BLOCK, &interrupt, &waitMask);
        sigdelset(&waitMask, SIGINT);
        struct sigaction action = {};
        action.sa_handler = OnStop;
        sigaction(SIGINT, &action, nullptr);
        catchingStop = true;
    }

    bool StopRequested() override { return stopRequested != 0; }

    void Pause(int64_t ms) override
    {
        const int64_t end = NowMs() + ms;
        for (int64_t left = ms; left > 0 && !stopRequested; left = end - NowMs())
            Wait(nullptr, 0, left);
    }
};

}  // namespace

std::unique_ptr<Port> MakeSystemPort()
{
    return std::make_unique<PosixPort>();
}

std::unique_ptr<Clock> MakeSystemClock()
{
    return std::make_unique<PosixClock>();
}
