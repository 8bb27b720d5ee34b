// Questions to the module and its answers over a Port: every frame is sent, then its answer
// awaited with a deadline and asked again at most twice. Answers go through the window's
// parser and response effects, into a DeviceState of our own.
#pragma once
#include <cstdint>
#include <string>
#include "protocol/DeviceState.h"
#include "protocol/Display.h"
#include "link/Port.h"
#include "protocol/ResponseParser.h"

// Exit status of the tool.
enum ExitCode {
    EXIT_OK = 0,
    EXIT_USAGE = 2,    // usage or port error
    EXIT_SILENT = 3,   // the module did not answer
    EXIT_REFUSED = 4,  // the module refused a value, answered another one or has no range
};

constexpr int MAX_TRIES = 3;

// Keeps what a response would show in the window.
class ShownValues : public Display {
public:
    std::string text[8];

    void SetText(DisplayText item, const char* value) override;
    void SetSliderPos(Slider, int) override {}
    void SetSliderRange(Slider, int, int) override {}
    void ClearSliderTicks(Slider) override {}
    void AddSliderTick(Slider, int) override {}
    void StartupFinished() override {}

    const std::string& Text(DisplayText item) const { return text[static_cast<int>(item)]; }
};

// The short name of a command code: "channel", "power max"...
std::string CodeName(uint8_t code);

class Exchange {
public:
    Exchange(Port& port, Clock& clock, int64_t timeoutMs);

    // Asks the start-up queries in the window's order until the stage `until` is reached:
    // STAGE_CHANNEL after the limits, STAGE_READY after everything.
    int ReadUntil(uint8_t until, std::string& error);

    // Sends the set frame of a channel, power or output and waits for the module's answer,
    // which is then in State() and Shown(). The answer may differ from the value sent.
    int Set(uint8_t code, uint16_t value, std::string& error);

    // Sends the query of a code 1 to 8 and waits for its answer, then in State() and Shown().
    int Query(uint8_t code, std::string& error);

    const DeviceStateRecord& State() const { return state; }
    const ShownValues& Shown() const { return shown; }

private:
    // The answer is the response of the frame's own code, as the parser applies it.
    int Ask(const DeviceFrame& frame, const std::string& what, std::string& error);
    int Await(uint8_t code, bool& done, std::string& error);

    Port& port;
    Clock& clock;
    int64_t timeoutMs;
    DeviceStateRecord state;
    ResponseParserRecord parser;
    ShownValues shown;
    unsigned invalidBytes = 0;
};
