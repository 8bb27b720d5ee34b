#include "protocol/StartupSequence.h"

namespace {

// The start-up reads one value per stage, in this order.
struct StartupStep {
    uint8_t stage;
    uint8_t code;  // asked for at this stage; its answer moves on to the next stage
    uint8_t next;
};

constexpr StartupStep steps[] = {
    {STAGE_IDLE, CMD_CHANNEL_COUNT, STAGE_POWER_MAX},
    {STAGE_POWER_MAX, CMD_POWER_MAX, STAGE_POWER_MIN},
    {STAGE_POWER_MIN, CMD_POWER_MIN, STAGE_FIRST_FREQ},
    {STAGE_FIRST_FREQ, CMD_FIRST_FREQ, STAGE_GRID},
    {STAGE_GRID, CMD_GRID, STAGE_CHANNEL},
    {STAGE_CHANNEL, CMD_CHANNEL, STAGE_POWER},
    {STAGE_POWER, CMD_POWER, STAGE_OUTPUT},
    {STAGE_OUTPUT, CMD_OUTPUT, STAGE_READY},
};

const StartupStep* FindStep(uint8_t stage)
{
    for (const StartupStep& step : steps) {
        if (step.stage == stage)
            return &step;
    }
    return nullptr;
}

}  // namespace

const DeviceFrame* StartupQuery(uint8_t stage)
{
    const StartupStep* step = FindStep(stage);
    return step ? &queryFrames[step->code - 1] : nullptr;
}

uint8_t StageAfterResponse(uint8_t stage, uint8_t code)
{
    const StartupStep* step = FindStep(stage);
    return step && step->code == code ? step->next : stage;
}
