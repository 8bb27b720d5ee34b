#include "ctl/Commands.h"
#include <cmath>
#include <cstdio>
#include "ctl/Args.h"
#include "protocol/TypedValues.h"
#include "protocol/ValueFormat.h"
#include "ctl/ExitStatus.h"
#include "ctl/Report.h"
#include "ctl/Serve.h"

namespace {

constexpr int64_t MONITOR_SLICE_MS = 250;  // how soon a quiet monitor notices Ctrl-C

Field Number(const char* key, const char* label, const std::string& value, const char* unit = "")
{
    return {key, label, value, unit, FieldKind::Number};
}

// The channel with its frequency, wavelength and label, as the window shows them.
Fields ChannelFields(const DeviceStateRecord& state)
{
    char wavelength[32];
    FormatWavelength(state.wavelength, wavelength, sizeof wavelength);
    return {Number("channel", "channel", std::to_string(state.channel)),
            Number("frequency_ghz", "frequency", std::to_string(state.frequency), "GHz"),
            Number("wavelength_nm", "wavelength", wavelength, "nm"),
            {"label", "label", state.ituLabel, "", FieldKind::Text}};
}

Fields PowerFields(const DeviceStateRecord& state)
{
    return {Number("power_dbm", "power", PowerText(state.power), "dBm")};
}

Fields OutputFields(const DeviceStateRecord& state)
{
    return {{"output", "output", state.outputOn ? "on" : "off", "", FieldKind::Flag}};
}

// The field of a limit read at start-up.
Field LimitField(uint8_t code, const DeviceStateRecord& state)
{
    switch (code) {
    case CMD_CHANNEL_COUNT:
        return Number("channels", "channels", std::to_string(state.channelCount));
    case CMD_POWER_MAX:
        return Number("power_max_dbm", "power max", PowerText(state.powerMax), "dBm");
    case CMD_POWER_MIN:
        return Number("power_min_dbm", "power min", PowerText(state.powerMin), "dBm");
    case CMD_FIRST_FREQ:
        return Number("first_frequency_ghz", "first frequency",
                      std::to_string(state.firstFrequency), "GHz");
    default: return Number("grid_ghz", "grid", std::to_string(state.grid), "GHz");
    }
}

void Append(Fields& to, const Fields& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

class Tool {
public:
    Tool(const Options& options, Port& port, Clock& clock, std::ostream& out, std::ostream& err)
        : options(options), port(port), clock(clock), out(out), err(err),
          exchange(port, clock, options.timeoutMs)
    {}

    ~Tool() { port.Close(); }

    int Run()
    {
        if (options.command == Command::Ports)
            return Ports();
        if (options.command == Command::Sweep || options.command == Command::Monitor)
            clock.CatchStop();
        if (options.command == Command::Serve) {
            // Serve catches Ctrl-C in its own event loop.
            return RunServe(options.serve, options.timeoutMs, PortPath(), portName, port, clock,
                            err);
        }
        int code = Open();
        if (code != EXIT_OK)
            return code;
        switch (options.command) {
        case Command::Info: return Info();
        case Command::Channel: return SetChannel();
        case Command::Power: return SetPower();
        case Command::Output: return SetOutput();
        case Command::Sweep: return Sweep();
        default: return Monitor();
        }
    }

private:
    void Note(const std::string& message)
    {
        err << "zorvane-ctl: " << message << "\n";
        err.flush();
    }

    int Fail(int code, const std::string& message)
    {
        Note(message);
        return code;
    }

    // Failures of the line and of the module, named after the port.
    int PortFail(int code, const std::string& message)
    {
        return Fail(code, portName + ": " + message);
    }

    void Emit(const Fields& fields, bool block = false)
    {
        if (options.json)
            out << JsonLine(fields) << "\n";
        else
            out << (block ? HumanBlock(fields) : HumanLine(fields) + "\n");
        out.flush();
    }

    Field Now() { return {"time", "", IsoTime(clock.WallMs()), "", FieldKind::Text}; }

    int Ports()
    {
        std::vector<std::string> ports = port.List();
        for (const std::string& name : ports)
            Emit({{"port", "", name, "", FieldKind::Text}});
        if (ports.empty() && !options.json)
            Note("no serial ports found");
        return EXIT_OK;
    }

    // The device path of -p; names the port for messages too.
    std::string PortPath()
    {
        int number = 0;
        std::string path =
            ParsePortNumber(options.port, number) ? port.NumberedPath(number) : options.port;
        portName = path == options.port ? path : options.port + " (" + path + ")";
        return path;
    }

    int Open()
    {
        std::string path = PortPath();
        std::string error;
        if (!port.Open(path, error))
            return PortFail(EXIT_USAGE, error);
        return EXIT_OK;
    }

    // Failures of a question to the module, named after the port.
    int LinkFail(LinkResult result, const std::string& error)
    {
        return result == LinkResult::Answered ? EXIT_OK : PortFail(ExitStatus(result), error);
    }

    int Read(uint8_t until)
    {
        std::string error;
        LinkResult result = exchange.ReadUntil(until, error);
        return LinkFail(result, error);
    }

    int Info()
    {
        int code = Read(STAGE_READY);
        if (code != EXIT_OK)
            return code;
        const DeviceStateRecord& state = exchange.State();
        Fields fields = ChannelFields(state);
        Append(fields, PowerFields(state));
        Append(fields, OutputFields(state));
        for (uint8_t limit :
             {CMD_CHANNEL_COUNT, CMD_POWER_MIN, CMD_POWER_MAX, CMD_FIRST_FREQ, CMD_GRID})
            fields.push_back(LimitField(limit, state));
        Emit(fields, true);
        return EXIT_OK;
    }

    // Nothing outside the module's range is ever sent: a module without one gets nothing.
    int CheckRange(uint8_t code)
    {
        const DeviceStateRecord& state = exchange.State();
        if (code == CMD_CHANNEL && state.channelCount == 0)
            return PortFail(EXIT_REFUSED, "the module reports no channels (channel count 0)");
        if (code == CMD_POWER && state.powerMin > state.powerMax)
            return PortFail(EXIT_REFUSED, "the module's power range is empty (min " +
                                              PowerText(state.powerMin) + " dBm above max " +
                                              PowerText(state.powerMax) + " dBm)");
        return EXIT_OK;
    }

    uint8_t ClampChannel(double value, const char* what)
    {
        const DeviceStateRecord& state = exchange.State();
        uint8_t channel = ChannelFromNumber(value, state.channelCount);
        if (channel != value)
            Note(std::string(what) + " " + Trimmed(value) + " taken as " + std::to_string(channel) +
                 " (range 1-" + std::to_string(state.channelCount) + ")");
        return channel;
    }

    uint16_t ClampPower(double dBm, const char* what)
    {
        const DeviceStateRecord& state = exchange.State();
        uint16_t power = PowerFromNumber(dBm, state.powerMin, state.powerMax);
        if (std::fabs(dBm * 100.0 - power) >= 0.5)
            Note(std::string(what) + " " + Trimmed(dBm) + " dBm taken as " + PowerText(power) +
                 " dBm (range " + PowerText(state.powerMin) + "-" + PowerText(state.powerMax) +
                 " dBm)");
        return power;
    }

    static std::string Trimmed(double value)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", value);
        return text;
    }

    // Sends the value and checks the module's answer; the answer is then in the exchange.
    int Confirm(uint8_t code, uint16_t value)
    {
        std::string error;
        LinkResult result = exchange.Set(code, value, error);
        if (result != LinkResult::Answered)
            return LinkFail(result, error);
        uint16_t answer = SettingValue(exchange.State(), code);
        if (answer == value)
            return EXIT_OK;
        auto text = [code](uint16_t v) {
            return code == CMD_POWER    ? PowerText(v) + " dBm"
                   : code == CMD_OUTPUT ? (v ? "on" : "off")
                                        : std::to_string(v);
        };
        return PortFail(EXIT_REFUSED, "the module answered " + CodeName(code) + " " + text(answer) +
                                          " to " + text(value));
    }

    Fields AnswerFields(uint8_t code)
    {
        const DeviceStateRecord& state = exchange.State();
        if (code == CMD_CHANNEL)
            return ChannelFields(state);
        if (code == CMD_POWER)
            return PowerFields(state);
        return OutputFields(state);
    }

    int SetValue(uint8_t code, uint16_t value)
    {
        int status = Confirm(code, value);
        // The module's answer is shown even when it is not the value sent.
        if (status == EXIT_OK || status == EXIT_REFUSED)
            Emit(AnswerFields(code), true);
        return status;
    }

    int SetChannel()
    {
        int code = Read(STAGE_CHANNEL);
        if (code == EXIT_OK)
            code = CheckRange(CMD_CHANNEL);
        return code != EXIT_OK ? code
                               : SetValue(CMD_CHANNEL, ClampChannel(options.value, "channel"));
    }

    int SetPower()
    {
        int code = Read(STAGE_CHANNEL);
        if (code == EXIT_OK)
            code = CheckRange(CMD_POWER);
        return code != EXIT_OK ? code : SetValue(CMD_POWER, ClampPower(options.value, "power"));
    }

    int SetOutput() { return SetValue(CMD_OUTPUT, options.on ? 1 : 0); }

    // The values of one pass, from and to included when the step lands on them.
    std::vector<uint16_t> SweepValues()
    {
        const DeviceStateRecord& state = exchange.State();
        const SweepOptions& sweep = options.sweep;
        int64_t from, to, step;
        if (sweep.power) {
            from = sweep.from ? ClampPower(*sweep.from, "--from") : state.powerMin;
            to = sweep.to ? ClampPower(*sweep.to, "--to") : state.powerMax;
            step = sweep.step ? std::llround(*sweep.step * 100.0) : 100;
        } else {
            from = sweep.from ? ClampChannel(*sweep.from, "--from") : 1;
            to = sweep.to ? ClampChannel(*sweep.to, "--to") : state.channelCount;
            step = sweep.step ? static_cast<int64_t>(*sweep.step) : 1;
        }
        std::vector<uint16_t> values;
        int64_t direction = to >= from ? 1 : -1;
        for (int64_t v = from; direction > 0 ? v <= to : v >= to; v += direction * step)
            values.push_back(static_cast<uint16_t>(v));
        return values;
    }

    int Sweep()
    {
        const uint8_t code = options.sweep.power ? CMD_POWER : CMD_CHANNEL;
        int status = Read(STAGE_CHANNEL);
        if (status == EXIT_OK)
            status = CheckRange(code);
        if (status != EXIT_OK)
            return status;
        std::vector<uint16_t> values = SweepValues();
        long step = 0;
        for (long pass = 1; options.sweep.repeat == 0 || pass <= options.sweep.repeat; ++pass) {
            for (uint16_t value : values) {
                // Ctrl-C ends the sweep between steps, never inside one.
                if (clock.StopRequested())
                    return EXIT_OK;
                if (step > 0 && options.sweep.dwellMs > 0) {
                    clock.Pause(options.sweep.dwellMs);
                    if (clock.StopRequested())
                        return EXIT_OK;
                }
                status = Confirm(code, value);
                if (status != EXIT_OK)
                    return status;
                Fields fields = {Now(), Number("step", "step", std::to_string(++step)),
                                 Number("pass", "pass", std::to_string(pass))};
                Append(fields, AnswerFields(code));
                Emit(fields);
            }
        }
        return EXIT_OK;
    }

    void EmitInvalid(std::vector<uint8_t>& bytes, const char* reason)
    {
        if (bytes.empty())
            return;
        Emit({Now(),
              {"invalid", "invalid", HexBytes(bytes.data(), bytes.size()), "", FieldKind::Text},
              {"reason", "", reason, "", FieldKind::Text}});
        bytes.clear();
    }

    // The decoded value of a frame just applied to the monitor's state.
    Fields FrameFields(uint8_t code, const DeviceStateRecord& state, bool applied)
    {
        switch (code) {
        case CMD_CHANNEL: return {Number("channel", "channel", std::to_string(state.channel))};
        case CMD_POWER: return PowerFields(state);
        case CMD_OUTPUT:
            if (applied)
                return OutputFields(state);
            return {{"output", "output", "ignored: its data bytes disagree", "", FieldKind::Text}};
        default:
            if (code >= CMD_CHANNEL_COUNT && code <= CMD_GRID)
                return {LimitField(code, state)};
            return {Number("code", "unknown code", std::to_string(code))};
        }
    }

    int Monitor()
    {
        ResponseParserRecord parser;
        DeviceStateRecord state;
        std::vector<uint8_t> junk;
        const int64_t end = options.durationMs > 0 ? clock.NowMs() + options.durationMs : -1;
        while (!clock.StopRequested()) {
            int64_t slice = MONITOR_SLICE_MS;
            if (end >= 0) {
                if (clock.NowMs() >= end)
                    break;
                slice = std::min(slice, end - clock.NowMs());
            }
            uint8_t buffer[64];
            std::string error;
            int size = port.Read(buffer, sizeof buffer, slice, error);
            if (size < 0) {
                EmitInvalid(junk, "not a frame");
                return PortFail(EXIT_USAGE, error);
            }
            if (size == 0)
                EmitInvalid(junk, "not a frame");  // the line went quiet
            for (int i = 0; i < size; ++i) {
                switch (ScanResponseByte(parser, buffer[i])) {
                case ScanResult::Pending: break;
                case ScanResult::Skipped: junk.push_back(buffer[i]); break;
                case ScanResult::Abandoned:
                    junk.insert(junk.end(), parser.buffer, parser.buffer + 2);
                    break;
                case ScanResult::BadChecksum: {
                    EmitInvalid(junk, "not a frame");
                    std::vector<uint8_t> frame(parser.buffer, parser.buffer + FRAME_LENGTH);
                    EmitInvalid(frame, "bad checksum");
                    break;
                }
                case ScanResult::Frame: {
                    EmitInvalid(junk, "not a frame");
                    const DeviceFrame frame = ScannedFrame(parser);
                    bool applied = ApplyResponse(state, frame).code != 0;
                    Fields fields = {
                        Now(),
                        {"frame", "", HexBytes(frame.bytes, FRAME_LENGTH), "", FieldKind::Text}};
                    Append(fields, FrameFields(frame.bytes[2], state, applied));
                    Emit(fields);
                    break;
                }
                }
            }
        }
        EmitInvalid(junk, "not a frame");
        std::vector<uint8_t> partial(parser.buffer, parser.buffer + parser.index);
        EmitInvalid(partial, "incomplete frame");
        return EXIT_OK;
    }

    const Options& options;
    Port& port;
    Clock& clock;
    std::ostream& out;
    std::ostream& err;
    Exchange exchange;
    std::string portName;
};

}  // namespace

int RunTool(const std::vector<std::string>& args, Port& port, Clock& clock, std::ostream& out,
            std::ostream& err)
{
    Options options;
    std::string text;
    switch (ParseArgs(args, options, text)) {
    case Parsed::UsageError:
        err << "zorvane-ctl: " << text << " (see zorvane-ctl --help)\n";
        return EXIT_USAGE;
    case Parsed::Help: out << text; return EXIT_OK;
    default: return Tool(options, port, clock, out, err).Run();
    }
}
