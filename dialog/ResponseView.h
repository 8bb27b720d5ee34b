// What the window shows of each response: its labels, edits, sliders and the output
// caption, drawn from the module's record after the response was applied.
#pragma once
#include <cstdint>
#include "Display.h"
#include "protocol/DeviceState.h"
#include "protocol/ResponseParser.h"

// Shows what the change did to the record; nothing when nothing changed.
void RenderResponse(const ResponseChange& change, const DeviceStateRecord& state, Display& display);

// Takes one byte received from a port; drops bytes from any port but state.openPort.
// Applies and shows a completed valid frame. Returns the parser's index after the byte.
int FeedResponseByte(ResponseParserRecord& parser, DeviceStateRecord& state, Display& display,
                     uint8_t byte, long port);
