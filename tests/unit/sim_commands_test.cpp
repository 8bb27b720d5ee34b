// The simulated module's command language and its settings.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "sim/SimModule.h"

namespace {

struct Console {
    std::vector<std::string> lines;
    SimModule module{SimSettings(), [this](int64_t ms, const std::string& line) {
                         lines.push_back(std::to_string(ms) + " " + line);
                     }};

    std::string Run(const std::string& command, SimAction expected = SimAction::None)
    {
        size_t before = lines.size();
        EXPECT_EQ(module.Execute(command, 42), expected) << command;
        return lines.size() > before ? lines.back() : "";
    }
};

TEST(SimCommandsTest, GoodCommandsAreAcknowledgedInTheirOwnWords)
{
    Console console;
    EXPECT_EQ(console.Run("  mute   3 "), "42 CMD mute 3");
    EXPECT_EQ(console.Run("unmute all\r"), "42 CMD unmute all");
    EXPECT_EQ(console.Run("skip 8 2"), "42 CMD skip 8 2");
    EXPECT_EQ(console.Run("delay 0"), "42 CMD delay 0");
    EXPECT_EQ(console.Run("corrupt 1"), "42 CMD corrupt 1");
    EXPECT_EQ(console.Run("inject 01 01 01 00 05 08"), "42 CMD inject 01 01 01 00 05 08");
    EXPECT_EQ(console.Run("answer 4"), "42 CMD answer 4");
    EXPECT_EQ(console.Run("set grid -25"), "42 CMD set grid -25");
    EXPECT_EQ(console.module.Settings().grid, -25);
    EXPECT_EQ(console.Run(""), "");
}

TEST(SimCommandsTest, BadCommandsChangeNothing)
{
    const char* bad[] = {
        "mute 0",
        "mute 9",
        "mute",
        "unmute x",
        "skip 3",
        "skip 3 -1",
        "skip 3 2 1",
        "delay -5",
        "delay 1.5",
        "corrupt",
        "corrupt many",
        "inject",
        "inject 0G",
        "inject 012",
        "answer 9",
        "set channel",
        "set channel 256",
        "set output 2",
        "set first-freq 179999",
        "set grid 40000",
        "set colour 3",
        "frobnicate",
        "quit now",
        "plug 1",
    };
    Console console;
    for (const char* command : bad) {
        std::string line = console.Run(command);
        EXPECT_EQ(line.compare(0, 8, "42 ERR \""), 0) << line;
    }
    // Nothing was muted, skipped, delayed, corrupted, injected or changed.
    const uint8_t query[] = {0x01, 0x00, 0x01, 0x00, 0x00, 0x02};
    console.module.Receive(query, sizeof query, 42);
    EXPECT_EQ(console.module.NextDue(), 42);
    std::vector<uint8_t> answer = console.module.TakeDue(42);
    EXPECT_EQ(answer, (std::vector<uint8_t>{0x01, 0x01, 0x01, 0x00, 0x01, 0x04}));
    EXPECT_EQ(console.module.Settings().output, 1);
    EXPECT_EQ(console.module.Settings().firstFrequency, 191300);
}

TEST(SimCommandsTest, PortCommandsAreLeftToTheFrontEnd)
{
    Console console;
    EXPECT_EQ(console.Run("unplug", SimAction::Unplug), "");
    EXPECT_EQ(console.Run("plug", SimAction::Plug), "");
    EXPECT_EQ(console.Run("quit", SimAction::Quit), "");
}

TEST(SimCommandsTest, FieldsTakeTheWholeRangeOfTheirWireForm)
{
    const char* accepted[][2] = {
        {"channels", "255"}, {"first-freq", "180000"}, {"first-freq", "245535"},
        {"grid", "-32768"},  {"power-min", "65535"},   {"channel", "0"},
    };
    for (const auto& field : accepted) {
        SimSettings settings;
        std::string error;
        EXPECT_TRUE(SetSimField(settings, field[0], field[1], error)) << error;
    }
    SimSettings settings;
    std::string error;
    EXPECT_FALSE(SetSimField(settings, "first-freq", "245536", error));
    EXPECT_FALSE(SetSimField(settings, "power", "", error));
    EXPECT_TRUE(IsSimField("power-max"));
    EXPECT_FALSE(IsSimField("link"));
}

}  // namespace
