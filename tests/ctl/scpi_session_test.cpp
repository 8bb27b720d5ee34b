// The SCPI engine against the simulated module over the fake port: what each line answers,
// what it queues, and what goes on the line.
#include <gtest/gtest.h>
#include <random>
#include "scpi/ScpiSession.h"
#include "fake_port.h"

using namespace ctl_test;

namespace {

class ScpiTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakePort port{clock};
    std::string log;
    Instrument::EventLog toLog = [this](const std::string& text) { log += text + "\n"; };
    Instrument instrument{port, clock, "PORT7", "COM7", 100, toLog};
    ScpiSession session{instrument};

    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(instrument.Start(error), ModuleResult::Ok) << error;
        port.written.clear();
    }

    std::string Run(const std::string& line) { return session.Execute(line); }

    // Every queued error, oldest first, then the queue is empty.
    std::vector<std::string> Errors()
    {
        std::vector<std::string> errors;
        for (std::string e = Run("SYST:ERR?"); e != "0,\"No error\"\n"; e = Run("SYST:ERR?"))
            errors.push_back(e.substr(0, e.size() - 1));
        return errors;
    }

    void Module(const std::string& command) { port.module.Execute(command, clock.now); }
};

struct Case {
    const char* line;
    const char* reply;
};

TEST_F(ScpiTest, QueriesAnswerWhatTheModuleSays)
{
    const Case cases[] = {
        {"*IDN?", "Zorvane,Tunable laser module,COM7," ZORVANE_TEST_VERSION "\n"},
        {"CHAN?", "1\n"},
        {"source:channel?", "1\n"},
        {":SOUR:CHAN? MIN", "1\n"},
        {"CHAN? maximum", "96\n"},
        {"CHAN:COUN?", "96\n"},
        {"CHAN:LAB?", "\"C13\"\n"},
        {"FREQ?", "1.91300000E+14\n"},
        {"FREQ? MAX", "1.96050000E+14\n"},
        {"WAV?", "1.56713E-06\n"},
        {"WAV? MIN", "1.52916E-06\n"},
        {"POW?", "10.00\n"},
        {"POW:LEV:IMM:AMPL?", "10.00\n"},
        {"SOUR:POW:AMPL? MIN", "7.00\n"},
        {"POW? MAX", "13.00\n"},
        {"OUTP?", "1\n"},
        {"OUTP:STAT?", "1\n"},
        {"SYST:VERS?", "1999.0\n"},
        {"SYST:ERR:COUN?", "0\n"},
        {"SYST:ERR:NEXT?", "0,\"No error\"\n"},
        {"*OPC?", "1\n"},
        {"*TST?", "0\n"},
        {"*ESR?", "0\n"},
        {"*STB?", "0\n"},
        {"CHAN?;POW?;:OUTP?\r", "1;10.00;1\n"},
        {"", ""},
        {"*WAI;*OPC;*CLS", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Run(c.line), c.reply) << c.line;
    EXPECT_EQ(Errors(), std::vector<std::string>{});
    EXPECT_EQ(port.Sets(), std::vector<std::string>{});
}

struct SetCase {
    const char* line;
    int channel;
    int power;
    int output;
};

TEST_F(ScpiTest, SetsReachTheModuleInEveryForm)
{
    const SetCase cases[] = {
        {"CHAN 45", 45, 1000, 1},
        {"source:channel 44.6", 45, 1000, 1},
        {"CHAN MAX", 96, 1000, 1},
        {"CHAN 10;CHAN UP", 11, 1000, 1},
        {"CHAN 10;:SOUR:CHAN DOWN", 9, 1000, 1},
        {"CHAN minimum", 1, 1000, 1},
        {"FREQ 193.5THZ", 45, 1000, 1},
        {"FREQ 1.9351e14", 45, 1000, 1},
        {"FREQ 193525 GHZ", 46, 1000, 1},  // a tie goes up
        {"FREQ 191.276 thz", 1, 1000, 1},  // within half a step of the band
        {"FREQ 196075000MHZ", 96, 1000, 1},
        {"FREQ MAX", 96, 1000, 1},
        {"WAV 1549.32NM", 45, 1000, 1},
        {"WAV 1.54932E-6", 45, 1000, 1},
        {"WAV 1549320 PM", 45, 1000, 1},
        {"WAV 1.54932UM", 45, 1000, 1},
        {"WAV MAX", 1, 1000, 1},
        {"POW 8.5", 1, 850, 1},
        {"POW 8.5DBM", 1, 850, 1},
        {"SOUR:POW:LEV:IMM:AMPL 12.25 dbm", 1, 1225, 1},
        {"POW:AMPL MAX", 1, 1300, 1},
        {"POW MIN", 1, 700, 1},
        {"OUTP OFF", 1, 1000, 0},
        {"OUTP:STAT 0;STAT 1", 1, 1000, 1},
        {"outp off;:CHAN 7;POW 9", 7, 900, 0},
    };
    for (const SetCase& c : cases) {
        Module("set channel 1");
        Module("set power 1000");
        Module("set output 1");
        EXPECT_EQ(Run(c.line), "") << c.line;
        const SimSettings& now = port.module.Settings();
        EXPECT_EQ(now.channel, c.channel) << c.line;
        EXPECT_EQ(now.power, c.power) << c.line;
        EXPECT_EQ(now.output, c.output) << c.line;
        EXPECT_EQ(Errors(), std::vector<std::string>{}) << c.line;
    }
}

struct ErrorCase {
    std::string line;
    const char* error;
};

TEST_F(ScpiTest, BadCommandsQueueTheirErrorAndSendNoSet)
{
    const ErrorCase cases[] = {
        {"FOO", "-113,\"Undefined header\""},
        {"CHAN:FOO?", "-113,\"Undefined header\""},
        {"*IDN", "-113,\"Undefined header\""},
        {"*RST?", "-113,\"Undefined header\""},
        {"OUTP1 ON", "-113,\"Undefined header\""},
        {"CHAN", "-109,\"Missing parameter\""},
        {"CHAN 1,2", "-108,\"Parameter not allowed\""},
        {"*IDN? 1", "-108,\"Parameter not allowed\""},
        {"OUTP? ON", "-108,\"Parameter not allowed\""},
        {"CHAN? 5", "-104,\"Data type error\""},
        {"CHAN \"5\"", "-104,\"Data type error\""},
        {"*ESE ON", "-104,\"Data type error\""},
        {"CHAN 5HZ", "-131,\"Invalid suffix\""},
        {"POW 10 W", "-131,\"Invalid suffix\""},
        {"WAV 1550 XM", "-131,\"Invalid suffix\""},
        {"OUTP 1V", "-131,\"Invalid suffix\""},
        {"FREQ 5 E", "-131,\"Invalid suffix\""},
        {"CHAN FOO", "-224,\"Illegal value\""},
        {"CHAN nan", "-224,\"Illegal value\""},
        {"CHAN? UP", "-224,\"Illegal value\""},
        {"OUTP 2", "-224,\"Illegal value\""},
        {"OUTP MAX", "-224,\"Illegal value\""},
        {"POW UP", "-224,\"Illegal value\""},
        {"CHAN 0", "-222,\"Data out of range\""},
        {"CHAN -0", "-222,\"Data out of range\""},
        {"CHAN 97", "-222,\"Data out of range\""},
        {"CHAN 96.6", "-222,\"Data out of range\""},
        {"CHAN 1e999", "-222,\"Data out of range\""},
        {"CHAN -1e999", "-222,\"Data out of range\""},
        {"CHAN DOWN", "-222,\"Data out of range\""},  // from channel 1
        {"POW 13.01", "-222,\"Data out of range\""},
        {"POW 6.99", "-222,\"Data out of range\""},
        {"POW 1e300", "-222,\"Data out of range\""},
        {"FREQ 1THZ", "-222,\"Data out of range\""},
        {"FREQ 196.076THZ", "-222,\"Data out of range\""},
        {"FREQ 191274GHZ", "-222,\"Data out of range\""},
        {"FREQ 1e300THZ", "-222,\"Data out of range\""},
        {"WAV -1", "-222,\"Data out of range\""},
        {"WAV 0", "-222,\"Data out of range\""},
        {"WAV 1550", "-222,\"Data out of range\""},  // metres
        {"*ESE 256", "-222,\"Data out of range\""},
        {"CHAN 0x10", "-102,\"Syntax error\""},
        {"CHAN 5 6", "-102,\"Syntax error\""},
        {"CHAN \"abc", "-102,\"Syntax error\""},
        {"CHAN #H10", "-102,\"Syntax error\""},
        {"CHAN 1e", "-131,\"Invalid suffix\""},
        {"CHAN .", "-102,\"Syntax error\""},
        {"CHAN 5,", "-102,\"Syntax error\""},
        {"CHAN:", "-102,\"Syntax error\""},
        {"::CHAN?", "-102,\"Syntax error\""},
        {"CHAN?5", "-102,\"Syntax error\""},
        {"* IDN?", "-102,\"Syntax error\""},
        {std::string("CHAN\0 5", 7), "-102,\"Syntax error\""},
        {"\x01\xff", "-102,\"Syntax error\""},
    };
    for (const ErrorCase& c : cases) {
        EXPECT_EQ(Run(c.line), "") << c.line;
        EXPECT_EQ(Errors(), std::vector<std::string>{c.error}) << c.line;
    }
    EXPECT_EQ(port.Sets(), std::vector<std::string>{});
}

TEST_F(ScpiTest, ACommandErrorEndsTheLineAnExecutionErrorDoesNot)
{
    EXPECT_EQ(Run("CHAN?;FOO;POW?"), "1\n");
    EXPECT_EQ(Errors(), std::vector<std::string>{"-113,\"Undefined header\""});
    EXPECT_EQ(Run("CHAN 0;POW?"), "10.00\n");
    EXPECT_EQ(Errors(), std::vector<std::string>{"-222,\"Data out of range\""});
    EXPECT_EQ(Run("CHAN 0x10;CHAN 5"), "");
    EXPECT_EQ(port.Sets(), std::vector<std::string>{});
}

TEST_F(ScpiTest, AUnitWithoutColonContinuesAtThePreviousNodeLevel)
{
    const Case cases[] = {
        {"SOUR:CHAN 5;POW 8;:CHAN?;POW?", "5;8.00\n"},
        {"POW:LEV 9;AMPL?", "9.00\n"},
        {"OUTP:STAT OFF;STAT?", "0\n"},
        {"CHAN:COUN?;:CHAN?", "96;5\n"},
        {"CHAN:COUN?;LAB?", "96;\"C15\"\n"},
        {"CHAN 6;*OPC;POW?", "9.00\n"},  // a common command leaves the level alone
        {"SYST:ERR:COUN?;:SYST:ERR?", "0;0,\"No error\"\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Run(c.line), c.reply) << c.line;
    EXPECT_EQ(Errors(), std::vector<std::string>{});
    EXPECT_EQ(Run("CHAN:COUN?;CHAN?"), "96\n");  // CHAN:CHAN? does not exist
    EXPECT_EQ(Errors(), std::vector<std::string>{"-113,\"Undefined header\""});
    EXPECT_EQ(Run("SYST:ERR?;COUN?"), "0,\"No error\"\n");  // SYST:COUN? is none
    EXPECT_EQ(Errors(), std::vector<std::string>{"-113,\"Undefined header\""});
}

TEST_F(ScpiTest, AnotherAnswerIsWhatLaterQueriesSeeAndIsNamed)
{
    Module("set channels 50");  // the limits read at start still say 96
    EXPECT_EQ(Run("CHAN 60;CHAN?"), "50\n");
    Module("set power-max 1200");
    EXPECT_EQ(Run("POW 12.5;POW?"), "12.00\n");
    EXPECT_EQ(Errors(),
              (std::vector<std::string>{
                  "-200,\"Execution error; channel 60 sent; module answered 50\"",
                  "-200,\"Execution error; power 12.50 dBm sent; module answered 12.00 dBm\""}));
    // *RST reads the limits again and sends no set.
    port.written.clear();
    EXPECT_EQ(Run("*RST;CHAN? MAX;POW? MAX"), "50;12.00\n");
    EXPECT_EQ(port.Sets(), std::vector<std::string>{});
}

TEST_F(ScpiTest, AnotherClientsLockRefusesSetsAndRstButNotQueries)
{
    std::string holder = "VXI-11 link 2 (127.0.0.1)";
    ScpiSession locked(instrument, [&holder] { return holder; });
    port.written.clear();
    EXPECT_EQ(locked.Execute("CHAN 5;CHAN?;*RST;POW 8;OUTP OFF;FREQ MAX;WAV MIN;POW?"),
              "1;10.00\n");
    EXPECT_EQ(port.Sets(), std::vector<std::string>{});
    EXPECT_EQ(port.written.size(), 2u) << "only the two queries reached the module";
    // The client's own registers are no device's business: they still work.
    EXPECT_EQ(locked.Execute("*ESE 16;*ESE?"), "16\n");
    const std::string refused = "-200,\"Execution error; locked by VXI-11 link 2 (127.0.0.1)\"\n";
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(locked.Execute("SYST:ERR?"), refused) << i;
    EXPECT_EQ(locked.Execute("SYST:ERR?"), "0,\"No error\"\n");

    holder.clear();  // released
    EXPECT_EQ(locked.Execute("CHAN 5;CHAN?"), "5\n");
    EXPECT_EQ(port.Sets().size(), 1u);
}

TEST_F(ScpiTest, StatusRegisters)
{
    const Case cases[] = {
        {"FOO;*ESR?", ""},  // the line ends at FOO
        {"*ESR?;*ESR?", "32;0\n"},
        {"CHAN 0;*ESR?", "16\n"},
        {"*OPC;*ESR?", "1\n"},
        {"*ESE 48;*ESE?", "48\n"},
        {"*STB?", "4\n"},  // the queue holds CHAN 0's error; ESR was read
        {"FOO", ""},
        {"*STB?", "36\n"},
        {"*SRE 255;*SRE?;*STB?", "191;100\n"},
        {"*CLS;*STB?;SYST:ERR:COUN?", "0;0\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Run(c.line), c.reply) << c.line;
}

TEST_F(ScpiTest, TheQueueKeepsTwentyAndTheLastTellsTheOverflow)
{
    for (int i = 0; i < 25; ++i)
        Run("FOO");
    session.LineTooLong();
    EXPECT_EQ(Run("SYST:ERR:COUN?"), "20\n");
    std::vector<std::string> expected(19, "-113,\"Undefined header\"");
    expected.push_back("-350,\"Queue overflow\"");
    EXPECT_EQ(Errors(), expected);
    session.LineTooLong();
    EXPECT_EQ(Errors(), std::vector<std::string>{"-223,\"Too much data\""});
}

TEST_F(ScpiTest, ASilentModuleIsMissingAndAskedAgainNextCommand)
{
    Module("mute all");
    EXPECT_EQ(Run("CHAN?;POW?"), "");
    EXPECT_EQ(Run("*TST?"), "1\n");
    EXPECT_EQ(Run("CHAN 5"), "");
    EXPECT_EQ(Errors(), std::vector<std::string>(3, "-241,\"Hardware missing\""));
    EXPECT_EQ(log, "COM7: module silent: no answer to the channel query after 3 tries\n");
    Module("unmute all");
    EXPECT_EQ(Run("*TST?;CHAN?"), "0;5\n");
}

TEST_F(ScpiTest, APortThatVanishesIsReopenedByMaintainAndTheLimitsReadAgain)
{
    EXPECT_EQ(instrument.Maintain(), -1);
    port.lost = true;
    EXPECT_EQ(Run("CHAN?"), "");
    port.lost = false;
    port.written.clear();
    Module("set channels 40");
    EXPECT_EQ(Run("CHAN?;CHAN 5"), "");  // gone until Maintain reopens it
    EXPECT_EQ(port.written, std::vector<std::string>{});
    EXPECT_EQ(Errors(), std::vector<std::string>(3, "-241,\"Hardware missing\""));
    port.openError = "no such port";
    EXPECT_EQ(instrument.Maintain(), 1000);
    clock.now += 999;
    EXPECT_EQ(instrument.Maintain(), 1);
    clock.now += 1;
    EXPECT_EQ(instrument.Maintain(), 1000);  // tried again, still absent
    port.openError = "";
    clock.now += 1000;
    EXPECT_EQ(instrument.Maintain(), -1);
    EXPECT_EQ(Run("CHAN? MAX"), "40\n");
    EXPECT_EQ(log, "COM7: the port has gone (unplugged?); reopening every second\n"
                   "COM7: port back, reading the limits again\n");
}

TEST_F(ScpiTest, TheLimitsUnreadAtStartAreAskedByTheFirstCommandThatNeedsThem)
{
    FakePort silentPort{clock};
    silentPort.module.Execute("mute all", clock.now);
    Instrument late{silentPort, clock, "PORT8", "COM8", 100, [](const std::string&) {}};
    std::string error;
    ASSERT_EQ(late.Start(error), ModuleResult::Ok);
    ScpiSession client{late};
    EXPECT_EQ(client.Execute("CHAN 5;SYST:ERR?"), "-241,\"Hardware missing\"\n");
    EXPECT_EQ(silentPort.Sets(), std::vector<std::string>{});
    silentPort.module.Execute("unmute all", clock.now);
    EXPECT_EQ(client.Execute("CHAN 5;CHAN?;SYST:ERR?"), "5;0,\"No error\"\n");
}

// Whether a set frame stays inside the module's range (96 channels, 7 to 13 dBm).
bool InRange(const std::string& frame)
{
    const unsigned code = std::stoul(frame.substr(6, 2), nullptr, 16);
    const unsigned value = std::stoul(frame.substr(9, 2) + frame.substr(12, 2), nullptr, 16);
    switch (code) {
    case CMD_CHANNEL: return value >= 1 && value <= 96;
    case CMD_POWER: return value >= 700 && value <= 1300;
    case CMD_OUTPUT: return value == 0 || value == 0x0101;
    default: return false;
    }
}

// Random bytes and fragments of commands, some of which form valid sets: never a crash,
// one reply line at most, nothing outside the module's range sent, no set from a line of
// one unit that the engine refused, and the session still answers.
TEST_F(ScpiTest, FuzzedLinesSendOnlyWhatTheyValidlyAskFor)
{
    // Half the lines begin as a set would; the rest of each line is fragments and bytes.
    const char* const heads[] = {"CHAN ",     "POW ",  "OUTP ",          "FREQ ",
                                 "SOUR:WAV ", "chan ", ":SOUR:POW:LEV ", "OUTP:STAT "};
    const char* const pieces[] = {
        "CHAN", "?",   ";",    ":",    " ",    ",",    "\"",   "'",    "1e999", "nan",   "-0",
        "0x10", "MAX", "UP",   "*IDN", "POW",  "FREQ", "THZ",  "e",    "97",    "SOUR",  "[",
        "]",    "\t",  "*ESE", "SYST", "ERR",  "#",    "OUTP", "2",    "ABC",   ".",     "1",
        "45",   "7.5", "MIN",  "DBM",  "DOWN", "ON",   "OFF",  "1550", "NM",    "193.5", "GHZ"};
    constexpr int ERROR_BITS = 0x3C;  // query, device, execution and command errors
    size_t setsSeen = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::mt19937 random(seed);
        for (int i = 0; i < 1000; ++i) {
            const bool set = random() % 2 == 0;
            std::string line = set ? heads[random() % (sizeof heads / sizeof *heads)] : "";
            int count = std::uniform_int_distribution<int>(0, set ? 3 : 12)(random);
            for (int k = 0; k < count; ++k) {
                if (random() % 3 == 0)
                    line += static_cast<char>(random() % 256);
                else
                    line += pieces[random() % (sizeof pieces / sizeof *pieces)];
            }
            port.written.clear();
            std::string reply = session.Execute(line);
            ASSERT_TRUE(reply.empty() ||
                        (reply.back() == '\n' && reply.find('\n') == reply.size() - 1))
                << seed << ": " << line;
            const std::vector<std::string> sets = port.Sets();
            for (const std::string& frame : sets)
                ASSERT_TRUE(InRange(frame)) << seed << ": " << line << " sent " << frame;
            const bool refused = (std::stoi(Run("*ESR?")) & ERROR_BITS) != 0;
            const bool oneUnit = line.find(';') == std::string::npos;
            ASSERT_FALSE(oneUnit && refused && !sets.empty()) << seed << ": " << line;
            setsSeen += sets.size();
        }
    }
    EXPECT_GT(setsSeen, 50u);  // the lines do reach the module's sets
    EXPECT_EQ(Run("*CLS;*IDN?").compare(0, 8, "Zorvane,"), 0);
}

}  // namespace
