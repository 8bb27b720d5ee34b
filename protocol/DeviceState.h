// The program's record of the module's values and of the connection.
#pragma once
#include <cstdint>

enum StartupStage : uint8_t {
    STAGE_IDLE = 0,
    STAGE_READY = 1,
    STAGE_POWER_MAX = 2,
    STAGE_POWER_MIN = 3,
    STAGE_FIRST_FREQ = 4,
    STAGE_GRID = 5,
    STAGE_CHANNEL = 6,
    STAGE_POWER = 7,
    STAGE_OUTPUT = 8,
};

struct DeviceStateRecord {
    uint8_t channel = 1;
    uint8_t channelCount = 0;
    uint16_t power = 0;               // 0.01 dBm
    uint16_t powerMax = 0;            // 0.01 dBm
    uint16_t powerMin = 0;            // 0.01 dBm
    int32_t firstFrequency = 191250;  // GHz
    int16_t grid = 0;                 // GHz
    int32_t frequency = 0;            // GHz
    double wavelength = 0.0;          // nm
    char ituLabel[4] = {0, 0, 0, 0};
    uint8_t outputOn = 0;
    uint8_t portOpen = 0;
    uint8_t openPort = 0;
    uint8_t stage = STAGE_IDLE;
};

// The one process-wide instance, used by the window. Tests make their own.
extern DeviceStateRecord DeviceState;

// The value the record holds for a setting: the channel, the power, or the output (0 or 1)
// for any other code. After a set, the module's answer to compare with the value sent.
uint16_t SettingValue(const DeviceStateRecord& state, uint8_t code);
