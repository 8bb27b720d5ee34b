// Reassembly of response frames from single received bytes, and their effects.
#pragma once
#include <cstdint>
#include "protocol/DeviceFrame.h"
#include "protocol/DeviceState.h"
#include "protocol/Display.h"

struct ResponseParserRecord {
    uint8_t buffer[FRAME_LENGTH] = {0, 0, 0, 0, 0, 0};
    uint8_t index = 0;
    uint8_t sum = 0;
};

extern ResponseParserRecord ResponseParser;

// What one byte did to the accumulator. The dropped bytes of Abandoned (2) and
// BadChecksum (6) are at the start of parser.buffer; a Frame's six bytes are all there.
enum class ScanResult : uint8_t {
    Pending,      // kept: the frame is not complete yet
    Skipped,      // dropped: not 0x01 where a frame would start
    Abandoned,    // byte 1 was not 0x01: it and the 0x01 before it are dropped
    BadChecksum,  // the sixth byte did not match: the whole frame is dropped
    Frame,        // a complete response with a correct checksum
};

// Runs the accumulator on one byte, whatever its port; applies nothing.
ScanResult ScanResponseByte(ResponseParserRecord& parser, uint8_t byte);

// Applies one valid response frame by its code: stores the value, updates the display,
// advances the start-up stage. Returns the code applied, or 0 when the frame changed
// nothing (an unknown code, an output answer whose data bytes disagree).
uint8_t ApplyResponse(DeviceStateRecord& state, const DeviceFrame& frame, Display& display);

// Takes one byte received from a port; drops bytes from any port but state.openPort.
// Applies a completed valid frame. Returns the parser's index after the byte.
int FeedResponseByte(ResponseParserRecord& parser, DeviceStateRecord& state, Display& display,
                     uint8_t byte, long port);
