// The command line: what is accepted and where each value lands, the help, and a one-line
// reason for what is not accepted.
#include <gtest/gtest.h>
#include "ctl/Args.h"

namespace {

Options Accepted(const std::vector<std::string>& args)
{
    Options options;
    std::string text;
    EXPECT_EQ(ParseArgs(args, options, text), Parsed::Run) << text;
    return options;
}

std::string Refused(const std::vector<std::string>& args)
{
    Options options;
    std::string text;
    EXPECT_EQ(ParseArgs(args, options, text), Parsed::UsageError) << args.back();
    return text;
}

std::string Help(const std::vector<std::string>& args)
{
    Options options;
    std::string text;
    EXPECT_EQ(ParseArgs(args, options, text), Parsed::Help) << text;
    return text;
}

TEST(ArgsTest, SharedOptionsGoBeforeOrAfterTheCommand)
{
    Options o = Accepted({"-p", "COM3", "--json", "sweep", "power", "--from", "-1", "--to=8",
                          "--step", ".25", "--dwell", "0", "--repeat", "0", "--timeout", "50"});
    EXPECT_EQ(o.command, Command::Sweep);
    EXPECT_TRUE(o.json && o.sweep.power);
    EXPECT_EQ(o.port, "COM3");
    EXPECT_EQ(o.timeoutMs, 50);
    EXPECT_EQ(o.sweep.from, -1.0);
    EXPECT_EQ(o.sweep.to, 8.0);
    EXPECT_EQ(o.sweep.step, 0.25);
    EXPECT_EQ(o.sweep.repeat, 0);

    o = Accepted({"sweep", "--json", "channel", "-p", "/dev/ttyUSB0"});
    EXPECT_TRUE(o.json && !o.sweep.power);
    EXPECT_EQ(o.port, "/dev/ttyUSB0");
    EXPECT_FALSE(o.sweep.from || o.sweep.to || o.sweep.step);  // the module's whole range
    EXPECT_EQ(o.sweep.repeat, 1);
    EXPECT_EQ(o.timeoutMs, 200);

    o = Accepted({"-p", "5", "serve", "--listen", "0.0.0.0:5025", "--allow", "10.0.0.0/8",
                  "--max-clients", "2", "--trace"});
    EXPECT_EQ(o.command, Command::Serve);
    EXPECT_EQ(o.serve.listen, "0.0.0.0:5025");
    EXPECT_EQ(o.serve.allow, "10.0.0.0/8");
    EXPECT_EQ(o.serve.maxClients, 2);
    EXPECT_TRUE(o.serve.trace);
    EXPECT_TRUE(o.serve.vxi11);
    o = Accepted({"-p", "5", "serve"});
    EXPECT_EQ(o.serve.listen, "127.0.0.1:5025");
    EXPECT_EQ(o.serve.maxClients, 8);
    EXPECT_EQ(o.serve.http, "");  // the browser door on the --listen address, port 80
    EXPECT_FALSE(o.serve.noHttp);
    o = Accepted({"-p", "5", "serve", "--http", "0.0.0.0:8080", "--web-password-file", "pw"});
    EXPECT_EQ(o.serve.http, "0.0.0.0:8080");
    EXPECT_EQ(o.serve.webPasswordFile, "pw");
    EXPECT_TRUE(Accepted({"-p", "5", "serve", "--no-http"}).serve.noHttp);
    EXPECT_FALSE(Accepted({"serve", "--no-vxi11", "-p", "5"}).serve.vxi11);

    EXPECT_EQ(Accepted({"ports"}).command, Command::Ports);  // the only command without a port
    EXPECT_EQ(Accepted({"-p", "1", "monitor", "--duration", "100"}).durationMs, 100);
}

TEST(ArgsTest, ValuesAsTyped)
{
    // Numbers that begin with a minus are values, not options.
    for (auto [text, value] : {std::pair<const char*, double>{"-3.5", -3.5},
                               {"-.5", -0.5},
                               {"+4", 4},
                               {"5.", 5},
                               {"007", 7}})
        EXPECT_EQ(Accepted({"-p", "1", "power", text}).value, value) << text;
    EXPECT_EQ(Accepted({"-p", "1", "channel", "--", "-.5"}).value, -0.5);
    EXPECT_EQ(Accepted({"-p", "1", "sweep", "power", "--from", "-.5"}).sweep.from, -0.5);
    for (const char* text : {"1e3", "-1e3", "0x10", "inf", "nan", ".", "-", "1.2.3", "--1", " 5"})
        EXPECT_NE(Refused({"-p", "1", "sweep", "power", "--to", text}).find("is not a decimal"),
                  std::string::npos)
            << text;
    EXPECT_NE(Refused({"-p", "1", "power", "-1e3"}).find("'-1e3' is not a decimal"),
              std::string::npos);

    // Whole numbers are decimal digits, never octal or hex.
    EXPECT_EQ(Accepted({"-p", "1", "info", "--timeout", "010"}).timeoutMs, 10);
    EXPECT_EQ(Accepted({"-p", "1", "info", "--timeout", "60000"}).timeoutMs, 60000);
    for (const char* text : {"0x10", "-5", "1.5", "true", ""})
        EXPECT_NE(Refused({"-p", "1", "info", "--timeout", text}).find("is not a whole number"),
                  std::string::npos)
            << text;

    for (auto [text, on] :
         {std::pair<const char*, bool>{"on", true}, {"1", true}, {"off", false}, {"0", false}}) {
        Options o;
        o.on = !on;
        std::string error;
        ASSERT_EQ(ParseArgs({"-p", "1", "output", text}, o, error), Parsed::Run) << text;
        EXPECT_EQ(o.on, on) << text;
    }
}

TEST(ArgsTest, HelpNeedsNoPortAndListsEverything)
{
    const std::string all = Help({"--help"});
    for (const char* name : {"ports", "info", "channel", "power", "output", "sweep", "monitor",
                             "serve", "--port", "--json", "--timeout", "Exit status: 0 success"})
        EXPECT_NE(all.find(name), std::string::npos) << name;
    EXPECT_EQ(Help({"help"}), all);

    const std::string sweep = Help({"sweep", "--help"});
    EXPECT_NE(sweep.find("Usage: zorvane-ctl sweep"), std::string::npos) << sweep;
    EXPECT_NE(sweep.find("--dwell MS"), std::string::npos) << sweep;
    EXPECT_EQ(Help({"-p", "1", "--json", "help", "sweep"}), sweep);
    EXPECT_EQ(Help({"-p", "1", "sweep", "power", "-h"}), sweep);

    const std::string every = Help({"--help-all"});
    for (const char* name : {"--from", "--repeat", "--duration", "--listen", "--max-clients"})
        EXPECT_NE(every.find(name), std::string::npos) << name;
}

TEST(ArgsTest, UsageErrors)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "A subcommand is required"},
        {{"-p", "1", "fly"}, "The following argument was not expected: fly"},
        {{"-p", "1", "info", "--verbose"}, "The following argument was not expected: --verbose"},
        // An option of another command, named as typed.
        {{"-p", "1", "info", "--repeat", "2"},
         "The following arguments were not expected: --repeat 2"},
        {{"--dwell", "5", "-p", "1", "sweep", "channel"}, "not expected: --dwell 5"},
        {{"-p", "1", "info", "now"}, "The following argument was not expected: now"},
        {{"info"}, "info requires --port"},
        {{"info", "-p"}, "--port: 1 required PORT missing"},
        {{"-p", "ttyS0", "info"}, "--port: 'ttyS0' is neither COM1 to COM254"},
        {{"-p", "COM255", "info"}, "--port: 'COM255' is neither"},
        {{"-p=COM3", "info"}, "--port: '=COM3' is neither"},
        {{"-p", "1", "info", "--timeout", "5", "--timeout", "7"}, "--timeout: At Most 1"},
        {{"-p", "1", "channel"}, "N is required"},
        {{"-p", "1", "output", "yes"}, "on|off: yes not in {on,off,1,0}"},
        {{"-p", "1", "sweep", "both"}, "channel|power: both not in {channel,power}"},
        {{"-p", "1", "info", "--timeout", "60001"},
         "--timeout: Value 60001 not in range 1 to 60000"},
        {{"-p", "1", "info", "--timeout", "0"}, "--timeout: Value 0 not in range"},
        {{"-p", "1", "serve", "--max-clients", "65"}, "--max-clients: Value 65 not in range"},
        {{"-p", "1", "serve", "--no-http", "--http", "127.0.0.1:8080"},
         "--no-http excludes --http"},
        {{"-p", "1", "info", "--no-vxi11"}, "not expected: --no-vxi11"},
        {{"-p", "1", "sweep", "power", "--from", "--to", "3"}, "--from: '--to' is not a decimal"},
        {{"-p", "1", "sweep", "channel", "--step", "0"}, "--step: must be above 0"},
        {{"-p", "1", "sweep", "power", "--step", "100001"}, "--step: must be above 0"},
        {{"-p", "1", "sweep", "channel", "--step", "2.5"},
         "--step: a channel sweep takes a whole number"},
        {{"-p", "1", "sweep", "power", "--step", "0.001"},
         "--step: a power sweep takes at least 0.01 dBm"},
        {{"help", "fly"}, "COMMAND: fly not in"},
    };
    for (const auto& c : cases) {
        const std::string error = Refused(c.first);
        EXPECT_NE(error.find(c.second), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(ArgsTest, PortNumbers)
{
    int number = 0;
    for (auto [text, expected] : {std::pair<const char*, int>{"COM5", 5},
                                  {"com40", 40},
                                  {"5", 5},
                                  {"254", 254},
                                  {"COM1", 1},
                                  {"COM007", 7}}) {
        ASSERT_TRUE(ParsePortNumber(text, number)) << text;
        EXPECT_EQ(number, expected);
    }
    for (const char* text : {"COM0", "COM255", "0", "COM", "COMX", "/dev/ttyS0", "COM5 ", "-1",
                             "\\\\.\\COM5", "COM1000", "+5"})
        EXPECT_FALSE(ParsePortNumber(text, number)) << text;
    for (const char* path : {"/dev/ttyS0", "\\\\.\\COM5", "./ttyLASER"})
        EXPECT_EQ(Accepted({"-p", path, "info"}).port, path);
}

}  // namespace
