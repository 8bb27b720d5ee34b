// Questions to the module and its answers over a Port: every frame is sent, then its answer
// awaited with a deadline and asked again at most twice. Answers are applied as the window
// applies them, to a DeviceState of our own.
#pragma once
#include <cstdint>
#include <string>
#include "protocol/DeviceState.h"
#include "link/Port.h"
#include "protocol/ResponseParser.h"

// How a question to the module ended; every end but Answered comes with its reason.
enum class LinkResult {
    Answered,    // its answer came and is in the state
    Silent,      // no answer after MAX_TRIES tries
    PortFailed,  // the port could not be read or written
    NotAsked,    // there is no such question: nothing was sent
};

constexpr int MAX_TRIES = 3;

// The short name of a command code: "channel", "power max"...
std::string CodeName(uint8_t code);

class Exchange {
public:
    Exchange(Port& port, Clock& clock, int64_t timeoutMs);

    // Asks the start-up queries in the window's order until the stage `until` is reached:
    // STAGE_CHANNEL after the limits, STAGE_READY after everything.
    LinkResult ReadUntil(uint8_t until, std::string& error);

    // Sends the set frame of a channel, power or output and waits for the module's answer,
    // which is then in State(). The answer may differ from the value sent.
    LinkResult Set(uint8_t code, uint16_t value, std::string& error);

    // Sends the query of a code 1 to 8 and waits for its answer, then in State().
    LinkResult Query(uint8_t code, std::string& error);

    const DeviceStateRecord& State() const { return state; }

private:
    // The answer is the response of the frame's own code, as the parser applies it.
    LinkResult Ask(const DeviceFrame& frame, const std::string& what, std::string& error);
    LinkResult Await(uint8_t code, std::string& error);

    Port& port;
    Clock& clock;
    int64_t timeoutMs;
    DeviceStateRecord state;
    ResponseParserRecord parser;
    unsigned invalidBytes = 0;
};
