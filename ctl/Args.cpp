#include "ctl/Args.h"
#include <cmath>
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

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
    "        [--no-vxi11]\n"
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
    "                   [--max-clients N] [--trace] [--no-vxi11]\n"
    "Reads the module's limits and settings as info does, then serves it as a SCPI\n"
    "instrument: lines of text over TCP (pyvisa: TCPIP::HOST::PORT::SOCKET, with\n"
    "read_termination '\\n'), and as the VXI-11 instrument inst0 (pyvisa:\n"
    "TCPIP::HOST::INSTR) found through the portmapper on port 111. --listen ADDR:PORT\n"
    "(default 127.0.0.1:5025) is where it listens; --allow takes the client addresses or\n"
    "networks let in (default: all); --max-clients N (1-64, default 8) clients at a time,\n"
    "connections and VXI-11 links together; --trace logs every command and frame with a\n"
    "time stamp on standard error; --no-vxi11 serves the raw socket alone. Ctrl-C stops\n"
    "it, with status 0.\n";

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

std::string OptionName(const std::string& arg)
{
    return arg.substr(0, arg.find('='));
}

// CLI11 finds the options and their values anywhere on the line; the rules of each value,
// and the messages, are ours.
class Parser {
public:
    Parser(const std::vector<std::string>& args, Options& options, std::string& error)
        : args(args), options(options), error(error)
    {
        app.set_help_flag();  // the help texts are ours
        app.allow_extras();   // unknown options are named by us
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.add_option("words", words);
        for (const char* name : {"-h,--help", "--json", "--trace", "--no-vxi11"})
            app.add_flag(name)->disable_flag_override();
        for (const char* name :
             {"-p,--port", "--timeout", "--dwell", "--duration", "--repeat", "--listen", "--allow",
              "--max-clients", "--from", "--to", "--step"})
            app.add_option(name);
    }

    bool Run()
    {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        try {
            app.parse(reversed);
        } catch (const CLI::ParseError&) {
            return Fail(ParseFailure());
        }
        if (!TakeExtras())
            return false;
        std::map<const CLI::Option*, size_t> taken;
        for (const CLI::Option* option : app.parse_order()) {
            if (option->get_name() == "words")
                continue;
            const std::string name = option->get_name();
            const std::string value =
                option->get_items_expected_max() == 0 ? "" : option->results()[taken[option]++];
            if (!Option(name, value))
                return false;
        }
        if (options.help && words.empty())
            return true;
        if (words.empty())
            return Fail("no command given");
        if (words[0] == "help") {
            options.help = true;
            words.erase(words.begin());
            if (words.empty())
                return true;
        }
        if (!FindCommand(words[0]))
            return Fail("unknown command '" + words[0] + "'");
        if (options.help)
            return true;
        return Positional(words) && Check();
    }

private:
    bool Fail(const std::string& reason)
    {
        error = reason;
        return false;
    }

    // CLI11 stops at a flag given a value, or at a last option that has none.
    std::string ParseFailure()
    {
        for (const std::string& arg : args) {
            const CLI::Option* option = app.get_option_no_throw(OptionName(arg));
            if (arg.find('=') != std::string::npos && option &&
                option->get_items_expected_max() == 0)
                return "option '" + OptionName(arg) + "' takes no value";
        }
        return "option '" + OptionName(args.back()) + "' needs a value";
    }

    // What CLI11 did not recognise: a number such as "-.5" is a word, anything else that
    // begins with '-' an unknown option.
    bool TakeExtras()
    {
        std::vector<std::string> extras;
        for (const std::string& extra : app.remaining()) {
            if (extra != "--")
                extras.push_back(extra);
        }
        bool ended = std::find(args.begin(), args.end(), "--") != args.end();
        for (const std::string& arg : ended ? extras : args) {
            // Short options stand alone: no "-p5", no "-hp".
            double number;
            bool shortOption = arg.size() > 2 && arg[0] == '-' && arg[1] != '-' && arg[2] != '=';
            if (!ParseDecimal(arg, number) && (shortOption || (!ended && IsWord(arg))))
                return Fail("unknown option '" + OptionName(arg) + "'");
        }
        for (const std::string& extra : extras) {
            double number;
            if (!ParseDecimal(extra, number))
                return Fail("unknown option '" + OptionName(extra) + "'");
        }
        if (extras.empty())
            return true;
        // Back into their places among the words.
        std::vector<std::string> ordered;
        size_t word = 0;
        size_t extra = 0;
        for (const std::string& arg : args) {
            if (extra < extras.size() && arg == extras[extra])
                ordered.push_back(extras[extra++]);
            else if (word < words.size() && arg == words[word])
                ordered.push_back(words[word++]);
        }
        words.swap(ordered);
        return true;
    }

    // A word that looks like an option: CLI11 lets "-1e3" through as a word.
    bool IsWord(const std::string& arg) const
    {
        return arg.size() > 1 && arg[0] == '-' &&
               std::find(words.begin(), words.end(), arg) != words.end();
    }

    bool FindCommand(const std::string& name)
    {
        for (const CommandName& entry : commandNames) {
            if (name == entry.name) {
                options.command = entry.command;
                return true;
            }
        }
        return false;
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

    bool Count(const std::string& name, const std::string& text, long long max, long& out)
    {
        long long count;
        long long min = name == "--repeat" ? 0 : 1;
        if (!ParseWhole(text, min, max, count))
            return Fail(name + " takes a whole number from " + std::to_string(min) + " to " +
                        std::to_string(max) + ", not '" + text + "'");
        out = static_cast<long>(count);
        return true;
    }

    // One option as CLI11 found it: its long name and, for an option with a value, the value.
    bool Option(const std::string& name, const std::string& value)
    {
        if (name == "--json") {
            options.json = true;
            return true;
        }
        if (name == "--help") {
            options.help = true;
            return true;
        }
        if (name == "--trace") {
            options.trace = true;
            return Only(name, Command::Serve);
        }
        if (name == "--no-vxi11") {
            options.vxi11 = false;
            return Only(name, Command::Serve);
        }
        if (value.empty())
            return Fail("option '" + (name == "--port" ? PortName() : name) + "' needs a value");
        if (name == "--port") {
            // CLI11 keeps the '=' of "-p=PORT".
            bool equals =
                value[0] == '=' && std::find(args.begin(), args.end(), "-p" + value) != args.end();
            options.port = equals ? value.substr(1) : value;
            if (options.port.empty())
                return Fail("option '-p' needs a value");
            return true;
        }
        if (name == "--timeout")
            return Milliseconds(name, value, 1, 60000, options.timeoutMs);
        if (name == "--dwell")
            return Milliseconds(name, value, 0, 3600000, options.dwellMs) &&
                   Only(name, Command::Sweep);
        if (name == "--duration")
            return Milliseconds(name, value, 1, 86400000, options.durationMs) &&
                   Only(name, Command::Monitor);
        if (name == "--repeat")
            return Count(name, value, 1000000, options.repeat) && Only(name, Command::Sweep);
        if (name == "--max-clients")
            return Count(name, value, 64, options.maxClients) && Only(name, Command::Serve);
        if (name == "--listen") {
            options.listen = value;
            return Only(name, Command::Serve);
        }
        if (name == "--allow") {
            options.allow = value;
            return Only(name, Command::Serve);
        }
        if (name == "--from")
            return Number(name, value, options.from, options.hasFrom) && Only(name, Command::Sweep);
        if (name == "--to")
            return Number(name, value, options.to, options.hasTo) && Only(name, Command::Sweep);
        return Number(name, value, options.step, options.hasStep) && Only(name, Command::Sweep);
    }

    // The port option as it was typed.
    std::string PortName() const
    {
        for (const std::string& arg : args) {
            if (arg == "-p" || OptionName(arg) == "-p")
                return "-p";
        }
        return "--port";
    }

    // Options of one command are checked once the command is known.
    bool Only(const std::string& name, Command command)
    {
        onlyFor.push_back({name, command});
        return true;
    }

    bool Positional(const std::vector<std::string>& given)
    {
        size_t expected = 1;
        switch (options.command) {
        case Command::Channel:
        case Command::Power:
        case Command::Output:
        case Command::Sweep: expected = 2; break;
        default: break;
        }
        if (given.size() < expected)
            return Fail(std::string(given[0]) + " needs a value (see zorvane-ctl " + given[0] +
                        " --help)");
        if (given.size() > expected)
            return Fail("unexpected argument '" + given[expected] + "'");
        if (expected == 1)
            return true;
        options.valueText = given[1];
        switch (options.command) {
        case Command::Channel:
        case Command::Power:
            if (!ParseDecimal(given[1], options.value))
                return Fail(given[0] + " takes a decimal number, not '" + given[1] + "'");
            return true;
        case Command::Output:
            if (given[1] == "on" || given[1] == "1")
                options.value = 1;
            else if (given[1] == "off" || given[1] == "0")
                options.value = 0;
            else
                return Fail("output takes on or off, not '" + given[1] + "'");
            return true;
        default:
            if (given[1] != "channel" && given[1] != "power")
                return Fail("sweep takes channel or power, not '" + given[1] + "'");
            options.sweepPower = given[1] == "power";
            return true;
        }
    }

    bool Check()
    {
        for (const auto& entry : onlyFor) {
            if (entry.second != options.command)
                return Fail("option '" + entry.first + "' belongs to another command");
        }
        if (options.command != Command::Ports && options.port.empty())
            return Fail("no port given (-p PORT)");
        if (options.hasStep && !(options.step > 0 && options.step <= 100000))
            return Fail("--step must be above 0 and at most 100000");
        if (options.hasStep && !options.sweepPower && options.step != std::trunc(options.step))
            return Fail("--step of a channel sweep takes a whole number");
        if (options.hasStep && options.sweepPower && options.step < 0.005)
            return Fail("--step of a power sweep takes at least 0.01 dBm");
        return true;
    }

    const std::vector<std::string>& args;
    Options& options;
    std::string& error;
    CLI::App app;
    std::vector<std::string> words;
    std::vector<std::pair<std::string, Command>> onlyFor;
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
