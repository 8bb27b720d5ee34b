#include "protocol/DeviceState.h"
#include "protocol/DeviceFrame.h"

// Every member has a constant initialiser, so the record is ready before any constructor runs.
DeviceStateRecord DeviceState;

uint16_t SettingValue(const DeviceStateRecord& state, uint8_t code)
{
    switch (code) {
    case CMD_CHANNEL: return state.channel;
    case CMD_POWER: return state.power;
    default: return state.outputOn;
    }
}
