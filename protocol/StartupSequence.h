// The queries that read a freshly opened module, one per start-up tick.
#pragma once
#include <cstdint>
#include "DeviceFrame.h"

// The query to send at this stage, or nullptr (STAGE_READY, unknown values).
const DeviceFrame* StartupQuery(uint8_t stage);
