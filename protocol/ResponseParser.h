// Reassembly of response frames from single received bytes, and their effects.
#pragma once
#include <cstdint>
#include "DeviceFrame.h"
#include "DeviceState.h"
#include "Display.h"

struct ResponseParserRecord {
    uint8_t buffer[FRAME_LENGTH] = {0, 0, 0, 0, 0, 0};
    uint8_t index = 0;
    uint8_t sum = 0;
};

extern ResponseParserRecord ResponseParser;

// Applies one valid response frame by its code: stores the value, updates the display,
// advances the start-up stage.
void ApplyResponse(DeviceStateRecord& state, const DeviceFrame& frame, Display& display);

// Takes one byte received from a port; drops bytes from any port but state.openPort.
// Applies a completed valid frame. Returns the parser's index after the byte.
int FeedResponseByte(ResponseParserRecord& parser, DeviceStateRecord& state, Display& display,
                     uint8_t byte, long port);
