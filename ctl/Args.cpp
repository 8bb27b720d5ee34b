#include "Args.h"
#include <cctype>
#include <cstdlib>

namespace {

const char programHelp[] =
    "Usage: zorvane-ctl [-p PORT] [--json] [--timeout MS] COMMAND [ARG]...\n"
    "Drives the Zorvane laser module on a serial port (9600 baud, 8N1).\n"
    "\n"
    "Commands:\n"
    "  ports            list the serial ports present\n"
    "  info             read and show the module's settings and limits\n"
    "  channel N        set the channel (clamped to 1..channel count)\n"
    "  power DBM        set the output power (clamped to the module's range)\n"
    "  output on|off    switch the laser output\n"
    "  sweep channel|power [--from X] [--to X] [--step X] [--dwell MS] [--repeat N]\n"
    "                   step through channels or powers, one line per confirmed step\n"
    "  monitor          show every frame received, decoded, until Ctrl-C\n"
    "  serve [--listen ADDR:PORT] [--allow ADDR[/BITS],...] [--max-clients N] [--trace]\n"
    "                   hold the port and serve the module as a SCPI instrument over TCP\n"
    "\n"
    "Options:\n"
    "  -p, --port PORT  COM5, 5 or a device path (on Linux COMn is /dev/ttyS<n-1>)\n"
    "  --json           one JSON object per result or step (JSON Lines)\n"
    "  --timeout MS     wait per try for an answer, 1-60000 (default 200); 3 tries\n"
    "  -h, --help       show this text; COMMAND --help shows the command's\n"
    "\n"
    "Exit status: 0 success, 2 usage or port error, 3 the module did not answer,\n"
    "4 the module refused a value or answered another one.\n";

const char portsHelp[] =
    "Usage: zorvane-ctl ports [--json]\n"
    "Lists the serial ports present, one a line: on Windows COM1 to COM254, on Linux\n"
    "/dev/ttyUSB*, /dev/ttyACM*, the /dev/ttyS* that are real ports and /dev/serial/by-id/*.\n";

const char infoHelp[] =
    "Usage: zorvane-ctl -p PORT info [--json]\n"
    "Asks the module for its limits and settings in the window's order (channel count,\n"
    "power max, power min, first frequency, grid, channel, power, output) and shows them.\n"
    "Each query is asked at most 3 times.\n";

const char channelHelp[] =
    "Usage: zorvane-ctl -p PORT channel N [--json]\n"
    "Reads the limits, sets the channel and shows the module's answer: channel, frequency,\n"
    "wavelength and ITU label. N is truncated to a whole number and clamped to 1..channel\n"
    "count as the window clamps a typed channel; a clamp is reported on standard error.\n";

const char powerHelp[] =
    "Usage: zorvane-ctl -p PORT power DBM [--json]\n"
    "Reads the limits, sets the output power and shows the module's answer. DBM times 100\n"
    "is truncated to 0.01 dBm and clamped to the module's range as the window clamps a\n"
    "typed power; a clamp is reported on standard error.\n";

const char outputHelp[] = "Usage: zorvane-ctl -p PORT output on|off [--json]\n"
                          "Switches the laser output and shows the module's answer.\n";

const char sweepHelp[] =
    "Usage: zorvane-ctl -p PORT sweep channel|power [--from X] [--to X] [--step X]\n"
    "                   [--dwell MS] [--repeat N] [--json]\n"
    "Sets each value from --from to --to (default: the module's whole range) in steps of\n"
    "--step (default 1 channel or 1 dBm), waits for the module's answer, prints one line\n"
    "with a time stamp per confirmed step, then waits --dwell MS (default 0). --repeat N\n"
    "runs the sweep N times (default 1; 0: until Ctrl-C). Ctrl-C ends the sweep after the\n"
    "current step, with status 0. Values are clamped as for channel and power.\n";

const char monitorHelp[] =
    "Usage: zorvane-ctl -p PORT monitor [--duration MS] [--json]\n"
    "Sends nothing; prints every response frame received, decoded, with a time stamp, and\n"
    "bytes that form no valid frame (found as the window's parser finds frames). Runs\n"
    "until Ctrl-C, or for --duration MS.\n";

const char serveHelp[] =
    "Usage: zorvane-ctl -p PORT serve [--listen ADDR:PORT] [--allow ADDR[/BITS],...]\n"
    "                   [--max-clients N] [--trace]\n"
    "Reads the module's limits and settings as info does, then serves it as a SCPI\n"
    "instrument: lines of text over TCP (pyvisa: TCPIP::HOST::PORT::SOCKET, with\n"
    "read_termination '\\n'). --listen ADDR:PORT (default 127.0.0.1:5025) is where it\n"
    "listens; --allow takes the client addresses or networks let in (default: all);\n"
    "--max-clients N (1-64, default 8) connections at a time; --trace logs every command\n"
    "and frame with a time stamp on standard error. Ctrl-C stops it, with status 0.\n";

struct CommandName {
    const char* name;
    Command command;
};

const CommandName commandNames[] = {
    {"ports", Command::Ports},     {"info", Command::Info},     {"channel", Command::Channel},
    {"power", Command::Power},     {"output", Command::Output}, {"sweep", Command::Sweep},
    {"monitor", Command::Monitor}, {"serve", Command::Serve},
};

bool ParseWhole(const std::string& text, long long min, long long max, long long& value)
{
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    if (text.size() > 12)
        return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return value >= min && value <= max;
}

// Parses the value of an option; false with a reason.
class Parser {
public:
    Parser(const std::vector<std::string>& args, Options& options, std::string& error)
        : args_(args), o_(options), error_(error)
    {}

    bool Run()
    {
        std::vector<std::string> positional;
        bool optionsEnded = false;
        for (i_ = 0; i_ < args_.size(); ++i_) {
            const std::string& arg = args_[i_];
            double number;
            if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-" ||
                ParseDecimal(arg, number)) {
                positional.push_back(arg);
            } else if (arg == "--") {
                optionsEnded = true;
            } else if (!Option(arg)) {
                return false;
            }
        }
        if (o_.help && positional.empty())
            return true;
        if (positional.empty())
            return Fail("no command given");
        if (positional[0] == "help") {
            o_.help = true;
            positional.erase(positional.begin());
            if (positional.empty())
                return true;
        }
        if (!FindCommand(positional[0]))
            return Fail("unknown command '" + positional[0] + "'");
        if (o_.help)
            return true;
        return Positional(positional) && Check();
    }

private:
    bool Fail(const std::string& reason)
    {
        error_ = reason;
        return false;
    }

    bool FindCommand(const std::string& name)
    {
        for (const CommandName& entry : commandNames) {
            if (name == entry.name) {
                o_.command = entry.command;
                return true;
            }
        }
        return false;
    }

    // The value of an option: after '=' or the next argument.
    bool Value(const std::string& arg, const std::string& name, std::string& value)
    {
        size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i_ + 1 < args_.size()) {
            value = args_[++i_];
        } else {
            return Fail("option '" + name + "' needs a value");
        }
        if (value.empty())
            return Fail("option '" + name + "' needs a value");
        return true;
    }

    bool Milliseconds(const std::string& name, const std::string& text, long long min,
                      long long max, int64_t& out)
    {
        long long value;
        if (!ParseWhole(text, min, max, value))
            return Fail(name + " takes a whole number of ms from " + std::to_string(min) + " to " +
                        std::to_string(max) + ", not '" + text + "'");
        out = value;
        return true;
    }

    bool Number(const std::string& name, const std::string& text, double& out, bool& given)
    {
        if (!ParseDecimal(text, out))
            return Fail(name + " takes a decimal number, not '" + text + "'");
        given = true;
        return true;
    }

    bool Option(const std::string& arg)
    {
        std::string name = arg.substr(0, arg.find('='));
        bool hasEquals = name.size() != arg.size();
        if ((name == "--json" || name == "--help" || name == "-h" || name == "--trace") &&
            hasEquals)
            return Fail("option '" + name + "' takes no value");
        if (name == "--json") {
            o_.json = true;
            return true;
        }
        if (name == "--help" || name == "-h") {
            o_.help = true;
            return true;
        }
        std::string value;
        if (name == "-p" || name == "--port") {
            if (!Value(arg, name, value))
                return false;
            o_.port = value;
            return true;
        }
        if (name == "--timeout")
            return Value(arg, name, value) && Milliseconds(name, value, 1, 60000, o_.timeoutMs);
        if (name == "--dwell")
            return Value(arg, name, value) && Milliseconds(name, value, 0, 3600000, o_.dwellMs) &&
                   Only(name, Command::Sweep);
        if (name == "--duration")
            return Value(arg, name, value) &&
                   Milliseconds(name, value, 1, 86400000, o_.durationMs) &&
                   Only(name, Command::Monitor);
        if (name == "--repeat") {
            long long count;
            if (!Value(arg, name, value))
                return false;
            if (!ParseWhole(value, 0, 1000000, count))
                return Fail("--repeat takes a whole number from 0 to 1000000, not '" + value + "'");
            o_.repeat = static_cast<long>(count);
            return Only(name, Command::Sweep);
        }
        if (name == "--trace") {
            o_.trace = true;
            return Only(name, Command::Serve);
        }
        if (name == "--listen")
            return Value(arg, name, o_.listen) && Only(name, Command::Serve);
        if (name == "--allow")
            return Value(arg, name, o_.allow) && Only(name, Command::Serve);
        if (name == "--max-clients") {
            long long count;
            if (!Value(arg, name, value))
                return false;
            if (!ParseWhole(value, 1, 64, count))
                return Fail("--max-clients takes a whole number from 1 to 64, not '" + value + "'");
            o_.maxClients = static_cast<long>(count);
            return Only(name, Command::Serve);
        }
        if (name == "--from")
            return Value(arg, name, value) && Number(name, value, o_.from, o_.hasFrom) &&
                   Only(name, Command::Sweep);
        if (name == "--to")
            return Value(arg, name, value) && Number(name, value, o_.to, o_.hasTo) &&
                   Only(name, Command::Sweep);
        if (name == "--step")
            return Value(arg, name, value) && Number(name, value, o_.step, o_.hasStep) &&
                   Only(name, Command::Sweep);
        return Fail("unknown option '" + name + "'");
    }

    // Options of one command are checked once the command is known.
    bool Only(const std::string& name, Command command)
    {
        onlyFor_.push_back({name, command});
        return true;
    }

    bool Positional(const std::vector<std::string>& words)
    {
        size_t expected = 1;
        switch (o_.command) {
        case Command::Channel:
        case Command::Power:
        case Command::Output:
        case Command::Sweep: expected = 2; break;
        default: break;
        }
        if (words.size() < expected)
            return Fail(std::string(words[0]) + " needs a value (see zorvane-ctl " + words[0] +
                        " --help)");
        if (words.size() > expected)
            return Fail("unexpected argument '" + words[expected] + "'");
        if (expected == 1)
            return true;
        o_.valueText = words[1];
        switch (o_.command) {
        case Command::Channel:
        case Command::Power:
            if (!ParseDecimal(words[1], o_.value))
                return Fail(words[0] + " takes a decimal number, not '" + words[1] + "'");
            return true;
        case Command::Output:
            if (words[1] == "on" || words[1] == "1")
                o_.value = 1;
            else if (words[1] == "off" || words[1] == "0")
                o_.value = 0;
            else
                return Fail("output takes on or off, not '" + words[1] + "'");
            return true;
        default:
            if (words[1] != "channel" && words[1] != "power")
                return Fail("sweep takes channel or power, not '" + words[1] + "'");
            o_.sweepPower = words[1] == "power";
            return true;
        }
    }

    bool Check()
    {
        for (const auto& entry : onlyFor_) {
            if (entry.second != o_.command)
                return Fail("option '" + entry.first + "' belongs to another command");
        }
        if (o_.command != Command::Ports && o_.port.empty())
            return Fail("no port given (-p PORT)");
        if (o_.hasStep && !(o_.step > 0 && o_.step <= 100000))
            return Fail("--step must be above 0 and at most 100000");
        // NOLINTNEXTLINE(bugprone-narrowing-conversions): at most 100000 here, exact as a double
        if (o_.hasStep && !o_.sweepPower && o_.step != static_cast<long>(o_.step))
            return Fail("--step of a channel sweep takes a whole number");
        if (o_.hasStep && o_.sweepPower && o_.step < 0.005)
            return Fail("--step of a power sweep takes at least 0.01 dBm");
        return true;
    }

    const std::vector<std::string>& args_;
    Options& o_;
    std::string& error_;
    size_t i_ = 0;
    std::vector<std::pair<std::string, Command>> onlyFor_;
};

}  // namespace

bool ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error)
{
    return Parser(args, options, error).Run();
}

const char* HelpText(Command command)
{
    switch (command) {
    case Command::Ports: return portsHelp;
    case Command::Info: return infoHelp;
    case Command::Channel: return channelHelp;
    case Command::Power: return powerHelp;
    case Command::Output: return outputHelp;
    case Command::Sweep: return sweepHelp;
    case Command::Monitor: return monitorHelp;
    case Command::Serve: return serveHelp;
    default: return programHelp;
    }
}

bool ParseDecimal(const std::string& text, double& value)
{
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])))
            ++digits;
        else if (text[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    if (digits == 0 || digits > 40)
        return false;
    value = std::strtod(text.c_str(), nullptr);
    return true;
}

bool ParsePortNumber(const std::string& text, int& number)
{
    std::string digits = text;
    if (digits.size() > 3 && std::toupper(static_cast<unsigned char>(digits[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(digits[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(digits[2])) == 'M')
        digits.erase(0, 3);
    long long value;
    if (!ParseWhole(digits, 1, 254, value))
        return false;
    number = static_cast<int>(value);
    return true;
}
