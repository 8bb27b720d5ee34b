// Reassembly of response frames from single received bytes, and what each changes in the
// module's record. Nothing is shown here: the window, the tool and the server each show the
// record their own way.
#pragma once
#include <cstdint>
#include "protocol/DeviceFrame.h"
#include "protocol/DeviceState.h"

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

// The six bytes of the frame the accumulator has just completed.
DeviceFrame ScannedFrame(const ResponseParserRecord& parser);

// What one response changed in the record.
struct ResponseChange {
    uint8_t code = 0;              // the code applied; 0 when the frame changed nothing
    int32_t value = 0;             // the value stored for it, as the record holds it
    bool startupFinished = false;  // this answer completed the start-up
};

// Applies one valid response frame by its code: stores the value (a channel also its
// frequency, wavelength and label) and advances the start-up stage. Nothing changes for
// an unknown code or an output answer whose data bytes disagree.
ResponseChange ApplyResponse(DeviceStateRecord& state, const DeviceFrame& frame);
