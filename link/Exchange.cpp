#include "link/Exchange.h"
#include "protocol/StartupSequence.h"

void ShownValues::SetText(DisplayText item, const char* value)
{
    text[static_cast<int>(item)] = value;
}

std::string CodeName(uint8_t code)
{
    static const char* const names[] = {"channel",         "power",     "output",
                                        "channel count",   "power max", "power min",
                                        "first frequency", "grid"};
    if (code >= 1 && code <= 8)
        return names[code - 1];
    return "code " + std::to_string(code);
}

Exchange::Exchange(Port& port, Clock& clock, int64_t timeoutMs)
    : port(port), clock(clock), timeoutMs(timeoutMs)
{
    // The parser of the window drops bytes of any port but the open one: ours is "1".
    state.openPort = 1;
    state.portOpen = 1;
}

int Exchange::ReadUntil(uint8_t until, std::string& error)
{
    state.stage = STAGE_IDLE;
    while (state.stage != until && state.stage != STAGE_READY) {
        const uint8_t stage = state.stage;
        const DeviceFrame* query = StartupQuery(stage);
        int code = Ask(*query, CodeName(query->bytes[2]) + " query", error);
        if (code != EXIT_OK)
            return code;
    }
    return EXIT_OK;
}

int Exchange::Set(uint8_t code, uint16_t value, std::string& error)
{
    DeviceFrame frame;
    switch (code) {
    case CMD_CHANNEL:
        frame = setChannelFrame;
        FillSetChannel(frame, static_cast<uint8_t>(value));
        break;
    case CMD_POWER:
        frame = setPowerFrame;
        FillSetPower(frame, value);
        break;
    default:
        frame = setOutputFrame;
        FillSetOutput(frame, value != 0 ? 1 : 0);
        break;
    }
    return Ask(frame, CodeName(code) + " setting", error);
}

int Exchange::Query(uint8_t code, std::string& error)
{
    if (code < CMD_CHANNEL || code > CMD_GRID) {
        error = "no query of " + CodeName(code);
        return EXIT_USAGE;
    }
    return Ask(queryFrames[code - 1], CodeName(code) + " query", error);
}

int Exchange::Ask(const DeviceFrame& frame, const std::string& what, std::string& error)
{
    invalidBytes = 0;
    for (int attempt = 0; attempt < MAX_TRIES; ++attempt) {
        // Whatever came before the question cannot be its answer; a frame half-read then
        // cannot be completed either.
        if (!port.Discard(error))
            return EXIT_USAGE;
        parser = ResponseParserRecord();
        if (!port.Write(frame.bytes, FRAME_LENGTH, error))
            return EXIT_USAGE;
        bool done = false;
        int code = Await(frame.bytes[2], done, error);
        if (code != EXIT_OK || done)
            return code;
    }
    error = "no answer to the " + what + " after " + std::to_string(MAX_TRIES) + " tries";
    if (invalidBytes > 0)
        error += " (" + std::to_string(invalidBytes) + " bytes received formed no valid frame)";
    return EXIT_SILENT;
}

int Exchange::Await(uint8_t code, bool& done, std::string& error)
{
    const int64_t deadline = clock.NowMs() + timeoutMs;
    for (int64_t left = timeoutMs; left > 0; left = deadline - clock.NowMs()) {
        uint8_t buffer[64];
        int size = port.Read(buffer, sizeof buffer, left, error);
        if (size < 0)
            return EXIT_USAGE;
        for (int i = 0; i < size; ++i) {
            switch (ScanResponseByte(parser, buffer[i])) {
            case ScanResult::Frame: {
                DeviceFrame frame;
                for (int k = 0; k < FRAME_LENGTH; ++k)
                    frame.bytes[k] = parser.buffer[k];
                // Bytes after the answer in the same read are applied too: the module's last
                // word counts, as in the window.
                if (ApplyResponse(state, frame, shown) == code)
                    done = true;
                break;
            }
            case ScanResult::Skipped: invalidBytes += 1; break;
            case ScanResult::Abandoned: invalidBytes += 2; break;
            case ScanResult::BadChecksum: invalidBytes += FRAME_LENGTH; break;
            case ScanResult::Pending: break;
            }
        }
        if (done)
            return EXIT_OK;
    }
    return EXIT_OK;
}
