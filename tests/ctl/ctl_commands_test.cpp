// The commands end to end over the fake port: what goes on the line, what is printed, and
// the exit status.
#include <gtest/gtest.h>
#include "fake_port.h"

using namespace ctl_test;

namespace {

class CommandsTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakePort port{clock};

    Outcome Ctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"-p", "COM7"});
        return RunWith(port, clock, args);
    }

    void Module(const std::string& command) { port.module.Execute(command, clock.now); }
};

TEST_F(CommandsTest, InfoAsksInTheWindowOrderAndWaitsOnlyForTheLine)
{
    Outcome run = Ctl({"info", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(port.openedPath, "PORT7");
    EXPECT_EQ(port.written, (std::vector<std::string>{"01 00 04 00 00 05", "01 00 05 00 00 06",
                                                      "01 00 06 00 00 07", "01 00 07 00 00 08",
                                                      "01 00 08 00 00 09", "01 00 01 00 00 02",
                                                      "01 00 02 00 00 03", "01 00 03 00 00 04"}));
    EXPECT_EQ(clock.now, 0);  // answers came at once: no time-out was waited out
    EXPECT_EQ(run.out,
              "{\"channel\":1,\"frequency_ghz\":191300,\"wavelength_nm\":1567.13,\"label\":\"C13\","
              "\"power_dbm\":10.00,\"output\":true,\"channels\":96,\"power_min_dbm\":7.00,"
              "\"power_max_dbm\":13.00,\"first_frequency_ghz\":191300,\"grid_ghz\":50}\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(CommandsTest, UnansweredQueriesAreAskedThreeTimesThenNamed)
{
    Module("skip 6 2");  // power min: answered the third time
    Outcome run = Ctl({"info", "--timeout", "100"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(port.written.begin(), port.written.end(), "01 00 06 00 00 07"), 3);
    EXPECT_EQ(clock.now, 200);

    Module("mute 8");
    port.written.clear();
    run = Ctl({"info", "--timeout", "100"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "zorvane-ctl: COM7 (PORT7): no answer to the grid query after 3 tries\n");
    EXPECT_EQ(std::count(port.written.begin(), port.written.end(), "01 00 08 00 00 09"), 3);
    EXPECT_EQ(port.written.size(), 4u + 3u);  // nothing after the grid
}

TEST_F(CommandsTest, LateAndCorruptAnswers)
{
    // An answer later than the time-out still counts when it comes during the next try.
    Module("delay 150");
    Outcome run = Ctl({"channel", "9", "--timeout", "100"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(port.Sets(), (std::vector<std::string>{"00 01 01 00 09 0B", "00 01 01 00 09 0B"}));

    Module("delay 0");
    Module("corrupt 3");
    run = Ctl({"output", "off"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "zorvane-ctl: COM7 (PORT7): no answer to the output setting after 3 tries "
                       "(18 bytes received formed no valid frame)\n");
}

// The clamps themselves are the window's (typed_values_test): here only that the tool
// applies them, says so on stderr, and keeps quiet about a value taken as typed.
TEST_F(CommandsTest, TypedValuesAreClampedWithTheWindowsFunctions)
{
    struct Case {
        std::vector<std::string> args;
        std::string set;
        std::string note;
    } cases[] = {
        {{"channel", "300"}, "00 01 01 00 60 62", "channel 300 taken as 96 (range 1-96)"},
        {{"power", "8.2"},
         "00 01 02 03 33 39",
         "power 8.2 dBm taken as 8.19 dBm (range 7.00-13.00 dBm)"},
        {{"power", "7.1"}, "00 01 02 02 C6 CB", ""},  // taken as typed: no note
        {{"output", "on"}, "00 01 03 01 01 06", ""},
        {{"output", "0"}, "00 01 03 00 00 04", ""},
    };
    for (const Case& c : cases) {
        port.written.clear();
        Outcome run = Ctl(c.args);
        ASSERT_EQ(run.status, 0) << c.args[1] << run.err;
        EXPECT_EQ(port.Sets(), std::vector<std::string>{c.set}) << c.args[1];
        EXPECT_EQ(run.err, c.note.empty() ? "" : "zorvane-ctl: " + c.note + "\n") << c.args[1];
    }
    // Set commands read the limits only, not the settings.
    EXPECT_EQ(port.written.size(), 1u);
}

TEST_F(CommandsTest, TheModulesAnswerIsPrintedAndAnotherValueFails)
{
    Outcome run = Ctl({"channel", "45"});
    EXPECT_EQ(run.out,
              "channel     45\nfrequency   193500 GHz\nwavelength  1549.32 nm\nlabel       C35\n");

    port.onAnswer = [](std::vector<uint8_t>& bytes) {
        if (bytes.size() == 6 && bytes[2] == CMD_POWER) {  // 9.00 dBm, whatever was asked
            bytes[3] = 0x03;
            bytes[4] = 0x84;
            bytes[5] = 0x8B;
        }
    };
    run = Ctl({"power", "10", "--json"});
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.out, "{\"power_dbm\":9.00}\n");
    EXPECT_EQ(run.err,
              "zorvane-ctl: COM7 (PORT7): the module answered power 9.00 dBm to 10.00 dBm\n");
}

TEST_F(CommandsTest, NothingIsSentToAModuleWithoutARange)
{
    Module("set channels 0");
    Outcome run = Ctl({"channel", "1"});
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.err,
              "zorvane-ctl: COM7 (PORT7): the module reports no channels (channel count 0)\n");

    Module("set power-min 1300");
    Module("set power-max 700");
    run = Ctl({"sweep", "power"});
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.err,
              "zorvane-ctl: COM7 (PORT7): the module's power range is empty (min 13.00 dBm "
              "above max 7.00 dBm)\n");
    EXPECT_TRUE(port.Sets().empty());
}

TEST_F(CommandsTest, SweepDwellsBetweenStepsAndStopsBetweenThem)
{
    Outcome run =
        Ctl({"sweep", "channel", "--from", "10", "--to", "4", "--step", "3", "--dwell", "500"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(port.Sets(), (std::vector<std::string>{"00 01 01 00 0A 0C", "00 01 01 00 07 09",
                                                     "00 01 01 00 04 06"}));
    EXPECT_EQ(clock.now, 1000);  // two dwells: none after the last step
    EXPECT_TRUE(clock.catching);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
              "2025-12-07T12:02:01.000Z  step 1  pass 1  channel 10  frequency 191750 GHz  "
              "wavelength 1563.45 nm  label H17");

    // Ctrl-C in the second dwell: two steps done, no third begun.
    port.written.clear();
    int pauses = 0;
    clock.onPause = [&] { clock.stop = ++pauses == 2; };
    run = Ctl({"sweep", "power", "--repeat", "0", "--dwell", "10", "--json"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(port.Sets().size(), 2u);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2);
}

TEST_F(CommandsTest, PortFailures)
{
    port.openError = "no such port";
    Outcome run = Ctl({"info"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zorvane-ctl: COM7 (PORT7): no such port\n");
    run = RunWith(port, clock, {"info", "-p", "/dev/ttyUSB9"});
    EXPECT_EQ(run.err, "zorvane-ctl: /dev/ttyUSB9: no such port\n");

    port.openError.clear();
    port.lost = true;
    run = Ctl({"monitor"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zorvane-ctl: COM7 (PORT7): the port has gone (unplugged?)\n");

    run = RunWith(port, clock, {"ports", "--json"});
    EXPECT_EQ(run.out, "{\"port\":\"COM3\"}\n{\"port\":\"COM40\"}\n");
}

TEST_F(CommandsTest, LabelsOfAnyByteStayValidText)
{
    // 180000 GHz and a grid of -32768: channel 3 lies at 114464 GHz, whose label digits
    // run below '0' (and wrap past 127).
    Module("set first-freq 180000");
    Module("set grid -32768");
    Module("set channel 3");
    Outcome run = Ctl({"info", "--json"});
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\"label\":\"Q\\u00ef+\""), std::string::npos) << run.out;
    run = Ctl({"info"});
    EXPECT_NE(run.out.find("label            Q\\xEF+\n"), std::string::npos) << run.out;

    // 234000 GHz: the label's first digit is a backslash, escaped too, so that no label
    // reads as an escape it is not.
    Module("set first-freq 234000");
    Module("set grid 50");
    Module("set channel 1");
    run = Ctl({"info"});
    EXPECT_NE(run.out.find("label            C\\x5C0\n"), std::string::npos) << run.out;
}

}  // namespace
