// The queries that read a freshly opened module, one per start-up tick.
#pragma once
#include <cstdint>
#include "protocol/DeviceFrame.h"
#include "protocol/DeviceState.h"

// Whether the start-up has read the module: its limits, and its channel, power and output.
// Until then nothing may be sent to change it: every value it would be given rests on
// values not read yet.
inline bool ModuleRead(uint8_t stage)
{
    return stage == STAGE_READY;
}

// The query to send at this stage, or nullptr (STAGE_READY, unknown values).
const DeviceFrame* StartupQuery(uint8_t stage);

// The stage after a valid response of this code: the next one when the stage awaits that
// code, the same stage otherwise.
uint8_t StageAfterResponse(uint8_t stage, uint8_t code);
