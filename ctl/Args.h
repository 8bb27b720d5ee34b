// The command line of zorvane-ctl.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class Command { Ports, Info, Channel, Power, Output, Sweep, Monitor, Serve };

struct SweepOptions {
    bool power = false;          // else channels
    std::optional<double> from;  // default: the module's whole range
    std::optional<double> to;
    std::optional<double> step;  // default: 1 channel or 1 dBm
    int64_t dwellMs = 0;
    long repeat = 1;  // 0: until Ctrl-C
};

struct ServeOptions {
    std::string listen = "127.0.0.1:5025";  // ADDR:PORT
    std::string allow;                      // ADDR[/BITS],... ("" lets every address in)
    long maxClients = 8;
    bool trace = false;
    bool vxi11 = true;
};

struct Options {
    Command command = Command::Ports;
    bool json = false;
    std::string port;         // -p: COM5, 5 or a device path
    int64_t timeoutMs = 200;  // per try, as long as the window's start-up tick
    double value = 0;         // channel N, power DBM
    bool on = false;          // output on|off
    SweepOptions sweep;
    int64_t durationMs = 0;  // monitor; 0: until Ctrl-C
    ServeOptions serve;
};

enum class Parsed { Run, Help, UsageError };

// Reads the arguments after the program name into options. Help: text is the help asked
// for. UsageError: text is a one-line reason.
Parsed ParseArgs(const std::vector<std::string>& args, Options& options, std::string& text);

// "COM5", "com5" or "5" with a number from 1 to 254.
bool ParsePortNumber(const std::string& text, int& number);
