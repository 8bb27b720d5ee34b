// The SCPI engine against the simulated module over the fake port: what each line answers,
// what it queues, and what goes on the line.
#include <gtest/gtest.h>
#include <random>
#include "ScpiSession.h"
#include "fake_port.h"

using namespace ctl_test;

namespace {

class ScpiTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakePort port{clock};
    std::ostringstream log;
    Instrument instrument{port, clock, "PORT7", "COM7", 100, log};
    ScpiSession session{instrument};

    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(instrument.Start(error), 0) << error;
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
}  // namespace
