#include "protocol/ResponseParser.h"
#include "protocol/FrequencyLabel.h"
#include "protocol/StartupSequence.h"

ResponseParserRecord ResponseParser;

namespace {

uint16_t Data16(const DeviceFrame& frame)
{
    return static_cast<uint16_t>(frame.bytes[3] << 8 | frame.bytes[4]);
}

void StoreChannel(DeviceStateRecord& state, uint8_t channel)
{
    state.channel = channel;
    state.frequency = ChannelFrequency(state.firstFrequency, state.grid, state.channel);
    state.wavelength = Wavelength(state.frequency);
    UpdateItuLabel(state.frequency, state.ituLabel);
}

}  // namespace

ResponseChange ApplyResponse(DeviceStateRecord& state, const DeviceFrame& frame)
{
    ResponseChange change;
    change.code = frame.bytes[2];
    switch (change.code) {
    case CMD_CHANNEL:
        StoreChannel(state, frame.bytes[4]);
        change.value = state.channel;
        break;
    case CMD_POWER: change.value = state.power = Data16(frame); break;
    case CMD_OUTPUT:
        // Both data bytes carry the state. When they disagree the state is unknown and the
        // answer changes nothing, not even the start-up stage: the next tick asks again.
        if ((frame.bytes[3] != 0) != (frame.bytes[4] != 0))
            return ResponseChange();
        change.value = state.outputOn = frame.bytes[3] != 0 ? 1 : 0;
        break;
    case CMD_CHANNEL_COUNT: change.value = state.channelCount = frame.bytes[4]; break;
    case CMD_POWER_MAX: change.value = state.powerMax = Data16(frame); break;
    case CMD_POWER_MIN: change.value = state.powerMin = Data16(frame); break;
    case CMD_FIRST_FREQ: change.value = state.firstFrequency = 180000 + Data16(frame); break;
    case CMD_GRID: change.value = state.grid = static_cast<int16_t>(Data16(frame)); break;
    default: return ResponseChange();
    }

    // Answers that arrive out of turn, or again after the stage moved on, leave it alone.
    const uint8_t next = StageAfterResponse(state.stage, change.code);
    if (next != state.stage) {
        state.stage = next;
        change.startupFinished = next == STAGE_READY;
    }
    return change;
}

ScanResult ScanResponseByte(ResponseParserRecord& parser, uint8_t byte)
{
    parser.buffer[parser.index] = byte;
    switch (parser.index) {
    case 0:
        if (byte != 0x01)
            return ScanResult::Skipped;
        parser.index = 1;
        return ScanResult::Pending;
    case 1:
        // A wrong second byte abandons the frame; it is not retried as a first byte.
        if (byte != 0x01) {
            parser.index = 0;
            return ScanResult::Abandoned;
        }
        parser.index = 2;
        parser.sum = 0x01 + 0x01;
        return ScanResult::Pending;
    case 2:
    case 3:
    case 4:
        parser.sum = static_cast<uint8_t>(parser.sum + byte);
        ++parser.index;
        return ScanResult::Pending;
    default:
        parser.index = 0;
        return byte == parser.sum ? ScanResult::Frame : ScanResult::BadChecksum;
    }
}

DeviceFrame ScannedFrame(const ResponseParserRecord& parser)
{
    DeviceFrame frame;
    for (int i = 0; i < FRAME_LENGTH; ++i)
        frame.bytes[i] = parser.buffer[i];
    return frame;
}
