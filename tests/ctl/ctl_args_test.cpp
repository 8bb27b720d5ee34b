// The command line: what is accepted, and a one-line reason for what is not.
#include <gtest/gtest.h>
#include "ctl/Args.h"

namespace {

bool Parse(const std::vector<std::string>& args, Options& options, std::string& error)
{
    return ParseArgs(args, options, error);
}

TEST(ArgsTest, CommandsOptionsAndValues)
{
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"sweep", "--to=8", "power", "-p", "COM3", "--from", "-1", "--step", ".25",
                       "--json", "--dwell", "0", "--repeat", "0"},
                      o, error))
        << error;
    EXPECT_EQ(o.command, Command::Sweep);
    EXPECT_TRUE(o.sweepPower && o.json && o.hasFrom && o.hasTo && o.hasStep);
    EXPECT_EQ(o.from, -1);
    EXPECT_EQ(o.to, 8);
    EXPECT_EQ(o.step, 0.25);
    EXPECT_EQ(o.repeat, 0);
    EXPECT_EQ(o.port, "COM3");

    o = Options();
    ASSERT_TRUE(Parse({"-p", "/dev/x", "power", "-3.5"}, o, error)) << error;
    EXPECT_EQ(o.value, -3.5);
    o = Options();
    ASSERT_TRUE(Parse({"ports"}, o, error));  // the only command without a port
    o = Options();
    ASSERT_TRUE(Parse({"help", "monitor"}, o, error));
    EXPECT_TRUE(o.help);
    EXPECT_EQ(o.command, Command::Monitor);
}

TEST(ArgsTest, UsageErrors)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "no command given"},
        {{"-p", "1", "fly"}, "unknown command 'fly'"},
        {{"-p", "1", "info", "--verbose"}, "unknown option '--verbose'"},
        {{"info"}, "no port given (-p PORT)"},
        {{"-p"}, "option '-p' needs a value"},
        {{"-p", "1", "channel"}, "channel needs a value"},
        {{"-p", "1", "channel", "1e3"}, "channel takes a decimal number, not '1e3'"},
        {{"-p", "1", "output", "yes"}, "output takes on or off, not 'yes'"},
        {{"-p", "1", "info", "now"}, "unexpected argument 'now'"},
        {{"-p", "1", "info", "--timeout", "60001"},
         "--timeout takes a whole number of ms from 1 to 60000"},
        {{"-p", "1", "info", "--repeat", "2"}, "option '--repeat' belongs to another command"},
        {{"-p", "1", "sweep", "channel", "--step", "-1"}, "--step must be above 0"},
        {{"-p", "1", "sweep", "channel", "--step", "2.5"},
         "--step of a channel sweep takes a whole number"},
        {{"-p", "1", "sweep", "power", "--step", "0.001"},
         "--step of a power sweep takes at least 0.01 dBm"},
        {{"--json=yes", "ports"}, "option '--json' takes no value"},
    };
    for (const auto& c : cases) {
        Options o;
        std::string error;
        EXPECT_FALSE(Parse(c.first, o, error)) << c.second;
        EXPECT_EQ(error.find(c.second), 0u) << error;
    }
}

TEST(ArgsTest, NumbersAndPortNames)
{
    double value = 0;
    for (const char* text : {"8.2", "-3", "+4", ".5", "5.", "007"})
        EXPECT_TRUE(ParseDecimal(text, value)) << text;
    for (const char* text : {"", "-", ".", "1e3", "0x10", "inf", "nan", " 5", "5 ", "1.2.3", "--1"})
        EXPECT_FALSE(ParseDecimal(text, value)) << text;

    int number = 0;
    for (auto [text, expected] : {std::pair<const char*, int>{"COM5", 5},
                                  {"com40", 40},
                                  {"5", 5},
                                  {"254", 254},
                                  {"COM1", 1}}) {
        ASSERT_TRUE(ParsePortNumber(text, number)) << text;
        EXPECT_EQ(number, expected);
    }
    for (const char* text :
         {"COM0", "COM255", "0", "COM", "COMX", "/dev/ttyS0", "COM5 ", "-1", "\\\\.\\COM5"})
        EXPECT_FALSE(ParsePortNumber(text, number)) << text;
}

}  // namespace
