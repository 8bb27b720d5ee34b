// zorvane-sim: plays the laser module on a Linux pseudo-terminal, driven by commands on
// standard input. The module itself is SimModule; this file is the pty, the link, the
// log and the event loop.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include "sim/SimModule.h"

namespace {

const char usageText[] =
    "Usage: zorvane-sim [OPTION]...\n"
    "Plays the laser module on a new pseudo-terminal. Prints \"pty <path>\", then one log\n"
    "line per event: \"<seconds> RX|TX|DROP|CMD|ERR|PTY ...\".\n"
    "\n"
    "  --link PATH       place a symbolic link PATH -> the pty (an existing link is\n"
    "                    replaced); removed on exit and on unplug\n"
    "  --channels N      number of channels (default 96)\n"
    "  --first-freq GHZ  frequency of channel 1, 180000-245535 (default 191300)\n"
    "  --grid GHZ        channel spacing, -32768-32767 (default 50)\n"
    "  --power-min P     lowest power, 0.01 dBm (default 700)\n"
    "  --power-max P     highest power, 0.01 dBm (default 1300)\n"
    "  --channel N       channel at start (default 1)\n"
    "  --power P         power at start, 0.01 dBm (default 1000)\n"
    "  --output 0|1      output at start (default 1)\n"
    "  --log FILE        write the log lines to FILE instead of standard output\n"
    "  --pace            let bytes cross the line one at a time, 1.04 ms apart each\n"
    "                    way, as at 9600 baud (default: at once)\n"
    "  --help            show this text\n"
    "\n"
    "Commands on standard input, one per line:\n"
    "  mute CODE|all      stop answering that code (1-8)\n"
    "  unmute CODE|all    answer it again\n"
    "  skip CODE|all N    leave the next N frames of that code unanswered\n"
    "  delay MS           answer every frame MS ms late (0: at once)\n"
    "  corrupt N          the next N responses carry a wrong checksum\n"
    "  inject HEX...      write these raw bytes now\n"
    "  answer CODE        send a response of that code now, unasked\n"
    "  set FIELD VALUE    channels, first-freq, grid, power-min, power-max, channel,\n"
    "                     power or output (set frames are clamped, these are not)\n"
    "  unplug             close the pty and remove the link\n"
    "  plug               open a new pty and place the link again\n"
    "  quit               exit (as do SIGINT and SIGTERM; end of input does not)\n";

constexpr int EXIT_USAGE = 2;
constexpr int64_t REST_MS = 50;    // pause on a master that reports a hang-up
constexpr int64_t BYTE_US = 1042;  // one byte of 10 bits at 9600 baud

volatile sig_atomic_t stopRequested = 0;

void OnStopSignal(int)
{
    stopRequested = 1;
}

int64_t MonotonicUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// One direction of the line: each byte arrives one byte time after the one before it, or
// after it was handed over, whichever is later. With a byte time of 0, at once.
class LineDirection {
public:
    explicit LineDirection(int64_t byteUs) : byteUs(byteUs) {}

    void Push(const uint8_t* data, size_t size, int64_t nowUs)
    {
        for (size_t i = 0; i < size; ++i) {
            last = std::max(last, nowUs) + byteUs;
            bytes.push_back({last, data[i]});
        }
    }

    std::vector<uint8_t> TakeDue(int64_t nowUs)
    {
        std::vector<uint8_t> due;
        while (!bytes.empty() && bytes.front().first <= nowUs) {
            due.push_back(bytes.front().second);
            bytes.pop_front();
        }
        return due;
    }

    // When the next byte arrives, or -1.
    int64_t NextUs() const { return bytes.empty() ? -1 : bytes.front().first; }

    void Clear() { bytes.clear(); }

private:
    int64_t byteUs;
    int64_t last = 0;
    std::deque<std::pair<int64_t, uint8_t>> bytes;
};

// The earlier of two times, -1 standing for never.
int64_t Earlier(int64_t a, int64_t b)
{
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Log lines: seconds since start with three decimals, then the text.
class LogWriter {
public:
    FILE* out = stdout;

    void Line(int64_t ms, const std::string& text) const
    {
        std::fprintf(out, "%lld.%03lld %s\n", static_cast<long long>(ms / 1000),
                     static_cast<long long>(ms % 1000), text.c_str());
        std::fflush(out);
    }
};

// The master side of a pty. The program also holds the slave open, so that the master
// does not hang up each time the other end closes the port.
class Pty {
public:
    int master = -1;
    std::string path;

    bool IsOpen() const { return master >= 0; }

    bool Open(std::string& error)
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0) {
            error = SystemError("posix_openpt");
            return false;
        }
        char name[PATH_MAX];
        if (grantpt(master) != 0 || unlockpt(master) != 0 ||
            ptsname_r(master, name, sizeof name) != 0) {
            error = SystemError("pty set-up");
            Close();
            return false;
        }
        path = name;
        slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        termios settings;
        if (slave < 0 || tcgetattr(slave, &settings) != 0) {
            error = SystemError("opening " + path);
            Close();
            return false;
        }
        // Raw from the start: no echo of the program's frames, no translation of bytes.
        cfmakeraw(&settings);
        cfsetspeed(&settings, B9600);
        if (tcsetattr(slave, TCSANOW, &settings) != 0 ||
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
            error = SystemError("configuring " + path);
            Close();
            return false;
        }
        return true;
    }

    void Close()
    {
        if (slave >= 0)
            close(slave);
        if (master >= 0)
            close(master);
        slave = master = -1;
        path.clear();
    }

private:
    int slave = -1;
};

// Points link at target, replacing an existing symbolic link but nothing else.
bool PlaceLink(const std::string& link, const std::string& target, std::string& error)
{
    struct stat st;
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symbolic link";
        return false;
    }
    // Made aside and renamed over the old one, so the link never points nowhere.
    std::string aside = link + ".zorvane-sim-new";
    unlink(aside.c_str());
    if (symlink(target.c_str(), aside.c_str()) != 0) {
        error = SystemError("creating link " + aside);
        return false;
    }
    if (rename(aside.c_str(), link.c_str()) != 0) {
        error = SystemError("placing link " + link);
        unlink(aside.c_str());
        return false;
    }
    return true;
}

// Removes the link only while it still points at our pty: another process may own it now.
void RemoveLink(const std::string& link, const std::string& target)
{
    char buffer[PATH_MAX];
    ssize_t size = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (size >= 0 && std::string(buffer, static_cast<size_t>(size)) == target)
        unlink(link.c_str());
}

struct Options {
    SimSettings settings;
    std::string link;
    std::string logPath;
    bool pace = false;
};

// Returns -1 to go on, else the exit code.
int ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usageText, stdout);
            return 0;
        }
        if (arg == "--pace") {
            options.pace = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        std::string field = name.compare(0, 2, "--") == 0 ? name.substr(2) : "";
        if (field != "link" && field != "log" && !IsSimField(field)) {
            std::fprintf(stderr, "zorvane-sim: unknown option '%s'\nTry 'zorvane-sim --help'.\n",
                         arg.c_str());
            return EXIT_USAGE;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zorvane-sim: option '%s' needs a value\n", name.c_str());
                return EXIT_USAGE;
            }
            value = argv[++i];
        }
        std::string error;
        if (field == "link" || field == "log") {
            if (value.empty()) {
                std::fprintf(stderr, "zorvane-sim: option '%s' needs a value\n", name.c_str());
                return EXIT_USAGE;
            }
            (field == "link" ? options.link : options.logPath) = value;
        } else if (!SetSimField(options.settings, field, value, error)) {
            std::fprintf(stderr, "zorvane-sim: %s: %s\n", name.c_str(), error.c_str());
            return EXIT_USAGE;
        }
    }
    return -1;
}

class Simulator {
public:
    Simulator(const Options& options, const LogWriter& log, int64_t start)
        : link(options.link), log(log), start(start), toModel(options.pace ? BYTE_US : 0),
          toPort(options.pace ? BYTE_US : 0),
          model(options.settings,
                [this](int64_t ms, const std::string& line) { this->log.Line(ms, line); })
    {}

    // Opens the first pty and places the link; false with a message on failure.
    bool Start(std::string& error)
    {
        if (!Plug(error))
            return false;
        std::printf("pty %s\n", pty.path.c_str());
        std::fflush(stdout);
        return true;
    }

    void Run(const sigset_t& waitMask)
    {
        while (!stopRequested && !quit) {
            int64_t nowUs = NowUs();
            int64_t now = nowUs / 1000;
            if (pty.IsOpen()) {
                std::vector<uint8_t> arrived = toModel.TakeDue(nowUs);
                if (!arrived.empty())
                    model.Receive(arrived.data(), arrived.size(), now);
                WriteDue(nowUs);
            } else {
                Disconnect();  // nothing made while unplugged is ever sent
            }

            pollfd fds[2];
            nfds_t count = 0;
            if (stdinOpen)
                fds[count++] = {STDIN_FILENO, POLLIN, 0};
            int masterIndex = -1;
            if (pty.IsOpen() && now >= restUntil) {
                masterIndex = static_cast<int>(count);
                fds[count++] = {pty.master, POLLIN, 0};
            }
            int64_t due = model.NextDue();
            due = Earlier(due < 0 ? -1 : due * 1000, Earlier(toModel.NextUs(), toPort.NextUs()));
            if (pty.IsOpen() && now < restUntil)
                due = Earlier(due, restUntil * 1000);
            int64_t wait = due < 0 ? -1 : std::max<int64_t>(due - nowUs, 0);
            timespec timeout = {static_cast<time_t>(wait / 1000000),
                                static_cast<long>(wait % 1000000) * 1000};
            if (ppoll(fds, count, wait >= 0 ? &timeout : nullptr, &waitMask) < 0)
                continue;  // a signal: the loop condition decides
            if (masterIndex >= 0 && fds[masterIndex].revents != 0)
                ReadMaster();
            if (stdinOpen && fds[0].revents != 0)
                ReadCommands();
        }
    }

    void Stop()
    {
        if (pty.IsOpen())
            Unplug();
        if (quit)
            log.Line(Now(), "CMD quit");
    }

private:
    int64_t NowUs() const { return MonotonicUs() - start * 1000; }
    int64_t Now() const { return NowUs() / 1000; }

    void Disconnect()
    {
        model.Disconnect(Now());
        toModel.Clear();
        toPort.Clear();
    }

    bool Plug(std::string& error)
    {
        if (!pty.Open(error))
            return false;
        if (!link.empty() && !PlaceLink(link, pty.path, error)) {
            pty.Close();
            return false;
        }
        restUntil = 0;
        return true;
    }

    void Unplug()
    {
        Disconnect();
        if (!link.empty())
            RemoveLink(link, pty.path);
        pty.Close();
    }

    void WriteDue(int64_t nowUs)
    {
        std::vector<uint8_t> made = model.TakeDue(nowUs / 1000);
        toPort.Push(made.data(), made.size(), nowUs);
        std::vector<uint8_t> bytes = toPort.TakeDue(nowUs);
        if (bytes.empty())
            return;
        ssize_t written = write(pty.master, bytes.data(), bytes.size());
        if (written < static_cast<ssize_t>(bytes.size())) {
            // Only when nobody has read what was sent before: the line loses the bytes.
            size_t lost = bytes.size() - static_cast<size_t>(written < 0 ? 0 : written);
            std::fprintf(stderr, "zorvane-sim: %zu bytes not written to %s\n", lost,
                         pty.path.c_str());
        }
    }

    void ReadMaster()
    {
        uint8_t buffer[256];
        ssize_t size = read(pty.master, buffer, sizeof buffer);
        if (size > 0) {
            toModel.Push(buffer, static_cast<size_t>(size), NowUs());
        } else if (size == 0 || (errno != EAGAIN && errno != EINTR)) {
            // EIO or hang-up while no one holds the other end: wait rather than spin.
            restUntil = Now() + REST_MS;
        }
    }

    void ReadCommands()
    {
        char buffer[4096];
        ssize_t size = read(STDIN_FILENO, buffer, sizeof buffer);
        if (size <= 0) {
            if (size == 0 || (errno != EAGAIN && errno != EINTR))
                stdinOpen = false;  // end of input does not stop the module
            return;
        }
        pendingInput.append(buffer, static_cast<size_t>(size));
        size_t end;
        while (!quit && (end = pendingInput.find('\n')) != std::string::npos) {
            std::string line = pendingInput.substr(0, end);
            pendingInput.erase(0, end + 1);
            Command(line);
            if (pty.IsOpen())
                WriteDue(NowUs());  // an inject goes out before a later command can unplug
        }
    }

    void Command(const std::string& line)
    {
        int64_t now = Now();
        SimAction action = model.Execute(line, now);
        std::string error;
        switch (action) {
        case SimAction::None: break;
        case SimAction::Quit:
            quit = true;  // acknowledged once the link is gone
            break;
        case SimAction::Unplug:
            if (!pty.IsOpen()) {
                log.Line(now, "ERR \"unplug\": not plugged");
                break;
            }
            Unplug();
            log.Line(Now(), "CMD unplug");
            break;
        case SimAction::Plug:
            if (pty.IsOpen()) {
                log.Line(now, "ERR \"plug\": already plugged");
                break;
            }
            if (!Plug(error)) {
                log.Line(Now(), "ERR \"plug\": " + error);
                break;
            }
            log.Line(Now(), "CMD plug");
            log.Line(Now(), "PTY " + pty.path);
            break;
        }
    }

    std::string link;
    const LogWriter& log;
    int64_t start;
    LineDirection toModel;
    LineDirection toPort;
    SimModule model;
    Pty pty;
    int64_t restUntil = 0;
    bool stdinOpen = true;
    bool quit = false;
    std::string pendingInput;
};

}  // namespace

int main(int argc, char** argv)
{
    int64_t start = MonotonicUs() / 1000;
    Options options;
    int code = ParseOptions(argc, argv, options);
    if (code >= 0)
        return code;

    LogWriter log;
    if (!options.logPath.empty()) {
        log.out = std::fopen(options.logPath.c_str(), "w");
        if (!log.out) {
            std::fprintf(stderr, "zorvane-sim: %s\n",
                         SystemError("--log " + options.logPath).c_str());
            return EXIT_USAGE;
        }
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);

    // The stop signals are blocked except inside ppoll, so none is missed between checks.
    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator simulator(options, log, start);
    std::string error;
    if (!simulator.Start(error)) {
        std::fprintf(stderr, "zorvane-sim: %s\n", error.c_str());
        return 1;
    }
    simulator.Run(waitMask);
    simulator.Stop();
    if (log.out != stdout)
        std::fclose(log.out);
    return 0;
}
