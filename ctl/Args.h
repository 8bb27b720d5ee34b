// The command line of zorvane-ctl.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class Command { None, Ports, Info, Channel, Power, Output, Sweep, Monitor, Serve };

struct Options {
    Command command = Command::None;
    bool help = false;
    bool json = false;
    std::string port;         // -p: COM5, 5 or a device path
    int64_t timeoutMs = 200;  // per try, as long as the window's start-up tick
    double value = 0;         // channel N, power DBM; output: 1 on, 0 off
    std::string valueText;    // as typed, for messages

    // sweep
    bool sweepPower = false;  // else channels
    bool hasFrom = false;
    bool hasTo = false;
    bool hasStep = false;
    double from = 0;
    double to = 0;
    double step = 0;
    int64_t dwellMs = 0;
    long repeat = 1;  // 0: until Ctrl-C

    // monitor
    int64_t durationMs = 0;  // 0: until Ctrl-C

    // serve
    std::string listen = "127.0.0.1:5025";  // ADDR:PORT
    std::string allow;                      // ADDR[/BITS],... ("" lets every address in)
    long maxClients = 8;
    bool trace = false;
    bool vxi11 = true;
};

// Fills options from the arguments after the program name. On a usage error returns
// false with a one-line reason.
bool ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error);

// The help of a command (Command::None: of the program).
const char* HelpText(Command command);

// A decimal number as typed: optional sign, digits, optional point and digits. No
// exponent, hex, infinity or NaN.
bool ParseDecimal(const std::string& text, double& value);

// "COM5", "com5" or "5" with a number from 1 to 254.
bool ParsePortNumber(const std::string& text, int& number);
