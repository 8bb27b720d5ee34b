#include "ctl/Args.h"
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <tuple>

namespace {

const char footer[] =
    "COMMAND --help shows the help of a command, --help-all of them all.\n\n"
    "Exit status: 0 success, 2 usage or port error, 3 the module did not answer,\n"
    "4 the module refused a value or answered another one.";

const char sharedOptions[] =
    "-p PORT, --json and --timeout MS (see zorvane-ctl --help) go before or after the command.";

bool Digits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Optional sign, digits, optional point and digits: none of the exponents, hex, infinity or
// NaN that a conversion would take as well.
bool IsDecimal(const std::string& text)
{
    std::string digits = text.substr(!text.empty() && (text[0] == '-' || text[0] == '+'));
    size_t point = digits.find('.');
    if (point != std::string::npos)
        digits.erase(point, 1);
    return Digits(digits) && digits.size() <= 40;
}

const CLI::Validator decimal(
    [](const std::string& text) {
        return IsDecimal(text) ? std::string() : "'" + text + "' is not a decimal number";
    },
    "");

// Digits only. Leading zeros go, so that "010" is never read as octal.
const CLI::Validator whole(
    [](std::string& text) {
        if (!Digits(text))
            return "'" + text + "' is not a whole number";
        text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
        return std::string();
    },
    "");

// A device path has a slash or backslash: another bare word is a mistake, not a port.
const CLI::Validator portName(
    [](const std::string& text) {
        int number;
        if (ParsePortNumber(text, number) || text.find_first_of("/\\") != std::string::npos)
            return std::string();
        return "'" + text + "' is neither COM1 to COM254, 1 to 254 nor a device path";
    },
    "");

// Milliseconds and counts: digits within a range.
CLI::Option* Whole(CLI::Option* option, const char* type, int min, int max)
{
    return option->type_name(type)->transform(whole)->check(CLI::Range(min, max));
}

void CheckStep(const SweepOptions& sweep)
{
    if (!sweep.step)
        return;
    const double step = *sweep.step;
    if (!(step > 0 && step <= 100000))
        throw CLI::ValidationError("--step", "must be above 0 and at most 100000");
    if (!sweep.power && step != std::trunc(step))
        throw CLI::ValidationError("--step", "a channel sweep takes a whole number");
    if (sweep.power && step < 0.005)
        throw CLI::ValidationError("--step", "a power sweep takes at least 0.01 dBm");
}

}  // namespace

Parsed ParseArgs(const std::vector<std::string>& args, Options& options, std::string& text)
{
    CLI::App app("Drives the Zorvane laser module on a serial port (9600 baud, 8N1).",
                 "zorvane-ctl");
    app.footer(footer);
    app.require_subcommand(1);
    app.fallthrough();  // the shared options also after the command
    app.group("Commands");
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.get_formatter()->column_width(24);

    CLI::Option* port = app.add_option("-p,--port", options.port,
                                       "COM5, 5 or a device path (on Linux COMn is /dev/ttyS<n-1>)")
                            ->type_name("PORT")
                            ->check(portName);
    app.add_flag("--json", options.json, "one JSON object per result or step (JSON Lines)");
    Whole(app.add_option("--timeout", options.timeoutMs, "wait per try for an answer; 3 tries"),
          "MS", 1, 60000)
        ->capture_default_str();

    std::vector<std::string> names;
    auto command = [&](const char* name, Command id, const char* summary, const char* more) {
        names.push_back(name);
        CLI::App* sub = app.add_subcommand(name, summary);
        sub->footer(std::string(more) + "\n" + sharedOptions);
        sub->preparse_callback([&options, id](size_t) { options.command = id; });
        if (id != Command::Ports)
            sub->needs(port);
        return sub;
    };

    command("ports", Command::Ports, "list the serial ports present",
            "One a line: on Windows COM1 to COM254, on Linux /dev/ttyUSB*, /dev/ttyACM*, the\n"
            "/dev/ttyS* that are real ports and /dev/serial/by-id/*.");
    command("info", Command::Info, "read and show the module's settings and limits",
            "Asks in the window's order (channel count, power max, power min, first frequency,\n"
            "grid, channel, power, output), each query at most 3 times.");
    command("channel", Command::Channel, "set the channel (clamped to 1..channel count)",
            "Reads the limits, sets the channel and shows the module's answer: channel,\n"
            "frequency, wavelength and ITU label. N is truncated to a whole number and clamped\n"
            "as the window clamps a typed channel; a clamp is reported on standard error.")
        ->add_option("N", options.value, "the channel, a decimal number")
        ->required()
        ->check(decimal);
    command("power", Command::Power, "set the output power (clamped to the module's range)",
            "Reads the limits, sets the output power and shows the module's answer. DBM times\n"
            "100 is truncated to 0.01 dBm and clamped to the module's range as the window\n"
            "clamps a typed power; a clamp is reported on standard error.")
        ->add_option("DBM", options.value, "the power in dBm, a decimal number")
        ->required()
        ->check(decimal);
    command("output", Command::Output, "switch the laser output",
            "Switches the laser output and shows the module's answer.")
        ->add_option("on|off", options.on, "on (or 1), off (or 0)")
        ->required()
        ->check(CLI::IsMember({"on", "off", "1", "0"}));

    SweepOptions& sweep = options.sweep;
    std::string kind;
    CLI::App* sweeping = command(
        "sweep", Command::Sweep, "step through channels or powers, one line per confirmed step",
        "Sets each value from --from to --to in steps of --step, waits for the module's answer\n"
        "and prints one line with a time stamp per confirmed step, then waits --dwell MS.\n"
        "Ctrl-C ends the sweep after the current step, with status 0. Values are clamped as\n"
        "for channel and power.");
    sweeping->add_option("channel|power", kind, "what to step through")
        ->required()
        ->check(CLI::IsMember({"channel", "power"}));
    for (auto [name, value, what] :
         {std::tuple{"--from", &sweep.from, "the first value (default: the range's first)"},
          std::tuple{"--to", &sweep.to, "the last value (default: the range's last)"},
          std::tuple{"--step", &sweep.step, "the step (default: 1 channel or 1 dBm)"}})
        sweeping->add_option(name, *value, what)->type_name("X")->check(decimal);
    Whole(sweeping->add_option("--dwell", sweep.dwellMs, "wait after each step"), "MS", 0, 3600000)
        ->capture_default_str();
    Whole(sweeping->add_option("--repeat", sweep.repeat, "passes (0: until Ctrl-C)"), "N", 0,
          1000000)
        ->capture_default_str();
    sweeping->callback([&sweep, &kind] {
        sweep.power = kind == "power";
        CheckStep(sweep);
    });

    Whole(command("monitor", Command::Monitor, "show every frame received, decoded, until Ctrl-C",
                  "Sends nothing; prints every response frame received, decoded, with a time\n"
                  "stamp, and bytes that form no valid frame (found as the window's parser finds\n"
                  "frames).")
              ->add_option("--duration", options.durationMs, "stop after this time"),
          "MS", 1, 86400000);

    ServeOptions& serve = options.serve;
    CLI::App* serving = command(
        "serve", Command::Serve, "hold the port and serve the module as a SCPI instrument over TCP",
        "Reads the module's limits and settings as info does, then serves it as a SCPI\n"
        "instrument: lines of text over TCP (pyvisa: TCPIP::HOST::PORT::SOCKET, with\n"
        "read_termination '\\n'), as the VXI-11 instrument inst0 (pyvisa: TCPIP::HOST::INSTR)\n"
        "found through the portmapper on port 111, and as a page for browsers with the LXI\n"
        "identification at /lxi/identification, read-only unless a password is given.\n"
        "Ctrl-C stops it, with status 0.");
    serving->add_option("--listen", serve.listen, "where it listens")
        ->type_name("ADDR:PORT")
        ->capture_default_str();
    serving->add_option("--allow", serve.allow, "the clients let in (default: all)")
        ->type_name("ADDR[/BITS],...");
    Whole(serving->add_option("--max-clients", serve.maxClients,
                              "clients at a time, connections and VXI-11 links together"),
          "N", 1, 64)
        ->capture_default_str();
    serving->add_flag("--trace", serve.trace,
                      "log every command and frame with a time stamp on standard error");
    serving->add_flag_callback(
        "--no-vxi11", [&serve] { serve.vxi11 = false; }, "the raw socket alone, without VXI-11");
    CLI::Option* noHttp = serving->add_flag("--no-http", serve.noHttp, "no page for browsers");
    serving
        ->add_option("--http", serve.http,
                     "the browser door (default: the --listen address, port 80)")
        ->type_name("ADDR:PORT")
        ->excludes(noHttp);
    serving
        ->add_option("--web-password-file", serve.webPasswordFile,
                     "the password that lets browsers drive the laser (else the environment's "
                     "ZORVANE_WEB_PASSWORD; without either, the page is read-only)")
        ->type_name("FILE");

    std::string topic;
    CLI::App* help = app.add_subcommand("help", "show the help of COMMAND");
    help->add_option("COMMAND", topic)->check(CLI::IsMember(names));
    // Set after the commands, which would otherwise each list it.
    app.set_help_all_flag("--help-all", "Print the help of every command and exit");

    // CLI11 reads "-.5" as the short option "-.": the number goes with its zero.
    std::vector<std::string> reversed;
    for (auto arg = args.rbegin(); arg != args.rend(); ++arg)
        reversed.push_back(arg->rfind("-.", 0) == 0 && IsDecimal(*arg) ? "-0" + arg->substr(1)
                                                                       : *arg);
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        text = app.help();
        return Parsed::Help;
    } catch (const CLI::CallForAllHelp&) {
        text = app.help("", CLI::AppFormatMode::All);
        return Parsed::Help;
    } catch (const CLI::ParseError& error) {
        // CLI11 names the words it did not take last first, and not at all when what is
        // missing is a command (or a value): the word is likely a misspelt one.
        std::vector<std::string> extras = app.remaining();
        std::reverse(extras.begin(), extras.end());
        const bool hidden = dynamic_cast<const CLI::ExtrasError*>(&error) ||
                            dynamic_cast<const CLI::RequiredError*>(&error);
        text = hidden && !extras.empty() ? CLI::ExtrasError(extras).what() : error.what();
        return Parsed::UsageError;
    }
    if (help->parsed()) {
        text = topic.empty() ? app.get_formatter()->make_help(&app, app.get_name(),
                                                              CLI::AppFormatMode::Normal)
                             : app.get_subcommand(topic)->help(app.get_name());
        return Parsed::Help;
    }
    return Parsed::Run;
}

bool ParsePortNumber(const std::string& text, int& number)
{
    std::string digits = text;
    if (digits.size() > 3 && std::toupper(static_cast<unsigned char>(digits[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(digits[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(digits[2])) == 'M')
        digits.erase(0, 3);
    if (!Digits(digits) || digits.size() > 3)
        return false;
    number = std::stoi(digits);
    return number >= 1 && number <= 254;
}
