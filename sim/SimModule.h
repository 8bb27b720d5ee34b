// A simulated laser module: takes the bytes the program writes, answers its queries and
// sets, and can be told to misbehave. Portable and deterministic: every call carries the
// current time, and responses carry the time at which the front end should send them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include "protocol/DeviceFrame.h"

// The module's values. Each field takes any value its wire form can carry; only set
// frames from the program are clamped to the module's range.
struct SimSettings {
    uint8_t channelCount = 96;
    int32_t firstFrequency = 191300;  // GHz, 180000..245535 on the wire
    int16_t grid = 50;                // GHz
    uint16_t powerMin = 700;          // 0.01 dBm
    uint16_t powerMax = 1300;         // 0.01 dBm
    uint8_t channel = 1;
    uint16_t power = 1000;  // 0.01 dBm
    uint8_t output = 1;
};

// Whether a field of that name exists (see SetSimField).
bool IsSimField(const std::string& name);

// Sets the field of that name ("channels", "first-freq", "grid", "power-min", "power-max",
// "channel", "power", "output") from its decimal text. On failure returns false, leaves
// the settings unchanged and says why in error.
bool SetSimField(SimSettings& settings, const std::string& name, const std::string& text,
                 std::string& error);

// Receives a log line (without time stamp) and the time it happened, in ms.
using SimLogSink = std::function<void(int64_t ms, const std::string& line)>;

// What a command asks of the front end beyond the model.
enum class SimAction { None, Unplug, Plug, Quit };

class SimModule {
public:
    explicit SimModule(const SimSettings& settings = SimSettings(), SimLogSink log = nullptr);

    // Bytes written by the program. Complete frames are logged RX and answered (possibly
    // later, see NextDue); bytes that cannot belong to a frame are logged DROP one by one.
    void Receive(const uint8_t* data, size_t size, int64_t now);

    // Time at which the earliest pending output is due, or -1 when nothing is pending.
    int64_t NextDue() const;

    // The bytes of every output due at now, in order, each output logged TX.
    std::vector<uint8_t> TakeDue(int64_t now);

    // The line has gone: the half-received frame is dropped (logged) and unsent outputs
    // are forgotten.
    void Disconnect(int64_t now);

    // Runs one command line. Model commands are applied and logged CMD (or ERR, changing
    // nothing). For unplug, plug and quit nothing is logged: the front end acts, then logs.
    SimAction Execute(const std::string& line, int64_t now);

    // Writes a line to the log sink, if there is one.
    void Log(int64_t now, const std::string& line) const;

    const SimSettings& Settings() const { return settings; }

private:
    struct Output {
        int64_t due;
        std::vector<uint8_t> bytes;
    };

    void DropFirst(int64_t now);
    void Handle(const DeviceFrame& frame, int64_t now);
    void ApplySet(uint8_t code, uint16_t value);
    void Respond(uint8_t code, int64_t due);
    uint16_t ValueInForce(uint8_t code) const;
    bool RunCommand(const std::vector<std::string>& words, int64_t now, std::string& error);

    SimSettings settings;
    SimLogSink log;
    std::vector<uint8_t> received;  // a frame being assembled, at most 5 bytes
    std::vector<Output> pending;    // in the order they were made
    bool muted[8] = {};
    unsigned skip[8] = {};
    unsigned corrupt = 0;
    int64_t delayMs = 0;
};
